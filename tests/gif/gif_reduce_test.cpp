// Colour reduction: the lookups, the fixed palettes, the octree quantizer, the row writer
// and ReduceBitmapColors end to end, including hostile sizes and palettes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <random>
#include <set>
#include <tuple>

#include "gif_glue.h"
#include "gif_reduce.h"

namespace {

// A 24-bit bitmap from (r, g, b) triples, row after row.
std::unique_ptr<TBitmap> MakeBitmapPtr(int w, int h, const std::vector<TColor>& colors) {
  auto p = std::make_unique<TBitmap>();
  TBitmap& b = *p;
  b.SetPixelFormat(pf24bit);
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = b.GetScanline(y);
    for (int x = 0; x < w; ++x) {
      TColor c = colors[size_t(y * w + x) % colors.size()];
      row[x * 3] = GetBValue(c);
      row[x * 3 + 1] = GetGValue(c);
      row[x * 3 + 2] = GetRValue(c);
    }
  }
  return p;
}

uint8_t IndexAt(TBitmap& b, int x, int y) {
  return b.GetScanline(y)[x];
}

TColor TableColor(const TBitmap& b, int index) {
  const TRGBQuad& q = b.ColorTable().at(size_t(index));
  return RGBColor(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

template <class F>
void ExpectGIFError(F f, const char* message) {
  try {
    f();
    ADD_FAILURE() << "no exception, expected: " << message;
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), message);
  }
}

}  // namespace

TEST(ColorLookup, WebCubeThresholds) {
  TNetscapeColorLookup lookup;
  EXPECT_EQ(lookup.Colors(), 216);
  int r, g, b;
  // Each channel steps up at 48, 99, 150, 201 and 252.
  const std::pair<int, int> channel[] = {{0, 0},     {47, 0},    {48, 51},   {98, 51},
                                         {99, 102},  {149, 102}, {150, 153}, {200, 153},
                                         {201, 204}, {251, 204}, {252, 255}, {255, 255}};
  for (auto [in, out] : channel) {
    lookup.Lookup(in, in, in, r, g, b);
    EXPECT_EQ(r, out) << in;
    EXPECT_EQ(g, out) << in;
    EXPECT_EQ(b, out) << in;
  }
  EXPECT_EQ(lookup.Lookup(255, 0, 0, r, g, b), 180);
  EXPECT_EQ(lookup.Lookup(0, 255, 0, r, g, b), 30);
  EXPECT_EQ(lookup.Lookup(0, 0, 255, r, g, b), 5);
  EXPECT_EQ(lookup.Lookup(255, 255, 255, r, g, b), 215);
  // The index names the same colour in the web palette.
  auto web = CreateWebPalette();
  ASSERT_EQ(web->Count(), 216);
  EXPECT_EQ(web->Entries()[180], (TPaletteEntry{255, 0, 0, 0}));
  EXPECT_EQ(web->Entries()[36 * 2 + 6 * 3 + 4], (TPaletteEntry{102, 153, 204, 0}));
  for (const TPaletteEntry& e : web->Entries()) EXPECT_EQ(e.peFlags, 0);
}

TEST(ColorLookup, MonochromeAndGreyThresholds) {
  TMonochromeLookup mono;
  int r, g, b;
  EXPECT_EQ(mono.Colors(), 2);
  EXPECT_EQ(mono.Lookup(128, 128, 128, r, g, b), 1);  // weighted sum 32768
  EXPECT_EQ(r, 255);
  EXPECT_EQ(mono.Lookup(127, 127, 127, r, g, b), 0);  // 32512, not above the threshold
  EXPECT_EQ(b, 0);
  EXPECT_EQ(mono.Lookup(0, 255, 0, r, g, b), 1);  // 150 * 255 = 38250
  EXPECT_EQ(mono.Lookup(255, 0, 0, r, g, b), 0);  // 77 * 255 = 19635
  TGrayScaleLookup grey;
  EXPECT_EQ(grey.Colors(), 256);
  EXPECT_EQ(grey.Lookup(255, 255, 255, r, g, b), 255);
  EXPECT_EQ(grey.Lookup(0, 0, 255, r, g, b), 28);     // 7395 >> 8
  EXPECT_EQ(grey.Lookup(255, 0, 0, r, g, b), 76);     // 19635 >> 8
  EXPECT_EQ(grey.Lookup(10, 200, 30, r, g, b), 123);  // (870 + 30000 + 770) >> 8
  EXPECT_EQ(g, 123);
}

TEST(ColorLookup, NearestEntryAgreesWithThePaletteSearch) {
  std::mt19937 rng(7);
  for (int round = 0; round < 20; ++round) {
    std::vector<TPaletteEntry> entries(size_t(1 + rng() % 256));
    for (auto& e : entries) {
      // Coarse values make equal distances and duplicate entries common.
      e = {uint8_t(rng() % 5 * 60), uint8_t(rng() % 7 * 40), uint8_t(rng() % 4 * 80), 0};
    }
    TPalette palette(entries);
    TSlowColorLookup lookup(&palette);
    EXPECT_EQ(lookup.Colors(), palette.Count());
    for (int i = 0; i < 3000; ++i) {
      int red = int(rng() % 256), green = int(rng() % 256), blue = int(rng() % 256), r, g, b;
      const int expected =
          palette.NearestIndex(RGBColor(uint8_t(red), uint8_t(green), uint8_t(blue)));
      ASSERT_EQ(lookup.Lookup(red, green, blue, r, g, b), expected);
      ASSERT_EQ(lookup.Lookup(red, green, blue, r, g, b), expected);  // cached answer
      EXPECT_EQ(RGBColor(uint8_t(r), uint8_t(g), uint8_t(b)), palette.ColorOf(expected));
    }
  }
  TSlowColorLookup none(nullptr);
  EXPECT_EQ(none.Colors(), 0);
}

TEST(ReductionPalette, FixedPalettes) {
  auto four = CreateReductionPalette(rmWindowsGray, nullptr);
  ASSERT_EQ(four->Count(), 4);
  const int greys[] = {0, 128, 192, 255};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(four->Entries()[size_t(i)],
              (TPaletteEntry{uint8_t(greys[i]), uint8_t(greys[i]), uint8_t(greys[i]), 4}));
  auto bw = CreateReductionPalette(rmMonochrome, nullptr);
  ASSERT_EQ(bw->Count(), 2);
  EXPECT_EQ(bw->Entries()[1], (TPaletteEntry{255, 255, 255, 4}));
  auto ramp = CreateReductionPalette(rmGrayScale, nullptr);
  ASSERT_EQ(ramp->Count(), 256);
  EXPECT_EQ(ramp->Entries()[77], (TPaletteEntry{77, 77, 77, 4}));
  EXPECT_EQ(*CreateReductionPalette(rmWindows20, nullptr), DefaultPalette20());
  // The halftone palette as a palette screen lays it out: the ten first system colours,
  // the 216 web colours, twenty greys of its own, the ten last system colours.
  auto halftone = CreateReductionPalette(rmWindows256, nullptr);
  ASSERT_EQ(halftone->Count(), 256);
  const std::vector<TPaletteEntry>& ht = halftone->Entries();
  const std::pair<size_t, TPaletteEntry> system[] = {
      {0, {0, 0, 0, 0}},         {1, {128, 0, 0, 0}},     {7, {192, 192, 192, 0}},
      {8, {192, 220, 192, 0}},   {9, {166, 202, 240, 0}}, {246, {255, 251, 240, 0}},
      {247, {160, 160, 164, 0}}, {249, {255, 0, 0, 0}},   {255, {255, 255, 255, 0}}};
  for (auto [index, entry] : system) EXPECT_EQ(ht[index], entry) << index;
  std::set<std::tuple<int, int, int>> cube;
  for (size_t i = 10; i < 246; ++i) {
    const TPaletteEntry& e = ht[i];
    if (e.peRed % 51 == 0 && e.peGreen % 51 == 0 && e.peBlue % 51 == 0)
      cube.insert({e.peRed, e.peGreen, e.peBlue});
    else
      EXPECT_TRUE(e.peRed == e.peGreen && e.peGreen == e.peBlue) << i;  // one of the greys
  }
  EXPECT_EQ(cube.size(), 216u);
  EXPECT_EQ(*CreateReductionPalette(rmWindows256, nullptr), *halftone);  // fixed and repeatable
  EXPECT_EQ(CreateReductionPalette(rmNone, nullptr), nullptr);
  EXPECT_EQ(CreateReductionPalette(rmQuantize, nullptr), nullptr);
  EXPECT_EQ(CreateReductionPalette(rmQuantizeWindows, nullptr), nullptr);
  TPalette given({{1, 2, 3, 0}, {4, 5, 6, 0}});
  EXPECT_EQ(*CreateReductionPalette(rmPalette, &given), given);
  ExpectGIFError([] { CreateReductionPalette(rmPalette, nullptr); },
                 "Palette vide, incorrecte ou manquante");
  TPalette empty;
  ExpectGIFError([&] { CreateReductionPalette(rmPalette, &empty); },
                 "Palette vide, incorrecte ou manquante");
}

TEST(Octree, MergesTheWholeTreeAtTheRoot) {
  // One colour bit: leaves hang from the root, which is the only node to merge.
  TColorQuantizer q(2, 1);
  q.AddPixel(0, 0, 0);
  q.AddPixel(255, 255, 255);
  EXPECT_EQ(q.LeafCount(), 2);
  q.AddPixel(255, 0, 0);
  EXPECT_EQ(q.LeafCount(), 1);
  q.AddPixel(0, 255, 0);
  TColorTable table{};
  ASSERT_EQ(q.GetColorTable(table), 1);
  EXPECT_EQ(table[0], (TRGBQuad{63, 127, 127, 0}));  // 255/4, 510/4, 510/4
}

TEST(Octree, MergesTheLatestNodeOfTheDeepestLevelFirst) {
  TColorQuantizer q(2, 2);
  q.AddPixel(0, 0, 0);
  q.AddPixel(64, 0, 0);  // same first-level branch, second leaf
  q.AddPixel(255, 255, 255);
  // The white branch came last: merged first (one child, no gain), then the other one.
  EXPECT_EQ(q.LeafCount(), 2);
  TColorTable table{};
  ASSERT_EQ(q.GetColorTable(table), 2);
  EXPECT_EQ(table[0], (TRGBQuad{0, 0, 32, 0}));
  EXPECT_EQ(table[1], (TRGBQuad{255, 255, 255, 0}));
}

TEST(Octree, StaysWithinItsColoursOnManyColours) {
  TColorQuantizer q(16, 6);
  std::mt19937 rng(3);
  for (int i = 0; i < 20000; ++i) {
    q.AddPixel(int(rng() % 256), int(rng() % 256), int(rng() % 256));
    ASSERT_LE(q.LeafCount(), 16);
  }
  TColorTable table{};
  EXPECT_LE(q.GetColorTable(table), 16);
}

TEST(ReduceBitmapColors, FewColoursGiveOneEntryPerColourGroup) {
  // Four groups at 6-bit precision; (100,0,0) and (103,0,0) share one.
  const std::vector<TColor> colors = {
      RGBColor(100, 0, 0), RGBColor(103, 0, 0), RGBColor(103, 0, 0),     RGBColor(103, 0, 0),
      RGBColor(0, 0, 200), RGBColor(0, 200, 0), RGBColor(250, 250, 250), RGBColor(0, 200, 0)};
  auto sourceOwned = MakeBitmapPtr(8, 4, colors);
  TBitmap& source = *sourceOwned;
  auto result = ReduceBitmapColors(source, rmQuantize, dmNearest, nullptr, 8);
  ASSERT_EQ(result->PixelFormat(), pf8bit);
  ASSERT_EQ(result->Width(), 8);
  ASSERT_EQ(result->Height(), 4);
  ASSERT_EQ(result->ColorTable().size(), 256u);
  // Tree order interleaves the bits red, green, blue from the top: the red group (all
  // top bits 0), then blue (0,0,200), green (0,200,0) and (250,250,250).
  EXPECT_EQ(TableColor(*result, 0), RGBColor(102, 0, 0));  // (100 + 3 * 103) div 4
  EXPECT_EQ(TableColor(*result, 1), RGBColor(0, 0, 200));
  EXPECT_EQ(TableColor(*result, 2), RGBColor(0, 200, 0));
  EXPECT_EQ(TableColor(*result, 3), RGBColor(250, 250, 250));
  const uint8_t expected[] = {0, 0, 0, 0, 1, 2, 3, 2};
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(IndexAt(*result, x, y), expected[x]) << x << "," << y;
  // 2^ReductionBits entries, whether used or not.
  auto small = ReduceBitmapColors(source, rmQuantize, dmFloydSteinberg, nullptr, 3);
  EXPECT_EQ(small->ColorTable().size(), 256u);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_LT(IndexAt(*small, x, y), 4);
}

// Quantizing fills the palette up to its size with entries of no colour of the image (zero,
// black); no pixel takes one, not even a black pixel whose group is not quite black. The
// greys 0 and 3 make one group (entry 0, their mean 1), white another (entry 1); with the
// system colours first, those become entries 20 and 21, and black is system colour 0.
TEST(ReduceBitmapColors, QuantizedFillerEntriesAreUsedByNoPixel) {
  std::vector<TColor> colors;
  for (int i = 0; i < 64; ++i) colors.push_back(i % 8 == 7 ? clWhite : i % 2 ? 0x030303 : clBlack);
  auto source = MakeBitmapPtr(16, 16, colors);
  for (bool windows : {false, true}) {
    auto result = ReduceBitmapColors(*source, windows ? rmQuantizeWindows : rmQuantize,
                                     dmFloydSteinberg, nullptr, 8);
    ASSERT_EQ(TableColor(*result, windows ? 20 : 0), RGBColor(1, 1, 1));
    ASSERT_EQ(TableColor(*result, windows ? 22 : 2), clBlack);  // the first filler entry
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const int index = IndexAt(*result, x, y);
        if (source->PixelColor(x, y) == clWhite)
          ASSERT_EQ(index, windows ? 19 : 1) << x << "," << y;  // system white comes first
        else
          ASSERT_TRUE(windows ? index == 0 || index == 20 : index == 0) << index;
      }
  }
}

TEST(ReduceBitmapColors, QuantizeWindowsPutsTheSystemColoursFirst) {
  std::vector<TColor> colors;
  for (int i = 0; i < 4096; ++i)
    colors.push_back(RGBColor(uint8_t(i * 7), uint8_t(i / 16), uint8_t((i * 13) >> 4)));
  colors.push_back(clWhite);
  auto sourceOwned = MakeBitmapPtr(64, 65, colors);
  TBitmap& source = *sourceOwned;
  TBitmap copy;
  copy.Assign(source);
  {
    TDIBReader reader(copy, pf24bit);
    auto palette = BuildQuantizedPalette(reader, 256, 6, true);
    ASSERT_EQ(palette->Count(), 256);  // 20 + 236
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(palette->Entries()[size_t(i)], DefaultPalette20().Entries()[size_t(i)]) << i;
  }
  auto result = ReduceBitmapColors(source, rmQuantizeWindows, dmNearest, nullptr, 8);
  ASSERT_EQ(result->ColorTable().size(), 256u);
  // The white pixel (the last one) takes the system white, ahead of any quantized one.
  const int last = 4096;
  EXPECT_EQ(IndexAt(*result, last % 64, last / 64), 19);
  std::set<int> used;
  for (int y = 0; y < 65; ++y)
    for (int x = 0; x < 64; ++x) used.insert(IndexAt(*result, x, y));
  EXPECT_GT(used.size(), 50u);
}

TEST(ReduceBitmapColors, FixedReductionsMapToTheirPalettes) {
  const std::vector<TColor> colors = {RGBColor(47, 48, 252), RGBColor(128, 128, 128),
                                      RGBColor(127, 127, 127), RGBColor(255, 0, 0)};
  auto sourceOwned = MakeBitmapPtr(4, 1, colors);
  TBitmap& source = *sourceOwned;
  auto web = ReduceBitmapColors(source, rmNetscape, dmNearest, nullptr, 8);
  EXPECT_EQ(IndexAt(*web, 0, 0), 6 * 1 + 5);
  EXPECT_EQ(IndexAt(*web, 3, 0), 180);
  EXPECT_EQ(TableColor(*web, 180), RGBColor(255, 0, 0));
  auto mono = ReduceBitmapColors(source, rmMonochrome, dmNearest, nullptr, 8);
  EXPECT_EQ(IndexAt(*mono, 1, 0), 1);
  EXPECT_EQ(IndexAt(*mono, 2, 0), 0);
  EXPECT_EQ(TableColor(*mono, 1), clWhite);
  auto grey = ReduceBitmapColors(source, rmGrayScale, dmNearest, nullptr, 8);
  EXPECT_EQ(IndexAt(*grey, 1, 0), 128);
  EXPECT_EQ(IndexAt(*grey, 3, 0), 76);
  auto four = ReduceBitmapColors(source, rmWindowsGray, dmNearest, nullptr, 8);
  EXPECT_EQ(IndexAt(*four, 1, 0), 1);  // 128 is the second grey
  auto sys = ReduceBitmapColors(source, rmWindows20, dmNearest, nullptr, 8);
  EXPECT_EQ(IndexAt(*sys, 3, 0), 13);  // pure red among the static colours
  auto halftone = ReduceBitmapColors(source, rmWindows256, dmNearest, nullptr, 8);
  EXPECT_EQ(TableColor(*halftone, IndexAt(*halftone, 3, 0)), RGBColor(255, 0, 0));
}

TEST(ReduceBitmapColors, PaletteBitmapsKeepTheirPixels) {
  for (int bits : {1, 4, 8}) {
    const int n = 1 << bits;
    TBitmap indexed;
    indexed.SetPixelFormat(PixelFormatOf(bits));
    std::vector<TRGBQuad> table;
    for (int i = 0; i < n; ++i)
      table.push_back(TRGBQuad{uint8_t(i * 37 % 256), uint8_t(255 - i), uint8_t(i * 91 % 256), 0});
    indexed.SetColorTable(table);
    indexed.SetSize(33, 17);
    std::vector<int> pixels;
    for (int y = 0; y < 17; ++y)
      for (int x = 0; x < 33; ++x) {
        int v = (x * 7 + y * 3) % n;
        pixels.push_back(v);
        indexed.SetPixelColor(
            x, y,
            RGBColor(table[size_t(v)].rgbRed, table[size_t(v)].rgbGreen, table[size_t(v)].rgbBlue));
      }
    TBitmap source;
    source.Assign(indexed);
    std::unique_ptr<TPalette> palette = CopyPalette(indexed.Palette());
    for (TDitherMode mode : {dmNearest, dmFloydSteinberg, dmBurkes}) {
      auto result = ReduceBitmapColors(source, rmPalette, mode, palette.get(), 8);
      EXPECT_EQ(source.PixelFormat(), pf24bit);  // the source is left converted
      ASSERT_EQ(result->PixelFormat(), pf8bit);
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 33; ++x)
          ASSERT_EQ(IndexAt(*result, x, y), pixels[size_t(y * 33 + x)]) << bits << " " << mode;
    }
  }
}

TEST(ReduceBitmapColors, SourceFormatsAndNone) {
  auto sourceOwned = MakeBitmapPtr(5, 3, {RGBColor(1, 2, 3), RGBColor(200, 100, 50)});
  TBitmap& source = *sourceOwned;
  for (TDitherMode mode : {dmNearest, dmStucki, TDitherMode(7)}) {
    auto copy = ReduceBitmapColors(source, rmNone, mode, nullptr, 8);
    ASSERT_EQ(copy->PixelFormat(), pf24bit);
    EXPECT_EQ(copy->PixelColor(1, 2), source.PixelColor(1, 2));
  }
  TBitmap wide;
  wide.Assign(source);
  wide.SetPixelFormat(pf32bit);
  auto reduced = ReduceBitmapColors(wide, rmNetscape, dmFloydSteinberg, nullptr, 8);
  EXPECT_EQ(wide.PixelFormat(), pf24bit);
  EXPECT_EQ(reduced->PixelFormat(), pf8bit);
  reduced = ReduceBitmapColors(source, rmNetscape, dmFloydSteinberg, nullptr, 8);
  EXPECT_EQ(source.PixelFormat(), pf24bit);
  // A mode outside the enumeration gives no ditherer and an empty result.
  auto empty = ReduceBitmapColors(source, rmNetscape, TDitherMode(7), nullptr, 8);
  EXPECT_TRUE(empty->Empty());
}

TEST(DIBWriter, RowsTopDownAndTheColourTable) {
  TBitmap target;
  TPalette palette({{10, 20, 30, 0}, {40, 50, 60, 0}, {70, 80, 90, 0}});
  {
    TDIBWriter writer(target, pf8bit, 3, 2, &palette);
    writer.GetScanline(0)[0] = 2;
    writer.GetScanline(1)[2] = 1;
  }  // loaded when the writer goes
  ASSERT_EQ(target.PixelFormat(), pf8bit);
  ASSERT_EQ(target.Width(), 3);
  ASSERT_EQ(target.ColorTable().size(), 256u);
  EXPECT_EQ(target.PixelColor(0, 0), RGBColor(70, 80, 90));
  EXPECT_EQ(target.PixelColor(2, 1), RGBColor(40, 50, 60));
  EXPECT_EQ(target.PixelColor(1, 1), RGBColor(10, 20, 30));
  EXPECT_EQ(target.ColorTable()[3], TRGBQuad{});
  TBitmap rgb;
  {
    TDIBWriter writer(rgb, pf24bit, 2, 2, nullptr);
    uint8_t* row = writer.GetScanline(1);
    row[3] = 9;  // blue of the second pixel
    row[4] = 8;
    row[5] = 7;
    writer.UpdateBitmap();
  }
  EXPECT_EQ(rgb.PixelFormat(), pf24bit);
  EXPECT_EQ(rgb.PixelColor(1, 1), RGBColor(7, 8, 9));
}

TEST(DIBWriter, Errors) {
  TBitmap target;
  ExpectGIFError([&] { TDIBWriter(target, pf16bit, 2, 2, nullptr); }, "PixelFormat non supporté");
  ExpectGIFError([&] { TDIBWriter(target, pf1bit, 2, 2, nullptr); }, "PixelFormat non supporté");
  ExpectGIFError([&] { TDIBWriter(target, pf8bit, 0, 2, nullptr); },
                 "Dimensions de l'image incorrectes");
  ExpectGIFError([&] { TDIBWriter(target, pf24bit, 5, 0, nullptr); },
                 "Dimensions de l'image incorrectes");
  TDIBWriter writer(target, pf8bit, 4, 3, nullptr);
  EXPECT_THROW(writer.GetScanline(3), EInvalidGraphicOperation);
  try {
    writer.GetScanline(-1);
    ADD_FAILURE() << "row -1 accepted";
  } catch (const EInvalidGraphicOperation& e) {
    EXPECT_EQ(e.Message(), SScanLine);
  }
  // Beyond the framework's budget: its own error, before any memory is taken.
  EXPECT_THROW(TDIBWriter(target, pf24bit, 65535, 65535, nullptr), EOutOfResources);
}

TEST(ReduceBitmapColors, HostileSizesAndPalettes) {
  // One pixel wide and 65535 high, through the default reduction.
  std::vector<TColor> ramp;
  for (int i = 0; i < 65535; ++i)
    ramp.push_back(RGBColor(uint8_t(i), uint8_t(i >> 8), uint8_t(i * 3)));
  auto tallOwned = MakeBitmapPtr(1, 65535, ramp);
  TBitmap& tall = *tallOwned;
  auto reduced = ReduceBitmapColors(tall, rmQuantize, dmFloydSteinberg, nullptr, 8);
  EXPECT_EQ(reduced->Width(), 1);
  EXPECT_EQ(reduced->Height(), 65535);
  EXPECT_EQ(reduced->PixelFormat(), pf8bit);
  // A result larger than the budget allows fails with the budget error, the source intact.
  auto bigOwned = MakeBitmapPtr(3000, 2000, {RGBColor(1, 2, 3), RGBColor(90, 80, 70)});
  TBitmap& big = *bigOwned;
  const uint64_t budget = GetImageBudget();
  SetImageBudget(4'000'000);
  EXPECT_THROW(ReduceBitmapColors(big, rmQuantize, dmFloydSteinberg, nullptr, 8), EOutOfResources);
  SetImageBudget(budget);
  EXPECT_EQ(big.PixelColor(1, 0), RGBColor(90, 80, 70));
  // An 8-bit bitmap whose pixels point past its two-entry table.
  TBitmap broken;
  broken.SetPixelFormat(pf8bit);
  broken.SetColorTable({TRGBQuad{0, 0, 255, 0}, TRGBQuad{255, 0, 0, 0}});
  broken.SetSize(6, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) broken.GetScanline(y)[x] = uint8_t(200 + x);
  auto repaired = ReduceBitmapColors(broken, rmQuantize, dmFloydSteinberg, nullptr, 8);
  EXPECT_EQ(repaired->Width(), 6);
  ExpectGIFError([&] { ReduceBitmapColors(broken, rmPalette, dmNearest, nullptr, 8); },
                 "Palette vide, incorrecte ou manquante");
  TPalette empty;
  ExpectGIFError([&] { ReduceBitmapColors(broken, rmPalette, dmNearest, &empty, 8); },
                 "Palette vide, incorrecte ou manquante");
}

TEST(DitheredFrame, WebPaletteMaskAndTheTransparentColoursEntry) {
  TGIFImage image;
  image.SetDithering(gdEnabled);
  ASSERT_TRUE(image.ShouldDither());
  for (TColor c : {clBlack, clRed, clBlue, clWhite, RGBColor(100, 100, 100)})
    image.GlobalColorMap().Add(c);
  TGIFFrame* frame = TGIFFrame::Create(&image);
  frame->ApplyBounds(0, 0, 4, 2);
  frame->AddTransparency(3);
  const uint8_t pixels[2][4] = {{1, 1, 3, 3}, {0, 2, 2, 1}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) frame->Scanline(y)[x] = pixels[y][x];
  TBitmap* bitmap = frame->Bitmap();
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->PixelFormat(), pf8bit);
  // Web colours are met exactly; under the transparent pixels lies white's own entry.
  const uint8_t expected[2][4] = {{180, 180, 215, 215}, {0, 5, 5, 180}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(IndexAt(*bitmap, x, y), expected[y][x]) << x << "," << y;
  EXPECT_EQ(TableColor(*bitmap, 215), clWhite);
  ASSERT_NE(frame->Mask(), nullptr);
  EXPECT_EQ(frame->Mask()->GetScanline(0)[0], 0x30);  // bits of columns 2 and 3
  EXPECT_EQ(frame->Mask()->GetScanline(1)[0], 0x00);
  // A grey between two cube steps is dithered over both of them.
  TGIFFrame* grey = TGIFFrame::Create(&image);
  grey->ApplyBounds(0, 0, 16, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) grey->Scanline(y)[x] = 4;
  std::set<int> used;
  TBitmap* g = grey->Bitmap();
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 16; ++x) used.insert(IndexAt(*g, x, y));
  EXPECT_EQ(used, (std::set<int>{43, 86}));  // (51,51,51) and (102,102,102)
}

TEST(ReducedFrame, TrueColourBitmapsBecomeFramesThroughTheImageSettings) {
  const std::vector<TColor> colors = {RGBColor(200, 10, 10), RGBColor(10, 200, 10),
                                      RGBColor(10, 10, 200)};
  for (TColorReduction reduction : {rmQuantize, rmNetscape, rmGrayScale}) {
    TGIFImage image;
    image.SetColorReduction(reduction);
    image.SetDitherMode(dmNearest);
    auto sourceOwned = MakeBitmapPtr(7, 5, colors);
    TGIFFrame* frame = TGIFFrame::Create(&image);
    frame->Assign(*sourceOwned);
    ASSERT_EQ(frame->Width(), 7);
    TGIFColorMap& map = frame->ActiveColorMap();
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x) {
        const TColor c = map.Colors(frame->Scanline(y)[x]);
        const TColor want = colors[size_t(y * 7 + x) % 3];
        if (reduction == rmQuantize) {
          ASSERT_EQ(c, want);  // three groups: their exact means
        } else if (reduction == rmNetscape) {
          // 200 lies below the threshold 201: 153.
          ASSERT_EQ(c, RGBColor(GetRValue(want) > 150 ? 153 : 0, GetGValue(want) > 150 ? 153 : 0,
                                GetBValue(want) > 150 ? 153 : 0));
        } else {
          ASSERT_EQ(GetRValue(c), GetGValue(c));
        }
      }
  }
}
