// Vitrelle picture framework: the small raster library that the workspace and the
// codecs are written against. Pictures (TGraphic and its subclasses), device-independent
// bitmaps (TBitmap), a canvas to draw on them (TCanvas), byte streams (TStream), the
// picture registry (TPicture), palettes and the raster operations over pixel buffers.
//
// No GUI toolkit here: the window shows TBitmap pixels, but every picture file is read
// and written through this library and the codecs registered with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

// ---------------------------------------------------------------------------------------
// Basic types
// ---------------------------------------------------------------------------------------

// 32-bit colour value: red in the low byte, then green, then blue.
using TColor = uint32_t;
constexpr TColor clBlack = 0x000000;
constexpr TColor clWhite = 0xFFFFFF;
constexpr TColor clRed = 0x0000FF;
constexpr TColor clLime = 0x00FF00;
constexpr TColor clBlue = 0xFF0000;
constexpr TColor clNone = 0x1FFFFFFF;  // "no colour" marker, never a pixel value
// The system's window background colour; this platform paints windows white.
constexpr TColor clWindow = clWhite;

constexpr TColor RGBColor(uint8_t r, uint8_t g, uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}
constexpr uint8_t GetRValue(TColor c) {
  return uint8_t(c & 0xFF);
}
constexpr uint8_t GetGValue(TColor c) {
  return uint8_t((c >> 8) & 0xFF);
}
constexpr uint8_t GetBValue(TColor c) {
  return uint8_t((c >> 16) & 0xFF);
}

struct TPoint {
  int X = 0;
  int Y = 0;
};

// Right and bottom are exclusive edges.
struct TRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;
  int Width() const { return Right - Left; }
  int Height() const { return Bottom - Top; }
  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  TRect Normalized() const;  // left <= right and top <= bottom
  bool operator==(const TRect&) const = default;
};
inline TRect Rect(int l, int t, int r, int b) {
  return TRect{l, t, r, b};
}
TRect IntersectRect(const TRect& a, const TRect& b);

// ---------------------------------------------------------------------------------------
// Errors
// ---------------------------------------------------------------------------------------

// Base of every failure the framework and the codecs raise; Message() is shown to users.
class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : FMessage(std::move(message)) {}
  const std::string& Message() const { return FMessage; }
  const char* what() const noexcept override { return FMessage.c_str(); }

 private:
  std::string FMessage;
};

class EInvalidGraphic : public Exception {  // the picture's data is not valid
  using Exception::Exception;
};
class EInvalidGraphicOperation : public Exception {  // the operation is not allowed
  using Exception::Exception;
};
class EOutOfResources : public Exception {  // a buffer would exceed the budget or failed
  using Exception::Exception;
};
class EConvertError : public Exception {  // unsupported Assign / AssignTo
  using Exception::Exception;
};
class EStreamError : public Exception {  // short read or write, bad seek
  using Exception::Exception;
};
class EReadError : public EStreamError {
  using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {  // a file cannot be opened
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {  // a file cannot be created
  using EStreamError::EStreamError;
};
class EAbort : public Exception {  // the silent abort: callers swallow it without a message
 public:
  EAbort() : Exception("Opération interrompue") {}
  using Exception::Exception;
};

// The failures below carry the framework's fixed texts, kept here in one place.
extern const char* const SAbstractError;  // an operation its class does not provide
extern const char* const SOutOfMemory;    // memory refused
extern const char* const SInvalidBitmap;  // bitmap data that does not fit its format
extern const char* const SScanLine;       // a row outside the picture
extern const char* const SUnknownClipboardFormat;

class EAbstractError : public Exception {  // an abstract operation was called
 public:
  EAbstractError() : Exception(SAbstractError) {}
  using Exception::Exception;
};
class EOutOfMemory : public Exception {  // memory was refused
 public:
  EOutOfMemory() : Exception(SOutOfMemory) {}
  using Exception::Exception;
};

// The system's reason for a failed file operation, in French for the common cases (the
// messages reach users in the window's message boxes).
std::string SystemErrorText(int errorNumber);

// ---------------------------------------------------------------------------------------
// Size budget: no buffer made from untrusted sizes may exceed it.
// ---------------------------------------------------------------------------------------

uint64_t GetImageBudget();            // bytes per buffer; default 1 GiB
void SetImageBudget(uint64_t bytes);  // for tests and fuzzing
// Raises EOutOfResources when `bytes` exceeds the budget. Call before allocating.
void CheckImageBudget(uint64_t bytes);
// Byte count of a DIB of the given size and bit count (rows padded to 32 bits), with
// overflow-safe arithmetic; raises EOutOfResources when over budget. Negative sizes count
// as zero.
uint64_t CheckedDibSize(int64_t width, int64_t height, int bitCount);
// Row stride of a DIB: ((bitCount * width + 31) / 32) * 4.
int64_t DibStride(int64_t width, int bitCount);

// ---------------------------------------------------------------------------------------
// Streams
// ---------------------------------------------------------------------------------------

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  // Return the number of bytes moved; 0 at the end of input.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  virtual int64_t Size();
  virtual void SetSize(int64_t newSize);

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, soBeginning); }
  // Raise EReadError / EWriteError when fewer bytes than asked were moved.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source (0: the whole source from its start).
  int64_t CopyFrom(TStream& source, int64_t count);
};

// Growable in-memory stream.
class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(FSize); }
  void SetSize(int64_t newSize) override;
  void Clear();
  uint8_t* Memory() { return FData.data(); }
  const uint8_t* Memory() const { return FData.data(); }
  void LoadFromStream(TStream& source);  // replaces the contents, position 0
  void LoadFromFile(const std::string& fileName);
  void SaveToStream(TStream& dest);
  void SaveToFile(const std::string& fileName);

 private:
  std::vector<uint8_t> FData;  // capacity; FSize bytes are valid
  size_t FSize = 0;
  size_t FPosition = 0;
};

// Read-only view of bytes owned elsewhere (fuzzing, embedded data).
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, size_t size)
      : FData(static_cast<const uint8_t*>(data)), FSize(size) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;  // raises EWriteError
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(FSize); }

 private:
  const uint8_t* FData;
  size_t FSize;
  size_t FPosition = 0;
};

enum TFileMode { fmOpenRead, fmCreate, fmOpenReadWrite };

class TFileStream : public TStream {
 public:
  // fmOpenRead raises EFOpenError, fmCreate EFCreateError, with the file name.
  TFileStream(const std::string& fileName, TFileMode mode);
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t newSize) override;
  // Flushes to disk; raises EWriteError when the system reports a failure.
  void Flush();
  const std::string& FileName() const { return FFileName; }

 private:
  int FHandle = -1;
  std::string FFileName;
};

// ---------------------------------------------------------------------------------------
// Palettes
// ---------------------------------------------------------------------------------------

// Entry flags of a logical palette.
constexpr uint8_t PC_RESERVED = 1;
constexpr uint8_t PC_EXPLICIT = 2;
constexpr uint8_t PC_NOCOLLAPSE = 4;

struct TPaletteEntry {
  uint8_t peRed = 0;
  uint8_t peGreen = 0;
  uint8_t peBlue = 0;
  uint8_t peFlags = 0;
  bool operator==(const TPaletteEntry&) const = default;
};

// A logical palette of up to 256 (red, green, blue, flags) entries.
class TPalette {
 public:
  TPalette() = default;
  explicit TPalette(std::vector<TPaletteEntry> entries);
  int Count() const { return int(FEntries.size()); }
  const std::vector<TPaletteEntry>& Entries() const { return FEntries; }
  std::vector<TPaletteEntry>& Entries() { return FEntries; }
  void Resize(int count);  // added entries are black; at most 256
  // Index of the entry nearest to the colour (squared RGB distance; first wins on ties).
  int NearestIndex(TColor color) const;
  TColor ColorOf(int index) const;
  bool operator==(const TPalette&) const = default;

 private:
  std::vector<TPaletteEntry> FEntries;
};

// Palettes are owned by whoever holds the unique_ptr; graphics hand out plain pointers
// that stay valid until the graphic changes its palette.
using HPALETTE = const TPalette*;
std::unique_ptr<TPalette> CopyPalette(const TPalette* source);  // null in, null out
const TPalette& DefaultPalette20();                             // the 20 static system colours
const TPalette& HalftonePalette256();  // fixed, repeatable 256-colour halftone palette
const TPalette& VgaPalette16();        // the standard 16 colours for 4-bit bitmaps

// ---------------------------------------------------------------------------------------
// Pixel buffers and raster operations
// ---------------------------------------------------------------------------------------

struct TRGBQuad {
  uint8_t rgbBlue = 0;
  uint8_t rgbGreen = 0;
  uint8_t rgbRed = 0;
  uint8_t rgbReserved = 0;
  bool operator==(const TRGBQuad&) const = default;
};

// A non-owning description of a device-independent pixel buffer. BitCount is 1, 4, 8
// (indexed through Colors), 15 (16-bit 5-5-5), 16 (5-6-5), 24 (B,G,R) or 32 (B,G,R,A).
// Row y (0 at the top) starts at Bits + y * Stride; a bottom-up buffer has a negative
// Stride and Bits pointing at its last stored row.
struct TPixelView {
  uint8_t* Bits = nullptr;
  ptrdiff_t Stride = 0;
  int Width = 0;
  int Height = 0;
  int BitCount = 24;
  const TRGBQuad* Colors = nullptr;
  int ColorCount = 0;

  uint8_t* Row(int y) const { return Bits + ptrdiff_t(y) * Stride; }
  bool Valid() const { return Bits != nullptr && Width > 0 && Height > 0; }
  // Colour of one pixel (slow path; for tests and single pixels only).
  TColor PixelColor(int x, int y) const;
};

// Raster operations on destination D, source S (after conversion to the destination's
// format) and the mask-free modes of a block transfer.
enum TRasterOp {
  ropSrcCopy,     // D = S
  ropSrcAnd,      // D = D and S
  ropSrcPaint,    // D = D or S
  ropSrcInvert,   // D = D xor S
  ropNotSrcCopy,  // D = not S
  ropDstInvert,   // D = not D
  ropBlackness,   // D = 0
  ropWhiteness,   // D = all ones
};

// Colour conversion rules for transfers between indexed and mono buffers:
// colour -> 1 bit: pixels equal to BkColor become 1, all others 0.
// 1 bit -> colour: 0 becomes TextColor, 1 becomes BkColor.
struct TBltColors {
  TColor BkColor = clWhite;
  TColor TextColor = clBlack;
};

// Nearest-neighbour stretched block transfer (colour-on-colour: dropped rows and columns
// are deleted, no blending). Destination pixel i of the rectangle takes source pixel
// trunc(i * srcWidth / dstWidth). A negative width or height in either rectangle mirrors.
// Clipped to both buffers; any format to any format (indexed targets take the nearest
// entry of their colour table).
void StretchBlt(const TPixelView& dst, const TRect& dstRect, const TPixelView& src,
                const TRect& srcRect, TRasterOp rop = ropSrcCopy, TBltColors colors = {});
// Unscaled transfer of src's srcRect to (dx, dy).
void BitBlt(const TPixelView& dst, int dx, int dy, const TPixelView& src, const TRect& srcRect,
            TRasterOp rop = ropSrcCopy, TBltColors colors = {});
// Fills a rectangle of the buffer with a colour (nearest index for indexed buffers).
void FillPixels(const TPixelView& dst, const TRect& rect, TColor color);
// Stretched masked copy: mask is a 1-bit buffer of the source's size; where its bit is 1
// the destination is kept, where it is 0 the (scaled) source pixel is copied.
void StretchMaskedCopy(const TPixelView& dst, const TRect& dstRect, const TPixelView& src,
                       const TRect& srcRect, const TPixelView& mask);

// Composes a 32-bit premultiplied source (colour already multiplied by alpha) over the
// destination, nearest-neighbour scaled like StretchBlt:
// dst = src + dst * (255 - a) / 255 per channel, rounded. Destinations of 24 and 32 bits
// take the fast path; others go through colour matching.
void AlphaBlendPremultiplied(const TPixelView& dst, const TRect& dstRect, const TPixelView& src,
                             const TRect& srcRect);

// ---------------------------------------------------------------------------------------
// Screen facts: the framework draws for a true-colour screen.
// ---------------------------------------------------------------------------------------

int ScreenBitsPerPixel();   // 32
int ScreenPlanes();         // 1
int ScreenPixelsPerInch();  // 96

// ---------------------------------------------------------------------------------------
// Clipboard: an in-process store of named formats, enough for the codecs' hooks.
// ---------------------------------------------------------------------------------------

using TClipboardFormat = uint16_t;
constexpr TClipboardFormat CF_BITMAP = 2;
constexpr TClipboardFormat CF_DIB = 8;
constexpr TClipboardFormat CF_PALETTE = 9;
// Registers (or finds) a named format and returns its id (0xC000 and up).
TClipboardFormat RegisterClipboardFormatName(const std::string& name);
std::string ClipboardFormatName(TClipboardFormat format);

struct TClipboardData {
  std::vector<uint8_t> Bytes;
};

// The clipboard as the pictures see it: data kept per registered format. Open and Close
// bracket a group of operations; SetData replaces what the format held before.
class TClipboardStore {
 public:
  virtual ~TClipboardStore() = default;
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool HasFormat(TClipboardFormat format) = 0;
  // False when the clipboard holds nothing in that format.
  virtual bool GetData(TClipboardFormat format, TClipboardData& data) = 0;
  virtual void SetData(TClipboardFormat format, const TClipboardData& data) = 0;
  virtual void Clear() = 0;
};

// A clipboard that lives in the process: the command line's and the tests'.
class TMemoryClipboard : public TClipboardStore {
 public:
  void Open() override { ++FOpenCount; }
  void Close() override;
  bool HasFormat(TClipboardFormat format) override;
  bool GetData(TClipboardFormat format, TClipboardData& data) override;
  void SetData(TClipboardFormat format, const TClipboardData& data) override;
  void Clear() override { FData.clear(); }
  int OpenCount() const { return FOpenCount; }

 private:
  std::vector<std::pair<TClipboardFormat, TClipboardData>> FData;
  int FOpenCount = 0;
};

// The clipboard in use: a memory clipboard unless the program installed another.
TClipboardStore& Clipboard();
// Installs a clipboard (null: back to the memory one); the caller keeps it alive.
void SetClipboard(TClipboardStore* store);

// ---------------------------------------------------------------------------------------
// String list: lines of text, joined into one text with line breaks.
// ---------------------------------------------------------------------------------------

class TStringList {
 public:
  int Count() const { return int(FLines.size()); }
  const std::string& operator[](int index) const { return FLines.at(size_t(index)); }
  void Add(const std::string& line) { FLines.push_back(line); }
  void Clear() { FLines.clear(); }
  void Assign(const TStringList& source) { FLines = source.FLines; }
  // Every line followed by "\r\n".
  std::string Text() const;
  // Splits at "\r\n", "\n" or "\r"; a final line break does not start an empty line.
  void SetText(const std::string& text);
  const std::vector<std::string>& Lines() const { return FLines; }
  bool operator==(const TStringList&) const = default;

 private:
  std::vector<std::string> FLines;
};

// ---------------------------------------------------------------------------------------
// Pictures
// ---------------------------------------------------------------------------------------

class TCanvas;
class TGraphic;
class TBitmap;

// A class reference: what the registries store to create pictures by class at run time.
struct TGraphicClass {
  std::string ClassName;
  std::unique_ptr<TGraphic> (*Create)();
};
// The class reference of T (T must be default-constructible).
template <class T>
const TGraphicClass& ClassOf() {
  static const TGraphicClass cls{
      T::StaticClassName(), []() -> std::unique_ptr<TGraphic> { return std::make_unique<T>(); }};
  return cls;
}

enum TProgressStage { psStarting, psRunning, psEnding };
using TProgressEvent =
    std::function<void(TGraphic& sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                       const TRect& rect, const std::string& message)>;
using TNotifyEvent = std::function<void(TGraphic& sender)>;

// Abstract picture. Subclasses override the pure operations; Assign/AssignTo default to
// the conversion error.
class TGraphic {
 public:
  virtual ~TGraphic() = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  virtual const TGraphicClass& ClassType() const = 0;
  const std::string& ClassName() const { return ClassType().ClassName; }

  // Paints the whole picture scaled into rect (transparency handled by the class).
  virtual void Draw(TCanvas& canvas, const TRect& rect) = 0;
  virtual void LoadFromStream(TStream& stream) = 0;
  virtual void SaveToStream(TStream& stream) = 0;
  // Opens a file stream and loads from it.
  virtual void LoadFromFile(const std::string& fileName);
  // Writes to a temporary file beside the target and renames it over the target only
  // when the whole picture was written: a failure never destroys an existing file.
  virtual void SaveToFile(const std::string& fileName);

  // Copies source into this picture: by default asks source->AssignTo(*this) and raises
  // EConvertError when that is unsupported too.
  virtual void Assign(TGraphic& source);
  // Converts this picture into dest; the default raises EConvertError.
  virtual void AssignTo(TGraphic& dest);
  // Assign from a source that is about to be discarded: a class may take the source's
  // contents over instead of copying them, leaving the source empty. The default copies.
  virtual void Adopt(TGraphic& source) { Assign(source); }

  // The picture's own pixels, when drawing it replaces every pixel of the rectangle with
  // them, scaled, nothing of the canvas showing through; false when some transparency
  // applies or there is nothing to draw. A caller may then leave out a fill under the
  // picture, and one that needs the drawing only at the picture's own size may read the
  // pixels in place of a drawn copy: an unscaled draw on a true-colour bitmap gives each
  // pixel the colour the view holds. Valid until the picture changes.
  virtual bool OpaquePixels(TPixelView& view);

  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual void SetWidth(int value);   // default raises EInvalidGraphicOperation
  virtual void SetHeight(int value);  // default raises EInvalidGraphicOperation
  virtual bool Empty() const = 0;
  virtual bool Transparent() const { return FTransparent; }
  virtual void SetTransparent(bool value);
  // The palette or null; owned by the graphic.
  virtual HPALETTE Palette() { return nullptr; }
  // Takes a copy of the palette (the default ignores it).
  virtual void SetPalette(HPALETTE) {}
  virtual bool SupportsPartialTransparency() const { return false; }
  // Clipboard hooks; the default raises EInvalidGraphic (unsupported format).
  virtual void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                       HPALETTE palette);
  virtual void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data,
                                     std::unique_ptr<TPalette>& palette);
  // Equality by content: same class and the same saved bytes.
  virtual bool Equals(TGraphic& other);

  bool Modified() const { return FModified; }
  void SetModified(bool value);
  bool PaletteModified() const { return FPaletteModified; }
  void SetPaletteModified(bool value) { FPaletteModified = value; }

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;

  // Sets Modified and tells OnChange.
  virtual void Changed();
  virtual void Progress(TProgressStage stage, uint8_t percentDone, bool redrawNow,
                        const TRect& rect, const std::string& message);

 protected:
  TGraphic() = default;
  bool FTransparent = false;

 private:
  bool FModified = false;
  bool FPaletteModified = false;
};

// Reference-counted picture data shared between pictures: held through std::shared_ptr
// (a new one has one reference; releasing the last destroys it).
class TSharedImage {
 public:
  virtual ~TSharedImage() = default;
};

enum TPixelFormat {
  pfDevice,
  pf1bit,
  pf4bit,
  pf8bit,
  pf15bit,
  pf16bit,
  pf24bit,
  pf32bit,
  pfCustom
};
// Meaning of the fourth byte of 32-bit pixels: ignored, straight alpha (colours as they
// are), or alpha with colours already multiplied by it.
enum TAlphaFormat { afIgnored, afDefined, afPremultiplied };
enum TTransparentMode { tmAuto, tmFixed };
int BitCountOf(TPixelFormat format);       // pfDevice counts as 32 (the screen)
TPixelFormat PixelFormatOf(int bitCount);  // 1,4,8,15,16,24,32

// Zero-filled pixel memory. It comes from calloc, so a large buffer arrives as fresh zero
// pages instead of being cleared byte by byte before the decoder overwrites it anyway.
class TPixelBuffer {
 public:
  TPixelBuffer() = default;
  explicit TPixelBuffer(size_t size);  // raises EOutOfResources when memory is refused
  TPixelBuffer(const TPixelBuffer& other);
  TPixelBuffer& operator=(const TPixelBuffer& other);
  TPixelBuffer(TPixelBuffer&&) noexcept = default;
  TPixelBuffer& operator=(TPixelBuffer&&) noexcept = default;
  uint8_t* data() { return FData.get(); }
  const uint8_t* data() const { return FData.get(); }
  uint8_t& operator[](size_t i) { return FData.get()[i]; }
  size_t size() const { return FSize; }
  bool empty() const { return FSize == 0; }
  void clear() { *this = TPixelBuffer(); }

 private:
  struct TFree {
    void operator()(uint8_t* p) const;
  };
  std::unique_ptr<uint8_t, TFree> FData;
  size_t FSize = 0;
};

// A device-independent bitmap owning its pixels (rows padded to 32 bits, row 0 at the
// top), with a colour table for indexed formats. BMP is its file format.
class TBitmap : public TGraphic {
 public:
  TBitmap();
  ~TBitmap() override;
  static const char* StaticClassName() { return "TBitmap"; }
  const TGraphicClass& ClassType() const override { return ClassOf<TBitmap>(); }

  void Draw(TCanvas& canvas, const TRect& rect) override;
  void LoadFromStream(TStream& stream) override;  // BMP file
  void SaveToStream(TStream& stream) override;    // BMP file in the bitmap's own format
  void Assign(TGraphic& source) override;         // copies a bitmap, converts other pictures
  void AssignTo(TGraphic& dest) override;
  void Adopt(TGraphic& source) override;  // takes another bitmap's pixels over
  bool OpaquePixels(TPixelView& view) override;

  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  void SetWidth(int value) override;
  void SetHeight(int value) override;
  // Resizes keeping the pixels that still fit; new pixels are zero (black / index 0).
  void SetSize(int width, int height);
  bool Empty() const override { return FWidth == 0 || FHeight == 0; }
  void SetTransparent(bool value) override;

  HPALETTE Palette() override;
  void SetPalette(HPALETTE palette) override;
  // The colour table of an indexed bitmap (empty otherwise).
  const std::vector<TRGBQuad>& ColorTable() const { return FColors; }
  void SetColorTable(const std::vector<TRGBQuad>& colors);

  void LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                               HPALETTE palette) override;
  void SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data,
                             std::unique_ptr<TPalette>& palette) override;

  TPixelFormat PixelFormat() const { return FPixelFormat; }
  // Converts the pixels to the new format (indexed targets: nearest entry of the
  // bitmap's palette, or of the default palette for the bit count when it has none).
  void SetPixelFormat(TPixelFormat value);
  TAlphaFormat AlphaFormat() const { return FAlphaFormat; }
  void SetAlphaFormat(TAlphaFormat value) { FAlphaFormat = value; }

  // Transparent colour: tmAuto takes the bottom-left pixel's colour.
  TColor TransparentColor() const;
  void SetTransparentColor(TColor value);
  TTransparentMode TransparentMode() const { return FTransparentMode; }
  void SetTransparentMode(TTransparentMode value) { FTransparentMode = value; }

  uint8_t* GetScanline(int row);  // row 0 at the top
  const uint8_t* GetScanline(int row) const;
  int BytesPerRow() const { return int(FStride); }
  int BitCount() const { return BitCountOf(FPixelFormat); }
  // The pixel buffer as a view (valid until the next size or format change).
  TPixelView View();
  // Drawing surface on this bitmap (owned by the bitmap).
  TCanvas& Canvas();
  // The bitmap itself stands in for the platform handle.
  TBitmap* Handle() { return this; }

  // Slow single-pixel access, for tests and small jobs.
  TColor PixelColor(int x, int y) const;
  void SetPixelColor(int x, int y, TColor color);

 private:
  void Reallocate(int width, int height, TPixelFormat format, bool keepPixels);
  void CopyFrom(const TBitmap& source);
  void MoveFrom(TBitmap& source);

  int FWidth = 0;
  int FHeight = 0;
  TPixelFormat FPixelFormat = pf24bit;
  TAlphaFormat FAlphaFormat = afIgnored;
  TTransparentMode FTransparentMode = tmAuto;
  TColor FTransparentColor = clNone;
  ptrdiff_t FStride = 0;
  TPixelBuffer FPixels;
  std::vector<TRGBQuad> FColors;
  std::unique_ptr<TPalette> FPalette;  // mirrors FColors for Palette()
  std::unique_ptr<TCanvas> FCanvas;
};

// The extension of a file name: from the last dot of its last part, dot included; empty
// when that part has none ("photo.jpeg.txt" gives ".txt", "dossier.v2/photo" gives "").
std::string ExtractFileExt(const std::string& fileName);
// Letters A to Z lowered; every other byte is kept, so the rest of a UTF-8 name survives
// and the result does not depend on the locale.
std::string LowerCaseAscii(std::string text);

// Holds one picture of any registered class, and the registry of picture classes.
class TPicture {
 public:
  TPicture();
  ~TPicture();
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // The picture hears its graphic's Changed (OnChange of the graphic is the picture's
  // own) and passes it on through OnChange.
  // Creates the class registered for the file name's extension (case ignored) and loads
  // the file; on failure the previous picture stays. Raises EInvalidGraphic for an
  // unknown extension.
  void LoadFromFile(const std::string& fileName);
  void SaveToFile(const std::string& fileName);
  TGraphic* Graphic() { return FGraphic.get(); }
  // Stores a copy of graphic (a new object of its class, Assign'ed); null clears.
  void SetGraphic(TGraphic* graphic);
  // Takes ownership of a picture without copying it.
  void SetGraphicOwned(std::unique_ptr<TGraphic> graphic);
  // The picture as a bitmap: converts (and replaces) a picture of another class.
  TBitmap& Bitmap();
  int Width() const;
  int Height() const;
  void Assign(TPicture& source);

  std::function<void(TPicture&)> OnChange;

  static void RegisterFileFormat(const std::string& extension, const std::string& description,
                                 const TGraphicClass& graphicClass);
  static void UnregisterGraphicClass(const TGraphicClass& graphicClass);
  static void RegisterClipboardFormat(TClipboardFormat format, const TGraphicClass& graphicClass);
  // The class registered for an extension (with or without the dot, case ignored).
  static const TGraphicClass* FindFileFormat(const std::string& extension);
  static const TGraphicClass* FindClipboardFormat(TClipboardFormat format);
  struct TFileFormat {
    std::string Extension;
    std::string Description;
    const TGraphicClass* GraphicClass;
  };
  static std::vector<TFileFormat> FileFormats();

 private:
  void Changed();
  void Attach();
  std::unique_ptr<TGraphic> FGraphic;
};

// ---------------------------------------------------------------------------------------
// Canvas
// ---------------------------------------------------------------------------------------

enum TPenStyle { psSolid, psDot, psClear };
enum TPenMode { pmCopy, pmNotXor };
enum TBrushStyle { bsSolid, bsClear, bsFDiagonal };
enum TFontStyle { fsBold = 1, fsItalic = 2 };
enum TStretchMode { smColorOnColor };

struct TPen {
  TColor Color = clBlack;
  int Width = 1;
  TPenStyle Style = psSolid;
  TPenMode Mode = pmCopy;
};

struct TBrush {
  TColor Color = clWhite;
  TBrushStyle Style = bsSolid;
};

struct TFont {
  TColor Color = clBlack;
  int Size = 8;             // points, at the screen's 96 pixels per inch
  unsigned Style = 0;       // set of TFontStyle
  std::string Name;         // empty: the default sans typeface
  int PixelHeight() const;  // Size * 96 / 72, rounded
  // Above 0: the height in pixels, fraction included (to 1/64 pixel), in place of Size.
  // Text drawn at any scale then keeps the proportions of its drawing at scale 1, which
  // whole points cannot (12 points enlarged 1.65 times is 26.4 pixels, not 27).
  double ScaledPixelHeight = 0;
};

// Draws on a bitmap. Every operation clips to the bitmap.
class TCanvas {
 public:
  explicit TCanvas(TBitmap& target) : FTarget(&target) {}

  TPen Pen;
  TBrush Brush;
  TFont Font;

  // The bitmap drawn on (stands in for the platform handle).
  TBitmap& Handle() const { return *FTarget; }
  TPixelView View() const;

  // Rectangle (x1,y1)-(x2,y2), corners in any order, right and bottom excluded: the
  // outline with the pen, the inside with the brush. In pmNotXor mode every pen and hatch
  // pixel is inverted exactly once, so drawing the same rectangle twice restores it.
  // An empty rectangle draws nothing.
  void Rectangle(int x1, int y1, int x2, int y2);
  void Rectangle(const TRect& r) { Rectangle(r.Left, r.Top, r.Right, r.Bottom); }
  // Fills with the brush (solid colour or hatch); ignores the pen.
  void FillRect(const TRect& rect);
  // Text with its cell's top-left corner at (x, y); no background box: only glyph
  // pixels change (anti-aliased coverage blends the font colour in).
  void TextOut(int x, int y, const std::string& utf8Text);
  int TextWidth(const std::string& utf8Text);
  int TextHeight(const std::string& utf8Text);

  void Draw(int x, int y, TGraphic& graphic);
  void StretchDraw(const TRect& rect, TGraphic& graphic);
  // Copies source's rectangle into dest, stretched (colour-on-colour).
  void CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect);

  TColor Pixel(int x, int y) const;
  void SetPixel(int x, int y, TColor color);

  TStretchMode StretchMode = smColorOnColor;

  // Told after drawing that changed the target's pixels behind the canvas's back (masked
  // transfers by a picture class); the canvas's own operations do not call it.
  std::function<void(TCanvas&)> OnChange;
  void Changed() {
    if (OnChange) OnChange(*this);
  }

 private:
  TBitmap* FTarget;
};

// ---------------------------------------------------------------------------------------
// Timers and the millisecond clock
// ---------------------------------------------------------------------------------------

// A repeating timer whose OnTimer runs on the thread that created it, from its message
// loop. A timer is created disabled; enabling it, or changing its interval while enabled,
// starts a new full interval.
class TTimer {
 public:
  virtual ~TTimer() = default;
  TTimer(const TTimer&) = delete;
  TTimer& operator=(const TTimer&) = delete;

  int Interval() const { return FInterval; }
  void SetInterval(int milliseconds);
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool value);
  std::function<void()> OnTimer;

 protected:
  TTimer() = default;
  // The interval or the enabled state changed: the platform restarts or stops the timer.
  virtual void Restart() = 0;
  // Runs OnTimer from a copy, so that the handler may free the timer itself.
  void Fire();

 private:
  int FInterval = 1000;
  bool FEnabled = false;
};

// Where timers and the clock come from: the window installs the toolkit's, tests and the
// command line a manual one that moves only when told to.
class TTimerService {
 public:
  virtual ~TTimerService() = default;
  virtual std::unique_ptr<TTimer> CreateTimer() = 0;
  // A monotonic clock in milliseconds.
  virtual int64_t Milliseconds() = 0;
};

// The installed service; without one, a process-wide manual service.
TTimerService& TimerService();
// Installs a service (not owned; null restores the process-wide manual one) and answers
// the previous one.
TTimerService* SetTimerService(TTimerService* service);

// Time that passes only through Advance or FireNext; due timers fire in due order, those
// due at the same moment in the order they were armed.
class TManualTimerService : public TTimerService {
 public:
  TManualTimerService() = default;
  ~TManualTimerService() override;
  TManualTimerService(const TManualTimerService&) = delete;
  TManualTimerService& operator=(const TManualTimerService&) = delete;

  std::unique_ptr<TTimer> CreateTimer() override;
  int64_t Milliseconds() override { return FNow; }
  // Moves the clock forward by milliseconds, firing every timer that falls due meanwhile.
  void Advance(int64_t milliseconds);
  // Moves the clock to the earliest due timer and fires it; false when none is enabled.
  bool FireNext();
  // The enabled timers.
  int ArmedCount() const;

 private:
  class TManualTimer;
  TManualTimer* NextDue() const;
  std::vector<TManualTimer*> FTimers;  // back references; each timer removes itself
  int64_t FNow = 0;
  uint64_t FArmings = 0;
};

// Installs a service for the lifetime of the scope, restoring the previous one after.
class TTimerServiceScope {
 public:
  explicit TTimerServiceScope(TTimerService& service) : FPrevious(SetTimerService(&service)) {}
  ~TTimerServiceScope() { SetTimerService(FPrevious); }
  TTimerServiceScope(const TTimerServiceScope&) = delete;
  TTimerServiceScope& operator=(const TTimerServiceScope&) = delete;

 private:
  TTimerService* FPrevious;
};
