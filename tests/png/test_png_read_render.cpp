// PngSuite pictures drawn the way the tool's render command and the workspace draw them:
// onto a white 24-bit bitmap, transparency composed over it.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>

#include "png_read_test_util.h"

using namespace pngr;

namespace {

uint8_t Over(uint8_t back, uint8_t c, uint8_t a) {
  return uint8_t((back * (255 - a) + c * a + 127) / 255);
}

// The picture as drawn over white: libpng's colours with libpng's gamma correction, its
// alpha (tRNS expanded) composed with the rule of the picture's transparency path.
std::vector<TColor> ExpectedOverWhite(TPngImage& image, const Bytes& file) {
  const TLibpngImage ref = DecodeWithLibpng(file);
  EXPECT_TRUE(ref.Ok) << ref.Error;
  std::array<uint8_t, 256> gamma{};
  for (int i = 0; i < 256; ++i) gamma[size_t(i)] = uint8_t(i);
  if (ref.HasGamma) gamma = LibpngGammaTable(ref.FileGamma);
  const TPNGTransparencyMode mode = image.TransparencyMode();
  std::vector<TColor> out;
  for (size_t i = 0; i < size_t(ref.Width) * ref.Height; ++i) {
    const uint8_t* c = &ref.Rgba[4 * i];
    uint8_t r = gamma[c[0]], g = gamma[c[1]], b = gamma[c[2]];
    if (ref.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA) r = c[0], g = c[1], b = c[2];
    const uint8_t a = c[3];
    if (mode == ptmBit && a == 0) {
      r = g = b = 255;
    } else if (mode == ptmPartial && ref.ColorType == PNG_COLOR_TYPE_PALETTE) {
      r = uint8_t((a * r + (255 - a) * 255 + 255) >> 8);
      g = uint8_t((a * g + (255 - a) * 255 + 255) >> 8);
      b = uint8_t((a * b + (255 - a) * 255 + 255) >> 8);
    } else if (mode == ptmPartial) {
      r = Over(255, r, a), g = Over(255, g, a), b = Over(255, b, a);
    }
    out.push_back(RGBColor(r, g, b));
  }
  return out;
}

}  // namespace

TEST(PngRender, SuiteDrawnOverWhiteMatchesLibpng) {
  VITRELLE_REQUIRE_TESTDATA();
  std::vector<std::string> names;
  if (DIR* d = opendir(SuiteFile("").c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > 4 && n.substr(n.size() - 4) == ".png" && n[0] != 'x' && n != "PngSuite.png")
        names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  ASSERT_GE(names.size(), 160u);
  int filesWithDifferences = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const Bytes file = ReadFileBytes(SuiteFile(name));
    TPngImage image;
    Load(image, file);
    const std::vector<TColor> want = ExpectedOverWhite(image, file);
    // Gammas within libpng's significance threshold: libpng's levels may be 1 apart.
    const TLibpngImage info = DecodeWithLibpng(file);
    const bool libpngKeepsLevels =
        info.HasGamma && !vitrelle_test::LibpngCorrectsGamma(info.FileGamma);
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(image.Width(), image.Height());
    target.Canvas().Brush.Color = clWhite;
    target.Canvas().FillRect(Rect(0, 0, image.Width(), image.Height()));
    image.Draw(target.Canvas(), Rect(0, 0, image.Width(), image.Height()));
    int bad = 0;
    for (int y = 0; y < image.Height(); ++y)
      for (int x = 0; x < image.Width(); ++x) {
        const TColor got = target.PixelColor(x, y);
        const TColor expected = want[size_t(y) * size_t(image.Width()) + size_t(x)];
        const bool near = libpngKeepsLevels &&
                          std::abs(int(got & 255) - int(expected & 255)) <= 1 &&
                          std::abs(int((got >> 8) & 255) - int((expected >> 8) & 255)) <= 1 &&
                          std::abs(int((got >> 16) & 255) - int((expected >> 16) & 255)) <= 1;
        if (got != expected && !near && bad++ < 2)
          ADD_FAILURE() << x << "," << y << " got " << std::hex << got << " want " << expected;
      }
    if (bad) ++filesWithDifferences;
  }
  EXPECT_EQ(filesWithDifferences, 0);
}
