// Composition of an image with partial transparency over what a bitmap already shows,
// with nearest-neighbour scaling and integer arithmetic.
//
// Per covered pixel and channel, for RGB and grey images with an alpha plane:
//   dst = (dst * (255 - a) + src * a + 127) div 255
// for palette images with per-entry alpha:
//   dst = (a * C + (255 - a) * dst + 255) shr 8
// and on 32-bit targets the alpha byte becomes
//   255 - ((255 - a) * (255 - dstA) + 127) div 255.
// Both colour formulas leave the target unchanged for a = 0 and give the source for
// a = 255, so those two cases are taken as shortcuts.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

#include "png_draw_internal.h"
#include "png_internal.h"

namespace {

// The three colour channels travel together in 16-bit lanes of one 64-bit word (blue in
// the low lane); no lane ever exceeds 16 bits, so no carry crosses into the next lane.
constexpr uint64_t kLaneMask = 0x000000FF00FF00FFull;
constexpr uint64_t kLaneOnes = 0x0000000100010001ull;

inline uint64_t Lanes(unsigned b, unsigned g, unsigned r) {
  return uint64_t(b) | (uint64_t(g) << 16) | (uint64_t(r) << 32);
}

inline void StoreLanes(uint8_t* d, uint64_t v) {
  d[0] = uint8_t(v);
  d[1] = uint8_t(v >> 16);
  d[2] = uint8_t(v >> 32);
}

// Per lane x div 255 for x <= 65534: (x + (x shr 8) + 1) shr 8.
inline uint64_t Div255Lanes(uint64_t t) {
  return ((t + ((t >> 8) & kLaneMask) + kLaneOnes) >> 8) & kLaneMask;
}

// (dst * (255 - a) + src * a + 127) div 255 on each channel.
inline void Blend255(uint8_t* d, uint64_t src, unsigned a) {
  const uint64_t t = Lanes(d[0], d[1], d[2]) * (255u - a) + src * a + 127 * kLaneOnes;
  StoreLanes(d, Div255Lanes(t));
}

// (a * src + (255 - a) * dst + 255) shr 8 on each channel.
inline void BlendShift8(uint8_t* d, uint64_t src, unsigned a) {
  const uint64_t t = Lanes(d[0], d[1], d[2]) * (255u - a) + src * a + 255 * kLaneOnes;
  StoreLanes(d, (t >> 8) & kLaneMask);
}

template <int kDstBytes>
inline void ComposeAlphaByte(uint8_t* d, unsigned a) {
  if constexpr (kDstBytes == 4) {
    const unsigned t = (255u - a) * (255u - d[3]) + 127u;
    d[3] = uint8_t(255u - ((t + (t >> 8) + 1u) >> 8));
  }
}

template <int kDstBytes>
inline void CopyOpaque(uint8_t* d, uint8_t b, uint8_t g, uint8_t r) {
  d[0] = b;
  d[1] = g;
  d[2] = r;
  if constexpr (kDstBytes == 4) d[3] = 255;
}

template <int kDstBytes>
void ComposeRgbRow(uint8_t* d, const uint8_t* src, const uint8_t* alpha, const int* xs, int n) {
  for (int i = 0; i < n; ++i, d += kDstBytes) {
    const int sx = xs[i];
    const unsigned a = alpha[sx];
    if (a == 0) continue;
    const uint8_t* s = src + 3 * sx;
    if (a == 255) {
      CopyOpaque<kDstBytes>(d, s[0], s[1], s[2]);
      continue;
    }
    Blend255(d, Lanes(s[0], s[1], s[2]), a);
    ComposeAlphaByte<kDstBytes>(d, a);
  }
}

// Index of pixel x of a packed row (first pixel in the high bits).
template <int kBits>
inline unsigned IndexAt(const uint8_t* row, int x) {
  if constexpr (kBits == 8) return row[x];
  if constexpr (kBits == 4) return (row[x >> 1] >> ((~x & 1) << 2)) & 0xFu;
  return (row[x >> 3] >> (7 - (x & 7))) & 1u;
}

template <int kDstBytes, int kBits>
void ComposeGreyRow(uint8_t* d, const uint8_t* src, const uint8_t* alpha, const int* xs, int n,
                    const TAlphaSource& s) {
  for (int i = 0; i < n; ++i, d += kDstBytes) {
    const int sx = xs[i];
    const unsigned a = alpha[sx];
    if (a == 0) continue;
    const unsigned g = s.IndexBlue[IndexAt<kBits>(src, sx)];
    if (a == 255) {
      CopyOpaque<kDstBytes>(d, uint8_t(g), uint8_t(g), uint8_t(g));
      continue;
    }
    Blend255(d, Lanes(g, g, g), a);
    ComposeAlphaByte<kDstBytes>(d, a);
  }
}

template <int kDstBytes, int kBits>
void ComposePaletteRow(uint8_t* d, const uint8_t* src, const int* xs, int n,
                       const TAlphaSource& s) {
  for (int i = 0; i < n; ++i, d += kDstBytes) {
    const unsigned k = IndexAt<kBits>(src, xs[i]);
    const unsigned a = s.IndexAlpha[k];
    if (a == 0) continue;
    if (a == 255) {
      CopyOpaque<kDstBytes>(d, s.IndexBlue[k], s.IndexGreen[k], s.IndexRed[k]);
      continue;
    }
    BlendShift8(d, Lanes(s.IndexBlue[k], s.IndexGreen[k], s.IndexRed[k]), a);
    ComposeAlphaByte<kDstBytes>(d, a);
  }
}

template <int kDstBytes, int kBits>
void ComposeIndexedRow(uint8_t* d, const uint8_t* src, const uint8_t* alpha, const int* xs, int n,
                       const TAlphaSource& s) {
  if (s.Kind == TAlphaSource::akGreyAlpha)
    ComposeGreyRow<kDstBytes, kBits>(d, src, alpha, xs, n, s);
  else
    ComposePaletteRow<kDstBytes, kBits>(d, src, xs, n, s);
}

#if defined(__x86_64__) || defined(__i386__)
// Unscaled RGB + alpha rows over 24-bit rows, four pixels (twelve bytes) per step in 16-bit
// lanes with the formula above for every alpha: it gives the target's own byte for alpha 0
// and the image's for 255, like the shortcuts. Each step reads 16 bytes of both rows and
// writes 12. Returns the pixels done; the caller does the rest. Chosen at run time on
// processors with SSSE3.
__attribute__((target("ssse3"))) int ComposeRgbRowUnscaled24(uint8_t* d, const uint8_t* src,
                                                             const uint8_t* alpha, int n) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i lowAlphas = _mm_setr_epi8(0, -1, 0, -1, 0, -1, 1, -1, 1, -1, 1, -1, 2, -1, 2, -1);
  const __m128i highAlphas =
      _mm_setr_epi8(2, -1, 3, -1, 3, -1, 3, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i full = _mm_set1_epi16(255), half = _mm_set1_epi16(127), one = _mm_set1_epi16(1);
  auto blend = [&](__m128i dv, __m128i sv, __m128i a) {
    const __m128i t = _mm_add_epi16(
        _mm_add_epi16(_mm_mullo_epi16(dv, _mm_sub_epi16(full, a)), _mm_mullo_epi16(sv, a)), half);
    return _mm_srli_epi16(_mm_add_epi16(_mm_add_epi16(t, _mm_srli_epi16(t, 8)), one), 8);
  };
  int i = 0;
  for (; 3 * i + 16 <= 3 * n; i += 4) {
    uint32_t a4;
    std::memcpy(&a4, alpha + i, 4);
    if (a4 == 0) continue;  // clear pixels leave the target as it is
    const __m128i a = _mm_cvtsi32_si128(int(a4));
    const __m128i sv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 3 * i));
    uint8_t* p = d + 3 * i;
    const __m128i dv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i lo = blend(_mm_unpacklo_epi8(dv, zero), _mm_unpacklo_epi8(sv, zero),
                             _mm_shuffle_epi8(a, lowAlphas));
    const __m128i hi = blend(_mm_unpackhi_epi8(dv, zero), _mm_unpackhi_epi8(sv, zero),
                             _mm_shuffle_epi8(a, highAlphas));
    // Twelve bytes, not sixteen: the next step reads from the twelfth on, and a read that
    // overlaps part of a pending store waits for it.
    const __m128i out = _mm_packus_epi16(lo, hi);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(p), out);
    const uint32_t last = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(out, 8)));
    std::memcpy(p + 8, &last, 4);
  }
  return i;
}
#endif

template <int kDstBytes>
void ComposeRow(const TAlphaSource& s, uint8_t* d, const uint8_t* src, const uint8_t* alpha,
                const int* xs, int n) {
  if (s.Kind == TAlphaSource::akRgbAlpha) return ComposeRgbRow<kDstBytes>(d, src, alpha, xs, n);
  switch (s.BitsPerPixel) {
    case 1:
      return ComposeIndexedRow<kDstBytes, 1>(d, src, alpha, xs, n, s);
    case 4:
      return ComposeIndexedRow<kDstBytes, 4>(d, src, alpha, xs, n, s);
    default:
      return ComposeIndexedRow<kDstBytes, 8>(d, src, alpha, xs, n, s);
  }
}

}  // namespace

std::vector<int> NearestSourceMap(int extent, int size, int first, int count) {
  std::vector<int> map(size_t(std::max(count, 0)));
  if (extent == size) {
    for (int i = 0; i < count; ++i) map[size_t(i)] = first + i;
    return map;
  }
  // The factor is computed once, in extended precision, like the division per pixel.
  const long double factor = static_cast<long double>(extent) / size;
  for (int i = 0; i < count; ++i) {
    const auto s = static_cast<int64_t>(std::trunc((first + i) / factor));
    map[size_t(i)] = int(std::clamp<int64_t>(s, 0, size - 1));
  }
  return map;
}

void ComposeAlphaSpan(const TAlphaSource& source, const TPixelView& target, const TRect& rect,
                      const TRect& clip) {
  const int n = clip.Width();
  const std::vector<int> xs =
      NearestSourceMap(rect.Width(), source.Width, clip.Left - rect.Left, n);
  const std::vector<int> ys =
      NearestSourceMap(rect.Height(), source.Height, clip.Top - rect.Top, clip.Height());
  // Without an alpha plane every pixel counts as opaque.
  const std::vector<uint8_t> opaque(source.Alpha ? 0 : size_t(source.Width), 255);
  const int dstBytes = target.BitCount / 8;
  // Whole runs of source pixels side by side: the four-pixel steps may read and write up to
  // 16 bytes from a pixel, so they stop where that would pass either row's end.
  int fast = 0;
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3 && dstBytes == 3 && source.Kind == TAlphaSource::akRgbAlpha && source.Alpha &&
      rect.Width() == source.Width && n > 0) {
    const int x0 = xs[0];
    fast = std::min(n - 2, std::min(source.Width - x0, target.Width - clip.Left) - 2);
    fast = std::max(fast, 0);
  }
#endif
  for (int j = 0; j < clip.Height(); ++j) {
    const int sy = ys[size_t(j)];
    uint8_t* d = target.Row(clip.Top + j) + ptrdiff_t(clip.Left) * dstBytes;
    const uint8_t* src = source.TopRow + ptrdiff_t(sy) * source.Stride;
    const uint8_t* alpha =
        source.Alpha ? source.Alpha + ptrdiff_t(sy) * source.Width : opaque.data();
#if defined(__x86_64__) || defined(__i386__)
    if (fast > 0) {
      const int done = ComposeRgbRowUnscaled24(d, src + 3 * ptrdiff_t(xs[0]), alpha + xs[0], fast);
      ComposeRow<3>(source, d + 3 * ptrdiff_t(done), src, alpha, xs.data() + done, n - done);
      continue;
    }
#endif
    if (dstBytes == 4)
      ComposeRow<4>(source, d, src, alpha, xs.data(), n);
    else
      ComposeRow<3>(source, d, src, alpha, xs.data(), n);
  }
}

void ComposeAlpha(const TAlphaSource& source, const TPixelView& target, const TRect& rect) {
  if (!target.Valid() || source.Width <= 0 || source.Height <= 0 || source.TopRow == nullptr)
    return;
  // Only the part of the rectangle on the target is composed; the rest would be dropped.
  const TRect clip = IntersectRect(rect, TRect{0, 0, target.Width, target.Height});
  if (clip.IsEmpty()) return;
  if (target.BitCount == 24 || target.BitCount == 32) {
    ComposeAlphaSpan(source, target, rect, clip);
    return;
  }
  // Other formats are composed on a 32-bit work surface: the covered area is copied
  // there, composed and copied back.
  const uint64_t bytes = uint64_t(clip.Width()) * uint64_t(clip.Height()) * 4;
  std::vector<uint8_t> pixels;
  try {
    CheckImageBudget(bytes);
    pixels.resize(bytes);
  } catch (const EOutOfResources&) {
    throw EPNGOutMemory();
  } catch (const std::bad_alloc&) {
    throw EPNGOutMemory();
  }
  const TPixelView work{pixels.data(), ptrdiff_t(clip.Width()) * 4, clip.Width(), clip.Height(),
                        32};
  BitBlt(work, 0, 0, target, clip);
  const TRect shifted{rect.Left - clip.Left, rect.Top - clip.Top, rect.Right - clip.Left,
                      rect.Bottom - clip.Top};
  ComposeAlphaSpan(source, work, shifted, TRect{0, 0, clip.Width(), clip.Height()});
  BitBlt(target, clip.Left, clip.Top, work, TRect{0, 0, clip.Width(), clip.Height()});
}
