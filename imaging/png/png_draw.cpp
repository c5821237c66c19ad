// Drawing a PNG image scaled into a rectangle of a canvas, in the way its transparency
// asks for: a plain stretched copy, a copy that keeps the canvas under one key colour, or
// a composition with per-pixel alpha.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

#include "png_draw_internal.h"
#include "png_internal.h"

namespace {

bool HasPixels(const TPngImage& image) {
  if (image.Empty() || !image.HasHeader()) return false;
  const TChunkIHDR& header = image.Header();
  return header.Width() > 0 && header.Height() > 0 && header.ImageData() != nullptr;
}

// What the composition needs of the image. Palette entries take the colour-table colour
// (already gamma-corrected) and the alpha of the tRNS chunk; an index past the palette
// shows its colour-table entry instead of failing half-way through a paint.
TAlphaSource MakeAlphaSource(const TPngImage& image) {
  const TChunkIHDR& header = image.Header();
  TAlphaSource s;
  s.Width = int(header.Width());
  s.Height = int(header.Height());
  s.BitsPerPixel = header.BitsPerPixel();
  s.Stride = -ptrdiff_t(header.BytesPerRow());
  s.TopRow = header.ImageData() + ptrdiff_t(header.BytesPerRow()) * (s.Height - 1);
  s.Alpha = header.ImageAlpha();
  if (s.BitsPerPixel == 24) {
    s.Kind = TAlphaSource::akRgbAlpha;
    return s;
  }
  if (header.ColorType() == COLOR_GRAYSCALEALPHA) {
    // The grey level of the stored index, without palette or gamma.
    s.Kind = TAlphaSource::akGreyAlpha;
    for (int i = 0; i < 256; ++i) {
      const uint8_t level = s.BitsPerPixel == 1   ? uint8_t(i ? 255 : 0)
                            : s.BitsPerPixel == 4 ? uint8_t((i & 15) * 17)
                                                  : uint8_t(i);
      s.IndexBlue[i] = s.IndexGreen[i] = s.IndexRed[i] = level;
    }
    return s;
  }
  s.Kind = TAlphaSource::akPaletteAlpha;
  s.Alpha = nullptr;
  const TChunktRNS* trns = image.Chunks().Find<TChunktRNS>();
  const auto& colors = header.BitmapInfo().bmiColors;
  for (int i = 0; i < 256; ++i) {
    s.IndexBlue[i] = colors[size_t(i)].rgbBlue;
    s.IndexGreen[i] = colors[size_t(i)].rgbGreen;
    s.IndexRed[i] = colors[size_t(i)].rgbRed;
    s.IndexAlpha[i] = trns ? trns->PaletteValues[size_t(i)] : 255;
  }
  return s;
}

// 1-bit mask of the source's size, top row first: 1 where the pixel has the key colour.
std::vector<uint8_t> BuildKeyMask(const TPixelView& source, TColor key, int width, int height,
                                  ptrdiff_t& stride) {
  stride = ptrdiff_t(DibStride(width, 1));
  CheckImageBudget(uint64_t(stride) * uint64_t(height));
  std::vector<uint8_t> mask(size_t(stride) * size_t(height), 0);
  const uint8_t keyB = GetBValue(key), keyG = GetGValue(key), keyR = GetRValue(key);
  bool indexIsKey[256] = {};
  if (source.BitCount <= 8)
    for (int i = 0; i < source.ColorCount && i < 256; ++i) {
      const TRGBQuad& q = source.Colors[i];
      indexIsKey[i] = q.rgbBlue == keyB && q.rgbGreen == keyG && q.rgbRed == keyR;
    }
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = source.Row(y);
    uint8_t* out = mask.data() + ptrdiff_t(y) * stride;
    for (int x = 0; x < width; ++x) {
      bool isKey;
      if (source.BitCount == 24) {
        const uint8_t* p = row + 3 * x;
        isKey = p[0] == keyB && p[1] == keyG && p[2] == keyR;
      } else if (source.BitCount == 8) {
        isKey = indexIsKey[row[x]];
      } else if (source.BitCount == 4) {
        isKey = indexIsKey[(row[x >> 1] >> ((~x & 1) << 2)) & 0xF];
      } else if (source.BitCount == 1) {
        isKey = indexIsKey[(row[x >> 3] >> (7 - (x & 7))) & 1];
      } else {
        isKey = (source.PixelColor(x, y) & 0xFFFFFF) == (key & 0xFFFFFF);
      }
      if (isKey) out[x >> 3] = uint8_t(out[x >> 3] | (0x80 >> (x & 7)));
    }
  }
  return mask;
}

int ClampToInt(long double v) {
  if (!(v > 0)) return 0;  // also NaN
  return v >= INT_MAX / 4 ? INT_MAX / 4 : int(v);
}

}  // namespace

void TPngImage::Draw(TCanvas& canvas, const TRect& rect) {
  if (!HasPixels(*this)) return;
  TChunkIHDR& header = Header();
  switch (TransparencyMode()) {
    case ptmBit:
      DrawColorKeyed(canvas.Handle(), header.ImageView(), TransparentColor() & 0xFFFFFF, rect);
      break;
    case ptmPartial:
      DrawWithAlpha(canvas.Handle(), rect);
      break;
    default: {
      // Colour-on-colour: dropped rows and columns are simply left out, no blending.
      canvas.StretchMode = smColorOnColor;
      const TRect all{0, 0, int(header.Width()), int(header.Height())};
      StretchBlt(canvas.View(), rect, header.ImageView(), all);
      break;
    }
  }
}

bool TPngImage::OpaquePixels(TPixelView& view) {
  // Draw's plain stretched copy reads exactly this view.
  if (!HasPixels(*this) || TransparencyMode() != ptmNone) return false;
  view = Header().ImageView();
  return view.Valid();
}

void TPngImage::DrawWithAlpha(TBitmap& target, const TRect& rect) {
  if (rect.Width() == 0 || rect.Height() == 0 || !HasPixels(*this)) return;
  // The image is not mirrored by a rectangle given right to left or bottom to top.
  ComposeAlpha(MakeAlphaSource(*this), target.View(), rect.Normalized());
}

// The rectangle is taken as given: a negative width or height mirrors, as the plain
// stretched copy does.
void TPngImage::DrawColorKeyed(TBitmap& target, const TPixelView& source, TColor key,
                               const TRect& rect) {
  if (rect.Width() == 0 || rect.Height() == 0 || !source.Valid()) return;
  const int width = std::abs(source.Width);
  const int height = std::abs(source.Height);
  ptrdiff_t stride = 0;
  std::vector<uint8_t> mask = BuildKeyMask(source, key, width, height, stride);
  const TPixelView maskView{mask.data(), stride, width, height, 1};
  StretchMaskedCopy(target.View(), rect, source, TRect{0, 0, width, height}, maskView);
}

// Draws at the size the pHYs chunk asks for on this screen. A resolution of 0 along an
// axis says nothing about that axis: the image keeps its own size there.
void TPngImage::DrawUsingPixelInformation(TCanvas& canvas, const TPoint& point) {
  int w = Width();
  int h = Height();
  if (HasPixelInformation()) {
    const TChunkpHYs& phys = PixelInformation();
    const long double screenX = ScreenPixelsPerInch() / 0.0254L;
    const long double screenY = ScreenPixelsPerInch() / 0.0254L;
    if (phys.PPUnitX() != 0) w = ClampToInt(std::trunc(Width() / (phys.PPUnitX() / screenX)));
    if (phys.PPUnitY() != 0) h = ClampToInt(std::trunc(Height() / (phys.PPUnitY() / screenY)));
  }
  const int64_t right = std::min<int64_t>(int64_t(point.X) + w, INT_MAX);
  const int64_t bottom = std::min<int64_t>(int64_t(point.Y) + h, INT_MAX);
  Draw(canvas, TRect{point.X, point.Y, int(right), int(bottom)});
}
