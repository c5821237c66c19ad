// The window on a high-density screen. Qt reads the scale once, when the application
// starts, so the suite runs this program once per scale (QT_SCALE_FACTOR 2 and 1.5).
#include <QApplication>
#include <QBackingStore>
#include <QComboBox>
#include <QTest>
#include <filesystem>

#include "MainWindow.h"
#include "workspace_support.h"

namespace {

class TQtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { FApp = std::make_unique<QApplication>(FArgc, FArgv); }
  void TearDown() override { FApp.reset(); }

 private:
  int FArgc = 1;
  char FName[20] = "window_scale_tests";
  char* FArgv[2] = {FName, nullptr};
  std::unique_ptr<QApplication> FApp;
};
[[maybe_unused]] ::testing::Environment* const kQtEnvironment =
    ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

// What the screen shows of the photo control, in device pixels: the window's backing
// store, which the offscreen platform keeps as an image.
QImage OnScreen(TMainWindow& window) {
  QTest::qWait(5);  // the pending paints reach the backing store
  const auto* store = dynamic_cast<const QImage*>(window.backingStore()->paintDevice());
  if (!store) return {};
  const qreal ratio = store->devicePixelRatio();
  const QRect photo = window.ImgPhotoMaison->geometry();
  return store->copy(QRect(QPoint(qRound(photo.x() * ratio), qRound(photo.y() * ratio)),
                           (QSizeF(photo.size()) * ratio).toSize()));
}

// Erasing a rubber band by drawing it again must erase it on screen too: after a drag,
// what the partial repaints left equals a full repaint of the control, exactly (the photo
// is painted pixel for pixel at the screen's resolution).
TEST(WindowScaleTest, RubberBandLeavesNothingBehind) {
  TTempDir dir;
  TMainWindow window;
  window.Form().SetProductPath(WriteQuadrantBmp(dir, "produit.bmp", 50, 50));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::qWait(20);
  const qreal ratio = window.devicePixelRatio();
  ASSERT_GT(ratio, 1.0) << "run with QT_SCALE_FACTOR=2 or 1.5";
  const std::string house = WriteQuadrantBmp(dir, "maison.bmp", 400, 300);
  window.Host().OpenDialogHook = [&](TFileDialog& d) {
    d.FileName = house;
    return true;
  };
  QTest::mouseClick(window.BtnClientPhoto, Qt::LeftButton);

  QTest::mousePress(window.ImgPhotoMaison, Qt::LeftButton, {}, QPoint(200, 250));
  for (int i = 1; i <= 40; ++i) {
    QTest::mouseMove(window.ImgPhotoMaison, QPoint(200 + 7 * i, 250 + 5 * i));
    QTest::qWait(1);
  }
  const QImage afterDrag = OnScreen(window);
  window.ImgPhotoMaison->repaint();
  const QImage repainted = OnScreen(window);
  ASSERT_FALSE(afterDrag.isNull());
  ASSERT_EQ(afterDrag.size(), repainted.size());
  // The frame is on screen: its corner on the red quadrant inverted to cyan.
  EXPECT_EQ(afterDrag.pixel(int(200 * ratio), int(250 * ratio)), qRgb(0, 255, 255));
  int worst = 0;
  for (int y = 0; y < afterDrag.height(); ++y)
    for (int x = 0; x < afterDrag.width(); ++x) {
      const QRgb a = afterDrag.pixel(x, y), b = repainted.pixel(x, y);
      worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                        std::abs(qBlue(a) - qBlue(b))});
    }
  const std::string shot = (std::filesystem::temp_directory_path() /
                            ("vitrelle-drag-at-" + std::to_string(ratio) + ".png"))
                               .string();
  if (worst > 0) {
    afterDrag.save(QString::fromStdString(shot));
    repainted.save(QString::fromStdString(shot + ".repainted.png"));
  }
  EXPECT_EQ(worst, 0) << "left over at ratio " << ratio << ", see " << shot;
  QTest::mouseRelease(window.ImgPhotoMaison, Qt::LeftButton, {}, QPoint(480, 450));
}

// On a high-density screen the photo, the products (fixed, placed in perspective, dragged)
// and the notice are drawn at the screen's own resolution: what the screen shows is the
// mock-up drawn at the ratio, within a level. A 1-pixel checkerboard photo of twice the
// display's size shows its checks there, where the display bitmap (which keeps its own
// size and pixels) is plain black, so no enlargement of it could show them.
TEST(WindowScaleTest, PhotoProductsAndNoticeAtTheScreensResolution) {
  TTempDir dir;
  TMainWindow window;
  window.Form().SetProductPath(
      WriteQuadrantBmp(dir, "produit.bmp", 50, 50, clBlue, clLime, clRed, clWhite));
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QTest::qWait(20);
  const qreal ratio = window.devicePixelRatio();
  TBitmap checks;
  checks.SetSize(1456, 1092);
  for (int y = 0; y < checks.Height(); ++y) {
    uint8_t* row = checks.GetScanline(y);
    for (int x = 0; x < checks.Width(); ++x) std::fill_n(row + 3 * x, 3, (x + y) % 2 ? 255 : 0);
  }
  const std::string house = dir.File("damier.bmp");
  checks.SaveToFile(house);
  window.Host().OpenDialogHook = [&](TFileDialog& d) {
    d.FileName = house;
    return true;
  };
  QTest::mouseClick(window.BtnClientPhoto, Qt::LeftButton);
  QTest::mouseClick(window.btnPerso, Qt::LeftButton);
  // Odd window coordinates: at a ratio of 1.5 the edges fall between device pixels.
  auto frame = [&](QPoint a, QPoint b) {
    QTest::mousePress(window.ImgPhotoMaison, Qt::LeftButton, {}, a);
    QTest::mouseMove(window.ImgPhotoMaison, b);
    QTest::mouseRelease(window.ImgPhotoMaison, Qt::LeftButton, {}, b);
  };
  TFrmModulePhoto& f = window.Form();
  frame(QPoint(101, 201), QPoint(201, 301));
  window.Guarded([&] { f.FixProduct(); });
  frame(QPoint(401, 301), QPoint(501, 401));
  window.Guarded([&] { f.SetProductCorners({{{403, 303}, {499, 321}, {497, 399}, {405, 391}}}); });
  QTest::mousePress(window.ImgProduit, Qt::LeftButton, {}, QPoint(50, 50));
  QTest::mouseMove(window.ImgProduit, QPoint(70, 60));
  QTest::mouseRelease(window.ImgProduit, Qt::LeftButton, {}, QPoint(70, 60));
  emit window.cbMention->activated(1);
  ASSERT_EQ(f.fixedProducts.size(), 1u);
  ASSERT_EQ(f.ImgProduit.Left, 423);  // dragged by (20, 10)

  const QImage shown = OnScreen(window);
  TBitmap* display = f.DisplayBitmap();
  ASSERT_EQ(display->Width(), 728);
  const int w = qRound(display->Width() * ratio), h = qRound(display->Height() * ratio);
  const int left = int(f.photoOffsetX * ratio), top = int(f.photoOffsetY * ratio);
  TBitmap expected;
  expected.SetSize(w, h);
  RenderMockup(f.Scene(), expected, w, h);
  int worst = 0, checksShown = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const QRgb s = shown.pixel(left + x, top + y);
      const TColor e = expected.PixelColor(x, y);
      worst = std::max({worst, std::abs(qRed(s) - GetRValue(e)), std::abs(qGreen(s) - GetGValue(e)),
                        std::abs(qBlue(s) - GetBValue(e))});
      checksShown +=
          x > 0 && std::abs(qGreen(s) - qGreen(shown.pixel(left + x - 1, top + y))) > 200;
    }
  EXPECT_LE(worst, 1) << "at ratio " << ratio;
  EXPECT_GT(checksShown, w * h / 4);
  int checksInDisplay = 0;
  for (int y = 0; y < display->Height(); ++y)
    for (int x = 1; x < display->Width(); ++x)
      checksInDisplay += display->PixelColor(x, y) != display->PixelColor(x - 1, y);
  EXPECT_LT(checksInDisplay, display->Height() * 4);  // the products' and the notice's edges
}

}  // namespace
