// GIF pictures: TGIFImage holds a GIF file as a tree of stream items (header with the
// logical screen and global colour map, frames with their local colour maps, pixels and
// extensions) and draws its first frame. Warnings of every item reach the image's
// Warning, which drops them, hands them to OnWarning, or raises gsError ones.
//
// Files: gif_items (items, lists, helpers, settings), gif_messages, gif_colormap and
// gif_colormap_owners, gif_stream (sub-block adapters), gif_header (header, trailer),
// gif_lzw_decode, gif_lzw_encode, gif_frame (buffer, bounds, blocks), gif_frame_draw,
// gif_frame_import, gif_extensions, gif_ext_registry, gif_ext_app, gif_text, gif_image,
// gif_image_draw, gif_renderer and gif_renderer_compose (animation), gif_register.
// Two subsystems have folders of their own: reduction/ (colour reduction, palettes,
// lookups and the dithering engines, mapped in gif_reduce.h) and optimizer/ (crop, merge,
// clean-up and colour-map optimization, mapped in gif_optimize.h). Internals shared
// between them are in gif_glue.h.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework.h"

class TGIFImage;
class TGIFFrame;
class TGIFHeader;
class TGIFExtension;
class TGIFGraphicControlExtension;

// The one exception class of the GIF codec.
class GIFException : public EInvalidGraphic {
 public:
  using EInvalidGraphic::EInvalidGraphic;
};

enum TGIFVersion { gvUnknown, gv87a, gv89a };
enum TGIFSeverity { gsInfo, gsWarning, gsError };
enum TGIFAnimationLoop { glDisabled, glEnabled, glContinously };
enum TGIFDithering { gdDisabled, gdEnabled, gdAuto };
enum TColorReduction {
  rmNone,
  rmWindows20,
  rmWindows256,
  rmWindowsGray,
  rmMonochrome,
  rmGrayScale,
  rmNetscape,
  rmQuantize,
  rmQuantizeWindows,
  rmPalette
};
enum TDitherMode {
  dmNearest,
  dmFloydSteinberg,
  dmStucki,
  dmSierra,
  dmJaJuNI,
  dmSteveArche,
  dmBurkes
};
// A fixed underlying type: the reserved values 4 to 7 of a file are kept and answered as
// they are, and must be valid values of the type.
enum TDisposalMethod : uint8_t { dmNone, dmNoDisposal, dmBackground, dmPrevious };
// What TGIFImage::Optimize may do, as set bits.
enum TGIFOptimizeOption : uint8_t { ooCrop = 1, ooMerge = 2, ooCleanup = 4, ooColorMap = 8 };
using TGIFOptimizeOptions = uint8_t;
constexpr TGIFOptimizeOptions ooAll = ooCrop | ooMerge | ooCleanup | ooColorMap;

// Sender is the item, list, colour map or stream adapter that reports.
using TGIFWarning =
    std::function<void(const void* Sender, TGIFSeverity Severity, const std::string& Message)>;

// Unit settings (module-level; nothing in the system changes them).
extern bool DefaultAnimate;
extern TGIFAnimationLoop DefaultAnimateLoop;
extern TGIFDithering DefaultDithering;
extern TColorReduction DefaultColorReduction;
extern int DefaultReductionBits;
extern TDitherMode DefaultDitherMode;
extern int DefaultAnimationSpeed;
extern bool RenderOnLoad;
// Optimize (every option) before writing the picture as component data.
extern bool OptimizeOnStream;
extern int LargeBitmapPixels;
extern TColor TransparentFillColor;
extern bool PaletteDisplay;
extern bool DitherOnPaletteDisplay;
extern TClipboardFormat GIFClipboardFormat;

// Shared helpers of the GIF code.
// Reads Count bytes or raises "Fin prématurée des données".
void ReadExact(TStream& Stream, void* Buffer, int64_t Count);
// 0 for 0, else the smallest n >= 1 with 2^n >= Count.
int BitsForColorCount(int Count);
// One byte; 0 when the stream has none left.
uint8_t ReadByte(TStream& Stream);
void WriteByte(TStream& Stream, uint8_t Value);

// ---------------------------------------------------------------------------------------
// Items and lists
// ---------------------------------------------------------------------------------------

// One object of the GIF stream: header, frame, trailer or extension.
class TGIFItem {
 public:
  explicit TGIFItem(TGIFImage* AImage) : FImage(AImage) {}
  virtual ~TGIFItem() = default;
  TGIFItem(const TGIFItem&) = delete;
  TGIFItem& operator=(const TGIFItem&) = delete;

  virtual TGIFVersion GetVersion() const { return gv87a; }
  virtual void SaveToStream(TStream& Stream) = 0;
  virtual void LoadFromStream(TStream& Stream) = 0;
  void SaveToFile(const std::string& Filename);
  void LoadFromFile(const std::string& Filename);
  void Warning(TGIFSeverity Severity, const std::string& Message);
  TGIFImage* Image() const { return FImage; }

 protected:
  TGIFImage* FImage;  // owner, not owned
};

// An owning list of items. Add does not add an item twice.
class TGIFList {
 public:
  TGIFList() = default;
  virtual ~TGIFList() { Clear(); }
  TGIFList(const TGIFList&) = delete;
  TGIFList& operator=(const TGIFList&) = delete;

  virtual void Warning(TGIFSeverity Severity, const std::string& Message);
  virtual TGIFImage* GetImage() const = 0;
  virtual void SaveToStream(TStream& Stream);
  virtual void LoadFromStream(TStream& Stream) = 0;

  int Add(std::unique_ptr<TGIFItem> Item);
  void Delete(int Index);  // frees the item
  void Clear();            // frees every item
  // Takes the item out without freeing it: ownership passes to Taken.
  int Remove(TGIFItem* Item, std::unique_ptr<TGIFItem>& Taken);
  void Insert(int Index, std::unique_ptr<TGIFItem> Item);
  void Exchange(int Index1, int Index2);
  void Move(int CurIndex, int NewIndex);
  int IndexOf(const TGIFItem* Item) const;
  TGIFItem* First() const { return Count() ? Items(0) : nullptr; }
  TGIFItem* Last() const { return Count() ? Items(Count() - 1) : nullptr; }
  TGIFItem* Items(int Index) const;
  // Replaces (and frees) the item at Index.
  void SetItems(int Index, std::unique_ptr<TGIFItem> Item);
  int Count() const { return int(FItems.size()); }

 protected:
  std::vector<std::unique_ptr<TGIFItem>> FItems;
};

// ---------------------------------------------------------------------------------------
// Colour maps
// ---------------------------------------------------------------------------------------

struct TGIFColor {
  uint8_t Red = 0;
  uint8_t Green = 0;
  uint8_t Blue = 0;
  bool operator==(const TGIFColor&) const = default;
};

class TGIFColorMap {
 public:
  TGIFColorMap() = default;
  virtual ~TGIFColorMap() = default;
  TGIFColorMap(const TGIFColorMap&) = delete;
  TGIFColorMap& operator=(const TGIFColorMap&) = delete;

  static TGIFColor Color2RGB(TColor Color);
  static TColor RGB2Color(TGIFColor Color);

  virtual void Warning(TGIFSeverity Severity, const std::string& Message) = 0;
  // Histogram[i] += number of pixels using entry i, over the frames this map serves.
  virtual void CountColorUse(std::vector<int64_t>& Histogram) = 0;
  virtual void RemapPixels(const uint8_t Table[256]) = 0;
  virtual bool Optimize() = 0;
  virtual void Changed() = 0;

  int Add(TColor Color);
  int AddUnique(TColor Color);
  int IndexOf(TColor Color) const;
  void Delete(int Index);
  TColor GetColor(int Index);
  TColor Colors(int Index) { return GetColor(Index); }
  void SetColor(int Index, TColor Value);
  void Clear();
  void ImportPalette(const TPalette* Palette);
  void ImportColorTable(const TRGBQuad* Pal, int ACount);
  void ImportDIBColors(TBitmap& Bitmap);
  void ImportColorMap(const TGIFColor* Map, int ACount);
  std::unique_ptr<TPalette> ExportPalette() const;
  void Assign(const TGIFColorMap& Source);
  void SaveToStream(TStream& Stream) const;
  void LoadFromStream(TStream& Stream, int ACount);

  int Count() const { return FCount; }
  bool Optimized() const { return FOptimized; }
  void SetOptimized(bool Value) { FOptimized = Value; }
  int BitsPerPixel() const { return BitsForColorCount(FCount); }
  const TGIFColor* Data() const { return FColorMap.data(); }

 protected:
  // The shared core of Optimize: sorts by use and drops unused entries.
  bool DoOptimize();

  std::vector<TGIFColor> FColorMap;
  int FCount = 0;
  bool FOptimized = false;
};

class TGIFGlobalColorMap : public TGIFColorMap {
 public:
  explicit TGIFGlobalColorMap(TGIFHeader* AHeader) : FHeader(AHeader) {}
  void Warning(TGIFSeverity Severity, const std::string& Message) override;
  void CountColorUse(std::vector<int64_t>& Histogram) override;
  void RemapPixels(const uint8_t Table[256]) override;
  bool Optimize() override;
  void Changed() override;

 private:
  TGIFHeader* FHeader;
};

class TGIFLocalColorMap : public TGIFColorMap {
 public:
  explicit TGIFLocalColorMap(TGIFFrame* AFrame) : FFrame(AFrame) {}
  void Warning(TGIFSeverity Severity, const std::string& Message) override;
  void CountColorUse(std::vector<int64_t>& Histogram) override;
  void RemapPixels(const uint8_t Table[256]) override;
  bool Optimize() override;
  void Changed() override;

 private:
  TGIFFrame* FFrame;
};

// ---------------------------------------------------------------------------------------
// Stream adapters for sub-blocks
// ---------------------------------------------------------------------------------------

constexpr int DecoderBufferSize = 4096;

// Seeking, and reading or writing in the wrong direction, raise "Opération flux incorrecte".
class TGIFStream : public TStream {
 public:
  explicit TGIFStream(TStream& Stream) : FStream(&Stream) {}
  int64_t Read(void* Buffer, int64_t Count) override;
  int64_t Write(const void* Buffer, int64_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  void Warning(const void* Sender, TGIFSeverity Severity, const std::string& Message);

  TGIFWarning FOnWarning;
  std::function<void(const void* Sender)> FOnProgress;  // never raised by the codec

 protected:
  TStream* FStream;  // not owned
};

// Delivers the data bytes of a run of sub-blocks, up to the block terminator.
class TGIFReader : public TGIFStream {
 public:
  TGIFReader(TStream& Stream, int ABufferSize);
  int64_t Read(void* Buffer, int64_t Count) override;
  // Skips what is left up to and including the terminator.
  void SkipData();
  bool IsEOF() const { return FEOF && FBufferCount == 0; }

 private:
  void RefillBuffer();
  std::vector<uint8_t> FBuffer;
  int FData = 0;  // read position in FBuffer
  int FBufferSize;
  int FBufferCount = 0;
  bool FEOF = false;
};

// Packs bytes into sub-blocks of up to 255 bytes; never writes the terminator.
class TGIFWriter : public TGIFStream {
 public:
  explicit TGIFWriter(TStream& Stream) : TGIFStream(Stream) {}
  ~TGIFWriter() override;  // emits the last, shorter sub-block, if Flush did not
  int64_t Write(const void* Buffer, int64_t Count) override;
  void WriteByte(uint8_t Value);
  // Emits the pending sub-block now, so that a failing stream is reported to the caller;
  // the destructor cannot raise and would only drop the error.
  void Flush() { EmitSubBlock(); }

 private:
  void EmitSubBlock();
  uint8_t FBuffer[256] = {};
  int FBufferCount = 1;
  bool FNeedsFlush = false;
};

// ---------------------------------------------------------------------------------------
// Header and trailer
// ---------------------------------------------------------------------------------------

struct TLogicalScreenDescriptor {
  uint16_t ScreenWidth = 0;
  uint16_t ScreenHeight = 0;
  uint8_t PackedFields = 0;
  uint8_t BackgroundColorIndex = 0;
  uint8_t AspectRatio = 0;
};

class TGIFHeader : public TGIFItem {
 public:
  explicit TGIFHeader(TGIFImage* GIFImage);
  void Clear();
  void Assign(const TGIFHeader& Source);
  void Assign(const TGIFColorMap& Source);
  void Prepare();
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;

  TGIFVersion Version() const;
  TGIFVersion GetVersion() const override { return Version(); }
  int Width() const { return FLogicalScreenDescriptor.ScreenWidth; }
  void SetWidth(int Value) { FLogicalScreenDescriptor.ScreenWidth = uint16_t(Value); }
  int Height() const { return FLogicalScreenDescriptor.ScreenHeight; }
  void SetHeight(int Value) { FLogicalScreenDescriptor.ScreenHeight = uint16_t(Value); }
  uint8_t BackgroundColorIndex() const { return FLogicalScreenDescriptor.BackgroundColorIndex; }
  void SetBackgroundColorIndex(int Value);
  TColor BackgroundColor();
  void SetBackgroundColor(TColor Value);
  uint8_t AspectRatio() const { return FLogicalScreenDescriptor.AspectRatio; }
  void SetAspectRatio(uint8_t Value) { FLogicalScreenDescriptor.AspectRatio = Value; }
  TGIFGlobalColorMap& ColorMap() { return *FColorMap; }
  int BitsPerPixel() const { return FColorMap->BitsPerPixel(); }
  int ColorResolution() const { return BitsPerPixel() - 1; }
  const TLogicalScreenDescriptor& LogicalScreenDescriptor() const {
    return FLogicalScreenDescriptor;
  }

 private:
  TLogicalScreenDescriptor FLogicalScreenDescriptor;
  std::unique_ptr<TGIFGlobalColorMap> FColorMap;
};

// The final ";" of a GIF stream.
class TGIFTrailer : public TGIFItem {
 public:
  using TGIFItem::TGIFItem;
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
};

// ---------------------------------------------------------------------------------------
// Extensions
// ---------------------------------------------------------------------------------------

// A class reference for extensions: what the registries store.
struct TGIFExtensionClass {
  std::string ClassName;
  std::unique_ptr<TGIFExtension> (*New)(TGIFFrame* AFrame);
  // One resolution step: the class that the data after the label asks for (Self when
  // nothing more is to be learnt, null when none fits).
  const TGIFExtensionClass* (*FindSubExtension)(const TGIFExtensionClass& Self, TStream& Stream);
};
template <class T>
const TGIFExtensionClass& ExtensionClassOf() {
  static const TGIFExtensionClass cls{
      T::StaticClassName(),
      [](TGIFFrame* f) -> std::unique_ptr<TGIFExtension> { return std::make_unique<T>(f); },
      &T::FindSubExtension};
  return cls;
}

class TGIFExtensionList : public TGIFList {
 public:
  explicit TGIFExtensionList(TGIFFrame* AFrame) : FFrame(AFrame) {}
  TGIFImage* GetImage() const override;
  void LoadFromStream(TStream& Stream) override;
  // Appends copies of the source's extensions (saved and read back).
  void Assign(TGIFExtensionList& Source);
  TGIFExtension* Extensions(int Index) const;

 private:
  TGIFFrame* FFrame;
};

class TGIFExtension : public TGIFItem {
 public:
  explicit TGIFExtension(TGIFFrame* AFrame);
  static const char* StaticClassName() { return "TGIFExtension"; }
  virtual const TGIFExtensionClass& ClassType() const = 0;
  virtual uint8_t ExtensionType() const = 0;
  TGIFVersion GetVersion() const override { return gv89a; }
  static const TGIFExtensionClass* FindSubExtension(const TGIFExtensionClass& Self,
                                                    TStream& Stream);
  // Resolves the class of the extension at the stream (just after its "!"); the
  // position is unchanged afterwards.
  static const TGIFExtensionClass* FindExtension(TStream& Stream);
  static void RegisterExtension(uint8_t eLabel, const TGIFExtensionClass& eClass);
  static void UnregisterExtension(const TGIFExtensionClass& eClass);
  // Creates an extension of the class; it joins the frame's extension list.
  static TGIFExtension* Create(const TGIFExtensionClass& eClass, TGIFFrame* AFrame);

  void Assign(TGIFExtension& Source);
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
  TGIFFrame* Frame() const { return FFrame; }

 protected:
  TGIFFrame* FFrame;
};

#pragma pack(push, 1)
struct TGIFGCERec {
  uint8_t BlockSize = 4;
  uint8_t PackedFields = 0;
  uint16_t DelayTime = 0;
  uint8_t TransparentColorIndex = 0;
  uint8_t Terminator = 0;
};
struct TGIFPlainTextExtensionRec {
  uint8_t BlockSize = 12;
  uint16_t Left = 0;
  uint16_t Top = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t CellWidth = 0;
  uint8_t CellHeight = 0;
  uint8_t TextFGColorIndex = 0;
  uint8_t TextBGColorIndex = 0;
};
#pragma pack(pop)
static_assert(sizeof(TGIFGCERec) == 6 && sizeof(TGIFPlainTextExtensionRec) == 13);

using TGIFIdentifierCode = uint8_t[8];
using TGIFAuthenticationCode = uint8_t[3];
struct TGIFApplicationRec {
  uint8_t Identifier[8] = {};
  uint8_t Authentication[3] = {};
  bool operator==(const TGIFApplicationRec&) const = default;
};
// "NETSCAPE2.0" and the like, from an 11-character text.
TGIFApplicationRec ApplicationRec(const char* Ident11);

class TGIFGraphicControlExtension : public TGIFExtension {
 public:
  explicit TGIFGraphicControlExtension(TGIFFrame* AFrame);
  ~TGIFGraphicControlExtension() override;
  static const char* StaticClassName() { return "TGIFGraphicControlExtension"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TGIFGraphicControlExtension>();
  }
  uint8_t ExtensionType() const override { return 0xF9; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;

  uint16_t Delay() const { return FGCExtension.DelayTime; }
  void SetDelay(uint16_t Value) { FGCExtension.DelayTime = Value; }
  bool Transparent() const { return FGCExtension.PackedFields & 0x01; }
  void SetTransparent(bool Value);
  bool UserInput() const { return FGCExtension.PackedFields & 0x02; }
  void SetUserInput(bool Value);
  // Values 4 to 7 read from a file are answered as they are.
  TDisposalMethod Disposal() const {
    return TDisposalMethod((FGCExtension.PackedFields & 0x1C) >> 2);
  }
  void SetDisposal(TDisposalMethod Value);
  uint8_t TransparentColorIndex() const { return FGCExtension.TransparentColorIndex; }
  void SetTransparentColorIndex(int Value);
  TColor TransparentColor();
  void SetTransparentColor(TColor Value);
  const TGIFGCERec& Record() const { return FGCExtension; }

 private:
  TGIFGCERec FGCExtension;
};

class TGIFTextExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  static const char* StaticClassName() { return "TGIFTextExtension"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TGIFTextExtension>();
  }
  uint8_t ExtensionType() const override { return 0x01; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;

  int Left() const { return FPlainTextExtension.Left; }
  void SetLeft(uint16_t v) { FPlainTextExtension.Left = v; }
  int Top() const { return FPlainTextExtension.Top; }
  void SetTop(uint16_t v) { FPlainTextExtension.Top = v; }
  int GridWidth() const { return FPlainTextExtension.Width; }
  void SetGridWidth(uint16_t v) { FPlainTextExtension.Width = v; }
  int GridHeight() const { return FPlainTextExtension.Height; }
  void SetGridHeight(uint16_t v) { FPlainTextExtension.Height = v; }
  int CharWidth() const { return FPlainTextExtension.CellWidth; }
  void SetCharWidth(uint8_t v) { FPlainTextExtension.CellWidth = v; }
  int CharHeight() const { return FPlainTextExtension.CellHeight; }
  void SetCharHeight(uint8_t v) { FPlainTextExtension.CellHeight = v; }
  int ForegroundColorIndex() const { return FPlainTextExtension.TextFGColorIndex; }
  void SetForegroundColorIndex(uint8_t v) { FPlainTextExtension.TextFGColorIndex = v; }
  int BackgroundColorIndex() const { return FPlainTextExtension.TextBGColorIndex; }
  void SetBackgroundColorIndex(uint8_t v) { FPlainTextExtension.TextBGColorIndex = v; }
  TColor ForegroundColor();
  TColor BackgroundColor();
  const TStringList& Text() const { return FText; }
  void SetText(const TStringList& Value) { FText.Assign(Value); }

 private:
  TStringList FText;
  TGIFPlainTextExtensionRec FPlainTextExtension;
};

class TGIFCommentExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  static const char* StaticClassName() { return "TGIFCommentExtension"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TGIFCommentExtension>();
  }
  uint8_t ExtensionType() const override { return 0xFE; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
  const TStringList& Text() const { return FText; }
  void SetText(const TStringList& Value) { FText.Assign(Value); }

 private:
  TStringList FText;
};

class TGIFApplicationExtension : public TGIFExtension {
 public:
  explicit TGIFApplicationExtension(TGIFFrame* AFrame) : TGIFExtension(AFrame) {}
  TGIFApplicationExtension(TGIFFrame* ASubImage, const TGIFApplicationRec& Ident)
      : TGIFExtension(ASubImage), FIdent(Ident) {}
  static const char* StaticClassName() { return "TGIFApplicationExtension"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TGIFApplicationExtension>();
  }
  uint8_t ExtensionType() const override { return 0xFF; }
  static const TGIFExtensionClass* FindSubExtension(const TGIFExtensionClass& Self,
                                                    TStream& Stream);
  static void RegisterExtension(const TGIFApplicationRec& eIdent, const TGIFExtensionClass& eClass);
  static void UnregisterExtension(const TGIFExtensionClass& eClass);
  // Abstract here (the framework's abstract error); the subclasses provide them.
  virtual void WriteAppData(TStream& Stream);
  virtual void ReadAppData(TStream& Stream);
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;

  std::string Identifier() const;
  void SetIdentifier(const std::string& Value);
  std::string Authentication() const;
  void SetAuthentication(const std::string& Value);
  const TGIFApplicationRec& Ident() const { return FIdent; }

 protected:
  TGIFApplicationRec FIdent;
};

// One raw data sub-block.
class TGIFBlock {
 public:
  explicit TGIFBlock(int ASize) : FSize(uint8_t(ASize)), FData(size_t(uint8_t(ASize)), 0) {}
  void SaveToStream(TStream& Stream) const;
  void LoadFromStream(TStream& Stream);
  int Size() const { return FSize; }
  std::vector<uint8_t>& Data() { return FData; }
  const std::vector<uint8_t>& Data() const { return FData; }

 private:
  uint8_t FSize;
  std::vector<uint8_t> FData;
};

// An application extension nobody registered: kept block by block.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
 public:
  using TGIFApplicationExtension::TGIFApplicationExtension;
  static const char* StaticClassName() { return "TGIFUnknownAppExtension"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TGIFUnknownAppExtension>();
  }
  void WriteAppData(TStream& Stream) override;
  void ReadAppData(TStream& Stream) override;
  std::vector<std::unique_ptr<TGIFBlock>>& Blocks() { return FBlocks; }

 private:
  std::vector<std::unique_ptr<TGIFBlock>> FBlocks;
};

// An extension whose label no class is registered for: its sub-blocks are kept and
// written back as they came.
class TGIFUnknownExtension : public TGIFExtension {
 public:
  using TGIFExtension::TGIFExtension;
  static const char* StaticClassName() { return "TGIFUnknownExtension"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TGIFUnknownExtension>();
  }
  uint8_t ExtensionType() const override { return FLabel; }
  void SaveToStream(TStream& Stream) override;
  void LoadFromStream(TStream& Stream) override;
  std::vector<std::unique_ptr<TGIFBlock>>& Blocks() { return FBlocks; }

 private:
  uint8_t FLabel = 0;
  std::vector<std::unique_ptr<TGIFBlock>> FBlocks;
};

// NETSCAPE2.0 (and ANIMEXTS1.0): loop count and buffer size.
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
 public:
  explicit TGIFAppExtNSLoop(TGIFFrame* AFrame);
  static const char* StaticClassName() { return "TGIFAppExtNSLoop"; }
  const TGIFExtensionClass& ClassType() const override {
    return ExtensionClassOf<TGIFAppExtNSLoop>();
  }
  void WriteAppData(TStream& Stream) override;
  void ReadAppData(TStream& Stream) override;
  int Loops() const { return FLoops; }
  void SetLoops(uint16_t Value) { FLoops = Value; }
  uint32_t BufferSize() const { return FBufferSize; }
  void SetBufferSize(uint32_t Value) { FBufferSize = Value; }

 private:
  uint16_t FLoops = 0;
  uint32_t FBufferSize = 0;
};

// ---------------------------------------------------------------------------------------
// Frames
// ---------------------------------------------------------------------------------------

struct TImageDescriptor {
  uint8_t Separator = ',';
  uint16_t Left = 0;
  uint16_t Top = 0;
  uint16_t Width = 0;
  uint16_t Height = 0;
  uint8_t PackedFields = 0;
};

class TGIFFrame : public TGIFItem {
 public:
  explicit TGIFFrame(TGIFImage* GIFImage);
  ~TGIFFrame() override;
  // Creates a frame that joins the image's frame list (which owns it).
  static TGIFFrame* Create(TGIFImage* GIFImage);

  void Clear();
  void Dormant();
  void AllocatePixels();
  void ReleasePixels();
  void FillPixels();
  void RequirePixels();
  void ApplyBounds(int ALeft, int ATop, int AWidth, int AHeight);

  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;
  // Image data: the LZW minimum code size, the sub-blocks and their terminator.
  void ReadImageData(TStream& Stream);
  void WriteImageData(TStream& Stream);

  // Another frame, a bitmap, any other picture (drawn into a bitmap first), or null.
  void Assign(TGIFFrame* Source);
  void Assign(TGraphic& Source);
  void Assign(TPicture& Source);
  void AssignTo(TGraphic& Dest);
  void Draw(TCanvas& ACanvas, const TRect& Rect, bool DoTransparent, bool DoTile);
  // The pixels StretchDraw copies when no mask hides any of them; false when some would
  // be masked, or when drawing would dither, fail or draw nothing. Valid until the frame
  // or its colours change.
  bool OpaquePixels(TPixelView& view, bool DoTransparent);
  void StretchDraw(TCanvas& ACanvas, const TRect& Rect, bool DoTransparent, bool DoTile);
  TRect ScaleRect(const TRect& DestRect) const;
  void Crop();
  void Merge(TGIFFrame* Previous);
  // A new graphic control extension marking Index transparent.
  void AddTransparency(int Index);

  uint8_t Pixels(int X, int Y);
  void SetPixels(int X, int Y, uint8_t Value);
  uint8_t* Scanline(int Y);
  bool HasBitmap() const { return FBitmap != nullptr; }
  void SetHasBitmap(bool Value);
  bool HasMask();
  int Left() const { return FImageDescriptor.Left; }
  int Top() const { return FImageDescriptor.Top; }
  int Width() const { return FImageDescriptor.Width; }
  int Height() const { return FImageDescriptor.Height; }
  void SetLeft(int Value);
  void SetTop(int Value);
  void SetWidth(int Value);
  void SetHeight(int Value);
  TRect BoundsRect() const;
  void SetBoundsRect(const TRect& Value);
  TRect ClientRect() const { return TRect{0, 0, Width(), Height()}; }
  bool Interlaced() const { return FImageDescriptor.PackedFields & 0x40; }
  void SetInterlaced(bool Value);
  TGIFLocalColorMap& ColorMap() { return *FColorMap; }
  TGIFColorMap& ActiveColorMap();
  uint8_t* Data() { return FData.data(); }
  const uint8_t* Data() const { return FData.data(); }
  size_t DataSize() const { return FDataSize; }
  TGIFExtensionList& Extensions() { return *FExtensions; }
  TGIFVersion GetVersion() const override;
  int ColorResolution() const { return BitsPerPixel() - 1; }
  int BitsPerPixel() const { return FColorMap->BitsPerPixel(); }
  TBitmap* Bitmap() { return GetBitmap(); }
  void SetBitmap(TBitmap* Value);
  TBitmap* Mask() const { return FMask.get(); }
  HPALETTE Palette();
  void SetPalette(std::unique_ptr<TPalette> Value);
  void DropPalette();
  bool Empty() const;
  bool Transparent() const;
  TGIFGraphicControlExtension* GraphicControlExtension() const { return FGCE; }
  const TImageDescriptor& ImageDescriptor() const { return FImageDescriptor; }

 protected:
  friend class TGIFGraphicControlExtension;
  virtual TBitmap* GetBitmap();
  std::unique_ptr<TBitmap> RenderIndexedBitmap();
  // Display through the web palette; dithering arrives with the colour reduction code.
  virtual std::unique_ptr<TBitmap> RenderDitheredBitmap();
  void DropBitmap();

 private:
  void ImportBitmap(TBitmap& Source);
  void ImportIndexed(TBitmap& Source, int Bits);
  void ImportTrueColor(TBitmap& Source);
  // Mask: one byte per pixel, non-zero where the picture is transparent.
  void ImportMask(const std::vector<uint8_t>& Mask);
  // The same for a mask taken from alpha: a full map gives up its least used colour.
  void ImportAlphaMask(const std::vector<uint8_t>& Mask);
  int ObtainTransparentIndex();
  void ReadDescriptor(TStream& Stream);
  void CopyFrom(TGIFFrame& Source);

  std::unique_ptr<TBitmap> FBitmap;
  std::unique_ptr<TBitmap> FMask;
  bool FNeedMask = true;
  std::unique_ptr<TPalette> FLocalPalette;
  TPixelBuffer FData;
  size_t FDataSize = 0;
  std::unique_ptr<TGIFLocalColorMap> FColorMap;
  TImageDescriptor FImageDescriptor;
  std::unique_ptr<TGIFExtensionList> FExtensions;
  TGIFGraphicControlExtension* FGCE = nullptr;  // one of FExtensions
  std::vector<TRGBQuad> FViewColors;            // colour table of OpaquePixels' view
};

class TGIFImageList : public TGIFList {
 public:
  explicit TGIFImageList(TGIFImage* AImage) : FImage(AImage) {}
  TGIFImage* GetImage() const override { return FImage; }
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;
  TGIFFrame* Frames(int Index) const { return static_cast<TGIFFrame*>(Items(Index)); }

 private:
  TGIFImage* FImage;
};

// ---------------------------------------------------------------------------------------
// The picture
// ---------------------------------------------------------------------------------------

// ---------------------------------------------------------------------------------------
// Animation
// ---------------------------------------------------------------------------------------

// Renderer settings (module-level; nothing in the system changes them).
extern bool ClearOnLoop;           // restore the background before each new pass
extern int DelayUnitMilliseconds;  // milliseconds per delay unit of a graphic control
extern int DefaultFrameDelay;      // units, for a delay of 0 or no graphic control
extern int MinimumFrameDelay;      // units
extern int MaximumFrameDelay;      // units

// Plays the frames of an image onto a target: which frame is shown, when the next one is
// due, and the passes of the loop. What a frame looks like is the subclass's business.
class TCustomGIFRenderer {
 public:
  explicit TCustomGIFRenderer(TGIFImage* AImage);
  virtual ~TCustomGIFRenderer() = default;
  TCustomGIFRenderer(const TCustomGIFRenderer&) = delete;
  TCustomGIFRenderer& operator=(const TCustomGIFRenderer&) = delete;

  // Draws the current state into Rect; another canvas or rectangle starts over.
  virtual void Draw(TCanvas& ACanvas, const TRect& Rect);
  // Advances one frame (what the timer does).
  void NextFrame();
  virtual void StartAnimation();
  virtual void StopAnimation();
  // The last pass ended: the current frame stays.
  virtual void HaltAnimation() {}

  int Speed() const { return FSpeed; }
  virtual void SetSpeed(int Value);
  bool Transparent() const { return FTransparent; }
  virtual void SetTransparent(bool Value);
  TColor BackgroundColor() const { return FBackgroundColor; }
  virtual void SetBackgroundColor(TColor Value);
  bool Animate() const { return FAnimate; }
  virtual void SetAnimate(bool Value);
  int FrameIndex() const { return FFrameIndex; }
  virtual void SetFrameIndex(int Value);
  TGIFImage* Image() const { return FImage; }
  TCanvas* TargetCanvas() const { return FCanvas; }
  const TRect& TargetRect() const { return FDestRect; }
  TGIFFrame* Frame() const { return FFrame; }
  int LoopMax() const { return FLoopMax; }
  int LoopCount() const { return FLoopCount; }
  bool Animating() const { return FAnimating; }
  // The picture of the current frame as it is stretched onto the target.
  virtual TBitmap* Bitmap() = 0;

 protected:
  virtual void SelectFrame(int Index);
  virtual void MarkChanged();
  virtual void ApplyPendingChange();
  virtual void Rewind();
  virtual void LoopStarted() {}
  virtual void AdvanceFrame();
  virtual void PrepareTarget();

  bool FTransparent = false;
  bool FAnimate = false;
  TGIFImage* FImage;
  TCanvas* FCanvas = nullptr;
  TRect FDestRect;
  TColor FBackgroundColor = clNone;
  int FSpeed = 100;
  TGIFFrame* FFrame = nullptr;
  int FFrameIndex = -1;
  bool FChanged = false;
  int FLoopMax = 1;  // 0 plays for ever
  int FLoopCount = 0;
  bool FAnimating = false;
};

// Composes the frames into an off-screen buffer by their disposal methods and advances
// them from a platform timer: a tick only advances and tells the image it changed; the
// repaint that follows draws the new frame and arms the timer again.
class TGIFRenderer : public TCustomGIFRenderer {
 public:
  explicit TGIFRenderer(TGIFImage* AImage);
  ~TGIFRenderer() override;

  void Draw(TCanvas& ACanvas, const TRect& Rect) override;
  void StartAnimation() override;
  void StopAnimation() override;
  void HaltAnimation() override;
  TBitmap* Bitmap() override;

  TBitmap* Background() const { return FBackground.get(); }
  // Milliseconds the current frame stays.
  int FrameDelay() const { return FFrameDelay; }
  TDisposalMethod Disposal() const { return FDisposal; }
  TDisposalMethod PrevDisposal() const { return FPrevDisposal; }
  TGIFFrame* PrevFrame() const { return FPrevFrame; }
  // The platform timer while animating, else null.
  TTimer* AnimationTimer() const { return FAnimationTimer.get(); }

 protected:
  void Rewind() override;
  void LoopStarted() override;
  void AdvanceFrame() override;
  void PrepareTarget() override;

 private:
  void ReleaseBuffers();
  void PrepareDisposalBuffers();
  void CaptureTarget(TBitmap& Into);
  void RenderCurrentFrame();
  void RestoreBackgroundArea();
  void FillBuffer(const TRect& Area);
  void ArmTimer(int Interval);
  void DisarmTimer();
  void TimerTick();

  std::unique_ptr<TBitmap> FBackground;
  TDisposalMethod FDisposal = dmNoDisposal;
  TDisposalMethod FPrevDisposal = dmNoDisposal;
  TGIFFrame* FPrevFrame = nullptr;
  std::unique_ptr<TBitmap> FPreviousBuffer;
  std::unique_ptr<TBitmap> FBuffer;
  int FFrameDelay = 0;
  bool FNeedRender = false;
  std::unique_ptr<TTimer> FAnimationTimer;
  bool FNeedTimer = false;
};

class TGIFImage : public TGraphic {
 public:
  TGIFImage();
  ~TGIFImage() override;
  static const char* StaticClassName() { return "TGIFImage"; }
  const TGraphicClass& ClassType() const override { return ClassOf<TGIFImage>(); }

  void Draw(TCanvas& canvas, const TRect& rect) override;
  bool OpaquePixels(TPixelView& view) override;
  void LoadFromStream(TStream& Stream) override;
  void SaveToStream(TStream& Stream) override;
  // The picture stored as component data: its GIF file, optimized first when
  // OptimizeOnStream is set.
  void ReadData(TStream& Stream) { LoadFromStream(Stream); }
  void WriteData(TStream& Stream);
  void Assign(TGraphic& Source) override;
  void Assign(TPicture& Source);
  // The clipboard's picture, through a picture of the class registered for it.
  void AssignFromClipboard();
  void AssignTo(TGraphic& Dest) override;
  bool Equals(TGraphic& Graphic) override { return &Graphic == this; }

  int Width() const override;
  int Height() const override;
  void SetWidth(int Value) override;
  void SetHeight(int Value) override;
  bool Empty() const override { return FImages->Count() == 0; }
  void SetTransparent(bool Value) override;
  HPALETTE Palette() override;
  void SetPalette(HPALETTE Value) override;
  void SetPalette(std::unique_ptr<TPalette> Value);
  void LoadFromClipboardFormat(TClipboardFormat AFormat, const TClipboardData& AData,
                               HPALETTE APalette) override;
  void SaveToClipboardFormat(TClipboardFormat& AFormat, TClipboardData& AData,
                             std::unique_ptr<TPalette>& APalette) override;

  void Clear();
  // Adds frames made from the source (every frame of a GIF image); returns the last.
  TGIFFrame* Add(TGraphic& Source);
  TGIFFrame* Add(TGIFFrame& Source);
  void Pack();
  void Dormant();
  // Replaces every colour table by one global table ordered by use.
  void OptimizeColorMap();
  // The last three parameters are accepted for the caller's convenience and not used.
  void Optimize(TGIFOptimizeOptions Options, TColorReduction ColorReduction = rmNone,
                TDitherMode DitherMode = dmNearest, int ReductionBits = 8);
  TColor EffectiveBackgroundColor();
  void StopDraw();
  void SuspendDraw();
  void ResumeDraw();
  virtual std::unique_ptr<TCustomGIFRenderer> NewRenderer();
  virtual void Warning(const void* Sender, TGIFSeverity Severity, const std::string& Message);
  void ResetContent();
  void DropBitmap();
  void DropPalette();

  TGIFGlobalColorMap& GlobalColorMap() { return FHeader->ColorMap(); }
  TGIFVersion Version() const;
  TGIFImageList& Images() { return *FImages; }
  TGIFHeader& Header() { return *FHeader; }
  int ColorResolution() const;
  int BitsPerPixel() const;
  int BackgroundColorIndex() const { return FHeader->BackgroundColorIndex(); }
  void SetBackgroundColorIndex(int Value);
  TColor BackgroundColor() { return FHeader->BackgroundColor(); }
  void SetBackgroundColor(TColor Value);
  int AspectRatio() const { return FHeader->AspectRatio(); }
  void SetAspectRatio(uint8_t Value);
  bool IsTransparent() const;
  TColor DrawBackgroundColor() const { return FDrawBackgroundColor; }
  void SetDrawBackgroundColor(TColor Value) { FDrawBackgroundColor = Value; }
  TColorReduction ColorReduction() const { return FColorReduction; }
  void SetColorReduction(TColorReduction Value) { FColorReduction = Value; }
  int ReductionBits() const { return FReductionBits; }
  void SetReductionBits(int Value);
  TDitherMode DitherMode() const { return FDitherMode; }
  void SetDitherMode(TDitherMode Value) { FDitherMode = Value; }
  int AnimationSpeed() const { return FAnimationSpeed; }
  void SetAnimationSpeed(int Value);
  // The first frame composed on the logical screen (cached); null when empty.
  TBitmap* Bitmap();
  bool Animate() const { return FAnimate; }
  void SetAnimate(bool Value);
  TGIFAnimationLoop AnimateLoop() const { return FAnimateLoop; }
  void SetAnimateLoop(TGIFAnimationLoop Value);
  TGIFDithering Dithering() const { return FDithering; }
  void SetDithering(TGIFDithering Value);
  bool ShouldDither() const;
  // Saving codes the image data as compactly as this encoder can (a full string table is
  // kept while it pays); off by default, so that a plain save writes the bytes it always has.
  bool CompactEncoding() const { return FCompactEncoding; }
  void SetCompactEncoding(bool Value) { FCompactEncoding = Value; }

  TGIFWarning OnWarning;
  std::function<void(TGIFImage&)> OnStartPaint, OnPaint, OnAfterPaint, OnLoop, OnEndPaint;

 private:
  void DrawFrame0(TCanvas& canvas, const TRect& rect);

  bool FAnimate;
  TGIFAnimationLoop FAnimateLoop;
  TGIFDithering FDithering;
  bool IsDrawing = false;
  bool IsInsideGetPalette = false;
  std::unique_ptr<TGIFHeader> FHeader;
  std::unique_ptr<TGIFImageList> FImages;
  std::unique_ptr<TPalette> FGlobalPalette;
  TColorReduction FColorReduction;
  int FReductionBits;
  std::unique_ptr<TBitmap> FBitmap;
  int FAnimationSpeed;
  TColor FDrawBackgroundColor = clNone;
  std::unique_ptr<TCustomGIFRenderer> FRenderer;
  TDitherMode FDitherMode;
  int FDrawSuspendCount = 0;
  bool FSuspendedAnimation = false;
  bool FCompactEncoding = false;
};

// The 216-colour web palette: entry 36 r + 6 g + b is (51 r, 51 g, 51 b).
std::unique_ptr<TPalette> CreateWebPalette();
// Reduces any bitmap to an 8-bit paletted bitmap (rmNone: a 24-bit copy). The source is
// left converted to 24 bits. Palette serves rmPalette, ReductionBits the quantizing
// reductions.
std::unique_ptr<TBitmap> ReduceBitmapColors(TBitmap& Bitmap, TColorReduction ColorReduction,
                                            TDitherMode DitherMode, const TPalette* Palette,
                                            int ReductionBits);

// Registers TGIFImage for "GIF" as "Image GIF", with the clipboard format "Image GIF".
void RegisterGifImage();
void UnregisterGifImage();
