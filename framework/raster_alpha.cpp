// Composition of premultiplied 32-bit pictures over a destination.
#include <algorithm>

#include "pixel_codec.h"

using namespace pixelcodec;

namespace {

// x * y / 255, rounded to nearest, without a division.
inline uint32_t MulDiv255(uint32_t x, uint32_t y) {
  uint32_t t = x * y + 128;
  return (t + (t >> 8)) >> 8;
}

inline void BlendPixel(uint8_t* d, const uint8_t* s, bool destHasAlpha) {
  uint32_t a = s[3];
  if (a == 0) return;
  uint32_t inv = 255 - a;
  d[0] = uint8_t(std::min<uint32_t>(255, s[0] + MulDiv255(d[0], inv)));
  d[1] = uint8_t(std::min<uint32_t>(255, s[1] + MulDiv255(d[1], inv)));
  d[2] = uint8_t(std::min<uint32_t>(255, s[2] + MulDiv255(d[2], inv)));
  if (destHasAlpha) d[3] = uint8_t(a + MulDiv255(d[3], inv));
}

std::vector<int> MapColumns(int dPos, int dLen, int sPos, int sLen, int dLimit, int sLimit,
                            int& firstDst) {
  std::vector<int> map;
  TRect dn = TRect{dPos, 0, dPos + dLen, 1}.Normalized();
  TRect sn = TRect{sPos, 0, sPos + sLen, 1}.Normalized();
  bool mirror = (dLen < 0) != (sLen < 0);
  int dw = dn.Width(), sw = sn.Width();
  if (dw == 0 || sw == 0) return map;
  int first = std::max(0, -dn.Left), last = std::min(dw, dLimit - dn.Left);
  firstDst = dn.Left + first;
  for (int i = first; i < last; ++i) {
    int j = int(int64_t(i) * sw / dw);
    if (mirror) j = sw - 1 - j;
    int s = sn.Left + j;
    map.push_back(s >= 0 && s < sLimit ? s : -1);
  }
  return map;
}

}  // namespace

void AlphaBlendPremultiplied(const TPixelView& dst, const TRect& dstRect, const TPixelView& src,
                             const TRect& srcRect) {
  if (!dst.Valid() || !src.Valid() || src.BitCount != 32) return;
  int x0 = 0, y0 = 0;
  std::vector<int> cols = MapColumns(dstRect.Left, dstRect.Width(), srcRect.Left, srcRect.Width(),
                                     dst.Width, src.Width, x0);
  std::vector<int> rows = MapColumns(dstRect.Top, dstRect.Height(), srcRect.Top, srcRect.Height(),
                                     dst.Height, src.Height, y0);
  if (cols.empty() || rows.empty()) return;
  const bool fast = dst.BitCount == 24 || dst.BitCount == 32;
  const int bpp = dst.BitCount / 8;
  TColorMatcher matcher(dst, TBltColors{});
  TBltColors noColors;
  for (size_t j = 0; j < rows.size(); ++j) {
    if (rows[j] < 0) continue;
    const uint8_t* srow = src.Row(rows[j]);
    uint8_t* drow = dst.Row(y0 + int(j));
    for (size_t i = 0; i < cols.size(); ++i) {
      if (cols[i] < 0) continue;
      const uint8_t* s = srow + 4 * cols[i];
      int x = x0 + int(i);
      if (fast) {
        BlendPixel(drow + bpp * x, s, bpp == 4);
        continue;
      }
      Bgra d = RawToBgra(ReadRaw(drow, x, dst.BitCount), dst, noColors);
      uint8_t px[4] = {uint8_t(d), uint8_t(d >> 8), uint8_t(d >> 16), 0};
      BlendPixel(px, s, false);
      WriteRaw(drow, x, dst.BitCount,
               matcher.ToRaw(Bgra(px[0]) | (Bgra(px[1]) << 8) | (Bgra(px[2]) << 16)));
    }
  }
}
