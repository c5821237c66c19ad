// LZW decoding of one frame's image data.
//
// The decoder writes each code's string straight into the pixel rows when the code's
// chain is known to be sound: every table entry remembers the length of its string when
// its prefix is a literal or an earlier sound entry. In a frame stored row after row the
// string of such an entry already stands in the decoded pixels (where its prefix was
// written, followed by one pixel), so it is copied from there, short strings as one block
// of kCopyBlock bytes; interlaced frames walk the chain, last pixel first. Entries made
// from corrupt data (a prefix that is not yet defined, the clear or end code, itself) have
// no known length; their codes go through an explicit stack of 8192 values exactly like
// the classic decoder, so circular entries and over-long chains fail the same way.
#include <algorithm>
#include <array>
#include <cstring>

#include "gif_glue.h"

TGIFBitReader::TGIFBitReader(TStream& AStream, TGIFWarning OnWarning)
    : FOnWarning(std::move(OnWarning)), FStream(AStream, DecoderBufferSize) {
  FStream.FOnWarning = [this](const void* sender, TGIFSeverity s, const std::string& m) {
    if (FOnWarning) FOnWarning(sender, s, m);
  };
}

bool TGIFBitReader::Refill(int Bits) {
  if (FEOF) {
    if (FOnWarning) FOnWarning(this, gsWarning, gifmsg::sBitBufferUnderrun);
    return false;
  }
  FBuffer[0] = FBuffer[FLastByte - 2];
  FBuffer[1] = FBuffer[FLastByte - 1];
  int64_t got = FStream.Read(FBuffer + 2, 254);
  FLastByte = int(got) + 2;
  FStartBit = FStartBit - FLastBit + 16;
  FLastBit = FLastByte * 8;
  if (FStartBit + Bits > FLastBit) {
    if (FOnWarning) FOnWarning(this, gsWarning, gifmsg::sBitBufferUnderrun);
    return false;
  }
  FEOF = FStream.IsEOF();
  return true;
}

void TGIFBitReader::SkipData() {
  FStream.SkipData();
  FEOF = true;
}

uint64_t MaxEncodablePixels(int64_t Bytes, int MinCodeSize) {
  if (Bytes <= 0) return 0;
  // Codes are never narrower than MinCodeSize + 1 bits and none stands for more than
  // 4098 pixels (an acyclic chain through every table entry, plus one).
  uint64_t codes = uint64_t(Bytes) * 8 / uint64_t(MinCodeSize + 1) + 1;
  return codes * 4098;
}

namespace {

constexpr int kTableSize = 4096;
constexpr int kStackSize = 8192;
constexpr int kCopyBlock = 16;  // short strings are copied as one block of this size

// Where decoded pixels go: the whole buffer in order, or the rows in interlace order.
class TPixelSink {
 public:
  explicit TPixelSink(const TLZWTarget& t) : FTarget(t) {
    if (t.Interlaced) {
      FRows.reserve(size_t(t.Height));
      int row = 0, step = 8, pass = 0;
      for (int i = 0; i < t.Height; ++i) {
        FRows.push_back(row);
        row += step;
        while (row >= t.Height && pass < 4) {
          if (pass > 0) step /= 2;
          ++pass;
          row = step / 2;
        }
      }
      OpenRow();
    } else {
      FCur = t.Pixels;
      FEnd = t.Pixels + size_t(t.Width) * size_t(t.Height);
    }
  }

  size_t Room() const { return size_t(FEnd - FCur); }
  bool Full() const { return FCur == FEnd; }
  uint8_t* Cur() { return FCur; }
  void Advance(size_t n) {
    FCur += n;
    if (FCur == FEnd) NextSegment();
  }
  // Copies n pixels across rows; stops when every pixel is written.
  void Write(const uint8_t* src, size_t n) {
    while (n > 0 && FCur != FEnd) {
      size_t k = std::min(n, Room());
      std::memcpy(FCur, src, k);
      src += k;
      n -= k;
      Advance(k);
    }
  }
  void Put(uint8_t v) { Write(&v, 1); }
  int64_t Done() const {
    if (!FTarget.Interlaced) return FCur - FTarget.Pixels;
    return int64_t(FRowIndex) * FTarget.Width + (FCur - (FEnd - FTarget.Width));
  }

 private:
  void NextSegment() {
    if (!FTarget.Interlaced) return;
    ++FRowIndex;
    OpenRow();
  }
  void OpenRow() {
    if (FRowIndex >= FRows.size()) {
      FCur = FEnd = nullptr;
      return;
    }
    FCur = FTarget.Pixels + size_t(FRows[FRowIndex]) * size_t(FTarget.Width);
    FEnd = FCur + FTarget.Width;
  }

  const TLZWTarget& FTarget;
  std::vector<int> FRows;
  size_t FRowIndex = 0;
  uint8_t* FCur = nullptr;
  uint8_t* FEnd = nullptr;
};

}  // namespace

namespace giflzw {

// The row-after-row decoder's position. It lives in locals of the decoding loop: pixel
// stores may alias any memory, so state held in the decoder object would be reloaded
// after each of them.
struct TLinear {
  size_t Pos = 0;        // pixels written
  size_t PrevStart = 0;  // where the previous code's string starts
  int PrevCode = 0;
  int PrevLength = 0;  // the previous string's length when its chain is sound, else 0
  int FirstPixel = 0;  // the first pixel of the string written last
  int NextFree = 0, Limit = 0, CodeSize = 0;
  int BitStart = 0, BitLast = 0;  // the bit reader's window
  bool Ended = false;
};

struct TLZWDecoder {
  TGIFBitReader& Reader;
  const TLZWTarget& Target;
  TPixelSink Sink;
  int MinCodeSize, ClearCode, EOFCode;
  int CodeSize = 0, CodeLimit = 0, NextFree = 0;
  int FirstPixel = 0, PrevCode = 0;
  uint16_t Prefix[kTableSize] = {};
  uint16_t Suffix[kTableSize] = {};
  uint16_t Length[kTableSize] = {};  // 0: not known to be sound
  // Where a sound code's string stands (rows in order): in the decoded pixels for table
  // entries, in a table of single pixels for literals.
  const uint8_t* Source[kTableSize] = {};
  uint16_t Stack[kStackSize];
  uint8_t Scratch[kTableSize + 2];

  TLZWDecoder(TGIFBitReader& r, int minCodeSize, const TLZWTarget& t)
      : Reader(r), Target(t), Sink(t), MinCodeSize(minCodeSize) {
    ClearCode = 1 << minCodeSize;
    EOFCode = ClearCode + 1;
    int literals = std::min(ClearCode, kTableSize);
    static const auto single = [] {  // with room for a block copy from the last one
      std::array<uint8_t, kTableSize + kCopyBlock> values{};
      for (int n = 0; n < kTableSize; ++n) values[size_t(n)] = uint8_t(n);
      return values;
    }();
    for (int n = 0; n < literals; ++n) {
      Suffix[n] = uint16_t(n);
      Length[n] = 1;
      Source[n] = &single[size_t(n)];
    }
    NextFree = std::min(ClearCode + 2, kTableSize);
  }

  // The next code at the current width; -1 past the tables (see TooWide).
  int ReadCode() {
    int code = Reader.ReadBits(CodeSize);
    return code < kTableSize ? code : TooWide();
  }

  // Forgets the entries a clear code drops (those below nextFree).
  void ClearEntries(int nextFree) {
    for (int n = ClearCode + 2; n < nextFree; ++n) {
      Prefix[n] = 0;
      Length[n] = 0;
    }
  }

  void Reset() {
    ClearEntries(NextFree);
    CodeSize = MinCodeSize + 1;
    CodeLimit = 2 * ClearCode;
    NextFree = ClearCode + 2;
  }

  // The string of a sound code, plus the extra pixel of the KwKwK case (extra >= 0).
  void EmitSound(int code, int extra) {
    size_t total = size_t(Length[code]) + (extra >= 0 ? 1 : 0);
    bool direct = Sink.Room() >= total;
    uint8_t* base = direct ? Sink.Cur() : Scratch;
    uint8_t* p = base + total;
    if (extra >= 0) *--p = uint8_t(extra);
    int c = code;
    while (c >= ClearCode) {
      *--p = uint8_t(Suffix[c]);
      c = Prefix[c];
    }
    *--p = uint8_t(c);
    FirstPixel = Suffix[c];
    if (direct)
      Sink.Advance(total);
    else
      Sink.Write(Scratch, total);
  }

  // Any code's string, plus the extra pixel of the KwKwK case (extra >= 0), onto the
  // explicit stack last pixel first, with the classic limits (8192 values, no entry its
  // own prefix). Answers the stack depth; first gets the string's first pixel.
  int StackChain(int code, int extra, int& first) {
    int sp = 0;
    auto push = [&](int v) {
      if (sp >= kStackSize) GIFError(gifmsg::sBadData);
      Stack[sp++] = uint16_t(v);
    };
    if (extra >= 0) push(extra);
    int c = code;
    while (c >= ClearCode) {
      push(Suffix[c]);
      if (Prefix[c] == c) GIFError(gifmsg::sCircularTable);
      c = Prefix[c];
    }
    first = Suffix[c];
    push(first);
    return sp;
  }

  // Any code, through the explicit stack, into the row sink.
  void EmitChecked(int code, int extra) {
    int sp = StackChain(code, extra, FirstPixel);
    while (sp > 0 && !Sink.Full()) Sink.Put(uint8_t(Stack[--sp]));
  }

  void AddEntry() {
    if (NextFree > kTableSize - 1) return;
    int n = NextFree;
    Prefix[n] = uint16_t(PrevCode);
    Suffix[n] = uint16_t(FirstPixel);
    Length[n] = (PrevCode < n && Length[PrevCode] != 0) ? uint16_t(Length[PrevCode] + 1) : 0;
    ++NextFree;
    if (NextFree >= CodeLimit && CodeLimit <= kTableSize - 1) {
      CodeLimit *= 2;
      ++CodeSize;
    }
  }

  // Rows in order. The loop reads a code, writes its string and adds the table entry;
  // everything unusual (clear and end codes, a code naming the entry being made, a chain
  // not known to be sound, an empty bit window) leaves the loop for a function of its own.
  void RunLinear() {
    uint8_t* const out = Target.Pixels;
    const size_t total = size_t(Target.Width) * size_t(Target.Height);
    TLinear s;
    s.BitStart = Reader.FStartBit;
    s.BitLast = Reader.FLastBit;
    s.NextFree = NextFree;
    size_t nextReport = 10000;
    int code = ClearCode;  // decoding starts as after a clear code
    for (;;) {
      if (IsTableCode(code, s.NextFree)) {
        const int length = Length[code];
        if (length != 0 && length <= kCopyBlock && total - s.Pos >= kCopyBlock)
          CopyShort(out, s, code, length);
        else
          s = Unusual(s, code, out, total);
      } else {
        s = Unusual(s, code, out, total);
        if (s.Ended) break;
      }
      if (s.Pos >= total) break;
      if (s.Pos >= nextReport && Target.Progress) {
        Tidy(out, s.Pos, total);
        Target.Progress(int64_t(s.Pos));
        nextReport = s.Pos + 10000;
      }
      code = Read(s);
      if (code < 0) break;
    }
    Tidy(out, s.Pos, total);
    Reader.FStartBit = s.BitStart;
  }

  // A literal or a defined entry: neither the clear nor the end code, nor one to come.
  bool IsTableCode(int code, int nextFree) const {
    return code < nextFree && code != ClearCode && code != EOFCode;
  }

  // Block copies leave up to kCopyBlock - 1 bytes past the decoded pixels that the next
  // strings overwrite; whenever the pixels can be seen, those bytes hold the fill value.
  void Tidy(uint8_t* out, size_t pos, size_t total) const {
    std::memset(out + pos, Target.Fill, std::min(total - pos, size_t(kCopyBlock)));
  }

  // A sound string of at most kCopyBlock pixels with that much room left: one block
  // copy (the pixels past the string are garbage that the next strings overwrite), then
  // the entry for the previous string plus this one's first pixel.
  [[gnu::always_inline]] void CopyShort(uint8_t* out, TLinear& s, int code, int length) {
    const uint8_t* src = Source[code];
    uint8_t block[kCopyBlock];
    std::memcpy(block, src, kCopyBlock);
    std::memcpy(out + s.Pos, block, kCopyBlock);
    s.FirstPixel = block[0];
    AddEntry(s, out);
    s.PrevCode = code;
    s.PrevLength = length;
    s.PrevStart = s.Pos;
    s.Pos += size_t(length);
  }

  // The entry NextFree: the previous code's string and the current first pixel, sound
  // when the previous code is; the code width grows when the next code would not fit.
  [[gnu::always_inline]] void AddEntry(TLinear& s, uint8_t* out) {
    if (s.NextFree >= kTableSize) return;
    const int n = s.NextFree++;
    Prefix[n] = uint16_t(s.PrevCode);
    Suffix[n] = uint16_t(s.FirstPixel);
    Length[n] = s.PrevLength != 0 ? uint16_t(s.PrevLength + 1) : 0;
    Source[n] = out + s.PrevStart;
    if (s.NextFree >= s.Limit && s.Limit < kTableSize) {
      s.Limit *= 2;
      ++s.CodeSize;
    }
  }

  // The next code from the bit window; the reader refills an exhausted window.
  [[gnu::always_inline]] int Read(TLinear& s) {
    const int bits = s.CodeSize;
    if (s.BitStart + bits > s.BitLast) {
      const TRefill r = ReadRefilling(s.BitStart, bits);
      s.BitStart = r.Start;
      s.BitLast = r.Last;
      return r.Code;
    }
    const uint32_t v = LoadLE32(Reader.FBuffer + (s.BitStart >> 3));
    const int c = int((v >> (s.BitStart & 7)) & ((1u << bits) - 1));
    s.BitStart += bits;
    return c < kTableSize ? c : TooWide();
  }

  struct TRefill {
    int Code, Start, Last;
  };
  [[gnu::noinline]] TRefill ReadRefilling(int start, int bits) {
    Reader.FStartBit = start;
    int c = Reader.ReadBits(bits);
    return TRefill{c < kTableSize ? c : TooWide(), Reader.FStartBit, Reader.FLastBit};
  }

  // The codes the loop does not copy itself. Answers the new state; Ended is set when
  // decoding stops (end code, no data after a clear code).
  [[gnu::noinline]] TLinear Unusual(TLinear s, int code, uint8_t* out, size_t total) {
    if (code == ClearCode) return Restart(s, out);
    if (code == EOFCode) {
      s.Ended = true;
      return s;
    }
    int incode = code, extra = -1;
    if (code >= s.NextFree) {  // the entry being made: the previous string and its first pixel
      extra = s.FirstPixel;
      code = s.PrevCode;
    }
    const size_t start = s.Pos;
    if (const size_t length = Length[code]) {
      const size_t k = std::min(length, total - s.Pos);
      std::memcpy(out + s.Pos, Source[code], k);  // a sound string lies before s.Pos
      s.Pos += k;
      if (extra >= 0 && s.Pos < total) out[s.Pos++] = uint8_t(extra);
      s.FirstPixel = out[start];
    } else {
      s.FirstPixel = Checked(code, extra, out, s.Pos, total);
    }
    AddEntry(s, out);
    s.PrevCode = incode;
    s.PrevLength = incode < s.NextFree ? Length[incode] : 0;
    s.PrevStart = start;
    return s;
  }

  // A clear code: the table forgets its entries and the width resets; the next code that
  // is not a clear code is taken as a pixel as it is.
  TLinear Restart(TLinear s, uint8_t* out) {
    ClearEntries(s.NextFree);
    s.CodeSize = MinCodeSize + 1;
    s.Limit = 2 * ClearCode;
    s.NextFree = ClearCode + 2;
    int code;
    do code = Read(s);
    while (code == ClearCode);
    if (code < 0) {
      s.Ended = true;
      return s;
    }
    s.FirstPixel = s.PrevCode = code;
    s.PrevLength = code < s.NextFree ? Length[code] : 0;
    s.PrevStart = s.Pos;
    out[s.Pos++] = uint8_t(code);
    return s;
  }

  // 13-bit codes of 4096 and more do not index the tables: decoding ends there.
  [[gnu::noinline]] int TooWide() {
    if (Target.Warning) Target.Warning(&Reader, gsWarning, gifmsg::sBadData);
    return -1;
  }

  // A code whose chain is not known to be sound, through the explicit stack; answers the
  // new first pixel.
  int Checked(int code, int extra, uint8_t* out, size_t& pos, size_t total) {
    int first = 0;
    int sp = StackChain(code, extra, first);
    while (sp > 0 && pos < total) out[pos++] = uint8_t(Stack[--sp]);
    return first;
  }

  // Interlaced rows: each string is walked into place through the row sink.
  void Run() {
    int64_t nextReport = 10000;
    int code = ClearCode;  // decoding starts as after a clear code
    for (unsigned n = 0; !Sink.Full(); ++n) {
      if (code == ClearCode) {
        Reset();
        do code = ReadCode();
        while (code == ClearCode);
        if (code < 0) return;
        FirstPixel = PrevCode = code;
        Sink.Put(uint8_t(code));
      } else if (code == EOFCode) {
        return;
      } else {
        int incode = code, extra = -1;
        if (code >= NextFree) {
          extra = FirstPixel;
          code = PrevCode;
        }
        if (Length[code] != 0)
          EmitSound(code, extra);
        else
          EmitChecked(code, extra);
        AddEntry();
        PrevCode = incode;
      }
      if (Sink.Full()) return;
      if ((n & 1023) == 0 && Target.Progress && Sink.Done() >= nextReport) {
        Target.Progress(Sink.Done());
        nextReport = Sink.Done() + 10000;
      }
      code = ReadCode();
      if (code < 0) return;
    }
  }
};

}  // namespace giflzw

void DecodeLZW(TGIFBitReader& Reader, int MinCodeSize, const TLZWTarget& Target) {
  if (Target.Width <= 0 || Target.Height <= 0) return;
  auto decoder = std::make_unique<giflzw::TLZWDecoder>(Reader, MinCodeSize, Target);
  if (Target.Interlaced)
    decoder->Run();
  else
    decoder->RunLinear();
}
