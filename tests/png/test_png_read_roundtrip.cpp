// What the reading side hands to the writer: header bytes, kept chunks and converted
// buffers, checked through libpng's reading of the saved file.
#include <gtest/gtest.h>

#include "png_read_test_util.h"

using namespace pngr;

namespace {

// Data of the first chunk called name in a file.
Bytes ChunkData(const Bytes& file, const std::string& name) {
  size_t pos = 8;
  while (pos + 12 <= file.size()) {
    const uint32_t length = vitrelle_test::BigEndian32(&file[pos]);
    if (std::string(reinterpret_cast<const char*>(&file[pos + 4]), 4) == name)
      return Bytes(file.begin() + long(pos + 8), file.begin() + long(pos + 8 + length));
    pos += 12 + length;
  }
  return {};
}

}  // namespace

TEST(PngRoundTrip, TwoBitGreyIsWrittenAsFourBitWithTheSameLevels) {
  TPngImage image;
  Load(image, WriteWithLibpng(4, 1, 2, 0, false, {0x1B}));
  const Bytes saved = Save(image);
  EXPECT_EQ(ChunkData(saved, "IHDR")[8], 4);
  const TLibpngImage ref = DecodeWithLibpng(saved);
  ASSERT_TRUE(ref.Ok) << ref.Error;
  EXPECT_EQ(ref.Rgb(), (Bytes{0, 0, 0, 85, 85, 85, 170, 170, 170, 255, 255, 255}));
}

TEST(PngRoundTrip, TwoBitGreyColourKeyStaysATwoBitSample) {
  TPngImage image;
  Load(image, WriteWithLibpng(4, 1, 2, 0, false, {0x1B}));
  image.SetTransparentColor(RGBColor(170, 170, 170));
  EXPECT_EQ(image.TransparentColor(), image.GetPixels(2, 0));
  EXPECT_EQ(image.Chunks().Find<TChunktRNS>()->PaletteValues[1], 2);
}

TEST(PngRoundTrip, TwoBitGreyColourKeyIsWidenedWithThePixels) {
  TPngImage image;
  Load(image, SimplePng(4, 1, 2, 0, RawRows({0x1B}, 1, 1), Chunk("tRNS", {0, 2})));
  const Bytes saved = Save(image);
  EXPECT_EQ(ChunkData(saved, "tRNS"), (Bytes{0, 10}));
  const TLibpngImage ref = DecodeWithLibpng(saved);
  ASSERT_TRUE(ref.Ok) << ref.Error;
  EXPECT_EQ(ref.Alpha(), (Bytes{255, 255, 0, 255}));
}

TEST(PngRoundTrip, InterlaceFollowsTheImageSetting) {
  const Bytes samples = {10, 20, 30, 40, 50, 60, 70, 80, 90};
  TPngImage image;
  Load(image, WriteWithLibpng(3, 3, 8, 0, true, samples));
  ASSERT_EQ(image.InterlaceMethod(), imAdam7);
  image.SetInterlaceMethod(imNone);
  const Bytes saved = Save(image);
  EXPECT_EQ(ChunkData(saved, "IHDR")[12], 0);
  TPngImage again;
  Load(again, saved);
  EXPECT_EQ(again.InterlaceMethod(), imNone);
  EXPECT_EQ(CountMismatches(again, WriteWithLibpng(3, 3, 8, 0, false, samples)), 0);
}

TEST(PngRoundTrip, SuggestedPaletteOfAnRgbImageIsWrittenBackUnchanged) {
  const Bytes plte = {1, 2, 3, 4, 5, 6};
  TPngImage image;
  Load(image, SimplePng(1, 1, 8, 2, RawRows({9, 9, 9}, 3, 1), Chunk("PLTE", plte)));
  EXPECT_EQ(image.Palette(), nullptr);
  EXPECT_EQ(ChunkData(Save(image), "PLTE"), plte);
}

TEST(PngRoundTrip, AddedAlphaIsWrittenOpaque) {
  TPngImage image;
  Load(image, WriteWithLibpng(2, 2, 8, 2, false, Bytes(12, 77)));
  image.CreateAlpha();
  const Bytes saved = Save(image);
  EXPECT_EQ(ChunkData(saved, "IHDR")[9], 6);
  const TLibpngImage ref = DecodeWithLibpng(saved);
  ASSERT_TRUE(ref.Ok) << ref.Error;
  EXPECT_TRUE(ref.HasAlpha);
  EXPECT_EQ(ref.Alpha(), Bytes(4, 255));
  EXPECT_EQ(ref.Rgb(), Bytes(12, 77));
}

TEST(PngRoundTrip, PaletteAndTransparencyKeepTheirFileValues) {
  // Gamma-corrected colours are written back through the inverse table.
  Bytes gama;
  Put32(gama, 100000);
  const Bytes plte = {0, 0, 0, 128, 64, 32, 255, 255, 255};
  TPngImage image;
  Load(image, Concat({Signature(), Ihdr(3, 1, 8, 3), Chunk("gAMA", gama), Chunk("PLTE", plte),
                      Chunk("tRNS", {255, 0}), IdatChunks(Compress(RawRows({0, 1, 2}, 3, 1)), 99),
                      Chunk("IEND", {})}));
  EXPECT_EQ(image.GetPixels(1, 0),
            RGBColor(image.GammaTable[128], image.GammaTable[64], image.GammaTable[32]));
  const Bytes saved = Save(image);
  EXPECT_EQ(ChunkData(saved, "PLTE"), plte);
  EXPECT_EQ(ChunkData(saved, "tRNS"), (Bytes{255, 0}));
}
