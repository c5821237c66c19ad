// The window's flow without a window, for `vitrelle-img composer`: the same handlers in
// the order a user's clicks and drags would run them.
#include <algorithm>
#include <cstdlib>

#include "ModulePhotos.h"

namespace {

// Answers the dialogs with the job's files and keeps the last message box text.
class TScriptedHost : public TWorkspaceHost {
 public:
  std::string OpenFileName;
  std::string SaveFileName;
  int SaveFilterIndex = 4;
  std::string LastMessage;

  bool ExecuteOpenPictureDialog(TFileDialog& dialog) override {
    dialog.FileName = OpenFileName;
    return true;
  }
  bool ExecuteSavePictureDialog(TFileDialog& dialog) override {
    dialog.FileName = SaveFileName;
    dialog.FilterIndex = SaveFilterIndex;
    return true;
  }
  void ShowMessage(const std::string& text) override { LastMessage = text; }
};

// The save-dialog row a user picks for a file name: its extension's row, or "Tout les
// Fichiers" (which writes BMP) for any other name.
int SaveFilterFor(const std::string& fileName) {
  const std::string ext = LowerCaseAscii(ExtractFileExt(fileName));
  if (ext == ".png") return 1;
  if (ext == ".jpg") return 2;
  if (ext == ".jpeg") return 3;
  if (ext == ".bmp") return 4;
  return 5;
}

// Drags the product by (dx, dy) as a mouse would: moves of a few pixels, then the
// pointer resting at the end (so the last move sees where the product ended), release.
void DragProduct(TFrmModulePhoto& form, int dx, int dy) {
  TImage& product = form.ImgProduit;
  const int grabX = product.Width / 2;
  const int grabY = product.Height / 2;
  const int startX = product.Left + grabX;
  const int startY = product.Top + grabY;
  form.ImgProduitMouseDown(mbLeft, ssLeft, grabX, grabY);
  constexpr int kStep = 8;
  const int steps = std::max(1, (std::max(std::abs(dx), std::abs(dy)) + kStep - 1) / kStep);
  for (int i = 1; i <= steps; ++i) {
    const int px = startX + int(int64_t(dx) * i / steps);
    const int py = startY + int(int64_t(dy) * i / steps);
    form.ImgProduitMouseMove(ssLeft, px - product.Left, py - product.Top);
  }
  const int endX = startX + dx;
  const int endY = startY + dy;
  form.ImgProduitMouseMove(ssLeft, endX - product.Left, endY - product.Top);
  form.ImgProduitMouseUp(mbLeft, 0, endX - product.Left, endY - product.Top);
}

TComposerResult Refused(std::string message) {
  return TComposerResult{1, std::move(message)};
}

}  // namespace

TComposerResult RunComposerJob(const TComposerJob& job) {
  TScriptedHost host;
  TFrmModulePhoto form(&host);
  try {
    form.SetClientSize(job.ViewWidth + form.scBxInfos.Width, job.ViewHeight);
    form.SetProductPath(job.ProductPath);
    form.FormActivate();

    host.OpenFileName = job.PhotoPath;
    form.BtnClientPhotoClick();
    if (!form.ImgPhotoMaison.Enabled) return Refused(host.LastMessage);

    if (!job.Proportional) form.btnPersoClick();
    std::vector<const TComposerPlacement*> placements{&job};
    for (const TComposerPlacement& next : job.Next) placements.push_back(&next);
    for (const TComposerPlacement* p : placements) {
      if (p != &job) {
        // Another product picture, chosen as "Photo produit" would choose it.
        if (p->ProductPath != form.productPath) {
          host.OpenFileName = p->ProductPath;
          form.btnProduitPhotoClick();
          if (form.productPath != p->ProductPath) return Refused(host.LastMessage);
        }
      }
      form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, p->X1, p->Y1);
      form.ImgPhotoMaisonMouseMove(ssLeft, p->X2, p->Y2);
      form.ImgPhotoMaisonMouseUp(mbLeft, 0, p->X2, p->Y2);
      if (!form.ImgProduit.Visible || !form.btnEffProduit.Enabled)
        return Refused(form.lblInstruction.Caption);

      if (p->Drag) DragProduct(form, p->DragX, p->DragY);
      for (const TComposerJob::TKey& key : p->Keys) form.FormKeyDown(key.Key, key.Shift);
      if (p->HasCorners && !form.SetProductCorners(p->Corners))
        return TComposerResult{2, "--coins : le quadrilatère ne peut pas être tracé sur la photo"};
      if (p->Fix) form.FixProduct();
    }
    if (job.Mention != 0) form.SelectMention(job.Mention);

    host.SaveFileName = job.OutputPath;
    host.SaveFilterIndex = SaveFilterFor(job.OutputPath);
    if (job.FullResolution)
      form.ExportFullResolution();
    else
      form.btnExportImageClick();
  } catch (const std::exception& e) {
    return Refused(e.what());
  }
  return {};
}
