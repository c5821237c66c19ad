// BMP file layout shared by the reader and the writer: header sizes, compression codes,
// little-endian helpers and the description of a parsed DIB header. Internal.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "framework.h"

namespace bmp {

constexpr uint32_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;  // OS/2 1.x
constexpr uint32_t kInfoHeaderSize = 40;  // Windows 3
constexpr uint32_t kV4HeaderSize = 108;
constexpr uint32_t kV5HeaderSize = 124;
constexpr uint16_t kSignature = 0x4D42;  // "BM"

enum TCompression : uint32_t {
  biRGB = 0,
  biRLE8 = 1,
  biRLE4 = 2,
  biBitfields = 3,
  biJPEG = 4,
  biPNG = 5,
  biAlphaBitfields = 6,
};

inline uint16_t Get16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t Get32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v);
  Put16(p + 2, v >> 16);
}

// One colour channel described by a bit mask: where it sits and how to widen it to 8 bits.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  uint32_t Max = 0;  // largest value after shifting (Mask >> Shift)

  static TChannel Of(uint32_t mask);
  // The channel of a pixel scaled to 0..255 (rounded).
  uint8_t Extract(uint32_t pixel) const {
    if (Max == 0) return 0;
    uint32_t v = (pixel & Mask) >> Shift;
    if (Max == 255) return uint8_t(v);
    return uint8_t((uint64_t(v) * 255 + Max / 2) / Max);
  }
};

// What the headers say about the pixels, whatever the header version.
struct TDibInfo {
  uint32_t HeaderSize = 0;
  int64_t Width = 0;
  int64_t Height = 0;  // always positive; TopDown tells the row order
  bool TopDown = false;
  int BitCount = 0;
  uint32_t Compression = biRGB;
  uint32_t SizeImage = 0;
  uint32_t ColorsUsed = 0;
  bool HasMasks = false;  // bit fields (explicit or the 16/32-bit defaults)
  uint32_t RedMask = 0, GreenMask = 0, BlueMask = 0, AlphaMask = 0;
  std::vector<TRGBQuad> Colors;
};

// Header parsing (the bytes of `h` past the header's own size are zero).
void ParseCoreHeader(const uint8_t* h, TDibInfo& info);
void ParseInfoHeader(const uint8_t* h, TDibInfo& info);
// Bytes of masks stored between a 40-byte header and the colour table.
uint32_t MaskBytesAfterHeader(const TDibInfo& info);
// Checks size, bit count, compression and masks, and fills in the default masks.
void Validate(TDibInfo& info);

// Raises EInvalidGraphic with the message.
[[noreturn]] void Fail(const char* message);

extern const char* const kMsgTruncated;
extern const char* const kMsgBadHeader;

// Decodes RLE8 / RLE4 data into an indexed bitmap already sized to the picture (rows are
// laid out bottom-up in the data). Runs past the right edge are clipped, a delta or line
// end past the last row ends the picture, and data that stops before the end-of-bitmap
// mark leaves the remaining pixels at index 0.
void DecodeRle(const uint8_t* data, size_t size, int bitCount, TBitmap& bitmap);

}  // namespace bmp
