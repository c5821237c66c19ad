// The mock-up beyond the window's buttons: undo and redo, products fixed on the photo,
// perspective corners and the export at the client photo's own size.
#include <cmath>
#include <cstring>
#include <functional>

#include "codecs.h"
#include "workspace_support.h"

namespace {

bool SamePixels(TBitmap& a, TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (int y = 0; y < a.Height(); ++y)
    if (std::memcmp(a.GetScanline(y), b.GetScanline(y), size_t(3 * a.Width())) != 0) return false;
  return true;
}

std::unique_ptr<TBitmap> Copy(TBitmap* source) {
  auto copy = std::make_unique<TBitmap>();
  if (source) copy->Assign(*source);
  return copy;
}

std::string SolidBmp(const TTempDir& dir, const std::string& name, int w, int h, TColor c) {
  return WriteQuadrantBmp(dir, name, w, h, c, c, c, c);
}

std::unique_ptr<TBitmap> LoadBitmap(const std::string& path) {
  TPicture picture;
  picture.LoadFromFile(path);
  auto bmp = std::make_unique<TBitmap>();
  bmp->Assign(*picture.Graphic());
  bmp->SetPixelFormat(pf24bit);
  return bmp;
}

// 1600 x 1200 photo shown at 728 x 546 (offset 0, 92), a 40 x 40 product, custom mode.
class MockupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", 40, 40));
    ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 1600, 1200, clRed, clLime, clBlue,
                                     RGBColor(200, 200, 200)));
    ws.Form.btnPersoClick();
  }
  bool Key(uint16_t key, TShiftState shift) { return ws.Form.FormKeyDown(key, shift); }
  TTempDir dir;
  TWorkspace ws;
};

// Every kind of step, undone by Ctrl+Z, gives back the display and the composed mock-up
// byte for byte; Ctrl+Y (or Ctrl+Shift+Z) does it again.
TEST_F(MockupTest, UndoRestoresEveryStepByteForByte) {
  TFrmModulePhoto& f = ws.Form;
  const std::string house2 = WriteQuadrantBmp(dir, "maison2.bmp", 500, 400);
  const std::vector<std::pair<const char*, std::function<void()>>> steps = {
      {"placement", [&] { ws.Frame(100, 200, 200, 300); }},
      {"move",
       [&] {
         ws.Drag(10, 10, {{30, 5}, {20, 40}});
       }},
      {"nudge", [&] { Key(vkRight, ssShift); }},
      {"corners",
       [&] {
         ASSERT_TRUE(f.SetProductCorners({{{150, 230}, {260, 250}, {250, 350}, {140, 330}}}));
       }},
      {"white notice", [&] { f.SelectMention(1); }},
      {"black notice", [&] { f.SelectMention(2); }},
      {"fix", [&] { f.FixProduct(); }},
      {"no notice", [&] { f.SelectMention(0); }},
      {"second placement", [&] { ws.Frame(400, 300, 460, 380); }},
      {"cleared product", [&] { f.btnEffProduitClick(); }},
      {"third placement", [&] { ws.Frame(300, 300, 360, 380); }},
      {"mode change", [&] { f.btnProporClick(); }},
      {"new client photo", [&] { ws.ImportClient(house2); }},
      {"cleared client photo", [&] { f.btnEffClientClick(); }},
  };
  for (size_t i = 0; i < steps.size(); ++i) {
    const auto& [name, step] = steps[i];
    const auto displayBefore = Copy(f.DisplayBitmap());
    const auto combinedBefore = f.CombineImage();
    step();
    const auto displayAfter = Copy(f.DisplayBitmap());
    const auto combinedAfter = f.CombineImage();
    ASSERT_TRUE(f.CanUndo()) << name;
    ASSERT_TRUE(Key(vkZ, ssCtrl)) << name;
    EXPECT_TRUE(SamePixels(*Copy(f.DisplayBitmap()), *displayBefore)) << name;
    EXPECT_TRUE(SamePixels(*f.CombineImage(), *combinedBefore)) << name;
    ASSERT_TRUE(i % 2 ? Key(vkY, ssCtrl) : Key(vkZ, ssCtrl | ssShift)) << name;
    EXPECT_TRUE(SamePixels(*Copy(f.DisplayBitmap()), *displayAfter)) << name;
    EXPECT_TRUE(SamePixels(*f.CombineImage(), *combinedAfter)) << name;
  }
  EXPECT_FALSE(f.CanRedo());
}

// A resize clears the product (as the window always did); undo puts it back at its place
// on the photo, scaled with it. The history holds at least 50 steps.
TEST_F(MockupTest, UndoAfterResizeAndFiftySteps) {
  TFrmModulePhoto& f = ws.Form;
  ws.Frame(100, 200, 200, 300);     // display (100, 108)-(200, 208)
  f.SetClientSize(280 + 364, 730);  // photo control 364 x 730: display 364 x 273 at (0, 228)
  ASSERT_FALSE(f.ImgProduit.HasPicture());
  Key(vkZ, ssCtrl);
  ASSERT_TRUE(f.ImgProduit.HasPicture());
  EXPECT_EQ(f.ImgProduit.Left, 50);
  EXPECT_EQ(f.ImgProduit.Top, 228 + 54);
  EXPECT_EQ(f.ImgProduit.Width, 50);
  EXPECT_EQ(f.ImgProduit.Height, 50);

  const int left = f.ImgProduit.Left;
  for (int i = 0; i < 60; ++i) Key(vkRight, 0);
  EXPECT_EQ(f.ImgProduit.Left, left + 60);
  for (int i = 0; i < 60; ++i) Key(vkZ, ssCtrl);
  EXPECT_EQ(f.ImgProduit.Left, left);
}

// The corner handles: a handle follows the mouse unless the shape would fold, a press on
// the product drags the whole shape (snapped back by its bounding box), Escape or a press
// beside the product ends the mode and gives the left button back to the frame.
TEST_F(MockupTest, CornerHandles) {
  TFrmModulePhoto& f = ws.Form;
  ws.Frame(100, 200, 200, 300);
  EXPECT_FALSE(f.CornerMouseDown(mbLeft, 100, 200));  // no handles yet
  f.BeginPerspective();
  ASSERT_TRUE(f.InPerspectiveMode());
  auto corner = [&](int i) { return f.ProductCornersInWindow()[size_t(i)]; };
  // Top-left corner dragged from (100, 200) by (20, 10).
  ASSERT_TRUE(f.CornerMouseDown(mbLeft, 101, 199));
  f.CornerMouseMove(121, 209);
  EXPECT_EQ(corner(0).X, 120);
  EXPECT_EQ(corner(0).Y, 210);
  f.CornerMouseMove(191, 289);  // past the opposite corner: a folded shape, refused
  EXPECT_EQ(corner(0).X, 120);
  f.CornerMouseUp(mbLeft, 191, 289);
  EXPECT_TRUE(f.productInPerspective);
  EXPECT_EQ(f.ImgProduit.Left, 100);  // the bounding box: bottom-left still at x = 100
  EXPECT_EQ(f.ImgProduit.Top, 200);   // top-right still at y = 200

  // A press inside the product is the usual drag: the whole shape moves, and released past
  // the left edge of the photo its bounding box is put back on it.
  EXPECT_FALSE(f.CornerMouseDown(mbLeft, 150, 250));
  ws.Drag(50, 50, {{-60, 0}, {-60, 0}, {0, 0}});
  EXPECT_EQ(f.ImgProduit.Left, 0);
  EXPECT_EQ(corner(0).X, 20);
  EXPECT_EQ(corner(3).X, 0);

  EXPECT_TRUE(ws.Form.FormKeyDown(vkEscape, 0));
  EXPECT_FALSE(f.InPerspectiveMode());
  f.BeginPerspective();
  EXPECT_TRUE(f.CornerMouseDown(mbLeft, 500, 500));  // beside the product: only ends the mode
  EXPECT_FALSE(f.InPerspectiveMode());
  EXPECT_FALSE(f.isDrawing);
  EXPECT_EQ(corner(0).X, 20);  // the shape stays
}

// Two fixed products (one in perspective) and a third placed one are in the export at
// display size and in the one at the photo's own size, where each lies at its place
// scaled by photo width / display width.
TEST_F(MockupTest, FixedAndPlacedProductsAppearInBothExports) {
  TCodecRegistration codecs;
  TFrmModulePhoto& f = ws.Form;
  struct Product {
    TColor color;
    int x1, y1, x2, y2;  // window frame
    bool perspective;
  };
  const Product products[] = {{RGBColor(250, 0, 250), 100, 150, 180, 250, false},
                              {RGBColor(0, 250, 250), 300, 150, 400, 260, true},
                              {RGBColor(250, 250, 0), 500, 400, 600, 500, false}};
  for (size_t i = 0; i < std::size(products); ++i) {
    const Product& p = products[i];
    ws.Host.NextOpen = SolidBmp(dir, "p" + std::to_string(i) + ".bmp", 30, 30, p.color);
    f.btnProduitPhotoClick();
    ws.Frame(p.x1, p.y1, p.x2, p.y2);
    if (p.perspective) {
      ASSERT_TRUE(f.SetProductCorners({{{double(p.x1 + 10), double(p.y1)},
                                        {double(p.x2), double(p.y1 + 10)},
                                        {double(p.x2 - 5), double(p.y2)},
                                        {double(p.x1), double(p.y2 - 10)}}}));
    }
    if (i + 1 < std::size(products)) f.FixProduct();
  }
  ASSERT_EQ(f.fixedProducts.size(), 2u);
  ws.Host.NextSave = dir.File("ecran.png");
  ws.Host.NextSaveFilter = 1;
  f.btnExportImageClick();
  ws.Host.NextSave = dir.File("pleine.png");
  f.ExportFullResolution();
  const auto screen = LoadBitmap(dir.File("ecran.png"));
  const auto full = LoadBitmap(dir.File("pleine.png"));
  ASSERT_EQ(screen->Width(), 728);
  ASSERT_EQ(full->Width(), 1600);
  ASSERT_EQ(full->Height(), 1200);
  for (const Product& p : products) {
    const int cx = (p.x1 + p.x2) / 2;
    const int cy = (p.y1 + p.y2) / 2 - 92;
    EXPECT_EQ(screen->PixelColor(cx, cy), p.color) << cx << "," << cy;
    EXPECT_EQ(full->PixelColor(cx * 1600 / 728, cy * 1200 / 546), p.color) << cx << "," << cy;
  }
}

// Beyond the size budget the export at full size is refused, with a French message, before
// any pixel is allocated.
TEST_F(MockupTest, FullResolutionBeyondTheBudgetIsRefused) {
  ws.Frame(100, 200, 200, 300);
  const uint64_t budget = GetImageBudget();
  SetImageBudget(1600 * 1200 * 3 - 1);
  ws.Host.NextSave = dir.File("trop.bmp");
  try {
    ws.Form.ExportFullResolution();
    ADD_FAILURE() << "no refusal";
  } catch (const EOutOfResources& e) {
    EXPECT_NE(e.Message().find("trop grande pour l'export en pleine résolution"), std::string::npos)
        << e.Message();
  }
  SetImageBudget(budget);
  EXPECT_FALSE(std::filesystem::exists(dir.File("trop.bmp")));
}

// On a real photo, the export at full size scaled down to the display (each display pixel
// taking the full-size pixel the display's own scaling takes) matches the display export,
// fixed and placed products, flat and in perspective, and the notice included.
TEST(MockupPhotoTest, FullResolutionScaledDownMatchesTheDisplayExport) {
  TCodecRegistration codecs;
  if (!TPicture::FindFileFormat(".jpg")) GTEST_SKIP() << "no JPEG codec";
  const std::string assets = std::string(VITRELLE_SOURCE_DIR) + "/assets/";
  TWorkspace ws;
  ws.Activate(assets + "produit-exemple.png");
  ws.ImportClient(assets + "maison-exemple.jpg");
  TFrmModulePhoto& f = ws.Form;
  f.btnPersoClick();
  ws.Frame(158, 341, 268, 472);
  f.FixProduct();
  ws.Frame(420, 330, 520, 470);
  ASSERT_TRUE(f.SetProductCorners({{{425, 335}, {515, 345}, {512, 460}, {422, 468}}}));
  f.SelectMention(1);
  const auto display = f.CombineImage();
  const auto full = f.CombineFullResolution();
  ASSERT_EQ(full->Width(), 1200);
  TBitmap down;
  down.SetSize(display->Width(), display->Height());
  StretchBlt(down.View(), Rect(0, 0, down.Width(), down.Height()), full->View(),
             Rect(0, 0, full->Width(), full->Height()));
  double squares = 0;
  for (int y = 0; y < down.Height(); ++y) {
    const uint8_t* a = down.GetScanline(y);
    const uint8_t* b = display->GetScanline(y);
    for (int i = 0; i < 3 * down.Width(); ++i) squares += (a[i] - b[i]) * (a[i] - b[i]);
  }
  const double mse = squares / (3.0 * down.Width() * down.Height());
  const double psnr = mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
  std::printf("PSNR of the full-resolution export scaled to %d x %d: %.2f dB\n", down.Width(),
              down.Height(), psnr);
  EXPECT_GE(psnr, 30.0);

  // The export draws over the JPEG's own decoded pixels: the file holds the same mock-up,
  // and the photo itself is untouched afterwards (a refit shows it as before).
  const auto displayBefore = Copy(f.DisplayBitmap());
  TTempDir dir;
  ws.Host.NextSave = dir.File("pleine.bmp");
  ws.Host.NextSaveFilter = 4;
  f.ExportFullResolution();
  TBitmap written;
  written.LoadFromFile(dir.File("pleine.bmp"));
  EXPECT_TRUE(SamePixels(written, *full));
  f.FitClientPhoto();
  EXPECT_TRUE(SamePixels(*f.DisplayBitmap(), *displayBefore));
}

}  // namespace
