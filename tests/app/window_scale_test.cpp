// The window on a high-density screen. Qt reads the scale once, when the application
// starts, so the suite runs this program once per scale (QT_SCALE_FACTOR 2 and 1.5).
#include <QApplication>
#include <QBackingStore>
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
// what the partial repaints left equals a full repaint of the control. At a ratio of 1.5
// Qt's smoothing steps through the picture in fixed point from the start of each painted
// strip, so strips and a whole repaint may differ by a level or two; an outline left
// behind differs by tens of levels.
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
  const int allowed = ratio == std::floor(ratio) ? 0 : 2;
  if (worst > allowed) {
    afterDrag.save(QString::fromStdString(shot));
    repainted.save(QString::fromStdString(shot + ".repainted.png"));
  }
  EXPECT_LE(worst, allowed) << "left over at ratio " << ratio << ", see " << shot;
  QTest::mouseRelease(window.ImgPhotoMaison, Qt::LeftButton, {}, QPoint(480, 450));
}

}  // namespace
