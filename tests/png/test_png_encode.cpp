// Writing PNG files from bitmaps: the chunk layout, the row filters, the IDAT splitting,
// Adam7 and the refusals, each file checked by an independent decoder.
#include <gtest/gtest.h>

#include "png_encode_internal.h"
#include "png_write_test_util.h"

using namespace pngw;

namespace {

// An indexed bitmap with a colour table of `colors` entries (entry i: a distinct colour)
// and index (x, y) = indexOf(x, y).
template <class F>
std::unique_ptr<TBitmap> MakeIndexedBitmap(TPixelFormat format, int width, int height, F indexOf) {
  auto result = std::make_unique<TBitmap>();
  TBitmap& bitmap = *result;
  bitmap.SetPixelFormat(format);
  bitmap.SetSize(width, height);
  const int colors = 1 << BitCountOf(format);
  std::vector<TRGBQuad> table(static_cast<size_t>(colors));
  for (int i = 0; i < colors; ++i)
    table[size_t(i)] = TRGBQuad{uint8_t(i * 7), uint8_t(255 - i), uint8_t(i * 31), 0};
  bitmap.SetColorTable(table);
  const int bits = BitCountOf(format);
  for (int y = 0; y < height; ++y) {
    uint8_t* row = bitmap.GetScanline(y);
    for (int x = 0; x < width; ++x) {
      const unsigned v = unsigned(indexOf(x, y)) & unsigned(colors - 1);
      const int perByte = 8 / bits;
      const int shift = 8 - bits - (x % perByte) * bits;
      row[x / perByte] = uint8_t((row[x / perByte] & ~(((1 << bits) - 1) << shift)) | (v << shift));
    }
  }
  return result;
}

std::vector<uint8_t> SaveBitmap(TBitmap& bitmap, TFilters filters = TFilters{pfSub},
                                TInterlaceMethod interlace = imNone) {
  TPngImage png;
  png.SetFilters(filters);
  png.SetInterlaceMethod(interlace);
  png.Assign(bitmap);
  return SaveToBytes(png);
}

// Every pixel of the file as libpng reads it has the bitmap's colour, fully opaque.
void ExpectSamePixels(TBitmap& bitmap, const std::vector<uint8_t>& file) {
  const TOracleImage oracle = DecodeWithLibpng(file);
  ASSERT_TRUE(oracle.Ok) << oracle.Error;
  ASSERT_EQ(oracle.Width, uint32_t(bitmap.Width()));
  ASSERT_EQ(oracle.Height, uint32_t(bitmap.Height()));
  for (int y = 0; y < bitmap.Height(); ++y)
    for (int x = 0; x < bitmap.Width(); ++x) {
      const TColor c = bitmap.PixelColor(x, y);
      const uint8_t* p = oracle.Pixel(uint32_t(x), uint32_t(y));
      ASSERT_EQ(p[0], GetRValue(c)) << x << "," << y;
      ASSERT_EQ(p[1], GetGValue(c)) << x << "," << y;
      ASSERT_EQ(p[2], GetBValue(c)) << x << "," << y;
      ASSERT_EQ(p[3], 255) << x << "," << y;
    }
}

// Filter type of every row of a non-interlaced file.
std::vector<int> RowFilters(const std::vector<uint8_t>& file, size_t rowBytes) {
  const std::vector<uint8_t> data = InflateIdat(ParseChunks(file));
  std::vector<int> types;
  for (size_t pos = 0; pos < data.size(); pos += rowBytes + 1) types.push_back(data[pos]);
  return types;
}

}  // namespace

TEST(PngWriteBitmap, TrueColourBitmapWithDefaults) {
  auto bitmapOwner = MakeBitmap24(37, 23, TestPattern);
  TBitmap& bitmap = *bitmapOwner;
  const std::vector<uint8_t> file = SaveBitmap(bitmap);
  const auto chunks = ParseChunks(file);
  ASSERT_GE(chunks.size(), 3u);
  EXPECT_EQ(chunks.front().Name, "IHDR");
  EXPECT_EQ(chunks.back().Name, "IEND");
  for (size_t i = 1; i + 1 < chunks.size(); ++i) EXPECT_EQ(chunks[i].Name, "IDAT");
  for (const auto& c : chunks) EXPECT_TRUE(c.CrcOk) << c.Name;
  const auto& ihdr = chunks.front().Data;
  ASSERT_EQ(ihdr.size(), 13u);
  EXPECT_EQ(vitrelle_test::BigEndian32(&ihdr[0]), 37u);
  EXPECT_EQ(vitrelle_test::BigEndian32(&ihdr[4]), 23u);
  EXPECT_EQ(ihdr[8], 8);   // bit depth
  EXPECT_EQ(ihdr[9], 2);   // RGB
  EXPECT_EQ(ihdr[12], 0);  // not interlaced
  const std::vector<int> filters = RowFilters(file, 37 * 3);
  EXPECT_EQ(filters, std::vector<int>(23, 1));
  ExpectSamePixels(bitmap, file);
}

TEST(PngWriteBitmap, IndexedBitmapsKeepIndicesAndPalette) {
  for (TPixelFormat format : {pf1bit, pf4bit, pf8bit}) {
    const int bits = BitCountOf(format);
    auto bitmapOwner = MakeIndexedBitmap(format, 19, 7, [](int x, int y) { return x * 3 + y; });
    TBitmap& bitmap = *bitmapOwner;
    const std::vector<uint8_t> file = SaveBitmap(bitmap);
    const auto chunks = ParseChunks(file);
    ASSERT_EQ(ChunkNames(chunks), (std::vector<std::string>{"IHDR", "PLTE", "IDAT", "IEND"}));
    EXPECT_EQ(chunks[0].Data[8], bits);
    EXPECT_EQ(chunks[0].Data[9], 3);
    EXPECT_EQ(chunks[1].Data.size(), size_t(3) << bits);
    ExpectSamePixels(bitmap, file);
  }
}

TEST(PngWriteBitmap, HighColourBitmapsBecomeRgb) {
  auto sourceOwner = MakeBitmap24(21, 9, TestPattern);
  TBitmap& source = *sourceOwner;
  for (TPixelFormat format : {pf15bit, pf16bit, pf32bit}) {
    TBitmap bitmap;
    bitmap.Assign(source);
    bitmap.SetPixelFormat(format);
    const std::vector<uint8_t> file = SaveBitmap(bitmap);
    const auto chunks = ParseChunks(file);
    ASSERT_EQ(ChunkNames(chunks), (std::vector<std::string>{"IHDR", "IDAT", "IEND"}));
    EXPECT_EQ(chunks[0].Data[8], 8);
    EXPECT_EQ(chunks[0].Data[9], 2);
    ExpectSamePixels(bitmap, file);
  }
}

TEST(PngWriteBitmap, TransparentBitmapsGetTheirKey) {
  auto rgbOwner = MakeBitmap24(4, 4, [](int x, int) { return x == 0 ? clRed : clBlue; });
  TBitmap& rgb = *rgbOwner;
  rgb.SetTransparentColor(clRed);
  rgb.SetTransparent(true);
  auto chunks = ParseChunks(SaveBitmap(rgb));
  ASSERT_EQ(ChunkNames(chunks), (std::vector<std::string>{"IHDR", "tRNS", "IDAT", "IEND"}));
  EXPECT_EQ(chunks[1].Data, (std::vector<uint8_t>{0, 255, 0, 0, 0, 0}));
  const TOracleImage oracle = DecodeWithLibpng(SaveBitmap(rgb));
  ASSERT_TRUE(oracle.Ok);
  EXPECT_EQ(oracle.Pixel(0, 2)[3], 0);
  EXPECT_EQ(oracle.Pixel(1, 2)[3], 255);

  // A palette bitmap: the first entry of that colour becomes transparent.
  auto indexedOwner = MakeIndexedBitmap(pf4bit, 4, 4, [](int x, int) { return x; });
  TBitmap& indexed = *indexedOwner;
  const TColor key = indexed.PixelColor(2, 0);
  indexed.SetTransparentColor(key);
  indexed.SetTransparent(true);
  chunks = ParseChunks(SaveBitmap(indexed));
  ASSERT_EQ(ChunkNames(chunks), (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
  EXPECT_EQ(chunks[2].Data, (std::vector<uint8_t>{255, 255, 0}));
}

TEST(PngWriteBitmap, EmptyImageIsRefused) {
  TBitmap empty;
  TPngImage png;
  png.Assign(empty);
  TMemoryStream stream;
  EXPECT_THROW(png.SaveToStream(stream), EPngError);
  EXPECT_EQ(stream.Size(), 0) << "nothing of a refused file is written";

  TPngImage noHeader;
  EXPECT_THROW(noHeader.SaveToStream(stream), EPNGHeaderNotPresent);
  EXPECT_EQ(stream.Size(), 0);
}

TEST(PngWriteFilters, ScoreCountsBytesRepeatingOneOfTheTwoBefore) {
  const uint8_t row[] = {1, 2, 1, 3, 3, 7};
  EXPECT_EQ(ScoreFilteredRow(row, sizeof row), 2);
  EXPECT_EQ(ScoreFilteredRow(row, 2), 0);
}

TEST(PngWriteFilters, RowWithoutScoringPositionsIsUnfiltered) {
  auto bitmapOwner = MakeIndexedBitmap(pf8bit, 2, 3, [](int x, int y) { return x * 40 + y; });
  TBitmap& bitmap = *bitmapOwner;
  const std::vector<uint8_t> file = SaveBitmap(bitmap, TFilters{pfSub, pfUp});
  EXPECT_EQ(RowFilters(file, 2), (std::vector<int>{0, 0, 0}));
  ExpectSamePixels(bitmap, file);
}

TEST(PngWriteFilters, TiesGoToTheLowerType) {
  auto flatOwner = MakeBitmap24(8, 3, [](int, int) { return clBlack; });
  TBitmap& flat = *flatOwner;
  EXPECT_EQ(RowFilters(SaveBitmap(flat, TFilters{pfSub, pfUp}), 24), (std::vector<int>{1, 1, 1}));
  EXPECT_EQ(RowFilters(SaveBitmap(flat, TFilters{pfNone, pfUp}), 24), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(RowFilters(SaveBitmap(flat, TFilters{}), 24), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(RowFilters(SaveBitmap(flat, TFilters{pfPaeth}), 24), (std::vector<int>{4, 4, 4}));
}

TEST(PngWriteFilters, RepeatedRowsChooseUp) {
  // Noise along a row, the same row all the way down: Up leaves only zeros.
  auto stripesOwner = MakeBitmap24(64, 5, [](int x, int) { return TestPattern(x * 16 + 16, 0); });
  TBitmap& stripes = *stripesOwner;
  const TFilters all{pfNone, pfSub, pfUp, pfAverage, pfPaeth};
  const std::vector<int> filters = RowFilters(SaveBitmap(stripes, all), 64 * 3);
  ASSERT_EQ(filters.size(), 5u);
  for (size_t y = 1; y < 5; ++y) EXPECT_EQ(filters[y], 2) << y;
}

TEST(PngWriteFilters, EveryFilterIsReadBackExactly) {
  auto bitmapOwner = MakeBitmap24(67, 41, TestPattern);
  TBitmap& bitmap = *bitmapOwner;
  auto indexedOwner = MakeIndexedBitmap(pf4bit, 67, 41, [](int x, int y) { return x * y + x; });
  TBitmap& indexed = *indexedOwner;
  for (TFilters filters : {TFilters{pfNone}, TFilters{pfSub}, TFilters{pfUp}, TFilters{pfAverage},
                           TFilters{pfPaeth}, TFilters{pfNone, pfSub, pfUp, pfAverage, pfPaeth}}) {
    ExpectSamePixels(bitmap, SaveBitmap(bitmap, filters));
    ExpectSamePixels(indexed, SaveBitmap(indexed, filters));
  }
}

TEST(PngWriteIdat, MaxIdatSizeHasAFloorAndCutsChunksExactly) {
  TPngImage png;
  png.SetMaxIdatSize(1000);
  EXPECT_EQ(png.MaxIdatSize(), 65535u);

  auto noiseOwner =
      MakeBitmap24(400, 400, [](int x, int y) { return TestPattern(x * 16, y * 16); });
  TBitmap& noise = *noiseOwner;
  png.Assign(noise);
  png.SetMaxIdatSize(100000);
  const std::vector<uint8_t> file = SaveToBytes(png);
  const auto chunks = ParseChunks(file);
  std::vector<size_t> sizes;
  for (const auto& c : chunks)
    if (c.Name == "IDAT") sizes.push_back(c.Data.size());
  ASSERT_GE(sizes.size(), 3u);
  for (size_t i = 0; i + 1 < sizes.size(); ++i) EXPECT_EQ(sizes[i], 100000u);
  EXPECT_GT(sizes.back(), 0u);
  EXPECT_LE(sizes.back(), 100000u);
  ExpectSamePixels(noise, file);
}

TEST(PngWriteIdat, CompressionLevelChangesTheSizeNotThePixels) {
  auto bitmapOwner = MakeBitmap24(120, 80, TestPattern);
  TBitmap& bitmap = *bitmapOwner;
  TPngImage png;
  png.Assign(bitmap);
  png.SetCompressionLevel(0);
  const std::vector<uint8_t> stored = SaveToBytes(png);
  png.SetCompressionLevel(9);
  const std::vector<uint8_t> packed = SaveToBytes(png);
  EXPECT_GT(stored.size(), packed.size());
  // Level 0 stores: the data is at least as long as the filtered rows.
  EXPECT_GE(stored.size(), size_t(80) * (120 * 3 + 1));
  ExpectSamePixels(bitmap, stored);
  ExpectSamePixels(bitmap, packed);
}

TEST(PngWriteAdam7, SinglePixelHasDataInTheFirstPassOnly) {
  auto pixelOwner = MakeBitmap24(1, 1, [](int, int) { return RGBColor(10, 20, 30); });
  TBitmap& pixel = *pixelOwner;
  const std::vector<uint8_t> file = SaveBitmap(pixel, TFilters{pfSub}, imAdam7);
  const auto chunks = ParseChunks(file);
  EXPECT_EQ(chunks.front().Data[12], 1);
  const std::vector<uint8_t> data = InflateIdat(chunks);
  EXPECT_EQ(data, (std::vector<uint8_t>{1, 10, 20, 30}));
  ExpectSamePixels(pixel, file);
}

TEST(PngWriteAdam7, InterlacedFilesReadBackExactly) {
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {3, 3}, {5, 9}, {17, 13}, {33, 1}, {1, 33}};
  const TFilters all{pfNone, pfSub, pfUp, pfAverage, pfPaeth};
  for (auto [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    auto rgbOwner = MakeBitmap24(w, h, TestPattern);
    TBitmap& rgb = *rgbOwner;
    ExpectSamePixels(rgb, SaveBitmap(rgb, all, imAdam7));
    for (TPixelFormat format : {pf1bit, pf4bit, pf8bit}) {
      auto indexedOwner = MakeIndexedBitmap(format, w, h, [](int x, int y) { return x + 3 * y; });
      TBitmap& indexed = *indexedOwner;
      ExpectSamePixels(indexed, SaveBitmap(indexed, all, imAdam7));
    }
  }
}

TEST(PngWriteSixteenBit, HighBytesKeptLowBytesZero) {
  VITRELLE_REQUIRE_TESTDATA();
  for (const char* name : {"basn2c16.png", "basn0g16.png", "basn6a16.png", "basn4a16.png"}) {
    SCOPED_TRACE(name);
    // Without gamma the samples are kept as they are (with it they pass through the
    // gamma table and its inverse, which is not one-to-one).
    const std::vector<uint8_t> originalBytes =
        WithoutChunk(ReadFileBytes(TestFile(std::string("pngsuite/") + name)), "gAMA");
    TPngImage png;
    LoadFromBytes(png, originalBytes);
    const std::vector<uint8_t> written = SaveToBytes(png);
    EXPECT_EQ(ParseChunks(written).front().Data[8], 16);
    const TOracleImage before = DecodeWithLibpng(originalBytes, true);
    const TOracleImage after = DecodeWithLibpng(written, true);
    ASSERT_TRUE(before.Ok && after.Ok) << after.Error;
    ASSERT_EQ(before.Rgba.size(), after.Rgba.size());
    const bool hasAlpha = std::string(name).find('a') == 5;
    for (size_t i = 0; i < after.Rgba.size(); i += 2) {
      ASSERT_EQ(after.Rgba[i], before.Rgba[i]) << i;
      if (!hasAlpha && (i / 2) % 4 == 3) continue;  // the decoder's own opaque filler
      ASSERT_EQ(after.Rgba[i + 1], 0) << i;
    }
  }
}

TEST(PngWriteRegistry, ExportByExtensionWritesPng) {
  RegisterPngImage();
  const TGraphicClass* cls = TPicture::FindFileFormat(".png");
  ASSERT_NE(cls, nullptr);
  std::unique_ptr<TGraphic> graphic = cls->Create();
  auto bitmapOwner = MakeBitmap24(30, 20, TestPattern);
  TBitmap& bitmap = *bitmapOwner;
  graphic->Assign(bitmap);
  TMemoryStream stream;
  graphic->SaveToStream(stream);
  ExpectSamePixels(bitmap, StreamBytes(stream));
  UnregisterPngImage();
}
