// Decoding: pixels identical to libjpeg used directly, header-only loading, scaling,
// palettes, CMYK, progressive files, damaged and hostile input.
#include <stdexcept>

#include "jpeg_glue.h"
#include "jpeg_test_util.h"

namespace {

void ExpectSameAsLibrary(const Bytes& file, TJPEGImage& image, DecodeOptions o = {}) {
  Reference ref = DecodeWithLibrary(file, o);
  TBitmap* bitmap = image.Bitmap();
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->Width(), ref.width);
  ASSERT_EQ(bitmap->Height(), ref.height);
  if (ref.components == 4) {
    // CMYK arrives inverted (Adobe) and becomes opaque blue, green, red.
    ASSERT_EQ(bitmap->BitCount(), 32);
    Bytes got = PackedRows(*bitmap);
    for (size_t i = 0; i < ref.pixels.size(); i += 4) {
      const unsigned c = ref.pixels[i], m = ref.pixels[i + 1], y = ref.pixels[i + 2],
                     k = ref.pixels[i + 3];
      ASSERT_EQ(got[i], k * y / 255) << i;
      ASSERT_EQ(got[i + 1], k * m / 255) << i;
      ASSERT_EQ(got[i + 2], k * c / 255) << i;
      ASSERT_EQ(got[i + 3], 255) << i;
    }
    return;
  }
  EXPECT_EQ(bitmap->BitCount(), ref.components * 8);
  EXPECT_TRUE(PackedRows(*bitmap) == ref.pixels);
  if (!ref.colormap.empty()) {
    const std::vector<TRGBQuad>& table = bitmap->ColorTable();
    ASSERT_EQ(table.size(), ref.colormap[0].size());
    for (size_t i = 0; i < table.size(); ++i) {
      const size_t r = ref.colormap.size() == 3 ? 2 : 0, g = ref.colormap.size() == 3 ? 1 : 0;
      EXPECT_EQ(table[i].rgbRed, ref.colormap[r][i]);
      EXPECT_EQ(table[i].rgbGreen, ref.colormap[g][i]);
      EXPECT_EQ(table[i].rgbBlue, ref.colormap[0][i]);
    }
  }
}

TEST(JpegDecode, ColourPicturesMatchTheLibrary) {
  for (EncodeOptions o : {EncodeOptions{}, EncodeOptions{75, true, false}}) {
    const Bytes file = MakeJpeg(173, 61, o);  // odd sizes: partial blocks at the edges
    TJPEGImage image;
    LoadBytes(image, file);
    EXPECT_EQ(image.ProgressiveEncoding(), o.progressive);
    ExpectSameAsLibrary(file, image);
  }
}

TEST(JpegDecode, RealFilesMatchTheLibrary) {
  VITRELLE_REQUIRE_TESTDATA();
  for (const char* name :
       {"jpegdecoder-16bit-qtables.jpg", "jpegdecoder-extraneous-data.jpg",
        "jpegdecoder-multiple-0xff-before-eoi.jpg", "jpegdecoder-non-interleaved-mcu.jpg",
        "jpegdecoder-progressive-missing-ac.jpg", "jpegdecoder-mozilla-jpg-cmyk-1.jpg",
        "jpegdecoder-ycck-adobe.jpg"}) {
    SCOPED_TRACE(name);
    const Bytes file = ReadTestFile(name);
    TJPEGImage image;
    LoadBytes(image, file);
    ExpectSameAsLibrary(file, image);
  }
}

TEST(JpegDecode, LoadingReadsOnlyTheHeader) {
  Bytes file = MakeJpeg(1000, 750);
  // Damage the entropy data: loading must not notice, only the first draw decodes.
  for (size_t i = file.size() / 2; i < file.size() / 2 + 64; ++i) file[i] = 0xFF;
  TJPEGImage image;
  LoadBytes(image, file);
  EXPECT_EQ(image.Width(), 1000);
  EXPECT_EQ(image.Height(), 750);
  EXPECT_FALSE(image.Empty());
  image.SetScale(jsQuarter);
  EXPECT_EQ(image.Width(), 250);
  EXPECT_EQ(image.Height(), 188);
  image.SetScale(jsEighth);
  EXPECT_EQ(image.Width(), 125);
  EXPECT_EQ(image.Height(), 94);
  // Loading other data with the same scale must not keep the old scaled size.
  LoadBytes(image, MakeJpeg(64, 40));
  EXPECT_EQ(image.Width(), 8);
  EXPECT_EQ(image.Height(), 5);
}

TEST(JpegDecode, ScaledDecodingMatchesTheLibrary) {
  const Bytes file = MakeJpeg(300, 201);
  TJPEGImage image;
  LoadBytes(image, file);
  image.SetScale(jsHalf);
  ExpectSameAsLibrary(file, image, DecodeOptions{2});
  EXPECT_EQ(image.Width(), 150);
  image.SetScale(jsEighth);  // drops the bitmap: the next need decodes again
  ExpectSameAsLibrary(file, image, DecodeOptions{8});
}

TEST(JpegDecode, GrayscaleAndPaletteOutput) {
  const Bytes file = MakeJpeg(120, 90);
  TJPEGImage image;
  LoadBytes(image, file);
  image.SetGrayscale(true);
  EXPECT_TRUE(image.Grayscale());
  ExpectSameAsLibrary(file, image, DecodeOptions{1, true});
  image.SetGrayscale(false);
  image.SetPixelFormat(jf8Bit);
  image.SetPaletteModified(false);  // loading and the setting both mark it
  ExpectSameAsLibrary(file, image, DecodeOptions{1, false, true});
  EXPECT_LE(image.Bitmap()->ColorTable().size(), 236u);
  EXPECT_TRUE(image.PaletteModified());  // the decoder's colour map became the palette

  TJPEGImage trueColour;
  LoadBytes(trueColour, file);
  trueColour.SetPaletteModified(false);
  ASSERT_EQ(trueColour.Bitmap()->BitCount(), 24);
  EXPECT_FALSE(trueColour.PaletteModified());  // no colour map, no new palette

  const Bytes grayFile = MakeJpeg(40, 30, EncodeOptions{90, false, true});
  TJPEGImage gray;
  LoadBytes(gray, grayFile);
  EXPECT_TRUE(gray.Grayscale());  // from the data, though never set
  ExpectSameAsLibrary(grayFile, gray);
}

// With progressive display the picture is output once per scan as the data comes in:
// the rows reported as decoded add up to several more passes over the picture than
// without it, where they come once after all scans were read (twice with the two-pass
// colour quantiser of 8-bit output). Either way the result is the full picture.
TEST(JpegDecode, ProgressiveDisplayShowsThePictureScanByScan) {
  const int64_t interval = JpegReportIntervalMs;
  JpegReportIntervalMs = 0;  // every change of the percentage is reported
  const Bytes file = MakeJpeg(64, 600, EncodeOptions{90, true, false});
  for (TJPEGPixelFormat format : {jf24Bit, jf8Bit}) {
    int rowsAtOnce = 0;
    for (bool progressive : {false, true}) {
      SCOPED_TRACE(std::to_string(format) + (progressive ? " progressive" : " at once"));
      TJPEGImage image;
      LoadBytes(image, file);
      image.SetProgressiveDisplay(progressive);
      image.SetPixelFormat(format);
      int rows = 0, ends = 0;
      image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect& r,
                             const std::string&) {
        if (stage == psRunning) rows += r.Height();
        if (stage == psEnding) ++ends;
      };
      ExpectSameAsLibrary(file, image, DecodeOptions{1, false, format == jf8Bit});
      EXPECT_EQ(ends, 1);
      if (progressive)
        EXPECT_GE(rows, rowsAtOnce + 2 * 600);
      else
        EXPECT_LE(rows, format == jf8Bit ? 2 * 600 : 600);
      rowsAtOnce = rows;
    }
  }
  JpegReportIntervalMs = interval;
}

TEST(JpegDecode, TruncatedFileGivesAPartialPicture) {
  const Bytes whole = MakeJpeg(200, 200);
  const Bytes cut(whole.begin(), whole.begin() + long(whole.size() / 2));
  TJPEGImage image;
  LoadBytes(image, cut);
  TBitmap target;
  target.SetSize(50, 50);
  EXPECT_NO_THROW(image.Draw(target.Canvas(), Rect(0, 0, 50, 50)));
  ASSERT_EQ(image.Bitmap()->Height(), 200);
  // The top half arrived whole.
  Reference ref = DecodeWithLibrary(whole);
  Bytes got = PackedRows(*image.Bitmap());
  EXPECT_TRUE(std::equal(got.begin(), got.begin() + 200 * 3 * 32, ref.pixels.begin()));
}

TEST(JpegDecode, EmptyStreamFailsOnlyWhenDrawn) {
  TJPEGImage image;
  TMemoryStream empty;
  image.LoadFromStream(empty);
  EXPECT_FALSE(image.Empty());
  EXPECT_EQ(image.Width(), 0);
  EXPECT_EQ(image.Height(), 0);
  TBitmap target;
  target.SetSize(4, 4);
  try {
    image.Draw(target.Canvas(), Rect(0, 0, 4, 4));
    FAIL() << "drawing empty data must fail";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.ErrorCode(), int(JERR_INPUT_EMPTY));
    EXPECT_EQ(e.Message(), "Erreur JPEG #" + std::to_string(int(JERR_INPUT_EMPTY)));
  }
}

TEST(JpegDecode, BadInputRaisesEJPEG) {
  TJPEGImage image;
  const Bytes png = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 0};
  EXPECT_THROW(LoadBytes(image, png), EJPEG);
  EXPECT_FALSE(image.Empty());  // keeps the bytes, without header values
  EXPECT_EQ(image.Width(), 0);

  // Tables only, no picture.
  const Bytes tablesOnly = {0xFF, 0xD8, 0xFF, 0xD9};
  EXPECT_THROW(LoadBytes(image, tablesOnly), EJPEG);
}

TEST(JpegDecode, HugeDeclaredSizeStaysWithinTheBudget) {
  Bytes file = MakeJpeg(16, 16);
  for (size_t i = 2; i + 8 < file.size(); ++i)
    if (file[i] == 0xFF && file[i + 1] == 0xC0) {  // frame header: height, width
      file[i + 5] = file[i + 6] = file[i + 7] = file[i + 8] = 0xFF;
      file[i + 6] = 0xDC;  // 65500
      file[i + 8] = 0xDC;
      break;
    }
  const uint64_t saved = GetImageBudget();
  SetImageBudget(64u << 20);
  TJPEGImage image;
  LoadBytes(image, file);
  EXPECT_EQ(image.Width(), 65500);
  EXPECT_THROW(image.DIBNeeded(), EOutOfResources);
  SetImageBudget(saved);
}

TEST(JpegDecode, UnnamedColourSpacesFailCleanlyOrQuantise) {
  // Two components of no named colour space: no bitmap layout fits them.
  const Bytes file =
      EncodeWithLibrary(Bytes(16 * 8 * 2, 77), 16, 8, {90, false, false, 2, JCS_UNKNOWN});
  TJPEGImage image;
  LoadBytes(image, file);
  EXPECT_EQ(image.Width(), 16);
  try {
    image.DIBNeeded();
    FAIL() << "two components have no 24-bit layout";
  } catch (const EJPEG& e) {
    EXPECT_EQ(e.ErrorCode(), int(JERR_CONVERSION_NOTIMPL));
  }
  TJPEGImage quantised;
  LoadBytes(quantised, file);
  quantised.SetPixelFormat(jf8Bit);  // one index per pixel: fits, with a grey palette
  quantised.DIBNeeded();
  EXPECT_EQ(quantised.Bitmap()->BitCount(), 8);
  for (const TRGBQuad& q : quantised.Bitmap()->ColorTable()) EXPECT_EQ(q.rgbRed, q.rgbBlue);
}

}  // namespace
