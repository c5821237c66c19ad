// Takes the README's screenshots from the real window: the sample house, the sample window
// placed over the left window of the house, the notice in white; then that product fixed,
// a second one fixed in perspective over the right window, and the photo's context menu
// open. Run it under the offscreen platform (scripts/make-screenshot); the pictures are
// written by our PNG class.
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QTimer>
#include <iostream>

#include "MainWindow.h"
#include "codecs.h"

namespace {

std::unique_ptr<TBitmap> ToBitmap(const QImage& image) {
  const QImage rgb = image.convertToFormat(QImage::Format_BGR888);
  auto bmp = std::make_unique<TBitmap>();
  bmp->SetPixelFormat(pf24bit);
  bmp->SetSize(rgb.width(), rgb.height());
  for (int y = 0; y < rgb.height(); ++y)
    std::copy_n(rgb.constScanLine(y), size_t(rgb.width()) * 3, bmp->GetScanline(y));
  return bmp;
}

void SavePicture(const QImage& image, const std::string& path) {
  std::unique_ptr<TBitmap> bmp = ToBitmap(image);
  const TGraphicClass* png = TPicture::FindFileFormat(".png");
  if (!png) throw EInvalidGraphic("Le format PNG n'est pas disponible");
  std::unique_ptr<TGraphic> graphic = png->Create();
  graphic->Assign(*bmp);
  graphic->SaveToFile(path);
}

void Compose(TMainWindow& window, const std::string& house) {
  window.Host().OpenDialogHook = [house](TFileDialog& d) {
    d.FileName = house;
    return true;
  };
  TFrmModulePhoto& f = window.Form();
  window.Guarded([&] {
    f.BtnClientPhotoClick();
    f.btnPersoClick();
    // The house's left window, frame included, in window coordinates.
    f.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 158, 341);
    f.ImgPhotoMaisonMouseMove(ssLeft, 268, 472);
    f.ImgPhotoMaisonMouseUp(mbLeft, 0, 268, 472);
    f.SelectMention(1);
  });
}

// The left product fixed, the same picture placed over the right window, given a slight
// perspective and fixed too.
void ComposeTwoProducts(TMainWindow& window) {
  TFrmModulePhoto& f = window.Form();
  window.Guarded([&] {
    f.FixProduct();
    f.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 426, 336);
    f.ImgPhotoMaisonMouseMove(ssLeft, 572, 474);
    f.ImgPhotoMaisonMouseUp(mbLeft, 0, 572, 474);
    f.SetProductCorners({{{426, 340}, {572, 332}, {572, 476}, {426, 468}}});
    f.FixProduct();
  });
}

// The window with its context menu open at a point of the photo, the full-resolution export
// under the pointer. The menu is a window of its own: it is drawn over the window's picture
// where it opened.
QImage WithContextMenu(TMainWindow& window, QPoint at) {
  QImage shot;
  window.ContextMenuHook = [&](QMenu& menu) {
    QTimer::singleShot(50, &menu, [&] {
      menu.setActiveAction(menu.actions().back());
      shot = window.grab().toImage();
      QPainter painter(&shot);
      painter.drawPixmap(window.mapFromGlobal(menu.pos()), menu.grab());
      menu.close();
    });
  };
  window.ShowContextMenu(window.mapToGlobal(at));
  window.ContextMenuHook = nullptr;
  return shot;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::cerr << "Utilisation : vitrelle-screenshot PRODUIT MAISON SORTIE.png SORTIE-MENU.png\n";
    return 2;
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName(QString::fromUtf8(txtApplicationTitle));
  TCodecRegistration codecs;
  TMainWindow window;
  std::string failure;
  window.ExceptionHook = [&failure](const std::string& m) { failure = m; };
  window.Host().MessageHook = [&failure](const std::string& m) { failure = m; };
  window.Form().SetProductPath(argv[1]);
  window.show();
  int status = 0;
  QTimer::singleShot(100, &window, [&] {
    Compose(window, argv[2]);
    try {
      if (!failure.empty()) throw Exception(failure);
      SavePicture(window.grab().toImage(), argv[3]);
      ComposeTwoProducts(window);
      if (!failure.empty()) throw Exception(failure);
      SavePicture(WithContextMenu(window, QPoint(400, 150)), argv[4]);
    } catch (const std::exception& e) {
      std::cerr << e.what() << "\n";
      status = 1;
    }
    QApplication::quit();
  });
  QApplication::exec();
  return status;
}
