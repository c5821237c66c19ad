// Colour lookups: the nearest entry of any palette, and the arithmetic ones of the web
// cube, the grey ramp and black and white.
#include <algorithm>
#include <cstdlib>

#include "gif_glue.h"
#include "gif_reduce.h"

TColorLookup::TColorLookup(const TPalette*) {}

TColorLookupClass GenericLookupClass =
    [](const TPalette* Palette) -> std::unique_ptr<TColorLookup> {
  return std::make_unique<TSlowColorLookup>(Palette);
};

// ---------------------------------------------------------------------------------------

void TSlowColorLookup::TCacheFree::operator()(uint16_t* p) const {
  std::free(p);
}

TSlowColorLookup::TSlowColorLookup(const TPalette* Palette) : TColorLookup(Palette) {
  if (!Palette || Palette->Count() == 0) return;
  const int count = std::min(Palette->Count(), 256);
  FPaletteEntries.assign(Palette->Entries().begin(), Palette->Entries().begin() + count);
  FColors = count;
  FOrder.resize(size_t(count));
  for (int i = 0; i < count; ++i) FOrder[size_t(i)] = uint8_t(i);
  std::stable_sort(FOrder.begin(), FOrder.end(), [this](uint8_t a, uint8_t b) {
    return FPaletteEntries[a].peGreen < FPaletteEntries[b].peGreen;
  });
  FSortedGreen.resize(size_t(count));
  for (int i = 0; i < count; ++i)
    FSortedGreen[size_t(i)] = FPaletteEntries[FOrder[size_t(i)]].peGreen;
  // The table is calloc'ed: only the pages of colours really met are ever touched.
  FCache.reset(static_cast<uint16_t*>(std::calloc(size_t(1) << 24, sizeof(uint16_t))));
}

TSlowColorLookup::~TSlowColorLookup() = default;

int TSlowColorLookup::Search(int Red, int Green, int Blue) const {
  // Walk outwards from the entries of the nearest green; a side ends once its green
  // distance alone is beyond the best match (equal may still win on a lower index).
  const int n = FColors;
  int hi =
      int(std::lower_bound(FSortedGreen.begin(), FSortedGreen.end(), Green) - FSortedGreen.begin());
  int lo = hi - 1;
  int best = 0, bestDist = 1 << 30;
  auto consider = [&](int pos) {
    const int index = FOrder[size_t(pos)];
    const TPaletteEntry& e = FPaletteEntries[size_t(index)];
    const int dr = e.peRed - Red, dg = e.peGreen - Green, db = e.peBlue - Blue;
    const int d = dr * dr + dg * dg + db * db;
    if (d < bestDist || (d == bestDist && index < best)) {
      bestDist = d;
      best = index;
    }
  };
  while (lo >= 0 || hi < n) {
    if (hi < n) {
      const int dg = FSortedGreen[size_t(hi)] - Green;
      if (dg * dg > bestDist)
        hi = n;
      else
        consider(hi++);
    }
    if (lo >= 0) {
      const int dg = Green - FSortedGreen[size_t(lo)];
      if (dg * dg > bestDist)
        lo = -1;
      else
        consider(lo--);
    }
  }
  return best;
}

int TSlowColorLookup::Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) {
  if (FColors == 0) {
    R = G = B = 0;
    return 0;
  }
  int index;
  if (FCache) {
    uint16_t& slot = FCache.get()[(uint32_t(Red) << 16) | (uint32_t(Green) << 8) | uint32_t(Blue)];
    if (slot == 0) slot = uint16_t(Search(Red, Green, Blue) + 1);
    index = slot - 1;
  } else {
    // Without memory for the table every colour is searched; the answer is the same.
    index = Search(Red, Green, Blue);
  }
  const TPaletteEntry& e = FPaletteEntries[size_t(index)];
  R = e.peRed;
  G = e.peGreen;
  B = e.peBlue;
  return index;
}

// ---------------------------------------------------------------------------------------

TNetscapeColorLookup::TNetscapeColorLookup(const TPalette* Palette) : TColorLookup(Palette) {
  FColors = 216;
}

int TNetscapeColorLookup::Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) {
  const int r = (Red + 3) / 51, g = (Green + 3) / 51, b = (Blue + 3) / 51;
  R = 51 * r;
  G = 51 * g;
  B = 51 * b;
  return 36 * r + 6 * g + b;
}

TGrayScaleLookup::TGrayScaleLookup(const TPalette* Palette) : TColorLookup(Palette) {
  FColors = 256;
}

int TGrayScaleLookup::Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) {
  const int index = (29 * Blue + 150 * Green + 77 * Red) >> 8;
  R = G = B = index;
  return index;
}

TMonochromeLookup::TMonochromeLookup(const TPalette* Palette) : TColorLookup(Palette) {
  FColors = 2;
}

int TMonochromeLookup::Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) {
  if (29 * Blue + 150 * Green + 77 * Red > 32512) {
    R = G = B = 255;
    return 1;
  }
  R = G = B = 0;
  return 0;
}
