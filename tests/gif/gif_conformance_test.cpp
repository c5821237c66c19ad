// The GIF picture against the outside world: every real file of the shared folder loads
// through the picture registry and draws its first frame exactly as giflib decodes it;
// every malformed file ends in a warning, a GIF error or a partial picture.
#include <filesystem>
#include <fstream>
#include <iterator>

#include "codecs.h"
#include "gif_conformance_support.h"
#include "testdata.h"

namespace {

using namespace gif_test;
namespace fs = std::filesystem;

TBytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> GifFiles(const std::string& folder) {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(vitrelle_test::TestDataPath(folder)))
    if (entry.is_regular_file() && entry.path().extension() == ".gif")
      files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

class GifFolderTest : public ::testing::Test {
 protected:
  TCodecRegistration codecs;
};

// Loading by extension through TPicture, then frame 0 on the logical screen pixel by pixel
// against giflib's DGifSlurp, transparent pixels showing what was drawn underneath.
TEST_F(GifFolderTest, EveryValidFileShowsGiflibsFirstFrame) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::vector<std::string> files = GifFiles("gif");
  ASSERT_FALSE(files.empty());
  int matching = 0;
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const TBytes bytes = ReadFile(path);
    const gif_build::TComposite ref = gif_build::ComposeFirstFrame(bytes.data(), bytes.size());
    ASSERT_TRUE(ref.Ok) << "the reference refuses a valid file: " << ref.Why;
    TPicture picture;
    ASSERT_NO_THROW(picture.LoadFromFile(path));
    ASSERT_NE(picture.Graphic(), nullptr);
    ASSERT_EQ(picture.Graphic()->ClassName(), "TGIFImage");
    TGraphic& gif = *picture.Graphic();
    EXPECT_EQ(gif.Width(), ref.Width);
    EXPECT_EQ(gif.Height(), ref.Height);
    if (gif.Width() != ref.Width || gif.Height() != ref.Height) continue;
    std::string report;
    const int bad = CompareWithReference(gif, ref, &report);
    EXPECT_EQ(bad, 0) << report;
    matching += bad == 0;
  }
  std::printf("[ conformance ] %d of %zu valid GIFs show giflib's frame 0 exactly\n", matching,
              files.size());
}

// Every frame, not only the first: bounds and colour indices as giflib reads them.
TEST_F(GifFolderTest, EveryFrameHoldsGiflibsIndices) {
  VITRELLE_REQUIRE_TESTDATA();
  int frames = 0;
  for (const std::string& path : GifFiles("gif")) {
    SCOPED_TRACE(path);
    const TBytes bytes = ReadFile(path);
    bool complete = false;
    gif_build::detail::TMemorySource source{bytes.data(), bytes.size()};
    gif_build::TGiflibFile ref =
        gif_build::SlurpWithGiflib(bytes.data(), bytes.size(), &complete, &source);
    ASSERT_TRUE(ref && complete);
    std::unique_ptr<TGIFImage> gif = LoadGif(bytes);
    // Frames holding only extensions (after the last picture) are ours alone.
    std::vector<TGIFFrame*> pictures;
    for (int i = 0; i < gif->Images().Count(); ++i)
      if (!gif->Images().Frames(i)->Empty()) pictures.push_back(gif->Images().Frames(i));
    ASSERT_EQ(int(pictures.size()), ref->ImageCount);
    for (int i = 0; i < ref->ImageCount; ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      const GifImageDesc& d = ref->SavedImages[i].ImageDesc;
      TGIFFrame& f = *pictures[size_t(i)];
      ASSERT_EQ(f.BoundsRect(), Rect(d.Left, d.Top, d.Left + d.Width, d.Top + d.Height));
      ASSERT_EQ(f.DataSize(), size_t(d.Width) * size_t(d.Height));
      const uint8_t* want = ref->SavedImages[i].RasterBits;
      const size_t differ =
          size_t(std::mismatch(f.Data(), f.Data() + f.DataSize(), want).first - f.Data());
      EXPECT_EQ(differ, f.DataSize()) << "first differing pixel";
      ++frames;
    }
  }
  std::printf("[ conformance ] %d frames hold exactly giflib's indices\n", frames);
}

enum TOutcome { oLoaded, oLoadedWithWarnings, oGifError, oBudget };

// Loads, draws and converts; any exception other than a GIF error or the size budget's
// refusal fails the test.
TOutcome TryBadFile(const TBytes& bytes, std::string* detail) {
  TWarnings warnings;
  auto image = std::make_unique<TGIFImage>();
  warnings.Attach(*image);
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  TOutcome outcome = oLoaded;
  try {
    image->LoadFromStream(stream);
    outcome = warnings.Messages.empty() ? oLoaded : oLoadedWithWarnings;
    *detail = warnings.All();
  } catch (const GIFException& e) {
    *detail = e.Message();
    outcome = oGifError;
  } catch (const EOutOfResources& e) {
    *detail = e.Message();
    outcome = oBudget;
  }
  // Whatever came of it, the picture must stay usable.
  TBitmap target;
  target.SetSize(31, 17);
  try {
    image->Draw(target.Canvas(), Rect(0, 0, 31, 17));
    if (TBitmap* composite = image->Bitmap()) (void)composite->Width();
    TGIFImage copy;
    copy.Assign(*image);
    EXPECT_EQ(copy.Images().Count(), image->Images().Count());
  } catch (const GIFException&) {
  }
  // Without a handler the same bytes give the same end, silently.
  TGIFImage silent;
  TReadOnlyMemoryStream again(bytes.data(), bytes.size());
  try {
    silent.LoadFromStream(again);
    EXPECT_TRUE(outcome == oLoaded || outcome == oLoadedWithWarnings);
  } catch (const GIFException&) {
    EXPECT_EQ(outcome, oGifError);
  } catch (const EOutOfResources&) {
    EXPECT_EQ(outcome, oBudget);
  }
  return outcome;
}

// What each malformed file of the shared folder must end in, read off its bytes: the error,
// or the warnings in order, the frames kept and the logical screen.
struct TBadFileEnd {
  const char* Name;
  const char* Error;  // null: it loads
  std::vector<std::string> Warnings;
  int Frames, Width, Height;
};
const char* const kScreenGrows = "L'image excède la taille d'écran logique";
const char* const kBadSize = "Taille d'image incorrecte";
const TBadFileEnd kBadFiles[] = {
    // A 16 x 16 frame on a 10 x 10 screen: the screen grows to hold it.
    {"image-issue_1455_oversized.gif", nullptr, {kScreenGrows}, 1, 16, 16},
    // The same frame at (24, 24) of a 32 x 32 screen: it grows to 40 x 40.
    {"image-oob.gif", nullptr, {kScreenGrows}, 1, 40, 40},
    // A frame of width 0 takes the screen's 6727 x 65351, far more pixels than its ten
    // bytes of data can describe: the frame is dropped.
    {"imagegif-issue-101-infinite-empty-loop.gif",
     nullptr,
     {kScreenGrows, kBadSize},
     0,
     6727,
     65351},
    // Minimum code size 0: after 22 pixels a code comes whose table entry is its own prefix.
    {"imagegif-issue-117-out-of-range.gif",
     "Entrée de la table du décodeur circulaire",
     {},
     0,
     0,
     0},
    // A frame 64311 wide from column 12595 is cut at 65535; its 56 rows are then far more
    // than its two bytes of data describe: dropped.
    {"imagegif-issue-96-small-codesize-2.gif", nullptr, {kBadSize, kBadSize}, 0, 11390, 12595},
    // A frame of size 0 takes the screen's size, 185 x 0, which holds no pixel: dropped.
    {"imagegif-issue-96-small-codesize.gif", nullptr, {kScreenGrows}, 0, 185, 0},
};

TEST_F(GifFolderTest, EveryMalformedFileEndsAsItsBytesSay) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::vector<std::string> files = GifFiles("gif/bad");
  ASSERT_FALSE(files.empty());
  for (const std::string& path : files) {
    SCOPED_TRACE(path);
    const std::string name = fs::path(path).filename().string();
    const auto end = std::find_if(std::begin(kBadFiles), std::end(kBadFiles),
                                  [&](const TBadFileEnd& e) { return name == e.Name; });
    ASSERT_NE(end, std::end(kBadFiles)) << "no expected end written down";
    const TBytes bytes = ReadFile(path);
    std::string detail;
    const TOutcome o = TryBadFile(bytes, &detail);
    if (end->Error) {
      EXPECT_EQ(o, oGifError);
      EXPECT_EQ(detail, end->Error);
      continue;
    }
    ASSERT_TRUE(o == oLoaded || o == oLoadedWithWarnings) << detail;
    TWarnings warnings;
    std::unique_ptr<TGIFImage> gif = LoadGif(bytes, &warnings);
    EXPECT_EQ(warnings.Messages, end->Warnings);
    EXPECT_EQ(gif->Width(), end->Width);
    EXPECT_EQ(gif->Height(), end->Height);
    ASSERT_EQ(gif->Images().Count(), end->Frames);
    if (end->Frames == 0) continue;
    // The frames it keeps hold what giflib reads.
    bool complete = false;
    gif_build::detail::TMemorySource source{bytes.data(), bytes.size()};
    gif_build::TGiflibFile ref =
        gif_build::SlurpWithGiflib(bytes.data(), bytes.size(), &complete, &source);
    ASSERT_TRUE(ref && complete);
    ASSERT_EQ(ref->ImageCount, end->Frames);
    for (int i = 0; i < end->Frames; ++i) {
      const SavedImage& r = ref->SavedImages[i];
      TGIFFrame& f = *gif->Images().Frames(i);
      EXPECT_EQ(f.BoundsRect(),
                Rect(r.ImageDesc.Left, r.ImageDesc.Top, r.ImageDesc.Left + r.ImageDesc.Width,
                     r.ImageDesc.Top + r.ImageDesc.Height));
      ASSERT_EQ(f.DataSize(), size_t(r.ImageDesc.Width) * size_t(r.ImageDesc.Height));
      EXPECT_TRUE(std::equal(f.Data(), f.Data() + f.DataSize(), r.RasterBits));
    }
  }
}

// Inputs the fuzzer once failed on, and its seeds: the same guarantees as the malformed
// files of the shared folder.
TEST(GifFuzzInputs, CrashersAndSeedsReplayCleanly) {
  int replayed = 0;
  for (const char* folder : {"/fuzz/crashers/fuzz_gif", "/fuzz/seeds/fuzz_gif"}) {
    const fs::path dir = fs::path(VITRELLE_SOURCE_DIR) / fs::path(folder).relative_path();
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::directory_iterator(dir)) {
      if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
      SCOPED_TRACE(entry.path().string());
      std::string detail;
      try {
        TryBadFile(ReadFile(entry.path().string()), &detail);
      } catch (const Exception& e) {
        ADD_FAILURE() << "neither a GIF error nor the budget's refusal: " << e.Message();
      }
      ++replayed;
    }
  }
  std::printf("[ fuzz inputs ] %d replayed\n", replayed);
}

// The workspace path for malformed files too: TPicture by extension keeps the previous
// picture when loading fails.
TEST_F(GifFolderTest, FailedLoadThroughThePictureKeepsThePreviousPicture) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string good = vitrelle_test::TestDataPath("gif/image-any-disposal.gif");
  for (const std::string& path : GifFiles("gif/bad")) {
    SCOPED_TRACE(path);
    TPicture picture;
    picture.LoadFromFile(good);
    TGraphic* before = picture.Graphic();
    try {
      picture.LoadFromFile(path);
    } catch (const GIFException&) {
      EXPECT_EQ(picture.Graphic(), before);
      EXPECT_EQ(picture.Width(), 32);
      EXPECT_EQ(picture.Height(), 32);
    } catch (const EOutOfResources&) {
    }
    ASSERT_NE(picture.Graphic(), nullptr);
    TBitmap target;
    target.SetSize(20, 20);
    try {
      target.Canvas().StretchDraw(Rect(0, 0, 20, 20), *picture.Graphic());
    } catch (const GIFException&) {
    }
  }
}

}  // namespace

namespace {

using gif_build::TGiflibFrame;
using gif_build::TGiflibPicture;

// Deterministic pseudo-random pictures of every shape: sizes from 1 pixel up, 2 to 256
// colours, flat runs, noise and repeats (long strings, many clears), interlaced or not,
// frames placed anywhere, with and without local maps and transparency. Each decodes to
// exactly the indices giflib wrote.
TEST(GifRandomPictures, DecodeToTheIndicesGiflibWrote) {
  uint32_t seed = 20261209;
  auto next = [&seed](uint32_t n) {
    seed = seed * 1664525u + 1013904223u;
    return (seed >> 8) % n;
  };
  int frames = 0;
  for (int picture = 0; picture < 60; ++picture) {
    TGiflibPicture p;
    p.Width = int(1 + next(picture % 4 == 0 ? 400 : 40));
    p.Height = int(1 + next(picture % 4 == 1 ? 400 : 40));
    const int colours = 2 << next(8);
    p.GlobalMap = Ramp(colours);
    const int count = int(1 + next(3));
    for (int i = 0; i < count; ++i) {
      TGiflibFrame f;
      f.Width = int(1 + next(uint32_t(p.Width)));
      f.Height = int(1 + next(uint32_t(p.Height)));
      f.Left = int(next(uint32_t(p.Width - f.Width + 1)));
      f.Top = int(next(uint32_t(p.Height - f.Height + 1)));
      f.Interlaced = next(2);
      const int local = next(3) == 0 ? 2 << next(8) : 0;
      if (local) f.LocalMap = Ramp(local);
      const uint32_t range = uint32_t(local ? local : colours);
      if (next(2)) f.Transparent = int(next(range));
      const uint32_t style = next(3);  // noise, runs, a repeated short pattern
      uint8_t run = 0;
      for (int k = 0; k < f.Width * f.Height; ++k) {
        if (style == 0 || next(16) == 0) run = uint8_t(next(range));
        f.Pixels.push_back(style == 2 ? uint8_t((k % 7) % range) : run);
      }
      p.Frames.push_back(std::move(f));
    }
    const TBytes file = gif_build::EncodeWithGiflib(p);
    SCOPED_TRACE("picture " + std::to_string(picture));
    std::unique_ptr<TGIFImage> gif = LoadGif(file);
    ASSERT_EQ(gif->Images().Count(), count);
    for (int i = 0; i < count; ++i) {
      TGIFFrame& f = *gif->Images().Frames(i);
      const TGiflibFrame& want = p.Frames[size_t(i)];
      ASSERT_EQ(f.BoundsRect(),
                Rect(want.Left, want.Top, want.Left + want.Width, want.Top + want.Height));
      ASSERT_EQ(TBytes(f.Data(), f.Data() + f.DataSize()), want.Pixels) << "frame " << i;
      ++frames;
    }
    // The same frame 0 written by the test's own encoder without any clear code.
    gif_build::TLzwOptions noClear;
    noClear.ClearAtStart = false;
    noClear.ClearWhenFull = false;
    const TGiflibFrame& f0 = p.Frames[0];
    const int bits = std::max(
        2, gif_build::TableSizeBits(f0.LocalMap.empty() ? p.GlobalMap.size() : f0.LocalMap.size()) +
               1);
    gif_build::TGifAssembler raw;
    raw.Screen(uint16_t(f0.Width), uint16_t(f0.Height), Ramp(256))
        .Descriptor(0, 0, uint16_t(f0.Width), uint16_t(f0.Height))
        .ImageData(uint8_t(bits), gif_build::LzwEncode(f0.Pixels, bits, noClear))
        .Trailer();
    std::unique_ptr<TGIFImage> mine = LoadGif(raw.Data());
    TGIFFrame& m = *mine->Images().Frames(0);
    EXPECT_EQ(TBytes(m.Data(), m.Data() + m.DataSize()), f0.Pixels) << "without clear codes";
  }
  std::printf("[ random ] %d frames decoded exactly\n", frames);
}

}  // namespace
