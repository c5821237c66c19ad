// Composition of premultiplied 32-bit pictures over a destination.
#include <algorithm>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Unscaled rows: two channels per multiply (blue and red in one word, green and alpha
// in another), with the pixel's own fast cases for clear and opaque source pixels.
inline uint32_t ScaleChannelPairs(uint32_t pairs, uint32_t factor) {
  uint32_t t = (pairs & 0x00FF00FF) * factor + 0x00800080;
  return ((t + ((t >> 8) & 0x00FF00FF)) >> 8) & 0x00FF00FF;
}

// s + d * (255 - alpha) / 255 per channel, saturated (premultiplied input may be invalid).
inline uint32_t Over(uint32_t s, uint32_t d) {
  const uint32_t inv = 255 - (s >> 24);
  uint32_t rb = (s & 0x00FF00FF) + ScaleChannelPairs(d, inv);
  uint32_t ag = ((s >> 8) & 0x00FF00FF) + ScaleChannelPairs(d >> 8, inv);
  rb |= ((rb & 0x01000100) - ((rb & 0x01000100) >> 8));
  ag |= ((ag & 0x01000100) - ((ag & 0x01000100) >> 8));
  return (rb & 0x00FF00FF) | ((ag & 0x00FF00FF) << 8);
}

inline void BlendPixel32(uint8_t* d, const uint8_t* s) {
  uint32_t sp, dp;
  std::memcpy(&sp, s, 4);
  const uint32_t a = sp >> 24;
  if (a == 0) return;
  if (a != 255) {
    std::memcpy(&dp, d, 4);
    sp = Over(sp, dp);
  }
  std::memcpy(d, &sp, 4);
}

inline void BlendPixel24(uint8_t* d, const uint8_t* s) {
  uint32_t sp;
  std::memcpy(&sp, s, 4);
  const uint32_t a = sp >> 24;
  if (a == 0) return;
  if (a != 255) sp = Over(sp, uint32_t(d[0]) | (uint32_t(d[1]) << 8) | (uint32_t(d[2]) << 16));
  d[0] = uint8_t(sp), d[1] = uint8_t(sp >> 8), d[2] = uint8_t(sp >> 16);
}

#ifdef __SSE2__
// Four pixels at once: widen to 16-bit lanes, scale the destination by the inverse alpha,
// add the source with saturation. Groups that are all clear or all opaque skip the maths.
inline __m128i Over4(__m128i s, __m128i d, __m128i clear) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i ff = _mm_set1_epi16(0xFF), half = _mm_set1_epi16(0x80);
  auto scale = [&](__m128i dd, __m128i ss) {
    __m128i a = _mm_shufflehi_epi16(_mm_shufflelo_epi16(ss, 0xFF), 0xFF);
    __m128i t = _mm_add_epi16(_mm_mullo_epi16(dd, _mm_xor_si128(a, ff)), half);
    return _mm_mulhi_epu16(t, _mm_set1_epi16(0x0101));  // (t + (t >> 8)) >> 8
  };
  __m128i lo = scale(_mm_unpacklo_epi8(d, zero), _mm_unpacklo_epi8(s, zero));
  __m128i hi = scale(_mm_unpackhi_epi8(d, zero), _mm_unpackhi_epi8(s, zero));
  __m128i out = _mm_adds_epu8(s, _mm_packus_epi16(lo, hi));
  // Clear pixels leave the destination alone, whatever colour bytes they carry.
  return _mm_or_si128(_mm_and_si128(clear, d), _mm_andnot_si128(clear, out));
}

// 0: all four clear, 1: all opaque, 2: mixed; `clear` marks the clear pixels.
inline int AlphaClass(__m128i s, __m128i& clear) {
  const __m128i amask = _mm_set1_epi32(int(0xFF000000u));
  __m128i a = _mm_and_si128(s, amask);
  clear = _mm_cmpeq_epi32(a, _mm_setzero_si128());
  if (_mm_movemask_epi8(clear) == 0xFFFF) return 0;
  if (_mm_movemask_epi8(_mm_cmpeq_epi32(a, amask)) == 0xFFFF) return 1;
  return 2;
}
#endif

void BlendRow32(uint8_t* d, const uint8_t* s, size_t n) {
  size_t i = 0;
#ifdef __SSE2__
  for (; i + 4 <= n; i += 4, s += 16, d += 16) {
    __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i clear;
    int cls = AlphaClass(sv, clear);
    if (cls == 0) continue;
    if (cls == 2) sv = Over4(sv, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d)), clear);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), sv);
  }
#endif
  for (; i < n; ++i, s += 4, d += 4) BlendPixel32(d, s);
}

void BlendRow24(uint8_t* d, const uint8_t* s, size_t n) {
  size_t i = 0;
#ifdef __SSE2__
  for (; i + 4 <= n; i += 4, s += 16, d += 12) {
    __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i clear;
    int cls = AlphaClass(sv, clear);
    if (cls == 0) continue;
    uint32_t w[3], p[4];
    if (cls == 2) {  // unpack four 3-byte pixels into 32-bit lanes and back
      std::memcpy(w, d, 12);
      p[0] = w[0] & 0xFFFFFF;
      p[1] = (w[0] >> 24) | ((w[1] & 0xFFFF) << 8);
      p[2] = (w[1] >> 16) | ((w[2] & 0xFF) << 16);
      p[3] = w[2] >> 8;
      sv = Over4(sv, _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), clear);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), sv);
    w[0] = (p[0] & 0xFFFFFF) | (p[1] << 24);
    w[1] = ((p[1] >> 8) & 0xFFFF) | (p[2] << 16);
    w[2] = ((p[2] >> 16) & 0xFF) | (p[3] << 8);
    std::memcpy(d, w, 12);
  }
#endif
  for (; i < n; ++i, s += 4, d += 3) BlendPixel24(d, s);
}

bool IsUnscaled(const std::vector<int>& map) {
  return !map.empty() && map.front() >= 0 && map.back() >= map.front() &&
         map.back() - map.front() == int(map.size()) - 1;
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
  const bool direct = fast && IsUnscaled(cols);
  for (size_t j = 0; j < rows.size(); ++j) {
    if (rows[j] < 0) continue;
    const uint8_t* srow = src.Row(rows[j]);
    uint8_t* drow = dst.Row(y0 + int(j));
    if (direct) {
      if (bpp == 4)
        BlendRow32(drow + 4 * x0, srow + 4 * cols.front(), cols.size());
      else
        BlendRow24(drow + 3 * x0, srow + 4 * cols.front(), cols.size());
      continue;
    }
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
