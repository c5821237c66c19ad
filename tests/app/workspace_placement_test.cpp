// The rubber band, placing the product in both modes, moving it and snapping it back.
#include <algorithm>

#include "workspace_support.h"

namespace {

// A 400 x 300 photo: photo area 164..564 x 215..515.
class PlacementTest : public ::testing::Test {
 protected:
  void Start(int productW, int productH) {
    ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", productW, productH));
    ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  }
  TImage& Product() { return ws.Form.ImgProduit; }
  TRect ProductRect() {
    return Rect(Product().Left, Product().Top, Product().Left + Product().Width,
                Product().Top + Product().Height);
  }
  TTempDir dir;
  TWorkspace ws;
};

TEST_F(PlacementTest, CustomFrameInEitherDirection) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(200, 250, 300, 350);
  EXPECT_EQ(ProductRect(), Rect(200, 250, 300, 350));
  EXPECT_TRUE(Product().Visible);
  EXPECT_TRUE(ws.Form.btnEffProduit.Enabled);
  EXPECT_TRUE(ws.Form.btnExportImage.Enabled);
  EXPECT_TRUE(ws.Form.cbMention.Enabled);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtPlace);
  ws.Form.btnEffProduitClick();
  ws.Frame(300, 350, 200, 250);
  EXPECT_EQ(ProductRect(), Rect(200, 250, 300, 350));
}

TEST_F(PlacementTest, ProportionalWidths) {
  Start(200, 400);
  ws.Frame(200, 250, 260, 350);
  EXPECT_EQ(ProductRect(), Rect(200, 250, 250, 350));
  EXPECT_EQ(ws.Form.productWidth, 60);  // the drawn width stays in the field
}

TEST_F(PlacementTest, ProportionalWidthUsesSinglePrecisionRatio) {
  Start(300, 200);
  ws.Frame(200, 250, 210, 320);  // 70 high: ratio 2.8571429f gives 104, not 105
  EXPECT_EQ(Product().Width, 104);
  EXPECT_EQ(Product().Height, 70);
}

TEST_F(PlacementTest, ProportionalWidthGrowsRightFromTheLeftEdge) {
  Start(200, 100);
  ws.Frame(400, 300, 300, 400);  // drawn right to left, 100 high: 200 wide from x = 300
  EXPECT_EQ(ProductRect(), Rect(300, 300, 500, 400));
}

TEST_F(PlacementTest, FrameOnTheRightEdgeIsAcceptedOnePixelMoreIsRefused) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(500, 300, 564, 400);
  EXPECT_TRUE(Product().Visible);
  EXPECT_EQ(ProductRect().Right, 564);

  ws.Frame(300, 250, 565, 300);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtOutside);
  EXPECT_EQ(ws.Form.lblInstruction.FontColor, clRed);
  EXPECT_EQ(ProductRect(), Rect(500, 300, 564, 400));  // the earlier product stays
  EXPECT_EQ(ws.Form.productRight, 565);                // the fields hold the refused frame
}

TEST_F(PlacementTest, EveryEdgeIsChecked) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  for (TRect r : {Rect(163, 300, 200, 350), Rect(200, 214, 250, 300), Rect(200, 300, 250, 516)}) {
    ws.Form.lblInstruction.Caption.clear();
    ws.Frame(r.Left, r.Top, r.Right, r.Bottom);
    EXPECT_EQ(ws.Form.lblInstruction.Caption, txtOutside);
    EXPECT_FALSE(Product().Visible);
  }
  ws.Frame(164, 215, 564, 515);  // the whole photo
  EXPECT_TRUE(Product().Visible);
}

TEST_F(PlacementTest, ZeroHeightAndClicksPlaceNothing) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(200, 300, 400, 300);
  EXPECT_FALSE(Product().Visible);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtSize);
  ws.Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 250, 250);
  ws.Form.ImgPhotoMaisonMouseUp(mbLeft, 0, 250, 250);
  EXPECT_FALSE(Product().Visible);
  EXPECT_FALSE(ws.Form.btnExportImage.Enabled);
  EXPECT_FALSE(ws.Form.drawStarted);
}

TEST_F(PlacementTest, VerticalLineInCustomModePlacesAZeroWidthProduct) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(300, 250, 300, 350);
  EXPECT_TRUE(Product().Visible);
  EXPECT_EQ(Product().Width, 0);
  EXPECT_TRUE(ws.Form.btnExportImage.Enabled);
}

TEST_F(PlacementTest, ReleaseUsesTheLastMoveNotTheReleasePoint) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
  ws.Form.ImgPhotoMaisonMouseMove(ssLeft, 260, 300);
  ws.Form.ImgPhotoMaisonMouseUp(mbLeft, 0, 900, 900);
  EXPECT_EQ(ProductRect(), Rect(200, 250, 260, 300));
}

TEST_F(PlacementTest, OnlyTheLeftButtonCounts) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Form.ImgPhotoMaisonMouseDown(mbRight, 0, 200, 250);
  EXPECT_FALSE(ws.Form.drawStarted);
  ws.Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 200, 250);
  ws.Form.ImgPhotoMaisonMouseMove(ssLeft, 260, 300);
  ws.Form.ImgPhotoMaisonMouseUp(mbMiddle, 0, 260, 300);
  EXPECT_FALSE(Product().Visible);
  EXPECT_TRUE(ws.Form.drawStarted);
  ws.Form.ImgPhotoMaisonMouseUp(mbLeft, 0, 260, 300);
  EXPECT_TRUE(Product().Visible);
  ws.Form.ImgProduitMouseDown(mbRight, 0, 10, 10);  // the same on the product
  EXPECT_FALSE(ws.Form.isDragging);
}

TEST_F(PlacementTest, RubberBandIsDrawnAndErasedExactly) {
  Start(50, 50);
  TBitmap before;
  before.Assign(*ws.Form.DisplayBitmap());
  ws.Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 180, 230);
  ws.Form.ImgPhotoMaisonMouseMove(ssLeft, 300, 320);
  TBitmap& d = *ws.Form.DisplayBitmap();
  int changed = 0;
  for (int y = 0; y < d.Height(); ++y)
    for (int x = 0; x < d.Width(); ++x) changed += d.PixelColor(x, y) != before.PixelColor(x, y);
  EXPECT_GT(changed, 100);
  // Changed pixels stay inside the frame, in display coordinates.
  for (int y = 0; y < d.Height(); ++y)
    for (int x = 0; x < d.Width(); ++x)
      if (d.PixelColor(x, y) != before.PixelColor(x, y)) {
        ASSERT_GE(x, 16);
        ASSERT_GE(y, 15);
        ASSERT_LT(x, 136);
        ASSERT_LT(y, 105);
      }
  ws.Form.ImgPhotoMaisonMouseMove(ssLeft, 250, 260);
  ws.Form.ImgPhotoMaisonMouseUp(mbLeft, 0, 250, 260);
  for (int y = 0; y < d.Height(); ++y)
    for (int x = 0; x < d.Width(); ++x) ASSERT_EQ(d.PixelColor(x, y), before.PixelColor(x, y));
}

// The window repaints only what each move reports: every pixel a move changed must lie in
// one of its rectangles (checked against a pixel-by-pixel comparison), the rectangles stay
// on the display bitmap, and a small move of a large frame reports a small area.
TEST_F(PlacementTest, FrameMovesReportEveryChangedPixel) {
  Start(50, 50);
  TBitmap& d = *ws.Form.DisplayBitmap();
  ws.Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 300, 300);
  const std::pair<int, int> moves[] = {{500, 480}, {503, 482}, {498, 470}, {250, 260},
                                       {100, 700}, {600, 200}, {301, 301}, {560, 510}};
  for (auto [x, y] : moves) {
    SCOPED_TRACE(testing::Message() << "move to " << x << "," << y);
    TBitmap before;
    before.Assign(d);
    ws.Form.ImgPhotoMaisonMouseMove(ssLeft, x, y);
    const std::vector<TRect> damage = ws.Form.TakeFrameDamage();
    int64_t area = 0;
    for (const TRect& r : damage) {
      ASSERT_GE(r.Left, 0);
      ASSERT_GE(r.Top, 0);
      ASSERT_LE(r.Right, 400);
      ASSERT_LE(r.Bottom, 300);
      area += int64_t(r.Width()) * r.Height();
    }
    for (int py = 0; py < d.Height(); ++py)
      for (int px = 0; px < d.Width(); ++px)
        if (d.PixelColor(px, py) != before.PixelColor(px, py)) {
          const bool covered = std::any_of(damage.begin(), damage.end(), [&](const TRect& r) {
            return px >= r.Left && px < r.Right && py >= r.Top && py < r.Bottom;
          });
          ASSERT_TRUE(covered) << px << "," << py;
        }
    if (x == 503) {
      EXPECT_LT(area, 4000);  // 3 and 2 pixels more of a 200 x 180 frame
    }
  }
  EXPECT_TRUE(ws.Form.TakeFrameDamage().empty());
}

TEST_F(PlacementTest, ProportionalWithoutProductIsRefusedCleanly) {
  ws.Activate();
  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300));
  ws.Frame(200, 250, 300, 350);
  EXPECT_EQ(ws.Form.lblInstruction.Caption, txtNoProduct);
  EXPECT_EQ(ws.Form.lblInstruction.FontColor, clRed);
  EXPECT_FALSE(Product().Visible);
  EXPECT_FALSE(ws.Form.btnExportImage.Enabled);
  // Custom mode fails at the file load instead, after moving the control.
  ws.Form.btnPersoClick();
  ws.Form.SetProductPath(dir.File("absent.bmp"));
  EXPECT_THROW(ws.Frame(200, 250, 300, 350), EFOpenError);
  EXPECT_EQ(ProductRect(), Rect(200, 250, 300, 350));
  EXPECT_FALSE(Product().Visible);
  EXPECT_FALSE(ws.Form.btnExportImage.Enabled);
  EXPECT_FALSE(ws.Form.drawStarted);
}

TEST_F(PlacementTest, PlacementRereadsTheFileAndRefreshesThePreview) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  WriteQuadrantBmp(dir, "produit.bmp", 70, 20);  // replaced on disk meanwhile
  ws.Frame(200, 250, 300, 350);
  EXPECT_EQ(Product().Picture.Width(), 70);
  EXPECT_EQ(ws.Form.ImgProduitApercu.Picture.Width(), 70);
}

TEST_F(PlacementTest, ModeButtonsSwitchAndClear) {
  Start(50, 50);
  ws.Frame(200, 250, 300, 350);
  ws.Form.SelectMention(1);
  ws.Form.btnPersoClick();
  EXPECT_FALSE(ws.Form.isProportional);
  EXPECT_FALSE(ws.Form.btnPerso.Enabled);
  EXPECT_TRUE(ws.Form.btnPropor.Enabled);
  EXPECT_FALSE(Product().HasPicture());
  EXPECT_EQ(ws.Form.cbMention.ItemIndex, 0);
  EXPECT_FALSE(ws.Form.btnExportImage.Enabled);
  ws.Form.btnProporClick();
  EXPECT_TRUE(ws.Form.isProportional);
  EXPECT_TRUE(ws.Form.btnPerso.Enabled);
  EXPECT_FALSE(ws.Form.btnPropor.Enabled);
}

TEST_F(PlacementTest, DragFollowsThePointerInsideThePhoto) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(200, 250, 300, 350);
  ws.Drag(10, 10, {{5, 5}, {20, -10}, {0, 0}});
  EXPECT_EQ(ProductRect(), Rect(225, 245, 325, 345));
  EXPECT_EQ(ws.Form.productLeft, 225);
  EXPECT_EQ(ws.Form.productTop, 245);
  EXPECT_FALSE(ws.Form.isDragging);
}

TEST_F(PlacementTest, DragPastTheLeftEdgeSnapsBack) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(200, 250, 300, 350);
  // Three moves of -20: the third starts outside (left 160 < 164) and is refused
  // horizontally; the release snaps to the photo's left edge.
  ws.Drag(10, 10, {{-20, 0}, {-20, 0}, {-20, 0}});
  EXPECT_EQ(ProductRect(), Rect(164, 250, 264, 350));
}

TEST_F(PlacementTest, OneMovePastTheEdgeStaysWhenTheLastMoveSawItInside) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(200, 250, 300, 350);
  ws.Drag(10, 10, {{-50, 0}});
  EXPECT_EQ(Product().Left, 150);  // clipped by the export, not snapped
}

TEST_F(PlacementTest, OutsideProductOnlyMovesBackInside) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(200, 250, 300, 350);
  ws.Form.ImgProduitMouseDown(mbLeft, ssLeft, 10, 10);
  ws.Form.ImgProduitMouseMove(ssLeft, -40, 10);  // to left 150
  ws.Form.ImgProduitMouseMove(ssLeft, 0, 10);    // outside: further left refused
  EXPECT_EQ(Product().Left, 150);
  ws.Form.ImgProduitMouseMove(ssLeft, 15, 10);  // back toward the inside
  EXPECT_EQ(Product().Left, 155);
  ws.Form.ImgProduitMouseUp(mbLeft, 0, 15, 10);
  EXPECT_EQ(Product().Left, 164);
}

TEST_F(PlacementTest, ProductLargerThanThePhotoEndsOnRightAndBottom) {
  Start(50, 50);
  ws.Form.btnPersoClick();
  ws.Frame(164, 215, 564, 515);
  Product().Width = 500;  // as if stretched beyond the photo
  Product().Height = 400;
  ws.Drag(10, 10, {{-30, -30}, {0, 0}});
  EXPECT_EQ(Product().Left, 564 - 500);
  EXPECT_EQ(Product().Top, 515 - 400);
}

}  // namespace
