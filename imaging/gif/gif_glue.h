// Internals of the GIF codec shared between its files: the message texts, the bit
// reader and decoder entry, the extension registries and small byte helpers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "GIFImg.h"

namespace gifmsg {
extern const char* const sBadSignature;
extern const char* const sEmptyImage;  // saving a GIF without version
extern const char* const sPrematureEOF;
extern const char* const sColorTableOverflow;
extern const char* const sBadColorIndex;
extern const char* const sEmptyColorMap;
extern const char* const sColorExtended;
extern const char* const sBadScreenColorCount;
extern const char* const sBadImageColorCount;
extern const char* const sBadData;
extern const char* const sBadSize;
extern const char* const sScreenOverflow;
extern const char* const sBadTrailer;
extern const char* const sUnknownBlock;
extern const char* const sBadStreamOperation;
extern const char* const sBitBufferUnderrun;
extern const char* const sCircularTable;
extern const char* const sMissingColor;
extern const char* const sUnknownExtension;
extern const char* const sBadExtensionIntro;
extern const char* const sExtensionMismatch;
extern const char* const sAppBlockSize;
extern const char* const sSeveralGCE;
extern const char* const sBadPixel;
extern const char* const sNoPixels;
extern const char* const sUnsupportedPixelFormat;
extern const char* const sBadDimensions;
extern const char* const sNoDIB;
extern const char* const sBadBitsPerPixel;
extern const char* const sBadPalette;
extern const char* const sDIBAllocation;
extern const char* const sUnsupportedObject;
extern const char* const sNoColorMap;
extern const char* const sProgressLoading;
extern const char* const sProgressSaving;
extern const char* const sProgressConverting;
extern const char* const sProgressRendering;
extern const char* const sProgressCopying;
extern const char* const sProgressOptimizing;
}  // namespace gifmsg

[[noreturn]] void GIFError(const char* message);

inline uint16_t GetLE16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}
inline void PutLE16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
// A single-byte read that reports whether the byte arrived.
inline bool TryReadByte(TStream& s, uint8_t& b) {
  return s.Read(&b, 1) == 1;
}
// Reads one byte and steps back; false at the end of the stream.
bool PeekByte(TStream& s, uint8_t& b);

namespace giflzw {
struct TLZWDecoder;
}

// Four bytes, least significant first (one load on little-endian machines).
inline uint32_t LoadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Code bits over the sub-block reader of one frame's image data.
class TGIFBitReader {
 public:
  TGIFBitReader(TStream& AStream, TGIFWarning OnWarning);
  // The next Bits bits (1..13), or -1 when no data is left. A code that ends exactly at
  // the last bit of the data is read: image data without an end code keeps its last pixel.
  int ReadBits(int Bits) {
    if (FStartBit + Bits > FLastBit && !Refill(Bits)) return -1;
    const uint32_t v = LoadLE32(FBuffer + (FStartBit >> 3));
    int r = int((v >> (FStartBit & 7)) & ((1u << Bits) - 1));
    FStartBit += Bits;
    return r;
  }
  void SkipData();
  bool IsEOF() const { return FEOF; }

  TGIFWarning FOnWarning;

 private:
  // The decoder's hot loop keeps the window position in registers between refills.
  friend struct giflzw::TLZWDecoder;
  bool Refill(int Bits);
  TGIFReader FStream;
  // Margin so that a four-byte load at the last valid byte never leaves the array.
  uint8_t FBuffer[256 + 4] = {};
  int FStartBit = 0;
  int FLastBit = 0;
  int FLastByte = 2;
  bool FEOF = false;
};

// Decodes the LZW codes of one frame into its pixel buffer (Width x Height bytes, already
// filled with Fill). Stops quietly at the end code or when the data runs out; raises on
// corrupt tables. progress(pixelsDone) is called about every 10000 pixels.
struct TLZWTarget {
  uint8_t* Pixels;
  int Width;
  int Height;
  bool Interlaced;
  uint8_t Fill;
  std::function<void(int64_t)> Progress;
  TGIFWarning Warning;
};
void DecodeLZW(TGIFBitReader& Reader, int MinCodeSize, const TLZWTarget& Target);
// The largest number of pixels that Bytes bytes of image data can describe.
uint64_t MaxEncodablePixels(int64_t Bytes, int MinCodeSize);

// The colours of a true-colour bitmap on their way into a frame's map: the 8 last added or
// found, each with its index in the map. The search starts at the entry last hit and goes
// backward, so a run of one colour costs one comparison.
class TColorCache {
 public:
  int Find(TColor Color) {
    for (int k = 0, i = FLast; k < 8; ++k, i = (i + 7) & 7) {
      if (FEntries[i].Index < 0) break;  // never filled: nothing older follows
      if (FEntries[i].Color == Color) {
        FLast = i;
        return FEntries[i].Index;
      }
    }
    return -1;
  }
  void Store(TColor Color, int Index) {
    FEntries[FNext] = TEntry{Color, Index};
    FLast = FNext;
    FNext = (FNext + 1) & 7;
  }

 private:
  struct TEntry {
    TColor Color = 0;
    int Index = -1;
  };
  TEntry FEntries[8];
  int FLast = 0, FNext = 0;
};

// The registries of extension classes.
struct TExtensionEntry {
  const TGIFExtensionClass* Class;
  uint8_t Label;
};
class TExtensionList {
 public:
  TExtensionList();
  void Add(uint8_t eLabel, const TGIFExtensionClass& eClass);
  const TGIFExtensionClass* FindExt(uint8_t eLabel) const;
  void Remove(const TGIFExtensionClass& eClass);

 private:
  std::vector<TExtensionEntry> FEntries;
};
struct TAppExtensionEntry {
  const TGIFExtensionClass* Class;
  TGIFApplicationRec Ident;
};
class TAppExtensionList {
 public:
  TAppExtensionList();
  void Add(const TGIFApplicationRec& eIdent, const TGIFExtensionClass& eClass);
  const TGIFExtensionClass* FindExt(const TGIFApplicationRec& eIdent) const;
  void Remove(const TGIFExtensionClass& eClass);

 private:
  std::vector<TAppExtensionEntry> FEntries;
};
TExtensionList& ExtensionRegistry();
TAppExtensionList& AppExtensionRegistry();
// Frees both registries (they are created again on next use).
void FreeExtensionRegistries();

// 8-bit text of the code page that GIF files are written in (Windows-1252) and back.
// Characters without a place in the code page become "?"; bytes that are not UTF-8 are
// taken as they are.
std::string Utf8ToCp1252(const std::string& Text);
std::string Cp1252ToUtf8(const std::string& Bytes);

// Sub-block text of comments and plain text.
void WriteSubBlockText(TStream& Stream, const TStringList& Text);
void ReadSubBlockText(TStream& Stream, TStringList& Text);
