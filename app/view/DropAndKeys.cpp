// The window's binding of drops and arrow keys to the workspace. Drops are taken by the
// window itself: the photo control is disabled until a photo is loaded, and a disabled
// widget gets no drop, yet dropping the first photo is the very use of it. Arrow keys are
// looked at before the focused widget sees them (as a form's key preview does), so that
// they move the product even when the notice list has the focus; so do the undo and redo
// shortcuts and Escape (which ends the corner handles).
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollArea>
#include <QUrl>

#include "MainWindow.h"

namespace {

std::vector<std::string> LocalFiles(const QMimeData* mime) {
  std::vector<std::string> files;
  if (mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls())
    if (url.isLocalFile()) files.push_back(url.toLocalFile().toStdString());
  return files;
}

uint16_t VirtualKey(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Left:
      return vkLeft;
    case Qt::Key_Right:
      return vkRight;
    case Qt::Key_Up:
      return vkUp;
    case Qt::Key_Down:
      return vkDown;
    case Qt::Key_Escape:
      return vkEscape;
    case Qt::Key_Z:
      return vkZ;
    case Qt::Key_Y:
      return vkY;
    default:
      return 0;
  }
}

TShiftState ShiftOf(Qt::KeyboardModifiers modifiers) {
  TShiftState shift = 0;
  if (modifiers & Qt::ShiftModifier) shift |= ssShift;
  if (modifiers & Qt::ControlModifier) shift |= ssCtrl;
  if (modifiers & Qt::AltModifier) shift |= ssAlt;
  return shift;
}

class TDropAndKeyBinding : public QObject {
 public:
  explicit TDropAndKeyBinding(TMainWindow& window) : QObject(&window), FWindow(window) {
    window.setAcceptDrops(true);
    window.installEventFilter(this);
    qApp->installEventFilter(this);  // key presses reach the focused child first
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    switch (event->type()) {
      case QEvent::DragEnter:
      case QEvent::DragMove:
        return watched == &FWindow && Drag(static_cast<QDragMoveEvent&>(*event));
      case QEvent::Drop:
        return watched == &FWindow && Drop(static_cast<QDropEvent&>(*event));
      case QEvent::KeyPress:
        return Key(watched, static_cast<QKeyEvent&>(*event));
      default:
        return false;
    }
  }

 private:
  // Which zone lies under a window point, if any.
  bool ZoneAt(QPoint pos, TDropZone& zone) const {
    if (FWindow.ImgPhotoMaison->geometry().contains(pos)) {
      zone = dzClientPhoto;
      return true;
    }
    const QWidget* panel = FWindow.ImgProduitApercu->parentWidget();
    const QWidget* viewport = FWindow.scBxInfos->viewport();
    const QRect shown(viewport->mapTo(&FWindow, QPoint(0, 0)), viewport->size());
    const QRect preview(panel->mapTo(&FWindow, QPoint(0, 0)), panel->size());
    if (shown.intersected(preview).contains(pos)) {
      zone = dzProductPreview;
      return true;
    }
    return false;
  }

  bool Drag(QDragMoveEvent& event) {
    TDropZone zone;
    if (!LocalFiles(event.mimeData()).empty() && ZoneAt(event.position().toPoint(), zone))
      event.acceptProposedAction();
    else
      event.ignore();
    return true;
  }

  bool Drop(QDropEvent& event) {
    TDropZone zone;
    const std::vector<std::string> files = LocalFiles(event.mimeData());
    if (files.empty() || !ZoneAt(event.position().toPoint(), zone)) {
      event.ignore();
      return true;
    }
    event.acceptProposedAction();
    FWindow.activateWindow();  // the user's next step is in this window
    FWindow.Guarded([&] { FWindow.Form().DropFiles(zone, files); });
    return true;
  }

  bool Key(QObject* watched, QKeyEvent& event) {
    const uint16_t key = VirtualKey(event.key());
    auto* widget = qobject_cast<QWidget*>(watched);
    if (key == 0 || widget == nullptr || widget->window() != &FWindow) return false;
    bool used = false;
    FWindow.Guarded([&] { used = FWindow.Form().FormKeyDown(key, ShiftOf(event.modifiers())); });
    return used;
  }

  TMainWindow& FWindow;
};

}  // namespace

void BindDropsAndKeys(TMainWindow& window) {
  new TDropAndKeyBinding(window);  // a child of the window, which deletes it
}
