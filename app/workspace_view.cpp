// What the image controls show: the picture laid into the control, and the product
// composed over the photo beneath it.
#include <algorithm>

#include "ModulePhotos.h"

TRect TImage::DestRect() {
  TGraphic* graphic = Picture.Graphic();
  if (!graphic || graphic->Empty()) return {};
  int64_t w = graphic->Width();
  int64_t h = graphic->Height();
  const int64_t cw = Width;
  const int64_t ch = Height;
  if (Stretch) {
    w = cw;
    h = ch;
  } else if (Proportional && (w > cw || h > ch)) {
    // Scale down to fit, keeping the picture's shape.
    if (w * ch > h * cw) {
      h = h * cw / w;
      w = cw;
    } else {
      w = w * ch / h;
      h = ch;
    }
  }
  int64_t x = 0;
  int64_t y = 0;
  if (Center) {
    x = (cw - w) / 2;
    y = (ch - h) / 2;
  }
  return Rect(int(x), int(y), int(x + w), int(y + h));
}

void RenderImageControl(TImage& image, TBitmap& target, TColor background) {
  const int w = std::max(0, image.Width);
  const int h = std::max(0, image.Height);
  target.SetPixelFormat(pf24bit);
  target.SetSize(w, h);
  if (target.Empty()) return;
  FillPixels(target.View(), Rect(0, 0, w, h), background);
  TGraphic* graphic = image.Picture.Graphic();
  if (!graphic || graphic->Empty()) return;
  const TRect dest = image.DestRect();
  if (dest.Width() == graphic->Width() && dest.Height() == graphic->Height())
    target.Canvas().Draw(dest.Left, dest.Top, *graphic);
  else
    target.Canvas().StretchDraw(dest, *graphic);
}

void RenderProductOverPhoto(TImage& product, TBitmap& photoRendering, TBitmap& target) {
  const int w = std::max(0, product.Width);
  const int h = std::max(0, product.Height);
  target.SetPixelFormat(pf24bit);
  target.SetSize(w, h);
  if (target.Empty()) return;
  FillPixels(target.View(), Rect(0, 0, w, h), clBtnFace);
  if (!photoRendering.Empty())
    BitBlt(target.View(), 0, 0, photoRendering.View(),
           Rect(product.Left, product.Top, product.Left + w, product.Top + h));
  TGraphic* graphic = product.Picture.Graphic();
  if (graphic && !graphic->Empty()) target.Canvas().StretchDraw(Rect(0, 0, w, h), *graphic);
}

void RenderPlacedProduct(TFrmModulePhoto& form, TBitmap& photoRendering, TBitmap& target) {
  const TWarpSource* warp = form.PlacedWarp();
  if (!warp) {
    RenderProductOverPhoto(form.ImgProduit, photoRendering, target);
    return;
  }
  // The photo beneath, then the picture on the corners (relative to the control).
  TImage beneath;
  beneath.Left = form.ImgProduit.Left;
  beneath.Top = form.ImgProduit.Top;
  beneath.Width = form.ImgProduit.Width;
  beneath.Height = form.ImgProduit.Height;
  RenderProductOverPhoto(beneath, photoRendering, target);
  if (!target.Empty())
    DrawPerspective(target, *warp, form.productCorners,
                    Rect(0, 0, target.Width(), target.Height()));
}
