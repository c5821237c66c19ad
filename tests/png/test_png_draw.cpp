// Drawing PNG images onto bitmaps: alpha composition and its scaling, colour keys, plain
// copies, clipping, sizes from pHYs, and the conversion to bitmaps.
#include <gtest/gtest.h>

#include "png_write_test_util.h"

using namespace pngw;

namespace {

// An RGB + alpha image whose pixel (x, y) is colorOf(x, y) with alpha alphaOf(x, y).
template <class C, class A>
std::unique_ptr<TPngImage> MakeRgbaImage(int width, int height, C colorOf, A alphaOf) {
  auto png = TPngImage::CreateBlank(COLOR_RGBALPHA, 8, width, height);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = png->Scanline(y);
    uint8_t* alpha = png->AlphaScanline(y);
    for (int x = 0; x < width; ++x) {
      const TColor c = colorOf(x, y);
      row[3 * x] = GetBValue(c);
      row[3 * x + 1] = GetGValue(c);
      row[3 * x + 2] = GetRValue(c);
      alpha[x] = uint8_t(alphaOf(x, y));
    }
  }
  return png;
}

std::unique_ptr<TBitmap> MakeCanvas(int width, int height, TColor color,
                                    TPixelFormat format = pf24bit) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(format);
  bitmap->SetSize(width, height);
  FillPixels(bitmap->View(), TRect{0, 0, width, height}, color);
  return bitmap;
}

// Colour of source pixel (x, y) of a 100 x 100 test image: distinct per pixel.
TColor Distinct(int x, int y) {
  return RGBColor(uint8_t(x), uint8_t(y), uint8_t(x + y));
}

// An 8-bit palette image, entry i = grey 10 * i, pixel (x, y) = index x % entries.
std::unique_ptr<TPngImage> MakePaletteImage(int width, int height, int entries) {
  auto png = TPngImage::CreateBlank(COLOR_PALETTE, 8, width, height);
  std::vector<TPaletteEntry> colors(static_cast<size_t>(entries));
  for (int i = 0; i < entries; ++i)
    colors[size_t(i)] = TPaletteEntry{uint8_t(10 * i), uint8_t(10 * i), uint8_t(10 * i), 0};
  TPalette palette(colors);
  png->SetPalette(&palette);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) png->Scanline(y)[x] = uint8_t(x % entries);
  return png;
}

}  // namespace

TEST(PngDrawAlpha, HalfAlphaOverWhite) {
  auto png = MakeRgbaImage(
      4, 1, [](int x, int) { return RGBColor(uint8_t(x * 80), 0, 255); },
      [](int, int) { return 128; });
  auto canvasOwner = MakeCanvas(4, 1, clWhite);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{0, 0, 4, 1});
  for (int x = 0; x < 4; ++x) {
    const TColor c = canvas.PixelColor(x, 0);
    EXPECT_EQ(GetRValue(c), (255u * 127 + unsigned(x * 80) * 128 + 127) / 255) << x;
    EXPECT_EQ(GetGValue(c), 127) << x;  // black source
    EXPECT_EQ(GetBValue(c), 255) << x;
  }
}

TEST(PngDrawAlpha, TransparentKeepsOpaqueReplacesAndAlphaByteComposes) {
  auto png = MakeRgbaImage(
      3, 1, [](int, int) { return RGBColor(200, 100, 50); },
      [](int x, int) { return x == 0   ? 0
                              : x == 1 ? 255
                                       : 64; });
  auto canvasOwner = MakeCanvas(3, 1, RGBColor(10, 20, 30), pf32bit);
  TBitmap& canvas = *canvasOwner;
  for (int x = 0; x < 3; ++x) canvas.GetScanline(0)[4 * x + 3] = 100;
  png->Draw(canvas.Canvas(), TRect{0, 0, 3, 1});
  const uint8_t* p = canvas.GetScanline(0);
  EXPECT_EQ((std::vector<uint8_t>(p, p + 4)), (std::vector<uint8_t>{30, 20, 10, 100}));
  EXPECT_EQ((std::vector<uint8_t>(p + 4, p + 8)), (std::vector<uint8_t>{50, 100, 200, 255}));
  EXPECT_EQ(p[8], (30u * 191 + 50u * 64 + 127) / 255);
  EXPECT_EQ(p[11], 255u - (191u * 155 + 127) / 255);
}

// Unscaled rows take four pixels a step: every alpha, runs of clear pixels, row ends
// inside a step, a rectangle off the canvas's left and right edges; each pixel against the
// formula worked per pixel.
TEST(PngDrawAlpha, UnscaledRowsMatchTheFormulaAtEveryAlpha) {
  const auto alphaOf = [](int x, int y) { return y == 3 && x < 16 ? 0 : (x * 7 + y * 31) & 255; };
  for (const int width : {1, 5, 6, 7, 37}) {
    auto png = MakeRgbaImage(width, 7, Distinct, alphaOf);
    for (const int left : {-3, 2, 45 - width + 2}) {
      auto canvasOwner = MakeCanvas(45, 9, clWhite);
      TBitmap& canvas = *canvasOwner;
      FillPixels(canvas.View(), TRect{0, 0, 45, 9}, RGBColor(90, 140, 210));
      for (int x = 0; x < 45; x += 3) canvas.SetPixelColor(x, 2, RGBColor(uint8_t(x * 5), 7, 250));
      TBitmap before;
      before.Assign(canvas);
      png->Draw(canvas.Canvas(), TRect{left, 1, left + width, 8});
      for (int y = 0; y < 9; ++y)
        for (int x = 0; x < 45; ++x) {
          const TColor bg = before.PixelColor(x, y), got = canvas.PixelColor(x, y);
          const int sx = x - left, sy = y - 1;
          if (sx < 0 || sx >= width || sy < 0 || sy >= 7) {
            ASSERT_EQ(got, bg) << x << "," << y;
            continue;
          }
          const unsigned a = unsigned(alphaOf(sx, sy));
          const TColor src = Distinct(sx, sy);
          auto mix = [a](unsigned d, unsigned s) { return (d * (255 - a) + s * a + 127) / 255; };
          ASSERT_EQ(got, RGBColor(uint8_t(mix(GetRValue(bg), GetRValue(src))),
                                  uint8_t(mix(GetGValue(bg), GetGValue(src))),
                                  uint8_t(mix(GetBValue(bg), GetBValue(src)))))
              << "width " << width << " at " << left << ": " << x << "," << y;
        }
    }
  }
}

TEST(PngDrawAlpha, ShrinkingAndEnlargingSampleNearestPixels) {
  auto png = MakeRgbaImage(100, 100, Distinct, [](int, int) { return 255; });
  auto smallOwner = MakeCanvas(50, 50, clBlack);
  TBitmap& small = *smallOwner;
  png->Draw(small.Canvas(), TRect{0, 0, 50, 50});
  for (int y = 0; y < 50; y += 7)
    for (int x = 0; x < 50; x += 3) ASSERT_EQ(small.PixelColor(x, y), Distinct(2 * x, 2 * y));

  auto largeOwner = MakeCanvas(200, 200, clBlack);
  TBitmap& large = *largeOwner;
  png->Draw(large.Canvas(), TRect{0, 0, 200, 200});
  for (int y = 0; y < 200; y += 5)
    for (int x = 0; x < 200; x += 3) ASSERT_EQ(large.PixelColor(x, y), Distinct(x / 2, y / 2));
}

TEST(PngDrawAlpha, ReversedRectangleIsNotMirrored) {
  auto png = MakeRgbaImage(10, 10, Distinct, [](int, int) { return 255; });
  auto canvasOwner = MakeCanvas(30, 30, clBlack);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{25, 22, 15, 12});
  EXPECT_EQ(canvas.PixelColor(15, 12), Distinct(0, 0));
  EXPECT_EQ(canvas.PixelColor(24, 21), Distinct(9, 9));
  EXPECT_EQ(canvas.PixelColor(14, 12), clBlack);
}

TEST(PngDrawAlpha, RectangleHangingOutsideTheCanvasIsClipped) {
  auto png = MakeRgbaImage(20, 20, Distinct, [](int, int) { return 255; });
  auto canvasOwner = MakeCanvas(10, 10, clWhite);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{-5, -8, 15, 12});
  EXPECT_EQ(canvas.PixelColor(0, 0), Distinct(5, 8));
  EXPECT_EQ(canvas.PixelColor(9, 3), Distinct(14, 11));
  png->Draw(canvas.Canvas(), TRect{-50, -50, -10, -10});  // wholly outside: nothing
  png->Draw(canvas.Canvas(), TRect{3, 3, 3, 9});          // empty: nothing
  EXPECT_EQ(canvas.PixelColor(9, 3), Distinct(14, 11));
}

TEST(PngDrawAlpha, OtherCanvasFormatsAreComposedToo) {
  auto png = MakeRgbaImage(
      2, 1, [](int, int) { return clBlack; }, [](int x, int) { return x == 0 ? 0 : 255; });
  auto canvasOwner = MakeCanvas(2, 1, clWhite, pf16bit);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{0, 0, 2, 1});
  EXPECT_EQ(canvas.PixelColor(0, 0), clWhite);
  EXPECT_EQ(canvas.PixelColor(1, 0), clBlack);
}

TEST(PngDrawAlpha, WorkSurfaceOverTheBudgetFailsAndLeavesTheCanvas) {
  auto png = MakeRgbaImage(
      8, 8, [](int, int) { return clBlack; }, [](int, int) { return 255; });
  auto canvasOwner = MakeCanvas(8, 8, clWhite, pf8bit);
  TBitmap& canvas = *canvasOwner;
  const uint64_t budget = GetImageBudget();
  SetImageBudget(100);  // less than the 8 x 8 x 4 bytes of the work surface
  EXPECT_THROW(png->Draw(canvas.Canvas(), TRect{0, 0, 8, 8}), EPNGOutMemory);
  SetImageBudget(budget);
  EXPECT_EQ(canvas.PixelColor(4, 4), clWhite);
}

TEST(PngDrawAlpha, GreyWithAlphaUsesTheStoredLevel) {
  auto png = TPngImage::CreateBlank(COLOR_GRAYSCALEALPHA, 8, 2, 1);
  png->Scanline(0)[0] = 0;
  png->Scanline(0)[1] = 200;
  png->AlphaScanline(0)[0] = 128;
  png->AlphaScanline(0)[1] = 255;
  auto canvasOwner = MakeCanvas(2, 1, clWhite);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{0, 0, 2, 1});
  EXPECT_EQ(canvas.PixelColor(0, 0), RGBColor(127, 127, 127));
  EXPECT_EQ(canvas.PixelColor(1, 0), RGBColor(200, 200, 200));
}

TEST(PngDrawAlpha, PaletteAlphaUsesItsOwnRounding) {
  auto png = MakePaletteImage(4, 1, 4);
  png->CreateAlpha();
  auto* trns = png->Chunks().Find<TChunktRNS>();
  ASSERT_NE(trns, nullptr);
  trns->PaletteValues[0] = 0;
  trns->PaletteValues[1] = 0;
  trns->PaletteValues[2] = 100;
  ASSERT_EQ(png->TransparencyMode(), ptmPartial);
  auto canvasOwner = MakeCanvas(4, 1, RGBColor(250, 250, 250));
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{0, 0, 4, 1});
  EXPECT_EQ(canvas.PixelColor(0, 0), RGBColor(250, 250, 250));
  EXPECT_EQ(canvas.PixelColor(1, 0), RGBColor(250, 250, 250));
  const uint8_t mixed = uint8_t((100u * 20 + 155u * 250 + 255) >> 8);
  EXPECT_EQ(canvas.PixelColor(2, 0), RGBColor(mixed, mixed, mixed));
  EXPECT_EQ(canvas.PixelColor(3, 0), RGBColor(30, 30, 30));
}

TEST(PngDrawKeyed, PaletteKeyKeepsTheCanvas) {
  auto png = MakePaletteImage(6, 2, 3);
  png->SetTransparentColor(RGBColor(10, 10, 10));  // entry 1
  ASSERT_EQ(png->TransparencyMode(), ptmBit);
  auto canvasOwner = MakeCanvas(12, 4, clRed);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{0, 0, 12, 4});
  for (int x = 0; x < 12; ++x) {
    const int index = (x / 2) % 3;
    const TColor expected =
        index == 1 ? clRed
                   : RGBColor(uint8_t(10 * index), uint8_t(10 * index), uint8_t(10 * index));
    EXPECT_EQ(canvas.PixelColor(x, 3), expected) << x;
  }
}

TEST(PngDrawKeyed, GreyKeyKeepsTheCanvas) {
  auto png = TPngImage::CreateBlank(COLOR_GRAYSCALE, 8, 3, 1);
  png->Scanline(0)[0] = 0;
  png->Scanline(0)[1] = 90;
  png->Scanline(0)[2] = 180;
  png->SetTransparentColor(RGBColor(90, 90, 90));
  ASSERT_EQ(png->TransparencyMode(), ptmBit);
  auto canvasOwner = MakeCanvas(3, 1, clBlue);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{0, 0, 3, 1});
  EXPECT_EQ(canvas.PixelColor(0, 0), clBlack);
  EXPECT_EQ(canvas.PixelColor(1, 0), clBlue);
  EXPECT_EQ(canvas.PixelColor(2, 0), RGBColor(180, 180, 180));
}

TEST(PngDrawPlain, OpaqueImageIsStretchedColourOnColour) {
  auto png = TPngImage::CreateBlank(COLOR_RGB, 8, 100, 100);
  for (int y = 0; y < 100; ++y)
    for (int x = 0; x < 100; ++x) png->SetPixels(x, y, Distinct(x, y));
  auto canvasOwner = MakeCanvas(50, 50, clWhite);
  TBitmap& canvas = *canvasOwner;
  png->Draw(canvas.Canvas(), TRect{0, 0, 50, 50});
  EXPECT_EQ(canvas.PixelColor(10, 20), Distinct(20, 40));
  TPngImage empty;
  empty.Draw(canvas.Canvas(), TRect{0, 0, 50, 50});  // draws nothing, raises nothing
  EXPECT_EQ(canvas.PixelColor(10, 20), Distinct(20, 40));
}

TEST(PngDrawPixelInformation, SizeFollowsPhysUnlessZero) {
  auto png = MakeRgbaImage(40, 20, Distinct, [](int, int) { return 255; });
  auto canvasOwner = MakeCanvas(100, 100, clWhite);
  TBitmap& canvas = *canvasOwner;
  png->DrawUsingPixelInformation(canvas.Canvas(), TPoint{5, 5});  // no pHYs: own size
  EXPECT_EQ(canvas.PixelColor(44, 24), Distinct(39, 19));
  EXPECT_EQ(canvas.PixelColor(45, 24), clWhite);

  TChunkpHYs& phys = png->PixelInformation();  // added with 0 pixels per metre
  FillPixels(canvas.View(), TRect{0, 0, 100, 100}, clWhite);
  png->DrawUsingPixelInformation(canvas.Canvas(), TPoint{0, 0});
  EXPECT_EQ(canvas.PixelColor(39, 19), Distinct(39, 19));
  EXPECT_EQ(canvas.PixelColor(40, 19), clWhite);

  // Twice the screen's resolution: half the size (96 dpi is 3779.5 pixels per metre).
  phys.SetPPUnitX(7559);
  phys.SetPPUnitY(7559);
  FillPixels(canvas.View(), TRect{0, 0, 100, 100}, clWhite);
  png->DrawUsingPixelInformation(canvas.Canvas(), TPoint{0, 0});
  EXPECT_EQ(canvas.PixelColor(19, 9), Distinct(38, 18));
  EXPECT_EQ(canvas.PixelColor(20, 9), clWhite);
}

TEST(PngAssignTo, ConvertedBitmapDrawsLikeTheImage) {
  // The bitmap holds premultiplied colours; drawing it must not multiply them again.
  auto png = MakeRgbaImage(
      4, 1, [](int, int) { return RGBColor(0, 120, 240); }, [](int x, int) { return x * 80; });
  TBitmap bitmap;
  bitmap.Assign(*png);
  auto direct = MakeCanvas(4, 1, clWhite);
  auto viaBitmap = MakeCanvas(4, 1, clWhite);
  png->Draw(direct->Canvas(), TRect{0, 0, 4, 1});
  bitmap.Draw(viaBitmap->Canvas(), TRect{0, 0, 4, 1});
  for (int x = 0; x < 4; ++x) {
    const TColor a = direct->PixelColor(x, 0), b = viaBitmap->PixelColor(x, 0);
    EXPECT_NEAR(GetRValue(a), GetRValue(b), 1) << x;
    EXPECT_NEAR(GetGValue(a), GetGValue(b), 1) << x;
    EXPECT_NEAR(GetBValue(a), GetBValue(b), 1) << x;
  }
}

TEST(PngAssignTo, RgbAlphaGivesPremultipliedThirtyTwoBits) {
  auto png = MakeRgbaImage(
      3, 1, [](int, int) { return RGBColor(200, 100, 50); },
      [](int x, int) { return x == 0   ? 0
                              : x == 1 ? 255
                                       : 128; });
  TBitmap bitmap;
  bitmap.Assign(*png);
  EXPECT_EQ(bitmap.PixelFormat(), pf32bit);
  EXPECT_EQ(bitmap.AlphaFormat(), afPremultiplied);
  const uint8_t* p = bitmap.GetScanline(0);
  EXPECT_EQ((std::vector<uint8_t>(p, p + 12)),
            (std::vector<uint8_t>{0, 0, 0, 0, 50, 100, 200, 255, (50 * 128 + 127) / 255,
                                  (100 * 128 + 127) / 255, (200 * 128 + 127) / 255, 128}));
}

TEST(PngAssignTo, OpaqueImagesKeepTheirFormat) {
  auto grey = TPngImage::CreateBlank(COLOR_GRAYSCALE, 8, 4, 2);
  grey->Scanline(1)[3] = 77;
  TBitmap bitmap;
  bitmap.Assign(*grey);
  EXPECT_EQ(bitmap.PixelFormat(), pf24bit);
  EXPECT_EQ(bitmap.AlphaFormat(), afIgnored);
  EXPECT_EQ(bitmap.PixelColor(3, 1), RGBColor(77, 77, 77));

  auto palette = MakePaletteImage(5, 3, 4);
  bitmap.Assign(*palette);
  EXPECT_EQ(bitmap.PixelFormat(), pf8bit);
  for (int x = 0; x < 5; ++x) EXPECT_EQ(bitmap.GetScanline(2)[x], x % 4);
  EXPECT_EQ(bitmap.PixelColor(3, 0), RGBColor(30, 30, 30));

  auto bits = TPngImage::CreateBlank(COLOR_PALETTE, 2, 9, 1);
  bitmap.Assign(*bits);
  EXPECT_EQ(bitmap.PixelFormat(), pf4bit);
}

TEST(PngAssignTo, KeyedImageGivesATransparentBitmap) {
  auto png = MakePaletteImage(6, 2, 3);
  png->SetTransparentColor(RGBColor(20, 20, 20));
  TBitmap bitmap;
  bitmap.Assign(*png);
  EXPECT_TRUE(bitmap.Transparent());
  EXPECT_EQ(bitmap.TransparentColor(), RGBColor(20, 20, 20));
  EXPECT_EQ(bitmap.GetScanline(1)[5], 2);
}

TEST(PngAssignTo, AnotherPngTakesACopy) {
  auto png = MakeRgbaImage(5, 4, Distinct, [](int x, int) { return x * 50; });
  TPngImage copy;
  png->AssignTo(copy);
  ASSERT_EQ(copy.Width(), 5);
  EXPECT_EQ(copy.GetPixels(3, 2), Distinct(3, 2));
  EXPECT_EQ(copy.AlphaScanline(2)[3], 150);
}

// A product with soft edges drawn over a photograph and exported as PNG: libpng reads the
// composed pixels exactly.
TEST(PngDrawAndExport, ComposedPictureIsReadBackByAnotherDecoder) {
  auto photoOwner = MakeBitmap24(64, 48, TestPattern);
  TBitmap& photo = *photoOwner;
  auto product = MakeRgbaImage(
      30, 30, [](int x, int y) { return RGBColor(uint8_t(8 * x), uint8_t(8 * y), 90); },
      [](int x, int y) {
        return std::min(255, 20 * std::min(std::min(x, y), 29 - std::max(x, y)));
      });
  product->Draw(photo.Canvas(), TRect{50, 30, 90, 70});  // hangs over the edge
  TPngImage png;
  png.Assign(photo);
  const TOracleImage oracle = DecodeWithLibpng(SaveToBytes(png));
  ASSERT_TRUE(oracle.Ok);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const TColor c = photo.PixelColor(x, y);
      const uint8_t* p = oracle.Pixel(uint32_t(x), uint32_t(y));
      ASSERT_EQ(RGBColor(p[0], p[1], p[2]), c) << x << "," << y;
    }
}
