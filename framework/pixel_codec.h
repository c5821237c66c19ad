// Reading and writing single pixels of any buffer format, and matching colours to a
// destination's format. Internal to the framework's raster code.
#pragma once

#include <unordered_map>

#include "framework.h"

namespace pixelcodec {

// Colours travel between formats as packed B | G << 8 | R << 16 | A << 24 (the byte order
// of a 32-bit pixel in memory).
using Bgra = uint32_t;

inline Bgra BgraOfColor(TColor c) {
  return Bgra(GetBValue(c)) | (Bgra(GetGValue(c)) << 8) | (Bgra(GetRValue(c)) << 16);
}
inline TColor ColorOfBgra(Bgra p) {
  return RGBColor(uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p));
}

// A 1-bit buffer without colour table is a mask: it follows the background/text colour
// rules of TBltColors instead of a palette.
inline bool IsMask(const TPixelView& v) {
  return v.BitCount == 1 && v.Colors == nullptr;
}

inline uint32_t ReadRaw(const uint8_t* row, int x, int bitCount) {
  switch (bitCount) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (row[x >> 1] >> ((x & 1) ? 0 : 4)) & 0xF;
    case 8:
      return row[x];
    case 15:
    case 16:
      return uint32_t(row[2 * x]) | (uint32_t(row[2 * x + 1]) << 8);
    case 24: {
      const uint8_t* p = row + 3 * x;
      return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
    }
    default: {
      const uint8_t* p = row + 4 * x;
      return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) |
             (uint32_t(p[3]) << 24);
    }
  }
}

inline void WriteRaw(uint8_t* row, int x, int bitCount, uint32_t v) {
  switch (bitCount) {
    case 1: {
      uint8_t bit = uint8_t(0x80 >> (x & 7));
      row[x >> 3] = (v & 1) ? uint8_t(row[x >> 3] | bit) : uint8_t(row[x >> 3] & ~bit);
      break;
    }
    case 4: {
      uint8_t& b = row[x >> 1];
      b = (x & 1) ? uint8_t((b & 0xF0) | (v & 0xF)) : uint8_t((b & 0x0F) | ((v & 0xF) << 4));
      break;
    }
    case 8:
      row[x] = uint8_t(v);
      break;
    case 15:
    case 16:
      row[2 * x] = uint8_t(v);
      row[2 * x + 1] = uint8_t(v >> 8);
      break;
    case 24: {
      uint8_t* p = row + 3 * x;
      p[0] = uint8_t(v);
      p[1] = uint8_t(v >> 8);
      p[2] = uint8_t(v >> 16);
      break;
    }
    default: {
      uint8_t* p = row + 4 * x;
      p[0] = uint8_t(v);
      p[1] = uint8_t(v >> 8);
      p[2] = uint8_t(v >> 16);
      p[3] = uint8_t(v >> 24);
      break;
    }
  }
}

inline uint8_t Expand5(uint32_t v) {
  return uint8_t((v << 3) | (v >> 2));
}
inline uint8_t Expand6(uint32_t v) {
  return uint8_t((v << 2) | (v >> 4));
}

// Raw value of a buffer -> colour. Formats without alpha give alpha 0.
Bgra RawToBgra(uint32_t raw, const TPixelView& v, const TBltColors& colors);

// Colour -> raw value of a destination format, with a cache for indexed targets.
class TColorMatcher {
 public:
  TColorMatcher(const TPixelView& dst, const TBltColors& colors);
  uint32_t ToRaw(Bgra color);

 private:
  int FBitCount;
  const TRGBQuad* FColors;
  int FColorCount;
  bool FMask;
  Bgra FMaskBk;
  std::unordered_map<uint32_t, uint32_t> FCache;
};

// Nearest entry of a colour table (squared RGB distance, first wins on ties).
int NearestTableIndex(const TRGBQuad* colors, int count, Bgra color);

}  // namespace pixelcodec
