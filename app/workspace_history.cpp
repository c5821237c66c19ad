// Undo and redo: every change of the mock-up is a step whose state before it is kept.
// States share their pictures; the display is drawn again from the state (photo, fixed
// products, notices), so it comes back byte for byte.
#include <cmath>

#include "workspace_history.h"

TMockupState TFrmModulePhoto::CaptureState() {
  TMockupState s;
  s.Photo = clientPhoto;
  s.PhotoShown = ImgPhotoMaison.HasPicture();
  s.PhotoEnabled = ImgPhotoMaison.Enabled;
  s.EffClientEnabled = btnEffClient.Enabled;
  s.Fixed = fixedProducts;
  s.Notices = noticeStamps;
  s.MentionIndex = cbMention.ItemIndex;
  s.MentionEnabled = cbMention.Enabled;
  s.ProductPicture = ImgProduit.HasPicture() ? FPlaced.Picture : nullptr;
  s.ProductRect = Rect(ImgProduit.Left, ImgProduit.Top, ImgProduit.Left + ImgProduit.Width,
                       ImgProduit.Top + ImgProduit.Height);
  s.ProductVisible = ImgProduit.Visible;
  s.ProductInPerspective = productInPerspective;
  s.ProductCorners = productCorners;
  s.EffProduitEnabled = btnEffProduit.Enabled;
  s.ExportEnabled = btnExportImage.Enabled;
  s.Instruction = lblInstruction.Caption;
  s.InstructionColor = lblInstruction.FontColor;
  if (TBitmap* display = DisplayBitmap())
    s.Display = Rect(photoOffsetX, photoOffsetY, photoOffsetX + display->Width(),
                     photoOffsetY + display->Height());
  return s;
}

void TFrmModulePhoto::RestoreState(const TMockupState& s) {
  EndPerspective();
  isDrawing = drawStarted = isDragging = false;
  FPressBefore.reset();

  clientPhoto = s.Photo;
  fixedProducts = s.Fixed;
  noticeStamps = s.Notices;
  cbMention.ItemIndex = s.MentionIndex;
  cbMention.Enabled = s.MentionEnabled;
  if (s.PhotoShown && clientPhoto && clientPhoto->Graphic() && !clientPhoto->Graphic()->Empty())
    FitClientPhoto();
  else
    ImgPhotoMaison.Picture.SetGraphic(nullptr);
  ImgPhotoMaison.Enabled = s.PhotoEnabled;
  btnEffClient.Enabled = s.EffClientEnabled;

  FPlaced = TMockupProduct{};
  FPlaced.Picture = s.ProductPicture;
  ImgProduit.Picture.SetGraphic(s.ProductPicture.get());
  ImgProduit.Visible = s.ProductVisible;
  productInPerspective = s.ProductInPerspective;
  productCorners = s.ProductCorners;
  ImgProduit.Left = s.ProductRect.Left;
  ImgProduit.Top = s.ProductRect.Top;
  ImgProduit.Width = s.ProductRect.Width();
  ImgProduit.Height = s.ProductRect.Height();
  // The window was resized since (the photo moved and was scaled): the product keeps its
  // place on the photo.
  TBitmap* display = DisplayBitmap();
  if (display && s.ProductPicture && !s.Display.IsEmpty()) {
    const TRect now = Rect(photoOffsetX, photoOffsetY, photoOffsetX + display->Width(),
                           photoOffsetY + display->Height());
    if (!(now == s.Display)) {
      auto map = [&](const TPointD& p) {
        return TPointD{now.Left + (p.X - s.Display.Left) * now.Width() / s.Display.Width(),
                       now.Top + (p.Y - s.Display.Top) * now.Height() / s.Display.Height()};
      };
      TQuad q = ProductCornersInWindow();
      for (TPointD& p : q) p = map(p);
      if (productInPerspective) {
        ApplyCornersInWindow(q);
      } else {
        ImgProduit.Left = int(std::lround(q[0].X));
        ImgProduit.Top = int(std::lround(q[0].Y));
        ImgProduit.Width = int(std::lround(q[2].X)) - ImgProduit.Left;
        ImgProduit.Height = int(std::lround(q[2].Y)) - ImgProduit.Top;
      }
    }
  }
  productLeft = ImgProduit.Left;
  productTop = ImgProduit.Top;
  productWidth = ImgProduit.Width;
  productHeight = ImgProduit.Height;
  productRight = productLeft + productWidth;
  productBottom = productTop + productHeight;

  btnEffProduit.Enabled = s.EffProduitEnabled;
  btnExportImage.Enabled = s.ExportEnabled;
  lblInstruction.Caption = s.Instruction;
  lblInstruction.FontColor = s.InstructionColor;
  FFrameDamage.clear();
}

void TFrmModulePhoto::Remember(TMockupState before) {
  if (before.SameMockup(CaptureState())) return;  // nothing changed: no step
  FUndo.push_back(std::move(before));
  if (FUndo.size() > kUndoDepth) FUndo.erase(FUndo.begin());
  FRedo.clear();
}

void TFrmModulePhoto::Undo() {
  // Not in the middle of a gesture: its step is not complete yet.
  if (FUndo.empty() || isDrawing || isDragging || FPressBefore) return;
  TMockupState current = CaptureState();
  TMockupState previous = std::move(FUndo.back());
  FUndo.pop_back();
  RestoreState(previous);
  FRedo.push_back(std::move(current));
}

void TFrmModulePhoto::Redo() {
  if (FRedo.empty() || isDrawing || isDragging || FPressBefore) return;
  TMockupState current = CaptureState();
  TMockupState next = std::move(FRedo.back());
  FRedo.pop_back();
  RestoreState(next);
  FUndo.push_back(std::move(current));
}
