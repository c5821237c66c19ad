// The Exif orientation of JPEG files, read from segments written after the TIFF layout
// and from a real camera-made file; hostile segments must read as "normal" without reading
// past the bytes given (each input is an exact-size buffer, so the sanitizer build sees
// any over-read); and the eight turns of a small bitmap, worked out by hand.
#include "exif_builder.h"
#include "jpeg_test_util.h"
#include "testdata.h"

namespace {

TExifOrientation Read(const Bytes& file) {
  // An exact-size heap copy: a read past the end is outside the allocation.
  std::vector<uint8_t> exact(file.begin(), file.end());
  exact.shrink_to_fit();
  return JpegExifOrientation(exact.data(), exact.size());
}

Bytes SmallJpeg() {
  return MakeJpeg(16, 8);
}

TEST(JpegExifTest, ReadsEveryOrientationInBothByteOrders) {
  const Bytes jpeg = SmallJpeg();
  for (bool big : {false, true})
    for (int v = 1; v <= 8; ++v)
      EXPECT_EQ(Read(exif::Splice(jpeg, exif::App1(exif::Orientation(v, big)))), v)
          << "big-endian " << big;
}

TEST(JpegExifTest, FindsTheExifSegmentAmongOthers) {
  const Bytes jpeg = SmallJpeg();  // libjpeg writes a JFIF APP0 first
  EXPECT_EQ(Read(jpeg), eoNormal);
  // An XMP APP1 before the Exif one, fill bytes before a marker, a restart-like marker.
  Bytes xmp = {0xFF, 0xE1, 0, 12, 'h', 't', 't', 'p', ':', '/', '/', 'n', 's', '.'};
  Bytes segments = xmp;
  segments.push_back(0xFF);  // a fill byte
  const Bytes exif = exif::App1(exif::Orientation(6));
  segments.insert(segments.end(), exif.begin(), exif.end());
  EXPECT_EQ(Read(exif::Splice(jpeg, segments)), eoQuarterRight);
  // Exif data after the first scan is not the picture's header any more.
  Bytes late(jpeg.begin(), jpeg.end() - 2);
  late.insert(late.end(), exif.begin(), exif.end());
  late.insert(late.end(), {0xFF, 0xD9});
  EXPECT_EQ(Read(late), eoNormal);
}

TEST(JpegExifTest, ReadsARealCameraFile) {
  VITRELLE_REQUIRE_TESTDATA();
  Bytes file = ReadTestFile("jpegdecoder-ycck-adobe.jpg");
  ASSERT_GT(file.size(), 60u);
  // Its Exif block (little-endian) starts at byte 12; the Orientation entry is the third
  // of ten and holds 1. Its value field lies at 12 + 10 + 2 * 12 + 8 = 54.
  ASSERT_EQ(std::string(file.begin() + 6, file.begin() + 10), "Exif");
  ASSERT_EQ(file[12 + 10 + 24], 0x12);
  ASSERT_EQ(file[12 + 10 + 24 + 1], 0x01);
  EXPECT_EQ(Read(file), eoNormal);
  file[54] = 8;
  EXPECT_EQ(Read(file), eoQuarterLeft);
  TJPEGImage image;
  TReadOnlyMemoryStream stream(file.data(), file.size());
  image.LoadFromStream(stream);
  EXPECT_EQ(ExifOrientation(image), eoQuarterLeft);
}

TEST(JpegExifTest, HostileSegmentsReadAsNormal) {
  const Bytes jpeg = SmallJpeg();
  const Bytes good = exif::Orientation(6);
  auto withTiff = [&](const Bytes& tiff) { return Read(exif::Splice(jpeg, exif::App1(tiff))); };

  // Lengths: a segment longer than the file, shorter than its length field, one cut short.
  EXPECT_EQ(Read(exif::Splice(jpeg, exif::App1(good, 0xFFFF))), eoNormal);
  EXPECT_EQ(Read(exif::Splice(jpeg, exif::App1(good, 1))), eoNormal);
  // The orientation entry lies past the segment's end.
  EXPECT_EQ(Read(exif::Splice(jpeg, exif::App1(Bytes(good.begin(), good.end() - 8)))), eoNormal);
  Bytes truncatedFile = exif::Splice(jpeg, exif::App1(good));
  truncatedFile.resize(2 + 10 + 20);  // the file ends inside the Exif segment
  EXPECT_EQ(Read(truncatedFile), eoNormal);
  EXPECT_EQ(Read(Bytes{0xFF, 0xD8, 0xFF}), eoNormal);
  EXPECT_EQ(Read(Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x00}), eoNormal);
  EXPECT_EQ(Read(Bytes{}), eoNormal);
  EXPECT_EQ(JpegExifOrientation(nullptr, 0), eoNormal);

  // Offsets past the end: the first IFD far away, or at the edge of 32 bits.
  EXPECT_EQ(withTiff(exif::Tiff({exif::Entry{}}, false, 0, 4000)), eoNormal);
  EXPECT_EQ(withTiff(exif::Tiff({exif::Entry{}}, true, 0, 0xFFFFFFF0u)), eoNormal);
  // An entry count that runs past the segment before any orientation entry.
  EXPECT_EQ(withTiff(exif::Tiff({exif::Entry{0x010F, 2, 4, 0}}, false, 0, 8, 5000)), eoNormal);

  // Loops in the IFD chain: the first IFD names itself, or a second one that names the
  // first, as its next. Only the first IFD counts (the next one is the thumbnail's).
  EXPECT_EQ(withTiff(exif::Tiff({exif::Entry{0x0112, 3, 1, 3}}, false, 8)), eoHalfTurn);
  Bytes loop = exif::Tiff({exif::Entry{0x010F, 2, 4, 0}}, true, 26);
  exif::Put16(loop, 1, true);  // the second IFD, at 26, with an orientation of 8
  for (uint8_t b : {0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x08, 0x00, 0x00})
    loop.push_back(b);
  exif::Put32(loop, 8, true);  // ...and the first IFD again as its next
  EXPECT_EQ(withTiff(loop), eoNormal);

  // Values and types out of the rules.
  for (uint32_t value : {0u, 9u, 0xFFFFu})
    EXPECT_EQ(withTiff(exif::Tiff({exif::Entry{0x0112, 3, 1, value}})), eoNormal) << value;
  EXPECT_EQ(withTiff(exif::Tiff({exif::Entry{0x0112, 4, 1, 6}})), eoNormal);  // LONG
  EXPECT_EQ(withTiff(exif::Tiff({exif::Entry{0x0112, 3, 0, 6}})), eoNormal);  // no value
  // Broken headers: byte order, magic number, Exif name.
  Bytes badOrder = good;
  badOrder[0] = 'X';
  EXPECT_EQ(withTiff(badOrder), eoNormal);
  Bytes badMagic = good;
  badMagic[2] = 43;
  EXPECT_EQ(withTiff(badMagic), eoNormal);
  Bytes badName = exif::App1(good);
  badName[5] = 'X';  // "EXif"
  EXPECT_EQ(Read(exif::Splice(jpeg, badName)), eoNormal);
  EXPECT_EQ(withTiff(Bytes(good.begin(), good.begin() + 7)), eoNormal);
}

// A 3 x 2 bitmap of six grey levels:  a b c / d e f.
std::unique_ptr<TBitmap> SixPixels(TPixelFormat format) {
  auto result = std::make_unique<TBitmap>();
  TBitmap& bmp = *result;
  bmp.SetPixelFormat(format);
  if (format == pf8bit) {
    std::vector<TRGBQuad> grays(256);
    for (int i = 0; i < 256; ++i)
      grays[size_t(i)] = TRGBQuad{uint8_t(i), uint8_t(i), uint8_t(i), 0};
    bmp.SetColorTable(grays);
  }
  bmp.SetSize(3, 2);
  const char* letters = "abcdef";
  for (int i = 0; i < 6; ++i) {
    const uint8_t g = uint8_t((letters[i] - 'a' + 1) * 40);
    bmp.SetPixelColor(i % 3, i / 3, RGBColor(g, g, g));
  }
  return result;
}

std::string Letters(const TBitmap& bmp) {
  std::string out;
  for (int y = 0; y < bmp.Height(); ++y) {
    if (y) out += '/';
    for (int x = 0; x < bmp.Width(); ++x)
      out += char('a' + GetRValue(bmp.PixelColor(x, y)) / 40 - 1);
  }
  return out;
}

TEST(JpegOrientationTest, TurnsPixelsAsEachValueAsks) {
  // Worked by hand from the picture "abc/def" seen through each value's turn.
  const char* expected[9] = {"",         "abc/def",  "cba/fed",  "fed/cba", "def/abc",
                             "ad/be/cf", "da/eb/fc", "fc/eb/da", "cf/be/ad"};
  for (TPixelFormat format : {pf8bit, pf24bit, pf32bit}) {
    std::unique_ptr<TBitmap> source = SixPixels(format);
    for (int v = 1; v <= 8; ++v) {
      std::unique_ptr<TBitmap> turned = OrientedBitmap(*source, TExifOrientation(v));
      EXPECT_EQ(Letters(*turned), expected[v]) << "format " << int(format) << " value " << v;
      EXPECT_EQ(turned->PixelFormat(), source->PixelFormat());
    }
  }
  // Other formats come out as 24 bits, turned the same way.
  std::unique_ptr<TBitmap> sixteen = SixPixels(pf24bit);
  sixteen->SetPixelFormat(pf16bit);
  std::unique_ptr<TBitmap> turned = OrientedBitmap(*sixteen, eoQuarterRight);
  EXPECT_EQ(turned->PixelFormat(), pf24bit);
  EXPECT_EQ(Letters(*turned), "da/eb/fc");
  // One row, one column, nothing at all.
  TBitmap row;
  row.SetSize(4, 1);
  EXPECT_EQ(OrientedBitmap(row, eoQuarterLeft)->Width(), 1);
  EXPECT_EQ(OrientedBitmap(row, eoQuarterLeft)->Height(), 4);
  TBitmap empty;
  EXPECT_TRUE(OrientedBitmap(empty, eoTransverse)->Empty());
}

// A picture holding the JPEG made of these bytes.
void HoldJpeg(TPicture& picture, const Bytes& bytes) {
  auto jpeg = std::make_unique<TJPEGImage>();
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  jpeg->LoadFromStream(stream);
  picture.SetGraphicOwned(std::move(jpeg));
}

TEST(JpegOrientationTest, UprightPictureTurnsOnlyOrientedJpegs) {
  const Bytes stored = MakeJpeg(32, 16);
  TPicture turned;
  HoldJpeg(turned, exif::Splice(stored, exif::App1(exif::Orientation(6))));
  UprightPicture(turned);
  ASSERT_NE(dynamic_cast<TBitmap*>(turned.Graphic()), nullptr);
  EXPECT_EQ(turned.Width(), 16);
  EXPECT_EQ(turned.Height(), 32);
  // A quarter turn clockwise puts the stored top-left pixel at the top-right corner and
  // the stored top-right pixel at the bottom-right one: compare with libjpeg's rows.
  const Reference ref = DecodeWithLibrary(stored);
  auto expectPixel = [&](int x, int y, size_t storedIndex) {
    const TColor c = turned.Bitmap().PixelColor(x, y);
    const uint8_t* bgr = &ref.pixels[storedIndex * 3];
    EXPECT_EQ(GetBValue(c), bgr[0]);
    EXPECT_EQ(GetGValue(c), bgr[1]);
    EXPECT_EQ(GetRValue(c), bgr[2]);
  };
  expectPixel(15, 0, 0);
  expectPixel(15, 31, 31);
  expectPixel(0, 0, 15 * 32);

  TPicture normal;
  HoldJpeg(normal, exif::Splice(stored, exif::App1(exif::Orientation(1))));
  UprightPicture(normal);
  EXPECT_NE(dynamic_cast<TJPEGImage*>(normal.Graphic()), nullptr);  // left as it is
  TPicture bitmap;
  bitmap.SetGraphicOwned(std::make_unique<TBitmap>());
  UprightPicture(bitmap);
  EXPECT_NE(dynamic_cast<TBitmap*>(bitmap.Graphic()), nullptr);
}

}  // namespace
