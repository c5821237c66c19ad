// LZW decoding of one frame's image data.
//
// The decoder writes each code's string straight into the pixel rows, last pixel first,
// when the code's chain is known to be sound: every table entry remembers the length of
// its string when its prefix is a literal or an earlier sound entry. Entries made from
// corrupt data (a prefix that is not yet defined, the clear or end code, itself) have no
// known length; their codes go through an explicit stack of 8192 values exactly like the
// classic decoder, so circular entries and over-long chains fail the same way.
#include <algorithm>
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
  if (FStartBit + Bits >= FLastBit) {
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
  uint16_t Stack[kStackSize];
  uint8_t Scratch[kTableSize + 2];

  TLZWDecoder(TGIFBitReader& r, int minCodeSize, const TLZWTarget& t)
      : Reader(r), Target(t), Sink(t), MinCodeSize(minCodeSize) {
    ClearCode = 1 << minCodeSize;
    EOFCode = ClearCode + 1;
    int literals = std::min(ClearCode, kTableSize);
    for (int n = 0; n < literals; ++n) {
      Suffix[n] = uint16_t(n);
      Length[n] = 1;
    }
    NextFree = std::min(ClearCode + 2, kTableSize);
  }

  // Codes of 4096 and up (13-bit codes) do not index the tables: decoding ends there.
  int ReadCode() {
    int code = Reader.ReadBits(CodeSize);
    if (code >= kTableSize) {
      if (Target.Warning) Target.Warning(&Reader, gsWarning, gifmsg::sBadData);
      return -1;
    }
    return code;
  }

  void Reset() {
    for (int n = ClearCode + 2; n < NextFree; ++n) {
      Prefix[n] = 0;
      Length[n] = 0;
    }
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

  // Any code, through the explicit stack with its limits.
  void EmitChecked(int code, int extra) {
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
    FirstPixel = Suffix[c];
    push(FirstPixel);
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
      if ((n & 1023) == 0 && Target.Progress && Sink.Done() >= nextReport) {
        Target.Progress(Sink.Done());
        nextReport = Sink.Done() + 10000;
      }
      if (Sink.Full()) return;
      code = ReadCode();
      if (code < 0) return;
    }
  }
};

}  // namespace

void DecodeLZW(TGIFBitReader& Reader, int MinCodeSize, const TLZWTarget& Target) {
  if (Target.Width <= 0 || Target.Height <= 0) return;
  auto decoder = std::make_unique<TLZWDecoder>(Reader, MinCodeSize, Target);
  decoder->Run();
}
