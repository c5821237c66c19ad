// What the PNG module's source files share and its users do not need: the file's byte
// order, the chunk CRC and the one chunk writer, the row geometry of the format, the
// in-memory image buffers of the header chunk, the zlib helpers and the error texts.
// Not part of the module's API.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pngimage.h"

// ---------------------------------------------------------------------------------------
// Byte order and chunk frames

inline uint32_t ReadBE32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint16_t ReadBE16(const uint8_t* p) {
  return uint16_t((p[0] << 8) | p[1]);
}
inline void WriteBE32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}
inline void WriteBE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

// Running CRC-32 of the PNG standard: start at 0xFFFFFFFF, the chunk CRC is the complement.
uint32_t UpdateCrc(uint32_t crc, const void* bytes, size_t length);

// Writes one chunk frame: big-endian length, the four name bytes, the data (none when
// length is 0) and the big-endian CRC over name and data. Every chunk the module writes,
// IDAT included, goes through here.
void WritePngChunk(TStream& stream, const TChunkName& name, const uint8_t* data, size_t length);

// ---------------------------------------------------------------------------------------
// Row geometry of the format

// The colour type / bit depth pairs of the PNG standard: the only ones that have a buffer
// format, a row decoder and a row encoder.
bool IsStandardPngPair(int colorType, int bitDepth);

// Bytes of a PNG row of `width` pixels without its filter byte.
uint32_t PngRowBytes(int colorType, int bitDepth, uint64_t width);
// Distance in bytes between a byte and the one the row filters take as its left
// neighbour: the size of one pixel, at least 1.
uint32_t PngFilterOffset(int colorType, int bitDepth);

// Bit field of `bits` bits (1, 2, 4 or 8) at pixel position x of a packed row, the first
// pixel in the high bits.
inline uint32_t GetPackedField(const uint8_t* row, uint32_t x, int bits) {
  const uint32_t bit = x * uint32_t(bits);
  const int shift = 8 - bits - int(bit & 7);
  return (row[bit >> 3] >> shift) & ((1u << bits) - 1);
}
inline void SetPackedField(uint8_t* row, uint32_t x, int bits, uint32_t value) {
  const uint32_t bit = x * uint32_t(bits);
  const int shift = 8 - bits - int(bit & 7);
  const uint8_t mask = uint8_t(((1u << bits) - 1) << shift);
  row[bit >> 3] = uint8_t((row[bit >> 3] & ~mask) | ((value << shift) & mask));
}

// The Adam7 pass pattern of the PNG standard, indexed by pass 0 to 6.
struct TAdam7Pass {
  uint32_t StartRow, StartColumn, RowIncrement, ColumnIncrement;
  // Pixels of an image row of `width` pixels that belong to this pass.
  uint32_t Width(uint32_t width) const {
    return width > StartColumn ? (width - StartColumn + ColumnIncrement - 1) / ColumnIncrement : 0;
  }
};
inline constexpr TAdam7Pass kAdam7Passes[7] = {{0, 0, 8, 8}, {0, 4, 8, 8}, {4, 0, 8, 4},
                                               {0, 2, 4, 4}, {2, 0, 4, 2}, {0, 1, 2, 2},
                                               {1, 0, 2, 1}};

// ---------------------------------------------------------------------------------------
// The header chunk's image buffers

struct TBitmapInfoHeader {
  uint32_t biSize = 0;
  int32_t biWidth = 0;
  int32_t biHeight = 0;  // positive: bottom-up rows
  uint16_t biPlanes = 0;
  uint16_t biBitCount = 0;
  uint32_t biCompression = 0;
  uint32_t biSizeImage = 0;
  int32_t biXPelsPerMeter = 0;
  int32_t biYPelsPerMeter = 0;
  uint32_t biClrUsed = 0;
  uint32_t biClrImportant = 0;
};

struct TMAXBITMAPINFO {
  TBitmapInfoHeader bmiHeader;
  std::array<TRGBQuad, 256> bmiColors{};
};

// Everything the header chunk owns for the decoded image. A set is built whole (through
// the size budget) before it replaces the one in use, so a refused allocation leaves the
// image as it was.
struct TImageBuffers {
  TPixelBuffer Pixels;  // bottom-up rows of BytesPerRow bytes
  TPixelBuffer Extra;   // low bytes of 16-bit samples, laid out like Pixels
  TPixelBuffer Alpha;   // Width bytes a row, rows from the top
  std::unique_ptr<TPalette> Palette;
  bool HasPalette = false;
  TMAXBITMAPINFO Info{};
  uint32_t BytesPerRow = 0;
};

// Bits per pixel of the pixel buffer for a header (2-bit images are held with 4 bits).
int BufferBitCount(int colorType, int bitDepth);
// The image's header when it describes a buffer format; a missing header, or one left
// empty by a failed load, is EPNGHeaderNotPresent.
TChunkIHDR& ImageHeader(const TPngImage& image);
// A zeroed buffer of `bytes` bytes after the budget check; a refusal is EPNGOutMemory.
TPixelBuffer ZeroedImageBuffer(uint64_t bytes);

// ---------------------------------------------------------------------------------------
// zlib and error texts

// Whole-buffer zlib helpers (compressed text). False on any zlib failure.
bool InflateBuffer(const uint8_t* input, size_t size, std::string& output);
bool DeflateBuffer(const std::string& input, int level, std::vector<uint8_t>& output);

// The zlib failure message for a zlib return code ("... Description: data error (-3)").
std::string ZlibErrorMessage(int zlibResult);
const char* ZlibErrorText(int zlibResult);

// The texts of the general EPngError.
extern const char* const EPngCriticalChunkExistsText;  // adding IHDR/IDAT/PLTE/IEND, 2nd gAMA
extern const char* const EPngInvalidImageText;         // adding to an image without IHDR/IEND
extern const char* const EPngIncompatibleAssignText;   // Assign from a chunk of another class
extern const char* const EPngNoPaletteEntryText;       // palette index out of range
extern const char* const EPngEmptyImageText;           // saving an image of zero width or height
