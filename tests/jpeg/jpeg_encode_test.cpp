// Compression and saving: the library's own output for the same pixels, settings,
// re-saving without re-compressing, conversions of other bitmap formats.
#include "jpeg_test_util.h"

namespace {

std::unique_ptr<TBitmap> PatternBitmap(int w, int h) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(pf24bit);
  bitmap->SetSize(w, h);
  const Bytes bgr = TestPattern(w, h);
  for (int y = 0; y < h; ++y)
    std::memcpy(bitmap->GetScanline(y), &bgr[size_t(y) * size_t(w) * 3], size_t(w) * 3);
  return bitmap;
}

TEST(JpegEncode, BitmapSavesAsTheLibraryWouldEncodeIt) {
  auto bitmap = PatternBitmap(728, 546);
  TJPEGImage image;
  image.Assign(*bitmap);
  EXPECT_TRUE(image.JPEGData().Data() == nullptr);  // nothing compressed until needed
  const Bytes saved = SaveBytes(image);
  EXPECT_TRUE(saved == EncodeWithLibrary(TestPattern(728, 546), 728, 546));  // quality 90
  Markers m = ScanMarkers(saved);
  EXPECT_TRUE(m.baseline);
  EXPECT_EQ(m.scans, 1);
  EXPECT_EQ(m.components, 3);
  EXPECT_EQ(image.JPEGData().Width(), 728);
  EXPECT_EQ(image.JPEGData().Height(), 546);
}

// Adopting a bitmap (the export's temporary one) takes it over instead of copying it; the
// file is the library's own all the same.
TEST(JpegEncode, AdoptedBitmapSavesLikeAnAssignedOne) {
  auto bitmap = PatternBitmap(73, 41);
  TJPEGImage image;
  image.Adopt(*bitmap);
  EXPECT_TRUE(bitmap->Empty());
  EXPECT_TRUE(SaveBytes(image) == EncodeWithLibrary(TestPattern(73, 41), 73, 41));
}

TEST(JpegEncode, GrayscaleQualityAndProgressiveSettings) {
  auto bitmap = PatternBitmap(100, 80);
  TJPEGImage gray;
  gray.Assign(*bitmap);
  gray.SetGrayscale(true);  // keeps the bitmap: there is no data to decode again from
  ASSERT_FALSE(gray.Empty());
  const Bytes graySaved = SaveBytes(gray);
  EXPECT_EQ(ScanMarkers(graySaved).components, 1);
  EXPECT_TRUE(gray.Grayscale());
  EXPECT_TRUE(gray.JPEGData().IsGrayscale());

  TJPEGImage progressive;
  progressive.Assign(*bitmap);
  progressive.SetProgressiveEncoding(true);
  progressive.SetCompressionQuality(40);
  const Bytes progSaved = SaveBytes(progressive);
  EXPECT_TRUE(progSaved == EncodeWithLibrary(TestPattern(100, 80), 100, 80, {40, true, false}));
  EXPECT_GT(ScanMarkers(progSaved).scans, 1);
  TJPEGImage reloaded;
  LoadBytes(reloaded, progSaved);
  EXPECT_TRUE(reloaded.ProgressiveEncoding());

  progressive.SetCompressionQuality(1000);
  EXPECT_EQ(progressive.CompressionQuality(), 100);
}

TEST(JpegEncode, SavingAgainWritesTheSameBytesWithoutRecompressing) {
  VITRELLE_REQUIRE_TESTDATA();
  auto bitmap = PatternBitmap(64, 48);
  TJPEGImage image;
  image.Assign(*bitmap);
  const Bytes first = SaveBytes(image);
  const TJPEGData* data = &image.JPEGData();
  EXPECT_TRUE(SaveBytes(image) == first);
  EXPECT_EQ(&image.JPEGData(), data);

  // A loaded file is written back byte for byte, damage and all.
  const Bytes file = ReadTestFile("jpegdecoder-extraneous-data.jpg");
  TJPEGImage loaded;
  LoadBytes(loaded, file);
  loaded.DIBNeeded();
  EXPECT_TRUE(SaveBytes(loaded) == file);
}

TEST(JpegEncode, OtherBitmapFormatsAndTinyPictures) {
  EXPECT_TRUE(SaveBytes(*std::make_unique<TJPEGImage>()).empty());  // nothing, no error
  auto bitmap = PatternBitmap(33, 17);
  for (TPixelFormat format : {pf32bit, pf8bit}) {
    TBitmap other;
    other.Assign(*bitmap);
    other.SetPixelFormat(format);
    TJPEGImage image;
    image.Assign(other);
    const Bytes saved = SaveBytes(image);
    if (format == pf32bit) {
      EXPECT_TRUE(saved == EncodeWithLibrary(TestPattern(33, 17), 33, 17));
    }
    EXPECT_EQ(ScanMarkers(saved).components, 3);
    EXPECT_EQ(other.PixelFormat(), format);  // the source is left alone
  }
  auto one = PatternBitmap(1, 1);  // a one-row bitmap: stride 0
  TJPEGImage single;
  single.Assign(*one);
  EXPECT_TRUE(SaveBytes(single) == EncodeWithLibrary(TestPattern(1, 1), 1, 1));
  TBitmap empty;
  single.Assign(empty);
  EXPECT_TRUE(SaveBytes(single).empty());
}

TEST(JpegEncode, AbortDuringCompressionLeavesEmptyData) {
  auto bitmap = PatternBitmap(40, 40);
  TJPEGImage image;
  image.Assign(*bitmap);
  image.OnProgress = [](TGraphic&, TProgressStage, uint8_t, bool, const TRect&,
                        const std::string&) { throw EAbort(); };
  EXPECT_NO_THROW(image.Compress());
  EXPECT_TRUE(image.JPEGData().Data() == nullptr);
  EXPECT_EQ(image.Bitmap()->Width(), 40);  // the picture itself is kept
  image.OnProgress = nullptr;
  EXPECT_FALSE(SaveBytes(image).empty());
}

// The copy to 24 bits is refused by the size budget: no data is left behind, so a later
// save compresses again (and fails again) instead of writing nothing.
TEST(JpegEncode, FailedCompressionLeavesNoData) {
  auto bitmap = PatternBitmap(1000, 1000);
  bitmap->SetPixelFormat(pf8bit);  // 1 000 000 bytes; its 24-bit copy takes 3 000 000
  TJPEGImage image;
  image.Assign(*bitmap);
  const uint64_t saved = GetImageBudget();
  SetImageBudget(2000000);
  EXPECT_THROW(SaveBytes(image), EOutOfResources);
  EXPECT_TRUE(image.JPEGData().Data() == nullptr);
  EXPECT_FALSE(image.Empty());  // the bitmap is still there
  EXPECT_THROW(SaveBytes(image), EOutOfResources);
  SetImageBudget(saved);
  const Bytes file = SaveBytes(image);
  ASSERT_FALSE(file.empty());
  const Reference decoded = DecodeWithLibrary(file);
  EXPECT_EQ(decoded.width, 1000);
  EXPECT_EQ(decoded.height, 1000);
}

}  // namespace
