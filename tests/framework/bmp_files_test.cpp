// BMP reading checked against real files of every header version and pixel layout.
#include <gtest/gtest.h>

#include <cstring>

#include "test_support.h"

namespace {

std::unique_ptr<TBitmap> LoadBmp(const std::string& name) {
  auto bmp = std::make_unique<TBitmap>();
  bmp->LoadFromFile(TestData("bmp/" + name));
  return bmp;
}

// Independent reading of a plain (uncompressed 1/4/8-bit palette or 24-bit) BMP file with
// a core or info header, straight from the bytes, to compare the framework's reader with.
TColor ReferencePixel(const std::vector<uint8_t>& f, int x, int y) {
  auto u16 = [&](size_t o) { return uint32_t(f[o] | f[o + 1] << 8); };
  auto u32 = [&](size_t o) { return u16(o) | u16(o + 2) << 16; };
  const uint32_t off = u32(10), hs = u32(14);
  const bool core = hs == 12;
  const int32_t w = core ? int32_t(u16(18)) : int32_t(u32(18));
  const int32_t h = core ? int32_t(u16(20)) : int32_t(u32(22));
  const int bc = core ? int(u16(24)) : int(u16(28));
  const size_t stride = ((bc * w + 31) / 32) * 4;
  const int row = h < 0 ? y : h - 1 - y;
  const uint8_t* p = f.data() + off + row * stride;
  if (bc == 24) return RGBColor(p[3 * x + 2], p[3 * x + 1], p[3 * x]);
  const int bit = x * bc;
  const int index = (p[bit / 8] >> (8 - bc - bit % 8)) & ((1 << bc) - 1);
  const uint8_t* e = f.data() + 14 + hs + (core ? 3 : 4) * index;
  return RGBColor(e[2], e[1], e[0]);
}

// Reference decoding of well-formed RLE8 data (runs, absolute runs, line ends).
std::vector<uint8_t> ReferenceRle8(const std::vector<uint8_t>& f, int w, int h) {
  std::vector<uint8_t> px(size_t(w) * h, 0);
  uint32_t off = f[10] | f[11] << 8 | f[12] << 16;
  int x = 0, line = 0;
  for (size_t i = off; i + 1 < f.size() && line < h;) {
    int n = f[i], v = f[i + 1];
    i += 2;
    if (n) {
      while (n--) px[size_t(h - 1 - line) * w + x++] = uint8_t(v);
    } else if (v == 0) {
      x = 0, ++line;
    } else if (v == 1) {
      break;
    } else if (v == 2) {
      x += f[i], line += f[i + 1], i += 2;
    } else {
      for (int k = 0; k < v; ++k) px[size_t(h - 1 - line) * w + x++] = f[i + k];
      i += (v + 1) & ~1;
    }
  }
  return px;
}

}  // namespace

// The small test pictures are two rows of red, two of green and two of blue, in every
// layout: pixel format, header version, row order and bit fields must not matter.
TEST(BmpFiles, StripesInEveryLayout) {
  VITRELLE_REQUIRE_TESTDATA();
  const char* files[] = {
      "image-Info_1_Bit_Top_Down.bmp",    "image-Info_4_Bit.bmp",
      "image-Info_8_Bit_Top_Down.bmp",    "image-Info_A8_R8_G8_B8.bmp",
      "image-Info_R8_G8_B8_Top_Down.bmp", "image-Info_X1_R5_G5_B5_Top_Down.bmp",
      "image-V3_R5_G6_B5_Top_Down.bmp",   "image-V3_X8_R8_G8_B8.bmp",
  };
  for (const char* name : files) {
    SCOPED_TRACE(name);
    std::unique_ptr<TBitmap> bmpp = LoadBmp(name);
    TBitmap& bmp = *bmpp;
    ASSERT_EQ(bmp.Width(), 6);
    ASSERT_EQ(bmp.Height(), 6);
    if (std::strstr(name, "1_Bit")) continue;  // two colours only: checked below
    const TColor expected[3] = {clRed, clLime, clBlue};
    for (int y = 0; y < 6; ++y)
      for (int x = 0; x < 6; ++x) EXPECT_EQ(Hex(bmp.PixelColor(x, y)), Hex(expected[y / 2]));
  }
}

TEST(BmpFiles, ResultPixelFormats) {
  VITRELLE_REQUIRE_TESTDATA();
  EXPECT_EQ(LoadBmp("image-Info_1_Bit_Top_Down.bmp")->PixelFormat(), pf1bit);
  EXPECT_EQ(LoadBmp("image-Core_4_Bit.bmp")->PixelFormat(), pf4bit);
  EXPECT_EQ(LoadBmp("image-Info_8_Bit_Top_Down.bmp")->PixelFormat(), pf8bit);
  EXPECT_EQ(LoadBmp("image-Info_X1_R5_G5_B5_Top_Down.bmp")->PixelFormat(), pf15bit);
  EXPECT_EQ(LoadBmp("image-V3_R5_G6_B5_Top_Down.bmp")->PixelFormat(), pf16bit);
  EXPECT_EQ(LoadBmp("image-V4_24_Bit.bmp")->PixelFormat(), pf24bit);
  std::unique_ptr<TBitmap> x8p = LoadBmp("image-V3_X8_R8_G8_B8.bmp");
  TBitmap& x8 = *x8p;
  EXPECT_EQ(x8.PixelFormat(), pf32bit);
  EXPECT_EQ(x8.AlphaFormat(), afIgnored);
  // A 32-bit picture whose alpha byte is all zero is opaque, not invisible.
  EXPECT_EQ(LoadBmp("image-Info_A8_R8_G8_B8.bmp")->AlphaFormat(), afIgnored);
  EXPECT_EQ(LoadBmp("zune-david-rle8-v4hdr.bmp")->PixelFormat(), pf8bit);
}

TEST(BmpFiles, AlphaMasksGiveDefinedAlpha) {
  VITRELLE_REQUIRE_TESTDATA();
  for (const char* name :
       {"image-V4_A8_R8_G8_B8.bmp", "image-V5_A1_R5_G5_B5.bmp", "image-V5_A8_R8_G8_B8_Rgb.bmp"}) {
    SCOPED_TRACE(name);
    std::unique_ptr<TBitmap> bmpp = LoadBmp(name);
    TBitmap& bmp = *bmpp;
    EXPECT_EQ(bmp.PixelFormat(), pf32bit);
    EXPECT_EQ(bmp.AlphaFormat(), afDefined);
  }
  // An alpha mask whose alpha is zero everywhere marks an unused byte: opaque picture.
  EXPECT_EQ(LoadBmp("image-V3_A4_R4_G4_B4.bmp")->AlphaFormat(), afIgnored);
  // 1-bit alpha widens to 0 or 255, 4-bit channels to multiples of 17.
  std::unique_ptr<TBitmap> a1p = LoadBmp("image-V5_A1_R5_G5_B5.bmp");
  TBitmap& a1 = *a1p;
  std::unique_ptr<TBitmap> a4p = LoadBmp("image-V3_A4_R4_G4_B4.bmp");
  TBitmap& a4 = *a4p;
  for (int y = 0; y < a1.Height(); ++y)
    for (int x = 0; x < a1.Width(); ++x) {
      uint8_t a = a1.GetScanline(y)[4 * x + 3];
      EXPECT_TRUE(a == 0 || a == 255);
    }
  for (int y = 0; y < a4.Height(); ++y)
    for (int x = 0; x < 4 * a4.Width(); ++x) EXPECT_EQ(a4.GetScanline(y)[x] % 17, 0);
}

TEST(BmpFiles, CoreAndV4HeadersMatchReference) {
  VITRELLE_REQUIRE_TESTDATA();
  for (const char* name : {"image-V4_24_Bit.bmp", "image-Core_1_Bit.bmp", "image-Core_4_Bit.bmp",
                           "image-Core_8_Bit.bmp", "image-Info_4_Bit.bmp"}) {
    SCOPED_TRACE(name);
    const std::vector<uint8_t> bytes = ReadFileBytes(TestData(std::string("bmp/") + name));
    std::unique_ptr<TBitmap> bmpp = LoadBmp(name);
    TBitmap& bmp = *bmpp;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x)
        ASSERT_EQ(Hex(bmp.PixelColor(x, y)), Hex(ReferencePixel(bytes, x, y))) << x << "," << y;
  }
}

TEST(BmpFiles, LargeV5PictureMatchesReference) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string path = TestData("bmp/large-wuffs-harvesters-1165x859.bmp");
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  TBitmap bmp;
  bmp.LoadFromFile(path);
  ASSERT_EQ(bmp.Width(), 1165);
  ASSERT_EQ(bmp.Height(), 859);
  for (int y = 0; y < 859; ++y)
    for (int x = 0; x < 1165; x += 13)
      ASSERT_EQ(Hex(bmp.PixelColor(x, y)), Hex(ReferencePixel(bytes, x, y))) << x << "," << y;
}

TEST(BmpFiles, Rle8MatchesReferenceDecoding) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string path = TestData("bmp/zune-david-rle8-v4hdr.bmp");
  const std::vector<uint8_t> bytes = ReadFileBytes(path);
  TBitmap bmp;
  bmp.LoadFromFile(path);
  ASSERT_EQ(bmp.Width(), 180);
  ASSERT_EQ(bmp.Height(), 215);
  const std::vector<uint8_t> ref = ReferenceRle8(bytes, 180, 215);
  for (int y = 0; y < 215; ++y)
    ASSERT_EQ(0, std::memcmp(bmp.GetScanline(y), ref.data() + size_t(y) * 180, 180)) << y;
  EXPECT_EQ(bmp.ColorTable().size(), 256u);
}

// Unusual compressions may be refused, never crash.
TEST(BmpFiles, UnusualCompressionsAreRefusedCleanly) {
  VITRELLE_REQUIRE_TESTDATA();
  for (const char* name : {"bmpsuite-later-q-pal1huffmsb.bmp", "bmpsuite-later-q-rgb24rle24.bmp"}) {
    TBitmap bmp;
    EXPECT_THROW(bmp.LoadFromFile(TestData(std::string("bmp/") + name)), EInvalidGraphic) << name;
  }
}

TEST(BmpFiles, MalformedFilesAreRefused) {
  VITRELLE_REQUIRE_TESTDATA();
  for (const char* name :
       {"image-Bad_clrsUsed.bmp", "image-Bad_height.bmp", "image-Bad_width.bmp"}) {
    TBitmap bmp;
    EXPECT_THROW(bmp.LoadFromFile(TestData(std::string("bmp/bad/") + name)), EInvalidGraphic)
        << name;
  }
}

// Faults that tolerant readers accept load as a picture of the declared size; the RLE
// overruns are clipped to the bitmap.
TEST(BmpFiles, LenientFilesLoadClipped) {
  VITRELLE_REQUIRE_TESTDATA();
  struct {
    const char* Name;
    int Width, Height;
  } files[] = {{"image-lenient-V5_A8_R8_G8_B8_Rgb_BadMask.bmp", 4, 4},
               {"image-lenient-imagemagick_invalid_run_length_issue_2321.bmp", 25, 22},
               {"image-lenient-rle_overflow.bmp", 2, 2},
               {"image-Bad_unusual_extend_buffer_usage.bmp", 2554, 18803}};
  for (const auto& f : files) {
    SCOPED_TRACE(f.Name);
    TBitmap bmp;
    bmp.LoadFromFile(TestData(std::string("bmp/bad/") + f.Name));
    EXPECT_EQ(bmp.Width(), f.Width);
    EXPECT_EQ(bmp.Height(), f.Height);
  }
}
