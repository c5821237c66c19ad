// The GIF optimizer: one global colour table by use, and Optimize's steps. Real files are
// checked against ImageMagick's coalesced frames (an independent compositor) before and after.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "GIFImg.h"
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

TEST(GifOptimize, CropKeepsTheRectangleThatDisposalToBackgroundClears) {
  TGIFImage image;
  // An opaque first frame: what the next frame's disposal clears is not background yet.
  Gce(AddFrame(image, {0, 0, 4, 4}, {kBlue}, Bytes(16, 0)), -1, 10, dmNone);
  Bytes pixels(16, 1);
  pixels[5] = 0;
  TGIFFrame* cleared = AddFrame(image, {0, 0, 4, 4}, {kRed, kGreen}, pixels);
  Gce(cleared, 1, 10, dmBackground);
  TGIFFrame* kept = AddFrame(image, {0, 0, 4, 4}, {kRed, kGreen}, pixels);
  Gce(kept, 1, 10, dmNone);
  image.Optimize(ooCrop);
  EXPECT_EQ(cleared->BoundsRect(), (TRect{0, 0, 4, 4}));
  EXPECT_EQ(kept->BoundsRect(), (TRect{1, 1, 2, 2}));
  // Where the screen shows background already, clearing less changes nothing.
  TGIFImage fresh;
  TGIFFrame* first = AddFrame(fresh, {0, 0, 4, 4}, {kRed, kGreen}, pixels);
  Gce(first, 1, 10, dmBackground);
  TGIFFrame* second = AddFrame(fresh, {0, 0, 4, 4}, {kRed, kGreen}, pixels);
  Gce(second, 1, 10, dmBackground);
  fresh.Optimize(ooCrop);
  EXPECT_EQ(first->BoundsRect(), (TRect{1, 1, 2, 2}));
  EXPECT_EQ(second->BoundsRect(), (TRect{1, 1, 2, 2}));
}

TEST(GifOptimize, FullyTransparentFrameFoldsIntoThePreviousDelay) {
  TGIFImage image;
  TGIFFrame* a = AddFrame(image, {0, 0, 2, 1}, {kRed, kGreen}, {0, 1});
  Gce(a, -1, 10);
  TGIFFrame* clear = AddFrame(image, {0, 0, 2, 1}, {kRed, kGreen}, {1, 1});
  Gce(clear, 1, 25);
  image.Optimize(ooCrop);
  ASSERT_EQ(image.Images().Count(), 1);
  EXPECT_EQ(a->GraphicControlExtension()->Delay(), 35);
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
// Real files: what ImageMagick composes before and after, and the loop count giflib reads.
// ---------------------------------------------------------------------------------------

namespace {

bool HaveConvert() {
  return std::system("convert -version > /dev/null 2>&1") == 0;
}

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

// The composed screens as shown over time: (RGBA with invisible pixels zeroed, delay),
// consecutive equal screens joined.
std::vector<std::pair<std::string, int>> Timeline(const std::string& path) {
  std::string raw = Shell("convert '" + path + "' -coalesce rgba:- 2>/dev/null");
  std::string info = Shell("identify -format '%T %W %H\\n' '" + path + "' 2>/dev/null");
  std::istringstream lines(info);
  std::vector<std::pair<std::string, int>> out;
  int delay, w, h;
  size_t offset = 0;
  while (lines >> delay >> w >> h) {
    const size_t n = size_t(w) * size_t(h) * 4;
    if (offset + n > raw.size()) break;
    std::string screen = raw.substr(offset, n);
    offset += n;
    for (size_t i = 0; i < n; i += 4)
      if (screen[i + 3] == 0) screen.replace(i, 4, 4, '\0');
    if (!out.empty() && out.back().first == screen)
      out.back().second += delay;
    else
      out.push_back({screen, delay});
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

TEST(GifOptimizeFiles, OptimizedFilesShowTheSameScreensAndLoops) {
  VITRELLE_REQUIRE_TESTDATA();
  if (!HaveConvert()) GTEST_SKIP() << "ImageMagick convert absent";
  const std::string dir = vitrelle_test::TestDataDir() + "/gif";
  const std::string out =
      ::testing::TempDir() + "/vitrelle_optimized_" + std::to_string(getpid()) + ".gif";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".gif") continue;
    const std::string in = entry.path().string();
    for (TGIFOptimizeOptions options :
         {TGIFOptimizeOptions(ooAll), TGIFOptimizeOptions(ooMerge | ooCrop)}) {
      TGIFImage image;
      image.LoadFromFile(in);
      image.Optimize(options);
      image.SaveToFile(out);
      EXPECT_EQ(Timeline(out), Timeline(in)) << in << " options " << int(options);
      EXPECT_EQ(GiflibLoopCount(out), GiflibLoopCount(in)) << in;
      TGIFImage back;
      back.LoadFromFile(out);
      EXPECT_FALSE(back.Empty());
    }
    ++files;
  }
  EXPECT_GE(files, 5);
  std::remove(out.c_str());
}

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
  // Every test animation through the command: never larger, the same screens and loops.
  if (HaveConvert())
    for (const auto& entry :
         std::filesystem::directory_iterator(vitrelle_test::TestDataDir() + "/gif")) {
      if (entry.path().extension() != ".gif") continue;
      const std::string in = entry.path().string(), out = dir + "/each.gif";
      Shell(std::string(VITRELLE_IMG) + " optimiser '" + in + "' " + out + " > /dev/null");
      EXPECT_LE(std::filesystem::file_size(out), std::filesystem::file_size(in)) << in;
      EXPECT_EQ(Timeline(out), Timeline(in)) << in;
      EXPECT_EQ(GiflibLoopCount(out), GiflibLoopCount(in)) << in;
    }
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
