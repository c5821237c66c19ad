// The GIF optimizer: one global colour table by use, and Optimize's steps. What an animation
// plays is checked through the renderer on a manual clock, before and after optimizing:
// every screen with the time it stays, over two passes.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "GIFImg.h"
#include "gif_plans.h"
#include "testdata.h"

namespace {

using Bytes = std::vector<uint8_t>;

TColor Rgb(int r, int g, int b) {
  return TColor(r | (g << 8) | (b << 16));
}

// A frame with its own table of the given colours and the given pixels (row by row).
TGIFFrame* AddFrame(TGIFImage& image, TRect bounds, const std::vector<TColor>& local,
                    const Bytes& pixels) {
  TGIFFrame* f = TGIFFrame::Create(&image);
  f->ApplyBounds(bounds.Left, bounds.Top, bounds.Right - bounds.Left, bounds.Bottom - bounds.Top);
  for (TColor c : local) f->ColorMap().Add(c);
  std::copy(pixels.begin(), pixels.end(), f->Data());
  return f;
}

TGIFGraphicControlExtension* Gce(TGIFFrame* f, int transparent = -1, int delay = 0,
                                 TDisposalMethod disposal = dmNone) {
  auto* g = static_cast<TGIFGraphicControlExtension*>(
      TGIFExtension::Create(ExtensionClassOf<TGIFGraphicControlExtension>(), f));
  if (transparent >= 0) {
    g->SetTransparent(true);
    g->SetTransparentColorIndex(transparent);
  }
  g->SetDelay(uint16_t(delay));
  g->SetDisposal(disposal);
  return g;
}

// The colour each pixel shows (-1 where transparent).
std::vector<int64_t> Shown(TGIFFrame& f) {
  std::vector<int64_t> out;
  const int t = f.Transparent() ? f.GraphicControlExtension()->TransparentColorIndex() : -1;
  for (size_t i = 0; i < f.DataSize(); ++i)
    out.push_back(f.Data()[i] == t ? -1 : int64_t(f.ActiveColorMap().GetColor(f.Data()[i])));
  return out;
}

std::vector<TColor> Table(TGIFColorMap& map) {
  std::vector<TColor> out;
  for (int i = 0; i < map.Count(); ++i) out.push_back(map.GetColor(i));
  return out;
}

template <class T>
int CountExtensions(TGIFFrame& f) {
  int n = 0;
  for (int k = 0; k < f.Extensions().Count(); ++k)
    n += dynamic_cast<T*>(f.Extensions().Extensions(k)) != nullptr;
  return n;
}

const TColor kRed = Rgb(255, 0, 0), kGreen = Rgb(0, 255, 0), kBlue = Rgb(0, 0, 255),
             kWhite = Rgb(255, 255, 255);

}  // namespace

TEST(GifColorMapOptimizer, SharedColoursEndInOneGlobalTableByTotalUse) {
  TGIFImage image;
  // Red is used 1 + 3 = 4 times, green 3, blue 2 + 0 = 2 (blue of frame 2 unused), white 1.
  TGIFFrame* a = AddFrame(image, {0, 0, 3, 2}, {kRed, kGreen, kBlue}, {0, 1, 1, 1, 2, 2});
  TGIFFrame* b = AddFrame(image, {0, 0, 5, 1}, {kWhite, kBlue, kRed}, {2, 2, 2, 0, 2});
  // One more red in frame 2 makes 1 + 4 = 5.
  auto beforeA = Shown(*a), beforeB = Shown(*b);
  image.OptimizeColorMap();
  EXPECT_EQ(Table(image.GlobalColorMap()), (std::vector<TColor>{kRed, kGreen, kBlue, kWhite}));
  EXPECT_TRUE(image.GlobalColorMap().Optimized());
  EXPECT_EQ(a->ColorMap().Count(), 0);
  EXPECT_EQ(b->ColorMap().Count(), 0);
  EXPECT_EQ(Shown(*a), beforeA);
  EXPECT_EQ(Shown(*b), beforeB);
  EXPECT_EQ(Bytes(b->Data(), b->Data() + 5), (Bytes{0, 0, 0, 3, 0}));
}

TEST(GifColorMapOptimizer, BeyondTheLimitColoursMapToTheNearestKeptOne) {
  for (bool transparency : {false, true}) {
    TGIFImage image;
    // Frame 1: 256 greys, each twice (grey 0 three times); frame 2: ten blues of (g, g, g + 1)
    // used once each, fewer than any grey. With transparency one grey gives way to the
    // transparent entry.
    std::vector<TColor> greys;
    Bytes pa;
    for (int g = 0; g < 256; ++g) {
      greys.push_back(Rgb(g, g, g));
      pa.insert(pa.end(), {uint8_t(g), uint8_t(g)});
    }
    pa.push_back(0);
    TGIFFrame* a = AddFrame(image, {0, 0, int(pa.size()), 1}, greys, pa);
    std::vector<TColor> tints;
    Bytes pb;
    for (int k = 0; k < 10; ++k) {
      tints.push_back(Rgb(20 * k, 20 * k, 20 * k + 1));
      pb.push_back(uint8_t(k));
    }
    tints.push_back(kRed);  // the transparent index of frame 2
    if (transparency) {
      pb.push_back(10);
      pb.push_back(10);
      pb.push_back(10);
    }
    TGIFFrame* b = AddFrame(image, {0, 0, int(pb.size()), 1}, tints, pb);
    if (transparency) Gce(b, 10);
    image.OptimizeColorMap();
    TGIFGlobalColorMap& map = image.GlobalColorMap();
    ASSERT_EQ(map.Count(), 256);
    EXPECT_EQ(map.GetColor(0), Rgb(0, 0, 0));
    for (int k = 0; k < 10; ++k)
      EXPECT_EQ(map.GetColor(b->Data()[k]), Rgb(20 * k, 20 * k, 20 * k)) << k;
    if (transparency) {
      EXPECT_EQ(b->GraphicControlExtension()->TransparentColorIndex(), 255);
      EXPECT_EQ(map.GetColor(255), TColor(0));
      EXPECT_EQ(b->Data()[10], 255);
      // Equal counts keep the order of the colour sort (largest value first), so the last
      // of the twice-used greys is grey 1; it shows as the first kept colour at the same
      // distance, grey 0 (grey 2 is as near but comes later).
      EXPECT_EQ(map.GetColor(a->Data()[2 * 1]), Rgb(0, 0, 0));
      EXPECT_EQ(map.GetColor(a->Data()[2 * 2]), Rgb(2, 2, 2));
    } else {
      for (int g = 0; g < 256; ++g) EXPECT_EQ(map.GetColor(a->Data()[2 * g]), Rgb(g, g, g));
    }
  }
}

TEST(GifColorMapOptimizer, UnusedTransparencyIsDroppedAndUsedOneGoesLast) {
  TGIFImage image;
  image.GlobalColorMap().Add(kRed);
  image.GlobalColorMap().Add(kGreen);
  image.GlobalColorMap().Add(kBlue);
  TGIFFrame* unused = AddFrame(image, {0, 0, 2, 1}, {}, {0, 1});
  Gce(unused, 2);
  TGIFFrame* used = AddFrame(image, {0, 0, 3, 1}, {}, {2, 0, 0});
  Gce(used, 2);
  TGIFFrame* local = AddFrame(image, {0, 0, 2, 1}, {kWhite, kGreen}, {0, 1});
  Gce(local, 0);
  // An opaque frame after the transparent ones: its blue (old index 2) stays blue.
  TGIFFrame* opaque = AddFrame(image, {0, 0, 1, 1}, {}, {2});
  image.OptimizeColorMap();
  EXPECT_FALSE(unused->Transparent());
  TGIFGlobalColorMap& map = image.GlobalColorMap();
  const int last = map.Count() - 1;
  EXPECT_EQ(map.GetColor(last), TColor(0));
  for (TGIFFrame* f : {used, local}) {
    ASSERT_TRUE(f->Transparent());
    EXPECT_EQ(f->GraphicControlExtension()->TransparentColorIndex(), last);
  }
  EXPECT_EQ(Shown(*used), (std::vector<int64_t>{-1, kRed, kRed}));
  EXPECT_EQ(Shown(*local), (std::vector<int64_t>{-1, kGreen}));
  EXPECT_EQ(Shown(*opaque), (std::vector<int64_t>{kBlue}));
  EXPECT_EQ(Shown(*unused), (std::vector<int64_t>{kRed, kGreen}));
}

TEST(GifColorMapOptimizer, OutOfTableIndexIsRepairedWithAWarning) {
  TGIFImage image;
  std::vector<std::string> warnings;
  image.OnWarning = [&](const void*, TGIFSeverity, const std::string& m) { warnings.push_back(m); };
  TGIFFrame* f = AddFrame(image, {0, 0, 3, 1}, {kRed, kGreen}, {1, 5, 7});
  image.OptimizeColorMap();
  EXPECT_EQ(warnings, std::vector<std::string>{"Couleur absente dans la table des couleurs"});
  EXPECT_EQ(Shown(*f), (std::vector<int64_t>{kGreen, kRed, kRed}));
}

TEST(GifColorMapOptimizer, FrameWithoutAnyTableLeavesTheTablesAlone) {
  TGIFImage image;
  TGIFFrame* bare = AddFrame(image, {0, 0, 2, 1}, {}, {3, 1});
  TGIFFrame* local = AddFrame(image, {0, 0, 2, 1}, {kRed, kGreen}, {1, 1});
  image.OptimizeColorMap();
  EXPECT_EQ(image.GlobalColorMap().Count(), 0);
  EXPECT_EQ(Table(local->ColorMap()), (std::vector<TColor>{kRed, kGreen}));
  EXPECT_EQ(Bytes(bare->Data(), bare->Data() + 2), (Bytes{3, 1}));
}

TEST(GifColorMapOptimizer, BackgroundColourKeepsItsColour) {
  TGIFImage image;
  for (TColor c : {kRed, kGreen, kBlue}) image.GlobalColorMap().Add(c);
  image.Header().SetBackgroundColorIndex(0);  // red, which no pixel uses
  AddFrame(image, {0, 0, 3, 1}, {}, {2, 2, 1});
  image.OptimizeColorMap();
  EXPECT_EQ(image.GlobalColorMap().GetColor(image.BackgroundColorIndex()), kRed);
  TGIFImage second;
  for (TColor c : {kRed, kGreen, kBlue}) second.GlobalColorMap().Add(c);
  second.Header().SetBackgroundColorIndex(0);
  AddFrame(second, {0, 0, 3, 1}, {}, {2, 2, 1});
  second.Optimize(ooColorMap);
  EXPECT_EQ(second.GlobalColorMap().GetColor(second.BackgroundColorIndex()), kRed);
}

TEST(GifOptimize, EmptyImageChangesNothingAndReportsNoProgress) {
  TGIFImage image;
  int progress = 0, changes = 0;
  image.OnProgress = [&](TGraphic&, TProgressStage, uint8_t, bool, const TRect&,
                         const std::string&) { ++progress; };
  image.OnChange = [&](TGraphic&) { ++changes; };
  image.Optimize(ooAll);
  EXPECT_EQ(progress, 0);
  EXPECT_EQ(changes, 0);
}

TEST(GifOptimize, FrameWithoutPixelsKeepsItsColours) {
  TGIFImage image;
  TGIFFrame* empty = TGIFFrame::Create(&image);
  for (TColor c : {kRed, kGreen, kBlue}) empty->ColorMap().Add(c);
  AddFrame(image, {0, 0, 1, 1}, {kWhite, kRed}, {1});
  image.Optimize(ooColorMap);
  EXPECT_EQ(Table(empty->ColorMap()), (std::vector<TColor>{kRed, kGreen, kBlue}));
}

TEST(GifOptimize, ReportsOptimisationFromZeroToHundred) {
  TGIFImage image;
  image.GlobalColorMap().Add(kRed);
  image.GlobalColorMap().Add(kGreen);
  AddFrame(image, {0, 0, 2, 1}, {}, {1, 1});
  std::vector<std::pair<TProgressStage, int>> seen;
  image.OnProgress = [&](TGraphic&, TProgressStage s, uint8_t p, bool, const TRect&,
                         const std::string& m) {
    EXPECT_EQ(m, "Optimisation");
    seen.push_back({s, p});
  };
  image.Optimize(ooAll);
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front(), std::make_pair(psStarting, 0));
  EXPECT_EQ(seen.back(), std::make_pair(psEnding, 100));
  for (size_t i = 1; i + 1 < seen.size(); ++i) EXPECT_EQ(seen[i].first, psRunning);
}

TEST(GifOptimize, CleanupOfOneFrameRemovesControlLoopAndComment) {
  TGIFImage image;
  TGIFFrame* f = AddFrame(image, {0, 0, 2, 1}, {kRed, kGreen}, {0, 1});
  Gce(f, -1, 50, dmBackground);
  TGIFExtension::Create(ExtensionClassOf<TGIFAppExtNSLoop>(), f);
  TGIFExtension::Create(ExtensionClassOf<TGIFCommentExtension>(), f);
  image.Optimize(ooCleanup);
  ASSERT_EQ(image.Images().Count(), 1);
  EXPECT_EQ(f->Extensions().Count(), 0);
  EXPECT_EQ(f->GraphicControlExtension(), nullptr);
  // Waiting for input keeps the extension.
  TGIFImage waiting;
  TGIFFrame* w = AddFrame(waiting, {0, 0, 1, 1}, {kRed}, {0});
  Gce(w)->SetUserInput(true);
  waiting.Optimize(ooCleanup);
  EXPECT_NE(w->GraphicControlExtension(), nullptr);
}

TEST(GifOptimize, CleanupDropsUnusedTransparencyAndKeepsTheLoopOnFrameZero) {
  TGIFImage image;
  TGIFFrame* a = AddFrame(image, {0, 0, 2, 1}, {kRed, kGreen}, {0, 1});
  Gce(a, 1, 10);
  TGIFFrame* b = AddFrame(image, {0, 0, 2, 1}, {kRed, kGreen, kBlue}, {0, 1});
  Gce(b, 2, 10);
  auto* loop = static_cast<TGIFAppExtNSLoop*>(
      TGIFExtension::Create(ExtensionClassOf<TGIFAppExtNSLoop>(), b));
  loop->SetLoops(3);
  image.Optimize(ooCleanup);
  EXPECT_TRUE(a->Transparent());
  EXPECT_FALSE(b->Transparent());
  EXPECT_EQ(CountExtensions<TGIFAppExtNSLoop>(*b), 0);
  ASSERT_EQ(CountExtensions<TGIFAppExtNSLoop>(*a), 1);
  EXPECT_EQ(static_cast<TGIFAppExtNSLoop*>(a->Extensions().Extensions(0))->Loops(), 3);
}

TEST(GifOptimize, DisposalIsClearedOnlyWhenTheNextFrameCoversTheFrame) {
  TGIFImage image;
  image.SetWidth(4);
  image.SetHeight(4);
  TGIFFrame* big = AddFrame(image, {0, 0, 4, 4}, {kRed}, Bytes(16, 0));
  Gce(big, -1, 10, dmBackground);
  // A smaller opaque frame inside: what lies outside it must still be cleared.
  TGIFFrame* small = AddFrame(image, {1, 1, 3, 3}, {kGreen}, Bytes(4, 0));
  Gce(small, -1, 10, dmPrevious);
  TGIFFrame* cover = AddFrame(image, {0, 0, 4, 4}, {kBlue}, Bytes(16, 0));
  Gce(cover, -1, 10, dmNone);
  image.Optimize(ooCleanup);
  EXPECT_EQ(big->GraphicControlExtension()->Disposal(), dmBackground);
  EXPECT_EQ(small->GraphicControlExtension()->Disposal(), dmNone);
}

TEST(GifOptimize, MergedFrameDoesNotBorrowAnIndexItDrawsWith) {
  TGIFImage image;
  for (TColor c : {kRed, kGreen, kBlue}) image.GlobalColorMap().Add(c);
  TGIFFrame* a = AddFrame(image, {0, 0, 3, 1}, {}, {0, 1, 2});
  Gce(a, -1, 10);
  TGIFFrame* b = AddFrame(image, {0, 0, 3, 1}, {}, {0, 2, 2});
  Gce(b, -1, 10);
  // The third frame is transparent through blue's index, which frame b draws with.
  TGIFFrame* c = AddFrame(image, {0, 0, 3, 1}, {}, {2, 1, 2});
  Gce(c, 2, 10);
  image.Optimize(ooMerge);
  EXPECT_EQ(Shown(*c), (std::vector<int64_t>{-1, kGreen, -1}));
  // b repeats a's red and a's blue; its middle blue over a's green must stay.
  EXPECT_EQ(Shown(*b), (std::vector<int64_t>{-1, kBlue, -1}));
  EXPECT_NE(b->GraphicControlExtension()->TransparentColorIndex(), 2);
}

// ---------------------------------------------------------------------------------------
// The loop count giflib reads, and the command's own output.
// ---------------------------------------------------------------------------------------

namespace {

std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
  }
  return out;
}

int GiflibLoopCount(const std::string& path) {
  int error = 0;
  GifFileType* g = DGifOpenFileName(path.c_str(), &error);
  if (!g) return -2;
  int loops = -1;
  if (DGifSlurp(g) == GIF_OK)
    for (int i = 0; i < g->ImageCount && loops < 0; ++i) {
      const SavedImage& s = g->SavedImages[i];
      for (int k = 0; k + 1 < s.ExtensionBlockCount; ++k)
        if (s.ExtensionBlocks[k].Function == APPLICATION_EXT_FUNC_CODE &&
            s.ExtensionBlocks[k].ByteCount == 11 &&
            !memcmp(s.ExtensionBlocks[k].Bytes, "NETSCAPE2.0", 11) &&
            s.ExtensionBlocks[k + 1].ByteCount >= 3)
          loops = s.ExtensionBlocks[k + 1].Bytes[1] | (s.ExtensionBlocks[k + 1].Bytes[2] << 8);
    }
  DGifCloseFile(g, &error);
  return loops;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// What plays: each animation through the renderer on a manual clock before and after
// optimizing, every screen pixel for pixel with the milliseconds it stays, two passes.
// ---------------------------------------------------------------------------------------

namespace {

using gif_plans::PlayedTimeline;
using gif_plans::Solid;
using gif_plans::TAnimPlan;
using gif_plans::TFramePlan;
using gif_plans::TTimeline;
using gif_plans::TWatchedGIFImage;

std::vector<int64_t> Times(const TTimeline& t) {
  std::vector<int64_t> out;
  for (const auto& s : t) out.push_back(s.Milliseconds);
  return out;
}

void ExpectSamePlay(TWatchedGIFImage& image, TGIFOptimizeOptions options) {
  const TTimeline before = PlayedTimeline(image);
  image.Optimize(options);
  const TTimeline after = PlayedTimeline(image);
  EXPECT_EQ(Times(after), Times(before));
  EXPECT_EQ(after, before);
}

void ExpectSamePlay(const TAnimPlan& plan, TGIFOptimizeOptions options) {
  TWatchedGIFImage image;
  gif_plans::Load(image, gif_plans::EncodeAnimation(plan));
  ExpectSamePlay(image, options);
}

// A 12 x 2 screen. A: red over the left half; B: green over the right half; a frame of
// index 0 everywhere, transparent through it, draws nothing.
TFramePlan Clear(int delay) {
  TFramePlan f = Solid(0, 0, 12, 2, 0, delay);
  f.Transparent = 0;
  return f;
}
TAnimPlan Wide(std::vector<TFramePlan> frames, int loops = -1) {
  TAnimPlan p;
  p.Width = 12, p.Height = 2, p.Loops = loops;
  p.Frames = std::move(frames);
  return p;
}
const TFramePlan kA = Solid(0, 0, 6, 2, 1, 0), kB = Solid(6, 0, 6, 2, 2, 10);

// Frames 4 to 6 of the shared files' disposal tests, built small: what each fault broke.
std::vector<std::pair<std::string, TAnimPlan>> FaultPlans() {
  TFramePlan a600 = kA;
  a600.Delay = 600;
  TFramePlan mark = Clear(10);  // one red pixel, cleared to background after
  mark.Pixels[0] = 1;
  mark.Disposal = 2;
  TFramePlan unusedTransparency = Solid(0, 0, 4, 2, 1, 10);
  unusedTransparency.Transparent = 7;
  TFramePlan lastPixel = Clear(10);
  lastPixel.Pixels[11] = 4;
  return {
      {"delays 0 + 25", Wide({kA, Clear(25), kB})},
      {"600 + 600", Wide({a600, Clear(600), kB})},
      {"four equal frames of delay 0", Wide({kA, kA, kA, kA, kB})},
      {"equal frames last, endless", Wide({kB, kA, kA, kA}, 0)},
      {"cleared to background, then small frames, endless",
       Wide({mark, Solid(3, 0, 2, 2, 2), Solid(6, 0, 2, 2, 3), Solid(9, 0, 2, 2, 4)}, 0)},
      {"unused transparency, frames not covering the screen",
       Wide({unusedTransparency, Solid(6, 0, 4, 2, 2)})},
      {"last frame one pixel, endless",
       Wide({Solid(0, 0, 3, 2, 1), Solid(4, 0, 3, 2, 2), lastPixel}, 0)},
  };
}

// A 160 x 120 grey photograph: a global table of 256 greys (index n is grey n), background
// index 255, every grey used but one.
Bytes GreyPhotograph() {
  Bytes out;
  int error = 0;
  GifFileType* g = EGifOpen(&out, gif_plans::WriteToVector, &error);
  std::vector<GifColorType> greys(256);
  for (int i = 0; i < 256; ++i) greys[size_t(i)] = {uint8_t(i), uint8_t(i), uint8_t(i)};
  ColorMapObject* map = GifMakeMapObject(256, greys.data());
  EGifPutScreenDesc(g, 160, 120, 8, 255, map);
  EGifPutImageDesc(g, 0, 0, 160, 120, false, nullptr);
  Bytes pixels(160 * 120);
  for (size_t i = 0; i < pixels.size(); ++i)
    pixels[i] = uint8_t((i * 7 + (i / 160) * 13 + (i * i) % 17) % 255);
  EGifPutLine(g, pixels.data(), int(pixels.size()));
  EGifCloseFile(g, &error);
  GifFreeMapObject(map);
  return out;
}

}  // namespace

TEST(GifOptimizePlay, FoldedFramesKeepTheirPlayedTime) {
  // A frame that draws nothing adds its played time to the frame before it: a delay of 0
  // plays as 10 units, the sum may not pass the longest delay played, and a frame without
  // pixels before it is skipped by the renderer, so the time goes to the frame before that.
  for (const auto& [name, plan] : FaultPlans()) {
    if (name != "delays 0 + 25" && name != "600 + 600" && name != "four equal frames of delay 0" &&
        name != "equal frames last, endless")
      continue;
    SCOPED_TRACE(name);
    ExpectSamePlay(plan, ooAll);
  }
  // B keeps the animation transparent when the clear frame goes.
  TFramePlan b = kB;
  b.Transparent = 0;
  b.Pixels[0] = 0;
  TWatchedGIFImage image;
  gif_plans::Load(image, gif_plans::EncodeAnimation(Wide({kA, Clear(50), b})));
  TGIFImageList& frames = image.Images();
  TGIFFrame::Create(&image);
  frames.Move(frames.Count() - 1, 1);  // a frame without pixels between A and the clear one
  ExpectSamePlay(image, ooCrop);
  // The fold does happen: A with its time and the clear frame's, the empty frame, B.
  EXPECT_EQ(image.Images().Count(), 3);
  EXPECT_EQ(Times(PlayedTimeline(image)), (std::vector<int64_t>{720, gif_plans::kForever}));
}

TEST(GifOptimizePlay, CroppingKeepsWhatDisposalAndANewPassClear) {
  // Frame 0 is cleared to background after it is shown; in the second pass the screen
  // still holds the small frames of the first, and only its whole area clears them.
  for (const auto& [name, plan] : FaultPlans()) {
    if (name != "cleared to background, then small frames, endless" &&
        name != "last frame one pixel, endless")
      continue;
    SCOPED_TRACE(name);
    ExpectSamePlay(plan, ooCrop);
  }
  // Where the screen shows background already, the border is cut.
  TAnimPlan fresh = Wide({Clear(10), Clear(10)});
  fresh.Frames[0].Pixels[13] = fresh.Frames[1].Pixels[13] = 1;
  fresh.Frames[0].Disposal = fresh.Frames[1].Disposal = 2;
  TWatchedGIFImage image;
  gif_plans::Load(image, gif_plans::EncodeAnimation(fresh));
  ExpectSamePlay(image, ooCrop);
  EXPECT_EQ(image.Images().Frames(0)->BoundsRect(), (TRect{1, 1, 2, 2}));
}

TEST(GifOptimizePlay, TransparencyNoPixelUsesStaysWhereTheBackgroundShows) {
  for (const auto& [name, plan] : FaultPlans()) {
    if (name != "unused transparency, frames not covering the screen") continue;
    ExpectSamePlay(plan, ooCleanup);
    TWatchedGIFImage image;
    gif_plans::Load(image, gif_plans::EncodeAnimation(plan));
    image.OptimizeColorMap();
    EXPECT_TRUE(image.IsTransparent());
  }
}

// Every shared test GIF, and the animations these tests build, through the command with its
// default options and with each option alone: the same screens for the same times.
#ifdef VITRELLE_IMG
TEST(GifOptimizeFiles, OptimiserPlaysTheSameScreensForTheSameTimes) {
  std::vector<std::pair<std::string, Bytes>> inputs;
  if (vitrelle_test::TestDataPresent())
    for (const auto& entry :
         std::filesystem::directory_iterator(vitrelle_test::TestDataPath("gif")))
      if (entry.path().extension() == ".gif") {
        std::ifstream in(entry.path(), std::ios::binary);
        inputs.push_back(
            {entry.path().filename().string(), Bytes(std::istreambuf_iterator<char>(in), {})});
      }
  for (const auto& [name, plan] : FaultPlans())
    inputs.push_back({name, gif_plans::EncodeAnimation(plan)});
  for (int loops : {-1, 0}) {
    int k = 0;
    for (const TAnimPlan& plan : gif_plans::DisposalPairPlans(loops))
      inputs.push_back({"disposals " + std::to_string(k++) + " loops " + std::to_string(loops),
                        gif_plans::EncodeAnimation(plan)});
  }
  inputs.push_back({"grey photograph", GreyPhotograph()});
  const std::string dir = ::testing::TempDir() + "/vitrelle_played_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  const std::string in = dir + "/in.gif", out = dir + "/out.gif";
  for (const auto& [name, bytes] : inputs) {
    TTimeline before;
    try {
      before = PlayedTimeline(bytes);
    } catch (const Exception&) {
      continue;  // damaged files are the reading tests' business
    }
    std::ofstream(in, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    for (const std::string options : {"", "crop", "merge", "cleanup", "colormap"}) {
      SCOPED_TRACE(name + " --options " + options);
      const std::string command = std::string(VITRELLE_IMG) + " optimiser " + in + " " + out +
                                  (options.empty() ? "" : " --options " + options) + " > /dev/null";
      ASSERT_EQ(std::system(command.c_str()), 0);
      std::ifstream result(out, std::ios::binary);
      const TTimeline after = PlayedTimeline(Bytes(std::istreambuf_iterator<char>(result), {}));
      EXPECT_EQ(Times(after), Times(before));
      EXPECT_EQ(after, before);
      EXPECT_EQ(GiflibLoopCount(out), GiflibLoopCount(in));
      EXPECT_LE(std::filesystem::file_size(out), bytes.size());
    }
  }
  std::filesystem::remove_all(dir);
}
#endif

#ifdef VITRELLE_IMG
TEST(GifOptimizeFiles, CommandNeverEnlargesAndSaysWhatLeft) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string dir = ::testing::TempDir() + "/vitrelle_optimiser_" + std::to_string(getpid());
  std::filesystem::create_directories(dir);
  // A file that cannot shrink: a 1x1 GIF without anything to remove.
  TGIFImage tiny;
  AddFrame(tiny, {0, 0, 1, 1}, {kRed, kGreen}, {1});
  tiny.SaveToFile(dir + "/tiny.gif");
  std::string said =
      Shell(std::string(VITRELLE_IMG) + " optimiser " + dir + "/tiny.gif " + dir + "/out.gif");
  EXPECT_NE(said.find("l'entrée est écrite telle quelle"), std::string::npos) << said;
  std::ifstream a(dir + "/tiny.gif", std::ios::binary), b(dir + "/out.gif", std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}),
            std::string(std::istreambuf_iterator<char>(b), {}));
  const std::string moon = vitrelle_test::TestDataDir() + "/gif/imagegif-moon_impact-anim14.gif";
  said = Shell(std::string(VITRELLE_IMG) + " optimiser " + moon + " " + dir + "/moon.gif");
  EXPECT_NE(said.find("Trame 1 supprimée"), std::string::npos) << said;
  EXPECT_LT(std::filesystem::file_size(dir + "/moon.gif"), std::filesystem::file_size(moon));
  std::filesystem::remove_all(dir);
}
#endif

// Inputs the fuzzer found through the optimizer: each one optimizes (or is refused with a
// GIF error) and what is saved reads back.
TEST(GifOptimizeFiles, FuzzInputsOptimizeAndReadBack) {
  const std::filesystem::path dir =
      std::filesystem::path(VITRELLE_SOURCE_DIR) / "fuzz" / "crashers" / "fuzz_gif";
  int optimized = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    SCOPED_TRACE(entry.path().string());
    TGIFImage image;
    try {
      image.LoadFromFile(entry.path().string());
      if (image.Empty() || int64_t(image.Width()) * image.Height() > (1 << 20)) continue;
      image.OptimizeColorMap();
      image.Optimize(ooAll);
    } catch (const GIFException&) {
      continue;
    } catch (const EOutOfResources&) {
      continue;
    }
    if (image.Empty()) continue;
    TMemoryStream saved;
    try {
      image.SaveToStream(saved);
    } catch (const GIFException&) {
      continue;  // some inputs cannot be saved at all (pixels beyond their table)
    }
    saved.SetPosition(0);
    TGIFImage back;
    EXPECT_NO_THROW(back.LoadFromStream(saved));
    ++optimized;
  }
  EXPECT_GT(optimized, 0);
}
