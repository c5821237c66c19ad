// The program entry: the product picture's path is the only argument.
#include <QApplication>
#include <QMessageBox>
#include <QScreen>

#include "MainWindow.h"
#include "QtClipboard.h"
#include "codecs.h"

namespace {

void ShowStartupException(const std::string& message) {
  QMessageBox box(QMessageBox::Critical, QString::fromUtf8(txtApplicationTitle),
                  QString::fromStdString(message), QMessageBox::Ok);
  box.exec();
}

int Run(int argc, char** argv) {
  TMainWindow window;  // constructor, then FormCreate
  // With no argument or several the window is never shown.
  if (argc - 1 != 1) return 0;
  window.Form().SetProductPath(argv[1]);
  if (const QScreen* screen = window.screen())
    window.move(screen->availableGeometry().center() - window.rect().center());
  window.show();
  return QApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(txtApplicationTitle));
  TCodecRegistration codecs;
  TQtClipboardInstaller clipboard;
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    ShowStartupException(e.what());
  } catch (...) {
    ShowStartupException(std::string());
  }
  return 0;
}
