// The wait cursor of long steps. Qt's override cursors stack, as the workspace's busy
// steps nest, so each start pushes one and each end takes it off again.
#include <QApplication>

#include "MainWindow.h"

void TQtHost::SetBusy(bool busy) {
  if (busy) {
    ++FBusyDepth;
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else if (FBusyDepth > 0) {
    --FBusyDepth;
    QApplication::restoreOverrideCursor();
  }
}
