// Every French text of the window, exactly as the user must read it: the instruction and
// error texts, the window's captions, hints, list entries and dialog titles and filters.
// The expected strings are typed out here, not taken from the code.
#include <fstream>

#include "workspace_support.h"

namespace {

struct TText {
  const char* Where;
  std::string Actual;
  const char* Expected;
};

std::vector<TText> WindowTexts() {
  TFrmModulePhoto f;
  std::vector<TText> texts = {
      {"txtImport", txtImport, "Veuillez importer votre image."},
      {"txtPlace", txtPlace,
       "Veuillez placer votre produit. Pour cela, commencez en cliquant sur votre image."},
      {"txtSize", txtSize, "Merci de déplacer votre curseur pour définir la taille de l'image."},
      {"txtTooSmall", txtTooSmall, "Erreur : Merci de sélectionner une taille plus grande"},
      {"txtOpenFailed", txtOpenFailed,
       "Erreur: L'image n'a pas pu être ouverte, il y a peut-être un problème d'encodage"},
      {"txtBadFormat", txtBadFormat,
       "Erreur: Merci de choisir un format d'image supporté par le logiciel(jpeg, gif, png, "
       "bmp)."},
      {"txtOutside", txtOutside, "Erreur: Merci de dessiner le produit dans votre image."},
      {"open error prefix", txtOpenErrorPrefix, "Erreur : "},
      {"notice", txtNotice, "Photo non contractuelle"},
      {"application title", txtApplicationTitle, "Vitrelle"},
      {"Caption", f.Caption, "Vitrelle du visuel (BETA)"},
      {"FontName", f.FontName, "MS Sans Serif"},
      {"btnProduitPhoto", f.btnProduitPhoto.Caption, "Photo produit"},
      {"btnEffProduit.Hint", f.btnEffProduit.Hint, "Effacer photo produit"},
      {"btnEffProduit", f.btnEffProduit.Caption, ""},
      {"BtnClientPhoto", f.BtnClientPhoto.Caption, "Photo client"},
      {"btnEffClient.Hint", f.btnEffClient.Hint, "Effacer photo client"},
      {"btnEffClient", f.btnEffClient.Caption, ""},
      {"lblOptions", f.lblOptions.Caption, "Options de l'image"},
      {"btnPropor", f.btnPropor.Caption, "Proportionnel"},
      {"btnPerso", f.btnPerso.Caption, "Personnalisé"},
      {"lblMention", f.lblMention.Caption, "Mention photo non contractuelle"},
      {"btnExportImage", f.btnExportImage.Caption, "Exporter l'image"},
      {"lblInstruction at creation", f.lblInstruction.Caption, "Veuillez importer votre image."},
      {"svgImageSave.DefaultExt", f.svgImageSave.DefaultExt, "bmp"},
  };
  const char* items[] = {"Aucune", "Blanche", "Noire"};
  for (size_t i = 0; i < 3; ++i)
    texts.push_back(
        {"cbMention item", i < f.cbMention.Items.size() ? f.cbMention.Items[i] : "", items[i]});

  const char* const openFilters[][2] = {
      {"Tous (*.png;*.gif;*.cur;*.pcx;*.ani;*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;*.ico;"
       "*.emf;*.wmf)",
       "*.png;*.gif;*.cur;*.pcx;*.ani;*.gif;*.png;*.jpg;*.jpeg;*.bmp;*.tif;*.tiff;*.ico;*.emf;"
       "*.wmf"},
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
  const char* const saveFilters[][2] = {
      {"Portable Network Graphics (*.png)", "*.png"},
      {"Fichier image JPEG (*.jpg)", "*.jpg"},
      {"Fichier image JPEG (*.jpeg)", "*.jpeg"},
      {"Bitmaps (*.bmp)", "*.bmp"},
      {"Tout les Fichiers", "*"},
  };
  auto addFilters = [&]<size_t N>(const char* dialog, const std::vector<TFileFilter>& actual,
                                  const char* const(&expected)[N][2], const char* count) {
    texts.push_back({dialog, std::to_string(actual.size()), count});
    for (size_t i = 0; i < N; ++i) {
      const bool has = i < actual.size();
      texts.push_back({dialog, has ? actual[i].Description : "", expected[i][0]});
      texts.push_back({dialog, has ? actual[i].Pattern : "", expected[i][1]});
    }
  };
  addFilters("PictDialogMaison filter", f.PictDialogMaison.Filter, openFilters, "17");
  addFilters("svgImageSave filter", f.svgImageSave.Filter, saveFilters, "5");
  return texts;
}

TEST(MessageTable, EveryTextExactly) {
  for (const TText& t : WindowTexts()) EXPECT_EQ(t.Actual, t.Expected) << t.Where;
}

// The texts where the user meets them: the dialog titles, the labels and message boxes of
// each situation, with the label's colour.
TEST(MessageTable, EachSituationShowsItsText) {
  TTempDir dir;
  TWorkspace ws;
  ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", 20, 40));
  ws.Host.NextOpen = dir.File("maison.tif");
  ws.Form.BtnClientPhotoClick();
  ws.Host.NextOpen = dir.File("absent.bmp");
  ws.Form.BtnClientPhotoClick();
  const std::string broken = dir.File("casse.bmp");
  { std::ofstream(broken) << "pas une image"; }
  ws.Host.NextOpen = broken;
  ws.Form.BtnClientPhotoClick();
  ASSERT_EQ(ws.Host.Messages.size(), 3u);
  EXPECT_EQ(ws.Host.Messages[0],
            "Erreur: Merci de choisir un format d'image supporté par le logiciel(jpeg, gif, png, "
            "bmp).");
  EXPECT_EQ(ws.Host.Messages[1].rfind("Erreur : ", 0), 0u) << ws.Host.Messages[1];
  EXPECT_GT(ws.Host.Messages[1].size(), std::string("Erreur : ").size());
  EXPECT_EQ(ws.Host.Messages[2],
            "Erreur: L'image n'a pas pu être ouverte, il y a peut-être un problème d'encodage");
  ASSERT_EQ(ws.Host.OpenTitles.size(), 3u);
  EXPECT_EQ(ws.Host.OpenTitles[0], "Choisissez la photo du client");

  ws.Host.NextOpen.clear();
  ws.Form.btnProduitPhotoClick();  // cancelled
  EXPECT_EQ(ws.Host.OpenTitles.back(), "Choisissez la photo du produit");

  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  const TLabel& label = ws.Form.lblInstruction;
  EXPECT_EQ(label.Caption,
            "Veuillez placer votre produit. Pour cela, commencez en cliquant sur votre image.");
  EXPECT_EQ(label.FontColor, TColor(0));
  ws.Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 170, 220);
  EXPECT_EQ(label.Caption, "Merci de déplacer votre curseur pour définir la taille de l'image.");
  ws.Form.ImgPhotoMaisonMouseMove(ssLeft, 100, 100);
  ws.Form.ImgPhotoMaisonMouseUp(mbLeft, 0, 100, 100);
  EXPECT_EQ(label.Caption, "Erreur: Merci de dessiner le produit dans votre image.");
  EXPECT_EQ(label.FontColor, TColor(255));
  ws.Form.btnEffClientClick();
  EXPECT_EQ(label.Caption, "Veuillez importer votre image.");
  EXPECT_EQ(label.FontColor, TColor(0));
}

}  // namespace
