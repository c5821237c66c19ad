// The animation renderer: timing, loop passes, disposal, skipped frames, the timer's order,
// and the frames it composes checked against ImageMagick's coalesced frames.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "GIFImg.h"
#include "gif_plans.h"
#include "testdata.h"

namespace {

using namespace gif_plans;

// A renderer driven directly, with the frames of a plan.
struct TDirect : TPlayer {
  TGIFRenderer R{&Image};
  explicit TDirect(const TAnimPlan& plan, int speed = 100) : TPlayer(plan) {
    R.SetSpeed(speed);
    R.SetTransparent(true);
    R.SetAnimate(true);
    R.Draw(Target.Canvas(), Area);
  }
  // One tick of the timer and the repaint it asks for.
  bool Step() {
    if (!Clock.FireNext()) return false;
    R.Draw(Target.Canvas(), Area);
    return true;
  }
  TColor At(int x, int y) { return R.Bitmap()->PixelColor(x, y); }
};

TAnimPlan ThreeFrames(int loops) {
  TAnimPlan s;
  s.Loops = loops;
  s.Frames = {Solid(0, 0, 8, 8, 1), Solid(0, 0, 8, 8, 2), Solid(0, 0, 8, 8, 4)};
  return s;
}

}  // namespace

TEST(GifRenderer, DelaysAreClampedInTwelveMillisecondUnitsAndScaledBySpeed) {
  TAnimPlan s;
  s.Frames = {Solid(0, 0, 8, 8, 1, 7), Solid(0, 0, 8, 8, 2, 0), Solid(0, 0, 8, 8, 3, 1),
              Solid(0, 0, 8, 8, 4, 2), Solid(0, 0, 8, 8, 5, 5000)};
  // 7 units; 0 plays as 10; 1 and 2 as 3; 5000 as 1000.
  const int expected[] = {84, 120, 36, 36, 12000};
  struct {
    int Speed;
    int Num, Den;
  } speeds[] = {{100, 1, 1}, {200, 1, 2}, {50, 2, 1}, {400, 1, 4}};
  for (auto sp : speeds) {
    TDirect p(s, sp.Speed);
    for (int i = 0; i < 5; ++i) {
      SCOPED_TRACE("speed " + std::to_string(sp.Speed) + " frame " + std::to_string(i));
      EXPECT_EQ(p.R.FrameIndex(), i);
      EXPECT_EQ(p.R.FrameDelay(), expected[i] * sp.Num / sp.Den);
      ASSERT_NE(p.R.AnimationTimer(), nullptr);
      EXPECT_TRUE(p.R.AnimationTimer()->Enabled());
      EXPECT_EQ(p.R.AnimationTimer()->Interval(), expected[i] * sp.Num / sp.Den);
      // The tick comes exactly one interval later on the clock.
      const int64_t before = p.Clock.Milliseconds();
      ASSERT_TRUE(p.Step());
      EXPECT_EQ(p.Clock.Milliseconds() - before, expected[i] * sp.Num / sp.Den);
    }
  }
  // Speed 0 plays as the slowest speed, 1 %.
  TDirect slow(s, 0);
  EXPECT_EQ(slow.R.FrameDelay(), 8400);
}

TEST(GifRenderer, ImageSpeedReachesTheRendererThroughDraw) {
  TPlayer p(ThreeFrames(0));
  p.Image.SetAnimate(true);
  p.Image.SetAnimationSpeed(300);
  p.Image.Draw(p.Target.Canvas(), p.Area);
  ASSERT_EQ(p.Clock.ArmedCount(), 1);
  ASSERT_TRUE(p.Clock.FireNext());
  EXPECT_EQ(p.Clock.Milliseconds(), 40);  // 10 units x 12 ms / 3
}

TEST(GifRenderer, TimeSpentDrawingComesOffTheNextInterval) {
  TAnimPlan s = ThreeFrames(0);
  TPlayer p(s);
  // The frame's first rendering reports progress: the clock moves 50 ms meanwhile.
  p.Image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&,
                           const std::string&) {
    if (stage == psStarting) p.Clock.Advance(50);
  };
  p.Image.SetAnimate(true);
  p.Image.Draw(p.Target.Canvas(), p.Area);
  ASSERT_TRUE(p.Clock.FireNext());
  EXPECT_EQ(p.Clock.Milliseconds(), 120);  // 50 drawing + 70 waiting
}

TEST(GifRenderer, LoopCountsGiveOnePassEndlessOrThatManyPasses) {
  // Loop count: passes played (0: endless, capped here at 30 ticks).
  struct {
    int Loops, Passes;
  } cases[] = {{-1, 1}, {1, 1}, {3, 3}, {0, 0}};
  for (auto c : cases) {
    SCOPED_TRACE("loops " + std::to_string(c.Loops));
    TDirect p(ThreeFrames(c.Loops));
    std::vector<int> shown{p.R.FrameIndex()};
    int ticks = 0;
    while (ticks < 30 && p.Step()) {
      ++ticks;
      shown.push_back(p.R.FrameIndex());
    }
    if (c.Passes == 0) {
      EXPECT_EQ(ticks, 30);
      for (size_t i = 0; i < shown.size(); ++i) EXPECT_EQ(shown[i], int(i % 3)) << i;
      EXPECT_EQ(p.Clock.ArmedCount(), 1);
      continue;
    }
    // Each pass shows the three frames; the tick after the last pass shows nothing new.
    ASSERT_EQ(ticks, c.Passes * 3);
    for (int i = 0; i < ticks; ++i) EXPECT_EQ(shown[size_t(i)], i % 3) << i;
    EXPECT_EQ(shown.back(), 2);
    EXPECT_EQ(p.R.LoopCount(), c.Passes);
    EXPECT_EQ(p.Clock.ArmedCount(), 0);
    EXPECT_TRUE(p.R.Animating());  // halted, not stopped: it keeps the last frame
    EXPECT_EQ(p.At(0, 0), ColorOf(4));
  }
}

TEST(GifRenderer, BackgroundDisposalRestoresWhatTheTargetShowedUnderTransparentPixels) {
  TAnimPlan s;
  // Frame 0: the whole screen, red on the left half, transparent on the right.
  TFramePlan f0 = Solid(0, 0, 8, 8, 1, 10, 2);
  for (int y = 0; y < 8; ++y)
    for (int x = 4; x < 8; ++x) f0.Pixels[size_t(y * 8 + x)] = 0;
  f0.Transparent = 0;
  s.Frames = {f0, Solid(2, 2, 2, 2, 2)};
  TDirect p(s);
  EXPECT_EQ(p.At(0, 0), ColorOf(1));
  EXPECT_EQ(p.At(6, 6), PhotoAt(6, 6));
  // Paint the target over: the renderer keeps the picture captured at the first draw.
  p.Target.Canvas().Brush.Color = clWhite;
  p.Target.Canvas().FillRect(p.Area);
  ASSERT_TRUE(p.Step());
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      bool green = x >= 2 && x < 4 && y >= 2 && y < 4;
      ASSERT_EQ(p.Target.PixelColor(x, y), green ? ColorOf(2) : PhotoAt(x, y)) << x << "," << y;
    }
}

TEST(GifRenderer, BackgroundDisposalOfAnOpaqueImageFillsTheBackgroundColour) {
  TAnimPlan s;
  s.BackgroundIndex = 6;
  s.Frames = {Solid(0, 0, 8, 8, 1), Solid(1, 1, 3, 3, 5, 10, 2), Solid(5, 5, 2, 2, 2)};
  TDirect p(s);
  ASSERT_TRUE(p.Step());
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.At(2, 2), ColorOf(6));  // frame 1's area, cleared to the background index
  EXPECT_EQ(p.At(0, 0), ColorOf(1));
  EXPECT_EQ(p.At(5, 5), ColorOf(2));
}

TEST(GifRenderer, PreviousDisposalPutsBackThePictureBeforeTheFrame) {
  TAnimPlan s;
  TFramePlan f1 = Solid(0, 0, 4, 4, 2, 10, 3);
  f1.Pixels[0] = 0;
  f1.Transparent = 0;
  s.Frames = {Solid(0, 0, 8, 8, 1), f1, Solid(6, 6, 2, 2, 4)};
  TDirect p(s);
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.At(1, 1), ColorOf(2));
  EXPECT_EQ(p.At(0, 0), ColorOf(1));  // transparent pixel of frame 1
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.At(1, 1), ColorOf(1));
  EXPECT_EQ(p.At(6, 6), ColorOf(4));
}

TEST(GifRenderer, PreviousAfterBackgroundGoesBackToTheClearedPicture) {
  // Frame 1 is cleared to the background when frame 2 comes; frame 2 goes back to the
  // picture before it, which no longer holds frame 1.
  TAnimPlan s;
  s.BackgroundIndex = 7;
  s.Frames = {Solid(0, 0, 8, 8, 1), Solid(0, 0, 4, 4, 2, 10, 2), Solid(4, 4, 4, 4, 3, 10, 3),
              Solid(6, 0, 2, 2, 4)};
  TDirect p(s);
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.At(1, 1), ColorOf(7));
  EXPECT_EQ(p.At(5, 5), ColorOf(1));
  EXPECT_EQ(p.At(7, 1), ColorOf(4));
}

TEST(GifRenderer, ClearOnLoopRestoresTheLastFrameAreaBeforeTheNextPass) {
  TAnimPlan s;
  s.Loops = 0;
  s.BackgroundIndex = 7;
  s.Frames = {Solid(0, 0, 4, 4, 1), Solid(4, 4, 4, 4, 2)};
  TDirect p(s);
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.At(5, 5), ColorOf(2));
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.R.FrameIndex(), 0);
  EXPECT_EQ(p.At(5, 5), ColorOf(7));
  EXPECT_EQ(p.At(1, 1), ColorOf(1));
}

TEST(GifRenderer, EmptyFramesAreSkipped) {
  TPlayer p(ThreeFrames(0));
  // Empty frames at the start and in the middle.
  TGIFImageList& frames = p.Image.Images();
  TGIFFrame::Create(&p.Image);
  frames.Move(frames.Count() - 1, 0);
  TGIFFrame::Create(&p.Image);
  frames.Move(frames.Count() - 1, 2);
  ASSERT_EQ(p.Image.Images().Count(), 5);
  ASSERT_TRUE(p.Image.Images().Frames(0)->Empty());
  ASSERT_TRUE(p.Image.Images().Frames(2)->Empty());
  TGIFRenderer r(&p.Image);
  r.SetAnimate(true);
  r.Draw(p.Target.Canvas(), p.Area);
  std::vector<int> shown{r.FrameIndex()};
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(p.Clock.FireNext());
    r.Draw(p.Target.Canvas(), p.Area);
    shown.push_back(r.FrameIndex());
  }
  EXPECT_EQ(shown, (std::vector<int>{1, 3, 4, 1, 3, 4}));
}

TEST(GifRenderer, AnimationOfEmptyFramesStaysPutAndDoesNotHang) {
  for (bool endless : {true, false}) {
    TPlayer p(ThreeFrames(-1));
    p.Image.Images().Clear();
    for (int i = 0; i < 3; ++i) {
      TGIFFrame* f = TGIFFrame::Create(&p.Image);
      if (i == 0 && endless) f->Extensions().Add(std::make_unique<TGIFAppExtNSLoop>(f));
    }
    TGIFRenderer r(&p.Image);
    r.SetAnimate(true);
    r.Draw(p.Target.Canvas(), p.Area);
    EXPECT_EQ(r.LoopMax(), endless ? 0 : 1);
    const int first = r.FrameIndex();
    EXPECT_GE(first, 0);
    int ticks = 0;
    for (; ticks < 4 && p.Clock.FireNext(); ++ticks) {
      r.Draw(p.Target.Canvas(), p.Area);
      EXPECT_EQ(r.FrameIndex(), first);
    }
    EXPECT_EQ(ticks, endless ? 4 : 1);
    EXPECT_EQ(p.Target.PixelColor(3, 3), ColorOf(3));  // the background colour only
  }
}

TEST(GifRenderer, ANewTargetRectangleRewindsToTheFirstFrame) {
  TDirect p(ThreeFrames(0));
  ASSERT_TRUE(p.Step());
  ASSERT_TRUE(p.Step());
  EXPECT_EQ(p.R.FrameIndex(), 2);
  TBitmap other;
  PaintPhoto(other, 16, 16);
  p.R.Draw(other.Canvas(), TRect{0, 0, 16, 16});
  EXPECT_EQ(p.R.FrameIndex(), 0);
  EXPECT_EQ(p.R.LoopCount(), 0);
  EXPECT_EQ(other.PixelColor(15, 15), ColorOf(1));
  EXPECT_EQ(p.R.Bitmap()->Width(), 16);
  // Any setter change starts over as well.
  ASSERT_TRUE(p.Clock.FireNext());
  p.R.Draw(other.Canvas(), TRect{0, 0, 16, 16});
  EXPECT_EQ(p.R.FrameIndex(), 1);
  p.R.SetBackgroundColor(clRed);
  EXPECT_FALSE(p.R.Animating());
  p.R.Draw(other.Canvas(), TRect{0, 0, 16, 16});
  EXPECT_EQ(p.R.FrameIndex(), 0);
}

TEST(GifRenderer, TickAdvancesNotifiesAndTheRepaintArmsTheTimer) {
  TPlayer p(ThreeFrames(0));
  p.Image.SetAnimate(true);
  std::vector<std::string> events;
  bool repaint = true;
  p.Image.OnChange = [&](TGraphic&) {
    events.push_back("changed, armed timers " + std::to_string(p.Clock.ArmedCount()));
    if (!repaint) return;
    p.Image.Draw(p.Target.Canvas(), p.Area);
    events.push_back("repainted, armed timers " + std::to_string(p.Clock.ArmedCount()));
  };
  p.Image.Draw(p.Target.Canvas(), p.Area);
  EXPECT_EQ(p.Target.PixelColor(0, 0), ColorOf(1));
  ASSERT_TRUE(p.Clock.FireNext());
  // The frame had advanced when the change was told, with no timer armed until the repaint.
  EXPECT_EQ(events,
            (std::vector<std::string>{"changed, armed timers 0", "repainted, armed timers 1"}));
  EXPECT_EQ(p.Target.PixelColor(0, 0), ColorOf(2));
  // Without a repaint the timer stays disarmed and the picture stays.
  repaint = false;
  ASSERT_TRUE(p.Clock.FireNext());
  EXPECT_EQ(p.Clock.ArmedCount(), 0);
  EXPECT_FALSE(p.Clock.FireNext());
  EXPECT_EQ(p.Target.PixelColor(0, 0), ColorOf(2));
  p.Image.Draw(p.Target.Canvas(), p.Area);
  EXPECT_EQ(p.Target.PixelColor(0, 0), ColorOf(4));
  EXPECT_EQ(p.Clock.ArmedCount(), 1);
}

TEST(GifRenderer, ImageStopsSuspendsAndResumesDrawing) {
  TPlayer p(ThreeFrames(0));
  p.Image.SetAnimate(true);
  p.Image.Draw(p.Target.Canvas(), p.Area);
  EXPECT_EQ(p.Clock.ArmedCount(), 1);
  p.Image.SuspendDraw();
  p.Image.SuspendDraw();
  EXPECT_EQ(p.Clock.ArmedCount(), 0);
  p.Image.ResumeDraw();
  EXPECT_EQ(p.Clock.ArmedCount(), 0);
  p.Image.ResumeDraw();
  // The restart makes a timer that is armed at the next draw.
  EXPECT_EQ(p.Clock.ArmedCount(), 0);
  p.Image.Draw(p.Target.Canvas(), p.Area);
  EXPECT_EQ(p.Clock.ArmedCount(), 1);
  p.Image.StopDraw();
  EXPECT_EQ(p.Clock.ArmedCount(), 0);
  EXPECT_FALSE(p.Clock.FireNext());
}

TEST(GifRenderer, WithoutAnimateOrWithOneFrameTheImageDrawsFrameZeroWithoutATimer) {
  TPlayer p(ThreeFrames(0));
  p.Image.Draw(p.Target.Canvas(), p.Area);
  EXPECT_EQ(p.Target.PixelColor(0, 0), ColorOf(1));
  EXPECT_EQ(p.Clock.ArmedCount(), 0);
  TAnimPlan one;
  one.Frames = {Solid(2, 2, 2, 2, 2)};
  TPlayer q(one);
  q.Image.SetAnimate(true);
  q.Image.Draw(q.Target.Canvas(), q.Area);
  EXPECT_EQ(q.Target.PixelColor(0, 0), PhotoAt(0, 0));  // not filled: frame 0 drawn alone
  EXPECT_EQ(q.Target.PixelColor(2, 2), ColorOf(2));
  EXPECT_EQ(q.Clock.ArmedCount(), 0);
}

TEST(GifRenderer, RendererWithoutAnimateMakesThePreviousBufferWhenNeeded) {
  TAnimPlan s;
  s.Frames = {Solid(0, 0, 8, 8, 1, 10, 3), Solid(0, 0, 2, 2, 2)};
  TPlayer p(s);
  TGIFRenderer r(&p.Image);
  r.Draw(p.Target.Canvas(), p.Area);  // no animation prepared no disposal buffers
  EXPECT_EQ(r.Bitmap()->PixelColor(4, 4), ColorOf(1));
  r.NextFrame();
  EXPECT_EQ(r.Bitmap()->PixelColor(4, 4), ColorOf(3));  // back to the background fill
  EXPECT_EQ(r.Bitmap()->PixelColor(1, 1), ColorOf(2));
  EXPECT_EQ(p.Clock.ArmedCount(), 0);
}

TEST(GifRenderer, MirroredAndEmptyTargetRectanglesPlayWithoutHarm) {
  TAnimPlan s = ThreeFrames(0);
  s.Frames[1].Disposal = 3;
  s.Frames[2].Disposal = 2;
  s.Frames[2].Transparent = 4;
  TPlayer p(s);
  p.Image.SetAnimate(true);
  for (TRect r : {TRect{6, 5, 1, 2}, TRect{3, 3, 3, 3}, TRect{-4, -4, 12, 12}}) {
    p.Image.Draw(p.Target.Canvas(), r);
    for (int i = 0; i < 4 && p.Clock.FireNext(); ++i) p.Image.Draw(p.Target.Canvas(), r);
  }
  // The last rectangle reaches past the target on every side: the visible part is drawn.
  EXPECT_EQ(p.Target.PixelColor(0, 0), ColorOf(2));
}

// ---------------------------------------------------------------------------------------
// Against ImageMagick: its coalesced frames, laid over the colour the renderer starts
// from, must equal the renderer's pictures pixel for pixel. ImageMagick clears to
// transparency where the renderer shows the target (transparent images) or fills the
// background colour (opaque ones); laying its frames over that same colour makes the two
// comparable.
// ---------------------------------------------------------------------------------------

namespace {

const char* const kConvert = "/usr/bin/convert";

struct TPpm {
  int Width = 0, Height = 0;
  Bytes Rgb;
};

// Binary PPM; ImageMagick carries a GIF's comment into the header as "#" lines.
bool ReadPpm(const std::string& path, TPpm& ppm) {
  std::ifstream in(path, std::ios::binary);
  auto field = [&in](int& value) {
    while (in && (std::isspace(in.peek()) || in.peek() == '#'))
      if (in.get() == '#')
        while (in && in.get() != '\n') {
        }
    in >> value;
  };
  std::string magic(2, ' ');
  in.read(magic.data(), 2);
  int maxval = 0;
  field(ppm.Width);
  field(ppm.Height);
  field(maxval);
  in.get();
  if (!in || magic != "P6" || maxval != 255) return false;
  ppm.Rgb.resize(size_t(ppm.Width) * size_t(ppm.Height) * 3);
  in.read(reinterpret_cast<char*>(ppm.Rgb.data()), std::streamsize(ppm.Rgb.size()));
  return bool(in);
}

std::string Hex(TColor c) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%02X%02X%02X", GetRValue(c), GetGValue(c), GetBValue(c));
  return buf;
}

// ImageMagick's frames over the colour; empty when it fails.
std::vector<TPpm> CoalescedFrames(const std::string& gif, TColor under, const std::string& dir) {
  const std::string cmd = std::string(kConvert) + " '" + gif + "' -coalesce -background '#" +
                          Hex(under) + "' -alpha remove -alpha off '" + dir + "/f-%03d.ppm'";
  std::vector<TPpm> frames;
  if (std::system(cmd.c_str()) != 0) return frames;
  for (int i = 0;; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/f-%03d.ppm", i);
    TPpm ppm;
    if (!ReadPpm(dir + name, ppm)) break;
    frames.push_back(std::move(ppm));
  }
  return frames;
}

struct TTempDir {
  std::string Path;
  TTempDir() {
    char tmpl[] = "/tmp/vitrelle-render-XXXXXX";
    Path = mkdtemp(tmpl) ? tmpl : "";
  }
  ~TTempDir() {
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
};

// Plays the file through the image, as vitrelle-img render --trame does, and compares
// each frame; answers the number of frames that matched.
int CompareWithImageMagick(const std::string& gifPath, int& total) {
  TGIFImage image;
  image.LoadFromFile(gifPath);
  const TColor fond = RGBColor(0x33, 0x66, 0x99);
  const TColor under = image.IsTransparent() ? fond : image.EffectiveBackgroundColor();
  TTempDir dir;
  std::vector<TPpm> expected = CoalescedFrames(gifPath, under, dir.Path);
  EXPECT_GT(expected.size(), 1u) << gifPath;
  total += int(expected.size());
  TManualTimerService clock;
  TTimerServiceScope scope(clock);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(image.Width(), image.Height());
  target.Canvas().Brush.Color = fond;
  target.Canvas().FillRect(TRect{0, 0, image.Width(), image.Height()});
  image.SetAnimate(true);
  const TRect area{0, 0, image.Width(), image.Height()};
  image.Draw(target.Canvas(), area);
  int matched = 0;
  std::vector<bool> covered(size_t(image.Width()) * size_t(image.Height()));
  for (size_t i = 0; i < expected.size(); ++i) {
    if (i > 0) {
      if (!clock.FireNext()) break;
      image.Draw(target.Canvas(), area);
    }
    const TPpm& e = expected[i];
    if (e.Width != target.Width() || e.Height != target.Height()) continue;
    const TRect shown = image.Images().Frames(int(i))->BoundsRect();
    for (int y = std::max(shown.Top, 0); y < std::min(shown.Bottom, e.Height); ++y)
      for (int x = std::max(shown.Left, 0); x < std::min(shown.Right, e.Width); ++x)
        covered[size_t(y) * size_t(e.Width) + size_t(x)] = true;
    int wrong = 0, accepted = 0, firstX = -1, firstY = -1;
    for (int y = 0; y < e.Height; ++y)
      for (int x = 0; x < e.Width; ++x) {
        const size_t at = size_t(y) * size_t(e.Width) + size_t(x);
        const TColor im = RGBColor(e.Rgb[at * 3], e.Rgb[at * 3 + 1], e.Rgb[at * 3 + 2]);
        const TColor ours = target.PixelColor(x, y);
        if (ours == im) continue;
        // Where no frame has drawn yet, ImageMagick shows the file's background colour
        // around an opaque first frame; the renderer shows what lies under the picture.
        if (!covered[at] && ours == under && im == image.BackgroundColor()) {
          ++accepted;
          continue;
        }
        if (wrong++ == 0) firstX = x, firstY = y;
      }
    EXPECT_EQ(wrong, 0) << gifPath << " frame " << i << ", first at " << firstX << "," << firstY;
    if (accepted > 0)
      std::printf(
          "%s frame %zu: %d pixels never drawn show the background colour in "
          "ImageMagick\n",
          gifPath.c_str(), i, accepted);
    if (wrong == 0) ++matched;
  }
  image.StopDraw();
  return matched;
}

bool HaveImageMagick() {
  return access(kConvert, X_OK) == 0;
}

}  // namespace

TEST(GifRendererOracle, SharedAnimationsPlayAsImageMagickCoalescesThem) {
  VITRELLE_REQUIRE_TESTDATA();
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick (scripts/install-deps) not installed";
  int total = 0, matched = 0, files = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(vitrelle_test::TestDataPath("gif"))) {
    if (entry.path().extension() != ".gif") continue;
    TGIFImage probe;
    try {
      probe.LoadFromFile(entry.path().string());
    } catch (const Exception&) {
      continue;  // damaged files are the reading tests' business
    }
    if (probe.Images().Count() < 2) continue;
    ++files;
    matched += CompareWithImageMagick(entry.path().string(), total);
  }
  EXPECT_GE(files, 6);
  EXPECT_EQ(matched, total);
  std::printf("ImageMagick agreement: %d of %d frames in %d shared animations\n", matched, total,
              files);
}

TEST(GifRendererOracle, BuiltAnimationsPlayAsImageMagickCoalescesThem) {
  if (!HaveImageMagick()) GTEST_SKIP() << "ImageMagick (scripts/install-deps) not installed";
  const std::vector<TAnimPlan> plans = DisposalPairPlans();
  int total = 0, matched = 0;
  TTempDir dir;
  for (size_t i = 0; i < plans.size(); ++i) {
    const std::string path = dir.Path + "/anim-" + std::to_string(i) + ".gif";
    Bytes bytes = EncodeAnimation(plans[i]);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    matched += CompareWithImageMagick(path, total);
  }
  EXPECT_EQ(matched, total);
  std::printf("ImageMagick agreement: %d of %d frames in %zu built animations\n", matched, total,
              plans.size());
}
