// LZW encoding of one frame's image data: variable-width codes of at most 12 bits, a hashed
// string table, a clear code when the table is full, and the interlaced walk. A compact
// mode, for files made to be small, places the clear codes where they save bits: it may
// keep coding with a full table, or start a new table before the codes widen.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "gif_glue.h"

namespace {

constexpr int kHashBits = 14;
constexpr int kHashSize = 1 << kHashBits;
constexpr uint32_t kEmptySlot = 0xFFFFFFFF;
constexpr uint32_t kEmptyKey = 0xFFFFF;  // upper 20 bits of an empty slot
constexpr int kLastFreeEntry = 4095;     // codes are 12 bits; 4095 is never assigned
constexpr int kNotFound = 0xFFFF;
constexpr int kInterlaceStart[4] = {0, 4, 2, 1}, kInterlaceStep[4] = {8, 8, 4, 2};

using THashArray = std::array<uint32_t, kHashSize>;

constexpr int MaxCodeForBits(int Bits) {
  return (1 << Bits) - 1;
}

// String table: slot = (key << 12) | code, key = prefix code << 8 | pixel. Open addressing
// with linear probing, which visits every slot, so a key that is absent always ends at an
// empty slot however the strings fall. The table only maps strings to codes (the codes
// written do not depend on it): 16384 slots for at most 4093 strings and a multiplicative
// hash keep nearly every lookup to one probe.
class THashTable {
 public:
  THashTable() : HashTable(std::make_unique<THashArray>()) { Clear(); }

  void Clear() { HashTable->fill(kEmptySlot); }
  void Empty(int Slot) { (*HashTable)[size_t(Slot)] = kEmptySlot; }

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

constexpr int kCodeLimit = 4096;       // a full table: every 12-bit code assigned
constexpr size_t kMinimumSpan = 1024;  // pixels a choice is weighed over, at the least
constexpr int kFirstChoiceBits = 10;   // narrower tables are always kept

// The table has just become full, or (when Growing) its width is about to grow from 10 bits
// on: the points where the compact coder weighs a clear code.
bool AtChoice(int FreeEntry, int MaxCode, int Bits, bool Growing) {
  return (Growing && FreeEntry > MaxCode && Bits >= kFirstChoiceBits) || FreeEntry == kCodeLimit;
}

// One way of coding the pixels ahead, tried beside another: its string table, the next code
// it assigns, the width of its codes, the codes it wrote (code | width << 16) and their
// bits in all. It adds strings and widens codes as the encoder does. The first time it
// reaches a point of choice its state is marked, and the strings it adds after that are
// noted, so that it can be kept up to that point only.
struct TLZWBranch {
  THashTable* Table = nullptr;
  bool Growing = true;
  int FreeEntry = 0, Bits = 0, MaxCode = 0, Prefix = 0;
  int64_t Cost = 0;
  std::vector<uint32_t> Codes;
  struct TMark {
    size_t Pixel = 0;  // 0: none
    size_t Codes = 0;
    int FreeEntry = 0, Bits = 0, MaxCode = 0, Prefix = 0;
  } Mark;
  std::vector<int> Added;  // slots filled after the mark

  void Start(THashTable& ATable, int AFreeEntry, int ABits, int AMaxCode, int APrefix) {
    Table = &ATable;
    FreeEntry = AFreeEntry, Bits = ABits, MaxCode = AMaxCode, Prefix = APrefix;
    Cost = 0;
    Codes.clear();
    Mark = TMark{};
    Added.clear();
  }
  void Put(int Code) {
    Codes.push_back(uint32_t(Code) | uint32_t(Bits) << 16);
    Cost += Bits;
  }
  [[gnu::always_inline]] void Step(const uint8_t* P, size_t J) {
    const uint32_t key = (uint32_t(Prefix) << 8) | P[J];
    int slot = 0;
    const int found = Table->Find(key, slot);
    if (found != kNotFound) {
      Prefix = found;
      return;
    }
    Put(Prefix);
    if (FreeEntry > MaxCode) MaxCode = ++Bits == 12 ? kCodeLimit : MaxCodeForBits(Bits);
    Prefix = P[J];
    const bool stored = FreeEntry < kCodeLimit;
    if (stored) Table->Store(slot, key, FreeEntry++);
    if (Mark.Pixel != 0) {
      if (stored) Added.push_back(slot);
    } else if (stored && AtChoice(FreeEntry, MaxCode, Bits, Growing)) {
      Mark = TMark{J, Codes.size(), FreeEntry, Bits, MaxCode, Prefix};
    }
  }
  // Back to the mark: the codes and strings after it are dropped.
  void ReturnToMark() {
    Codes.resize(Mark.Codes);
    for (auto slot = Added.rbegin(); slot != Added.rend(); ++slot) Table->Empty(*slot);
    FreeEntry = Mark.FreeEntry, Bits = Mark.Bits, MaxCode = Mark.MaxCode, Prefix = Mark.Prefix;
  }
};

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

  // A code at the given width, without any change of width or table.
  void PutCode(int Value, int Bits) {
    BitsPerCode = Bits;
    TGIFEncoder::EmitCode(Value);
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
    cX = Width;
    Y += kInterlaceStep[Pass];
    while (Y >= Height) {  // the pass is over, or starts below the frame
      if (++Pass > 3) return false;
      Y = kInterlaceStart[Pass];
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
 public:
  // Compact: see EncodeCompact; Growing: with the choices where the width grows.
  TLZWEncoder(bool ACompact, bool AGrowing) : Compact(ACompact), Growing(AGrowing) {}
  // Whether a clear code was chosen before the table was full.
  bool ClearedEarly() const { return FClearedEarly; }

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
    if (Compact) {
      EncodeCompact();
      HashTable.reset();
      return;
    }
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

  // The pixels in the order they are coded: the rows of an interlaced frame pass by pass.
  const uint8_t* CodingOrder(std::vector<uint8_t>& Buffer) {
    const size_t n = size_t(Width) * size_t(Height);
    if (Interlace) {
      Buffer.resize(n);
      size_t k = 0;
      for (int pass = 0; pass < 4; ++pass)
        for (int y = kInterlaceStart[pass]; y < Height;
             y += kInterlaceStep[pass], k += size_t(Width))
          std::memcpy(Buffer.data() + k, Data + size_t(y) * size_t(Width), size_t(Width));
    }
    const uint8_t* P = Interlace ? Buffer.data() : Data;
    for (size_t i = 0; i < n; ++i)
      if (P[i] >= MaxColor) GIFError(gifmsg::sMissingColor);
    return P;
  }

  // At each point of choice the pixels ahead are coded both ways, side by side (their table
  // lookups overlap): going on with the table, and a clear code with a new table. The
  // cheaper way is kept, up to its own next point of choice if it reaches one. The pixels
  // weighed: as many as since the last clear code, or, once the table is full, as many as it
  // took to fill.
  void EncodeCompact() {
    std::vector<uint8_t> ordered;
    const uint8_t* P = CodingOrder(ordered);
    const size_t n = size_t(Width) * size_t(Height);
    auto spare = std::make_unique<THashTable>();
    TLZWBranch going, restarting;
    EmitClear();
    size_t cleared = 0, filled = 0;
    int prefix = P[0];
    for (size_t i = 1; i < n; ++i) {
      const uint32_t key = (uint32_t(prefix) << 8) | P[i];
      int slot = 0;
      const int found = HashTable->Find(key, slot);
      if (found != kNotFound) {
        prefix = found;
        continue;
      }
      EmitCode(prefix);
      prefix = P[i];
      if (FreeEntry < kCodeLimit) {
        HashTable->Store(slot, key, FreeEntry++);
        if (FreeEntry == kCodeLimit) filled = i - cleared;
        if (!AtChoice(FreeEntry, MaxCode, BitsPerCode, Growing) || FreeEntry == kCodeLimit)
          continue;
      }
      // Choices follow each other while the kept way stops at its own point of choice.
      for (;;) {
        const size_t span = FreeEntry == kCodeLimit ? filled : i - cleared;
        const size_t end = std::min(n, i + std::max(span, kMinimumSpan));
        going.Growing = restarting.Growing = Growing;
        going.Start(*HashTable, FreeEntry, BitsPerCode, MaxCode, prefix);
        spare->Clear();
        restarting.Start(*spare, ClearCode + 2, BitsPerCode, 0, prefix);
        restarting.Put(ClearCode);
        restarting.Bits = InitialBitsPerCode;
        restarting.MaxCode = MaxCodeForBits(InitialBitsPerCode);
        for (size_t j = i + 1; j < end; ++j) {
          going.Step(P, j);
          restarting.Step(P, j);
        }
        const bool restart = restarting.Cost + restarting.Bits < going.Cost + going.Bits;
        TLZWBranch& kept = restart ? restarting : going;
        const bool marked = kept.Mark.Pixel != 0;
        if (marked) kept.ReturnToMark();
        for (uint32_t code : kept.Codes) PutCode(int(code & 0xFFFF), int(code >> 16));
        BitsPerCode = kept.Bits, MaxCode = kept.MaxCode, FreeEntry = kept.FreeEntry;
        prefix = kept.Prefix;
        if (restart) {
          FClearedEarly |= going.FreeEntry < kCodeLimit;
          std::swap(HashTable, spare);
          cleared = i;
        }
        if (!marked) {
          i = end - 1;
          break;
        }
        i = kept.Mark.Pixel;
        if (FreeEntry == kCodeLimit) filled = i - cleared;
      }
    }
    EmitCode(prefix);
  }

  bool Compact = false;
  bool Growing = true;
  bool FClearedEarly = false;
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
  TGIFWarning warning;
  if (FImage)
    warning = [this](const void* s, TGIFSeverity v, const std::string& m) {
      FImage->Warning(s, v, m);
    };
  if (!FImage || !FImage->CompactEncoding()) {
    TLZWEncoder encoder(false, false);
    encoder.FOnWarning = warning;
    encoder.Compress(Stream, bits, Width(), Height(), Interlaced(), FData.data(), maxColor);
    return;
  }
  // A clear code chosen where the width grows pays on noisy pictures but can cut a table
  // short that later repeats would have used: then the frame is also coded with clear codes
  // weighed only at a full table, and the smaller coding is kept.
  TMemoryStream codings[2];
  TLZWEncoder encoder(true, true);
  encoder.Compress(codings[0], bits, Width(), Height(), Interlaced(), FData.data(), maxColor);
  int kept = 0;
  if (encoder.ClearedEarly()) {
    TLZWEncoder(true, false)
        .Compress(codings[1], bits, Width(), Height(), Interlaced(), FData.data(), maxColor);
    if (codings[1].Size() < codings[0].Size()) kept = 1;
  }
  Stream.WriteBuffer(codings[kept].Memory(), codings[kept].Size());
}
