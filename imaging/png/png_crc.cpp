// The chunk CRC. zlib's crc32 computes the same CRC-32 as the PNG standard (reflected
// polynomial 0xEDB88320) with a faster table walk; it works on finished values, so the
// running (uncomplemented) value is complemented on the way in and out.
#include <zlib.h>

#include "pngimage.h"

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
