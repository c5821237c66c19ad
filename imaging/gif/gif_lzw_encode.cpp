// LZW encoding of one frame's image data: variable-width codes of at most 12 bits, a hashed
// string table, a clear code when the table is full, and the interlaced walk.
#include <algorithm>
#include <array>
#include <memory>

#include "gif_glue.h"

namespace {

constexpr int kHashBits = 14;
constexpr int kHashSize = 1 << kHashBits;
constexpr uint32_t kEmptySlot = 0xFFFFFFFF;
constexpr uint32_t kEmptyKey = 0xFFFFF;  // upper 20 bits of an empty slot
constexpr int kLastFreeEntry = 4095;     // codes are 12 bits; 4095 is never assigned
constexpr int kNotFound = 0xFFFF;

using THashArray = std::array<uint32_t, kHashSize>;

// String table: slot = (key << 12) | code, key = prefix code << 8 | pixel. Open addressing
// with linear probing, which visits every slot, so a key that is absent always ends at an
// empty slot however the strings fall. The table only maps strings to codes (the codes
// written do not depend on it): 16384 slots for at most 4093 strings and a multiplicative
// hash keep nearly every lookup to one probe.
class THashTable {
 public:
  THashTable() : HashTable(std::make_unique<THashArray>()) { Clear(); }

  void Clear() { HashTable->fill(kEmptySlot); }

  void Insert(uint32_t Key, int Code) {
    int slot = 0;
    if (Find(Key, slot) == kNotFound) Store(slot, Key, Code);
  }

  int Lookup(uint32_t Key) const {
    int slot = 0;
    return Find(Key, slot);
  }

  // The key's code, or kNotFound with Slot set to where the key belongs.
  int Find(uint32_t Key, int& Slot) const {
    const uint32_t* table = HashTable->data();
    int h = HashIndex(Key);
    for (;;) {
      const uint32_t upper = table[h] >> 12;
      if (upper == Key) return int(table[h] & 0xFFF);
      if (upper == kEmptyKey) break;
      h = NextHashIndex(h);
    }
    Slot = h;
    return kNotFound;
  }
  void Store(int Slot, uint32_t Key, int Code) {
    (*HashTable)[size_t(Slot)] = (Key << 12) | uint32_t(Code & 0xFFF);
  }

 private:
  static int HashIndex(uint32_t Key) { return int((Key * 2654435761u) >> (32 - kHashBits)); }
  static int NextHashIndex(int H) { return (H + 1) & (kHashSize - 1); }

  std::unique_ptr<THashArray> HashTable;
};

constexpr int MaxCodeForBits(int Bits) {
  return (1 << Bits) - 1;
}

// Bit packing, the pixel walk and the framing of the data; the string coding is the
// derived class's.
class TGIFEncoder {
 public:
  virtual ~TGIFEncoder() = default;

  TGIFWarning FOnWarning;

  void Compress(TStream& AStream, int ABitsPerPixel, int AWidth, int AHeight, bool AInterlace,
                const uint8_t* AData, int AMaxColor) {
    Stream = &AStream;
    BitsPerPixel = std::max(ABitsPerPixel, 2);
    Width = AWidth;
    Height = AHeight;
    Interlace = AInterlace;
    Data = AData;
    MaxColor = AMaxColor;
    InitialBitsPerCode = BitsPerPixel + 1;
    WriteByte(AStream, uint8_t(BitsPerPixel));  // the minimum code size, outside sub-blocks
    BitsPerCode = InitialBitsPerCode;
    MaxCode = MaxCodeForBits(BitsPerCode);
    ClearCode = 1 << BitsPerPixel;
    EOFCode = ClearCode + 1;
    BaseCode = ClearCode + 2;
    OutputBucket = 0;
    OutputBits = 0;
    cX = Interlace ? int64_t(Width) : int64_t(Width) * int64_t(Height);
    Y = 0;
    Pass = 0;
    Pixel = 0;
    {
      TGIFWriter writer(AStream);
      writer.FOnWarning = FOnWarning;
      GIFStream = &writer;
      try {
        if (Data && Width > 0 && Height > 0) EncodeData();
        EmitCode(EOFCode);
      } catch (...) {
        FlushOutput();  // what was coded before the refused pixel stays in the stream
        throw;
      }
      FlushOutput();
      writer.Flush();  // the last, shorter sub-block, before the terminator
      GIFStream = nullptr;
    }
    WriteByte(AStream, 0);
  }

 protected:
  virtual void EmitCode(int Value) {
    OutputBucket = OutputBits > 0
                       ? (OutputBucket & ((1u << OutputBits) - 1)) | (uint32_t(Value) << OutputBits)
                       : uint32_t(Value);
    OutputBits += BitsPerCode;
    while (OutputBits >= 8) {
      PutByte(uint8_t(OutputBucket));
      OutputBucket >>= 8;
      OutputBits -= 8;
    }
    if (Value == EOFCode && OutputBits > 0) {
      PutByte(uint8_t(OutputBucket));
      OutputBucket = 0;
      OutputBits = 0;
    }
  }

  virtual void EmitClear() {
    ClearFlag = true;
    EmitCode(ClearCode);
  }

  virtual void EncodeData() = 0;

  // The pixel at `Pixel`, which then moves past it.
  int TakePixel() {
    const int c = Data[Pixel++];
    if (c >= MaxColor) GIFError(gifmsg::sMissingColor);
    return c;
  }

  bool AdvancePixel() {
    if (--cX > 0) return true;
    if (!Interlace) return false;
    static constexpr int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    cX = Width;
    Y += kStep[Pass];
    while (Y >= Height) {  // the pass is over, or starts below the frame
      if (++Pass > 3) return false;
      Y = kStart[Pass];
    }
    Pixel = size_t(Y) * size_t(Width);
    return true;
  }

  int MaxColor = 0;
  int BitsPerPixel = 2;
  TStream* Stream = nullptr;
  int Width = 0, Height = 0;
  bool Interlace = false;
  const uint8_t* Data = nullptr;
  TGIFWriter* GIFStream = nullptr;
  uint32_t OutputBucket = 0;
  int OutputBits = 0;
  bool ClearFlag = false;
  int BitsPerCode = 3, InitialBitsPerCode = 3;
  int MaxCode = 7;
  int ClearCode = 4, EOFCode = 5, BaseCode = 6;
  size_t Pixel = 0;
  int64_t cX = 0;
  int Y = 0, Pass = 0;

 private:
  // Bytes reach the sub-block writer a few kilobytes at a time instead of one call each.
  void PutByte(uint8_t b) {
    FOut[FOutCount++] = b;
    if (FOutCount == int(sizeof FOut)) FlushOutput();
  }
  void FlushOutput() {
    if (FOutCount > 0) GIFStream->Write(FOut, FOutCount);
    FOutCount = 0;
  }

  uint8_t FOut[4080] = {};
  int FOutCount = 0;
};

class TLZWEncoder final : public TGIFEncoder {
 protected:
  void EmitCode(int Value) override {
    TGIFEncoder::EmitCode(Value);
    // The width grows right after the code written when the next code no longer fits.
    if (FreeEntry > MaxCode || ClearFlag) {
      if (ClearFlag) {
        BitsPerCode = InitialBitsPerCode;
        MaxCode = MaxCodeForBits(BitsPerCode);
        ClearFlag = false;
      } else {
        ++BitsPerCode;
        MaxCode = BitsPerCode == 12 ? 4096 : MaxCodeForBits(BitsPerCode);
      }
    }
  }

  void EmitClear() override {
    TGIFEncoder::EmitClear();
    HashTable->Clear();
    FreeEntry = ClearCode + 2;
  }

  void EncodeData() override {
    HashTable = std::make_unique<THashTable>();
    EmitClear();
    Prefix = TakePixel();
    while (AdvancePixel()) {
      // cX pixels follow in a row (interlaced) or in the whole frame: one tight loop over
      // them, then the walk goes on from their end.
      EncodeRun(Data + Pixel, cX);
      Pixel += size_t(cX);
      cX = 1;
    }
    EmitCode(Prefix);
    HashTable.reset();
  }

 private:
  // The string walk over N pixels, with the current string's code in a register; the
  // table is only written when a string is new.
  void EncodeRun(const uint8_t* P, int64_t N) {
    const int maxColor = MaxColor;
    int prefix = Prefix;
    for (int64_t i = 0; i < N; ++i) {
      const int c = P[i];
      if (c >= maxColor) GIFError(gifmsg::sMissingColor);
      const uint32_t key = (uint32_t(prefix) << 8) | uint32_t(c);
      int slot = 0;
      const int found = HashTable->Find(key, slot);
      if (found != kNotFound) {
        prefix = found;
        continue;
      }
      EmitCode(prefix);
      prefix = c;
      if (FreeEntry < kLastFreeEntry) {
        HashTable->Store(slot, key, FreeEntry);  // where Insert would probe to
        ++FreeEntry;
      } else {
        EmitClear();
      }
    }
    Prefix = prefix;
  }

  int Prefix = 0;
  int FreeEntry = 6;
  std::unique_ptr<THashTable> HashTable;
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
  TLZWEncoder encoder;
  if (FImage)
    encoder.FOnWarning = [this](const void* s, TGIFSeverity v, const std::string& m) {
      FImage->Warning(s, v, m);
    };
  encoder.Compress(Stream, bits, Width(), Height(), Interlaced(), FData.data(), maxColor);
}
