// LZW encoding of one frame's image data: variable-width codes, a hashed string table of
// 8009 slots, a clear code when the table is full.
#include <algorithm>
#include <vector>

#include "gif_glue.h"

namespace {

constexpr int kHashSize = 8009;
constexpr uint32_t kEmpty = 0xFFFFFFFF;

class TLZWEncoder {
 public:
  TLZWEncoder(TStream& stream, int bits, int width, int height, bool interlace, const uint8_t* data,
              int maxColor, TGIFWarning warn)
      : FWidth(width),
        FHeight(height),
        FInterlace(interlace),
        FData(data),
        FMaxColor(maxColor),
        FWriter(stream) {
    FWriter.FOnWarning = std::move(warn);
    FBits = std::max(bits, 2);
    FInitialBits = FBits + 1;
    FBitsPerCode = FInitialBits;
    FMaxCode = (1 << FBitsPerCode) - 1;
    FClearCode = 1 << FBits;
    FEOFCode = FClearCode + 1;
    FRemaining = interlace ? width : width * height;
  }

  void Compress() {
    if (FData && FWidth > 0 && FHeight > 0) {
      EncodeData();
    }
    EmitCode(FEOFCode);
  }

 private:
  int TakePixel() {
    int c = FData[FPixel++];
    if (c >= FMaxColor) GIFError(gifmsg::sMissingColor);
    return c;
  }

  bool AdvancePixel() {
    if (--FRemaining > 0) return true;
    if (!FInterlace) return false;
    FRemaining = FWidth;
    static const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
    FY += step[FPass];
    while (FY >= FHeight) {
      if (++FPass > 3) return false;
      FY = start[FPass];
    }
    FPixel = size_t(FY) * size_t(FWidth);
    return true;
  }

  static int HashIndex(uint32_t key) { return int(((key >> 4) ^ key) % kHashSize); }
  static int NextHashIndex(int h) {
    int step = h == 0 ? 1 : kHashSize - h;
    h -= step;
    return h < 0 ? h + kHashSize : h;
  }
  int Lookup(uint32_t key) const {
    for (int h = HashIndex(key);; h = NextHashIndex(h)) {
      uint32_t slot = FTable[size_t(h)];
      if ((slot >> 12) == 0xFFFFF) return -1;
      if ((slot >> 12) == key) return int(slot & 0xFFF);
    }
  }
  void Insert(uint32_t key, int code) {
    int h = HashIndex(key);
    while ((FTable[size_t(h)] >> 12) != 0xFFFFF) h = NextHashIndex(h);
    FTable[size_t(h)] = (key << 12) | uint32_t(code & 0xFFF);
  }

  void EmitClear() {
    FClearFlag = true;
    EmitCode(FClearCode);
    std::fill(FTable.begin(), FTable.end(), kEmpty);
    FFreeEntry = FClearCode + 2;
  }

  void EmitCode(int value) {
    FBucket = FBits0 > 0 ? (FBucket & ((1u << FBits0) - 1)) | (uint32_t(value) << FBits0)
                         : uint32_t(value);
    FBits0 += FBitsPerCode;
    while (FBits0 >= 8) {
      FWriter.WriteByte(uint8_t(FBucket));
      FBucket >>= 8;
      FBits0 -= 8;
    }
    if (value == FEOFCode && FBits0 > 0) {
      FWriter.WriteByte(uint8_t(FBucket));
      FBits0 = 0;
    }
    if (FFreeEntry > FMaxCode || FClearFlag) {
      if (FClearFlag) {
        FBitsPerCode = FInitialBits;
        FMaxCode = (1 << FBitsPerCode) - 1;
        FClearFlag = false;
      } else {
        ++FBitsPerCode;
        FMaxCode = FBitsPerCode == 12 ? 4096 : (1 << FBitsPerCode) - 1;
      }
    }
  }

  void EncodeData() {
    FTable.assign(kHashSize, kEmpty);
    EmitClear();
    int prefix = TakePixel();
    while (AdvancePixel()) {
      int c = TakePixel();
      uint32_t key = (uint32_t(prefix) << 8) | uint32_t(c);
      int found = Lookup(key);
      if (found >= 0) {
        prefix = found;
        continue;
      }
      EmitCode(prefix);
      prefix = c;
      if (FFreeEntry < 4095) {
        Insert(key, FFreeEntry);
        ++FFreeEntry;
      } else {
        EmitClear();
      }
    }
    EmitCode(prefix);
  }

  int FWidth, FHeight;
  bool FInterlace;
  const uint8_t* FData;
  int FMaxColor;
  TGIFWriter FWriter;
  int FBits = 2, FInitialBits = 3, FBitsPerCode = 3, FMaxCode = 7;
  int FClearCode = 4, FEOFCode = 5, FFreeEntry = 6;
  bool FClearFlag = false;
  uint32_t FBucket = 0;
  int FBits0 = 0;
  size_t FPixel = 0;
  int FRemaining = 0, FY = 0, FPass = 0;
  std::vector<uint32_t> FTable;
};

}  // namespace

void TGIFFrame::WriteImageData(TStream& Stream) {
  int bits, maxColor;
  if (FColorMap->Count() > 0) {
    bits = FColorMap->BitsPerPixel();
    maxColor = FColorMap->Count();
  } else {
    bits = FImage ? FImage->BitsPerPixel() : 8;
    maxColor = 1 << bits;
  }
  WriteByte(Stream, uint8_t(std::max(bits, 2)));
  TGIFWarning warn;
  if (FImage)
    warn = [this](const void* s, TGIFSeverity v, const std::string& m) {
      FImage->Warning(s, v, m);
    };
  {
    TLZWEncoder encoder(Stream, bits, Width(), Height(), Interlaced(), FData.data(), maxColor,
                        warn);
    encoder.Compress();
  }  // the writer emits its last sub-block here, before the terminator
  WriteByte(Stream, 0);
}
