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
class QCoreApplication;
class QFrame;
class QLabel;
class QMenu;
class QScrollArea;

// A framework bitmap as a Qt image (a copy).
QImage ToQImage(TBitmap& bitmap);
// Copies the rectangle r of a 24-bit bitmap into the same place of a Format_RGB32 image of
// the same size (the screen's own format, so painting it converts nothing).
void CopyToScreenImage(TBitmap& bitmap, const TRect& r, QImage& image);
// Brings a rubber-band move onto the photo control as shown: the display-bitmap rectangles
// in `damage` are copied into the control's rendering (the photo beneath the product) and
// converted into the painted image. Returns false, touching nothing, when the rendering
// does not match the control (its size or the display's place changed): the caller then
// renders the whole control. `changed` receives the control rectangles to repaint.
bool ApplyFrameDamage(TImage& control, TBitmap& rendering, QImage& image,
                      const std::vector<TRect>& damage, std::vector<QRect>& changed);

// The photo control on a high-density screen (a device pixel ratio other than 1): the
// mock-up drawn from the client photo and the product pictures at the screen's own
// resolution, through RenderMockup as the full-resolution export draws it, instead of the
// display bitmap enlarged. The drawing is kept while the mock-up stays the same. The
// display bitmap keeps its own size and pixels and is followed pixel by pixel: a display
// pixel that the rubber band inverted is shown with its device pixels inverted.
class TDevicePhoto {
 public:
  // Brings `image` (the control at device resolution, in the screen's format, the ratio
  // set) up to the workspace's state. True when it was drawn anew; otherwise `changed`
  // receives the control rectangles whose pixels changed (the rubber band's moves).
  bool Update(TFrmModulePhoto& form, double ratio, QImage& image, std::vector<QRect>& changed);
  // The placed product's control at device resolution: the rendering beneath it, then the
  // product drawn from its own picture. `origin` receives its top-left in the photo
  // control's device pixels (the control's own place there may fall between two). The
  // product is drawn into `image` as well, in place of where it was before, so that the
  // device pixels its control's rounded edges leave to the photo show it too; `changed`
  // receives the control rectangles to repaint.
  QImage RenderProduct(TFrmModulePhoto& form, QPoint& origin, QImage& image,
                       std::vector<QRect>& changed);
  // Takes the product drawn by RenderProduct out of `image` again.
  void RemoveProduct(QImage& image, std::vector<QRect>& changed);

 private:
  struct TKey {
    double Ratio = 0;
    int ControlWidth = 0;
    int ControlHeight = 0;
    TColor Background = clBtnFace;
    TRect Display;                    // where the display bitmap lies in the control
    std::shared_ptr<TPicture> Photo;  // held: its address names this photo alone
    int PhotoWidth = 0;
    int PhotoHeight = 0;
    std::vector<TMockupProduct> Fixed;
    std::vector<int> Notices;
    bool operator==(const TKey& other) const;
  };
  static TKey KeyOf(TFrmModulePhoto& form, double ratio);
  void DrawAnew(TFrmModulePhoto& form, QImage& image);
  bool FollowDisplay(TBitmap& display, QImage& image, std::vector<QRect>& changed);
  TRect Mirror(const TRect& displayRect);
  QRect LogicalRect(const TRect& deviceRect) const;

  TKey FKey;
  bool FFromPhoto = false;  // drawn from the photo (otherwise the display enlarged)
  TBitmap FScene;           // the mock-up at device resolution, without the placed product
  TBitmap FClean;           // the display bitmap as that mock-up draws it (no rubber band)
  TBitmap FShown;           // the display bitmap as FRendering last showed it
  TBitmap FRendering;       // the control at device resolution: background, scene, band
  TRect FSceneRect;         // where FScene lies in FRendering
  TRect FProductRect;       // where the placed product is drawn into the image
};

// The three icons of the image list, drawn as vectors (crisp at any scale).
QIcon MakeVitrelleIcon(int index);
// Before the application object exists: Qt reads the machine's locale once, for what it
// writes itself (the file dialogs' dates and sizes); this has it read French. The C
// library's locale and the environment stay the machine's.
void PrepareFrenchLocale();
// Qt's own texts in French (file dialogs, message box buttons) from Qt's translations, and
// French dates and numbers, whatever the machine's language. False when Qt's French
// translations are not installed (the dialogs then speak Qt's English).
bool InstallFrenchInterface(QCoreApplication& app);

// The steps of the program entry, replaceable for tests.
struct TProgramSteps {
  // Creates the application object from the command line, which it may shorten (Qt takes
  // its own options out); the result lives until the program ends.
  std::function<std::shared_ptr<void>(int& argc, char** argv)> CreateApplication;
  // Registers the picture classes for as long as the result lives.
  std::function<std::shared_ptr<void>()> RegisterCodecs;
  // Creates the window and, given the product path, shows it and runs the message loop;
  // without one the window is never shown. Returns the exit code.
  std::function<int(const std::string* productPath)> RunWindow;
  // The standard exception display.
  std::function<void(const std::string& message)> ShowException;
};
// The real steps: QApplication, the Qt window and a message box.
TProgramSteps QtProgramSteps(std::function<std::shared_ptr<void>()> registerCodecs);
// The program: exactly one argument as typed (not counting the program) is the product
// path; an exception escaping any step is shown, and the result is then 0.
int RunProgram(int argc, char** argv, const TProgramSteps& steps);

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
  // A wait cursor over the whole application while a picture loads or the export is written.
  void SetBusy(bool busy) override;
  bool IsBusy() const { return FBusyDepth > 0; }

  std::function<bool(TFileDialog&)> OpenDialogHook;
  std::function<bool(TFileDialog&)> SaveDialogHook;
  std::function<void(const std::string&)> MessageHook;

 private:
  QWidget* FParent;
  int FBusyDepth = 0;
};

// Shows a picture and hands the mouse to the workspace.
class TPictureWidget : public QWidget {
 public:
  explicit TPictureWidget(QWidget* parent) : QWidget(parent) {}
  // Shows a new picture; it is kept in the screen's format and painted unconverted. A
  // picture with a device pixel ratio other than 1 is at the screen's own resolution and
  // is painted pixel for pixel, its top-left at `deviceOrigin` in the parent's device
  // pixels (so that a control over the photo lines up with it whatever the rounding of
  // its own place); at a ratio of 1 the picture fills the control.
  void SetImage(QImage image, QPoint deviceOrigin = {});
  const QImage& Image() const { return FImage; }
  // For changing parts of the picture in place; Repaint then shows those parts.
  QImage& EditImage() { return FImage; }
  void Repaint(const std::vector<QRect>& rects);

  std::function<void(TMouseButton, TShiftState, int, int)> OnMouseDown;
  std::function<void(TShiftState, int, int)> OnMouseMove;
  std::function<void(TMouseButton, TShiftState, int, int)> OnMouseUp;
  // The right button's menu was asked for at a global screen position.
  std::function<void(QPoint)> OnContextMenu;

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QImage FImage;
  QPoint FDeviceOrigin;
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

class TMainWindow;
// Files dropped on the photo or on the product preview, and the arrow keys moving the
// placed product, handed to the workspace (the binding lives as long as the window).
void BindDropsAndKeys(TMainWindow& window);

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
  // A rubber-band move: the handler, then only the changed parts of the photo converted
  // and repainted (the rest of the window cannot change during a move).
  void GuardedFrameMove(const std::function<void()>& handler);
  // Replaces the exception message box (tests).
  std::function<void(const std::string&)> ExceptionHook;
  // The photo's context menu as it is at this moment: entries in order, disabled ones
  // greyed; choosing one runs it. ShowContextMenu opens it at a screen position.
  std::unique_ptr<QMenu> MakeContextMenu();
  void ShowContextMenu(QPoint globalPos);
  // Called with the menu just before it opens (tests and screenshots look at it there).
  std::function<void(QMenu&)> ContextMenuHook;

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
  QWidget* Handles = nullptr;  // the corner handles, drawn over the photo and the product

 protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  void BuildWidgets();
  void ConnectEvents();
  void ShowException(const std::string& message);
  void ShowPhoto();
  void ShowProduct();
  // The device pixel ratio the photo is drawn for: 1 draws the display bitmap itself.
  double DeviceRatio() const;

  std::unique_ptr<TQtHost> FHost;
  std::unique_ptr<TFrmModulePhoto> FForm;
  TBitmap FPhotoRendering;    // the photo control as shown at a ratio of 1, beneath the product
  TDevicePhoto FDevicePhoto;  // the photo control at the screen's resolution, above 1
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
