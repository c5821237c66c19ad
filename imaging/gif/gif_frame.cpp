// The frame: its descriptor and bounds, its pixel buffer, pixel access, its caches, and
// the frame-level block order of reading and writing.
#include <algorithm>
#include <cstring>

#include "gif_glue.h"

TGIFFrame::TGIFFrame(TGIFImage* GIFImage)
    : TGIFItem(GIFImage),
      FColorMap(std::make_unique<TGIFLocalColorMap>(this)),
      FExtensions(std::make_unique<TGIFExtensionList>(this)) {}

TGIFFrame::~TGIFFrame() {
  // The extensions go first: a graphic control extension clears FGCE as it leaves.
  FExtensions->Clear();
  FGCE = nullptr;
}

TGIFFrame* TGIFFrame::Create(TGIFImage* GIFImage) {
  auto frame = std::make_unique<TGIFFrame>(GIFImage);
  TGIFFrame* result = frame.get();
  GIFImage->Images().Add(std::move(frame));
  return result;
}

void TGIFFrame::Clear() {
  FExtensions->Clear();
  FColorMap->Clear();
  ReleasePixels();
  ApplyBounds(0, 0, 0, 0);
  FGCE = nullptr;
  Dormant();
}

void TGIFFrame::DropBitmap() {
  FBitmap.reset();
  FMask.reset();
  FNeedMask = true;
}

void TGIFFrame::DropPalette() {
  FLocalPalette.reset();
}

void TGIFFrame::Dormant() {
  DropBitmap();
  DropPalette();
}

void TGIFFrame::AllocatePixels() {
  ReleasePixels();
  uint64_t size = uint64_t(Width()) * uint64_t(Height());
  if (size == 0) return;
  CheckImageBudget(size);
  FData = TPixelBuffer(size_t(size));
  FDataSize = size_t(size);
}

void TGIFFrame::ReleasePixels() {
  FData.clear();
  FDataSize = 0;
}

void TGIFFrame::FillPixels() {
  if (FDataSize == 0) return;
  uint8_t value = Transparent() ? FGCE->TransparentColorIndex() : 0;
  std::memset(FData.data(), value, FDataSize);
}

void TGIFFrame::RequirePixels() {
  if (FData.empty()) {
    AllocatePixels();
    FillPixels();
  }
  if (FDataSize == 0) GIFError(gifmsg::sNoPixels);
}

void TGIFFrame::ApplyBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  auto checkExtent = [](int64_t v) {
    if (v < 0 || v > 65535) GIFError(gifmsg::sBadSize);
  };
  checkExtent(int64_t(ALeft) + AWidth);
  checkExtent(int64_t(ATop) + AHeight);
  if (ALeft < 0 || ATop < 0 || AWidth < 0 || AHeight < 0) GIFError(gifmsg::sBadSize);
  bool resized = AWidth != Width() || AHeight != Height();
  FImageDescriptor.Left = uint16_t(ALeft);
  FImageDescriptor.Top = uint16_t(ATop);
  FImageDescriptor.Width = uint16_t(AWidth);
  FImageDescriptor.Height = uint16_t(AHeight);
  if (resized) {
    DropBitmap();
    AllocatePixels();
    FillPixels();
  }
  if (!FImage) return;
  TGIFHeader& header = FImage->Header();
  bool grew = false;
  if (header.Width() < ALeft + AWidth) {
    grew = grew || header.Width() != 0;
    header.SetWidth(ALeft + AWidth);
  }
  if (header.Height() < ATop + AHeight) {
    grew = grew || header.Height() != 0;
    header.SetHeight(ATop + AHeight);
  }
  if (grew) Warning(gsWarning, gifmsg::sScreenOverflow);
}

void TGIFFrame::SetLeft(int Value) {
  ApplyBounds(Value, Top(), Width(), Height());
}
void TGIFFrame::SetTop(int Value) {
  ApplyBounds(Left(), Value, Width(), Height());
}
void TGIFFrame::SetWidth(int Value) {
  ApplyBounds(Left(), Top(), Value, Height());
}
void TGIFFrame::SetHeight(int Value) {
  ApplyBounds(Left(), Top(), Width(), Value);
}

TRect TGIFFrame::BoundsRect() const {
  return TRect{Left(), Top(), Left() + Width(), Top() + Height()};
}

void TGIFFrame::SetBoundsRect(const TRect& Value) {
  ApplyBounds(Value.Left, Value.Top, Value.Right - Value.Left, Value.Bottom - Value.Top);
}

void TGIFFrame::SetInterlaced(bool Value) {
  FImageDescriptor.PackedFields = uint8_t(Value ? (FImageDescriptor.PackedFields | 0x40)
                                                : (FImageDescriptor.PackedFields & ~0x40));
}

TGIFColorMap& TGIFFrame::ActiveColorMap() {
  if (FColorMap->Count() > 0 || !FImage) return *FColorMap;
  if (FImage->GlobalColorMap().Count() > 0) return FImage->GlobalColorMap();
  return *FColorMap;
}

uint8_t* TGIFFrame::Scanline(int Y) {
  if (Y < 0 || Y >= Height()) GIFError(gifmsg::sBadPixel);
  RequirePixels();
  return FData.data() + size_t(Y) * size_t(Width());
}

uint8_t TGIFFrame::Pixels(int X, int Y) {
  if (X < 0 || X >= Width()) GIFError(gifmsg::sBadPixel);
  return Scanline(Y)[X];
}

void TGIFFrame::SetPixels(int X, int Y, uint8_t Value) {
  if (X < 0 || X >= Width()) GIFError(gifmsg::sBadPixel);
  uint8_t* row = Scanline(Y);
  if (row[X] == Value) return;
  if (Value >= ActiveColorMap().Count()) GIFError(gifmsg::sMissingColor);
  DropBitmap();
  row[X] = Value;
}

bool TGIFFrame::Empty() const {
  return FData.empty() || FDataSize == 0 || Width() == 0 || Height() == 0;
}

bool TGIFFrame::Transparent() const {
  return FGCE != nullptr && FGCE->Transparent();
}

TGIFVersion TGIFFrame::GetVersion() const {
  if (FColorMap->Optimized()) return gv89a;
  TGIFVersion v = gv87a;
  for (int i = 0; i < FExtensions->Count(); ++i)
    v = std::max(v, FExtensions->Items(i)->GetVersion());
  return v;
}

void TGIFFrame::SetHasBitmap(bool Value) {
  if (Value)
    GetBitmap();
  else
    DropBitmap();
}

bool TGIFFrame::HasMask() {
  if (FNeedMask && Transparent()) {
    FBitmap.reset();
    GetBitmap();
  }
  return FMask != nullptr;
}

void TGIFFrame::SetBitmap(TBitmap* Value) {
  DropBitmap();
  if (Value) Assign(*Value);
}

HPALETTE TGIFFrame::Palette() {
  if (FBitmap && FBitmap->Palette()) return FBitmap->Palette();
  if (FLocalPalette) return FLocalPalette.get();
  if (FImage && FImage->ShouldDither()) {
    FLocalPalette = CreateWebPalette();
    return FLocalPalette.get();
  }
  if (FColorMap->Count() > 0) {
    FLocalPalette = FColorMap->ExportPalette();
    return FLocalPalette.get();
  }
  return FImage ? FImage->Palette() : nullptr;
}

void TGIFFrame::SetPalette(std::unique_ptr<TPalette> Value) {
  if (Value.get() == FLocalPalette.get()) return;
  FLocalPalette = std::move(Value);
  if (FBitmap) {
    HPALETTE current = FBitmap->Palette();
    bool same =
        (!current && !FLocalPalette) || (current && FLocalPalette && *current == *FLocalPalette);
    if (!same) {
      DropBitmap();
      if (FImage) {
        FImage->SetPaletteModified(true);
        FImage->Changed();
      }
    }
  }
}

void TGIFFrame::AddTransparency(int Index) {
  auto* gce = static_cast<TGIFGraphicControlExtension*>(
      TGIFExtension::Create(ExtensionClassOf<TGIFGraphicControlExtension>(), this));
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(Index);
}

// ---------------------------------------------------------------------------------------
// Reading and writing
// ---------------------------------------------------------------------------------------

void TGIFFrame::ReadDescriptor(TStream& Stream) {
  uint8_t d[10];
  ReadExact(Stream, d, 10);
  if (d[0] != ',') GIFError(gifmsg::sBadData);
  FImageDescriptor.Separator = d[0];
  FImageDescriptor.Left = GetLE16(d + 1);
  FImageDescriptor.Top = GetLE16(d + 3);
  FImageDescriptor.Width = GetLE16(d + 5);
  FImageDescriptor.Height = GetLE16(d + 7);
  FImageDescriptor.PackedFields = d[9];
  TImageDescriptor& id = FImageDescriptor;
  if (id.Left + id.Width > 65535 || id.Top + id.Height > 65535) {
    if (id.Left + id.Width > 65535) id.Width = uint16_t(65535 - id.Left);
    if (id.Top + id.Height > 65535) id.Height = uint16_t(65535 - id.Top);
    Warning(gsWarning, gifmsg::sBadSize);
  }
  if (id.Width == 0 || id.Height == 0) {
    id.Width = uint16_t(FImage ? FImage->Header().Width() : 0);
    id.Height = uint16_t(FImage ? FImage->Header().Height() : 0);
    Warning(gsWarning, gifmsg::sScreenOverflow);
  }
}

void TGIFFrame::LoadFromStream(TStream& Stream) {
  Clear();
  FExtensions->LoadFromStream(Stream);
  uint8_t next = 0;
  if (!PeekByte(Stream, next) || next == ';' || next == 0) return;
  ReadDescriptor(Stream);
  if (FImageDescriptor.PackedFields & 0x80)
    FColorMap->LoadFromStream(Stream, 2 << (FImageDescriptor.PackedFields & 7));
  ReadImageData(Stream);
  if (!Empty()) {
    ApplyBounds(Left(), Top(), Width(), Height());
    if (RenderOnLoad) GetBitmap();
  }
}

void TGIFFrame::ReadImageData(TStream& Stream) {
  uint8_t minCodeSize = 0;
  if (!TryReadByte(Stream, minCodeSize)) {
    Warning(gsWarning, gifmsg::sPrematureEOF);
    return;
  }
  if (minCodeSize > 12) {
    Warning(gsWarning, gifmsg::sBadData);
    return;
  }
  TGIFWarning warn = [this](const void* sender, TGIFSeverity s, const std::string& m) {
    if (FImage)
      FImage->Warning(sender, s, m);
    else if (s == gsError)
      throw GIFException(m);
  };
  TGIFBitReader reader(Stream, warn);
  // The buffer is sized from the descriptor only when the data that follows can fill it:
  // a small file never makes a huge allocation.
  uint64_t pixels = uint64_t(Width()) * Height();
  if (pixels > MaxEncodablePixels(Stream.Size() - Stream.Position(), minCodeSize)) {
    Warning(gsWarning, gifmsg::sBadSize);
    reader.SkipData();
    return;
  }
  AllocatePixels();
  const uint8_t fill = Transparent() ? FGCE->TransparentColorIndex() : 0;
  if (fill != 0) FillPixels();
  TLZWTarget target{FData.data(), Width(), Height(), Interlaced(), fill, nullptr, warn};
  if (FImage && FImage->OnProgress)
    target.Progress = [this, &Stream](int64_t) {
      int64_t size = Stream.Size();
      int percent = size > 0 ? int((Stream.Position() * 100 + size / 2) / size) : 0;
      FImage->Progress(psRunning, uint8_t(std::clamp(percent, 0, 100)), false, TRect{},
                       gifmsg::sProgressLoading);
    };
  DecodeLZW(reader, minCodeSize, target);
  reader.SkipData();
}

void TGIFFrame::SaveToStream(TStream& Stream) {
  FExtensions->SaveToStream(Stream);
  if (Empty()) return;
  uint8_t packed = FImageDescriptor.PackedFields & 0x50;
  if (FColorMap->Count() > 0) {
    packed |= 0x80;
    if (FColorMap->Optimized()) packed |= 0x20;
    packed |= uint8_t((FColorMap->BitsPerPixel() - 1) & 7);
  }
  FImageDescriptor.PackedFields = packed;
  uint8_t d[10];
  d[0] = ',';
  PutLE16(d + 1, FImageDescriptor.Left);
  PutLE16(d + 3, FImageDescriptor.Top);
  PutLE16(d + 5, FImageDescriptor.Width);
  PutLE16(d + 7, FImageDescriptor.Height);
  d[9] = packed;
  Stream.WriteBuffer(d, 10);
  FColorMap->SaveToStream(Stream);
  WriteImageData(Stream);
}
