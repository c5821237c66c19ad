// The Qt window over the workspace: it forwards the user's events to TFrmModulePhoto and
// shows its state. Pictures are only ever read and written through the framework.
#pragma once

#include <QImage>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>

#include "ModulePhotos.h"

class QComboBox;
class QFrame;
class QLabel;
class QScrollArea;

// A framework bitmap as a Qt image (a copy).
QImage ToQImage(TBitmap& bitmap);
// The three icons of the image list, drawn as vectors (crisp at any scale).
QIcon MakeVitrelleIcon(int index);

// Timers from Qt's event loop and a monotonic clock, for the framework's timer service.
// Timers fire on the thread that created them.
class TQtTimerService : public TTimerService {
 public:
  TQtTimerService();
  ~TQtTimerService() override;
  std::unique_ptr<TTimer> CreateTimer() override;
  int64_t Milliseconds() override;

 private:
  struct TClock;
  std::unique_ptr<TClock> FClock;
};

// The platform side of the workspace: Qt file dialogs (the open dialog with a preview
// loaded through the framework registry) and message boxes. Tests replace the hooks.
class TQtHost : public TWorkspaceHost {
 public:
  explicit TQtHost(QWidget* parent) : FParent(parent) {}
  bool ExecuteOpenPictureDialog(TFileDialog& dialog) override;
  bool ExecuteSavePictureDialog(TFileDialog& dialog) override;
  void ShowMessage(const std::string& text) override;

  std::function<bool(TFileDialog&)> OpenDialogHook;
  std::function<bool(TFileDialog&)> SaveDialogHook;
  std::function<void(const std::string&)> MessageHook;

 private:
  QWidget* FParent;
};

// Shows a picture and hands the mouse to the workspace.
class TPictureWidget : public QWidget {
 public:
  explicit TPictureWidget(QWidget* parent) : QWidget(parent) {}
  void SetImage(QImage image);
  const QImage& Image() const { return FImage; }

  std::function<void(TMouseButton, TShiftState, int, int)> OnMouseDown;
  std::function<void(TShiftState, int, int)> OnMouseMove;
  std::function<void(TMouseButton, TShiftState, int, int)> OnMouseUp;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage FImage;
};

// A push button with an image-list icon: at a left margin with the caption centred in the
// rest, or centred alone.
class TImageButton : public QPushButton {
 public:
  TImageButton(QWidget* parent, int imageMarginLeft)
      : QPushButton(parent), FMargin(imageMarginLeft) {}

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int FMargin;
};

class TMainWindow : public QWidget {
 public:
  explicit TMainWindow(QWidget* parent = nullptr);
  ~TMainWindow() override;

  TFrmModulePhoto& Form() { return *FForm; }
  TQtHost& Host() { return *FHost; }
  // Copies the workspace's state onto the widgets.
  void Sync();
  // Runs a handler; an exception escaping it is shown as a message box (the window stays
  // usable), then the state is shown as the handler left it.
  void Guarded(const std::function<void()>& handler);
  // Replaces the exception message box (tests).
  std::function<void(const std::string&)> ExceptionHook;

  // The widgets, for tests and screenshots.
  TPictureWidget* ImgPhotoMaison = nullptr;
  TPictureWidget* ImgProduit = nullptr;
  TPictureWidget* ImgProduitApercu = nullptr;
  QScrollArea* scBxInfos = nullptr;
  TImageButton* btnProduitPhoto = nullptr;
  TImageButton* btnEffProduit = nullptr;
  TImageButton* BtnClientPhoto = nullptr;
  TImageButton* btnEffClient = nullptr;
  TImageButton* btnPropor = nullptr;
  TImageButton* btnPerso = nullptr;
  TImageButton* btnExportImage = nullptr;
  QComboBox* cbMention = nullptr;
  QLabel* lblInstruction = nullptr;

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildWidgets();
  void ConnectEvents();
  void ShowException(const std::string& message);

  std::unique_ptr<TQtHost> FHost;
  std::unique_ptr<TFrmModulePhoto> FForm;
  TBitmap FPhotoRendering;  // the photo control as shown, beneath the product
  QWidget* FPanelContent = nullptr;
  QFrame* panApercu = nullptr;
  QFrame* pnlGestionImg = nullptr;
  QFrame* pnlLargeur = nullptr;
  QFrame* panInfos = nullptr;
  QLabel* lblOptions = nullptr;
  QLabel* lblMention = nullptr;
  bool FActivationPosted = false;
  bool FPreviewShown = false;
  unsigned FPreviewRevision = 0;
};
