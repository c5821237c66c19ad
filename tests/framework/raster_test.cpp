// Raster operations: nearest-neighbour sampling, masked copies, raster ops and the
// conversions between pixel formats.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "test_support.h"

namespace {

// A 24-bit row whose pixel i has red = i * 10.
void Ramp(TBitmap& bmp, int width) {
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(width, 1);
  for (int i = 0; i < width; ++i) bmp.SetPixelColor(i, 0, RGBColor(uint8_t(i * 10), 0, 0));
}

std::vector<int> RedsOf(const TBitmap& bmp, int y = 0) {
  std::vector<int> v;
  for (int x = 0; x < bmp.Width(); ++x) v.push_back(GetRValue(bmp.PixelColor(x, y)) / 10);
  return v;
}

}  // namespace

// Destination pixel i takes source pixel trunc(i * srcWidth / dstWidth): whole rows and
// columns are dropped or repeated, never blended.
TEST(StretchSampling, NearestPixelWithoutBlending) {
  TBitmap src, dst;
  Ramp(src, 4);
  dst.SetSize(8, 1);
  StretchBlt(dst.View(), Rect(0, 0, 8, 1), src.View(), Rect(0, 0, 4, 1));
  EXPECT_EQ(RedsOf(dst), (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3}));
  dst.SetSize(3, 1);
  Ramp(src, 7);
  StretchBlt(dst.View(), Rect(0, 0, 3, 1), src.View(), Rect(0, 0, 7, 1));
  EXPECT_EQ(RedsOf(dst), (std::vector<int>{0, 2, 4}));
  // A negative destination width mirrors.
  dst.SetSize(4, 1);
  Ramp(src, 4);
  StretchBlt(dst.View(), Rect(4, 0, 0, 1), src.View(), Rect(0, 0, 4, 1));
  EXPECT_EQ(RedsOf(dst), (std::vector<int>{3, 2, 1, 0}));
}

TEST(StretchSampling, ClipsToBothBuffers) {
  TBitmap src, dst;
  Ramp(src, 4);
  dst.SetSize(4, 1);
  dst.Canvas().Brush.Color = RGBColor(90, 0, 0);
  dst.Canvas().FillRect(Rect(0, 0, 4, 1));
  StretchBlt(dst.View(), Rect(-4, 0, 4, 1), src.View(), Rect(0, 0, 4, 1));
  EXPECT_EQ(RedsOf(dst), (std::vector<int>{2, 2, 3, 3}));
  StretchBlt(dst.View(), Rect(2, 0, 100, 50), src.View(), Rect(0, 0, 4, 1));  // no overrun
  EXPECT_EQ(RedsOf(dst), (std::vector<int>{2, 2, 0, 0}));
}

// Mask bit 1 keeps the destination, 0 takes the source, with the mask scaled like the
// source.
TEST(MaskedCopy, MaskBitOneKeepsDestination) {
  TBitmap src, dst, mask;
  Ramp(src, 4);
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(4, 1);
  mask.GetScanline(0)[0] = 0b0101'0000;  // keep under source pixels 1 and 3
  dst.SetSize(8, 1);
  dst.Canvas().Brush.Color = RGBColor(90, 0, 0);
  dst.Canvas().FillRect(Rect(0, 0, 8, 1));
  TPixelView maskView = mask.View();
  maskView.Colors = nullptr;  // a plain mask, not a picture
  StretchMaskedCopy(dst.View(), Rect(0, 0, 8, 1), src.View(), Rect(0, 0, 4, 1), maskView);
  EXPECT_EQ(RedsOf(dst), (std::vector<int>{0, 0, 9, 9, 2, 2, 9, 9}));
}

TEST(RasterOps, InvertTwiceRestoresAndFillsClip) {
  TBitmap a, b;
  a.SetSize(5, 5);
  FillPattern(a, 1);
  b.SetSize(5, 5);
  FillPattern(b, 2);
  const TColor before = a.PixelColor(2, 2);
  BitBlt(a.View(), 0, 0, b.View(), Rect(0, 0, 5, 5), ropSrcInvert);
  EXPECT_NE(a.PixelColor(2, 2), before);
  BitBlt(a.View(), 0, 0, b.View(), Rect(0, 0, 5, 5), ropSrcInvert);
  EXPECT_EQ(a.PixelColor(2, 2), before);
  FillPixels(a.View(), Rect(-10, -10, 100, 1), clLime);
  EXPECT_EQ(Hex(a.PixelColor(4, 0)), Hex(clLime));
  EXPECT_EQ(a.PixelColor(2, 2), before);
}

TEST(FormatConversion, TrueColourFormatsKeepColours) {
  TBitmap bmp;
  bmp.SetPixelFormat(pf32bit);
  bmp.SetSize(3, 1);
  bmp.SetPixelColor(0, 0, RGBColor(255, 128, 7));
  bmp.SetPixelColor(1, 0, clWhite);
  bmp.SetPixelColor(2, 0, RGBColor(8, 4, 16));
  bmp.SetPixelFormat(pf24bit);
  EXPECT_EQ(Hex(bmp.PixelColor(0, 0)), Hex(RGBColor(255, 128, 7)));
  bmp.SetPixelFormat(pf16bit);  // 5-6-5 keeps the top bits, widened back to full range
  EXPECT_EQ(Hex(bmp.PixelColor(1, 0)), Hex(clWhite));
  EXPECT_EQ(GetGValue(bmp.PixelColor(2, 0)), 4);
  bmp.SetPixelFormat(pf15bit);
  EXPECT_EQ(Hex(bmp.PixelColor(1, 0)), Hex(clWhite));
  EXPECT_EQ(bmp.Width(), 3);
}

TEST(FormatConversion, IndexedTargetsTakeNearestEntry) {
  TBitmap bmp;
  bmp.SetSize(2, 1);
  bmp.SetPixelColor(0, 0, RGBColor(250, 5, 5));
  bmp.SetPixelColor(1, 0, RGBColor(10, 10, 10));
  bmp.SetPixelFormat(pf1bit);
  EXPECT_EQ(Hex(bmp.PixelColor(1, 0)), Hex(clBlack));
  TBitmap c;
  c.SetSize(2, 1);
  c.SetPixelColor(0, 0, RGBColor(250, 5, 5));
  c.SetPixelFormat(pf8bit);
  ASSERT_FALSE(c.ColorTable().empty());
  const TColor got = c.PixelColor(0, 0);
  EXPECT_GT(GetRValue(got), 200);
  EXPECT_LT(GetGValue(got), 60);
  c.SetPixelFormat(pf24bit);
  EXPECT_EQ(c.PixelColor(0, 0), got);
}

// Drawing a 32-bit bitmap with alpha composes it over the canvas; straight alpha is
// scaled first, premultiplied alpha is taken as it is, and the source stays untouched.
TEST(AlphaDraw, StraightAndPremultipliedAlphaCompose) {
  for (TAlphaFormat af : {afDefined, afPremultiplied}) {
    TBitmap src;
    src.SetPixelFormat(pf32bit);
    src.SetSize(2, 1);
    uint8_t* p = src.GetScanline(0);
    const uint8_t px[8] = {0, 0, 100, 128, 9, 9, 9, 0};  // half red-ish, then clear
    std::memcpy(p, px, 8);
    src.SetAlphaFormat(af);
    TBitmap dst;
    dst.SetSize(2, 1);
    dst.Canvas().Brush.Color = clWhite;
    dst.Canvas().FillRect(Rect(0, 0, 2, 1));
    dst.Canvas().Draw(0, 0, src);
    const TColor c = dst.PixelColor(0, 0);
    EXPECT_NEAR(GetRValue(c), af == afDefined ? 177 : 227, 1);
    EXPECT_NEAR(GetGValue(c), 127, 1);
    EXPECT_EQ(Hex(dst.PixelColor(1, 0)), Hex(clWhite));
    EXPECT_EQ(0, std::memcmp(src.GetScanline(0), px, 8));
  }
}

// Whole rows take the fast paths; every pixel must still match the plain formulas.
TEST(AlphaDraw, UnscaledRowsMatchThePixelFormula) {
  TBitmap src;
  src.SetPixelFormat(pf32bit);
  src.SetSize(37, 3);
  FillPattern(src, 11);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 37; ++x) {
      uint8_t* p = src.GetScanline(y) + 4 * x;
      p[3] = x % 9 == 0 ? 0 : x % 4 == 0 ? 255 : p[3];
      if (x % 13 != 5)  // a few invalid pixels (colour above alpha) must saturate
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(p[c] * p[3] / 255);
    }
  for (TPixelFormat format : {pf24bit, pf32bit}) {
    TBitmap dst;
    dst.SetPixelFormat(format);
    dst.SetSize(37, 3);
    FillPattern(dst, 12);
    TBitmap before;
    before.Assign(dst);
    AlphaBlendPremultiplied(dst.View(), Rect(0, 0, 37, 3), src.View(), Rect(0, 0, 37, 3));
    const int bpp = format == pf24bit ? 3 : 4;
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 37; ++x) {
        const uint8_t* s = src.GetScanline(y) + 4 * x;
        const uint8_t* d0 = before.GetScanline(y) + bpp * x;
        const uint8_t* d = dst.GetScanline(y) + bpp * x;
        for (int c = 0; c < bpp; ++c) {
          const unsigned t = d0[c] * (255u - s[3]) + 128;
          const unsigned want = s[3] == 0 ? d0[c] : std::min(255u, s[c] + ((t + (t >> 8)) >> 8));
          ASSERT_EQ(d[c], want) << x << "," << y << " channel " << c << " bpp " << bpp;
        }
      }
  }
}

TEST(FormatConversion, WideRowsBetween24And32Bits) {
  TBitmap bmp;
  bmp.SetPixelFormat(pf32bit);
  bmp.SetSize(41, 4);
  FillPattern(bmp, 4);
  TBitmap ref;
  ref.Assign(bmp);
  bmp.SetPixelFormat(pf24bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 41; ++x)
      ASSERT_EQ(bmp.PixelColor(x, y), ref.PixelColor(x, y)) << x << "," << y;
  bmp.SetPixelFormat(pf32bit);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 41; ++x)
      ASSERT_EQ(bmp.PixelColor(x, y), ref.PixelColor(x, y)) << x << "," << y;
}

// Transfers into a plain 1-bit mask mark the background colour with 1; out of a mask,
// 0 becomes the text colour and 1 the background colour.
TEST(MonoConversion, BackgroundAndTextColourRules) {
  TBitmap src;
  src.SetSize(3, 1);
  src.SetPixelColor(0, 0, clRed);
  src.SetPixelColor(1, 0, clWhite);
  src.SetPixelColor(2, 0, clRed);
  TBitmap mask;
  mask.SetPixelFormat(pf1bit);
  mask.SetSize(3, 1);
  TPixelView mv = mask.View();
  mv.Colors = nullptr;
  BitBlt(mv, 0, 0, src.View(), Rect(0, 0, 3, 1), ropSrcCopy, TBltColors{clRed, clBlack});
  EXPECT_EQ(mask.GetScanline(0)[0] >> 5, 0b101);
  TBitmap out;
  out.SetSize(3, 1);
  BitBlt(out.View(), 0, 0, mv, Rect(0, 0, 3, 1), ropSrcCopy, TBltColors{clBlue, clLime});
  EXPECT_EQ(Hex(out.PixelColor(0, 0)), Hex(clBlue));
  EXPECT_EQ(Hex(out.PixelColor(1, 0)), Hex(clLime));
}

// A transparent bitmap leaves the canvas where its pixels have the transparent colour
// (the bottom-left pixel's in automatic mode).
TEST(TransparentDraw, TransparentColourShowsTheCanvas) {
  TBitmap bmp;
  bmp.SetSize(2, 2);
  bmp.SetPixelColor(0, 0, clRed);
  bmp.SetPixelColor(1, 0, clWhite);
  bmp.SetPixelColor(0, 1, clWhite);
  bmp.SetPixelColor(1, 1, clBlue);
  bmp.SetTransparent(true);
  EXPECT_EQ(Hex(bmp.TransparentColor() & 0xFFFFFF), Hex(clWhite));
  TBitmap canvas;
  canvas.SetSize(4, 4);
  canvas.Canvas().Brush.Color = clLime;
  canvas.Canvas().FillRect(Rect(0, 0, 4, 4));
  canvas.Canvas().StretchDraw(Rect(0, 0, 4, 4), bmp);
  EXPECT_EQ(Hex(canvas.PixelColor(0, 0)), Hex(clRed));
  EXPECT_EQ(Hex(canvas.PixelColor(3, 0)), Hex(clLime));
  EXPECT_EQ(Hex(canvas.PixelColor(1, 3)), Hex(clLime));
  EXPECT_EQ(Hex(canvas.PixelColor(3, 3)), Hex(clBlue));
}

TEST(Palettes, FixedPalettesAndNearestIndex) {
  const TPalette& d20 = DefaultPalette20();
  ASSERT_EQ(d20.Count(), 20);
  EXPECT_EQ(d20.ColorOf(0), clBlack);
  EXPECT_EQ(d20.ColorOf(19), clWhite);
  const TPalette& h = HalftonePalette256();
  ASSERT_EQ(h.Count(), 256);
  // The 6 x 6 x 6 cube of steps of 51 after the first ten system colours, blue fastest,
  // then twenty greys 8, 20, ... 236, then the last ten system colours (white last).
  EXPECT_EQ(h.ColorOf(10), RGBColor(0, 0, 0));
  EXPECT_EQ(h.ColorOf(11), RGBColor(0, 0, 51));
  EXPECT_EQ(h.ColorOf(16), RGBColor(0, 51, 0));
  EXPECT_EQ(h.ColorOf(46), RGBColor(51, 0, 0));
  EXPECT_EQ(h.ColorOf(10 + 3 * 36 + 2 * 6 + 1), RGBColor(153, 102, 51));
  EXPECT_EQ(h.ColorOf(225), RGBColor(255, 255, 255));
  EXPECT_EQ(h.ColorOf(226), RGBColor(8, 8, 8));
  EXPECT_EQ(h.ColorOf(245), RGBColor(236, 236, 236));
  EXPECT_EQ(h.ColorOf(255), clWhite);
  EXPECT_EQ(h.ColorOf(h.NearestIndex(clWhite)), clWhite);
  EXPECT_EQ(h.ColorOf(h.NearestIndex(clBlack)), clBlack);
  EXPECT_EQ(d20.NearestIndex(RGBColor(250, 3, 3)), d20.NearestIndex(clRed));

  TBitmap bmp;
  bmp.SetPixelFormat(pf4bit);
  bmp.SetSize(2, 2);
  HPALETTE pal = bmp.Palette();
  ASSERT_NE(pal, nullptr);
  EXPECT_EQ(pal->Count(), int(bmp.ColorTable().size()));
  std::unique_ptr<TPalette> copy = CopyPalette(pal);
  ASSERT_TRUE(copy);
  EXPECT_EQ(*copy, *pal);
  EXPECT_EQ(CopyPalette(nullptr), nullptr);
}

TEST(BitmapSize, ResizeKeepsPixelsThatFit) {
  TBitmap bmp;
  bmp.SetSize(3, 3);
  bmp.SetPixelColor(1, 1, clRed);
  bmp.SetPixelColor(2, 2, clBlue);
  bmp.SetSize(2, 5);
  EXPECT_EQ(bmp.Width(), 2);
  EXPECT_EQ(Hex(bmp.PixelColor(1, 1)), Hex(clRed));
  EXPECT_EQ(Hex(bmp.PixelColor(1, 4)), Hex(clBlack));
  bmp.SetSize(0, 0);
  EXPECT_TRUE(bmp.Empty());
}

// Plain copies between true-colour formats at an offset, clipped on every side.
TEST(RasterOps, OffsetCopiesClipOnEverySide) {
  for (TPixelFormat sf : {pf16bit, pf24bit, pf32bit})
    for (TPixelFormat df : {pf24bit, pf32bit}) {
      TBitmap src, dst;
      src.SetPixelFormat(sf);
      src.SetSize(9, 6);
      for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 9; ++x)
          src.SetPixelColor(x, y, RGBColor(uint8_t(x * 24), uint8_t(y * 40), 8));
      dst.SetPixelFormat(df);
      dst.SetSize(7, 5);
      dst.Canvas().Brush.Color = clWhite;
      dst.Canvas().FillRect(Rect(0, 0, 7, 5));
      BitBlt(dst.View(), -2, 1, src.View(), Rect(1, 2, 9, 6));
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
          const int sx = x + 3, sy = y + 1;
          const bool inside = y >= 1 && sx < 9 && sy < 6;
          ASSERT_EQ(Hex(dst.PixelColor(x, y)), Hex(inside ? src.PixelColor(sx, sy) : clWhite))
              << sf << "->" << df << " at " << x << "," << y;
        }
    }
}

// A bitmap offers its pixels as opaque exactly when drawing it hides the whole canvas
// under it, and then the view holds the colours the draw gives.
TEST(OpaqueDraw, OpaquePixelsExactlyWhenTheDrawCoversTheCanvas) {
  struct TCase {
    TPixelFormat Format;
    TAlphaFormat Alpha;
    bool Transparent;
  };
  const TCase cases[] = {{pf1bit, afIgnored, false},        {pf4bit, afIgnored, false},
                         {pf8bit, afIgnored, false},        {pf15bit, afIgnored, false},
                         {pf16bit, afIgnored, false},       {pf24bit, afIgnored, false},
                         {pf32bit, afIgnored, false},       {pf32bit, afDefined, false},
                         {pf32bit, afPremultiplied, false}, {pf24bit, afIgnored, true}};
  for (const TCase& c : cases) {
    TBitmap bmp;
    bmp.SetPixelFormat(c.Format);
    bmp.SetSize(7, 5);
    FillPattern(bmp, int(c.Format));
    bmp.SetAlphaFormat(c.Alpha);
    bmp.SetTransparent(c.Transparent);
    TBitmap canvas[2];
    for (int k = 0; k < 2; ++k) {
      canvas[k].SetSize(7, 5);
      FillPixels(canvas[k].View(), TRect{0, 0, 7, 5}, k ? clLime : clBlue);
      bmp.Draw(canvas[k].Canvas(), TRect{0, 0, 7, 5});
    }
    bool covered = true;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x)
        covered &= canvas[0].PixelColor(x, y) == canvas[1].PixelColor(x, y);
    TPixelView view;
    ASSERT_EQ(bmp.OpaquePixels(view), covered) << int(c.Format) << " " << int(c.Alpha);
    if (!covered) continue;
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 7; ++x)
        ASSERT_EQ(Hex(view.PixelColor(x, y) & 0xFFFFFF), Hex(canvas[0].PixelColor(x, y)));
  }
  TBitmap empty;
  TPixelView view;
  EXPECT_FALSE(empty.OpaquePixels(view));
}

// Adopting a bitmap gives what assigning it gives and leaves the source empty.
TEST(BitmapAdopt, TakesPixelsColoursAndSettingsOver) {
  TBitmap source;
  source.SetPixelFormat(pf8bit);
  source.SetSize(9, 4);
  FillPattern(source, 3);
  source.SetTransparentColor(clRed);
  source.SetTransparent(true);
  TBitmap copied, adopted;
  copied.Assign(source);
  adopted.Adopt(source);
  EXPECT_TRUE(source.Empty());
  EXPECT_EQ(SaveBmpBytes(adopted), SaveBmpBytes(copied));
  EXPECT_TRUE(adopted.Transparent());
  EXPECT_EQ(Hex(adopted.TransparentColor()), Hex(clRed));
  EXPECT_EQ(adopted.ColorTable(), copied.ColorTable());
}
