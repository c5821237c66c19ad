// The placed product's corner handles (perspective) and fixing the product on the photo.
// The handles are a mode opened from the context menu: only there does the left button
// do something the window's first design did not.
#include <algorithm>
#include <cmath>

#include "workspace_history.h"

namespace {

TPointD Clamp(const TPointD& p, double left, double top, double right, double bottom) {
  return {std::clamp(p.X, left, right), std::clamp(p.Y, top, bottom)};
}

}  // namespace

bool TFrmModulePhoto::CanBeginPerspective() {
  return ImgPhotoMaison.Enabled && ImgProduit.Visible && ImgProduit.HasPicture() &&
         FPlaced.Picture != nullptr && ImgProduit.Width > 0 && ImgProduit.Height > 0 &&
         DisplayBitmap() != nullptr;
}

void TFrmModulePhoto::BeginPerspective() {
  // The product stays drawn flat until a corner actually moves.
  if (CanBeginPerspective()) FCornerMode = true;
}

void TFrmModulePhoto::ApplyCornersInWindow(const TQuad& quad) {
  const TRect bounds = QuadBounds(quad);
  ImgProduit.Left = bounds.Left;
  ImgProduit.Top = bounds.Top;
  ImgProduit.Width = bounds.Width();
  ImgProduit.Height = bounds.Height();
  for (size_t i = 0; i < quad.size(); ++i)
    productCorners[i] = TPointD{quad[i].X - bounds.Left, quad[i].Y - bounds.Top};
  productInPerspective = true;
}

bool TFrmModulePhoto::SetProductCorners(const TQuad& windowCorners) {
  if (!CanBeginPerspective()) return false;
  TQuad q = windowCorners;
  for (TPointD& p : q) p = Clamp(p, photoLeft, photoTop, photoRight, photoBottom);
  if (!IsConvexQuad(q)) return false;
  const TStep step(*this);
  ApplyCornersInWindow(q);
  return true;
}

int TFrmModulePhoto::CornerHandleAt(int x, int y) const {
  if (!FCornerMode) return -1;
  const TQuad q = ProductCornersInWindow();
  const double reach = kHandleSize / 2 + 1;
  int best = -1;
  double bestDistance = 0;
  for (int i = 0; i < 4; ++i) {
    const double dx = std::abs(x - q[size_t(i)].X);
    const double dy = std::abs(y - q[size_t(i)].Y);
    if (dx > reach || dy > reach) continue;
    if (best < 0 || dx + dy < bestDistance) {
      best = i;
      bestDistance = dx + dy;
    }
  }
  return best;
}

bool TFrmModulePhoto::CornerMouseDown(TMouseButton button, int x, int y) {
  if (!FCornerMode || button != mbLeft) return false;
  const int handle = CornerHandleAt(x, y);
  if (handle >= 0) {
    const TPointD corner = ProductCornersInWindow()[size_t(handle)];
    FCornerIndex = handle;
    FCornerGrabX = x - corner.X;
    FCornerGrabY = y - corner.Y;
    FPressBefore = std::make_unique<TMockupState>(CaptureState());
    return true;
  }
  const bool onProduct = x >= ImgProduit.Left && x < ImgProduit.Left + ImgProduit.Width &&
                         y >= ImgProduit.Top && y < ImgProduit.Top + ImgProduit.Height;
  if (onProduct) return false;  // the product is dragged as a whole, handles and all
  EndPerspective();             // a click beside the product ends the mode, and only that
  return true;
}

bool TFrmModulePhoto::CornerMouseMove(int x, int y) {
  if (!FCornerMode || FCornerIndex < 0) return false;
  TQuad q = ProductCornersInWindow();
  q[size_t(FCornerIndex)] = Clamp(TPointD{x - FCornerGrabX, y - FCornerGrabY}, photoLeft, photoTop,
                                  photoRight, photoBottom);
  // A concave or crossed shape cannot be drawn without folds: the handle stays where it
  // was last valid.
  if (IsConvexQuad(q)) ApplyCornersInWindow(q);
  return true;
}

bool TFrmModulePhoto::CornerMouseUp(TMouseButton button, int, int) {
  if (!FCornerMode || FCornerIndex < 0 || button != mbLeft) return false;
  FCornerIndex = -1;
  if (FPressBefore) {
    TMockupState before = std::move(*FPressBefore);
    FPressBefore.reset();
    Remember(std::move(before));
  }
  return true;
}

bool TFrmModulePhoto::CanFixProduct() {
  return !isDragging && FCornerIndex < 0 && ImgProduit.Visible && ImgProduit.HasPicture() &&
         FPlaced.Picture != nullptr && ImgProduit.Width > 0 && ImgProduit.Height > 0 &&
         DisplayBitmap() != nullptr && clientPhoto && clientPhoto->Graphic() != nullptr;
}

void TFrmModulePhoto::FixProduct() {
  if (!CanFixProduct()) return;
  const TStep step(*this);
  fixedProducts.push_back(PlacedInPhoto());
  ImgProduit.Picture.SetGraphic(nullptr);
  ImgProduit.Height = 0;
  ImgProduit.Width = 0;
  ReleasePlacedProduct();
  productLeft = productTop = productWidth = productHeight = 0;
  btnEffProduit.Enabled = false;  // nothing placed to clear; the mock-up is still exported
  RedrawDisplay();
  SetInstruction(txtPlace, clBlack);
}
