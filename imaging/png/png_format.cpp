// Facts of the PNG format that the reader and the writer share: the chunk CRC, the chunk
// frame, the standard colour type / bit depth pairs and the row geometry.
#include <zlib.h>

#include <cstring>

#include "png_internal.h"

// zlib's crc32 computes the same CRC-32 as the PNG standard (reflected polynomial
// 0xEDB88320) with a faster table walk; it works on finished values, so the running
// (uncomplemented) value is complemented on the way in and out.
uint32_t UpdateCrc(uint32_t crc, const void* bytes, size_t length) {
  uLong c = ~crc & 0xFFFFFFFFu;
  const auto* p = static_cast<const Bytef*>(bytes);
  while (length > 0) {
    const uInt piece = length > 0x40000000u ? 0x40000000u : uInt(length);
    c = crc32(c, p, piece);
    p += piece;
    length -= piece;
  }
  return ~uint32_t(c);
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
