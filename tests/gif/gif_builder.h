// Test-side GIF assembly, independent of the codec under test:
// - TGiflibPicture / EncodeWithGiflib: well-formed files written by giflib's encoder;
// - TGifAssembler: hand-written bytes, block by block, for malformed or unusual files;
// - TCodePacker: packs an arbitrary sequence of LZW codes (no clear code at the start,
//   several clear codes, codes at or past the next free code, truncated data, 13-bit codes)
//   with the code widths a GIF decoder expects;
// - LzwEncode: a small LZW encoder over the packer, with or without clear codes;
// - DecodeWithGiflib / ComposeFirstFrame: giflib's DGifSlurp as the reference decoder, and
//   frame 0 composed on the logical screen the way the picture draws it.
// Used by the GIF tests, the GIF benchmark and the fuzz seed writer; no GoogleTest here.
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace gif_build {

using TBytes = std::vector<uint8_t>;

struct TRgb {
  uint8_t R = 0, G = 0, B = 0;
  bool operator==(const TRgb&) const = default;
};

// ---------------------------------------------------------------------------------------
// Hand-written bytes
// ---------------------------------------------------------------------------------------

// Number of the size bits (0..7) of a colour table that holds `count` entries.
inline int TableSizeBits(size_t count) {
  int bits = 0;
  while ((size_t(2) << bits) < count && bits < 7) ++bits;
  return bits;
}

class TGifAssembler {
 public:
  TGifAssembler& Byte(uint8_t b) {
    FData.push_back(b);
    return *this;
  }
  TGifAssembler& Word(uint16_t w) { return Byte(uint8_t(w & 0xFF)).Byte(uint8_t(w >> 8)); }
  TGifAssembler& Raw(const TBytes& bytes) {
    FData.insert(FData.end(), bytes.begin(), bytes.end());
    return *this;
  }
  TGifAssembler& Text(const std::string& s) { return Raw(TBytes(s.begin(), s.end())); }

  // Signature (6 characters, taken as they are) and logical screen descriptor.
  TGifAssembler& Header(const std::string& signature, uint16_t w, uint16_t h, uint8_t packed,
                        uint8_t background = 0, uint8_t aspect = 0) {
    return Text(signature).Word(w).Word(h).Byte(packed).Byte(background).Byte(aspect);
  }
  // "GIF89a" header with a global table of these colours (padded to a power of two).
  TGifAssembler& Screen(uint16_t w, uint16_t h, const std::vector<TRgb>& colours,
                        uint8_t background = 0) {
    if (colours.empty()) return Header("GIF89a", w, h, 0, background);
    const int bits = TableSizeBits(colours.size());
    Header("GIF89a", w, h, uint8_t(0x80 | 0x70 | bits), background);
    return ColorTable(colours, size_t(2) << bits);
  }
  // The colours, then zero entries up to `entries`.
  TGifAssembler& ColorTable(const std::vector<TRgb>& colours, size_t entries) {
    for (size_t i = 0; i < entries; ++i) {
      const TRgb c = i < colours.size() ? colours[i] : TRgb{};
      Byte(c.R).Byte(c.G).Byte(c.B);
    }
    return *this;
  }
  // Graphic control extension: packed = disposal << 2 | user input << 1 | transparent.
  TGifAssembler& Gce(uint8_t packed, uint16_t delay = 0, uint8_t transparentIndex = 0) {
    return Byte('!').Byte(0xF9).Byte(4).Byte(packed).Word(delay).Byte(transparentIndex).Byte(0);
  }
  TGifAssembler& Descriptor(uint16_t left, uint16_t top, uint16_t w, uint16_t h,
                            uint8_t packed = 0) {
    return Byte(',').Word(left).Word(top).Word(w).Word(h).Byte(packed);
  }
  // Data cut into sub-blocks of at most `chunk` bytes, then the block terminator.
  TGifAssembler& SubBlocks(const TBytes& data, size_t chunk = 255, bool terminator = true) {
    for (size_t pos = 0; pos < data.size(); pos += chunk) {
      const size_t n = std::min(chunk, data.size() - pos);
      Byte(uint8_t(n));
      Raw(TBytes(data.begin() + long(pos), data.begin() + long(pos + n)));
    }
    if (terminator) Byte(0);
    return *this;
  }
  TGifAssembler& ImageData(uint8_t minCodeSize, const TBytes& codes, bool terminator = true) {
    return Byte(minCodeSize).SubBlocks(codes, 255, terminator);
  }
  TGifAssembler& Comment(const std::string& text) {
    return Byte('!').Byte(0xFE).SubBlocks(TBytes(text.begin(), text.end()));
  }
  // Application extension with an 11-byte identifier and the given data sub-blocks.
  TGifAssembler& Application(const std::string& ident11, const std::vector<TBytes>& blocks) {
    Byte('!').Byte(0xFF).Byte(11).Text(ident11.substr(0, 11));
    for (const TBytes& b : blocks) Byte(uint8_t(b.size())).Raw(b);
    return Byte(0);
  }
  TGifAssembler& Loop(uint16_t loops) {
    return Application("NETSCAPE2.0", {{1, uint8_t(loops & 0xFF), uint8_t(loops >> 8)}});
  }
  TGifAssembler& Trailer() { return Byte(';'); }

  const TBytes& Data() const { return FData; }
  TBytes& Data() { return FData; }

 private:
  TBytes FData;
};

// ---------------------------------------------------------------------------------------
// LZW codes
// ---------------------------------------------------------------------------------------

// Packs codes least significant bit first. The width of each code follows what a GIF
// decoder expects after the codes before it: minimum size + 1 after a clear code (and at
// the start), one entry added per code except the first after a clear, one bit more
// whenever the next free code reaches the current limit (never more than 12 bits, except
// with a minimum size of 12, whose codes are 13 bits wide).
class TCodePacker {
 public:
  explicit TCodePacker(int minCodeSize) : FMin(minCodeSize) { Reset(); }

  int ClearCode() const { return 1 << FMin; }
  int EndCode() const { return ClearCode() + 1; }
  int Width() const { return FWidth; }
  int NextFree() const { return FNext; }

  TCodePacker& Code(int code) {
    Put(uint32_t(code), FWidth);
    Advance(code);
    return *this;
  }
  TCodePacker& Codes(std::initializer_list<int> codes) {
    for (int c : codes) Code(c);
    return *this;
  }
  TCodePacker& Clear() { return Code(ClearCode()); }
  TCodePacker& End() { return Code(EndCode()); }
  // A code of an explicit width; the table state advances as for Code.
  TCodePacker& CodeOfWidth(int code, int bits) {
    Put(uint32_t(code), bits);
    Advance(code);
    return *this;
  }

  // The packed bytes, a partly filled last byte included.
  TBytes Bytes() const {
    TBytes out = FOut;
    if (FBitCount > 0) out.push_back(uint8_t(FAcc & 0xFF));
    return out;
  }
  // Number of bits written so far.
  size_t BitCount() const { return FOut.size() * 8 + size_t(FBitCount); }

 private:
  void Reset() {
    FWidth = FMin + 1;
    FLimit = 2 << FMin;
    FNext = (1 << FMin) + 2;
    FFirst = true;
  }
  void Advance(int code) {
    if (code == ClearCode()) {
      Reset();
      return;
    }
    if (FFirst) {
      FFirst = false;
      return;
    }
    if (FNext <= 4095) {
      ++FNext;
      if (FNext == FLimit && FLimit <= 4095) {
        FLimit *= 2;
        ++FWidth;
      }
    }
  }
  void Put(uint32_t code, int bits) {
    FAcc |= uint64_t(code & ((1u << bits) - 1)) << FBitCount;
    FBitCount += bits;
    while (FBitCount >= 8) {
      FOut.push_back(uint8_t(FAcc & 0xFF));
      FAcc >>= 8;
      FBitCount -= 8;
    }
  }

  int FMin;
  int FWidth = 0, FLimit = 0, FNext = 0;
  bool FFirst = true;
  TBytes FOut;
  uint64_t FAcc = 0;
  int FBitCount = 0;
};

struct TLzwOptions {
  bool ClearAtStart = true;
  bool ClearWhenFull = true;  // false: go on with the full table (deferred clear)
  bool EndCode = true;
};

// Plain LZW encoder of one frame's pixels (each below 1 << minCodeSize).
inline TBytes LzwEncode(const TBytes& pixels, int minCodeSize, TLzwOptions opt = {}) {
  TCodePacker packer(minCodeSize);
  const int clear = packer.ClearCode();
  std::map<std::pair<int, uint8_t>, int> table;
  int next = clear + 2;
  if (opt.ClearAtStart) packer.Clear();
  int prefix = -1;
  for (uint8_t px : pixels) {
    if (prefix < 0) {
      prefix = px;
      continue;
    }
    auto it = table.find({prefix, px});
    if (it != table.end()) {
      prefix = it->second;
      continue;
    }
    packer.Code(prefix);
    if (next <= 4095) {
      table[{prefix, px}] = next++;
    } else if (opt.ClearWhenFull) {
      packer.Clear();
      table.clear();
      next = clear + 2;
    }
    prefix = px;
  }
  if (prefix >= 0) packer.Code(prefix);
  if (opt.EndCode) packer.End();
  return packer.Bytes();
}

// ---------------------------------------------------------------------------------------
// giflib encoder
// ---------------------------------------------------------------------------------------

struct TGiflibFrame {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  bool Interlaced = false;
  std::vector<TRgb> LocalMap;  // empty: the global map
  TBytes Pixels;               // Width * Height indices, rows top to bottom
  int Transparent = -1;        // -1: no graphic control extension transparency
  int Delay = 0;
  int Disposal = 0;
  bool WriteGce = false;  // also without transparency
};

struct TGiflibPicture {
  int Width = 0, Height = 0;
  std::vector<TRgb> GlobalMap;
  int Background = 0;
  int Loops = -1;  // >= 0: a NETSCAPE2.0 looping extension
  std::vector<TGiflibFrame> Frames;
};

namespace detail {

inline int WriteToVector(GifFileType* gif, const GifByteType* data, int size) {
  auto* out = static_cast<TBytes*>(gif->UserData);
  out->insert(out->end(), data, data + size);
  return size;
}

struct TMapDeleter {
  void operator()(ColorMapObject* m) const { GifFreeMapObject(m); }
};
using TMapPtr = std::unique_ptr<ColorMapObject, TMapDeleter>;

inline TMapPtr MakeMap(const std::vector<TRgb>& colours) {
  if (colours.empty()) return nullptr;
  const int entries = 2 << TableSizeBits(colours.size());
  std::vector<GifColorType> c(size_t(entries), GifColorType{0, 0, 0});
  for (size_t i = 0; i < colours.size() && i < c.size(); ++i)
    c[i] = GifColorType{colours[i].R, colours[i].G, colours[i].B};
  return TMapPtr(GifMakeMapObject(entries, c.data()));
}

inline void Check(int rc, const char* what) {
  if (rc != GIF_OK) throw std::runtime_error(std::string("giflib: ") + what);
}

// Rows of an interlaced frame in the order they are stored.
inline std::vector<int> InterlacedRows(int height) {
  std::vector<int> rows;
  const int start[4] = {0, 4, 2, 1}, step[4] = {8, 8, 4, 2};
  for (int p = 0; p < 4; ++p)
    for (int y = start[p]; y < height; y += step[p]) rows.push_back(y);
  return rows;
}

inline void PutFrame(GifFileType* gif, const TGiflibFrame& f) {
  if (f.Transparent >= 0 || f.WriteGce || f.Delay || f.Disposal) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = f.Disposal;
    gcb.UserInputFlag = false;
    gcb.DelayTime = f.Delay;
    gcb.TransparentColor = f.Transparent >= 0 ? f.Transparent : NO_TRANSPARENT_COLOR;
    GifByteType ext[4];
    const size_t n = EGifGCBToExtension(&gcb, ext);
    Check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, int(n), ext), "graphic control");
  }
  TMapPtr local = MakeMap(f.LocalMap);
  Check(EGifPutImageDesc(gif, f.Left, f.Top, f.Width, f.Height, f.Interlaced, local.get()),
        "image descriptor");
  std::vector<int> rows;
  if (f.Interlaced) {
    rows = InterlacedRows(f.Height);
  } else {
    for (int y = 0; y < f.Height; ++y) rows.push_back(y);
  }
  TBytes row(size_t(f.Width));
  for (int y : rows) {
    std::memcpy(row.data(), &f.Pixels[size_t(y) * size_t(f.Width)], size_t(f.Width));
    Check(EGifPutLine(gif, row.data(), f.Width), "line");
  }
}

}  // namespace detail

// The picture as a GIF89a file written by giflib (no exception crosses giflib's frames:
// errors are turned into std::runtime_error after each call returns).
inline TBytes EncodeWithGiflib(const TGiflibPicture& p) {
  TBytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(&out, detail::WriteToVector, &error);
  if (!gif) throw std::runtime_error("giflib: EGifOpen");
  try {
    EGifSetGifVersion(gif, true);
    detail::TMapPtr global = detail::MakeMap(p.GlobalMap);
    const int resolution = global ? global->BitsPerPixel : 8;
    detail::Check(EGifPutScreenDesc(gif, p.Width, p.Height, resolution, p.Background, global.get()),
                  "screen descriptor");
    if (p.Loops >= 0) {
      detail::Check(EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE), "application");
      detail::Check(EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0"), "application");
      const uint8_t loop[3] = {1, uint8_t(p.Loops & 0xFF), uint8_t(p.Loops >> 8)};
      detail::Check(EGifPutExtensionBlock(gif, 3, loop), "application");
      detail::Check(EGifPutExtensionTrailer(gif), "application");
    }
    for (const TGiflibFrame& f : p.Frames) detail::PutFrame(gif, f);
  } catch (...) {
    EGifCloseFile(gif, &error);
    throw;
  }
  if (EGifCloseFile(gif, &error) != GIF_OK) throw std::runtime_error("giflib: EGifCloseFile");
  return out;
}

// ---------------------------------------------------------------------------------------
// giflib decoder: the reference
// ---------------------------------------------------------------------------------------

namespace detail {

struct TMemorySource {
  const uint8_t* Data;
  size_t Size;
  size_t Pos = 0;
};

inline int ReadFromMemory(GifFileType* gif, GifByteType* buf, int size) {
  auto* src = static_cast<TMemorySource*>(gif->UserData);
  const size_t n = std::min(size_t(size), src->Size - src->Pos);
  std::memcpy(buf, src->Data + src->Pos, n);
  src->Pos += n;
  return int(n);
}

}  // namespace detail

struct TGiflibDeleter {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using TGiflibFile = std::unique_ptr<GifFileType, TGiflibDeleter>;

// Opens and slurps the bytes with giflib; `complete` tells whether DGifSlurp succeeded
// (null when even the header was refused). The bytes must outlive the result's use.
inline TGiflibFile SlurpWithGiflib(const uint8_t* data, size_t size, bool* complete,
                                   detail::TMemorySource* source) {
  *source = detail::TMemorySource{data, size, 0};
  int error = 0;
  GifFileType* gif = DGifOpen(source, detail::ReadFromMemory, &error);
  *complete = false;
  if (!gif) return nullptr;
  *complete = DGifSlurp(gif) == GIF_OK;
  return TGiflibFile(gif);
}

// What the reference decoder makes of a file's first frame, composed on the logical screen:
// every screen pixel covered by an opaque pixel of frame 0 gets that pixel's colour, all
// others are reported as not covered.
struct TComposite {
  bool Ok = false;  // giflib read the whole file
  std::string Why;  // when not Ok, or when frame 0 cannot be composed
  int Width = 0;    // logical screen, grown to hold every frame
  int Height = 0;
  int FrameCount = 0;
  int Left = 0, Top = 0, FrameWidth = 0, FrameHeight = 0;
  int Transparent = -1;
  std::vector<uint8_t> Covered;  // Width * Height: 1 where frame 0 shows
  std::vector<TRgb> Colours;     // Width * Height
  bool IndexOutOfMap = false;    // frame 0 holds indices past its colour map
};

inline int FirstGceTransparency(const SavedImage& image) {
  for (int i = 0; i < image.ExtensionBlockCount; ++i) {
    const ExtensionBlock& e = image.ExtensionBlocks[i];
    if (e.Function != GRAPHICS_EXT_FUNC_CODE) continue;
    if (e.ByteCount < 4) return -1;
    return (e.Bytes[0] & 1) ? e.Bytes[3] : -1;
  }
  return -1;
}

inline TComposite ComposeFirstFrame(const uint8_t* data, size_t size) {
  TComposite r;
  bool complete = false;
  detail::TMemorySource source{data, size};
  TGiflibFile gif = SlurpWithGiflib(data, size, &complete, &source);
  if (!gif) {
    r.Why = "giflib refuses the header";
    return r;
  }
  r.Ok = complete;
  if (!complete) r.Why = std::string("giflib: ") + GifErrorString(gif->Error);
  r.FrameCount = gif->ImageCount;
  if (gif->ImageCount < 1 || gif->SavedImages[0].RasterBits == nullptr) {
    r.Ok = false;
    r.Why = "no frame";
    return r;
  }
  int w = gif->SWidth, h = gif->SHeight;
  for (int i = 0; i < gif->ImageCount; ++i) {
    const GifImageDesc& d = gif->SavedImages[i].ImageDesc;
    if (d.Width == 0 || d.Height == 0) continue;
    w = std::max(w, d.Left + d.Width);
    h = std::max(h, d.Top + d.Height);
  }
  const SavedImage& f = gif->SavedImages[0];
  r.Width = w;
  r.Height = h;
  r.Left = f.ImageDesc.Left;
  r.Top = f.ImageDesc.Top;
  r.FrameWidth = f.ImageDesc.Width;
  r.FrameHeight = f.ImageDesc.Height;
  r.Transparent = FirstGceTransparency(f);
  const ColorMapObject* map = f.ImageDesc.ColorMap ? f.ImageDesc.ColorMap : gif->SColorMap;
  r.Covered.assign(size_t(w) * size_t(h), 0);
  r.Colours.assign(size_t(w) * size_t(h), TRgb{});
  if (!map) {
    r.Ok = false;
    r.Why = "no colour map";
    return r;
  }
  for (int y = 0; y < r.FrameHeight; ++y)
    for (int x = 0; x < r.FrameWidth; ++x) {
      const uint8_t index = f.RasterBits[size_t(y) * size_t(r.FrameWidth) + size_t(x)];
      if (index == r.Transparent) continue;
      const size_t at = size_t(r.Top + y) * size_t(w) + size_t(r.Left + x);
      if (index >= map->ColorCount) {
        r.IndexOutOfMap = true;
        continue;
      }
      r.Covered[at] = 1;
      const GifColorType c = map->Colors[index];
      r.Colours[at] = TRgb{c.Red, c.Green, c.Blue};
    }
  return r;
}

// ---------------------------------------------------------------------------------------
// Picture-like content
// ---------------------------------------------------------------------------------------

// A 256-colour map spread over the colour cube (6 x 7 x 6 levels, then greys).
inline std::vector<TRgb> PhotoPalette() {
  std::vector<TRgb> map;
  for (int r = 0; r < 6; ++r)
    for (int g = 0; g < 7; ++g)
      for (int b = 0; b < 6; ++b)
        map.push_back(TRgb{uint8_t(r * 51), uint8_t(g * 42), uint8_t(b * 51)});
  while (map.size() < 256) {
    const uint8_t v = uint8_t((map.size() - 252) * 60 + 15);
    map.push_back(TRgb{v, v, v});
  }
  return map;
}

// Indices of a picture with gradients, shapes and dithering noise over PhotoPalette, like a
// photograph reduced to 256 colours: about 4 bits per pixel once LZW-coded, so the table
// fills and clears often, as in real pictures.
inline TBytes PhotoPixels(int w, int h, int phase = 0, uint32_t seed = 12345) {
  TBytes p(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int dither = int(seed >> 30);  // 0..3
      const int dx = x - w / 2 - phase, dy = y - h / 3;
      const bool disc = dx * dx + dy * dy < (w * w) / 16;
      const int r = std::min(5, (x * 6) / std::max(1, w) + (dither == 1));
      const int g = disc ? 6 : std::min(5, (y * 6) / std::max(1, h) + (dither == 2));
      const int b = ((x + phase) / 17 + y / 13 + (dither == 3)) % 6;
      p[size_t(y) * size_t(w) + size_t(x)] = uint8_t(r * 42 + g * 6 + b);
    }
  return p;
}

}  // namespace gif_build
