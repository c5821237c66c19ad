// The mock-up as a scene drawn at any scale: the client photo, the products fixed on it,
// the notice and the placed product. The display bitmap, the full-resolution export and
// (through Scene) a high-resolution view all draw through RenderMockup.
#include <cmath>

#include "ModulePhotos.h"
#include "jpeg.h"

namespace {

int Round(double v) {
  return int(std::lround(v));
}

TQuad QuadOfRect(double left, double top, double right, double bottom) {
  return TQuad{{{left, top}, {right, top}, {right, bottom}, {left, bottom}}};
}

bool SameQuad(const TQuad& a, const TQuad& b) {
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i].X != b[i].X || a[i].Y != b[i].Y) return false;
  return true;
}

// One product at the scale (sx, sy) from photo pixels, shifted by the origin.
void DrawProduct(TBitmap& target, const TMockupProduct& product, double sx, double sy, int originX,
                 int originY) {
  if (!product.Picture || product.Picture->Empty()) return;
  const TQuad& c = product.Corners;
  if (product.Flat) {
    // Whole pixels, as the product control lays its picture: at the display scale this is
    // exactly the rectangle the product was placed in.
    const TRect r = Rect(Round(c[0].X * sx) - originX, Round(c[0].Y * sy) - originY,
                         Round(c[2].X * sx) - originX, Round(c[2].Y * sy) - originY);
    if (!r.IsEmpty()) target.Canvas().StretchDraw(r, *product.Picture);
    return;
  }
  if (!product.Warp) product.Warp = std::make_shared<TWarpSource>(*product.Picture);
  TQuad q;
  for (size_t i = 0; i < q.size(); ++i)
    q[i] = TPointD{c[i].X * sx - originX, c[i].Y * sy - originY};
  DrawPerspective(target, *product.Warp, q, Rect(0, 0, target.Width(), target.Height()));
}

}  // namespace

bool TMockupProduct::SameAs(const TMockupProduct& other) const {
  return Picture == other.Picture && Flat == other.Flat && SameQuad(Corners, other.Corners);
}

bool TMockupState::SameMockup(const TMockupState& o) const {
  auto sameProducts = [](const std::vector<TMockupProduct>& a,
                         const std::vector<TMockupProduct>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
      if (!a[i].SameAs(b[i])) return false;
    return true;
  };
  return Photo == o.Photo && PhotoShown == o.PhotoShown && sameProducts(Fixed, o.Fixed) &&
         Notices == o.Notices && MentionIndex == o.MentionIndex &&
         ProductPicture == o.ProductPicture && ProductRect == o.ProductRect &&
         ProductVisible == o.ProductVisible && ProductInPerspective == o.ProductInPerspective &&
         SameQuad(ProductCorners, o.ProductCorners);
}

void StampNotice(TCanvas& canvas, int notice, int x, int y, double scale) {
  canvas.Font.Style = fsBold;
  canvas.Font.Size = 12;
  canvas.Font.ScaledPixelHeight = scale == 1 ? 0 : canvas.Font.PixelHeight() * scale;
  canvas.Font.Color = notice == 2 ? clBlack : clWhite;
  canvas.TextOut(x, y, txtNotice);
}

void RenderMockup(const TMockupScene& scene, TBitmap& target, int width, int height, int originX,
                  int originY) {
  if (target.Empty() || width <= 0 || height <= 0) return;
  // White first: a photo with transparency shows white through it, never older pixels. A
  // JPEG is opaque and covers the whole picture, so its fill would only cost time.
  const TRect all = Rect(0, 0, target.Width(), target.Height());
  const TRect photoArea = Rect(-originX, -originY, width - originX, height - originY);
  if (!scene.PhotoDrawn) {
    if (!scene.Photo || scene.Photo->Empty() || !dynamic_cast<TJPEGImage*>(scene.Photo) ||
        !(IntersectRect(all, photoArea) == all))
      FillPixels(target.View(), all, clWhite);
    if (!scene.Photo || scene.Photo->Empty()) return;
    target.Canvas().StretchDraw(photoArea, *scene.Photo);
  }
  if (!scene.Photo || scene.Photo->Empty()) return;
  const double sx = double(width) / scene.Photo->Width();
  const double sy = double(height) / scene.Photo->Height();
  if (scene.Fixed)
    for (const TMockupProduct& p : *scene.Fixed) DrawProduct(target, p, sx, sy, originX, originY);
  if (scene.DisplayWidth > 0 && scene.DisplayHeight > 0) {
    // Measured on the display, kept at the same relative place and size.
    const double nx = double(width) / scene.DisplayWidth;
    const double ny = double(height) / scene.DisplayHeight;
    const int x = Round(10 * nx) - originX;
    const int y = Round((scene.DisplayHeight - 30) * ny) - originY;
    for (int notice : scene.Notices) StampNotice(target.Canvas(), notice, x, y, nx);
  }
  if (scene.Placed) DrawProduct(target, *scene.Placed, sx, sy, originX, originY);
}

// ---- the workspace's side -------------------------------------------------------------

TPointD TFrmModulePhoto::WindowToPhoto(double x, double y) {
  TBitmap* display = DisplayBitmap();
  TGraphic* photo = clientPhoto ? clientPhoto->Graphic() : nullptr;
  if (!display || display->Empty() || !photo || photo->Empty()) return {x, y};
  return {(x - photoOffsetX) * photo->Width() / display->Width(),
          (y - photoOffsetY) * photo->Height() / display->Height()};
}

TPointD TFrmModulePhoto::PhotoToWindow(double x, double y) {
  TBitmap* display = DisplayBitmap();
  TGraphic* photo = clientPhoto ? clientPhoto->Graphic() : nullptr;
  if (!display || display->Empty() || !photo || photo->Empty()) return {x, y};
  return {x * display->Width() / photo->Width() + photoOffsetX,
          y * display->Height() / photo->Height() + photoOffsetY};
}

TQuad TFrmModulePhoto::ProductCornersInWindow() const {
  const double l = ImgProduit.Left;
  const double t = ImgProduit.Top;
  if (!productInPerspective) return QuadOfRect(l, t, l + ImgProduit.Width, t + ImgProduit.Height);
  TQuad q = productCorners;
  for (TPointD& p : q) p = TPointD{p.X + l, p.Y + t};
  return q;
}

const TWarpSource* TFrmModulePhoto::PlacedWarp() {
  if (!productInPerspective || !FPlaced.Picture || FPlaced.Picture->Empty()) return nullptr;
  if (!FPlaced.Warp) FPlaced.Warp = std::make_shared<TWarpSource>(*FPlaced.Picture);
  return FPlaced.Warp.get();
}

TMockupProduct TFrmModulePhoto::PlacedInPhoto() {
  PlacedWarp();  // built once, shared by every copy
  TMockupProduct p = FPlaced;
  p.Flat = !productInPerspective;
  const TQuad w = ProductCornersInWindow();
  for (size_t i = 0; i < w.size(); ++i) p.Corners[i] = WindowToPhoto(w[i].X, w[i].Y);
  return p;
}

TMockupScene TFrmModulePhoto::Scene(bool withPlacedProduct) {
  TMockupScene scene;
  scene.Photo = clientPhoto ? clientPhoto->Graphic() : nullptr;
  if (TBitmap* display = DisplayBitmap()) {
    scene.DisplayWidth = display->Width();
    scene.DisplayHeight = display->Height();
  }
  scene.Fixed = &fixedProducts;
  scene.Notices = noticeStamps;
  if (withPlacedProduct && ImgProduit.Visible && ImgProduit.HasPicture() && FPlaced.Picture) {
    FScenePlaced = PlacedInPhoto();
    scene.Placed = &FScenePlaced;
  }
  return scene;
}

void TFrmModulePhoto::RedrawDisplay() {
  if (ImgPhotoMaison.HasPicture()) FitClientPhoto();
}

void TFrmModulePhoto::ReleasePlacedProduct() {
  FPlaced = TMockupProduct{};
  productInPerspective = false;
  productCorners = TQuad{};
  EndPerspective();
}
