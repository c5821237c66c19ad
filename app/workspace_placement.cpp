// Drawing the frame on the photo, placing the product in it, moving the product, and the
// two placement modes.
#include <algorithm>
#include <utility>

#include "workspace_history.h"

void TFrmModulePhoto::DrawFrame(int x1, int y1, int x2, int y2) {
  TBitmap* display = DisplayBitmap();
  if (!display) return;
  TCanvas& canvas = display->Canvas();
  canvas.Pen.Width = 1;
  canvas.Pen.Style = psDot;
  canvas.Brush.Color = clBlack;
  canvas.Brush.Style = bsFDiagonal;
  // NOT-XOR: drawing the same rectangle again restores the pixels, which is how the
  // rubber band is erased.
  canvas.Pen.Mode = pmNotXor;
  canvas.Rectangle(x1 - photoOffsetX, y1 - photoOffsetY, x2 - photoOffsetX, y2 - photoOffsetY);
}

void TFrmModulePhoto::ImgPhotoMaisonMouseDown(TMouseButton button, TShiftState, int x, int y) {
  if (!ImgPhotoMaison.Enabled || button != mbLeft) return;
  frameStartX = frameCurX = x;
  frameStartY = frameCurY = y;
  isDrawing = true;
  drawStarted = true;
  SetInstruction(txtSize, clBlack);
}

namespace {

// The parts of a that lie outside b, as up to four rectangles.
void AddDifference(const TRect& a, const TRect& b, std::vector<TRect>& out) {
  if (a.IsEmpty()) return;
  const TRect common = IntersectRect(a, b);
  if (common.IsEmpty()) {
    out.push_back(a);
    return;
  }
  const TRect parts[] = {Rect(a.Left, a.Top, a.Right, common.Top),
                         Rect(a.Left, common.Bottom, a.Right, a.Bottom),
                         Rect(a.Left, common.Top, common.Left, common.Bottom),
                         Rect(common.Right, common.Top, a.Right, common.Bottom)};
  for (const TRect& p : parts)
    if (!p.IsEmpty()) out.push_back(p);
}

TRect Shifted(const TRect& r, int dx, int dy) {
  return Rect(r.Left + dx, r.Top + dy, r.Right + dx, r.Bottom + dy);
}

// The outline's one-pixel edges.
void AddOutline(const TRect& r, std::vector<TRect>& out) {
  if (r.IsEmpty()) return;
  out.push_back(Rect(r.Left, r.Top, r.Right, r.Top + 1));
  out.push_back(Rect(r.Left, r.Bottom - 1, r.Right, r.Bottom));
  out.push_back(Rect(r.Left, r.Top, r.Left + 1, r.Bottom));
  out.push_back(Rect(r.Right - 1, r.Top, r.Right, r.Bottom));
}

}  // namespace

void TFrmModulePhoto::ImgPhotoMaisonMouseMove(TShiftState, int x, int y) {
  if (!ImgPhotoMaison.Enabled || !isDrawing) return;
  DrawFrame(frameStartX, frameStartY, frameCurX, frameCurY);
  DrawFrame(frameStartX, frameStartY, x, y);
  // The hatch is aligned to the bitmap, so inside both frames it is inverted twice and
  // comes back: only the outlines and the parts covered by one frame alone changed.
  const TRect before = Shifted(Rect(frameStartX, frameStartY, frameCurX, frameCurY).Normalized(),
                               -photoOffsetX, -photoOffsetY);
  const TRect after =
      Shifted(Rect(frameStartX, frameStartY, x, y).Normalized(), -photoOffsetX, -photoOffsetY);
  std::vector<TRect> changed;
  AddDifference(before, after, changed);
  AddDifference(after, before, changed);
  AddOutline(before, changed);
  AddOutline(after, changed);
  if (TBitmap* display = DisplayBitmap())
    for (const TRect& r : changed) {
      const TRect clipped = IntersectRect(r, Rect(0, 0, display->Width(), display->Height()));
      if (!clipped.IsEmpty()) FFrameDamage.push_back(clipped);
    }
  // Moves nobody shows (no window) must not pile up: past a few dozen, one bounding box.
  if (FFrameDamage.size() > 64) {
    TRect all = FFrameDamage.front();
    for (const TRect& r : FFrameDamage)
      all = Rect(std::min(all.Left, r.Left), std::min(all.Top, r.Top), std::max(all.Right, r.Right),
                 std::max(all.Bottom, r.Bottom));
    FFrameDamage.assign(1, all);
  }
  frameCurX = x;
  frameCurY = y;
}

std::vector<TRect> TFrmModulePhoto::TakeFrameDamage() {
  return std::exchange(FFrameDamage, {});
}

void TFrmModulePhoto::ImgPhotoMaisonMouseUp(TMouseButton button, TShiftState, int, int) {
  if (!ImgPhotoMaison.Enabled || button != mbLeft || !drawStarted) return;
  DrawFrame(frameStartX, frameStartY, frameCurX, frameCurY);
  isDrawing = false;
  // The frame is the one of the last move; the release point itself is not used.
  productLeft = std::min(frameCurX, frameStartX);
  productRight = std::max(frameCurX, frameStartX);
  productTop = std::min(frameCurY, frameStartY);
  productBottom = std::max(frameCurY, frameStartY);
  productWidth = productRight - productLeft;
  productHeight = productBottom - productTop;
  // The press is over even when the product file fails to load.
  struct EndPress {
    bool& flag;
    ~EndPress() { flag = false; }
  } endPress{drawStarted};
  PlaceProduct();
}

void TFrmModulePhoto::PlaceProduct() {
  if (productHeight <= 0) return;

  int w = productWidth;
  if (isProportional) {
    TGraphic* preview = ImgProduitApercu.Picture.Graphic();
    if (!preview || preview->Width() <= 0 || preview->Height() <= 0) {
      SetInstruction(txtNoProduct, clRed);
      return;
    }
    // The ratio is a single-precision value; the division by it is taken at higher
    // precision: 300 x 200 in a frame 70 high is 104 wide, not 105.
    const float ratio = float(preview->Height()) / float(productHeight);
    w = int(double(preview->Width()) / double(ratio));
    productRight = productLeft + w;
  }

  if (productTop < photoTop || productLeft < photoLeft || productRight > photoRight ||
      productBottom > photoBottom) {
    SetInstruction(txtOutside, clRed);
    return;
  }

  const TStep step(*this);
  ImgProduit.Left = productLeft;
  ImgProduit.Top = productTop;
  ImgProduit.Width = w;
  ImgProduit.Height = productHeight;
  // Read from disk at every placement: the file may have been replaced meanwhile.
  {
    const TBusyScope busy(FHost);
    LoadPictureUpright(ImgProduit.Picture, productPath);
  }
  // A new product starts flat, without handles; the history shares its own copy.
  ReleasePlacedProduct();
  TGraphic& placed = *ImgProduit.Picture.Graphic();
  FPlaced.Picture = placed.ClassType().Create();
  FPlaced.Picture->Assign(placed);
  ImgProduitApercu.Picture.Assign(ImgProduit.Picture);
  ImgProduit.Visible = true;
  btnEffProduit.Enabled = true;
  btnExportImage.Enabled = true;
  SetInstruction(txtPlace, clBlack);
  cbMention.Enabled = true;
}

void TFrmModulePhoto::ImgProduitMouseDown(TMouseButton button, TShiftState, int x, int y) {
  if (!ImgProduit.Visible || !ImgProduit.Enabled || button != mbLeft) return;
  grabX = x;
  grabY = y;
  isDragging = true;
  // A drag is one step from press to release (the arrow keys make their own).
  if (FStepDepth == 0) FPressBefore = std::make_unique<TMockupState>(CaptureState());
  SetInstruction(txtPlace, clBlack);
}

void TFrmModulePhoto::ImgProduitMouseMove(TShiftState, int x, int y) {
  if (!isDragging) return;
  productLeft = ImgProduit.Left;
  productRight = ImgProduit.Left + ImgProduit.Width;
  productTop = ImgProduit.Top;
  productBottom = ImgProduit.Top + ImgProduit.Height;

  const bool insideTop = productTop >= photoTop;
  const bool insideBottom = productBottom <= photoBottom;
  const bool insideLeft = productLeft >= photoLeft;
  const bool insideRight = productRight <= photoRight;
  // Inside the photo the product follows freely; past an edge it only comes back.
  const bool moveY =
      (insideTop && insideBottom) || (!insideTop && y > grabY) || (!insideBottom && y < grabY);
  const bool moveX =
      (insideLeft && insideRight) || (!insideLeft && x > grabX) || (!insideRight && x < grabX);
  if (moveX) ImgProduit.Left = ImgProduit.Left + x - grabX;
  if (moveY) ImgProduit.Top = ImgProduit.Top + y - grabY;
}

void TFrmModulePhoto::ImgProduitMouseUp(TMouseButton button, TShiftState, int, int) {
  if (button != mbLeft) return;
  isDragging = false;
  // Snap back with the rectangle the last move saw; right and bottom come last, so a
  // product larger than the photo ends on those edges.
  if (productTop < photoTop) ImgProduit.Top = photoTop;
  if (productLeft < photoLeft) ImgProduit.Left = photoLeft;
  if (productRight > photoRight) ImgProduit.Left = photoRight - ImgProduit.Width;
  if (productBottom > photoBottom) ImgProduit.Top = photoBottom - ImgProduit.Height;
  productLeft = ImgProduit.Left;
  productTop = ImgProduit.Top;
  if (FPressBefore && FStepDepth == 0 && FCornerIndex < 0) {
    TMockupState before = std::move(*FPressBefore);
    FPressBefore.reset();
    Remember(std::move(before));
  }
}

void TFrmModulePhoto::btnProporClick() {
  const TStep step(*this);
  isProportional = true;
  ClearProduct();
  btnPerso.Enabled = true;
  btnPropor.Enabled = false;
}

void TFrmModulePhoto::btnPersoClick() {
  const TStep step(*this);
  isProportional = false;
  ClearProduct();
  btnPerso.Enabled = false;
  btnPropor.Enabled = true;
}
