// The mock-up workspace: the main window's state and its event handlers, free of any
// windowing toolkit. Controls are plain states (geometry, enabled, visible, texts, colour);
// pictures are framework pictures. The Qt window (app/view) and `vitrelle-img composer`
// both drive this same logic, so tests can run every handler without a screen.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "framework.h"

// ---------------------------------------------------------------------------------------
// Texts shown to the user (UTF-8).
// ---------------------------------------------------------------------------------------

inline constexpr const char* txtImport = "Veuillez importer votre image.";
inline constexpr const char* txtPlace =
    "Veuillez placer votre produit. Pour cela, commencez en cliquant sur votre image.";
inline constexpr const char* txtSize =
    "Merci de déplacer votre curseur pour définir la taille de l'image.";
// Kept with the other texts; no path shows it (a zero-height frame is ignored silently).
inline constexpr const char* txtTooSmall = "Erreur : Merci de sélectionner une taille plus grande";
inline constexpr const char* txtOpenFailed =
    "Erreur: L'image n'a pas pu être ouverte, il y a peut-être un problème d'encodage";
inline constexpr const char* txtBadFormat =
    "Erreur: Merci de choisir un format d'image supporté par le logiciel(jpeg, gif, png, bmp).";
inline constexpr const char* txtOutside = "Erreur: Merci de dessiner le produit dans votre image.";
// Proportional placement needs the product's proportions, so it needs a product first.
inline constexpr const char* txtNoProduct = "Erreur : Merci de choisir d'abord une photo produit.";
// Prefix of the message box when the client photo's file cannot be opened.
inline constexpr const char* txtOpenErrorPrefix = "Erreur : ";
inline constexpr const char* txtNotice = "Photo non contractuelle";

inline constexpr const char* txtCaption = "Vitrelle du visuel (BETA)";
inline constexpr const char* txtApplicationTitle = "Vitrelle";
inline constexpr const char* txtTitleClientPhoto = "Choisissez la photo du client";
inline constexpr const char* txtTitleProductPhoto = "Choisissez la photo du produit";

// The window's background colour (the toolkit's button face).
constexpr TColor clBtnFace = RGBColor(240, 240, 240);

// ---------------------------------------------------------------------------------------
// Control states
// ---------------------------------------------------------------------------------------

enum TMouseButton { mbLeft, mbRight, mbMiddle };
enum TShiftFlag : unsigned { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16 };
using TShiftState = unsigned;

// Geometry (left, top, width x height inside the parent) and the two flags every control has.
struct TControl {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  bool Enabled = true;
  bool Visible = true;
  std::string Hint;
};

struct TButton : TControl {
  std::string Caption;
  int ImageIndex = -1;      // index in the window's image list, -1 for none
  int ImageMarginLeft = 0;  // 0 with an image: the image is centred
};

struct TLabel : TControl {
  std::string Caption;
  TColor FontColor = clBlack;
  int FontHeight = 11;  // pixels
  bool Bold = false;
  bool Centered = false;
  bool WordWrap = false;
};

struct TComboBox : TControl {
  std::vector<std::string> Items;
  int ItemIndex = -1;
};

struct TPanel : TControl {
  bool Bordered = false;
  TColor Color = clBtnFace;
};

// An image control: a picture holder plus how the picture is laid into the control.
struct TImage : TControl {
  TPicture Picture;
  bool Center = false;        // centre the picture in the control
  bool Proportional = false;  // scale a picture larger than the control down, keeping its shape
  bool Stretch = false;       // stretch the picture over the whole control
  unsigned Revision = 0;      // counts the picture's replacements (the view's cache key)
  bool HasPicture() { return Picture.Graphic() != nullptr; }
  // Where the picture lands inside the control, in control coordinates.
  TRect DestRect();
};

struct TImageList {
  int Width = 32;
  int Height = 32;
  int Count =
      3;  // 0 add (blue disc, white plus), 1 export (floppy, pencil), 2 clear (red disc, cross)
};

struct TFileFilter {
  std::string Description;
  std::string Pattern;  // patterns separated by ';'
};

enum TDialogOption : unsigned {
  ofHideReadOnly = 1,
  ofEnableSizing = 2,
  ofForceShowHidden = 4,
  ofOverwritePrompt = 8,
};

// The state of a file dialog; the platform runs it (TWorkspaceHost).
struct TFileDialog {
  std::string Title;
  std::string FileName;
  std::string DefaultExt;
  std::vector<TFileFilter> Filter;
  int FilterIndex = 1;  // 1-based row of Filter
  unsigned Options = 0;
};

// What the workspace needs from the platform: running the two dialogs and message boxes.
class TWorkspaceHost {
 public:
  virtual ~TWorkspaceHost() = default;
  // Runs the dialog; returns false when the user cancels. On confirmation FileName (and
  // for the save dialog FilterIndex) hold the user's choice.
  virtual bool ExecuteOpenPictureDialog(TFileDialog& dialog) = 0;
  virtual bool ExecuteSavePictureDialog(TFileDialog& dialog) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  // A long step (loading a picture, writing the export) starts or ends: the platform shows
  // a busy cursor meanwhile. Calls nest; every start is followed by its end.
  virtual void SetBusy(bool busy) { (void)busy; }
};

// Marks a long step for as long as it lives.
class TBusyScope {
 public:
  explicit TBusyScope(TWorkspaceHost* host) : FHost(host) {
    if (FHost) FHost->SetBusy(true);
  }
  ~TBusyScope() {
    if (FHost) FHost->SetBusy(false);
  }
  TBusyScope(const TBusyScope&) = delete;
  TBusyScope& operator=(const TBusyScope&) = delete;

 private:
  TWorkspaceHost* FHost;
};

// Where files are dropped: the photo (ImgPhotoMaison and the product over it) or the
// product preview (panApercu).
enum TDropZone { dzClientPhoto, dzProductPreview };

// The keys the window handles itself (the platform's virtual key codes).
enum TVirtualKey : uint16_t { vkLeft = 0x25, vkUp = 0x26, vkRight = 0x27, vkDown = 0x28 };

// Loads a picture file; a JPEG whose Exif data says the camera was turned is turned
// upright once, here. On failure target keeps its picture.
void LoadPictureUpright(TPicture& target, const std::string& fileName);

// ---------------------------------------------------------------------------------------
// The main window
// ---------------------------------------------------------------------------------------

class TFrmModulePhoto {
 public:
  // Builds the controls at their design geometry, then runs FormCreate (as creating the
  // window does). host may be null: dialogs then count as cancelled and messages are dropped.
  explicit TFrmModulePhoto(TWorkspaceHost* host = nullptr);
  ~TFrmModulePhoto();
  TFrmModulePhoto(const TFrmModulePhoto&) = delete;
  TFrmModulePhoto& operator=(const TFrmModulePhoto&) = delete;

  void SetHost(TWorkspaceHost* host) { FHost = host; }
  void SetProductPath(const std::string& path);

  // Window events.
  void FormCreate();
  // The activation initialisation runs once, at the first activation: re-running it when
  // the window becomes active again (after a message box) would drop the loaded photo.
  void FormActivate();
  void FormResize();
  // Lays the controls out for a new client size (the photo fills the space left of the
  // side panel) and runs FormResize when the size changed.
  void SetClientSize(int width, int height);

  // Shared state operations.
  void FitClientPhoto();
  void ClearProduct();

  // Import.
  void BtnClientPhotoClick();
  void btnProduitPhotoClick();
  void btnEffClientClick() { ClearClientPhoto(); }
  void btnEffProduitClick() { ClearProduct(); }
  void LoadProductPreview();
  void ClearClientPhoto();

  // Placement.
  void ImgPhotoMaisonMouseDown(TMouseButton button, TShiftState shift, int x, int y);
  void ImgPhotoMaisonMouseMove(TShiftState shift, int x, int y);
  void ImgPhotoMaisonMouseUp(TMouseButton button, TShiftState shift, int x, int y);
  void ImgProduitMouseDown(TMouseButton button, TShiftState shift, int x, int y);
  void ImgProduitMouseMove(TShiftState shift, int x, int y);
  void ImgProduitMouseUp(TMouseButton button, TShiftState shift, int x, int y);
  void DrawFrame(int x1, int y1, int x2, int y2);
  void PlaceProduct();
  void btnProporClick();
  void btnPersoClick();

  // Files dropped on a zone: the first one is imported as "Photo client" or "Photo produit"
  // would import it, with the same checks and messages.
  void DropFiles(TDropZone zone, const std::vector<std::string>& fileNames);
  // Arrow keys move the placed product by one pixel, ten with Shift, each press being a
  // short drag of the product (the same edge rules and release snapping). True when the
  // key was used.
  bool FormKeyDown(uint16_t key, TShiftState shift);

  // Notice and export.
  // Runs on a new choice only; SelectMention is how the list reports the user's pick.
  void cbMentionChange();
  // The user picked the entry `index`. Picking the entry already shown is no new choice:
  // it changes nothing (stamping the notice again would thicken its anti-aliased edges).
  void SelectMention(int index) {
    if (index == cbMention.ItemIndex) return;
    cbMention.ItemIndex = index;
    cbMentionChange();
  }
  // The display bitmap with the product drawn into its rectangle; the caller owns it.
  std::unique_ptr<TBitmap> CombineImage();
  void btnExportImageClick();

  // The extension ".jpg", ".png"... that a save-dialog filter row writes (4 and other rows:
  // ".bmp").
  static std::string ExportExtension(int filterIndex);
  // The display bitmap (ImgPhotoMaison's picture) or null when the control holds none.
  TBitmap* DisplayBitmap();
  // The display-bitmap rectangles that rubber-band moves changed since the last call,
  // clipped to the bitmap; the window converts and repaints only those. Anything else
  // that changes the display (a refit, the notice) is shown by a full refresh.
  std::vector<TRect> TakeFrameDamage();

  // Window.
  std::string Caption = txtCaption;
  int ClientWidth = 1008;
  int ClientHeight = 730;
  int MinWidth = 1024;
  int MinHeight = 768;
  TColor Color = clBtnFace;
  std::string FontName = "MS Sans Serif";
  int FontHeight = 11;
  bool DoubleBuffered = false;

  // Controls.
  TImage ImgPhotoMaison;
  TImage ImgProduit;
  TControl scBxInfos;
  TPanel panApercu;
  TImage ImgProduitApercu;
  TPanel pnlGestionImg;
  TButton btnProduitPhoto;
  TButton btnEffProduit;
  TButton BtnClientPhoto;
  TButton btnEffClient;
  TPanel pnlLargeur;
  TLabel lblOptions;
  TButton btnPropor;
  TButton btnPerso;
  TLabel lblMention;
  TComboBox cbMention;
  TPanel panInfos;
  TButton btnExportImage;
  TLabel lblInstruction;
  TFileDialog PictDialogMaison;
  TFileDialog svgImageSave;
  TImageList ImageList1;

  // State.
  std::unique_ptr<TPicture> clientPhoto;
  std::string productPath;
  bool isProportional = false;
  int photoOffsetX = 0;
  int photoOffsetY = 0;
  int photoLeft = 0;
  int photoRight = 0;
  int photoTop = 0;
  int photoBottom = 0;
  int frameStartX = 0;
  int frameStartY = 0;
  int frameCurX = 0;
  int frameCurY = 0;
  bool isDrawing = false;
  bool drawStarted = false;
  bool isDragging = false;
  int grabX = 0;
  int grabY = 0;
  // The frame just drawn, or the product's rectangle as the last drag move found it: the
  // rectangle being tested, not where the product is. The placed product's position and
  // size live in ImgProduit alone (the view, the export and the snap-back read them there);
  // these fields differ from it after a refused frame and during a drag.
  int productLeft = 0;
  int productTop = 0;
  int productWidth = 0;
  int productHeight = 0;
  int productRight = 0;
  int productBottom = 0;

 private:
  void BuildLayout();
  void SetInstruction(const char* text, TColor color);
  void ShowMessage(const std::string& text);
  bool ExecuteOpenDialog(const char* title);
  void RestoreDisplay();

  TWorkspaceHost* FHost = nullptr;
  bool FActivated = false;
  std::vector<TRect> FFrameDamage;
};

// Rendering of what the image controls show, for the window and for tests.
// The control's picture laid out as the control shows it (Center/Proportional/Stretch)
// over the background colour, at the control's size.
void RenderImageControl(TImage& image, TBitmap& target, TColor background);
// The product control's look: the photo control's rendering beneath the product's
// rectangle, with the product drawn stretched over it by its own class (transparency
// composes over the photo).
void RenderProductOverPhoto(TImage& product, TBitmap& photoRendering, TBitmap& target);

// ---------------------------------------------------------------------------------------
// Headless use: `vitrelle-img composer`
// ---------------------------------------------------------------------------------------

struct TComposerJob {
  std::string PhotoPath;
  std::string ProductPath;
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;  // the frame, in window coordinates
  bool Proportional = true;
  bool Drag = false;
  int DragX = 0, DragY = 0;
  struct TKey {
    uint16_t Key = vkLeft;
    TShiftState Shift = 0;
  };
  std::vector<TKey> Keys;  // arrow presses after the drag
  int Mention = 0;         // 0 none, 1 white, 2 black
  int ViewWidth = 728;
  int ViewHeight = 730;
  std::string OutputPath;
};

struct TComposerResult {
  int ExitCode = 0;     // 0 written, 1 refused (frame, photo, product)
  std::string Message;  // what the window would have shown
};

// Runs the window's handlers without a window: photo import, frame, optional drag, arrow
// keys, notice, export with the save-dialog row chosen by the output's extension.
TComposerResult RunComposerJob(const TComposerJob& job);
