// The PNG picture class: a PNG file held as the ordered list of its chunk objects, the
// header chunk owning the decoded image.
//
// This header is what a user of the class needs; what the module's files share besides
// is in png_internal.h and the other png_*_internal.h headers.
//
// Who implements what (one file per responsibility):
//   png_errors.cpp          exception classes and their fixed French messages
//   png_format.cpp          UpdateCrc, the one chunk writer, standard pairs, row geometry
//   png_chunks.cpp          TChunk (frame, CRC check, Assign), TPNGList and its placement rules
//   png_chunk_registry.cpp  ChunkRegistry, RegisterChunkClass, MakeChunkForName
//   png_stream.cpp          TPngImage: life cycle, settings, load and save loops, copying,
//                           resources, registration with the picture registry
//   png_header.cpp          TChunkIHDR: header record, image buffers, CreateBlank
//   png_decode.cpp          TChunkIDAT decoding: inflate across IDAT chunks, row loops
//   png_decode_filters.cpp  reverse of the five row filters
//   png_decode_rows.cpp     row converters from PNG rows into the image buffers
//   png_ancillary.cpp       PLTE, tRNS, gAMA, pHYs, tIME chunks
//   png_text.cpp            tEXt and zTXt chunks, zlib buffer helpers
//   png_pixels.cpp          transparency, Pixels, scan lines, Resize, palettes
//   png_clipboard.cpp       clipboard hooks
//   png_draw*.cpp           Draw, DrawWithAlpha, DrawColorKeyed, DrawUsingPixelInformation,
//                           AssignTo (drawing and conversion to a bitmap)
//   png_encode*.cpp         Assign from a bitmap (AssignHandle), TChunkIDAT::SaveToStream,
//                           the row encoders, the filter choice, Adam7 writing
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework.h"

class TPngImage;
class TChunk;
class TChunkIHDR;

// ---------------------------------------------------------------------------------------
// Errors: one class per kind, each with its fixed message.
// ---------------------------------------------------------------------------------------

// The PNG errors descend from the framework's Exception, not from its invalid-picture error:
// callers tell the codec's failures apart by these classes (the workspace shows any failed
// load whatever its class). The kinds below share EPngError as their base, so that one
// handler catches every PNG failure and nothing else.
class EPngError : public Exception {
 public:
  using Exception::Exception;
};

#define VITRELLE_PNG_ERROR(Name)                                          \
  class Name : public EPngError {                                         \
   public:                                                                \
    Name();                                                               \
    explicit Name(std::string message) : EPngError(std::move(message)) {} \
  };
VITRELLE_PNG_ERROR(EPNGInvalidFileHeader)
VITRELLE_PNG_ERROR(EPngUnexpectedEnd)
VITRELLE_PNG_ERROR(EPNGIHDRNotFirst)
VITRELLE_PNG_ERROR(EPNGUnknownCriticalChunk)
VITRELLE_PNG_ERROR(EPNGNoImageData)
VITRELLE_PNG_ERROR(EPngInvalidCRC)
VITRELLE_PNG_ERROR(EPngInvalidIHDR)
VITRELLE_PNG_ERROR(EPNGSizeExceeds)
VITRELLE_PNG_ERROR(EPNGUnknownCompression)
VITRELLE_PNG_ERROR(EPNGUnknownInterlace)
VITRELLE_PNG_ERROR(EPNGMissingMultipleIDAT)
VITRELLE_PNG_ERROR(EPNGZLIBError)  // the default message has no zlib text
VITRELLE_PNG_ERROR(EPNGInvalidPalette)
VITRELLE_PNG_ERROR(EPNGCouldNotLoadResource)
VITRELLE_PNG_ERROR(EPNGOutMemory)
VITRELLE_PNG_ERROR(EPNGCannotChangeTransparent)
VITRELLE_PNG_ERROR(EPNGHeaderNotPresent)
VITRELLE_PNG_ERROR(EPNGInvalidNewSize)
VITRELLE_PNG_ERROR(EPNGInvalidSpec)
#undef VITRELLE_PNG_ERROR

// Constructs ExceptionClass with the text and raises it.
template <class ExceptionClass>
[[noreturn]] void RaiseError(const std::string& text) {
  throw ExceptionClass(text);
}

// ---------------------------------------------------------------------------------------
// Settings
// ---------------------------------------------------------------------------------------

enum TFilter { pfNone, pfSub, pfUp, pfAverage, pfPaeth };

// A set of row filters.
class TFilters {
 public:
  constexpr TFilters() = default;
  constexpr TFilters(std::initializer_list<TFilter> filters) {
    for (TFilter f : filters) Include(f);
  }
  constexpr bool Contains(TFilter f) const { return (FBits >> f) & 1u; }
  constexpr void Include(TFilter f) { FBits = uint8_t(FBits | (1u << f)); }
  constexpr void Exclude(TFilter f) { FBits = uint8_t(FBits & ~(1u << f)); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr uint8_t Bits() const { return FBits; }
  constexpr bool operator==(const TFilters&) const = default;

 private:
  uint8_t FBits = 0;
};

using TCompressionLevel = int;  // 0 ... 9
enum TInterlaceMethod { imNone, imAdam7 };
enum TPNGTransparencyMode { ptmNone, ptmBit, ptmPartial };
enum TUnitType : uint8_t { utUnknown = 0, utMeter = 1 };

constexpr uint8_t COLOR_GRAYSCALE = 0;
constexpr uint8_t COLOR_RGB = 2;
constexpr uint8_t COLOR_PALETTE = 3;
constexpr uint8_t COLOR_GRAYSCALEALPHA = 4;
constexpr uint8_t COLOR_RGBALPHA = 6;

// ---------------------------------------------------------------------------------------
// Chunk classes and their registry
// ---------------------------------------------------------------------------------------

// The chunk type exactly as in the file.
using TChunkName = std::array<char, 4>;
constexpr TChunkName MakeChunkName(const char (&s)[5]) {
  return {s[0], s[1], s[2], s[3]};
}
inline std::string ChunkNameText(const TChunkName& n) {
  return std::string(n.data(), 4);
}

// A chunk class reference: creates chunks of its class and tests membership.
struct TChunkClass {
  const char* ClassName;  // "TChunkIHDR"
  std::unique_ptr<TChunk> (*Create)(TPngImage* owner);
  bool (*IsInstance)(const TChunk* chunk);  // of this class or a descendant
  // The class name from its 7th character on: "IHDR" for TChunkIHDR, "" for TChunk.
  std::string ClassChunkName() const;
};

template <class T>
const TChunkClass& ChunkClassOf() {
  static const TChunkClass cls{
      T::StaticClassName(),
      [](TPngImage* owner) -> std::unique_ptr<TChunk> { return std::make_unique<T>(owner); },
      [](const TChunk* c) { return dynamic_cast<const T*>(c) != nullptr; }};
  return cls;
}

// The registry of chunk classes, walked in order by MakeChunkForName. It starts with the
// standard classes (IEND, IHDR, IDAT, PLTE, gAMA, tRNS, pHYs, tIME, tEXt, zTXt).
void RegisterChunkClass(const TChunkClass& chunkClass);
const std::vector<const TChunkClass*>& ChunkRegistry();
// A chunk of the first registered class named chunkName, else a plain TChunk.
std::unique_ptr<TChunk> MakeChunkForName(TPngImage* owner, const TChunkName& chunkName);

class TChunk {
 public:
  explicit TChunk(TPngImage* owner);
  virtual ~TChunk();
  TChunk(const TChunk&) = delete;
  TChunk& operator=(const TChunk&) = delete;

  static const char* StaticClassName() { return "TChunk"; }
  virtual const TChunkClass& ClassType() const { return ChunkClassOf<TChunk>(); }

  int Index() const;           // position in the owner's list, -1 when absent
  TChunkIHDR& Header() const;  // the owner's header (EPNGHeaderNotPresent without one)
  uint8_t* Data() { return fData.data(); }
  const uint8_t* Data() const { return fData.data(); }
  uint32_t DataSize() const { return fDataSize; }
  TPngImage* Owner() const { return fOwner; }
  // The name read from the file, or the class's own name for a chunk built in memory.
  TChunkName Name() const;
  void SetName(const TChunkName& name) { fName = name; }

  // Copies name and data.
  virtual void Assign(TChunk& source);
  // Reads Size data bytes and the CRC (the stream is just after the name); true when the
  // CRC matches (a mismatch raises EPngInvalidCRC).
  virtual bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size);
  virtual bool SaveToStream(TStream& stream);

  void ResizeData(uint32_t newSize);
  // Writes length, name, data and CRC.
  bool SaveData(TStream& stream);

 protected:
  std::vector<uint8_t> fData;  // always fDataSize + 1 bytes
  uint32_t fDataSize = 0;
  TPngImage* fOwner;
  TChunkName fName{};
};

class TChunkIEND : public TChunk {
 public:
  using TChunk::TChunk;
  static const char* StaticClassName() { return "TChunkIEND"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunkIEND>(); }
};

// The 13 bytes of the IHDR chunk, in file order.
struct TIHDRData {
  uint32_t Width = 0;
  uint32_t Height = 0;
  uint8_t BitDepth = 0;
  uint8_t ColorType = 0;
  uint8_t CompressionMethod = 0;
  uint8_t FilterMethod = 0;
  uint8_t InterlaceMethod = 0;
};

struct TMAXBITMAPINFO;  // the buffers' bitmap description (png_internal.h)
struct TImageBuffers;   // the decoded image (png_internal.h)

// The header chunk; owns the decoded image:
//  - pixel rows, bottom-up (image row y at ImageData() + BytesPerRow * (Height - 1 - y)),
//    1/4/8 bits per pixel through the colour table for grey and palette images (2-bit
//    images are held with 4-bit pixels), 24 bits (blue, green, red) for RGB;
//  - the alpha plane (colour types 4 and 6): Width bytes per row, rows from the top;
//  - the low bytes of 16-bit samples, laid out exactly like the pixel rows.
class TChunkIHDR : public TChunk {
 public:
  explicit TChunkIHDR(TPngImage* owner);
  ~TChunkIHDR() override;
  static const char* StaticClassName() { return "TChunkIHDR"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunkIHDR>(); }

  void Assign(TChunk& source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;

  // Builds zeroed buffers for the current IHDRData through the size budget, and only then
  // replaces the old ones. When the record has no buffer format (not one of the standard
  // colour type / bit depth pairs), or a buffer cannot be had (EPNGOutMemory), the header
  // is left empty: a zero record without buffers, which every operation handles as a
  // 0 x 0 picture.
  void PrepareImageBuffers();
  void ReleaseImageBuffers();
  // Grey ramp of 2^bitDepth entries (256 for 16), corrected by the owner's GammaTable.
  std::unique_ptr<TPalette> MakeGrayPalette(int bitDepth) const;
  // Copies up to 256 entries into the colour table and sets the colours used.
  void CopyPaletteToColorTable(const TPalette* palette);

  TIHDRData IHDRData;

  uint32_t Width() const { return IHDRData.Width; }
  uint32_t Height() const { return IHDRData.Height; }
  uint8_t BitDepth() const { return IHDRData.BitDepth; }
  uint8_t ColorType() const { return IHDRData.ColorType; }
  uint8_t CompressionMethod() const { return IHDRData.CompressionMethod; }
  uint8_t FilterMethod() const { return IHDRData.FilterMethod; }
  uint8_t InterlaceMethod() const { return IHDRData.InterlaceMethod; }
  void SetWidth(uint32_t v) { IHDRData.Width = v; }
  void SetHeight(uint32_t v) { IHDRData.Height = v; }
  void SetBitDepth(uint8_t v) { IHDRData.BitDepth = v; }
  void SetColorType(uint8_t v) { IHDRData.ColorType = v; }
  void SetCompressionMethod(uint8_t v) { IHDRData.CompressionMethod = v; }
  void SetFilterMethod(uint8_t v) { IHDRData.FilterMethod = v; }
  void SetInterlaceMethod(uint8_t v) { IHDRData.InterlaceMethod = v; }

  // Start of the pixel buffer (the bottom image row); null without buffers.
  uint8_t* ImageData();
  const uint8_t* ImageData() const;
  // Low bytes of 16-bit samples (null unless bit depth 16).
  uint8_t* ExtraImageData();
  // Alpha plane (null unless colour type 4 or 6 or after CreateAlpha).
  uint8_t* ImageAlpha();
  const uint8_t* ImageAlpha() const;
  // Allocates the alpha plane filled with `fill` (replacing any) / frees it.
  void AllocateAlpha(uint8_t fill);
  void FreeAlpha();
  // Gives the image an opaque alpha plane and the colour type with alpha (grey 4, RGB 6).
  // Grey below 8 bits is widened to 8-bit levels first, since grey with alpha exists only
  // at 8 and 16 bits. All or nothing: when a buffer is refused the image stays as it was.
  void AddOpaqueAlpha();

  TPalette* ImagePalette() const;
  void SetImagePalette(std::unique_ptr<TPalette> palette);
  bool HasPalette() const;
  // The colour table of indexed buffers (blue, green, red) and the number of entries used.
  const std::array<TRGBQuad, 256>& ColorTable() const;
  uint32_t ColorsUsed() const;
  TMAXBITMAPINFO& BitmapInfo();
  const TMAXBITMAPINFO& BitmapInfo() const;
  int BitsPerPixel() const;
  uint32_t BytesPerRow() const;

  // Image row y counted from the top (no range check).
  uint8_t* PixelRow(uint32_t y);
  // The pixel buffer as a framework view (negative stride: bottom-up storage).
  TPixelView ImageView();

  // Crops or extends the buffers to cx x cy (new pixels zero, new alpha 255).
  void ResizeBuffers(uint32_t cx, uint32_t cy);

 private:
  void InstallBuffers(std::unique_ptr<TImageBuffers> buffers);
  std::unique_ptr<TImageBuffers> FBuffers;
};

// The image data. One object stands for all IDAT chunks of a file: loading decodes the
// whole image, saving encodes it into as many IDAT chunks as needed. The row buffers and
// the zlib state live only inside one load or save (png_decode.cpp, png_encode*.cpp).
class TChunkIDAT : public TChunk {
 public:
  using TChunk::TChunk;
  static const char* StaticClassName() { return "TChunkIDAT"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunkIDAT>(); }

  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;
};

class TChunkPLTE : public TChunk {
 public:
  using TChunk::TChunk;
  static const char* StaticClassName() { return "TChunkPLTE"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunkPLTE>(); }
  void Assign(TChunk& source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;

  uint32_t Count() const { return fCount; }
  void SetCount(uint32_t count) { fCount = count; }
  // Colour-table entry index as blue | green << 8 | red << 16 (EPngError past Count).
  uint32_t GetPaletteItem(uint32_t index) const;
  uint32_t Item(uint32_t index) const { return GetPaletteItem(index); }

 protected:
  uint32_t fCount = 0;
};

class TChunktRNS : public TChunk {
 public:
  explicit TChunktRNS(TPngImage* owner);
  static const char* StaticClassName() { return "TChunktRNS"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunktRNS>(); }
  void Assign(TChunk& source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;

  bool BitTransparency() const { return fBitTransparency; }
  void SetBitTransparency(bool value) { fBitTransparency = value; }
  TColor TransparentColor() const;
  void SetTransparentColor(TColor rgb);

  std::array<uint8_t, 256> PaletteValues{};

 protected:
  bool fBitTransparency = false;
};

class TChunkgAMA : public TChunk {
 public:
  explicit TChunkgAMA(TPngImage* owner);
  static const char* StaticClassName() { return "TChunkgAMA"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunkgAMA>(); }
  void Assign(TChunk& source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;

  uint32_t Gamma();  // gamma x 100000
  void SetGamma(uint32_t value);
};

class TChunkpHYs : public TChunk {
 public:
  using TChunk::TChunk;
  static const char* StaticClassName() { return "TChunkpHYs"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunkpHYs>(); }
  void Assign(TChunk& source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;

  uint32_t PPUnitX() const { return fPPUnitX; }
  uint32_t PPUnitY() const { return fPPUnitY; }
  TUnitType UnitType() const { return fUnit; }
  void SetPPUnitX(uint32_t v) { fPPUnitX = v; }
  void SetPPUnitY(uint32_t v) { fPPUnitY = v; }
  void SetUnitType(TUnitType v) { fUnit = v; }

 protected:
  uint32_t fPPUnitX = 0;
  uint32_t fPPUnitY = 0;
  TUnitType fUnit = utUnknown;
};

class TChunktIME : public TChunk {
 public:
  using TChunk::TChunk;
  static const char* StaticClassName() { return "TChunktIME"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunktIME>(); }
  void Assign(TChunk& source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;

  uint16_t Year() const { return fYear; }
  uint8_t Month() const { return fMonth; }
  uint8_t Day() const { return fDay; }
  uint8_t Hour() const { return fHour; }
  uint8_t Minute() const { return fMinute; }
  uint8_t Second() const { return fSecond; }
  void SetYear(uint16_t v) { fYear = v; }
  void SetMonth(uint8_t v) { fMonth = v; }
  void SetDay(uint8_t v) { fDay = v; }
  void SetHour(uint8_t v) { fHour = v; }
  void SetMinute(uint8_t v) { fMinute = v; }
  void SetSecond(uint8_t v) { fSecond = v; }

 protected:
  uint16_t fYear = 0;
  uint8_t fMonth = 0, fDay = 0, fHour = 0, fMinute = 0, fSecond = 0;
};

// Keyword and text are bytes as in the file (no code-page conversion).
class TChunktEXt : public TChunk {
 public:
  using TChunk::TChunk;
  static const char* StaticClassName() { return "TChunktEXt"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunktEXt>(); }
  void Assign(TChunk& source) override;
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;

  const std::string& Keyword() const { return fKeyword; }
  const std::string& Text() const { return fText; }
  void SetKeyword(const std::string& v) { fKeyword = v; }
  void SetText(const std::string& v) { fText = v; }

 protected:
  std::string fKeyword;
  std::string fText;
};

class TChunkzTXt : public TChunktEXt {
 public:
  using TChunktEXt::TChunktEXt;
  static const char* StaticClassName() { return "TChunkzTXt"; }
  const TChunkClass& ClassType() const override { return ChunkClassOf<TChunkzTXt>(); }
  bool LoadFromStream(TStream& stream, const TChunkName& chunkName, uint32_t size) override;
  bool SaveToStream(TStream& stream) override;
};

// ---------------------------------------------------------------------------------------
// The chunk list of an image
// ---------------------------------------------------------------------------------------

// Ordered, owning list of chunks. Slots may be empty while a load fills them.
class TPNGList {
 public:
  explicit TPNGList(TPngImage* owner) : fOwner(owner) {}

  int Count() const { return int(fItems.size()); }
  // Resizes the slot array; new slots are empty, dropped slots free their chunk.
  void SetCount(int count) { fItems.resize(size_t(count < 0 ? 0 : count)); }
  TChunk* GetItem(int index) const;  // null outside 0 ... Count-1
  TChunk* Item(int index) const { return GetItem(index); }
  void SetItem(int index, std::unique_ptr<TChunk> chunk);  // ignored outside the range
  TChunk* Append(std::unique_ptr<TChunk> chunk);
  TChunk* Insert(std::unique_ptr<TChunk> chunk, int position);
  int IndexOf(const TChunk* chunk) const;

  // First chunk of that class or a descendant, or null.
  TChunk* FindChunk(const TChunkClass& chunkClass) const;
  TChunk* ItemFromClass(const TChunkClass& chunkClass) const { return FindChunk(chunkClass); }
  template <class T>
  T* Find() const {
    return static_cast<T*>(FindChunk(ChunkClassOf<T>()));
  }
  void RemoveChunk(TChunk* chunk);
  // Creates and places a new chunk (placement and refusal rules of critical chunks).
  TChunk* Add(const TChunkClass& chunkClass);
  template <class T>
  T* Add() {
    return static_cast<T*>(Add(ChunkClassOf<T>()));
  }

  TPngImage* Owner() const { return fOwner; }

 private:
  TPngImage* fOwner;
  std::vector<std::unique_ptr<TChunk>> fItems;
};

// ---------------------------------------------------------------------------------------
// The picture class
// ---------------------------------------------------------------------------------------

class TPngImage : public TGraphic {
 public:
  TPngImage();
  ~TPngImage() override;
  static const char* StaticClassName() { return "TPngImage"; }
  const TGraphicClass& ClassType() const override { return ClassOf<TPngImage>(); }
  static const char* Version() { return "1.564"; }

  // A blank image of a standard colour type / bit depth pair (EPNGInvalidSpec otherwise):
  // chunks IHDR, (PLTE), IDAT, IEND over zeroed buffers.
  static std::unique_ptr<TPngImage> CreateBlank(int colorType, int bitDepth, int cx, int cy);

  // --- TGraphic
  void Draw(TCanvas& canvas, const TRect& rect) override;  // drawing side
  void LoadFromStream(TStream& stream) override;
  void SaveToStream(TStream& stream) override;
  // Another TPngImage is copied, a TBitmap converted (AssignHandle), else the default.
  void Assign(TGraphic& source) override;
  void AssignTo(TGraphic& dest) override;  // drawing side
  // The pixel buffer, for an image drawn without transparency.
  bool OpaquePixels(TPixelView& view) override;  // drawing side
  int Width() const override;
  int Height() const override;
  void SetWidth(int value) override;
  void SetHeight(int value) override;
  bool Empty() const override { return fChunkList.Count() == 0; }
  bool Transparent() const override { return TransparencyMode() != ptmNone; }
  bool SupportsPartialTransparency() const override { return TransparencyMode() == ptmPartial; }
  HPALETTE Palette() override;
  void SetPalette(HPALETTE palette) override;
  void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                               HPALETTE palette) override;
  void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data,
                             std::unique_ptr<TPalette>& palette) override;

  // Resources do not exist on this platform: both raise EPNGCouldNotLoadResource.
  void LoadFromResourceName(void* instance, const std::string& name);
  void LoadFromResourceID(void* instance, int resId);

  // Empties the image (what assigning nothing does).
  void Clear() { ClearChunkList(); }
  // Copies settings, every chunk and InverseGamma of source.
  void AssignPng(const TPngImage& source);

  // --- drawing side (png_draw*.cpp)
  void DrawWithAlpha(TBitmap& target, const TRect& rect);
  void DrawColorKeyed(TBitmap& target, const TPixelView& source, TColor key, const TRect& rect);
  void DrawUsingPixelInformation(TCanvas& canvas, const TPoint& point);

  // --- encoding side (png_encode*.cpp): builds the image from a bitmap
  void AssignHandle(TBitmap& handle, bool transparent, TColor transparentColor);

  // --- settings
  TFilters Filters() const { return fFilters; }
  void SetFilters(TFilters value) { fFilters = value; }
  TCompressionLevel CompressionLevel() const { return fCompressionLevel; }
  void SetCompressionLevel(TCompressionLevel value);  // clamped to 0 ... 9
  uint32_t MaxIdatSize() const { return fMaxIdatSize; }
  void SetMaxIdatSize(uint32_t value) { fMaxIdatSize = value < 65535 ? 65535 : value; }
  TInterlaceMethod InterlaceMethod() const { return fInterlaceMethod; }
  void SetInterlaceMethod(TInterlaceMethod value) { fInterlaceMethod = value; }

  // --- chunks
  TPNGList& Chunks() { return fChunkList; }
  const TPNGList& Chunks() const { return fChunkList; }
  bool HasHeader() const;
  TChunkIHDR& Header() const;  // EPNGHeaderNotPresent without one
  void ClearChunkList();
  void ResetGammaTables();
  // PNG row length and filter pixel width in bytes for the current header (0, 0 without).
  void GetRowAndPixelBytes(uint32_t& rowBytes, uint32_t& offset) const;

  // --- transparency, text, pixel access (png_pixels.cpp, png_text.cpp)
  TPNGTransparencyMode TransparencyMode() const;
  TColor TransparentColor() const;
  void SetTransparentColor(TColor value);
  void CreateAlpha();
  void RemoveTransparency();
  TChunktEXt* AddtEXt(const std::string& keyword, const std::string& text);
  TChunkzTXt* AddzTXt(const std::string& keyword, const std::string& text);
  TChunkpHYs& PixelInformation();
  bool HasPixelInformation() const;
  TColor GetPixels(int x, int y) const;
  void SetPixels(int x, int y, TColor color);
  // Row lineIndex (0 at the top) of the pixels, the low bytes (16-bit images) and the
  // alpha plane; null outside the image or when the image has no such plane.
  uint8_t* Scanline(int lineIndex) const;
  uint8_t* ExtraScanline(int lineIndex) const;
  uint8_t* AlphaScanline(int lineIndex) const;
  void Resize(int cx, int cy);
  // Installs palette as the image palette (only for images with one); refresh copies it
  // into the colour table.
  void ReplacePalette(std::unique_ptr<TPalette> palette, bool refreshColorTable);

  // File sample -> displayed sample (loading) and back (saving).
  std::array<uint8_t, 256> GammaTable{};
  std::array<uint8_t, 256> InverseGamma{};
  bool BeingCreated = false;

 private:
  TFilters fFilters{pfSub};
  TCompressionLevel fCompressionLevel = 7;
  uint32_t fMaxIdatSize = 65535;
  TInterlaceMethod fInterlaceMethod = imNone;
  TPNGList fChunkList;
};

// Registers "PNG" ("Portable Network Graphics") with the picture registry / removes it.
void RegisterPngImage();
void UnregisterPngImage();
