// The image controls and image buttons of the window, and the bitmap conversion they use.
#include <QMouseEvent>
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

void TPictureWidget::SetImage(QImage image) {
  FImage = std::move(image);
  update();
}

void TPictureWidget::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // On high-density screens the picture's pixels are spread over device pixels: smoothly.
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  if (!FImage.isNull()) painter.drawImage(0, 0, FImage);
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
