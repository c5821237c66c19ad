// Qt's timer service: ticks from the event loop, a handler that frees its own timer, and a
// GIF animation played by it through change notifications and repaints.
#include <gtest/gtest.h>

#include <QTest>

#include "GIFImg.h"
#include "MainWindow.h"

namespace {

// Two 1x1 frames (red, then green), delay 1 (plays as 36 ms), looping for ever.
std::vector<uint8_t> TwoFrameGif() {
  std::vector<uint8_t> b = {'G', 'I', 'F', '8', '9', 'a', 1,   0, 1,    0,    0x80,
                            0,   0,   255, 0,   0,   0,   255, 0, 0x21, 0xFF, 11};
  const char* id = "NETSCAPE2.0";
  b.insert(b.end(), id, id + 11);
  b.insert(b.end(), {3, 1, 0, 0, 0});
  for (uint8_t index : {0, 1}) {
    b.insert(b.end(), {0x21, 0xF9, 4, 0, 1, 0, 0, 0});              // delay 1
    b.insert(b.end(), {',', 0, 0, 0, 0, 1, 0, 1, 0, 0});            // 1x1 at 0,0
    b.insert(b.end(), {2, 2, uint8_t(index ? 0x4C : 0x44), 1, 0});  // clear, index, end
  }
  b.push_back(';');
  return b;
}

}  // namespace

TEST(QtTimerService, TicksFromTheEventLoopAndMayBeFreedByItsHandler) {
  TQtTimerService service;
  const int64_t start = service.Milliseconds();
  std::unique_ptr<TTimer> timer = service.CreateTimer();
  EXPECT_FALSE(timer->Enabled());
  int ticks = 0;
  timer->OnTimer = [&] {
    if (++ticks == 2) timer.reset();  // freed from inside its own tick
  };
  timer->SetInterval(5);
  timer->SetEnabled(true);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !timer; }, 2000));
  EXPECT_EQ(ticks, 2);
  EXPECT_GE(service.Milliseconds() - start, 10);
  QTest::qWait(30);  // nothing fires after the timer is gone
  EXPECT_EQ(ticks, 2);
}

TEST(QtTimerService, PlaysAGifAnimationThroughRepaints) {
  TQtTimerService service;
  TTimerServiceScope scope(service);
  const std::vector<uint8_t> bytes = TwoFrameGif();
  TGIFImage image;
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  image.LoadFromStream(stream);
  ASSERT_EQ(image.Images().Count(), 2);
  image.SetAnimate(true);
  TBitmap target;
  target.SetSize(4, 4);
  std::vector<TColor> shown;
  // The holder's part: each change notification repaints, which arms the next tick.
  image.OnChange = [&](TGraphic&) {
    image.Draw(target.Canvas(), TRect{0, 0, 4, 4});
    shown.push_back(target.PixelColor(0, 0));
  };
  image.Draw(target.Canvas(), TRect{0, 0, 4, 4});
  EXPECT_EQ(target.PixelColor(3, 3), clRed);
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown.size() >= 3; }, 3000));
  image.StopDraw();
  ASSERT_GE(shown.size(), 3u);
  EXPECT_EQ(shown[0], clLime);
  EXPECT_EQ(shown[1], clRed);
  EXPECT_EQ(shown[2], clLime);
}
