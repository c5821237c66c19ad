// TJPEGImage: settings, size, drawing, conversions, equality, palette, clipboard and
// registration with the picture registry.
#include <algorithm>

#include "jpeg_glue.h"

TJPEGDefaults JpegDefaultSettings;

namespace {

const char* const SJpegDescription = "Fichier image JPEG";
const char* const SChangeJpegSize = "Impossible de modifier la taille d'une image JPEG";

bool PaletteScreen() {
  return ScreenBitsPerPixel() * ScreenPlanes() <= 8;
}

}  // namespace

TJPEGImage::TJPEGImage()
    : FImage(std::make_shared<TJPEGData>()),
      FSmoothing(JpegDefaultSettings.Smoothing),
      FGrayScale(JpegDefaultSettings.Grayscale),
      FPixelFormat(JpegDefaultSettings.PixelFormat),
      FQuality(JpegDefaultSettings.CompressionQuality),
      FProgressiveDisplay(JpegDefaultSettings.ProgressiveDisplay),
      FProgressiveEncoding(JpegDefaultSettings.ProgressiveEncoding),
      FPerformance(JpegDefaultSettings.Performance),
      FScale(JpegDefaultSettings.Scale) {}

TJPEGImage::~TJPEGImage() = default;

// ---- settings ---------------------------------------------------------------------

bool TJPEGImage::DropBitmap() {
  if (!FBitmap || !FImage->FData) return false;
  FBitmap.reset();
  return true;
}

void TJPEGImage::SetCompressionQuality(TJPEGQualityRange value) {
  FQuality = std::clamp(value, JpegMinQuality, JpegMaxQuality);
}

void TJPEGImage::SetGrayscale(bool value) {
  if (FGrayScale == value) return;
  DropBitmap();
  FGrayScale = value;
  SetPaletteModified(true);
  Changed();
}

void TJPEGImage::SetPixelFormat(TJPEGPixelFormat value) {
  if (FPixelFormat == value) return;
  DropBitmap();
  FPixelFormat = value;
  SetPaletteModified(true);
  Changed();
}

void TJPEGImage::SetPerformance(TJPEGPerformance value) {
  if (FPerformance == value) return;
  DropBitmap();
  FPerformance = value;
  SetPaletteModified(true);
  Changed();
}

void TJPEGImage::SetScale(TJPEGScale value) {
  if (FScale == value) return;
  DropBitmap();
  FScale = value;
  FNeedRecalc = true;
  Changed();
}

void TJPEGImage::SetSmoothing(bool value) {
  if (FSmoothing == value) return;
  DropBitmap();
  FSmoothing = value;
  Changed();
}

// ---- size and drawing ---------------------------------------------------------------

int TJPEGImage::Width() const {
  if (FBitmap) return FBitmap->Width();
  if (FScale == jsFullSize) return FImage->FWidth;
  CalcScaledSize();
  return FScaledWidth;
}

int TJPEGImage::Height() const {
  if (FBitmap) return FBitmap->Height();
  if (FScale == jsFullSize) return FImage->FHeight;
  CalcScaledSize();
  return FScaledHeight;
}

void TJPEGImage::SetWidth(int) {
  throw EInvalidGraphicOperation(SChangeJpegSize);
}
void TJPEGImage::SetHeight(int) {
  throw EInvalidGraphicOperation(SChangeJpegSize);
}

bool TJPEGImage::Empty() const {
  if (FImage->FData) return false;
  return !FBitmap || FBitmap->Empty();
}

void TJPEGImage::Draw(TCanvas& canvas, const TRect& rect) {
  if (TBitmap* bitmap = GetBitmap()) canvas.StretchDraw(rect, *bitmap);
}

bool TJPEGImage::OpaquePixels(TPixelView& view) {
  TBitmap* bitmap = GetBitmap();
  return bitmap != nullptr && bitmap->OpaquePixels(view);
}

void TJPEGImage::DIBNeeded() {
  GetBitmap();
}

// ---- conversions --------------------------------------------------------------------

void TJPEGImage::Assign(TGraphic& source) {
  if (auto* jpeg = dynamic_cast<TJPEGImage*>(&source)) {
    if (jpeg == this) return;
    std::unique_ptr<TBitmap> copy;
    if (jpeg->FBitmap) {
      copy = std::make_unique<TBitmap>();
      copy->Assign(*jpeg->FBitmap);
    }
    FImage = jpeg->FImage;
    FNeedRecalc = true;
    // Without a decoded source the old picture's pixels must not stay beside the new
    // data: the next draw decodes the shared data.
    FBitmap = std::move(copy);
    return;
  }
  if (auto* bitmap = dynamic_cast<TBitmap*>(&source)) return TakeBitmap(*bitmap, false);
  TGraphic::Assign(source);
}

void TJPEGImage::Adopt(TGraphic& source) {
  auto* bitmap = dynamic_cast<TBitmap*>(&source);
  if (bitmap == nullptr || bitmap == FBitmap.get()) return Assign(source);
  TakeBitmap(*bitmap, true);
}

void TJPEGImage::TakeBitmap(TBitmap& bitmap, bool move) {
  // Copy first: the source may be this image's own bitmap.
  auto copy = std::make_unique<TBitmap>();
  if (move)
    copy->Adopt(bitmap);
  else
    copy->Assign(bitmap);
  NewImage();
  FBitmap = std::move(copy);
  // New content: whoever shows this picture must redraw it.
  SetPaletteModified(true);
  Changed();
}

void TJPEGImage::AssignTo(TGraphic& dest) {
  if (auto* bitmap = dynamic_cast<TBitmap*>(&dest)) {
    if (TBitmap* decoded = GetBitmap()) {
      bitmap->Assign(*decoded);
    } else {
      TBitmap empty;
      bitmap->Assign(empty);
    }
    return;
  }
  TGraphic::AssignTo(dest);
}

bool TJPEGImage::Equals(TGraphic& other) {
  auto* jpeg = dynamic_cast<TJPEGImage*>(&other);
  if (jpeg == nullptr) return false;
  if (FImage->FData && jpeg->FImage->FData) return TGraphic::Equals(other);
  return FImage == jpeg->FImage;
}

// ---- palette ------------------------------------------------------------------------

HPALETTE TJPEGImage::Palette() {
  if (FBitmap) return FBitmap->Palette();
  if (FTempPal) return FTempPal.get();
  if (FPixelFormat == jf24Bit && PaletteScreen()) {
    FTempPal = CopyPalette(&HalftonePalette256());
    return FTempPal.get();
  }
  return nullptr;
}

void TJPEGImage::SetPalette(HPALETTE palette) {
  if (palette == FTempPal.get()) return;
  auto copy = CopyPalette(palette);  // before dropping: it may be the bitmap's own
  bool dropped = false;
  if (FBitmap && FBitmap->Palette() != palette) dropped = DropBitmap();
  FTempPal = std::move(copy);
  if (dropped) {
    SetPaletteModified(true);
    Changed();
  }
}

// ---- clipboard ----------------------------------------------------------------------

void TJPEGImage::SaveToClipboardFormat(TClipboardFormat& format, TClipboardData& data,
                                       std::unique_ptr<TPalette>& palette) {
  if (TBitmap* decoded = GetBitmap()) {
    decoded->SaveToClipboardFormat(format, data, palette);
  } else {
    TBitmap empty;
    empty.SaveToClipboardFormat(format, data, palette);
  }
}

void TJPEGImage::LoadFromClipboardFormat(TClipboardFormat format, const TClipboardData& data,
                                         HPALETTE palette) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->LoadFromClipboardFormat(format, data, palette);
  // The pasted picture replaces the old one: keeping the old compressed bytes would
  // make the next save write a picture that is no longer shown.
  NewImage();
  FBitmap = std::move(bitmap);
  SetPaletteModified(true);
  Changed();
}

// ---- registration -------------------------------------------------------------------

void RegisterJpegImage() {
  JpegDefaultSettings.PixelFormat = PaletteScreen() ? jf8Bit : jf24Bit;
  TPicture::RegisterFileFormat("jpeg", SJpegDescription, ClassOf<TJPEGImage>());
  TPicture::RegisterFileFormat("jpg", SJpegDescription, ClassOf<TJPEGImage>());
}

void UnregisterJpegImage() {
  TPicture::UnregisterGraphicClass(ClassOf<TJPEGImage>());
}
