// Importing the client photo and the product picture, and the two clear buttons.
#include "ModulePhotos.h"
#include "jpeg.h"

namespace {

bool IsAcceptedExtension(const std::string& ext) {
  for (const char* accepted : {".jpg", ".jpeg", ".gif", ".png", ".bmp"})
    if (ext == accepted) return true;
  return false;
}

}  // namespace

bool TFrmModulePhoto::ExecuteOpenDialog(const char* title) {
  PictDialogMaison.Title = title;
  return FHost != nullptr && FHost->ExecuteOpenPictureDialog(PictDialogMaison);
}

void TFrmModulePhoto::BtnClientPhotoClick() {
  if (!ExecuteOpenDialog(txtTitleClientPhoto)) return;
  const std::string fileName = PictDialogMaison.FileName;
  if (!IsAcceptedExtension(LowerCaseAscii(ExtractFileExt(fileName)))) {
    ShowMessage(txtBadFormat);
    return;
  }
  const TBusyScope busy(FHost);
  // Loaded aside: a failed load replaces nothing.
  auto loaded = std::make_unique<TPicture>();
  try {
    loaded->LoadFromFile(fileName);
  } catch (const EFOpenError& e) {
    ShowMessage(std::string(txtOpenErrorPrefix) + e.Message());
    return;
  } catch (const std::exception&) {
    ShowMessage(txtOpenFailed);
    return;
  }
  std::swap(clientPhoto, loaded);
  try {
    UprightPicture(*clientPhoto);  // a phone photo turned upright, before it is fitted
    FitClientPhoto();
  } catch (...) {
    // Some classes decode only when first drawn (a JPEG with a sound header and broken
    // data fails here). Go back to the previous photo, so that later refits do not fail
    // again and again, and let the error be reported.
    std::swap(clientPhoto, loaded);
    RestoreDisplay();
    throw;
  }
  ImgProduit.Visible = false;
  ImgPhotoMaison.Enabled = true;
  btnEffClient.Enabled = true;
  SetInstruction(txtPlace, clBlack);
}

void TFrmModulePhoto::RestoreDisplay() {
  if (ImgPhotoMaison.Enabled && clientPhoto && clientPhoto->Graphic())
    FitClientPhoto();
  else
    ImgPhotoMaison.Picture.SetGraphic(nullptr);
}

void TFrmModulePhoto::btnProduitPhotoClick() {
  if (!ExecuteOpenDialog(txtTitleProductPhoto)) return;
  const std::string fileName = PictDialogMaison.FileName;
  // Folded like the client photo's extension: PRODUIT.PNG is as good as produit.png.
  if (!IsAcceptedExtension(LowerCaseAscii(ExtractFileExt(fileName)))) {
    ShowMessage(txtBadFormat);
    return;
  }
  productPath = fileName;
  LoadProductPreview();
}

void TFrmModulePhoto::LoadProductPreview() {
  const TBusyScope busy(FHost);
  LoadPictureUpright(ImgProduitApercu.Picture, productPath);
}

void TFrmModulePhoto::ClearClientPhoto() {
  ClearProduct();
  SetInstruction(txtImport, clBlack);
  ImgPhotoMaison.Picture.SetGraphic(nullptr);
  btnEffClient.Enabled = false;
  ImgPhotoMaison.Enabled = false;
}
