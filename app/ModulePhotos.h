// The mock-up workspace: the main window's state and its event handlers, free of any
// windowing toolkit. Controls are plain states (geometry, enabled, visible, texts, colour);
// pictures are framework pictures. The Qt window (app/view) and `vitrelle-img composer`
// both drive this same logic, so tests can run every handler without a screen.
#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "framework.h"
#include "warp.h"

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
  // The extension (without its dot) that a name typed without one gets under a filter
  // row: the row's own when it has a single "*.ext" pattern, DefaultExt otherwise.
  std::string DefaultExtFor(int filterIndex) const;
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
enum TVirtualKey : uint16_t {
  vkEscape = 0x1B,
  vkLeft = 0x25,
  vkUp = 0x26,
  vkRight = 0x27,
  vkDown = 0x28,
  vkY = 0x59,
  vkZ = 0x5A,
};

// Loads a picture file; a JPEG whose Exif data says the camera was turned is turned
// upright once, here. On failure target keeps its picture.
void LoadPictureUpright(TPicture& target, const std::string& fileName);

// ---------------------------------------------------------------------------------------
// The mock-up as a scene: the client photo, the products fixed on it, the notice and the
// placed product, drawable at any scale
// ---------------------------------------------------------------------------------------

// A product on the photo: its own picture and where its corners lie, in the client photo's
// own pixels (upright). Kept as a picture and corners, never as pixels, so that every scale
// draws it from its picture.
struct TMockupProduct {
  std::shared_ptr<TGraphic> Picture;  // never changed once shared
  TQuad Corners{};                    // top-left, top-right, bottom-right, bottom-left
  // A rectangle drawn stretched, as the product control draws it; otherwise the picture
  // is mapped onto the four corners in perspective.
  bool Flat = true;
  // The picture made ready for perspective drawing, built at the first need and shared by
  // the copies of this product.
  mutable std::shared_ptr<TWarpSource> Warp;
  bool SameAs(const TMockupProduct& other) const;
};

// What the mock-up is drawn from.
struct TMockupScene {
  TGraphic* Photo = nullptr;  // the client photo at its own size
  // The display bitmap's size: the notice is measured on it (12 points, 10 pixels from the
  // left, 30 above the bottom) and keeps that relative place and size at every scale.
  int DisplayWidth = 0;
  int DisplayHeight = 0;
  const std::vector<TMockupProduct>* Fixed = nullptr;  // drawn in order; may be null
  std::vector<int> Notices;                            // stamps in order: 1 white, 2 black
  const TMockupProduct* Placed = nullptr;              // drawn last; null when none is shown
  // The target already holds the photo at this scale (drawn over in place).
  bool PhotoDrawn = false;
};

// THE drawing of the mock-up at any scale, free of any toolkit: the photo stretched over a
// width x height picture, then the fixed products, the notice stamps and the placed
// product, each from its own picture, mapped from photo pixels by (width / photo width,
// height / photo height). target receives the part of that picture whose top-left pixel
// is (originX, originY), at target's own size (24 bits), so a band or a damaged
// rectangle can be drawn alone.
// - At the display size without the placed product it is the display bitmap, byte for
//   byte (FitClientPhoto draws the display through it).
// - At the client photo's own size it is the full-resolution export.
// - At the display size times a screen's device pixel ratio it is what a high-resolution
//   screen shows: a view draws the photo control's picture through
//   TFrmModulePhoto::Scene() at ImgPhotoMaison's picture size x ratio, while the display
//   bitmap and the export at display size keep their own pixels.
void RenderMockup(const TMockupScene& scene, TBitmap& target, int width, int height,
                  int originX = 0, int originY = 0);
// Writes the notice (1 white, 2 black) with its top-left at (x, y), in bold 12 points
// enlarged by scale (fractions of a pixel kept): the stamp of the notice list.
void StampNotice(TCanvas& canvas, int notice, int x, int y, double scale = 1);

// One state of the mock-up as the undo history keeps it: pictures are shared, not copied.
struct TMockupState {
  std::shared_ptr<TPicture> Photo;
  bool PhotoShown = false;  // the photo control holds the display bitmap
  bool PhotoEnabled = false;
  bool EffClientEnabled = false;
  std::vector<TMockupProduct> Fixed;
  std::vector<int> Notices;
  int MentionIndex = 0;
  bool MentionEnabled = true;
  // The placed product, as the product control holds it (window coordinates).
  std::shared_ptr<TGraphic> ProductPicture;
  TRect ProductRect;
  bool ProductVisible = false;
  bool ProductInPerspective = false;
  TQuad ProductCorners{};
  bool EffProduitEnabled = false;
  bool ExportEnabled = false;
  std::string Instruction;
  TColor InstructionColor = clBlack;
  // Where the display lay when the state was taken: a resize since then moves the
  // product with the photo.
  TRect Display;
  bool SameMockup(const TMockupState& other) const;
};

// An entry of the photo's context menu (right button).
enum TMenuCommand { mcPerspective, mcFix, mcUndo, mcRedo, mcExportFullResolution };
struct TMenuEntry {
  TMenuCommand Command;
  std::string Caption;
  std::string Shortcut;  // as the menu shows it, empty for none
  bool Enabled = false;
};

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

  // ---- Beyond the window's first design: reached only through the right button, keys
  // and composer options; the left button does something new only while the corner
  // handles are shown. ----

  // The photo's context menu at this moment, in order; disabled entries are shown greyed.
  std::vector<TMenuEntry> ContextMenu();
  void RunMenuCommand(TMenuCommand command);

  // Perspective: the corner handles of the placed product. Corners are in window
  // coordinates, top-left, top-right, bottom-right, bottom-left (a rectangle's corners
  // lie on its edges: (left, top) to (right, bottom)).
  bool CanBeginPerspective();
  void BeginPerspective();
  void EndPerspective() {
    FCornerMode = false;
    FCornerIndex = -1;
  }
  bool InPerspectiveMode() const { return FCornerMode; }
  bool CornerDragging() const { return FCornerIndex >= 0; }
  TQuad ProductCornersInWindow() const;
  // Moves the corners as corner drags would: each corner is kept on the photo area; a
  // shape that is not convex is refused (false, nothing changes).
  bool SetProductCorners(const TQuad& windowCorners);
  // The handle under a window point, -1 for none.
  int CornerHandleAt(int x, int y) const;
  // Mouse events in window coordinates while the handles are shown. True when the event
  // belongs to the handle mode; otherwise the specified handlers run as always (a press
  // on the product drags the whole product).
  bool CornerMouseDown(TMouseButton button, int x, int y);
  bool CornerMouseMove(int x, int y);
  bool CornerMouseUp(TMouseButton button, int x, int y);
  static constexpr int kHandleSize = 9;  // the handles' side, in pixels

  // Fixes the placed product on the photo: it becomes part of the display, kept as a
  // product in photo pixels; the product control is free for the next placement.
  bool CanFixProduct();
  void FixProduct();

  // Undo and redo over every change of the mock-up.
  bool CanUndo() const { return !FUndo.empty(); }
  bool CanRedo() const { return !FRedo.empty(); }
  void Undo();
  void Redo();
  static constexpr size_t kUndoDepth = 100;

  // The export at the client photo's own size, through the same save dialog.
  bool CanExportFullResolution();
  void ExportFullResolution();
  // The mock-up at the client photo's own size (what ExportFullResolution writes); raises
  // EOutOfResources with a French message, before allocating, for a photo beyond the size
  // budget.
  std::unique_ptr<TBitmap> CombineFullResolution();

  // The scene of the mock-up as the window shows it (the placed product only when shown),
  // valid until the next change: what a view draws at its screen's resolution.
  TMockupScene Scene(bool withPlacedProduct = true);
  TMockupState CaptureState();
  void RestoreState(const TMockupState& state);
  // The placed product ready for perspective drawing (null when flat or absent).
  const TWarpSource* PlacedWarp();

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
  std::shared_ptr<TPicture> clientPhoto;  // shared with the undo history
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
  // The products fixed on the photo, the notices stamped on the display since its last
  // refit (drawn again, in order, at every redraw so that the list always says what the
  // photo shows), and the placed product's corners relative to ImgProduit's top-left when
  // it is in perspective (ImgProduit then covers their bounding box).
  std::vector<TMockupProduct> fixedProducts;
  std::vector<int> noticeStamps;
  bool productInPerspective = false;
  TQuad productCorners{};

 private:
  class TStep;
  friend class TStep;
  void Remember(TMockupState before);
  TMockupProduct PlacedInPhoto();
  TPointD WindowToPhoto(double x, double y);
  TPointD PhotoToWindow(double x, double y);
  void ApplyCornersInWindow(const TQuad& quad);
  void RedrawDisplay();
  void ReleasePlacedProduct();

  void BuildLayout();
  void SetInstruction(const char* text, TColor color);
  void ShowMessage(const std::string& text);
  bool ExecuteOpenDialog(const char* title);
  void RestoreDisplay();

  TWorkspaceHost* FHost = nullptr;
  bool FActivated = false;
  std::vector<TRect> FFrameDamage;
  TMockupProduct FPlaced;  // the placed product's picture, shared with the history
  TMockupProduct FScenePlaced;
  std::vector<TMockupState> FUndo;
  std::vector<TMockupState> FRedo;
  int FStepDepth = 0;
  std::unique_ptr<TMockupState> FPressBefore;  // a drag or corner drag in progress
  bool FCornerMode = false;
  int FCornerIndex = -1;
  double FCornerGrabX = 0;
  double FCornerGrabY = 0;
};

// Rendering of what the image controls show, for the window and for tests.
// The control's picture laid out as the control shows it (Center/Proportional/Stretch)
// over the background colour, at the control's size.
void RenderImageControl(TImage& image, TBitmap& target, TColor background);
// The product control's look: the photo control's rendering beneath the product's
// rectangle, with the product drawn stretched over it by its own class (transparency
// composes over the photo).
void RenderProductOverPhoto(TImage& product, TBitmap& photoRendering, TBitmap& target);
// The placed product's control as the window shows it: flat as above, or in perspective
// its picture mapped onto its corners over the photo's rendering.
void RenderPlacedProduct(TFrmModulePhoto& form, TBitmap& photoRendering, TBitmap& target);

// ---------------------------------------------------------------------------------------
// Headless use: `vitrelle-img composer`
// ---------------------------------------------------------------------------------------

// One product placed by the composer: the frame, then the drag, the arrow keys and the
// corners, and whether it is fixed on the photo before the next one.
struct TComposerPlacement {
  std::string ProductPath;
  int X1 = 0, Y1 = 0, X2 = 0, Y2 = 0;  // the frame, in window coordinates
  bool Drag = false;
  int DragX = 0, DragY = 0;
  struct TKey {
    uint16_t Key = vkLeft;
    TShiftState Shift = 0;
  };
  std::vector<TKey> Keys;  // arrow presses after the drag
  bool HasCorners = false;
  TQuad Corners{};  // window coordinates, as corner drags would set them
  bool Fix = false;
};

// The first placement's settings are the job's own; Next holds the products placed after
// each fixed one.
struct TComposerJob : TComposerPlacement {
  std::string PhotoPath;
  bool Proportional = true;
  std::vector<TComposerPlacement> Next;
  int Mention = 0;  // 0 none, 1 white, 2 black
  int ViewWidth = 728;
  int ViewHeight = 730;
  bool FullResolution = false;  // at the client photo's own size
  std::string OutputPath;
};

struct TComposerResult {
  int ExitCode = 0;     // 0 written, 1 refused (frame, photo, product)
  std::string Message;  // what the window would have shown
};

// Runs the window's handlers without a window: photo import, frame, optional drag, arrow
// keys, notice, export with the save-dialog row chosen by the output's extension.
TComposerResult RunComposerJob(const TComposerJob& job);
