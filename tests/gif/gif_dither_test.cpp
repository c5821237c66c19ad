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

// The grey each pixel was looked up with after its correction, where the pixel lies (the
// engine walks the rows in its own order). Images are greys, one value per pixel.
using TGreys = std::vector<std::vector<int>>;
TGreys AskedGreys(TDitherMode mode, TColorLookup& lookup, const TGreys& image) {
  const int w = int(image[0].size()), h = int(image.size());
  TRecordingLookup rec(lookup);
  auto ditherer = CreateDitherer(mode, w, rec);
  TGreys asked(size_t(h), std::vector<int>(size_t(w), -1));
  ditherer->Reset();
  for (int y = 0; y < h; ++y) {
    const int step = ditherer->Direction();
    for (int x = ditherer->Column(); x >= 0 && x < w; x += step) {
      const int v = image[size_t(y)][size_t(x)];
      int r, g, b;
      ditherer->Dither(v, v, v, r, g, b);
      EXPECT_TRUE(rec.Asked.back().R == rec.Asked.back().G &&
                  rec.Asked.back().G == rec.Asked.back().B);
      asked[size_t(y)][size_t(x)] = rec.Asked.back().R;
    }
    ditherer->NextLine();
  }
  return asked;
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

// Floyd-Steinberg over a palette of black alone: every pixel's error is its corrected grey.
// Row 0, left to right, greys 20:
//   x0: 20, error 20: slot 0 = 3*20 = 60, below-prev 5*20 = 100, below 20, current 140
//   x1: (140 + 8) div 16 = 9 -> 29: slot 1 = 100 + 87 = 187, below-prev 20 + 145 = 165,
//       below 29, current 203
//   x2: (203 + 8) div 16 = 13 -> 33: slot 2 = 165 + 99 = 264, below-prev 29 + 165 = 194
//   end of row: slot 3 = 194.
// Row 1, right to left, column c at slot c + 2:
//   x2 (slot 4, empty): 20, current 140
//   x1 (slot 3): (194 + 140 + 8) div 16 = 21, softened 16 + 5 div 2 = 18 -> 38; current 266
//   x0 (slot 2): (264 + 266 + 8) div 16 = 33, softened 16 + 17 div 2 = 24 -> 44
TEST(Dither, FloydSteinbergSpreadsToTheRowBelowAsWorkedByHand) {
  TPalette black({{0, 0, 0, 0}});
  TSlowColorLookup lookup(&black);
  EXPECT_EQ(AskedGreys(dmFloydSteinberg, lookup, {{20, 20, 20}, {20, 20, 20}}),
            (TGreys{{20, 29, 33}, {44, 38, 20}}));
}

// One pixel of grey 40 among greys of 160, over a palette of black and the greys 81 to 255:
// 40 becomes black with an error of +40, while 160 and any correction of it stay greys of
// the palette and spread nothing. Each pixel is thus looked up as 160 plus the source's
// share at its place, (40 w + divisor div 2) div divisor for the kernel weight w there
// (offsets counted along the source's row, left to right):
//   Stucki /42:  w 8: 341 div 42 = 8   w 4: 181 -> 4    w 2: 101 -> 2    w 1: 61 -> 1
//   Sierra /32:  w 5: 216 div 32 = 6   w 4: 176 -> 5    w 3: 136 -> 4    w 2: 96 -> 3
//   Jarvis /48:  w 7: 304 div 48 = 6   w 5: 224 -> 4    w 3: 144 -> 3    w 1: 64 -> 1
//   Burkes /32:  w 8: 336 div 32 = 10  w 4: 176 -> 5    w 2: 96 -> 3
//   Stevenson-Arce /200: w 32: 1380 div 200 = 6  w 30: 1300 -> 6  w 26: 1140 -> 5
//                        w 16: 740 -> 3  w 12: 580 -> 2  w 5: 300 -> 1
// All below the first threshold (8, or 16 for Burkes), so the limit leaves them as they
// are; the row after the kernel's last one gets nothing.
TEST(Dither, KernelsSpreadOneErrorAsWorkedByHand) {
  std::vector<TPaletteEntry> entries{{0, 0, 0, 0}};
  for (int v = 81; v <= 255; ++v) entries.push_back({uint8_t(v), uint8_t(v), uint8_t(v), 0});
  TPalette gap(entries);
  TSlowColorLookup lookup(&gap);
  const struct {
    TDitherMode Mode;
    TGreys Expected;
  } cases[] = {
      {dmStucki,
       {{160, 160, 40, 168, 164},
        {162, 164, 168, 164, 162},
        {161, 162, 164, 162, 161},
        {160, 160, 160, 160, 160}}},
      {dmSierra,
       {{160, 160, 40, 166, 164},
        {163, 165, 166, 165, 163},
        {160, 163, 164, 163, 160},
        {160, 160, 160, 160, 160}}},
      {dmJaJuNI,
       {{160, 160, 40, 166, 164},
        {163, 164, 166, 164, 163},
        {161, 163, 164, 163, 161},
        {160, 160, 160, 160, 160}}},
      {dmBurkes, {{160, 160, 40, 170, 165}, {163, 165, 170, 165, 163}, {160, 160, 160, 160, 160}}},
      {dmSteveArche,
       {{160, 160, 160, 40, 160, 166, 160},
        {162, 160, 165, 160, 166, 160, 163},
        {160, 162, 160, 165, 160, 162, 160},
        {161, 160, 162, 160, 162, 160, 161},
        {160, 160, 160, 160, 160, 160, 160}}},
  };
  for (const auto& c : cases) {
    TGreys image(c.Expected.size(), std::vector<int>(c.Expected[0].size(), 160));
    image[0][c.Expected[0].size() / 2] = 40;
    EXPECT_EQ(AskedGreys(c.Mode, lookup, image), c.Expected) << c.Mode;
  }
}

// The soft clamp of each engine, seen through the engine: a row (s, 0, 0) over a palette
// of black alone gives the first pixel an error of s, and the pixel that the row's kernel
// reaches first (the next one; the one after for Stevenson-Arce) is looked up as the
// softened share e = (w s + divisor div 2) div divisor, w being 7/16, 8/42, 5/32, 7/48,
// 8/32 or 32/200. For example Floyd-Steinberg, s = 80: (560 + 8) div 16 = 35, between 16
// and 48: 16 + 19 div 2 = 25; s = 109: 771 div 16 = 48, the cap 32. Stucki, s = 163:
// 1325 div 42 = 31: 8 + 23 div 2 = 19; s = 166: 1349 div 42 = 32: the cap 20. The same
// row (0, 255, 255) over white alone carries -255: the cap below 255.
TEST(Dither, ErrorLimitsThroughEachEngine) {
  TPalette black({{0, 0, 0, 0}}), white({{255, 255, 255, 0}});
  TSlowColorLookup toBlack(&black), toWhite(&white);
  const struct {
    TDitherMode Mode;
    size_t Column;
    std::vector<std::pair<int, int>> Shares;  // s, the grey looked up
    int BelowWhite;
  } cases[] = {
      {dmFloydSteinberg, 1, {{32, 14}, {38, 16}, {80, 25}, {108, 31}, {109, 32}, {255, 32}}, 223},
      {dmStucki, 1, {{36, 7}, {48, 8}, {120, 15}, {163, 19}, {166, 20}, {255, 20}}, 235},
      {dmSierra, 1, {{44, 7}, {60, 8}, {120, 13}, {197, 19}, {202, 20}, {255, 20}}, 235},
      {dmJaJuNI, 1, {{48, 7}, {63, 8}, {120, 13}, {213, 19}, {216, 20}, {255, 20}}, 235},
      {dmBurkes, 1, {{60, 15}, {66, 16}, {120, 23}, {189, 31}, {190, 32}, {255, 32}}, 223},
      {dmSteveArche, 2, {{45, 7}, {57, 8}, {95, 11}, {97, 12}, {255, 12}}, 243},
  };
  for (const auto& c : cases) {
    for (auto [s, looked] : c.Shares)
      EXPECT_EQ(AskedGreys(c.Mode, toBlack, {{s, 0, 0}})[0][c.Column], looked)
          << c.Mode << " " << s;
    EXPECT_EQ(AskedGreys(c.Mode, toWhite, {{0, 255, 255}})[0][c.Column], c.BelowWhite) << c.Mode;
  }
  // Negative errors keep the sign: -80 gives (-560 + 8) div 16 = -34 (toward zero), -25.
  EXPECT_EQ(AskedGreys(dmFloydSteinberg, toWhite, {{175, 255, 255}})[0][1], 230);
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
