// BMP writing and reading back in every pixel format, packed DIBs, hand-made files for the
// rarer encodings (RLE4, wide bit fields) and the refusal of broken headers.
#include <gtest/gtest.h>

#include <cstring>

#include "bmp_io.h"
#include "test_support.h"

namespace {

void MakeIndexed(TBitmap& bmp, int count) {
  std::vector<TRGBQuad> table(count);
  for (int i = 0; i < count; ++i)
    table[i] = TRGBQuad{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 3 + 1), 0};
  bmp.SetColorTable(table);
}

// Compares the bits that carry pixels (not the row padding, not an ignored alpha byte).
void ExpectSamePixels(const TBitmap& a, const TBitmap& b, bool withAlpha) {
  ASSERT_EQ(a.Width(), b.Width());
  ASSERT_EQ(a.Height(), b.Height());
  ASSERT_EQ(a.PixelFormat(), b.PixelFormat());
  const int bits = a.BitCount();
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* pa = a.GetScanline(y);
    const uint8_t* pb = b.GetScanline(y);
    for (int x = 0; x < a.Width(); ++x) {
      if (bits == 32) {
        ASSERT_EQ(0, std::memcmp(pa + 4 * x, pb + 4 * x, withAlpha ? 4 : 3)) << x << "," << y;
      } else if (bits == 15) {
        ASSERT_EQ((pa[2 * x] | pa[2 * x + 1] << 8) & 0x7FFF,
                  (pb[2 * x] | pb[2 * x + 1] << 8) & 0x7FFF);
      } else if (bits >= 8) {
        ASSERT_EQ(0, std::memcmp(pa + x * bits / 8, pb + x * bits / 8, bits / 8)) << x << "," << y;
      } else {
        ASSERT_EQ(a.PixelColor(x, y), b.PixelColor(x, y)) << x << "," << y;
      }
    }
  }
}

// Little-endian writer for hand-made files.
struct TBytes {
  std::vector<uint8_t> B;
  TBytes& u8(int v) {
    B.push_back(uint8_t(v));
    return *this;
  }
  TBytes& u16(int v) { return u8(v & 0xFF).u8((v >> 8) & 0xFF); }
  TBytes& u32(uint32_t v) { return u16(int(v & 0xFFFF)).u16(int(v >> 16)); }
  TBytes& raw(std::initializer_list<int> bytes) {
    for (int b : bytes) u8(b);
    return *this;
  }
};

// File header + 40-byte info header; the caller appends masks, table and pixels, then the
// pixel offset is patched in.
TBytes InfoFile(int w, int h, int bits, uint32_t compression, uint32_t colorsUsed = 0) {
  TBytes f;
  f.u16(0x4D42).u32(0).u32(0).u32(0);
  f.u32(40).u32(uint32_t(w)).u32(uint32_t(h)).u16(1).u16(bits).u32(compression).u32(0);
  f.u32(2835).u32(2835).u32(colorsUsed).u32(0);
  return f;
}
void SetPixelOffset(TBytes& f) {
  const uint32_t off = uint32_t(f.B.size());
  std::memcpy(&f.B[10], &off, 4);
}

std::unique_ptr<TBitmap> Load(const TBytes& f) {
  auto bmp = std::make_unique<TBitmap>();
  LoadBmpBytes(f.B, *bmp);
  return bmp;
}

}  // namespace

TEST(BmpRoundTrip, EveryPixelFormatAndOddWidths) {
  const TPixelFormat formats[] = {pf1bit, pf4bit, pf8bit, pf15bit, pf16bit, pf24bit, pf32bit};
  for (TPixelFormat format : formats)
    for (int width : {1, 3, 5, 33}) {
      SCOPED_TRACE(testing::Message() << "format " << format << " width " << width);
      TBitmap src;
      src.SetPixelFormat(format);
      src.SetSize(width, 7);
      if (BitCountOf(format) <= 8) MakeIndexed(src, 1 << BitCountOf(format));
      FillPattern(src, width);
      TBitmap back;
      LoadBmpBytes(SaveBmpBytes(src), back);
      ExpectSamePixels(src, back, false);
      if (BitCountOf(format) <= 8) {
        EXPECT_EQ(back.ColorTable(), src.ColorTable());
      }
    }
}

TEST(BmpRoundTrip, AlphaSurvivesAndPremultipliedIsStoredStraight) {
  TBitmap src;
  src.SetPixelFormat(pf32bit);
  src.SetSize(9, 4);
  FillPattern(src, 3);
  src.SetAlphaFormat(afDefined);
  TBitmap back;
  LoadBmpBytes(SaveBmpBytes(src), back);
  EXPECT_EQ(back.AlphaFormat(), afDefined);
  ExpectSamePixels(src, back, true);

  TBitmap pre;
  pre.SetPixelFormat(pf32bit);
  pre.SetSize(2, 1);
  uint8_t* p = pre.GetScanline(0);
  const uint8_t px[8] = {50, 100, 25, 128, 0, 0, 0, 0};  // half-transparent, then clear
  std::memcpy(p, px, 8);
  pre.SetAlphaFormat(afPremultiplied);
  LoadBmpBytes(SaveBmpBytes(pre), back);
  EXPECT_EQ(back.AlphaFormat(), afDefined);
  const uint8_t* q = back.GetScanline(0);
  EXPECT_EQ(q[0], 100);
  EXPECT_EQ(q[1], 199);
  EXPECT_EQ(q[2], 50);
  EXPECT_EQ(q[3], 128);
  EXPECT_EQ(q[7], 0);
}

TEST(BmpRoundTrip, PackedDib) {
  TBitmap src;
  src.SetPixelFormat(pf8bit);
  src.SetSize(5, 3);
  MakeIndexed(src, 256);
  FillPattern(src, 9);
  const std::vector<uint8_t> dib = MakePackedDib(src);
  TBitmap back;
  ReadPackedDib(dib.data(), dib.size(), back);
  ExpectSamePixels(src, back, false);
  EXPECT_THROW(ReadPackedDib(dib.data(), dib.size() - 5, back), EInvalidGraphic);
}

// Every cut of a file is refused with the picture error and leaves the bitmap untouched.
TEST(BmpMalformed, EveryTruncationIsRefusedWithoutChange) {
  TBitmap src;
  src.SetPixelFormat(pf4bit);
  src.SetSize(13, 5);
  MakeIndexed(src, 16);
  FillPattern(src);
  const std::vector<uint8_t> bytes = SaveBmpBytes(src);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(2, 2);
  target.SetPixelColor(1, 1, clRed);
  // The last row may lack its padding; any shorter file is truncated.
  for (size_t n = 0; n + 3 < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + n);
    EXPECT_THROW(LoadBmpBytes(cut, target), EInvalidGraphic) << n;
    ASSERT_EQ(target.Width(), 2);
    ASSERT_EQ(target.PixelColor(1, 1), clRed);
  }
}

TEST(BmpMalformed, BrokenHeadersAreRefused) {
  auto refused = [](TBytes f) {
    SetPixelOffset(f);
    f.raw({0, 0, 0, 0, 0, 0, 0, 0});
    TBitmap bmp;
    EXPECT_THROW(LoadBmpBytes(f.B, bmp), EInvalidGraphic);
  };
  refused(InfoFile(0, 1, 24, 0));                 // no width
  refused(InfoFile(1, 0, 24, 0));                 // no height
  refused(InfoFile(1, int(0x80000000u), 24, 0));  // height that cannot be negated
  refused(InfoFile(1, 1, 2, 0));                  // 2 bits per pixel
  refused(InfoFile(1, 1, 24, 1));                 // RLE8 on a 24-bit picture
  refused(InfoFile(1, 1, 24, 7));                 // unknown compression
  refused(InfoFile(1, -1, 8, 1));                 // run-length pictures are bottom-up only
  refused(InfoFile(1, 1, 8, 0, 300));             // colour table longer than 8 bits allow
  TBytes overlap = InfoFile(1, 1, 16, 3);
  overlap.u32(0xF800).u32(0x0FE0).u32(0x1F);  // red and green overlap
  refused(overlap);
  TBytes gap = InfoFile(1, 1, 16, 3);
  gap.u32(0xF000).u32(0x05E0).u32(0x1F);  // green is not contiguous
  refused(gap);
  TBytes none = InfoFile(1, 1, 32, 3);
  none.u32(0).u32(0).u32(0);
  refused(none);
  TBytes sig = InfoFile(1, 1, 24, 0);
  sig.B[0] = 'X';
  refused(sig);
}

TEST(BmpMalformed, SizesOverTheBudgetAreRefusedBeforeAllocating) {
  VITRELLE_REQUIRE_TESTDATA();
  const uint64_t saved = GetImageBudget();
  SetImageBudget(1 << 20);
  TBitmap bmp;
  EXPECT_THROW(bmp.LoadFromFile(TestData("bmp/large-wuffs-harvesters-1165x859.bmp")),
               EOutOfResources);
  // RLE data is small, the picture it declares is not.
  TBytes f = InfoFile(30000, 30000, 8, 1, 2);
  f.u32(0).u32(0xFFFFFF);
  SetPixelOffset(f);
  f.raw({0, 1});
  EXPECT_THROW(LoadBmpBytes(f.B, bmp), EOutOfResources);
  SetImageBudget(saved);
}

// RLE4: an encoded run alternates two indices, an absolute run lists them, a delta skips
// pixels (left at 0), and runs that overrun a row are clipped to it.
TEST(BmpRle, Rle4RunsDeltaAndClipping) {
  TBytes f = InfoFile(6, 3, 4, 2, 16);
  for (int i = 0; i < 16; ++i) f.u8(i * 16).u8(i).u8(255 - i * 16).u8(0);
  SetPixelOffset(f);
  f.raw({5, 0x12, 0, 0});           // bottom row: 1 2 1 2 1 then line end
  f.raw({0, 4, 0x34, 0x56, 0, 0});  // middle row: absolute 3 4 5 6
  f.raw({0, 2, 2, 0});              // delta: right 2 on the top row
  f.raw({9, 0x77, 0, 1});           // 9 sevens from x=2: clipped at the right edge
  std::unique_ptr<TBitmap> bmpp = Load(f);
  TBitmap& bmp = *bmpp;
  ASSERT_EQ(bmp.PixelFormat(), pf4bit);
  auto index = [&](int x, int y) { return (bmp.GetScanline(y)[x / 2] >> ((x & 1) ? 0 : 4)) & 0xF; };
  const int expected[3][6] = {{0, 0, 7, 7, 7, 7}, {3, 4, 5, 6, 0, 0}, {1, 2, 1, 2, 1, 0}};
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(index(x, y), expected[y][x]) << x << "," << y;
}

TEST(BmpRle, Rle8OverrunsStayInsideTheBitmap) {
  TBytes f = InfoFile(3, 2, 8, 1, 4);
  for (int i = 0; i < 4; ++i) f.u32(uint32_t(i * 0x404040));
  SetPixelOffset(f);
  f.raw({255, 2, 0, 0, 255, 3});  // runs far past the right edge
  f.raw({0, 2, 200, 200});        // delta beyond the picture ends it
  f.raw({0, 40, 1});              // absolute run cut short by the end of the data
  std::unique_ptr<TBitmap> bmpp = Load(f);
  TBitmap& bmp = *bmpp;
  EXPECT_EQ(bmp.GetScanline(1)[0], 2);
  EXPECT_EQ(bmp.GetScanline(1)[2], 2);
  EXPECT_EQ(bmp.GetScanline(0)[2], 3);
}

// Masks wider or narrower than 8 bits are scaled to the full 0..255 range.
TEST(BmpBitfields, ArbitraryMasksScaleTo8Bits) {
  TBytes f = InfoFile(2, 1, 32, 3);
  f.u32(0x3FF00000).u32(0x000FFC00).u32(0x000003FF);  // 10-10-10
  SetPixelOffset(f);
  f.u32(0x3FF00000 | (512u << 10) | 0).u32(0x000003FF);
  std::unique_ptr<TBitmap> bmpp = Load(f);
  TBitmap& bmp = *bmpp;
  ASSERT_EQ(bmp.PixelFormat(), pf32bit);
  EXPECT_EQ(Hex(bmp.PixelColor(0, 0)), Hex(RGBColor(255, 128, 0)));
  EXPECT_EQ(Hex(bmp.PixelColor(1, 0)), Hex(RGBColor(0, 0, 255)));
  EXPECT_EQ(bmp.AlphaFormat(), afIgnored);

  TBytes g = InfoFile(1, 1, 16, 6);  // 4-4-4-4 with alpha, alpha bit fields
  g.u32(0x0F00).u32(0x00F0).u32(0x000F).u32(0xF000);
  SetPixelOffset(g);
  g.u16(0x8F31).u16(0);
  std::unique_ptr<TBitmap> ap = Load(g);
  TBitmap& a = *ap;
  EXPECT_EQ(a.AlphaFormat(), afDefined);
  const uint8_t* p = a.GetScanline(0);
  EXPECT_EQ(p[0], 17);
  EXPECT_EQ(p[1], 51);
  EXPECT_EQ(p[2], 255);
  EXPECT_EQ(p[3], 136);
}

// A packed true-colour DIB may carry a palette hint before its pixels: skipped, not read
// as pixels.
TEST(BmpRoundTrip, PackedDibSkipsPaletteHint) {
  TBytes d;
  d.u32(40).u32(2).u32(1).u16(1).u16(24).u32(0).u32(0).u32(0).u32(0).u32(2).u32(0);
  d.u32(0x123456).u32(0x654321);        // the hint
  d.raw({0, 0, 255, 255, 0, 0, 0, 0});  // red, blue, padding
  TBitmap bmp;
  ReadPackedDib(d.B.data(), d.B.size(), bmp);
  EXPECT_EQ(Hex(bmp.PixelColor(0, 0)), Hex(clRed));
  EXPECT_EQ(Hex(bmp.PixelColor(1, 0)), Hex(clBlue));
}
