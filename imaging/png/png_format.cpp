// Facts of the PNG format that the reader and the writer share: the chunk CRC, the chunk
// frame, the standard colour type / bit depth pairs and the row geometry.
#include <zlib.h>

#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#define VITRELLE_CRC_PCLMUL 1
#endif

#include "png_internal.h"

namespace {

// zlib's crc32 computes the same CRC-32 as the PNG standard (reflected polynomial
// 0xEDB88320) with a faster table walk; it works on finished values, so the running
// (uncomplemented) value is complemented on the way in and out.
uint32_t UpdateCrcZlib(uint32_t crc, const uint8_t* p, size_t length) {
  uLong c = ~crc & 0xFFFFFFFFu;
  while (length > 0) {
    const uInt piece = length > 0x40000000u ? 0x40000000u : uInt(length);
    c = crc32(c, p, piece);
    p += piece;
    length -= piece;
  }
  return ~uint32_t(c);
}

#ifdef VITRELLE_CRC_PCLMUL
// Long runs (image data) are folded 64 bytes a step with carry-less multiplication, which
// is several times faster than the table walk. The bytes are the coefficients of a
// polynomial M, first byte's low bit highest; the CRC only depends on M modulo the CRC
// polynomial P, so each 128-bit block B followed by D more bits can be replaced by a
// block congruent to B x^D. A 64-bit lane holds its half of a block bit-reflected, and
// the product of two reflected lanes comes out multiplied by x once more: the constant
// for a half that stands x^e ahead is therefore x^(e-1) mod P, reflected into 64 bits.
// What is left after folding, 16 bytes congruent to all that went before, and the tail
// go through the table walk.
uint64_t FoldConstant(int exponent) {
  uint32_t r = 1;  // x^0 mod P, in plain (not reflected) order
  for (int i = 0; i < exponent; ++i) r = (r << 1) ^ ((r & 0x80000000u) ? 0x04C11DB7u : 0u);
  uint64_t reflected = 0;
  for (int d = 0; d < 32; ++d)
    if (r & (1u << d)) reflected |= uint64_t(1) << (63 - d);
  return reflected;
}

// Constants to move a block D bits ahead: its first half stands D + 64 bits ahead.
__m128i FoldBy(int bits) {
  return _mm_set_epi64x(int64_t(FoldConstant(bits - 1)), int64_t(FoldConstant(bits + 63)));
}

__attribute__((target("pclmul,sse4.1"))) __m128i Fold(__m128i block, __m128i k, __m128i next) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(block, k, 0x00), _mm_clmulepi64_si128(block, k, 0x11)),
      next);
}

__attribute__((target("pclmul,sse4.1"))) uint32_t UpdateCrcPclmul(uint32_t crc, const uint8_t* p,
                                                                  size_t length) {
  static const __m128i k512 = FoldBy(512), k128 = FoldBy(128);
  auto load = [](const uint8_t* q) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(q)); };
  // The running value enters as the first four bytes' partner, as in the table walk.
  __m128i x0 = _mm_xor_si128(load(p), _mm_cvtsi32_si128(int(crc)));
  __m128i x1 = load(p + 16), x2 = load(p + 32), x3 = load(p + 48);
  p += 64;
  length -= 64;
  for (; length >= 64; p += 64, length -= 64) {
    x0 = Fold(x0, k512, load(p));
    x1 = Fold(x1, k512, load(p + 16));
    x2 = Fold(x2, k512, load(p + 32));
    x3 = Fold(x3, k512, load(p + 48));
  }
  __m128i x = Fold(Fold(Fold(x0, k128, x1), k128, x2), k128, x3);
  for (; length >= 16; p += 16, length -= 16) x = Fold(x, k128, load(p));
  alignas(16) uint8_t rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x);
  return UpdateCrcZlib(UpdateCrcZlib(0, rest, 16), p, length);
}
#endif

}  // namespace

uint32_t UpdateCrc(uint32_t crc, const void* bytes, size_t length) {
  const auto* p = static_cast<const uint8_t*>(bytes);
#ifdef VITRELLE_CRC_PCLMUL
  static const bool pclmul = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
  if (pclmul && length >= 256) return UpdateCrcPclmul(crc, p, length);
#endif
  return UpdateCrcZlib(crc, p, length);
}

void WritePngChunk(TStream& stream, const TChunkName& name, const uint8_t* data, size_t length) {
  uint8_t head[8];
  WriteBE32(head, uint32_t(length));
  std::memcpy(head + 4, name.data(), 4);
  uint32_t crc = UpdateCrc(0xFFFFFFFFu, name.data(), 4);
  if (length > 0) crc = UpdateCrc(crc, data, length);
  uint8_t tail[4];
  WriteBE32(tail, ~crc);
  stream.WriteBuffer(head, 8);
  if (length > 0) stream.WriteBuffer(data, int64_t(length));
  stream.WriteBuffer(tail, 4);
}

bool IsStandardPngPair(int colorType, int bitDepth) {
  switch (colorType) {
    case COLOR_GRAYSCALE:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case COLOR_PALETTE:
      return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case COLOR_RGB:
    case COLOR_GRAYSCALEALPHA:
    case COLOR_RGBALPHA:
      return bitDepth == 8 || bitDepth == 16;
    default:
      return false;
  }
}

namespace {

int SamplesPerPixel(int colorType) {
  switch (colorType) {
    case COLOR_RGB:
      return 3;
    case COLOR_GRAYSCALEALPHA:
      return 2;
    case COLOR_RGBALPHA:
      return 4;
    default:
      return 1;
  }
}

}  // namespace

uint32_t PngRowBytes(int colorType, int bitDepth, uint64_t width) {
  return uint32_t((width * uint64_t(bitDepth) * uint64_t(SamplesPerPixel(colorType)) + 7) / 8);
}

uint32_t PngFilterOffset(int colorType, int bitDepth) {
  const uint32_t bytes = uint32_t(SamplesPerPixel(colorType) * bitDepth / 8);
  return bytes < 1 ? 1 : bytes;
}

int BufferBitCount(int colorType, int bitDepth) {
  if (colorType == COLOR_RGB || colorType == COLOR_RGBALPHA) return 24;
  switch (bitDepth) {
    case 1:
      return 1;
    case 2:
    case 4:
      return 4;
    default:
      return 8;
  }
}
