// The image controls and image buttons of the window, and the bitmap conversion they use.
#include <QContextMenuEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QStyleOptionButton>
#include <QStylePainter>

#include "MainWindow.h"

QImage ToQImage(TBitmap& bitmap) {
  if (bitmap.Empty()) return {};
  if (bitmap.PixelFormat() != pf24bit && bitmap.PixelFormat() != pf32bit) {
    TBitmap converted;
    converted.Assign(bitmap);
    converted.SetPixelFormat(pf24bit);
    return ToQImage(converted);
  }
  // Both layouts match a Qt format byte for byte; the copy detaches from our buffer.
  const QImage::Format format =
      bitmap.PixelFormat() == pf24bit ? QImage::Format_BGR888 : QImage::Format_RGB32;
  const QImage view(bitmap.GetScanline(0), bitmap.Width(), bitmap.Height(), bitmap.BytesPerRow(),
                    format);
  return view.copy();
}

void CopyToScreenImage(TBitmap& bitmap, const TRect& r, QImage& image) {
  for (int y = r.Top; y < r.Bottom; ++y) {
    const uint8_t* src = bitmap.GetScanline(y) + 3 * r.Left;
    auto* dst = reinterpret_cast<QRgb*>(image.scanLine(y)) + r.Left;
    for (int x = r.Left; x < r.Right; ++x, src += 3) *dst++ = qRgb(src[2], src[1], src[0]);
  }
}

bool ApplyFrameDamage(TImage& control, TBitmap& rendering, QImage& image,
                      const std::vector<TRect>& damage, std::vector<QRect>& changed) {
  TGraphic* display = control.Picture.Graphic();
  if (!display || rendering.PixelFormat() != pf24bit || rendering.Width() != control.Width ||
      rendering.Height() != control.Height || image.format() != QImage::Format_RGB32 ||
      image.width() != control.Width || image.height() != control.Height)
    return false;
  auto* bitmap = dynamic_cast<TBitmap*>(display);
  const TRect dest = control.DestRect();
  // The display bitmap is never larger than its control, so it is shown unscaled.
  if (!bitmap || dest.Width() != bitmap->Width() || dest.Height() != bitmap->Height()) return false;
  const TRect bounds = Rect(0, 0, rendering.Width(), rendering.Height());
  for (const TRect& r : damage) {
    const TRect shown = IntersectRect(
        Rect(r.Left + dest.Left, r.Top + dest.Top, r.Right + dest.Left, r.Bottom + dest.Top),
        bounds);
    if (shown.IsEmpty()) continue;
    BitBlt(rendering.View(), shown.Left, shown.Top, bitmap->View(),
           Rect(shown.Left - dest.Left, shown.Top - dest.Top, shown.Right - dest.Left,
                shown.Bottom - dest.Top));
    CopyToScreenImage(rendering, shown, image);
    changed.emplace_back(shown.Left, shown.Top, shown.Width(), shown.Height());
  }
  return true;
}

namespace {

TMouseButton ButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::LeftButton:
      return mbLeft;
    case Qt::RightButton:
      return mbRight;
    default:
      return mbMiddle;
  }
}

TShiftState ShiftOf(const QMouseEvent* event) {
  TShiftState s = 0;
  const auto mods = event->modifiers();
  if (mods & Qt::ShiftModifier) s |= ssShift;
  if (mods & Qt::AltModifier) s |= ssAlt;
  if (mods & Qt::ControlModifier) s |= ssCtrl;
  if (event->buttons() & Qt::LeftButton) s |= ssLeft;
  if (event->buttons() & Qt::RightButton) s |= ssRight;
  return s;
}

}  // namespace

void TPictureWidget::SetImage(QImage image, QPoint deviceOrigin) {
  FImage = image.format() == QImage::Format_RGB32 || image.isNull()
               ? std::move(image)
               : image.convertToFormat(QImage::Format_RGB32);
  FDeviceOrigin = deviceOrigin;
  update();
}

void TPictureWidget::Repaint(const std::vector<QRect>& rects) {
  // On a high-density screen a pixel's device pixels are found by rounding, and a picture
  // enlarged smoothly spreads each pixel over its neighbours' device pixels: a margin
  // around each rectangle repaints all that a change touched (otherwise an erased frame
  // stays as a faint outline).
  const int reach = devicePixelRatioF() == 1.0 ? 0 : 2;
  for (const QRect& r : rects) update(r.adjusted(-reach, -reach, reach, reach));
}

void TPictureWidget::contextMenuEvent(QContextMenuEvent* event) {
  if (OnContextMenu)
    OnContextMenu(event->globalPos());
  else
    event->ignore();
}

void TPictureWidget::paintEvent(QPaintEvent* event) {
  QPainter painter(this);
  const qreal ratio = FImage.devicePixelRatio();
  if (ratio != 1.0) {
    // One picture pixel on one device pixel, placed from the parent's origin: the painter
    // clips to the region asked for.
    painter.drawImage(QPointF(FDeviceOrigin) / ratio - QPointF(pos()), FImage);
    return;
  }
  // On high-density screens the picture's pixels are spread over device pixels: smoothly.
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  // Only the part asked for: a rubber-band move repaints a few thin strips.
  const QRect r = event->rect() & FImage.rect();
  if (!r.isEmpty()) painter.drawImage(r, FImage, r);
}

// While a button is held Qt keeps sending moves and the release to the widget that got
// the press, even outside it: the mouse capture the frame and the drag rely on.
void TPictureWidget::mousePressEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseDown) OnMouseDown(ButtonOf(event->button()), ShiftOf(event), p.x(), p.y());
}

void TPictureWidget::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseMove) OnMouseMove(ShiftOf(event), p.x(), p.y());
}

void TPictureWidget::mouseReleaseEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  if (OnMouseUp) OnMouseUp(ButtonOf(event->button()), ShiftOf(event), p.x(), p.y());
}

void TImageButton::paintEvent(QPaintEvent*) {
  QStylePainter painter(this);
  QStyleOptionButton option;
  initStyleOption(&option);
  option.text.clear();
  option.icon = QIcon();
  painter.drawControl(QStyle::CE_PushButtonBevel, option);

  QRect textRect = rect();
  const QSize iconSz = iconSize();
  if (!icon().isNull()) {
    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    const int y = (height() - iconSz.height()) / 2;
    const int x = FMargin > 0 || !text().isEmpty() ? FMargin : (width() - iconSz.width()) / 2;
    icon().paint(&painter, QRect(QPoint(x, y), iconSz), Qt::AlignCenter, mode);
    if (FMargin > 0) textRect.setLeft(x + iconSz.width());
  }
  if (!text().isEmpty())
    painter.drawItemText(textRect, Qt::AlignCenter | Qt::TextShowMnemonic, palette(), isEnabled(),
                         text(), QPalette::ButtonText);
}
