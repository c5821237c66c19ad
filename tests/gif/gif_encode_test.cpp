// The LZW encoder's exact bytes for small frames, compared with codes worked out by hand or
// with a reference string table written here (map-based, clear at the 4095th code) whose
// codes go through the test packer; and whole files written by the picture, read back by
// giflib.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <random>

#include "GIFImg.h"
#include "gif_builder.h"
#include "gif_unit_util.h"
#include "testdata.h"

namespace {

using gif_build::TBytes;

// A frame of the given size with a local map of `colors` grey entries and these pixels.
TGIFFrame& MakeFrame(TGIFImage& image, int width, int height, int colors, const TBytes& pixels,
                     bool interlaced = false) {
  TGIFFrame& frame = *TGIFFrame::Create(&image);
  frame.ApplyBounds(0, 0, width, height);
  for (int i = 0; i < colors; ++i) frame.ColorMap().Add(RGBColor(i, i, i));
  frame.SetInterlaced(interlaced);
  std::copy(pixels.begin(), pixels.end(), frame.Data());
  return frame;
}

TBytes ImageData(TGIFFrame& frame) {
  TMemoryStream stream;
  frame.WriteImageData(stream);
  return TBytes(stream.Memory(), stream.Memory() + stream.Size());
}

// Reference coder: a plain map for the strings, codes assigned up to 4094, a clear code at
// the next new string once 4094 was assigned; widths as a decoder expects them.
TBytes ReferenceCodes(const TBytes& pixels, int minCodeSize) {
  gif_build::TCodePacker packer(minCodeSize);
  const int clear = 1 << minCodeSize;
  std::map<std::pair<int, int>, int> table;
  int next = clear + 2;
  packer.Clear();
  int prefix = pixels[0];
  for (size_t i = 1; i < pixels.size(); ++i) {
    auto it = table.find({prefix, pixels[i]});
    if (it != table.end()) {
      prefix = it->second;
      continue;
    }
    packer.Code(prefix);
    if (next < 4095) {
      table[{prefix, pixels[i]}] = next++;
    } else {
      packer.Clear();
      table.clear();
      next = clear + 2;
    }
    prefix = pixels[i];
  }
  packer.Code(prefix);
  packer.End();
  return packer.Bytes();
}

TBytes Framed(int minCodeSize, const TBytes& codes) {
  TBytes out{uint8_t(minCodeSize)};
  giftest::Append(out, giftest::SubBlocks(codes));
  return out;
}

TBytes RandomPixels(size_t n, int colors, uint32_t seed) {
  std::mt19937 rng(seed);
  TBytes out(n);
  for (auto& p : out) p = uint8_t(rng() % uint32_t(colors));
  return out;
}

TEST(GifEncoder, TwoColourFrameUsesCodeSizeTwo) {
  TGIFImage image;
  TGIFFrame& frame = MakeFrame(image, 4, 1, 2, {0, 1, 1, 0});
  // clear 4, 0, 1, 1 at 3 bits; entry 8 no longer fits, so 0 and end 5 at 4 bits.
  const TBytes codes = giftest::PackCodes({{4, 3}, {0, 3}, {1, 3}, {1, 3}, {0, 4}, {5, 4}});
  EXPECT_EQ(ImageData(frame), Framed(2, codes));
}

TEST(GifEncoder, OnePixelFrame) {
  TGIFImage image;
  TGIFFrame& frame = MakeFrame(image, 1, 1, 2, {1});
  // code size 2; one sub-block of clear 4, pixel 1, end 5 (3 bits each); terminator.
  const TBytes expected{0x02, 0x02, 0x4C, 0x01, 0x00};
  EXPECT_EQ(ImageData(frame), expected);
}

TEST(GifEncoder, EightBitFrameMatchesReferenceCoder) {
  TGIFImage image;
  const TBytes pixels = RandomPixels(37 * 23, 200, 7);
  TGIFFrame& frame = MakeFrame(image, 37, 23, 200, pixels);
  EXPECT_EQ(ImageData(frame), Framed(8, ReferenceCodes(pixels, 8)));
}

TEST(GifEncoder, ClearCodeWhenCode4094WasAssigned) {
  TGIFImage image;
  const TBytes pixels = RandomPixels(120 * 100, 256, 99);
  TGIFFrame& frame = MakeFrame(image, 120, 100, 256, pixels);
  const TBytes expected = Framed(8, ReferenceCodes(pixels, 8));
  EXPECT_EQ(ImageData(frame), expected);
  // The reference table fills up more than once on this data: the clear is exercised.
  std::map<std::pair<int, int>, int> strings;
  int prefix = pixels[0], assigned = 0;
  for (size_t i = 1; i < pixels.size(); ++i) {
    auto it = strings.find({prefix, pixels[i]});
    if (it != strings.end()) {
      prefix = it->second;
      continue;
    }
    strings[{prefix, pixels[i]}] = 258 + assigned++;
    prefix = pixels[i];
  }
  EXPECT_GT(assigned, 4095 - 258);
}

TEST(GifEncoder, SmallColourCountsUseTheirCodeSize) {
  for (int colors : {3, 4, 5, 16, 17, 128}) {
    TGIFImage image;
    const TBytes pixels = RandomPixels(61 * 7, colors, uint32_t(colors));
    TGIFFrame& frame = MakeFrame(image, 61, 7, colors, pixels);
    const int bits = std::max(2, BitsForColorCount(colors));
    EXPECT_EQ(ImageData(frame), Framed(bits, ReferenceCodes(pixels, bits))) << colors;
  }
}

TEST(GifEncoder, InterlacedRowOrders) {
  const std::vector<std::vector<int>> orders{{0, 1}, {0, 2, 1}, {0, 2, 1, 3}, {0, 4, 2, 1, 3}};
  for (const auto& order : orders) {
    const int height = int(order.size());
    TBytes pixels, stored;
    for (int y = 0; y < height; ++y) pixels.insert(pixels.end(), 3, uint8_t(y));
    for (int y : order) stored.insert(stored.end(), 3, uint8_t(y));
    TGIFImage image;
    TGIFFrame& frame = MakeFrame(image, 3, height, 8, pixels, true);
    EXPECT_EQ(ImageData(frame), Framed(3, ReferenceCodes(stored, 3))) << height;
  }
}

TEST(GifEncoder, CodeStreamOfWholeSubBlocksEndsWithTheTerminator) {
  // Find a size whose code stream fills sub-blocks exactly.
  for (int width = 1; width < 2000; ++width) {
    const TBytes pixels = RandomPixels(size_t(width) * 3, 16, 5);
    const TBytes codes = ReferenceCodes(pixels, 4);
    if (codes.size() % 255 != 0) continue;
    TGIFImage image;
    TGIFFrame& frame = MakeFrame(image, width, 3, 16, pixels);
    const TBytes out = ImageData(frame);
    ASSERT_EQ(out, Framed(4, codes));
    // ... 255 full bytes, then directly the terminator: no empty sub-block.
    ASSERT_EQ(out.size(), 1 + codes.size() / 255 * 256 + 1);
    EXPECT_EQ(out[out.size() - 257], 255);
    EXPECT_EQ(out.back(), 0);
    return;
  }
  FAIL() << "no frame size gave whole sub-blocks";
}

TEST(GifEncoder, PixelBeyondTheColourMapIsRefused) {
  TGIFImage image;
  TBytes pixels = RandomPixels(100 * 100, 3, 4);
  pixels.back() = 3;
  TGIFFrame& frame = MakeFrame(image, 100, 100, 3, pixels);
  TMemoryStream stream;
  try {
    frame.WriteImageData(stream);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_STREQ(e.what(), "Couleur absente dans la table des couleurs");
  }
  // The codes of the pixels before it stay in the stream, in sub-blocks.
  const TBytes full = Framed(2, ReferenceCodes(TBytes(pixels.begin(), pixels.end() - 1), 2));
  ASSERT_GT(stream.Size(), 1000);
  EXPECT_TRUE(std::equal(stream.Memory(), stream.Memory() + 257, full.begin()));
}

TEST(GifEncoder, FrameWithoutLocalMapUsesTheImageBits) {
  TGIFImage image;
  for (int i = 0; i < 16; ++i) image.GlobalColorMap().Add(RGBColor(i, 0, 0));
  TGIFFrame& frame = MakeFrame(image, 5, 2, 0, {0, 15, 3, 3, 3, 9, 9, 9, 9, 1});
  const TBytes pixels{0, 15, 3, 3, 3, 9, 9, 9, 9, 1};
  EXPECT_EQ(ImageData(frame), Framed(4, ReferenceCodes(pixels, 4)));
}

// ---------------------------------------------------------------------------------------
// Whole files read back by giflib
// ---------------------------------------------------------------------------------------

TBytes Save(TGIFImage& image) {
  TMemoryStream stream;
  image.SaveToStream(stream);
  return TBytes(stream.Memory(), stream.Memory() + stream.Size());
}

TEST(GifWriting, GiflibReadsEveryFrameBack) {
  TGIFImage image;
  const TBytes a = RandomPixels(40 * 30, 5, 1), b = RandomPixels(17 * 9, 256, 2);
  MakeFrame(image, 40, 30, 5, a);
  TGIFFrame& second = MakeFrame(image, 17, 9, 256, b, true);
  second.SetLeft(3);
  second.SetTop(4);
  const TBytes file = Save(image);
  bool complete = false;
  gif_build::detail::TMemorySource source{};
  gif_build::TGiflibFile gif =
      gif_build::SlurpWithGiflib(file.data(), file.size(), &complete, &source);
  ASSERT_TRUE(gif && complete);
  ASSERT_EQ(gif->ImageCount, 2);
  EXPECT_EQ(TBytes(gif->SavedImages[0].RasterBits, gif->SavedImages[0].RasterBits + a.size()), a);
  const SavedImage& s = gif->SavedImages[1];
  EXPECT_EQ(s.ImageDesc.Left, 3);
  EXPECT_EQ(s.ImageDesc.Top, 4);
  EXPECT_TRUE(s.ImageDesc.Interlace);
  ASSERT_TRUE(s.ImageDesc.ColorMap);
  EXPECT_EQ(s.ImageDesc.ColorMap->ColorCount, 256);
  // DGifSlurp puts the rows of interlaced frames back in place.
  EXPECT_EQ(TBytes(s.RasterBits, s.RasterBits + b.size()), b);
}

TEST(GifWriting, EmptyImageIsRefusedWithFinalProgress) {
  TGIFImage image;
  std::vector<std::pair<TProgressStage, int>> reports;
  image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                         const std::string& msg) {
    EXPECT_EQ(msg, "Enregistrement");
    reports.emplace_back(stage, percent);
  };
  TMemoryStream stream;
  try {
    image.SaveToStream(stream);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_STREQ(e.what(), "Impossible d'enregistrer un GIF vide");
  }
  ASSERT_FALSE(reports.empty());
  EXPECT_EQ(reports.back(), std::make_pair(psEnding, 0));
}

TEST(GifWriting, ProgressPerFrame) {
  TGIFImage image;
  for (int i = 0; i < 4; ++i) MakeFrame(image, 2, 2, 2, {0, 1, 1, 0});
  std::vector<std::pair<TProgressStage, int>> reports;
  image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                         const std::string&) { reports.emplace_back(stage, percent); };
  Save(image);
  const std::vector<std::pair<TProgressStage, int>> expected{{psStarting, 0},  {psRunning, 25},
                                                             {psRunning, 50},  {psRunning, 75},
                                                             {psRunning, 100}, {psEnding, 100}};
  EXPECT_EQ(reports, expected);
}

}  // namespace

namespace {

// Refuses the first write of a short sub-block (length byte below 255 and its data in one
// write), then takes everything again, as a disk that was full for a moment.
class TFailingLastSubBlock : public TMemoryStream {
 public:
  int64_t Write(const void* buffer, int64_t count) override {
    const auto* b = static_cast<const uint8_t*>(buffer);
    if (!FFailed && count > 1 && b[0] < 255 && b[0] == count - 1) {
      FFailed = true;
      return 0;
    }
    return TMemoryStream::Write(buffer, count);
  }

 private:
  bool FFailed = false;
};

}  // namespace

TEST(GifEncoderStream, AFailedLastSubBlockIsReportedNotDropped) {
  TGIFImage image;
  MakeFrame(image, 4, 1, 2, {0, 1, 1, 0});
  TFailingLastSubBlock stream;
  EXPECT_THROW(image.Images().Frames(0)->WriteImageData(stream), EWriteError);
}

// ---------------------------------------------------------------------------------------
// The bytes every test picture is written with: the image data of all its frames, as
// recorded before the string table was last changed (tests/gif/data/image_data.digests,
// FNV-1a 64 of each picture's concatenated image data). The table only maps strings to
// codes, so a change of its inside must not change a byte. VITRELLE_WRITE_DIGESTS=1
// rewrites the list from the code under test instead of comparing.
// ---------------------------------------------------------------------------------------

namespace {

uint64_t Fnv1a(uint64_t h, const uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 0x100000001B3ull;
  return h;
}

// Every frame's image data, written one after the other; a refused frame adds a mark.
uint64_t ImageDataDigest(TGIFImage& image) {
  uint64_t h = 0xCBF29CE484222325ull;
  for (int i = 0; i < image.Images().Count(); ++i) {
    TGIFFrame& frame = *image.Images().Frames(i);
    if (frame.Empty()) continue;
    TMemoryStream stream;
    try {
      frame.WriteImageData(stream);
    } catch (const GIFException&) {
      h = Fnv1a(h, reinterpret_cast<const uint8_t*>("!"), 1);
    }
    h = Fnv1a(h, stream.Memory(), size_t(stream.Size()));
  }
  return h;
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The real pictures and the fuzzer's seeds and crashers, as they load (damaged ones too).
void DigestFiles(std::map<std::string, uint64_t>& out) {
  const std::string source = VITRELLE_SOURCE_DIR;
  const std::pair<std::string, std::string> dirs[] = {
      {"testdata/gif/", vitrelle_test::TestDataPath("gif")},
      {"testdata/gif/bad/", vitrelle_test::TestDataPath("gif/bad")},
      {"fuzz/seeds/fuzz_gif/", source + "/fuzz/seeds/fuzz_gif"},
      {"fuzz/crashers/fuzz_gif/", source + "/fuzz/crashers/fuzz_gif"}};
  for (const auto& [key, dir] : dirs)
    for (const std::string& name : FilesIn(dir)) {
      TGIFImage image;
      image.OnWarning = [](const void*, TGIFSeverity, const std::string&) {};
      try {
        TFileStream in(dir + "/" + name, fmOpenRead);
        image.LoadFromStream(in);
      } catch (const std::exception&) {
        continue;  // nothing loaded, nothing to write
      }
      out[key + name] = ImageDataDigest(image);
    }
}

// 4-colour pixels chosen so that every new string's first slot, by the hash
// ((key >> 4) ^ key) mod 8009, lies in the half of those 8009 slots that a probe stepping
// H -> 2H mod 8009 can reach: at each string start the encoder walks to the nearest string
// (breadth first) that has such a free extension. `pixels` of them; 31,428 fill that half,
// which made an encoder with that table and probe loop for ever.
TBytes HalfTableFiller(size_t pixels) {
  constexpr int kSlots = 8009;
  std::vector<bool> reachable(kSlots);
  for (int h = 1; !reachable[size_t(h)]; h = h * 2 % kSlots) reachable[size_t(h)] = true;
  auto inHalf = [&](int code, int c) {
    const uint32_t key = uint32_t(code) << 8 | uint32_t(c);
    return reachable[((key >> 4) ^ key) % kSlots];
  };
  std::vector<std::array<int, 4>> child(4096, {-1, -1, -1, -1});
  struct TStep {
    int Code, From, Pixel;  // From: the queue entry it extends
  };
  int next = 6, root = 0;
  TBytes out{0};
  while (out.size() < pixels) {
    std::vector<TStep> queue{{root, -1, -1}};
    int found = -1, pixel = -1;
    for (size_t q = 0; q < queue.size() && found < 0; ++q) {
      const int code = queue[q].Code;
      for (int c = 0; c < 4; ++c) {
        const int to = child[size_t(code)][size_t(c)];
        if (to >= 0) {
          queue.push_back({to, int(q), c});
        } else if (found < 0 && inHalf(code, c)) {
          found = int(q);
          pixel = c;
        }
      }
    }
    TBytes path{uint8_t(pixel)};
    for (int q = found; queue[size_t(q)].From >= 0; q = queue[size_t(q)].From)
      path.push_back(uint8_t(queue[size_t(q)].Pixel));
    out.insert(out.end(), path.rbegin(), path.rend());
    child[size_t(queue[size_t(found)].Code)][size_t(pixel)] = next++;
    root = pixel;
  }
  out.resize(pixels);
  return out;
}

// Frames made here: every code size with random and run-heavy pixels, both row orders, a
// photograph-like picture that fills and clears the table often, and the half-table frame
// one pixel short of the length that used to hang.
void DigestGenerated(std::map<std::string, uint64_t>& out) {
  auto add = [&](const std::string& name, int w, int h, int colors, const TBytes& px,
                 bool interlaced) {
    TGIFImage image;
    MakeFrame(image, w, h, colors, px, interlaced);
    out["generated/" + name] = ImageDataDigest(image);
  };
  for (int colors : {2, 3, 4, 7, 16, 31, 64, 128, 200, 256})
    for (bool interlaced : {false, true}) {
      const std::string suffix = std::to_string(colors) + (interlaced ? "-interlaced" : "");
      add("random-" + suffix, 211, 157, colors, RandomPixels(211 * 157, colors, uint32_t(colors)),
          interlaced);
      TBytes runs = RandomPixels(300 * 200, colors, uint32_t(colors) + 1000);
      for (size_t i = 1; i < runs.size(); ++i)
        if (runs[i] % 8 != 0) runs[i] = runs[i - 1];
      add("runs-" + suffix, 300, 200, colors, runs, interlaced);
    }
  add("photo-1200x840", 1200, 840, 256, gif_build::PhotoPixels(1200, 840), false);
  add("photo-160x120-interlaced", 160, 120, 256, gif_build::PhotoPixels(160, 120, 3, 4), true);
  add("half-table-31427", 31427, 1, 4, HalfTableFiller(31427), false);
}

}  // namespace

// More strings than half the hash table holds, at code size 2: the half-table frame, then
// random pixels through several clear codes. giflib reads back every pixel.
TEST(GifWriting, FrameFillingHalfTheStringTableIsWritten) {
  TBytes pixels = HalfTableFiller(31428);
  const TBytes tail = RandomPixels(30000, 4, 8);
  pixels.insert(pixels.end(), tail.begin(), tail.end());
  TGIFImage image;
  MakeFrame(image, int(pixels.size()), 1, 4, pixels);
  const TBytes file = Save(image);
  bool complete = false;
  gif_build::detail::TMemorySource source{};
  gif_build::TGiflibFile gif =
      gif_build::SlurpWithGiflib(file.data(), file.size(), &complete, &source);
  ASSERT_TRUE(gif && complete);
  const SavedImage& s = gif->SavedImages[0];
  EXPECT_EQ(TBytes(s.RasterBits, s.RasterBits + pixels.size()), pixels);
}

TEST(GifEncoder, EveryTestPictureKeepsItsBytes) {
  std::map<std::string, uint64_t> digests;
  DigestFiles(digests);
  DigestGenerated(digests);
  const std::string list = std::string(VITRELLE_SOURCE_DIR) + "/tests/gif/data/image_data.digests";
  if (const char* w = std::getenv("VITRELLE_WRITE_DIGESTS"); w && *w == '1') {
    std::ofstream out(list);
    for (const auto& [name, digest] : digests)
      out << std::hex << std::setw(16) << std::setfill('0') << digest << "  " << name << "\n";
    GTEST_SKIP() << "wrote " << digests.size() << " digests to " << list;
  }
  std::ifstream in(list);
  ASSERT_TRUE(in) << list;
  std::string line;
  int compared = 0;
  while (std::getline(in, line)) {
    const std::string name = line.substr(18);
    const auto it = digests.find(name);
    if (it == digests.end()) continue;  // a file of the shared folder that is absent here
    EXPECT_EQ(std::stoull(line.substr(0, 16), nullptr, 16), it->second) << name;
    ++compared;
  }
  EXPECT_GE(compared, 40);
}

// The compact coding that the optimiser asks for: giflib and this decoder read back every
// pixel, at every code size, in both row orders, for tables filled many times; it is the
// smaller coding in total, and far smaller where a full table keeps matching (a motif that
// repeats past the point where the plain coding clears the table).
TEST(GifEncoder, CompactCodingReadsBackAndIsSmaller) {
  struct TCase {
    std::string Name;
    int W, H, Colors;
    TBytes Pixels;
    bool Interlaced;
  };
  std::vector<TCase> cases;
  for (int colors : {2, 16, 256})
    for (bool interlaced : {false, true})
      cases.push_back({"random " + std::to_string(colors), 400, 300, colors,
                       RandomPixels(400 * 300, colors, uint32_t(colors)), interlaced});
  cases.push_back({"photo", 1200, 840, 256, gif_build::PhotoPixels(1200, 840), false});
  cases.push_back(
      {"photo interlaced", 330, 250, 256, gif_build::PhotoPixels(330, 250, 1, 2), true});
  TBytes motif = RandomPixels(3000, 256, 7), repeated;
  while (repeated.size() < 400 * 300) repeated.insert(repeated.end(), motif.begin(), motif.end());
  repeated.resize(400 * 300);
  cases.push_back({"repeated motif", 400, 300, 256, repeated, false});
  size_t plainTotal = 0, compactTotal = 0;
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name + (c.Interlaced ? " interlaced" : ""));
    TGIFImage image;
    MakeFrame(image, c.W, c.H, c.Colors, c.Pixels, c.Interlaced);
    const TBytes plain = Save(image);
    image.SetCompactEncoding(true);
    const TBytes compact = Save(image);
    plainTotal += plain.size(), compactTotal += compact.size();
    if (c.Name == "repeated motif") {
      EXPECT_LT(compact.size() * 4, plain.size() * 3);
    }
    bool complete = false;
    gif_build::detail::TMemorySource source{};
    gif_build::TGiflibFile gif =
        gif_build::SlurpWithGiflib(compact.data(), compact.size(), &complete, &source);
    ASSERT_TRUE(gif && complete);
    const uint8_t* theirs = gif->SavedImages[0].RasterBits;
    EXPECT_EQ(TBytes(theirs, theirs + c.Pixels.size()), c.Pixels);
    TGIFImage back;
    TReadOnlyMemoryStream stream(compact.data(), compact.size());
    back.LoadFromStream(stream);
    const uint8_t* ours = back.Images().Frames(0)->Data();
    EXPECT_EQ(TBytes(ours, ours + c.Pixels.size()), c.Pixels);
  }
  EXPECT_LT(compactTotal * 100, plainTotal * 97) << compactTotal << " / " << plainTotal;
}
