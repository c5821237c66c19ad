// Files dropped on the window: a drop on the photo is "Photo client" with that file, a drop
// on the product preview is "Photo produit" with it.
#include "ModulePhotos.h"

namespace {

// Stands in for the host while a dropped file is imported: the open dialog answers at
// once with that file; messages and the busy cursor still go to the real host. The import
// then runs exactly as after the dialog, checks and messages included.
class TDroppedFileHost : public TWorkspaceHost {
 public:
  TDroppedFileHost(TWorkspaceHost* host, std::string fileName)
      : FHost(host), FFileName(std::move(fileName)) {}
  bool ExecuteOpenPictureDialog(TFileDialog& dialog) override {
    dialog.FileName = FFileName;
    return true;
  }
  bool ExecuteSavePictureDialog(TFileDialog& dialog) override {
    return FHost != nullptr && FHost->ExecuteSavePictureDialog(dialog);
  }
  void ShowMessage(const std::string& text) override {
    if (FHost) FHost->ShowMessage(text);
  }
  void SetBusy(bool busy) override {
    if (FHost) FHost->SetBusy(busy);
  }

 private:
  TWorkspaceHost* FHost;
  std::string FFileName;
};

}  // namespace

void TFrmModulePhoto::DropFiles(TDropZone zone, const std::vector<std::string>& fileNames) {
  if (fileNames.empty()) return;
  TDroppedFileHost dropped(FHost, fileNames.front());  // several files: the first one
  struct TRestoreHost {
    TWorkspaceHost*& Slot;
    TWorkspaceHost* Saved;
    ~TRestoreHost() { Slot = Saved; }
  } restore{FHost, FHost};
  FHost = &dropped;
  if (zone == dzClientPhoto)
    BtnClientPhotoClick();
  else
    btnProduitPhotoClick();
}
