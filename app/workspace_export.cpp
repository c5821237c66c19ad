// The notice stamped into the photo, the composition of the mock-up and its export.
#include "ModulePhotos.h"

void TFrmModulePhoto::cbMentionChange() {
  FFrameDamage.clear();  // the window refreshes the whole display after a choice
  if (cbMention.ItemIndex == 0) {
    FitClientPhoto();  // redraws the photo, which removes the notice
    return;
  }
  TBitmap* display = DisplayBitmap();
  if (!display) return;  // nothing shown yet: nothing to stamp
  TCanvas& canvas = display->Canvas();
  canvas.Font.Style = fsBold;
  canvas.Font.Size = 12;
  canvas.Font.Color = cbMention.ItemIndex == 2 ? clBlack : clWhite;
  canvas.TextOut(10, display->Height() - 30, txtNotice);
}

std::unique_ptr<TBitmap> TFrmModulePhoto::CombineImage() {
  auto combined = std::make_unique<TBitmap>();
  TBitmap* display = DisplayBitmap();
  if (!display) return combined;
  combined->SetSize(display->Width(), display->Height());
  TCanvas& canvas = combined->Canvas();
  canvas.Draw(0, 0, *display);
  // Drawn even while hidden (a new client photo hides the product but keeps it).
  TGraphic* product = ImgProduit.Picture.Graphic();
  if (product && !product->Empty()) {
    const int left = ImgProduit.Left - photoOffsetX;
    const int top = ImgProduit.Top - photoOffsetY;
    canvas.StretchDraw(Rect(left, top, left + ImgProduit.Width, top + ImgProduit.Height), *product);
  }
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

void TFrmModulePhoto::btnExportImageClick() {
  if (FHost == nullptr || !FHost->ExecuteSavePictureDialog(svgImageSave)) return;
  // The chosen filter row decides the format, whatever name was typed.
  const std::string ext = ExportExtension(svgImageSave.FilterIndex);
  const TBusyScope busy(FHost);
  TPicture holder;
  std::unique_ptr<TBitmap> combined = CombineImage();
  const TGraphicClass* cls = ext == ".bmp" ? &ClassOf<TBitmap>() : TPicture::FindFileFormat(ext);
  if (!cls) throw EInvalidGraphic("Format d'image non disponible pour l'export : " + ext);
  holder.SetGraphicOwned(cls->Create());
  holder.Graphic()->Assign(*combined);
  holder.Graphic()->SaveToFile(svgImageSave.FileName);
  svgImageSave.FileName.clear();
}
