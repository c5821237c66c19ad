// Dithering: the serpentine walk, the error-limit tables, the kernels' first steps worked
// by hand, and every engine on exact colours, one-pixel-wide images and large errors.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "gif_glue.h"
#include "gif_reduce.h"

namespace {

const TDitherMode kAllModes[] = {dmNearest, dmFloydSteinberg, dmStucki, dmSierra,
                                 dmJaJuNI,  dmSteveArche,     dmBurkes};

// Records every colour asked for and answers through another lookup.
class TRecordingLookup : public TColorLookup {
 public:
  explicit TRecordingLookup(TColorLookup& inner) : TColorLookup(nullptr), FInner(inner) {
    FColors = inner.Colors();
  }
  int Lookup(int Red, int Green, int Blue, int& R, int& G, int& B) override {
    Asked.push_back({Red, Green, Blue});
    return FInner.Lookup(Red, Green, Blue, R, G, B);
  }
  struct TAsk {
    int R, G, B;
  };
  std::vector<TAsk> Asked;

 private:
  TColorLookup& FInner;
};

// Dithers a BGR image with one engine; answers the indices, rows top to bottom.
std::vector<uint8_t> RunEngine(TDitherMode mode, TColorLookup& lookup, int w, int h,
                               const std::vector<uint8_t>& bgr) {
  auto ditherer = CreateDitherer(mode, w, lookup);
  EXPECT_NE(ditherer, nullptr);
  std::vector<uint8_t> out(size_t(w) * size_t(h), 0xEE);
  ditherer->Reset();
  for (int y = 0; y < h; ++y)
    DitherRow(*ditherer, bgr.data() + size_t(y) * size_t(w) * 3,
              out.data() + size_t(y) * size_t(w));
  return out;
}

std::vector<uint8_t> Flat(int w, int h, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> bgr;
  for (int i = 0; i < w * h; ++i) bgr.insert(bgr.end(), {b, g, r});
  return bgr;
}

}  // namespace

TEST(Dither, FloydSteinbergOnFlatGreyAlternates) {
  TMonochromeLookup mono;
  auto fs = RunEngine(dmFloydSteinberg, mono, 8, 4, Flat(8, 4, 128, 128, 128));
  const uint8_t firstRow[] = {1, 0, 1, 0};
  for (int x = 0; x < 4; ++x) EXPECT_EQ(fs[size_t(x)], firstRow[x]) << x;
  int white = 0;
  for (uint8_t v : fs) white += v;
  EXPECT_GT(white, 8);  // a mid grey is about half white
  EXPECT_LT(white, 24);
  auto nearest = RunEngine(dmNearest, mono, 8, 4, Flat(8, 4, 128, 128, 128));
  for (uint8_t v : nearest) EXPECT_EQ(v, 1);
}

TEST(Dither, StuckiFirstStepsByHand) {
  // 128 -> white, error -127; the next pixel sees (-1016 + 21) div 42 = -23, softened to
  // -15: 113 is black (error +113); the third sees (-508 + 904 + 21) div 42 = 9 -> 8: 136.
  TMonochromeLookup mono;
  TRecordingLookup rec(mono);
  auto out = RunEngine(dmStucki, rec, 6, 1, Flat(6, 1, 128, 128, 128));
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 1);
  ASSERT_GE(rec.Asked.size(), 3u);
  EXPECT_EQ(rec.Asked[1].R, 113);
  EXPECT_EQ(rec.Asked[2].G, 136);
}

TEST(Dither, FloydSteinbergCorrectionsByHand) {
  // Second pixel: (-889 + 8) div 16 = -55, softened to -32: 96. Third: (672 + 8) div 16
  // = 42 -> 16 + 13 = 29: 157.
  TMonochromeLookup mono;
  TRecordingLookup rec(mono);
  RunEngine(dmFloydSteinberg, rec, 4, 1, Flat(4, 1, 128, 128, 128));
  ASSERT_EQ(rec.Asked.size(), 4u);
  EXPECT_EQ(rec.Asked[0].B, 128);
  EXPECT_EQ(rec.Asked[1].B, 96);
  EXPECT_EQ(rec.Asked[2].B, 157);
}

TEST(Dither, ErrorLimitTables) {
  TErrorLimit fs;
  fs.Soften(16, 48, 32);
  EXPECT_EQ(fs[15], 15);
  EXPECT_EQ(fs[20], 18);
  EXPECT_EQ(fs[47], 31);
  EXPECT_EQ(fs[48], 32);
  EXPECT_EQ(fs[255], 32);
  EXPECT_EQ(fs[-20], -18);
  EXPECT_EQ(fs[-255], -32);
  TErrorLimit stucki;
  stucki.Soften(8, 32, 20);
  EXPECT_EQ(stucki[10], 9);
  EXPECT_EQ(stucki[31], 19);
  EXPECT_EQ(stucki[-32], -20);
  TErrorLimit arce;
  arce.Soften(8, 16, 12);
  EXPECT_EQ(arce[15], 11);
  EXPECT_EQ(arce[16], 12);
  EXPECT_EQ(TErrorLimit()[-200], -200);
}

TEST(Dither, ExactColoursGiveTheirIndexWithEveryEngine) {
  TNetscapeColorLookup web;
  const int w = 7, h = 5;
  std::vector<uint8_t> bgr;
  std::vector<int> expected;
  for (int i = 0; i < w * h; ++i) {
    int r = i % 6, g = (i / 6) % 6, b = (i * 5) % 6;
    bgr.insert(bgr.end(), {uint8_t(51 * b), uint8_t(51 * g), uint8_t(51 * r)});
    expected.push_back(36 * r + 6 * g + b);
  }
  for (TDitherMode mode : kAllModes) {
    auto out = RunEngine(mode, web, w, h, bgr);
    for (int i = 0; i < w * h; ++i)
      ASSERT_EQ(out[size_t(i)], expected[size_t(i)]) << mode << " " << i;
  }
}

TEST(Dither, RowsAlternateDirection) {
  TNetscapeColorLookup web;
  for (TDitherMode mode : kAllModes) {
    TRecordingLookup rec(web);
    std::vector<uint8_t> bgr;
    for (int i = 0; i < 6; ++i) bgr.insert(bgr.end(), {0, 0, uint8_t(51 * i)});  // red 0..255
    RunEngine(mode, rec, 3, 2, bgr);
    ASSERT_EQ(rec.Asked.size(), 6u);
    const int order[] = {0, 51, 102, 255, 204, 153};  // the second row from the right
    for (int i = 0; i < 6; ++i) EXPECT_EQ(rec.Asked[size_t(i)].R, order[i]) << mode;
  }
}

TEST(Dither, OnePixelWideWithEveryEngine) {
  std::vector<uint8_t> bgr;
  for (int y = 0; y < 300; ++y)
    bgr.insert(bgr.end(), {uint8_t(y), uint8_t(255 - y % 256), uint8_t(y * 7)});
  TMonochromeLookup mono;
  TNetscapeColorLookup web;
  for (TDitherMode mode : kAllModes) {
    auto a = RunEngine(mode, mono, 1, 300, bgr);
    auto b = RunEngine(mode, web, 1, 300, bgr);
    for (int y = 0; y < 300; ++y) {
      ASSERT_LE(a[size_t(y)], 1) << mode;
      ASSERT_LT(b[size_t(y)], 216) << mode;
    }
  }
}

TEST(Dither, CorrectedValuesStayInsideTheChannelRange) {
  std::mt19937 rng(11);
  const int w = 37, h = 23;
  std::vector<uint8_t> bgr(size_t(w) * h * 3);
  for (uint8_t& v : bgr) v = (rng() & 1) ? uint8_t(250 + rng() % 6) : uint8_t(rng() % 6);
  TPalette four({{0, 0, 0, 0}, {255, 255, 255, 0}, {128, 0, 0, 0}, {0, 0, 128, 0}});
  TSlowColorLookup slow(&four);
  for (TDitherMode mode : kAllModes) {
    TRecordingLookup rec(slow);
    RunEngine(mode, rec, w, h, bgr);
    ASSERT_EQ(rec.Asked.size(), size_t(w * h));
    for (auto& a : rec.Asked) {
      ASSERT_TRUE(a.R >= 0 && a.R <= 255 && a.G >= 0 && a.G <= 255 && a.B >= 0 && a.B <= 255)
          << mode;
    }
  }
}

TEST(Dither, FactoryAndReset) {
  TMonochromeLookup mono;
  EXPECT_EQ(CreateDitherer(TDitherMode(7), 4, mono), nullptr);
  // A reset engine gives the same answer again.
  auto img = Flat(9, 6, 100, 140, 180);
  for (TDitherMode mode : kAllModes) {
    auto d = CreateDitherer(mode, 9, mono);
    std::vector<uint8_t> first(54), second(54);
    for (auto* out : {&first, &second}) {
      d->Reset();
      for (int y = 0; y < 6; ++y) DitherRow(*d, img.data() + y * 27, out->data() + y * 9);
    }
    EXPECT_EQ(first, second) << mode;
  }
}
