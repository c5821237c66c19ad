// Creation, activation, resizing and the fit of the client photo into the photo control.
#include "testdata.h"
#include "workspace_support.h"

namespace {

struct FitCase {
  int W, H;
  int displayW, displayH, offX, offY;
};

class FitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(FitTest, DisplaySizeAndOffsets) {
  const FitCase c = GetParam();
  TTempDir dir;
  TWorkspace ws;
  ws.Activate();
  ws.ImportClient(WriteQuadrantBmp(dir, "photo.bmp", c.W, c.H));
  TBitmap* display = ws.Form.DisplayBitmap();
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(display->Width(), c.displayW);
  EXPECT_EQ(display->Height(), c.displayH);
  EXPECT_EQ(ws.Form.photoOffsetX, c.offX);
  EXPECT_EQ(ws.Form.photoOffsetY, c.offY);
  EXPECT_EQ(ws.Form.photoLeft, c.offX);
  EXPECT_EQ(ws.Form.photoTop, c.offY);
  EXPECT_EQ(ws.Form.photoRight, c.offX + c.displayW);
  EXPECT_EQ(ws.Form.photoBottom, c.offY + c.displayH);
  // The control shows the display bitmap unscaled exactly at the offsets.
  if (c.displayH > 0) {
    EXPECT_EQ(ws.Form.ImgPhotoMaison.DestRect(),
              Rect(c.offX, c.offY, c.offX + c.displayW, c.offY + c.displayH));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Photos, FitTest,
    ::testing::Values(FitCase{400, 300, 400, 300, 164, 215},  // fits: never enlarged
                      FitCase{2000, 1000, 728, 363, 0, 183},  // single-precision scale: 363
                      FitCase{1000, 2000, 365, 730, 181, 0},
                      FitCase{728, 730, 728, 730, 0, 0},  // exactly the control
                      FitCase{1600, 1200, 728, 546, 0, 92}, FitCase{1, 1, 1, 1, 363, 364},
                      FitCase{5000, 3, 728, 0, 0, 365}));  // too thin to show a row

TEST(FitTest, StretchesThePhotoIntoTheDisplay) {
  TTempDir dir;
  TWorkspace ws;
  ws.Activate();
  ws.ImportClient(WriteQuadrantBmp(dir, "photo.bmp", 1600, 1200));
  TBitmap& d = *ws.Form.DisplayBitmap();
  EXPECT_EQ(d.PixelColor(10, 10), clRed);
  EXPECT_EQ(d.PixelColor(717, 10), clLime);
  EXPECT_EQ(d.PixelColor(10, 535), clBlue);
  EXPECT_EQ(d.PixelColor(717, 535), clWhite);
}

TEST(FitTest, RealPhotographFromDisk) {
  VITRELLE_REQUIRE_TESTDATA();
  TWorkspace ws;
  ws.Activate();
  ws.ImportClient(vitrelle_test::TestDataPath("bmp/large-wuffs-harvesters-1165x859.bmp"));
  ASSERT_TRUE(ws.Host.Messages.empty()) << ws.Host.Messages[0];
  // 728 / 1165 as a single-precision scale, times 859, truncated.
  const float scale = 728.0f / 1165.0f;
  EXPECT_EQ(ws.Form.DisplayBitmap()->Width(), 728);
  EXPECT_EQ(ws.Form.DisplayBitmap()->Height(), int(859.0 * double(scale)));
}

TEST(WindowStateTest, CreatedState) {
  TFrmModulePhoto f;
  EXPECT_EQ(f.Caption, "Vitrelle du visuel (BETA)");
  EXPECT_TRUE(f.DoubleBuffered);
  EXPECT_TRUE(f.isProportional);
  EXPECT_EQ(f.lblInstruction.Caption, txtImport);
  EXPECT_FALSE(f.ImgPhotoMaison.Enabled);
  EXPECT_FALSE(f.ImgProduit.Visible);
  EXPECT_FALSE(f.btnEffProduit.Enabled);
  EXPECT_FALSE(f.btnEffClient.Enabled);
  EXPECT_FALSE(f.btnExportImage.Enabled);
  EXPECT_FALSE(f.btnPropor.Enabled);
  EXPECT_TRUE(f.btnPerso.Enabled);
  EXPECT_TRUE(f.cbMention.Enabled);
  EXPECT_EQ(f.cbMention.ItemIndex, 0);
  EXPECT_EQ(f.clientPhoto, nullptr);  // made at the first activation
  EXPECT_EQ(f.svgImageSave.DefaultExt, "bmp");
  ASSERT_EQ(f.svgImageSave.Filter.size(), 5u);
  EXPECT_EQ(f.svgImageSave.Filter[4].Description, "Tout les Fichiers");
  ASSERT_EQ(f.PictDialogMaison.Filter.size(), 17u);
  EXPECT_EQ(f.PictDialogMaison.Filter[13].Description, "Icônes (*.ico)");
  EXPECT_EQ(f.PictDialogMaison.FilterIndex, 1);
}

TEST(WindowStateTest, ActivationLoadsThePreviewOnlyWithAPath) {
  TTempDir dir;
  TWorkspace empty;
  empty.Activate("");
  ASSERT_NE(empty.Form.clientPhoto, nullptr);
  EXPECT_FALSE(empty.Form.ImgProduitApercu.HasPicture());

  TWorkspace ws;
  ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", 30, 60));
  EXPECT_EQ(ws.Form.ImgProduitApercu.Picture.Width(), 30);

  TWorkspace missing;
  EXPECT_THROW(missing.Activate(dir.File("absent.bmp")), EFOpenError);
  EXPECT_FALSE(missing.Form.ImgProduitApercu.HasPicture());
}

TEST(WindowStateTest, ReactivationKeepsTheLoadedPhoto) {
  TTempDir dir;
  TWorkspace ws;
  ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", 20, 20));
  ws.ImportClient(WriteQuadrantBmp(dir, "photo.bmp", 400, 300));
  ws.Form.FormActivate();  // e.g. after a message box closed
  EXPECT_EQ(ws.Form.photoRight, 564);
  ws.Frame(200, 250, 300, 350);
  EXPECT_TRUE(ws.Form.ImgProduit.Visible);
}

TEST(WindowStateTest, ResizeRemovesTheProductAndRefits) {
  TTempDir dir;
  TWorkspace ws;
  ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", 20, 20));
  ws.ImportClient(WriteQuadrantBmp(dir, "photo.bmp", 1600, 1200));
  ws.Frame(100, 200, 200, 300);
  ws.Form.SelectMention(1);
  ASSERT_TRUE(ws.Form.btnExportImage.Enabled);

  ws.Form.SetClientSize(1280 + 280, 900);
  EXPECT_EQ(ws.Form.ImgPhotoMaison.Width, 1280);
  EXPECT_EQ(ws.Form.scBxInfos.Left, 1280);
  EXPECT_FALSE(ws.Form.btnExportImage.Enabled);
  EXPECT_FALSE(ws.Form.cbMention.Enabled);
  EXPECT_EQ(ws.Form.cbMention.ItemIndex, 0);
  EXPECT_EQ(ws.Form.ImgProduit.Width, 0);
  EXPECT_FALSE(ws.Form.ImgProduit.HasPicture());
  // 1600 x 1200 in 1280 x 900: taller relatively, 900 high.
  EXPECT_EQ(ws.Form.DisplayBitmap()->Height(), 900);
  EXPECT_EQ(ws.Form.DisplayBitmap()->Width(), 1200);
  // The notice went with the refit: the bottom-left stays the photo's blue.
  TBitmap& d = *ws.Form.DisplayBitmap();
  for (int x = 0; x < 300; ++x)
    for (int y = d.Height() - 40; y < d.Height(); ++y) ASSERT_EQ(d.PixelColor(x, y), clBlue);
}

}  // namespace
