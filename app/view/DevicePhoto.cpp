// The photo control and the placed product at the screen's own resolution, for screens
// whose device pixel ratio is not 1.
#include <cmath>
#include <cstring>

#include "MainWindow.h"

namespace {

int Scaled(int v, double ratio) {
  return int(std::lround(v * ratio));
}

// The first device pixel whose centre maps to display pixel v or beyond, for a display of
// `size` pixels shown on `deviceSize` device pixels.
int FirstDevicePixel(int v, int deviceSize, int size) {
  const int64_t a = 2 * int64_t(v) * deviceSize - size;
  const int64_t b = 2 * int64_t(size);
  return int(a >= 0 ? (a + b - 1) / b : -(-a / b));
}

// The display pixel under device pixel i's centre.
int DisplayPixel(int i, int deviceSize, int size) {
  return int((2 * int64_t(i) + 1) * size / (2 * int64_t(deviceSize)));
}

bool SameProducts(const std::vector<TMockupProduct>& a, const std::vector<TMockupProduct>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (!a[i].SameAs(b[i])) return false;
  return true;
}

// A 24-bit copy of a display-sized bitmap.
void CopyPixels(TBitmap& target, TBitmap& source) {
  target.SetPixelFormat(pf24bit);
  target.SetSize(source.Width(), source.Height());
  BitBlt(target.View(), 0, 0, source.View(), Rect(0, 0, source.Width(), source.Height()));
}

QImage ScreenImage(TBitmap& bitmap, double ratio) {
  QImage image(bitmap.Width(), bitmap.Height(), QImage::Format_RGB32);
  CopyToScreenImage(bitmap, Rect(0, 0, bitmap.Width(), bitmap.Height()), image);
  image.setDevicePixelRatio(ratio);
  return image;
}

// Copies the rectangle r of a 24-bit bitmap into a Format_RGB32 image, its top-left at
// (x, y) there.
void CopyInto(TBitmap& bitmap, const TRect& r, QImage& image, int x, int y) {
  for (int row = r.Top; row < r.Bottom; ++row) {
    const uint8_t* src = bitmap.GetScanline(row) + 3 * r.Left;
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y + row - r.Top)) + x;
    for (int i = 0; i < r.Width(); ++i, src += 3) dst[i] = qRgb(src[2], src[1], src[0]);
  }
}

// Adds a one-row rectangle to the repaint list, joining it to a rectangle of the row above
// with the same columns (a rubber band's sides become two tall strips, not hundreds).
void AddRow(std::vector<QRect>& rects, size_t rowAboveStart, const QRect& row) {
  for (size_t i = rowAboveStart; i < rects.size(); ++i)
    if (rects[i].left() == row.left() && rects[i].right() == row.right() &&
        rects[i].bottom() + 1 == row.top()) {
      rects[i].setBottom(row.bottom());
      return;
    }
  rects.push_back(row);
}

}  // namespace

bool TDevicePhoto::TKey::operator==(const TKey& o) const {
  return Ratio == o.Ratio && ControlWidth == o.ControlWidth && ControlHeight == o.ControlHeight &&
         Background == o.Background && Display == o.Display && Photo == o.Photo &&
         PhotoWidth == o.PhotoWidth && PhotoHeight == o.PhotoHeight &&
         SameProducts(Fixed, o.Fixed) && Notices == o.Notices;
}

TDevicePhoto::TKey TDevicePhoto::KeyOf(TFrmModulePhoto& form, double ratio) {
  TKey key;
  key.Ratio = ratio;
  key.ControlWidth = form.ImgPhotoMaison.Width;
  key.ControlHeight = form.ImgPhotoMaison.Height;
  key.Background = form.Color;
  if (!form.ImgPhotoMaison.HasPicture()) return key;
  key.Display = form.ImgPhotoMaison.DestRect();
  key.Photo = form.clientPhoto;
  if (TGraphic* photo = form.clientPhoto ? form.clientPhoto->Graphic() : nullptr) {
    key.PhotoWidth = photo->Width();
    key.PhotoHeight = photo->Height();
  }
  key.Fixed = form.fixedProducts;
  key.Notices = form.noticeStamps;
  return key;
}

bool TDevicePhoto::Update(TFrmModulePhoto& form, double ratio, QImage& image,
                          std::vector<QRect>& changed) {
  TKey key = KeyOf(form, ratio);
  const bool same = key == FKey && !image.isNull() && image.width() == FRendering.Width() &&
                    image.height() == FRendering.Height() && image.devicePixelRatio() == ratio;
  TBitmap* display = form.DisplayBitmap();
  if (same) {
    if (!display || display->Empty()) {
      if (FShown.Empty()) return false;
    } else if (FollowDisplay(*display, image, changed)) {
      return false;
    }
  }
  FKey = std::move(key);
  DrawAnew(form, image);
  changed.clear();
  return true;
}

void TDevicePhoto::DrawAnew(TFrmModulePhoto& form, QImage& image) {
  const double ratio = FKey.Ratio;
  const int width = int(std::ceil(FKey.ControlWidth * ratio));
  const int height = int(std::ceil(FKey.ControlHeight * ratio));
  FRendering.SetPixelFormat(pf24bit);
  FRendering.SetSize(width, height);
  FillPixels(FRendering.View(), Rect(0, 0, width, height), FKey.Background);
  FScene.SetSize(0, 0);
  FClean.SetSize(0, 0);
  FShown.SetSize(0, 0);
  FProductRect = {};
  FFromPhoto = false;
  TBitmap* display = form.DisplayBitmap();
  const TRect d = FKey.Display;
  // At the device pixel where the display's top-left lies (as the mouse finds it there).
  const int left = int(std::floor(d.Left * ratio)), top = int(std::floor(d.Top * ratio));
  FSceneRect = Rect(left, top, left + Scaled(d.Width(), ratio), top + Scaled(d.Height(), ratio));
  // The control lays its picture inside itself; anything else is not drawn here.
  const bool inside = IntersectRect(FSceneRect, Rect(0, 0, width, height)) == FSceneRect;
  if (display && !display->Empty() && inside && !FSceneRect.IsEmpty()) {
    FScene.SetPixelFormat(pf24bit);
    FScene.SetSize(FSceneRect.Width(), FSceneRect.Height());
    const TMockupScene scene = form.Scene(false);
    // The display bitmap is shown unscaled in its control; laid out otherwise, or with no
    // photo to draw from, it is enlarged as it is.
    FFromPhoto = scene.Photo && !scene.Photo->Empty() && d.Width() == display->Width() &&
                 d.Height() == display->Height();
    if (FFromPhoto) {
      RenderMockup(scene, FScene, FScene.Width(), FScene.Height());
      if (form.isDrawing) {
        // The display holds a rubber band: the clean display is drawn as the refit draws it.
        FClean.SetPixelFormat(pf24bit);
        FClean.SetSize(display->Width(), display->Height());
        RenderMockup(scene, FClean, FClean.Width(), FClean.Height());
      } else {
        CopyPixels(FClean, *display);
      }
    } else {
      StretchBlt(FScene.View(), Rect(0, 0, FScene.Width(), FScene.Height()), display->View(),
                 Rect(0, 0, display->Width(), display->Height()));
      CopyPixels(FClean, *display);
    }
    CopyPixels(FShown, *display);
    Mirror(Rect(0, 0, FShown.Width(), FShown.Height()));
  }
  image = ScreenImage(FRendering, ratio);
}

// Carries the display pixels that changed since they were last shown over to the device
// rendering. False when a change is not a rubber band's (a pixel neither as the mock-up
// draws it nor its inverse): the mock-up changed beneath, and is drawn anew.
bool TDevicePhoto::FollowDisplay(TBitmap& display, QImage& image, std::vector<QRect>& changed) {
  const int w = display.Width();
  const int h = display.Height();
  if (display.PixelFormat() != pf24bit || w != FShown.Width() || h != FShown.Height()) return false;
  auto differs = [](const uint8_t* a, const uint8_t* b) {
    return a[0] != b[0] || a[1] != b[1] || a[2] != b[2];
  };
  auto inverse = [](const uint8_t* a, const uint8_t* b) {
    return a[0] == 255 - b[0] && a[1] == 255 - b[1] && a[2] == 255 - b[2];
  };
  const TRect at = FKey.Display;
  size_t rowAbove = changed.size();
  for (int y = 0; y < h; ++y) {
    uint8_t* shown = FShown.GetScanline(y);
    const uint8_t* now = display.GetScanline(y);
    const size_t rowStart = changed.size();
    if (std::memcmp(shown, now, size_t(3) * w) != 0) {
      const uint8_t* clean = FClean.GetScanline(y);
      for (int x = 0; x < w; ++x) {
        if (!differs(shown + 3 * x, now + 3 * x)) continue;
        // A run of changed pixels, with gaps of a few unchanged ones.
        int end = x + 1;
        for (int e = x + 1; e < w && e - end < 8; ++e)
          if (differs(shown + 3 * e, now + 3 * e)) end = e + 1;
        for (int i = 3 * x; i < 3 * end; i += 3)
          if (differs(now + i, clean + i) && !inverse(now + i, clean + i)) return false;
        std::memcpy(shown + 3 * x, now + 3 * x, size_t(3) * (end - x));
        CopyToScreenImage(FRendering, Mirror(Rect(x, y, end, y + 1)), image);
        AddRow(changed, rowAbove, QRect(at.Left + x, at.Top + y, end - x, 1));
        x = end - 1;
      }
    }
    rowAbove = rowStart;
  }
  return true;
}

// A device pixel of the scene shows the display pixel under its centre: inverted where
// that pixel is not the clean one.
TRect TDevicePhoto::Mirror(const TRect& r) {
  const int w = FShown.Width(), h = FShown.Height();
  const int sw = FScene.Width(), sh = FScene.Height();
  const TRect device = Rect(FirstDevicePixel(r.Left, sw, w), FirstDevicePixel(r.Top, sh, h),
                            FirstDevicePixel(r.Right, sw, w), FirstDevicePixel(r.Bottom, sh, h));
  for (int j = device.Top; j < device.Bottom; ++j) {
    const int y = DisplayPixel(j, sh, h);
    const uint8_t* shown = FShown.GetScanline(y);
    const uint8_t* clean = FClean.GetScanline(y);
    const uint8_t* scene = FScene.GetScanline(j);
    uint8_t* out = FRendering.GetScanline(FSceneRect.Top + j) + 3 * FSceneRect.Left;
    for (int i = device.Left; i < device.Right; ++i) {
      const int x = DisplayPixel(i, sw, w);
      const bool inverted = std::memcmp(shown + 3 * x, clean + 3 * x, 3) != 0;
      for (int c = 3 * i; c < 3 * i + 3; ++c) out[c] = inverted ? 255 - scene[c] : scene[c];
    }
  }
  return Rect(FSceneRect.Left + device.Left, FSceneRect.Top + device.Top,
              FSceneRect.Left + device.Right, FSceneRect.Top + device.Bottom);
}

void TDevicePhoto::RemoveProduct(QImage& image, std::vector<QRect>& changed) {
  const TRect r = IntersectRect(FProductRect, Rect(0, 0, FRendering.Width(), FRendering.Height()));
  FProductRect = {};
  if (r.IsEmpty() || image.width() != FRendering.Width() || image.height() != FRendering.Height())
    return;
  CopyToScreenImage(FRendering, r, image);
  changed.push_back(LogicalRect(r));
}

QRect TDevicePhoto::LogicalRect(const TRect& r) const {
  const double ratio = FKey.Ratio;
  const int left = int(std::floor(r.Left / ratio)), top = int(std::floor(r.Top / ratio));
  return QRect(left, top, int(std::ceil(r.Right / ratio)) - left,
               int(std::ceil(r.Bottom / ratio)) - top);
}

QImage TDevicePhoto::RenderProduct(TFrmModulePhoto& form, QPoint& origin, QImage& image,
                                   std::vector<QRect>& changed) {
  RemoveProduct(image, changed);
  const double ratio = FKey.Ratio;
  const TImage& p = form.ImgProduit;
  // A device pixel more on each side: the edges' anti-aliasing may reach into it.
  const TRect device = Rect(int(std::floor(p.Left * ratio)) - 1, int(std::floor(p.Top * ratio)) - 1,
                            int(std::ceil((p.Left + std::max(0, p.Width)) * ratio)) + 1,
                            int(std::ceil((p.Top + std::max(0, p.Height)) * ratio)) + 1);
  origin = QPoint(device.Left, device.Top);
  TBitmap product;
  product.SetPixelFormat(pf24bit);
  product.SetSize(device.Width(), device.Height());
  if (product.Empty()) return {};
  const TRect all = Rect(0, 0, product.Width(), product.Height());
  FillPixels(product.View(), all, FKey.Background);
  BitBlt(product.View(), 0, 0, FRendering.View(), device);
  TMockupScene scene = form.Scene(true);
  if (FFromPhoto && scene.Placed) {
    // The placed product alone, over the rendering copied beneath it.
    scene.Fixed = nullptr;
    scene.Notices.clear();
    scene.DisplayWidth = scene.DisplayHeight = 0;
    scene.PhotoDrawn = true;
    RenderMockup(scene, product, FScene.Width(), FScene.Height(), device.Left - FSceneRect.Left,
                 device.Top - FSceneRect.Top);
  } else if (const TWarpSource* warp = form.PlacedWarp()) {
    TQuad q = form.productCorners;
    for (TPointD& c : q)
      c = TPointD{(p.Left + c.X) * ratio - device.Left, (p.Top + c.Y) * ratio - device.Top};
    DrawPerspective(product, *warp, q, all);
  } else if (TGraphic* picture = form.ImgProduit.Picture.Graphic(); picture && !picture->Empty()) {
    product.Canvas().StretchDraw(
        Rect(Scaled(p.Left, ratio) - device.Left, Scaled(p.Top, ratio) - device.Top,
             Scaled(p.Left + p.Width, ratio) - device.Left,
             Scaled(p.Top + p.Height, ratio) - device.Top),
        *picture);
  }
  const TRect shown = IntersectRect(device, Rect(0, 0, image.width(), image.height()));
  if (!shown.IsEmpty() && image.width() == FRendering.Width() &&
      image.height() == FRendering.Height()) {
    CopyInto(product,
             Rect(shown.Left - device.Left, shown.Top - device.Top, shown.Right - device.Left,
                  shown.Bottom - device.Top),
             image, shown.Left, shown.Top);
    FProductRect = shown;
    changed.push_back(LogicalRect(shown));
  }
  return ScreenImage(product, ratio);
}
