// The notice stamped into the photo, the composition of the mock-up and its export, at
// the display size and at the client photo's own size.
#include "jpeg.h"
#include "workspace_history.h"

void TFrmModulePhoto::cbMentionChange() {
  const TStep step(*this);
  FFrameDamage.clear();  // the window refreshes the whole display after a choice
  if (cbMention.ItemIndex == 0) {
    noticeStamps.clear();
    FitClientPhoto();  // redraws the photo, which removes the notice
    return;
  }
  TBitmap* display = DisplayBitmap();
  if (!display) return;  // nothing shown yet: nothing to stamp
  // Written over what is there (black over white keeps the white's edges), and kept in
  // order so that every redraw writes the same.
  noticeStamps.push_back(cbMention.ItemIndex);
  StampNotice(display->Canvas(), cbMention.ItemIndex, 10, display->Height() - 30);
}

std::unique_ptr<TBitmap> TFrmModulePhoto::CombineImage() {
  auto combined = std::make_unique<TBitmap>();
  TBitmap* display = DisplayBitmap();
  if (!display) return combined;
  combined->SetSize(display->Width(), display->Height());
  TCanvas& canvas = combined->Canvas();
  canvas.Draw(0, 0, *display);
  // What the window shows: a product hidden by a new client photo is not composed.
  TGraphic* product = ImgProduit.Picture.Graphic();
  if (!ImgProduit.Visible || !product || product->Empty()) return combined;
  if (productInPerspective) {
    if (const TWarpSource* warp = PlacedWarp()) {
      TQuad q = ProductCornersInWindow();
      for (TPointD& p : q) p = TPointD{p.X - photoOffsetX, p.Y - photoOffsetY};
      DrawPerspective(*combined, *warp, q, Rect(0, 0, combined->Width(), combined->Height()));
    }
    return combined;
  }
  const int left = ImgProduit.Left - photoOffsetX;
  const int top = ImgProduit.Top - photoOffsetY;
  canvas.StretchDraw(Rect(left, top, left + ImgProduit.Width, top + ImgProduit.Height), *product);
  return combined;
}

std::string TFrmModulePhoto::ExportExtension(int filterIndex) {
  switch (filterIndex) {
    case 1:
      return ".png";
    case 2:
      return ".jpg";
    case 3:
      return ".jpeg";
    default:
      return ".bmp";  // row 4, and "Tout les Fichiers" which names no format
  }
}

namespace {

// The picture class that writes an export extension.
const TGraphicClass& ExportClass(const std::string& ext) {
  const TGraphicClass* cls = ext == ".bmp" ? &ClassOf<TBitmap>() : TPicture::FindFileFormat(ext);
  if (!cls) throw EInvalidGraphic("Format d'image non disponible pour l'export : " + ext);
  return *cls;
}

// A JPEG photo that has not been decoded yet, over the same compressed data.
std::unique_ptr<TJPEGImage> UndecodedCopy(TJPEGImage& jpeg) {
  // The stream is only read (its size is not a const operation of the class).
  auto& data = const_cast<TMemoryStream&>(*jpeg.JPEGData().Data());
  auto fresh = std::make_unique<TJPEGImage>();
  TReadOnlyMemoryStream bytes(data.Memory(), size_t(data.Size()));
  fresh->LoadFromStream(bytes);
  return fresh;
}

}  // namespace

void ReleaseDecodedPixels(TPicture& picture) {
  auto* jpeg = dynamic_cast<TJPEGImage*>(picture.Graphic());
  if (jpeg && jpeg->JPEGData().Data()) picture.SetGraphicOwned(UndecodedCopy(*jpeg));
}

namespace {

// The client photo's own decoded pixels when they can take the mock-up in place: a JPEG
// (always opaque) decoded at its full size in 24 bits.
TBitmap* DecodedInPlace(TGraphic* photo) {
  auto* jpeg = dynamic_cast<TJPEGImage*>(photo);
  if (!jpeg || !jpeg->JPEGData().Data() || jpeg->Scale() != jsFullSize) return nullptr;
  TBitmap* decoded = jpeg->Bitmap();
  if (!decoded || decoded->PixelFormat() != pf24bit ||
      decoded->Width() != jpeg->JPEGData().Width() ||
      decoded->Height() != jpeg->JPEGData().Height())
    return nullptr;
  return decoded;
}

}  // namespace

void TFrmModulePhoto::btnExportImageClick() {
  if (FHost == nullptr || !FHost->ExecuteSavePictureDialog(svgImageSave)) return;
  // The chosen filter row decides the format, whatever name was typed.
  const std::string ext = ExportExtension(svgImageSave.FilterIndex);
  const TBusyScope busy(FHost);
  TPicture holder;
  std::unique_ptr<TBitmap> combined = CombineImage();
  holder.SetGraphicOwned(ExportClass(ext).Create());
  holder.Graphic()->Assign(*combined);
  holder.Graphic()->SaveToFile(svgImageSave.FileName);
  svgImageSave.FileName.clear();
}

bool TFrmModulePhoto::CanExportFullResolution() {
  return btnExportImage.Enabled && DisplayBitmap() != nullptr && clientPhoto &&
         clientPhoto->Graphic() != nullptr && !clientPhoto->Graphic()->Empty();
}

std::unique_ptr<TBitmap> TFrmModulePhoto::CombineFullResolution() {
  auto full = std::make_unique<TBitmap>();
  if (!CanExportFullResolution()) return full;
  const int w = clientPhoto->Graphic()->Width();
  const int h = clientPhoto->Graphic()->Height();
  try {
    CheckedDibSize(w, h, 24);
  } catch (const EOutOfResources&) {
    throw EOutOfResources("Erreur : la photo du client (" + std::to_string(w) + " x " +
                          std::to_string(h) +
                          " pixels) est trop grande pour l'export en pleine résolution. "
                          "Exportez l'image à la taille de l'écran.");
  }
  full->SetPixelFormat(pf24bit);
  full->SetSize(w, h);
  RenderMockup(Scene(true), *full, w, h);
  return full;
}

void TFrmModulePhoto::ExportFullResolution() {
  if (!CanExportFullResolution() || FHost == nullptr ||
      !FHost->ExecuteSavePictureDialog(svgImageSave))
    return;
  const std::string ext = ExportExtension(svgImageSave.FilterIndex);
  const TGraphicClass& cls = ExportClass(ext);
  const TBusyScope busy(FHost);
  TPicture holder;
  holder.SetGraphicOwned(cls.Create());
  // A bitmap is its own file: written as it is, without a copy.
  const bool asBitmap = ext == ".bmp";
  auto take = [&](TBitmap& composed) {
    if (asBitmap)
      composed.SaveToFile(svgImageSave.FileName);
    else
      holder.Graphic()->Assign(composed);
  };
  if (TBitmap* decoded = DecodedInPlace(clientPhoto->Graphic())) {
    // The mock-up is drawn over the photo's own decoded pixels, so that no second
    // photo-sized bitmap is made; the photo is then put back undecoded (it decodes again
    // when next drawn), whatever happens.
    std::unique_ptr<TGraphic> untouched =
        UndecodedCopy(static_cast<TJPEGImage&>(*clientPhoto->Graphic()));
    struct TPutBack {
      TPicture& Photo;
      std::unique_ptr<TGraphic>& Untouched;
      ~TPutBack() { Photo.SetGraphicOwned(std::move(Untouched)); }
    };
    const TPutBack putBack{*clientPhoto, untouched};
    TMockupScene scene = Scene(true);
    scene.PhotoDrawn = true;
    RenderMockup(scene, *decoded, decoded->Width(), decoded->Height());
    take(*decoded);
  } else {
    std::unique_ptr<TBitmap> full = CombineFullResolution();
    take(*full);
  }
  // The composed pixels are gone by now: only the picture being written remains.
  if (!asBitmap) holder.Graphic()->SaveToFile(svgImageSave.FileName);
  svgImageSave.FileName.clear();
}
