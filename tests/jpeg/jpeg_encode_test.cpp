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
  EXPECT_EQ(m.frame, 0xC0);  // baseline
  EXPECT_EQ(m.scans, 1);
  EXPECT_EQ(m.components, 3);
  EXPECT_EQ(image.JPEGData().Width(), 728);
  EXPECT_EQ(image.JPEGData().Height(), 546);
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
  auto bitmap = PatternBitmap(33, 17);
  const Bytes expected = SaveBytes(*std::make_unique<TJPEGImage>().get());
  EXPECT_TRUE(expected.empty());  // no bitmap: nothing to write, no error

  TBitmap wide;
  wide.Assign(*bitmap);
  wide.SetPixelFormat(pf32bit);
  TJPEGImage fromWide;
  fromWide.Assign(wide);
  EXPECT_TRUE(SaveBytes(fromWide) == EncodeWithLibrary(TestPattern(33, 17), 33, 17));

  TBitmap indexed;
  indexed.Assign(*bitmap);
  indexed.SetPixelFormat(pf8bit);
  TJPEGImage fromIndexed;
  fromIndexed.Assign(indexed);
  const Bytes saved = SaveBytes(fromIndexed);
  EXPECT_EQ(ScanMarkers(saved).components, 3);
  EXPECT_EQ(indexed.PixelFormat(), pf8bit);  // the source is left alone

  auto one = PatternBitmap(1, 1);
  one->SetPixelColor(0, 0, RGBColor(200, 100, 50));
  TJPEGImage single;
  single.Assign(*one);
  TJPEGImage back;
  LoadBytes(back, SaveBytes(single));
  const TColor c = back.Bitmap()->PixelColor(0, 0);
  EXPECT_NEAR(GetRValue(c), 200, 3);
  EXPECT_NEAR(GetGValue(c), 100, 3);
  EXPECT_NEAR(GetBValue(c), 50, 3);

  TBitmap empty;
  TJPEGImage fromEmpty;
  fromEmpty.Assign(empty);
  EXPECT_TRUE(SaveBytes(fromEmpty).empty());
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

}  // namespace
