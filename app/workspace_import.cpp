// Importing the client photo and the product picture, and the two clear buttons.
#include <utility>

#include "jpeg.h"
#include "workspace_history.h"

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
  std::shared_ptr<TPicture> loaded = std::make_shared<TPicture>();
  try {
    loaded->LoadFromFile(fileName);
  } catch (const EFOpenError& e) {
    ShowMessage(std::string(txtOpenErrorPrefix) + e.Message());
    return;
  } catch (const std::exception&) {
    ShowMessage(txtOpenFailed);
    return;
  }
  const TStep step(*this);
  std::swap(clientPhoto, loaded);
  // A new photo starts a new mock-up: the products fixed on the old one go, and the
  // notice that the list shows is stamped on the new one (the refit would drop it while
  // the list still named it).
  std::vector<TMockupProduct> oldFixed = std::exchange(fixedProducts, {});
  std::vector<int> oldNotices = noticeStamps;
  noticeStamps.clear();
  if (cbMention.ItemIndex != 0) noticeStamps.push_back(cbMention.ItemIndex);
  try {
    UprightPicture(*clientPhoto);  // a phone photo turned upright, before it is fitted
    FitClientPhoto();
  } catch (...) {
    // Some classes decode only when first drawn (a JPEG with a sound header and broken
    // data fails here). Go back to the previous photo, so that later refits do not fail
    // again and again, and let the error be reported.
    std::swap(clientPhoto, loaded);
    fixedProducts = std::move(oldFixed);
    noticeStamps = std::move(oldNotices);
    RestoreDisplay();
    throw;
  }
  EndPerspective();
  // The previous photo now lives on for undo only.
  if (loaded && loaded->Graphic()) ReleaseDecodedPixels(*loaded);
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
  const TStep step(*this);
  fixedProducts.clear();
  ClearProduct();
  SetInstruction(txtImport, clBlack);
  ImgPhotoMaison.Picture.SetGraphic(nullptr);
  btnEffClient.Enabled = false;
  ImgPhotoMaison.Enabled = false;
}
