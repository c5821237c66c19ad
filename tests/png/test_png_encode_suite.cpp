// Round trips of the PngSuite conformance images through the writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "png_write_test_util.h"

using namespace pngw;

namespace {

std::vector<std::string> ValidSuiteFiles() {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(TestFile("pngsuite"))) {
    const std::string name = entry.path().filename().string();
    if (entry.path().extension() == ".png" && name[0] != 'x') names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Pixel rows and alpha of two images of the same layout are identical.
void ExpectSameBuffers(TPngImage& a, TPngImage& b) {
  TChunkIHDR& ha = a.Header();
  TChunkIHDR& hb = b.Header();
  ASSERT_EQ(ha.Width(), hb.Width());
  ASSERT_EQ(ha.Height(), hb.Height());
  ASSERT_EQ(ha.ColorType(), hb.ColorType());
  ASSERT_EQ(ha.BitsPerPixel(), hb.BitsPerPixel());
  const size_t pixelBytes = (size_t(ha.Width()) * size_t(ha.BitsPerPixel()) + 7) / 8;
  for (int y = 0; y < a.Height(); ++y) {
    ASSERT_TRUE(std::equal(a.Scanline(y), a.Scanline(y) + pixelBytes, b.Scanline(y))) << y;
    if (a.AlphaScanline(y) != nullptr) {
      ASSERT_TRUE(
          std::equal(a.AlphaScanline(y), a.AlphaScanline(y) + a.Width(), b.AlphaScanline(y)))
          << y;
    }
  }
  for (int i = 0; i < (1 << std::min(ha.BitsPerPixel(), 8)) && ha.BitsPerPixel() <= 8; ++i)
    ASSERT_EQ(ha.ColorTable()[size_t(i)], hb.ColorTable()[size_t(i)]) << i;
}

}  // namespace

// Saved and loaded again, every image comes back with the same buffers, and written again
// without interlacing and with every filter it is still the same image.
TEST(PngWriteSuite, EveryValidImageSurvivesARoundTrip) {
  VITRELLE_REQUIRE_TESTDATA();
  int checked = 0;
  for (const std::string& name : ValidSuiteFiles()) {
    SCOPED_TRACE(name);
    TPngImage original;
    original.LoadFromFile(TestFile("pngsuite/" + name));
    TPngImage again;
    LoadFromBytes(again, SaveToBytes(original));
    ExpectSameBuffers(original, again);
    original.SetInterlaceMethod(original.InterlaceMethod() == imNone ? imAdam7 : imNone);
    original.SetFilters(TFilters{pfNone, pfSub, pfUp, pfAverage, pfPaeth});
    TPngImage third;
    LoadFromBytes(third, SaveToBytes(original));
    ExpectSameBuffers(original, third);
    ++checked;
  }
  EXPECT_GE(checked, 150);
}

// Without gamma, libpng reads our copy of a file exactly as it reads the file itself
// (16-bit samples compared by their high byte, which is all the copy keeps), 2-bit grey
// included.
TEST(PngWriteSuite, AnotherDecoderReadsTheCopyAsTheOriginal) {
  VITRELLE_REQUIRE_TESTDATA();
  int checked = 0;
  for (const std::string& name : ValidSuiteFiles()) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> source =
        WithoutChunk(ReadFileBytes(TestFile("pngsuite/" + name)), "gAMA");
    const auto chunks = ParseChunks(source);
    const uint8_t bitDepth = chunks.front().Data[8];
    // 2-bit grey and palette images are written as 4-bit ones (levels 5v, the same
    // greys); libpng must still read the same picture.
    TPngImage png;
    LoadFromBytes(png, source);
    const TOracleImage expected = DecodeWithLibpng(source);
    const TOracleImage actual = DecodeWithLibpng(SaveToBytes(png));
    ASSERT_TRUE(expected.Ok && actual.Ok) << expected.Error << actual.Error;
    // A 16-bit colour key no longer matches samples whose low byte was dropped: there
    // only the colours are compared.
    const bool keyed16 = bitDepth == 16 && std::any_of(chunks.begin(), chunks.end(),
                                                       [](auto& c) { return c.Name == "tRNS"; });
    ASSERT_EQ(expected.Rgba.size(), actual.Rgba.size());
    for (size_t i = 0; i < actual.Rgba.size(); ++i) {
      if (keyed16 && i % 4 == 3) continue;
      ASSERT_EQ(expected.Rgba[i], actual.Rgba[i]) << i;
    }
    ++checked;
  }
  EXPECT_GE(checked, 150);
}
