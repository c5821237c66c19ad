// The image list's three icons, painted as vectors at whatever size and scale Qt asks.
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

#include "MainWindow.h"

namespace {

void PaintDisc(QPainter& p, const QColor& fill) {
  p.setPen(QPen(fill.darker(140), 1.2));
  p.setBrush(fill);
  p.drawEllipse(QRectF(2, 2, 28, 28));
}

void PaintAdd(QPainter& p) {
  PaintDisc(p, QColor(30, 110, 215));
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(16, 9), QPointF(16, 23));
  p.drawLine(QPointF(9, 16), QPointF(23, 16));
}

void PaintClear(QPainter& p) {
  PaintDisc(p, QColor(215, 40, 40));
  p.setPen(QPen(Qt::white, 4, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(11, 11), QPointF(21, 21));
  p.drawLine(QPointF(21, 11), QPointF(11, 21));
}

void PaintSave(QPainter& p) {
  // Floppy disk: body with a cut corner, metal shutter, paper label.
  QPainterPath body;
  body.moveTo(3, 3);
  body.lineTo(22, 3);
  body.lineTo(27, 8);
  body.lineTo(27, 27);
  body.lineTo(3, 27);
  body.closeSubpath();
  p.setPen(QPen(QColor(20, 40, 90), 1.2));
  p.setBrush(QColor(45, 75, 150));
  p.drawPath(body);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(200, 205, 215));
  p.drawRect(QRectF(8, 3.6, 11, 7));
  p.setBrush(QColor(45, 75, 150));
  p.drawRect(QRectF(15, 4.6, 2.5, 5));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(6.5, 15, 17, 10));
  // Pencil across the lower right corner.
  p.save();
  p.translate(23, 21);
  p.rotate(-45);
  p.setPen(QPen(QColor(90, 60, 10), 0.8));
  p.setBrush(QColor(245, 190, 40));
  p.drawRect(QRectF(-2.5, -10, 5, 13));
  p.setBrush(QColor(235, 200, 150));
  QPolygonF tip;
  tip << QPointF(-2.5, 3) << QPointF(2.5, 3) << QPointF(0, 8);
  p.drawPolygon(tip);
  p.setBrush(QColor(230, 120, 140));
  p.drawRect(QRectF(-2.5, -12.5, 5, 2.5));
  p.restore();
}

class TVectorIconEngine : public QIconEngine {
 public:
  explicit TVectorIconEngine(int index) : FIndex(index) {}
  QIconEngine* clone() const override { return new TVectorIconEngine(FIndex); }

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->translate(rect.topLeft());
    painter->scale(rect.width() / 32.0, rect.height() / 32.0);
    if (mode == QIcon::Disabled) painter->setOpacity(0.35);
    if (FIndex == 0) PaintAdd(*painter);
    if (FIndex == 1) PaintSave(*painter);
    if (FIndex == 2) PaintClear(*painter);
    painter->restore();
  }

  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return scaledPixmap(size, mode, state, 1.0);
  }

  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state,
                       qreal scale) override {
    QImage image(size * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter painter(&image);
      paint(&painter, image.rect(), mode, state);
    }
    QPixmap pm = QPixmap::fromImage(image);
    pm.setDevicePixelRatio(scale);
    return pm;
  }

 private:
  int FIndex;
};

}  // namespace

QIcon MakeVitrelleIcon(int index) {
  return QIcon(new TVectorIconEngine(index));
}
