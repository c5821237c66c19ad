// Row converters: from an unfiltered PNG row (big-endian samples in R, G, B, A order) into
// the image buffers (bottom-up pixel rows in blue, green, red or indices, alpha plane,
// low-byte plane). Each converter is one tight loop; the plain (non-interlaced) variants
// are instantiated with the column step fixed at 1.
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define VITRELLE_PNG_SSSE3 1
#endif

#include "png_decode_internal.h"
#include "png_internal.h"

namespace {

// Column of the k-th pixel of the row.
template <bool Interlaced>
inline uint32_t Column(uint32_t k, uint32_t x0, uint32_t dx) {
  if constexpr (Interlaced) return x0 + k * dx;
  return k;
}

// Indices and grey levels of 1, 4 and 8 bits are kept as they are.
template <int Bits>
void PackedPlain(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t, uint32_t,
                 const uint8_t*) {
  std::memcpy(t.Pixels, s, PngRowBytes(COLOR_PALETTE, Bits, count));
}

template <int Bits>
void PackedAdam7(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
                 const uint8_t*) {
  if (dx == 1 && x0 == 0) {  // the last pass holds whole rows
    std::memcpy(t.Pixels, s, PngRowBytes(COLOR_PALETTE, Bits, count));
    return;
  }
  if constexpr (Bits == 8) {
    for (uint32_t k = 0; k < count; ++k) t.Pixels[x0 + k * dx] = s[k];
  } else {
    // Every pixel is written once into a zeroed buffer, so its bits can be or'ed in.
    for (uint32_t k = 0; k < count; ++k) {
      const uint32_t bit = (x0 + k * dx) * Bits;
      t.Pixels[bit >> 3] |= uint8_t(GetPackedField(s, k, Bits) << (8 - Bits - int(bit & 7)));
    }
  }
}

// 2-bit samples are held as 4-bit pixels. Palette indices keep their value; grey levels
// are spread over the 16-entry ramp (v * 5 = bit replication) so that level 3 is white.
template <bool Interlaced, uint32_t Scale>
void TwoBit(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
            const uint8_t*) {
  for (uint32_t k = 0; k < count; ++k)
    SetPackedField(t.Pixels, Column<Interlaced>(k, x0, dx), 4, GetPackedField(s, k, 2) * Scale);
}

template <bool Interlaced>
void Grey16(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
            const uint8_t*) {
  for (uint32_t k = 0; k < count; ++k, s += 2) {
    const uint32_t x = Column<Interlaced>(k, x0, dx);
    t.Pixels[x] = s[0];
    t.Extra[x] = s[1];
  }
}

template <bool Interlaced, bool Gamma>
void Rgb8(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
          const uint8_t* g) {
  uint8_t* d = t.Pixels;
  for (uint32_t k = 0; k < count; ++k, s += 3) {
    uint8_t* p = d + 3 * size_t(Column<Interlaced>(k, x0, dx));
    if constexpr (Gamma) {
      p[0] = g[s[2]];
      p[1] = g[s[1]];
      p[2] = g[s[0]];
    } else {
      p[0] = s[2];
      p[1] = s[1];
      p[2] = s[0];
    }
  }
}

template <bool Interlaced>
void Rgb16(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
           const uint8_t* g) {
  for (uint32_t k = 0; k < count; ++k, s += 6) {
    const size_t x = 3 * size_t(Column<Interlaced>(k, x0, dx));
    uint8_t* p = t.Pixels + x;
    uint8_t* e = t.Extra + x;
    p[0] = g[s[4]];
    p[1] = g[s[2]];
    p[2] = g[s[0]];
    e[0] = g[s[5]];
    e[1] = g[s[3]];
    e[2] = g[s[1]];
  }
}

template <bool Interlaced>
void GreyAlpha8(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
                const uint8_t*) {
  for (uint32_t k = 0; k < count; ++k, s += 2) {
    const uint32_t x = Column<Interlaced>(k, x0, dx);
    t.Pixels[x] = s[0];
    t.Alpha[x] = s[1];
  }
}

template <bool Interlaced>
void GreyAlpha16(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
                 const uint8_t*) {
  for (uint32_t k = 0; k < count; ++k, s += 4) {
    const uint32_t x = Column<Interlaced>(k, x0, dx);
    t.Pixels[x] = s[0];
    t.Extra[x] = s[1];
    t.Alpha[x] = s[2];
  }
}

template <bool Interlaced, bool Gamma>
void Rgba8(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
           const uint8_t* g) {
  for (uint32_t k = 0; k < count; ++k, s += 4) {
    const uint32_t x = Column<Interlaced>(k, x0, dx);
    uint8_t* p = t.Pixels + 3 * size_t(x);
    if constexpr (Gamma) {
      p[0] = g[s[2]];
      p[1] = g[s[1]];
      p[2] = g[s[0]];
    } else {
      p[0] = s[2];
      p[1] = s[1];
      p[2] = s[0];
    }
    t.Alpha[x] = s[3];
  }
}

#ifdef VITRELLE_PNG_SSSE3
// Plain RGBA rows without gamma, four pixels per step: one shuffle gives the twelve
// blue-green-red bytes and the four alphas. Chosen at run time on processors with SSSE3.
__attribute__((target("ssse3"))) void Rgba8Ssse3(const uint8_t* s, const TRowTarget& t,
                                                 uint32_t count, uint32_t, uint32_t,
                                                 const uint8_t*) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, 3, 7, 11, 15);
  uint8_t* p = t.Pixels;
  uint8_t* a = t.Alpha;
  uint32_t k = 0;
  // Each step stores 16 bytes at p + 3k: keep them inside the 3 * count pixel bytes.
  for (; k + 6 <= count; k += 4, s += 16) {
    const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s)), order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + 3 * size_t(k)), v);
    const uint32_t alphas = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(v, 12)));
    std::memcpy(a + k, &alphas, 4);
  }
  for (; k < count; ++k, s += 4) {
    uint8_t* d = p + 3 * size_t(k);
    d[0] = s[2];
    d[1] = s[1];
    d[2] = s[0];
    a[k] = s[3];
  }
}
#endif

#ifdef VITRELLE_PNG_SSSE3
// Plain RGB rows without gamma, five pixels per shuffle of 16 bytes; the 16th byte stored
// belongs to the next pixel and is written again by the next step or the tail.
__attribute__((target("ssse3"))) void Rgb8Ssse3(const uint8_t* s, const TRowTarget& t,
                                                uint32_t count, uint32_t, uint32_t,
                                                const uint8_t*) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  uint8_t* p = t.Pixels;
  const size_t bytes = 3 * size_t(count);
  size_t i = 0;
  for (; i + 16 <= bytes; i += 15) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_shuffle_epi8(v, order));
  }
  for (; i < bytes; i += 3) {
    p[i] = s[i + 2];
    p[i + 1] = s[i + 1];
    p[i + 2] = s[i];
  }
}
#endif

template <bool Interlaced>
void Rgba16(const uint8_t* s, const TRowTarget& t, uint32_t count, uint32_t x0, uint32_t dx,
            const uint8_t* g) {
  for (uint32_t k = 0; k < count; ++k, s += 8) {
    const uint32_t x = Column<Interlaced>(k, x0, dx);
    uint8_t* p = t.Pixels + 3 * size_t(x);
    uint8_t* e = t.Extra + 3 * size_t(x);
    p[0] = g[s[4]];
    p[1] = g[s[2]];
    p[2] = g[s[0]];
    e[0] = g[s[5]];
    e[1] = g[s[3]];
    e[2] = g[s[1]];
    t.Alpha[x] = s[6];
  }
}

template <bool I>
TRowConverter Choose(int colorType, int bitDepth, bool identityGamma) {
  switch (colorType) {
    case 0:
    case 3:
      switch (bitDepth) {
        case 1:
          return I ? PackedAdam7<1> : PackedPlain<1>;
        case 2:
          return colorType == 0 ? TwoBit<I, 5> : TwoBit<I, 1>;
        case 4:
          return I ? PackedAdam7<4> : PackedPlain<4>;
        case 8:
          return I ? PackedAdam7<8> : PackedPlain<8>;
        case 16:
          return colorType == 0 ? Grey16<I> : nullptr;
      }
      return nullptr;
    case 2:
      if (bitDepth == 8) {
#ifdef VITRELLE_PNG_SSSE3
        if (!I && identityGamma && __builtin_cpu_supports("ssse3")) return Rgb8Ssse3;
#endif
        return identityGamma ? Rgb8<I, false> : Rgb8<I, true>;
      }
      return bitDepth == 16 ? Rgb16<I> : nullptr;
    case 4:
      if (bitDepth == 8) return GreyAlpha8<I>;
      return bitDepth == 16 ? GreyAlpha16<I> : nullptr;
    case 6:
      if (bitDepth == 8) {
#ifdef VITRELLE_PNG_SSSE3
        if (!I && identityGamma && __builtin_cpu_supports("ssse3")) return Rgba8Ssse3;
#endif
        return identityGamma ? Rgba8<I, false> : Rgba8<I, true>;
      }
      return bitDepth == 16 ? Rgba16<I> : nullptr;
  }
  return nullptr;
}

}  // namespace

TRowConverter ChooseRowConverter(int colorType, int bitDepth, bool interlaced, bool identityGamma) {
  return interlaced ? Choose<true>(colorType, bitDepth, identityGamma)
                    : Choose<false>(colorType, bitDepth, identityGamma);
}
