// LZW decoding of one frame's image data.
//
// The decoder writes each code's string straight into the pixel rows when the code's
// chain is known to be sound: every table entry remembers the length of its string when
// its prefix is a literal or an earlier sound entry. In a frame stored row after row the
// string of such an entry already stands in the decoded pixels (where its prefix was
// written, followed by one pixel), so it is copied from there; interlaced frames walk
// the chain, last pixel first. Entries made from
// corrupt data (a prefix that is not yet defined, the clear or end code, itself) have no
// known length; their codes go through an explicit stack of 8192 values exactly like the
// classic decoder, so circular entries and over-long chains fail the same way.
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

struct TLZWDecoder {
  TGIFBitReader& Reader;
  const TLZWTarget& Target;
  TPixelSink Sink;
  int MinCodeSize, ClearCode, EOFCode;
  int CodeSize = 0, CodeLimit = 0, NextFree = 0;
  int FirstPixel = 0, PrevCode = 0;
  bool Warned = false;
  uint16_t Prefix[kTableSize] = {};
  uint16_t Suffix[kTableSize] = {};
  uint16_t Length[kTableSize] = {};  // 0: not known to be sound
  uint16_t First[kTableSize] = {};   // first pixel of a sound entry's string
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
    static const auto single = [] {
      std::array<uint8_t, kTableSize> values{};
      for (int n = 0; n < kTableSize; ++n) values[size_t(n)] = uint8_t(n);
      return values;
    }();
    for (int n = 0; n < literals; ++n) {
      Suffix[n] = uint16_t(n);
      First[n] = uint16_t(n);
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

  // Rows in order, with the decoder's state in locals: the pixel stores could otherwise
  // alias every member and force reloads after each one.
  void RunLinear() {
    uint8_t* const out = Target.Pixels;
    const size_t total = size_t(Target.Width) * size_t(Target.Height);
    const int clear = ClearCode, eof = EOFCode;
    size_t pos = 0, prevStart = 0;
    int codeSize = MinCodeSize + 1, limit = 2 * clear, nextFree = NextFree;
    int firstPixel = 0, prevCode = 0;
    int sb = Reader.FStartBit, lb = Reader.FLastBit;
    const uint8_t* const window = Reader.FBuffer;
    auto read = [&](int bits) -> int {
      if (sb + bits > lb) return ReadRefilling(bits, sb, lb);
      const uint8_t* p = window + (sb >> 3);
      uint32_t v = uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16);
      int c = int((v >> (sb & 7)) & ((1u << bits) - 1));
      sb += bits;
      return c < kTableSize ? c : TooWide();
    };
    size_t nextReport = 10000;
    int code = clear;  // decoding starts as after a clear code
    for (;;) {
      if (code == clear) {
        ClearEntries(nextFree);
        codeSize = MinCodeSize + 1;
        limit = 2 * clear;
        nextFree = clear + 2;
        do code = read(codeSize);
        while (code == clear);
        if (code < 0) break;
        firstPixel = prevCode = code;
        prevStart = pos;
        out[pos++] = uint8_t(code);
      } else if (code == eof) {
        break;
      } else {
        int incode = code, extra = -1;
        if (code >= nextFree) {
          extra = firstPixel;
          code = prevCode;
        }
        size_t start = pos;
        if (size_t length = Length[code]) {
          size_t k = std::min(length, total - pos);
          const uint8_t* src = Source[code];
          if (k <= 16)  // most strings are short: a call costs more than the copy
            for (size_t i = 0; i < k; ++i) out[pos + i] = src[i];
          else
            std::memcpy(out + pos, src, k);
          pos += k;
          if (extra >= 0 && pos < total) out[pos++] = uint8_t(extra);
          firstPixel = First[code];
        } else {
          firstPixel = Checked(code, extra, out, pos, total);
        }
        if (nextFree < kTableSize) {
          bool sound = prevCode < nextFree && Length[prevCode] != 0;
          Prefix[nextFree] = uint16_t(prevCode);
          Suffix[nextFree] = uint16_t(firstPixel);
          Length[nextFree] = sound ? uint16_t(Length[prevCode] + 1) : 0;
          First[nextFree] = sound ? First[prevCode] : 0;
          Source[nextFree] = out + prevStart;
          ++nextFree;
          if (nextFree >= limit && limit < kTableSize) {
            limit *= 2;
            ++codeSize;
          }
        }
        prevCode = incode;
        prevStart = start;
      }
      if (pos >= total) break;
      if (pos >= nextReport && Target.Progress) {
        Target.Progress(int64_t(pos));
        nextReport = pos + 10000;
      }
      code = read(codeSize);
      if (code < 0) break;
    }
    Reader.FStartBit = sb;
  }

  // The window is exhausted: the bit reader refills it (with its warnings).
  [[gnu::noinline]] int ReadRefilling(int bits, int& sb, int& lb) {
    Reader.FStartBit = sb;
    int c = Reader.ReadBits(bits);
    sb = Reader.FStartBit;
    lb = Reader.FLastBit;
    return c < kTableSize ? c : TooWide();
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
