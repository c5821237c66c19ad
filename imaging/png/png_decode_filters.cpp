// Reverse of the five PNG row filters. Sub, Average and Paeth depend on the byte one pixel
// to the left, so they are specialised on the pixel width: with a constant width the
// compiler keeps the left pixel in registers.
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <smmintrin.h>
#endif

#include "png_decode_internal.h"

namespace {

inline uint8_t Paeth(int a, int b, int c) {
  const int p = b - c;  // p - a
  const int q = a - c;  // p - b
  const int pa = std::abs(p);
  const int pb = std::abs(q);
  const int pc = std::abs(p + q);  // p - c
  if (pa <= pb && pa <= pc) return uint8_t(a);
  return uint8_t(pb <= pc ? b : c);
}

template <size_t Bpp>
void UnfilterSub(uint8_t* d, size_t n, size_t bpp) {
  const size_t step = Bpp ? Bpp : bpp;
  for (size_t i = step; i < n; ++i) d[i] = uint8_t(d[i] + d[i - step]);
}

void UnfilterUp(uint8_t* d, const uint8_t* up, size_t n) {
  for (size_t i = 0; i < n; ++i) d[i] = uint8_t(d[i] + up[i]);
}

template <size_t Bpp>
void UnfilterAverage(uint8_t* d, const uint8_t* up, size_t n, size_t bpp) {
  const size_t step = Bpp ? Bpp : bpp;
  const size_t first = step < n ? step : n;
  for (size_t i = 0; i < first; ++i) d[i] = uint8_t(d[i] + (up[i] >> 1));
  for (size_t i = step; i < n; ++i) d[i] = uint8_t(d[i] + ((d[i - step] + up[i]) >> 1));
}

template <size_t Bpp>
void UnfilterPaeth(uint8_t* d, const uint8_t* up, size_t n, size_t bpp) {
  const size_t step = Bpp ? Bpp : bpp;
  const size_t first = step < n ? step : n;
  for (size_t i = 0; i < first; ++i) d[i] = uint8_t(d[i] + up[i]);
  for (size_t i = step; i < n; ++i) d[i] = uint8_t(d[i] + Paeth(d[i - step], up[i], up[i - step]));
}

#if defined(__SSE2__)
// Paeth for 3- and 4-byte pixels, one pixel per step in 16-bit lanes: the predictor of
// every channel is chosen at once with compares instead of branches.
// Always four bytes: a 3-byte pixel takes its neighbour's first byte into a lane that is
// never stored. (Three bytes put together on the stack cost a failed store forwarding
// per pixel, which made this loop slower than the plain one.)
inline __m128i LoadPixel(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(v)), _mm_setzero_si128());
}

template <size_t Bpp>
inline void StorePixel(uint8_t* p, __m128i v) {
  const uint32_t out = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(v, v)));
  std::memcpy(p, &out, Bpp);
}

inline __m128i Abs16(__m128i v) {
  return _mm_max_epi16(v, _mm_sub_epi16(_mm_setzero_si128(), v));
}

inline __m128i Select(__m128i mask, __m128i yes, __m128i no) {
  return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

template <size_t Bpp>
void UnfilterPaethSimd(uint8_t* d, const uint8_t* up, size_t n) {
  __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
  size_t i = 0;
  // All but the last pixel: a 4-byte load/store may touch one byte past a 3-byte pixel.
  for (; i + Bpp + (Bpp == 3 ? 1 : 0) <= n; i += Bpp) {
    const __m128i b = LoadPixel(up + i);
    const __m128i p = _mm_sub_epi16(b, c);  // p - a
    const __m128i q = _mm_sub_epi16(a, c);  // p - b
    __m128i pa = Abs16(p);
    const __m128i pb = Abs16(q);
    const __m128i pc = Abs16(_mm_add_epi16(p, q));
    const __m128i takeB = _mm_cmplt_epi16(pb, pa);
    __m128i best = Select(takeB, b, a);
    pa = _mm_min_epi16(pa, pb);
    best = Select(_mm_cmplt_epi16(pc, pa), c, best);
    // Both terms have zero high bytes, so a byte-wise sum is the sum modulo 256.
    a = _mm_add_epi8(LoadPixel(d + i), best);
    StorePixel<Bpp>(d + i, a);
    c = b;
  }
  for (; i < n; ++i)
    d[i] = uint8_t(d[i] + Paeth(i >= Bpp ? d[i - Bpp] : 0, up[i], i >= Bpp ? up[i - Bpp] : 0));
}

// The same with one-instruction absolute values and selections, which shortens the chain
// from one pixel to the next by a third. Chosen at run time on processors with SSE4.1.
template <size_t Bpp>
__attribute__((target("sse4.1"))) void UnfilterPaethSse41(uint8_t* d, const uint8_t* up, size_t n) {
  __m128i a = _mm_setzero_si128(), c = _mm_setzero_si128();
  size_t i = 0;
  for (; i + Bpp + (Bpp == 3 ? 1 : 0) <= n; i += Bpp) {
    const __m128i b = LoadPixel(up + i);
    const __m128i bc = _mm_sub_epi16(b, c);  // p - a
    const __m128i pa = _mm_abs_epi16(bc);
    const __m128i q = _mm_sub_epi16(a, c);  // p - b
    const __m128i pb = _mm_abs_epi16(q);
    const __m128i pc = _mm_abs_epi16(_mm_add_epi16(bc, q));
    const __m128i best = _mm_blendv_epi8(a, b, _mm_cmpgt_epi16(pa, pb));
    a = _mm_blendv_epi8(best, c, _mm_cmpgt_epi16(_mm_min_epi16(pa, pb), pc));
    a = _mm_add_epi8(LoadPixel(d + i), a);
    StorePixel<Bpp>(d + i, a);
    c = b;
  }
  for (; i < n; ++i)
    d[i] = uint8_t(d[i] + Paeth(i >= Bpp ? d[i - Bpp] : 0, up[i], i >= Bpp ? up[i - Bpp] : 0));
}

template <size_t Bpp>
void UnfilterPaethFast(uint8_t* d, const uint8_t* up, size_t n) {
  static const bool sse41 = __builtin_cpu_supports("sse4.1");
  if (sse41) return UnfilterPaethSse41<Bpp>(d, up, n);
  UnfilterPaethSimd<Bpp>(d, up, n);
}

inline __m128i LoadBytes(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return _mm_cvtsi32_si128(int(v));
}

template <size_t Bpp>
inline void StoreBytes(uint8_t* p, __m128i v) {
  const uint32_t out = uint32_t(_mm_cvtsi128_si32(v));
  std::memcpy(p, &out, Bpp);
}

// Sub and Average for 3- and 4-byte pixels, one pixel per step in byte lanes. Average
// carries the complement of the left pixel: the rounding-up byte average of complements
// is the complement of the rounding-down average, so each step is one average and one
// subtraction: ~left' = avg(~left, ~up) - raw.
template <size_t Bpp>
void UnfilterSubSimd(uint8_t* d, size_t n) {
  __m128i left = _mm_setzero_si128();
  size_t i = 0;
  for (; i + Bpp + (Bpp == 3 ? 1 : 0) <= n; i += Bpp) {
    left = _mm_add_epi8(LoadBytes(d + i), left);
    StoreBytes<Bpp>(d + i, left);
  }
  for (; i < n; ++i) d[i] = uint8_t(d[i] + (i >= Bpp ? d[i - Bpp] : 0));
}

template <size_t Bpp>
void UnfilterAverageSimd(uint8_t* d, const uint8_t* up, size_t n) {
  const __m128i ones = _mm_set1_epi8(-1);
  __m128i notLeft = ones;
  size_t i = 0;
  for (; i + Bpp + (Bpp == 3 ? 1 : 0) <= n; i += Bpp) {
    const __m128i notUp = _mm_xor_si128(LoadBytes(up + i), ones);
    notLeft = _mm_sub_epi8(_mm_avg_epu8(notLeft, notUp), LoadBytes(d + i));
    StoreBytes<Bpp>(d + i, _mm_xor_si128(notLeft, ones));
  }
  for (; i < n; ++i) d[i] = uint8_t(d[i] + (((i >= Bpp ? d[i - Bpp] : 0) + up[i]) >> 1));
}
#endif

template <size_t Bpp>
void Unfilter(int type, uint8_t* d, const uint8_t* up, size_t n, size_t bpp) {
#if defined(__SSE2__)
  if constexpr (Bpp == 3 || Bpp == 4) {
    if (type == 1) return UnfilterSubSimd<Bpp>(d, n);
    if (type == 3) return UnfilterAverageSimd<Bpp>(d, up, n);
    if (type == 4) return UnfilterPaethFast<Bpp>(d, up, n);
  }
#endif
  switch (type) {
    case 1:
      UnfilterSub<Bpp>(d, n, bpp);
      break;
    case 2:
      UnfilterUp(d, up, n);
      break;
    case 3:
      UnfilterAverage<Bpp>(d, up, n, bpp);
      break;
    case 4:
      UnfilterPaeth<Bpp>(d, up, n, bpp);
      break;
    default:
      break;  // 0: nothing to do; unknown types are left as they are
  }
}

}  // namespace

void UnfilterPngRow(uint8_t* row, const uint8_t* prior, size_t rowBytes, size_t offset) {
  const int type = row[0];
  uint8_t* d = row + 1;
  const uint8_t* up = prior + 1;
  switch (offset) {
    case 1:
      Unfilter<1>(type, d, up, rowBytes, 1);
      break;
    case 3:
      Unfilter<3>(type, d, up, rowBytes, 3);
      break;
    case 4:
      Unfilter<4>(type, d, up, rowBytes, 4);
      break;
    default:
      Unfilter<0>(type, d, up, rowBytes, offset);
      break;
  }
}
