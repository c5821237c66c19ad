// Adler-32 of the inflated image data. zlib's own check runs one byte at a time and took as
// long as all of our row work together; this one takes 32 bytes a step on processors with
// SSSE3 and leaves the rest to zlib's.
#include <zlib.h>

#include <algorithm>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define VITRELLE_ADLER_SSSE3 1
#endif

#include "png_decode_internal.h"

namespace {

constexpr uint32_t kAdlerBase = 65521;

uint32_t Adler32Zlib(uint32_t adler, const uint8_t* data, size_t length) {
  while (length > 0) {
    const size_t piece = std::min<size_t>(length, 1u << 30);
    adler = uint32_t(adler32_z(adler, data, piece));
    data += piece;
    length -= piece;
  }
  return adler;
}

#ifdef VITRELLE_ADLER_SSSE3
__attribute__((target("ssse3"))) uint64_t LaneSum(__m128i v) {
  alignas(16) uint32_t lanes[4];
  _mm_store_si128(reinterpret_cast<__m128i*>(lanes), v);
  return uint64_t(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

// Over a block of k steps of 32 bytes, with byte t of step i weighing 32 (k - 1 - i) +
// (32 - t) in the second sum: the first term is 32 times the sum, over the steps, of the
// bytes before each step (Before), the second a fixed weight per position in the step.
// 128 steps keep every 32-bit lane far from overflowing.
__attribute__((target("ssse3"))) uint32_t Adler32Ssse3(uint32_t adler, const uint8_t* p, size_t n) {
  uint32_t a = adler & 0xFFFF, b = adler >> 16;
  const __m128i zero = _mm_setzero_si128();
  const __m128i ones = _mm_set1_epi16(1);
  const __m128i weightsLow =
      _mm_setr_epi8(32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17);
  const __m128i weightsHigh = _mm_setr_epi8(16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1);
  while (n >= 32) {
    const size_t steps = std::min<size_t>(n / 32, 128);
    __m128i sum = zero, before = zero, weighted = zero;
    for (size_t i = 0; i < steps; ++i, p += 32) {
      const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
      before = _mm_add_epi32(before, sum);
      sum = _mm_add_epi32(sum, _mm_add_epi32(_mm_sad_epu8(low, zero), _mm_sad_epu8(high, zero)));
      weighted = _mm_add_epi32(
          weighted, _mm_add_epi32(_mm_madd_epi16(_mm_maddubs_epi16(low, weightsLow), ones),
                                  _mm_madd_epi16(_mm_maddubs_epi16(high, weightsHigh), ones)));
    }
    const uint64_t bytes = 32 * uint64_t(steps);
    b = uint32_t((b + bytes * a + 32 * LaneSum(before) + LaneSum(weighted)) % kAdlerBase);
    a = uint32_t((a + LaneSum(sum)) % kAdlerBase);
    n -= size_t(bytes);
  }
  return Adler32Zlib((b << 16) | a, p, n);
}
#endif

}  // namespace

uint32_t Adler32(uint32_t adler, const uint8_t* data, size_t length) {
#ifdef VITRELLE_ADLER_SSSE3
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) return Adler32Ssse3(adler, data, length);
#endif
  return Adler32Zlib(adler, data, length);
}
