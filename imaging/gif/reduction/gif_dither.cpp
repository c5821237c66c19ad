// The base dither engine (nearest colour, serpentine walk), the error-limit table shared
// by the diffusing engines, the engine factory and the walk of one row.
#include <algorithm>

#include "gif_glue.h"
#include "gif_reduce.h"

TErrorLimit::TErrorLimit() {
  for (int i = -255; i <= 255; ++i) FValues[size_t(i + 255)] = i;
}

void TErrorLimit::Soften(int T1, int T2, int Max) {
  for (int e = 0; e <= 255; ++e) {
    const int v = e < T1 ? e : e < T2 ? T1 + (e - T1) / 2 : Max;
    FValues[size_t(255 + e)] = v;
    FValues[size_t(255 - e)] = -v;
  }
}

TDitherEngine::TDitherEngine(int AWidth, TColorLookup& Lookup)
    : FLookup(&Lookup), FWidth(std::max(AWidth, 0)) {}

void TDitherEngine::Reset() {
  FDirection = 1;
  FColumn = 0;
}

int TDitherEngine::Dither(int Red, int Green, int Blue, int& R, int& G, int& B) {
  const int index = FLookup->Lookup(Red, Green, Blue, R, G, B);
  NextColumn();
  return index;
}

void TDitherEngine::NextLine() {
  FDirection = -FDirection;
  FColumn = FDirection == 1 ? 0 : FWidth - 1;
}

std::unique_ptr<TDitherEngine> CreateDitherer(TDitherMode DitherMode, int Width,
                                              TColorLookup& Lookup) {
  switch (DitherMode) {
    case dmNearest:
      return std::make_unique<TDitherEngine>(Width, Lookup);
    case dmFloydSteinberg:
      return std::make_unique<TFloydSteinbergDitherer>(Width, Lookup);
    case dmStucki:
      return std::make_unique<TStuckiDitherer>(Width, Lookup);
    case dmSierra:
      return std::make_unique<TSierraDitherer>(Width, Lookup);
    case dmJaJuNI:
      return std::make_unique<TJaJuNiDitherer>(Width, Lookup);
    case dmSteveArche:
      return std::make_unique<TSteveArcheDitherer>(Width, Lookup);
    case dmBurkes:
      return std::make_unique<TBurkesDitherer>(Width, Lookup);
  }
  return nullptr;
}

void DitherRow(TDitherEngine& Ditherer, const uint8_t* Source, uint8_t* Dest) {
  const int width = Ditherer.Width(), step = Ditherer.Direction();
  int r, g, b;
  for (int x = Ditherer.Column(); x >= 0 && x < width; x += step) {
    const uint8_t* p = Source + ptrdiff_t(x) * 3;
    Dest[x] = uint8_t(Ditherer.Dither(p[2], p[1], p[0], r, g, b));
  }
  Ditherer.NextLine();
}
