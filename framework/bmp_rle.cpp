// Run-length decoding of 4- and 8-bit BMP pixels. Every write is checked against the
// bitmap: encoded files in the wild often overrun a row or the picture, and a reader must
// never write outside its buffer because of them.
#include <algorithm>

#include "bmp_format.h"

namespace bmp {
namespace {

class TRleWriter {
 public:
  TRleWriter(TBitmap& bitmap, int bitCount)
      : FBitmap(bitmap), FBitCount(bitCount), FWidth(bitmap.Width()), FHeight(bitmap.Height()) {
    SelectRow();
  }

  bool Done() const { return FLine >= FHeight; }

  void Put(uint8_t index) {
    if (FX < FWidth && FRow) {
      if (FBitCount == 8) {
        FRow[FX] = index;
      } else {
        uint8_t& b = FRow[FX >> 1];
        b = (FX & 1) ? uint8_t((b & 0xF0) | (index & 0xF)) : uint8_t((b & 0x0F) | (index << 4));
      }
    }
    ++FX;  // pixels past the right edge are dropped
  }

  void EndOfLine() {
    FX = 0;
    ++FLine;
    SelectRow();
  }

  void Delta(int dx, int dy) {
    FX += dx;
    if (dy > 0) {
      FLine += dy;
      SelectRow();
    }
  }

 private:
  // Encoded lines run from the bottom of the picture upwards.
  void SelectRow() { FRow = FLine < FHeight ? FBitmap.GetScanline(FHeight - 1 - FLine) : nullptr; }

  TBitmap& FBitmap;
  int FBitCount;
  int FWidth;
  int FHeight;
  int64_t FX = 0;
  int FLine = 0;
  uint8_t* FRow = nullptr;
};

}  // namespace

void DecodeRle(const uint8_t* data, size_t size, int bitCount, TBitmap& bitmap) {
  TRleWriter out(bitmap, bitCount);
  size_t pos = 0;
  while (pos + 2 <= size && !out.Done()) {
    uint8_t count = data[pos];
    uint8_t value = data[pos + 1];
    pos += 2;
    if (count > 0) {  // encoded run
      if (bitCount == 8) {
        for (int i = 0; i < count; ++i) out.Put(value);
      } else {
        for (int i = 0; i < count; ++i) out.Put((i & 1) ? (value & 0xF) : (value >> 4));
      }
      continue;
    }
    switch (value) {
      case 0:
        out.EndOfLine();
        break;
      case 1:
        return;  // end of bitmap
      case 2:
        if (pos + 2 > size) return;
        out.Delta(data[pos], data[pos + 1]);
        pos += 2;
        break;
      default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
        size_t bytes = bitCount == 8 ? value : (size_t(value) + 1) / 2;
        if (pos + bytes > size) bytes = size - pos;  // truncated: keep what is there
        int pixels = bitCount == 8 ? int(bytes) : std::min<int>(value, int(bytes * 2));
        for (int i = 0; i < pixels; ++i) {
          uint8_t b = data[pos + (bitCount == 8 ? i : i / 2)];
          out.Put(bitCount == 8 ? b : ((i & 1) ? (b & 0xF) : (b >> 4)));
        }
        pos += (bytes + 1) & ~size_t(1);
        break;
      }
    }
  }
}

}  // namespace bmp
