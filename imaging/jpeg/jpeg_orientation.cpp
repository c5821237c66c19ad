// Turning decoded pixels upright by their Exif orientation. Each of the eight values is a
// linear map from a destination pixel to a source pixel, so one loop serves them all: the
// source address starts at the pixel that lands at the destination's top-left corner and
// moves by a fixed step per destination column and per destination row.
#include <cstring>

#include "jpeg.h"

namespace {

// Where the walk through the source starts and how it moves, in bytes.
struct TSourceWalk {
  ptrdiff_t Start;
  ptrdiff_t ColumnStep;  // per destination pixel to the right
  ptrdiff_t RowStep;     // per destination row down
};

// The source pixel (sx, sy) of destination pixel (dx, dy), for a source w x h:
//   normal (dx, dy)  mirrored (w-1-dx, dy)  half turn (w-1-dx, h-1-dy)  flipped (dx, h-1-dy)
//   transposed (dy, dx)  quarter right (dy, h-1-dx)  transverse (w-1-dy, h-1-dx)
//   quarter left (w-1-dy, dx)
TSourceWalk WalkFor(TExifOrientation o, int w, int h, ptrdiff_t pixel, ptrdiff_t row) {
  const ptrdiff_t right = ptrdiff_t(w - 1) * pixel;  // offset of the last column
  const ptrdiff_t bottom = ptrdiff_t(h - 1) * row;   // offset of the last row
  switch (o) {
    case eoMirrored:
      return {right, -pixel, row};
    case eoHalfTurn:
      return {bottom + right, -pixel, -row};
    case eoFlipped:
      return {bottom, pixel, -row};
    case eoTransposed:
      return {0, row, pixel};
    case eoQuarterRight:
      return {bottom, -row, pixel};
    case eoTransverse:
      return {bottom + right, -row, -pixel};
    case eoQuarterLeft:
      return {right, row, -pixel};
    case eoNormal:
    default:
      return {0, pixel, row};
  }
}

bool SwapsSides(TExifOrientation o) {
  return o == eoTransposed || o == eoQuarterRight || o == eoTransverse || o == eoQuarterLeft;
}

// Copies pixels of `bytes` bytes each along the walk into the destination rows.
void TurnPixels(const uint8_t* source, const TSourceWalk& walk, size_t bytes, uint8_t* dest,
                ptrdiff_t destRowStep, int destWidth, int destHeight) {
  for (int y = 0; y < destHeight; ++y) {
    const uint8_t* s = source + walk.Start + ptrdiff_t(y) * walk.RowStep;
    uint8_t* d = dest + ptrdiff_t(y) * destRowStep;
    for (int x = 0; x < destWidth; ++x, s += walk.ColumnStep, d += bytes) std::memcpy(d, s, bytes);
  }
}

ptrdiff_t RowStepOf(TBitmap& bitmap) {
  return bitmap.Height() > 1 ? bitmap.GetScanline(1) - bitmap.GetScanline(0) : 0;
}

}  // namespace

std::unique_ptr<TBitmap> OrientedBitmap(TBitmap& source, TExifOrientation orientation) {
  // Whole-byte pixels only; the rare others are widened on a copy first.
  TBitmap widened;
  TBitmap* from = &source;
  const int bits = source.BitCount();
  if (bits != 8 && bits != 24 && bits != 32) {
    widened.Assign(source);
    widened.SetPixelFormat(pf24bit);
    from = &widened;
  }
  const int w = from->Width();
  const int h = from->Height();
  auto result = std::make_unique<TBitmap>();
  result->SetPixelFormat(from->PixelFormat());
  if (from->BitCount() == 8) result->SetColorTable(from->ColorTable());
  result->SetAlphaFormat(from->AlphaFormat());
  if (SwapsSides(orientation))
    result->SetSize(h, w);
  else
    result->SetSize(w, h);
  if (result->Empty()) return result;
  const size_t bytes = size_t(from->BitCount() / 8);
  const TSourceWalk walk = WalkFor(orientation, w, h, ptrdiff_t(bytes), RowStepOf(*from));
  TurnPixels(from->GetScanline(0), walk, bytes, result->GetScanline(0), RowStepOf(*result),
             result->Width(), result->Height());
  return result;
}

void UprightPicture(TPicture& picture) {
  auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic());
  if (jpeg == nullptr) return;
  const TExifOrientation orientation = ExifOrientation(*jpeg);
  if (orientation == eoNormal) return;
  TBitmap* decoded = jpeg->Bitmap();
  if (decoded == nullptr || decoded->Empty()) return;
  picture.SetGraphicOwned(OrientedBitmap(*decoded, orientation));
}
