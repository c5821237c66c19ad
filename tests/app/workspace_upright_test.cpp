// Phone photos shown, placed and exported upright: JPEG files made here with an Exif
// orientation spliced in, each one's stored rows laid out from the Exif definition of the
// eight values, and every exported mock-up compared with the upright picture.
#include <cstdio>
#include <fstream>

#include "codecs.h"
#include "exif_builder.h"
#include "workspace_support.h"

namespace {

constexpr TColor kMagenta = RGBColor(255, 0, 255);
constexpr TColor kGray = RGBColor(128, 128, 128);

// Where the stored first row and first column are seen, for values 1 to 8.
enum TSide { sdTop, sdBottom, sdLeft, sdRight };
constexpr TSide kRowSide[9] = {sdTop,  sdTop,   sdTop,   sdBottom, sdBottom,
                               sdLeft, sdRight, sdRight, sdLeft};
constexpr TSide kColumnSide[9] = {sdLeft, sdLeft, sdRight,  sdRight, sdLeft,
                                  sdTop,  sdTop,  sdBottom, sdBottom};

using TPattern = TColor (*)(int x, int y, int w, int h);

// The stored rows of an upright w x h picture for an orientation value.
std::unique_ptr<TBitmap> StoredRows(TPattern upright, int w, int h, int value) {
  const TSide row = kRowSide[value];
  const TSide column = kColumnSide[value];
  const bool rowsAreRows = row == sdTop || row == sdBottom;
  auto stored = std::make_unique<TBitmap>();
  stored->SetPixelFormat(pf24bit);
  stored->SetSize(rowsAreRows ? w : h, rowsAreRows ? h : w);
  for (int sy = 0; sy < stored->Height(); ++sy)
    for (int sx = 0; sx < stored->Width(); ++sx) {
      int vx = 0;
      int vy = 0;
      if (rowsAreRows) {
        vy = row == sdTop ? sy : h - 1 - sy;
        vx = column == sdLeft ? sx : w - 1 - sx;
      } else {
        vx = row == sdLeft ? sy : w - 1 - sy;
        vy = column == sdTop ? sx : h - 1 - sx;
      }
      stored->SetPixelColor(sx, sy, upright(vx, vy, w, h));
    }
  return stored;
}

// A JPEG file of the bitmap (our encoder) with an Exif segment spliced in after its SOI.
std::string WriteJpeg(const TTempDir& dir, const std::string& name, TBitmap& pixels,
                      const exif::Bytes& segment) {
  const TGraphicClass* cls = TPicture::FindFileFormat(".jpg");
  if (cls == nullptr) return {};
  std::unique_ptr<TGraphic> jpeg = cls->Create();
  jpeg->Assign(pixels);
  TMemoryStream encoded;
  jpeg->SaveToStream(encoded);
  const exif::Bytes plain(encoded.Memory(), encoded.Memory() + encoded.Size());
  const exif::Bytes file = exif::Splice(plain, segment);
  const std::string path = dir.File(name);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
  return path;
}

TColor Quadrants(int x, int y, int w, int h) {
  if (y < h / 2) return x < w / 2 ? clRed : clLime;
  return x < w / 2 ? clBlue : clWhite;
}

TColor Halves(int x, int, int w, int) {
  return x < w / 2 ? clRed : clBlue;
}

// Within a JPEG's error of the colour.
::testing::AssertionResult Near(TColor actual, TColor expected) {
  for (int shift : {0, 8, 16}) {
    const int a = int(actual >> shift & 255);
    const int e = int(expected >> shift & 255);
    if (std::abs(a - e) > 48)
      return ::testing::AssertionFailure()
             << std::hex << "colour " << actual << " instead of about " << expected;
  }
  return ::testing::AssertionSuccess();
}

class UprightTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (TPicture::FindFileFormat(".jpg") == nullptr) GTEST_SKIP() << "no JPEG codec";
  }
  std::unique_ptr<TBitmap> Export(TWorkspace& ws, const std::string& name) {
    ws.Host.NextSave = dir.File(name);
    ws.Host.NextSaveFilter = 4;  // BMP: the pixels as composed
    ws.Form.btnExportImageClick();
    auto bmp = std::make_unique<TBitmap>();
    bmp->LoadFromFile(dir.File(name));
    return bmp;
  }
  TCodecRegistration codecs;
  TTempDir dir;
};

TEST_F(UprightTest, EachOrientationIsShownPlacedAndExportedUpright) {
  const std::string product =
      WriteQuadrantBmp(dir, "produit.bmp", 8, 8, kMagenta, kMagenta, kMagenta, kMagenta);
  for (int value = 1; value <= 8; ++value) {
    SCOPED_TRACE("orientation " + std::to_string(value));
    std::unique_ptr<TBitmap> stored = StoredRows(Quadrants, 64, 48, value);
    const std::string photo = WriteJpeg(dir, "maison" + std::to_string(value) + ".jpg", *stored,
                                        exif::App1(exif::Orientation(value, value % 2 == 0)));
    TWorkspace ws;
    ws.Activate(product);
    ws.ImportClient(photo);
    ASSERT_TRUE(ws.Host.Messages.empty());
    // A 64 x 48 photo fits the control: shown unscaled, centred.
    EXPECT_EQ(ws.Form.photoRight - ws.Form.photoLeft, 64);
    EXPECT_EQ(ws.Form.photoBottom - ws.Form.photoTop, 48);
    ws.Form.btnPersoClick();
    const int left = ws.Form.photoLeft;
    const int top = ws.Form.photoTop;
    ws.Frame(left + 2, top + 2, left + 10, top + 10);
    ASSERT_TRUE(ws.Form.btnExportImage.Enabled);

    std::unique_ptr<TBitmap> out = Export(ws, "maquette" + std::to_string(value) + ".bmp");
    ASSERT_EQ(out->Width(), 64);
    ASSERT_EQ(out->Height(), 48);
    EXPECT_EQ(out->PixelColor(5, 5), kMagenta);  // the product, in the red quadrant
    EXPECT_TRUE(Near(out->PixelColor(16, 12), clRed));
    EXPECT_TRUE(Near(out->PixelColor(48, 12), clLime));
    EXPECT_TRUE(Near(out->PixelColor(16, 36), clBlue));
    EXPECT_TRUE(Near(out->PixelColor(48, 36), clWhite));
  }
}

TEST_F(UprightTest, ProductTakesItsUprightProportions) {
  // Upright 40 x 20, red on the left, blue on the right; stored as a quarter turn left.
  std::unique_ptr<TBitmap> stored = StoredRows(Halves, 40, 20, 8);
  ASSERT_EQ(stored->Width(), 20);
  const std::string product =
      WriteJpeg(dir, "produit.jpg", *stored, exif::App1(exif::Orientation(8)));
  TWorkspace ws;
  ws.Activate(product);
  ASSERT_NE(ws.Form.ImgProduitApercu.Picture.Graphic(), nullptr);
  EXPECT_EQ(ws.Form.ImgProduitApercu.Picture.Width(), 40);
  EXPECT_EQ(ws.Form.ImgProduitApercu.Picture.Height(), 20);
  ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 400, 300, kGray, kGray, kGray, kGray));
  // Proportional: a frame 40 high gives 40 / (20 / 40) = 80 wide.
  ws.Frame(200, 250, 210, 290);
  EXPECT_EQ(ws.Form.ImgProduit.Width, 80);
  EXPECT_EQ(ws.Form.ImgProduit.Height, 40);
  std::unique_ptr<TBitmap> out = Export(ws, "maquette.bmp");
  // The product lies at display (36, 35) - (116, 75).
  EXPECT_TRUE(Near(out->PixelColor(50, 55), clRed));
  EXPECT_TRUE(Near(out->PixelColor(100, 55), clBlue));
  EXPECT_EQ(out->PixelColor(30, 55), kGray);
}

TEST_F(UprightTest, BrokenExifShowsThePhotoAsStored) {
  std::unique_ptr<TBitmap> stored = StoredRows(Quadrants, 64, 48, 1);
  // An Exif block whose first IFD lies past the segment, and one whose orientation is out
  // of range: both mean "normal", without any message.
  const std::string farIfd =
      WriteJpeg(dir, "loin.jpg", *stored,
                exif::App1(exif::Tiff({exif::Entry{0x0112, 3, 1, 6}}, false, 0, 4000)));
  const std::string outOfRange =
      WriteJpeg(dir, "range.jpg", *stored, exif::App1(exif::Orientation(77)));
  for (const std::string& photo : {farIfd, outOfRange}) {
    TWorkspace ws;
    ws.Activate();
    ws.ImportClient(photo);
    EXPECT_TRUE(ws.Host.Messages.empty());
    EXPECT_EQ(ws.Form.photoRight - ws.Form.photoLeft, 64);
    EXPECT_EQ(ws.Form.photoBottom - ws.Form.photoTop, 48);
    ASSERT_NE(ws.Form.DisplayBitmap(), nullptr);
    EXPECT_TRUE(Near(ws.Form.DisplayBitmap()->PixelColor(48, 12), clLime));
  }
}

#ifdef VITRELLE_IMG_EXE
// The rendered PPM's pixel (x, y).
TColor PpmPixel(const std::string& ppm, int width, int x, int y) {
  const size_t header = ppm.find("255\n") + 4;
  const size_t at = header + (size_t(y) * size_t(width) + size_t(x)) * 3;
  return RGBColor(uint8_t(ppm[at]), uint8_t(ppm[at + 1]), uint8_t(ppm[at + 2]));
}

TEST_F(UprightTest, RenderShowsTheStoredRowsUnlessAskedToTurnThem) {
  std::unique_ptr<TBitmap> stored = StoredRows(Quadrants, 64, 48, 6);
  const std::string photo = WriteJpeg(dir, "tourne.jpg", *stored, exif::App1(exif::Orientation(6)));
  auto render = [&](const std::string& extra, const std::string& out) {
    const std::string command =
        std::string(VITRELLE_IMG_EXE) + " render " + photo + " " + dir.File(out) + extra + " 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    std::ifstream in(dir.File(out), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const std::string asStored = render("", "stored.ppm");
  EXPECT_EQ(asStored.substr(0, 9), "P6\n48 64\n");
  const std::string upright = render(" --redresser", "upright.ppm");
  ASSERT_EQ(upright.substr(0, 9), "P6\n64 48\n");
  EXPECT_TRUE(Near(PpmPixel(upright, 64, 16, 12), clRed));
  EXPECT_TRUE(Near(PpmPixel(upright, 64, 48, 12), clLime));
  EXPECT_TRUE(Near(PpmPixel(upright, 64, 16, 36), clBlue));
  EXPECT_TRUE(Near(PpmPixel(upright, 64, 48, 36), clWhite));
}
#endif

}  // namespace
