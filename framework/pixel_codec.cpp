#include "pixel_codec.h"

namespace pixelcodec {

Bgra RawToBgra(uint32_t raw, const TPixelView& v, const TBltColors& colors) {
  switch (v.BitCount) {
    case 1:
    case 4:
    case 8: {
      if (IsMask(v)) return BgraOfColor(raw ? colors.BkColor : colors.TextColor);
      if (!v.Colors || int(raw) >= v.ColorCount) return 0;
      const TRGBQuad& q = v.Colors[raw];
      return Bgra(q.rgbBlue) | (Bgra(q.rgbGreen) << 8) | (Bgra(q.rgbRed) << 16);
    }
    case 15:
      return Bgra(Expand5(raw & 31)) | (Bgra(Expand5((raw >> 5) & 31)) << 8) |
             (Bgra(Expand5((raw >> 10) & 31)) << 16);
    case 16:
      return Bgra(Expand5(raw & 31)) | (Bgra(Expand6((raw >> 5) & 63)) << 8) |
             (Bgra(Expand5((raw >> 11) & 31)) << 16);
    case 24:
      return raw & 0xFFFFFF;
    default:
      return raw;
  }
}

int NearestTableIndex(const TRGBQuad* colors, int count, Bgra color) {
  int b = int(color & 0xFF), g = int((color >> 8) & 0xFF), r = int((color >> 16) & 0xFF);
  int best = 0, bestDist = 1 << 30;
  for (int i = 0; i < count; ++i) {
    int db = colors[i].rgbBlue - b, dg = colors[i].rgbGreen - g, dr = colors[i].rgbRed - r;
    int d = dr * dr + dg * dg + db * db;
    if (d < bestDist) {
      bestDist = d;
      best = i;
      if (d == 0) break;
    }
  }
  return best;
}

TColorMatcher::TColorMatcher(const TPixelView& dst, const TBltColors& colors)
    : FBitCount(dst.BitCount),
      FColors(dst.Colors),
      FColorCount(dst.ColorCount),
      FMask(IsMask(dst)),
      FMaskBk(BgraOfColor(colors.BkColor)) {}

uint32_t TColorMatcher::ToRaw(Bgra color) {
  switch (FBitCount) {
    case 1:
    case 4:
    case 8: {
      if (FMask) return (color & 0xFFFFFF) == FMaskBk ? 1 : 0;
      uint32_t key = color & 0xFFFFFF;
      auto it = FCache.find(key);
      if (it != FCache.end()) return it->second;
      uint32_t index =
          FColors && FColorCount > 0 ? uint32_t(NearestTableIndex(FColors, FColorCount, key)) : 0;
      FCache.emplace(key, index);
      return index;
    }
    case 15:
      return ((color >> 3) & 31) | (((color >> 11) & 31) << 5) | (((color >> 19) & 31) << 10);
    case 16:
      return ((color >> 3) & 31) | (((color >> 10) & 63) << 5) | (((color >> 19) & 31) << 11);
    case 24:
      return color & 0xFFFFFF;
    default:
      return color;
  }
}

}  // namespace pixelcodec

TColor TPixelView::PixelColor(int x, int y) const {
  if (!Valid() || x < 0 || y < 0 || x >= Width || y >= Height) return clBlack;
  uint32_t raw = pixelcodec::ReadRaw(Row(y), x, BitCount);
  return pixelcodec::ColorOfBgra(pixelcodec::RawToBgra(raw, *this, TBltColors{}));
}
