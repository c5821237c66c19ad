// The window's layout, its creation and activation, resizing, fitting the client photo
// and removing the placed product.
#include <algorithm>

#include "workspace_history.h"

namespace {

void Place(TControl& c, int left, int top, int width, int height) {
  c.Left = left;
  c.Top = top;
  c.Width = width;
  c.Height = height;
}

std::vector<TFileFilter> OpenPictureFilters() {
  const char* all =
      "*.png;*.gif;*.cur;*.pcx;*.ani;*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;*.ico;*.emf;"
      "*.wmf";
  return {
      {std::string("Tous (") + all + ")", all},
      {"Portable network graphics (AlphaControls) (*.png)", "*.png"},
      {"CompuServe GIF Image (*.gif)", "*.gif"},
      {"Cursor files (*.cur)", "*.cur"},
      {"PCX Image (*.pcx)", "*.pcx"},
      {"ANI Image (*.ani)", "*.ani"},
      {"Image GIF (*.gif)", "*.gif"},
      {"Portable Network Graphics (*.png)", "*.png"},
      {"Fichier image JPEG (*.jpg)", "*.jpg"},
      {"Fichier image JPEG (*.jpeg)", "*.jpeg"},
      {"Bitmaps (*.bmp)", "*.bmp"},
      {"Images TIFF (*.tif)", "*.tif"},
      {"Images TIFF (*.tiff)", "*.tiff"},
      {"Icônes (*.ico)", "*.ico"},
      {"Métafichiers évolués (*.emf)", "*.emf"},
      {"Métafichiers (*.wmf)", "*.wmf"},
      {"Image(*.bmp;*.jpg;*.jpeg;*.png)", "*.bmp;*.jpg;*.jpeg;*.png"},
  };
}

std::vector<TFileFilter> SavePictureFilters() {
  return {
      {"Portable Network Graphics (*.png)", "*.png"},
      {"Fichier image JPEG (*.jpg)", "*.jpg"},
      {"Fichier image JPEG (*.jpeg)", "*.jpeg"},
      {"Bitmaps (*.bmp)", "*.bmp"},
      {"Tout les Fichiers", "*"},
  };
}

TButton MakeButton(int left, int top, int width, int height, const char* caption, int image,
                   int imageMargin) {
  TButton b;
  Place(b, left, top, width, height);
  b.Caption = caption;
  b.ImageIndex = image;
  b.ImageMarginLeft = imageMargin;
  return b;
}

TLabel MakeLabel(int left, int top, const char* caption) {
  TLabel l;
  l.Left = left;
  l.Top = top;
  l.Caption = caption;
  return l;
}

}  // namespace

TFrmModulePhoto::TFrmModulePhoto(TWorkspaceHost* host) : FHost(host) {
  BuildLayout();
  for (TImage* image : {&ImgPhotoMaison, &ImgProduit, &ImgProduitApercu})
    image->Picture.OnChange = [image](TPicture&) { ++image->Revision; };
  frameStartX = frameStartY = frameCurX = frameCurY = 0;
  productPath.clear();
  isDrawing = false;
  drawStarted = false;
  ImgPhotoMaison.Enabled = false;
  FormCreate();
}

TFrmModulePhoto::~TFrmModulePhoto() = default;

void TFrmModulePhoto::BuildLayout() {
  Place(ImgPhotoMaison, 0, 0, 728, 730);
  ImgPhotoMaison.Center = true;
  ImgPhotoMaison.Proportional = true;

  Place(ImgProduit, 22, 30, 113, 249);
  ImgProduit.Stretch = true;
  ImgProduit.Visible = false;

  Place(scBxInfos, 728, 0, 280, 730);

  Place(panApercu, 16, 12, 251, 246);
  panApercu.Bordered = true;
  panApercu.Color = clWhite;
  Place(ImgProduitApercu, 8, 16, 225, 214);
  ImgProduitApercu.Center = true;
  ImgProduitApercu.Proportional = true;

  Place(pnlGestionImg, 16, 264, 249, 137);
  btnProduitPhoto = MakeButton(8, 16, 186, 49, "Photo produit", 0, 10);
  btnEffProduit = MakeButton(200, 16, 41, 49, "", 2, 0);
  btnEffProduit.Hint = "Effacer photo produit";
  btnEffProduit.Enabled = false;
  BtnClientPhoto = MakeButton(8, 71, 186, 49, "Photo client", 0, 10);
  btnEffClient = MakeButton(200, 71, 42, 49, "", 2, 0);
  btnEffClient.Hint = "Effacer photo client";
  btnEffClient.Enabled = false;

  Place(pnlLargeur, 16, 407, 249, 139);
  lblOptions = MakeLabel(72, 10, "Options de l'image");
  btnPropor = MakeButton(8, 29, 114, 49, "Proportionnel", -1, 0);
  btnPropor.Enabled = false;
  btnPerso = MakeButton(128, 29, 114, 49, "Personnalisé", -1, 0);
  lblMention = MakeLabel(10, 87, "Mention photo non contractuelle");
  Place(cbMention, 10, 106, 231, 21);
  cbMention.Items = {"Aucune", "Blanche", "Noire"};
  cbMention.ItemIndex = 0;

  Place(panInfos, 16, 552, 249, 171);
  btnExportImage = MakeButton(8, 12, 233, 49, "Exporter l'image", 1, 10);
  btnExportImage.Enabled = false;
  Place(lblInstruction, 8, 67, 233, 73);
  lblInstruction.Caption = "Texte d'information";
  lblInstruction.Centered = true;
  lblInstruction.WordWrap = true;
  lblInstruction.Bold = true;
  lblInstruction.FontHeight = 13;

  PictDialogMaison.Filter = OpenPictureFilters();
  PictDialogMaison.Options = ofHideReadOnly | ofEnableSizing | ofForceShowHidden;
  svgImageSave.Filter = SavePictureFilters();
  svgImageSave.DefaultExt = "bmp";
  svgImageSave.Options = ofOverwritePrompt | ofHideReadOnly | ofEnableSizing;
}

void TFrmModulePhoto::FormCreate() {
  DoubleBuffered = true;
  isProportional = true;
  lblInstruction.Caption = txtImport;  // the colour stays as designed
}

void TFrmModulePhoto::FormActivate() {
  if (FActivated) return;
  FActivated = true;
  productLeft = productTop = productWidth = productHeight = productRight = productBottom = 0;
  photoLeft = photoRight = photoTop = photoBottom = 0;
  clientPhoto = std::make_shared<TPicture>();
  if (productPath != "") LoadProductPreview();
}

void TFrmModulePhoto::FormResize() {
  const TStep step(*this);
  ClearProduct();
  if (ImgPhotoMaison.HasPicture()) FitClientPhoto();
}

void TFrmModulePhoto::SetClientSize(int width, int height) {
  if (width == ClientWidth && height == ClientHeight) return;
  ClientWidth = width;
  ClientHeight = height;
  // The side panel keeps its width on the right; the photo takes the rest.
  scBxInfos.Left = std::max(0, width - scBxInfos.Width);
  scBxInfos.Height = height;
  ImgPhotoMaison.Width = std::max(0, width - scBxInfos.Width);
  ImgPhotoMaison.Height = std::max(0, height);
  FormResize();
}

std::string TFileDialog::DefaultExtFor(int filterIndex) const {
  if (filterIndex < 1 || size_t(filterIndex) > Filter.size()) return DefaultExt;
  const std::string& pattern = Filter[size_t(filterIndex) - 1].Pattern;
  if (pattern.rfind("*.", 0) != 0 || pattern.find_first_of(";*?", 2) != std::string::npos)
    return DefaultExt;
  return pattern.substr(2);
}

void TFrmModulePhoto::SetProductPath(const std::string& path) {
  productPath = path;
}

TBitmap* TFrmModulePhoto::DisplayBitmap() {
  if (!ImgPhotoMaison.HasPicture()) return nullptr;
  return &ImgPhotoMaison.Picture.Bitmap();
}

void TFrmModulePhoto::FitClientPhoto() {
  // Nothing to fit before a photo was loaded (the holder exists but is empty).
  if (!clientPhoto || !clientPhoto->Graphic() || clientPhoto->Graphic()->Empty()) return;
  TGraphic& photo = *clientPhoto->Graphic();
  const int W = photo.Width();
  const int H = photo.Height();
  const int CW = ImgPhotoMaison.Width;
  const int CH = ImgPhotoMaison.Height;

  // The ratios and the scale are single-precision values; the products with them are
  // taken at higher precision before truncating, so that 2000 x 1000 in 728 x 730 gives
  // 728 x 363 exactly as the single-precision scale 0.36399999 implies.
  const float photoRatio = float(H) / float(W);
  const float controlRatio = float(CH) / float(CW);
  int displayW = 0;
  int displayH = 0;
  if (H <= CH && W <= CW) {
    displayW = W;
    displayH = H;
    photoOffsetX = int((CW - W) * 0.5);
    photoOffsetY = int((CH - H) * 0.5);
  } else if (photoRatio > controlRatio) {
    const float scale = float(CH) / float(H);
    displayH = CH;
    displayW = int(double(W) * double(scale));
    photoOffsetY = 0;
    photoOffsetX = int((CW - displayW) * 0.5);
  } else {
    const float scale = float(CW) / float(W);
    displayW = CW;
    displayH = int(double(H) * double(scale));
    photoOffsetX = 0;
    photoOffsetY = int((CH - displayH) * 0.5);
  }

  TBitmap& display = ImgPhotoMaison.Picture.Bitmap();
  display.SetWidth(displayW);
  display.SetHeight(displayH);
  // White first (resizing keeps the old pixels, and a photo with transparency would show
  // the previous photo, its notice or a left-over frame through it), the photo stretched,
  // then the products fixed on it and the notice chosen in the list.
  TMockupScene scene = Scene(false);
  RenderMockup(scene, display, displayW, displayH);
  FFrameDamage.clear();  // the whole display is new

  photoLeft = photoOffsetX;
  photoRight = display.Width() + photoOffsetX;
  photoTop = photoOffsetY;
  photoBottom = display.Height() + photoOffsetY;
}

void TFrmModulePhoto::ClearProduct() {
  const TStep step(*this);
  ImgProduit.Picture.SetGraphic(nullptr);
  ImgProduit.Height = 0;
  ImgProduit.Width = 0;
  ReleasePlacedProduct();
  btnEffProduit.Enabled = false;
  btnExportImage.Enabled = false;
  cbMention.Enabled = false;
  cbMention.ItemIndex = 0;
  productLeft = productTop = productWidth = productHeight = 0;
  // The list now says "Aucune": the photo must not keep a notice that the list no longer
  // shows (its handler is not run, but the notice goes as choosing "Aucune" removes it).
  if (!noticeStamps.empty()) {
    noticeStamps.clear();
    RedrawDisplay();
  }
  // Products fixed on the photo are still there to export and to stamp.
  if (!fixedProducts.empty()) {
    btnExportImage.Enabled = true;
    cbMention.Enabled = true;
  }
}

void TFrmModulePhoto::SetInstruction(const char* text, TColor color) {
  lblInstruction.Caption = text;
  lblInstruction.FontColor = color;
}

void TFrmModulePhoto::ShowMessage(const std::string& text) {
  if (FHost) FHost->ShowMessage(text);
}
