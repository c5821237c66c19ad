// The notice, the composition, the export and the headless composer.
#include <fstream>
#include <iterator>
#include <tuple>

#include "codecs.h"
#include "workspace_support.h"

namespace {

std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string Magic(const std::string& path, size_t n) {
  const std::vector<uint8_t> b = ReadBytes(path);
  return std::string(b.begin(), b.begin() + std::min(n, b.size()));
}

// 1600 x 1200 photo (display 728 x 546 at 0, 92), 50 x 50 product placed in custom mode at
// window (100, 200)-(200, 300), that is display (100, 108)-(200, 208).
class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ws.Activate(WriteQuadrantBmp(dir, "produit.bmp", 50, 50, clBlack, clBlack, clBlack, clBlack));
    ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 1600, 1200));
    ws.Form.btnPersoClick();
    ws.Frame(100, 200, 200, 300);
    ASSERT_TRUE(ws.Form.btnExportImage.Enabled);
  }
  void Export(const std::string& name, int filter) {
    ws.Host.NextSave = dir.File(name);
    ws.Host.NextSaveFilter = filter;
    ws.Form.btnExportImageClick();
  }
  TTempDir dir;
  TWorkspace ws;
};

TEST_F(ExportTest, CombinedImageHasTheDisplaySizeAndTheProduct) {
  std::unique_ptr<TBitmap> combined = ws.Form.CombineImage();
  ASSERT_EQ(combined->Width(), 728);
  ASSERT_EQ(combined->Height(), 546);
  EXPECT_EQ(combined->PixelColor(100, 108), clBlack);
  EXPECT_EQ(combined->PixelColor(199, 207), clBlack);
  EXPECT_EQ(combined->PixelColor(99, 108), clRed);
  EXPECT_EQ(combined->PixelColor(200, 207), clRed);
  // The display bitmap itself never holds the product.
  EXPECT_EQ(ws.Form.DisplayBitmap()->PixelColor(150, 150), clRed);
}

TEST_F(ExportTest, BitmapFilterWritesBmpWhateverTheName) {
  Export("mock.png", 4);
  EXPECT_EQ(Magic(dir.File("mock.png"), 2), "BM");
  Export("tout.jpg", 5);
  EXPECT_EQ(Magic(dir.File("tout.jpg"), 2), "BM");
  TBitmap back;
  back.LoadFromFile(dir.File("mock.png"));
  EXPECT_EQ(back.Width(), 728);
  EXPECT_EQ(back.Height(), 546);
  EXPECT_EQ(back.PixelColor(150, 150), clBlack);
  EXPECT_EQ(back.PixelColor(700, 500), clWhite);
}

TEST_F(ExportTest, FileNameClearedAfterSuccessKeptAfterFailure) {
  Export("a.bmp", 4);
  EXPECT_EQ(ws.Form.svgImageSave.FileName, "");
  EXPECT_TRUE(ws.Form.btnExportImage.Enabled);  // further exports possible
  ws.Host.NextSave = dir.File("absent/b.bmp");
  EXPECT_THROW(ws.Form.btnExportImageClick(), EStreamError);
  EXPECT_EQ(ws.Form.svgImageSave.FileName, dir.File("absent/b.bmp"));
}

TEST_F(ExportTest, CodecFiltersWriteTheirFormats) {
  TCodecRegistration codecs;
  struct Row {
    int filter;
    const char* ext;
    std::string magic;
  };
  for (const Row& row : {Row{1, ".png", "\x89PNG"}, Row{2, ".jpg", "\xFF\xD8\xFF"},
                         Row{3, ".jpeg", "\xFF\xD8\xFF"}}) {
    const std::string name = std::string("mock") + std::to_string(row.filter) + ".bin";
    if (!TPicture::FindFileFormat(row.ext)) {
      EXPECT_THROW(Export(name, row.filter), EInvalidGraphic) << row.ext;
      continue;
    }
    Export(name, row.filter);
    EXPECT_EQ(Magic(dir.File(name), row.magic.size()), row.magic) << row.ext;
    // Read back: the mock-up's colours, exact for PNG, near for JPEG.
    std::unique_ptr<TGraphic> back = TPicture::FindFileFormat(row.ext)->Create();
    back->LoadFromFile(dir.File(name));
    TBitmap pixels;
    pixels.Assign(*back);
    ASSERT_EQ(pixels.Width(), 728);
    ASSERT_EQ(pixels.Height(), 546);
    const int tolerance = row.filter == 1 ? 0 : 24;
    for (auto [x, y, expected] :
         {std::tuple{150, 150, clBlack}, std::tuple{40, 40, clRed}, std::tuple{600, 40, clLime},
          std::tuple{40, 500, clBlue}, std::tuple{600, 500, clWhite}}) {
      const TColor c = pixels.PixelColor(x, y);
      EXPECT_NEAR(GetRValue(c), GetRValue(expected), tolerance) << row.ext << " " << x << "," << y;
      EXPECT_NEAR(GetGValue(c), GetGValue(expected), tolerance) << row.ext << " " << x << "," << y;
      EXPECT_NEAR(GetBValue(c), GetBValue(expected), tolerance) << row.ext << " " << x << "," << y;
    }
  }
}

TEST_F(ExportTest, NoticeInWhiteAndBlack) {
  TBitmap before;
  before.Assign(*ws.Form.DisplayBitmap());
  ws.Form.SelectMention(1);
  TBitmap& d = *ws.Form.DisplayBitmap();
  const int top = d.Height() - 30;
  int white = 0;
  for (int y = 0; y < d.Height(); ++y)
    for (int x = 0; x < d.Width(); ++x) {
      const TColor c = d.PixelColor(x, y);
      if (c == before.PixelColor(x, y)) continue;
      // Only glyph pixels change, to the right of x = 10 and below the top line.
      ASSERT_GE(x, 10);
      ASSERT_GE(y, top);
      ASSERT_LT(y, top + 30);
      ASSERT_LT(x, 10 + 250);
      white += c == clWhite;
    }
  EXPECT_GT(white, 50);

  ws.Form.SelectMention(2);  // black over the white, not instead of it
  int black = 0;
  for (int y = top; y < d.Height(); ++y)
    for (int x = 10; x < 260; ++x) black += d.PixelColor(x, y) == clBlack;
  EXPECT_GT(black, 50);

  std::unique_ptr<TBitmap> combined = ws.Form.CombineImage();
  EXPECT_EQ(combined->PixelColor(20, top + 5), d.PixelColor(20, top + 5));

  ws.Form.SelectMention(0);  // refit: the notice is gone
  for (int y = top; y < d.Height(); ++y)
    for (int x = 0; x < 300; ++x) ASSERT_EQ(d.PixelColor(x, y), clBlue);
}

TEST(NoticeTest, BeforeAnyPhotoChangesNothing) {
  TWorkspace ws;
  ws.Activate();
  ws.Form.SelectMention(1);
  ws.Form.SelectMention(0);
  EXPECT_EQ(ws.Form.DisplayBitmap(), nullptr);
  EXPECT_FALSE(ws.Form.ImgPhotoMaison.Enabled);
}

TEST_F(ExportTest, HiddenProductIsStillComposed) {
  ws.ImportClient(WriteQuadrantBmp(dir, "maison2.bmp", 400, 300, clLime, clLime, clLime, clLime));
  ASSERT_FALSE(ws.Form.ImgProduit.Visible);
  std::unique_ptr<TBitmap> combined = ws.Form.CombineImage();
  // Product at window (100, 200): display (-64, -15) of the new 400 x 300 photo: clipped.
  EXPECT_EQ(combined->PixelColor(0, 0), clBlack);
  EXPECT_EQ(combined->PixelColor(35, 84), clBlack);
  EXPECT_EQ(combined->PixelColor(36, 85), clLime);
}

TEST_F(ExportTest, ComposerWritesWhatTheWindowWrites) {
  ws.Form.SelectMention(2);
  Export("fenetre.bmp", 4);

  TComposerJob job;
  job.PhotoPath = dir.File("maison.bmp");
  job.ProductPath = dir.File("produit.bmp");
  job.X1 = 100, job.Y1 = 200, job.X2 = 200, job.Y2 = 300;
  job.Proportional = false;
  job.Mention = 2;
  job.OutputPath = dir.File("composer.bmp");
  const TComposerResult r = RunComposerJob(job);
  ASSERT_EQ(r.ExitCode, 0) << r.Message;
  EXPECT_EQ(ReadBytes(dir.File("composer.bmp")), ReadBytes(dir.File("fenetre.bmp")));
}

TEST_F(ExportTest, ComposerDragSnapsAndRefusesFramesOutside) {
  TComposerJob job;
  job.PhotoPath = dir.File("maison.bmp");
  job.ProductPath = dir.File("produit.bmp");
  job.X1 = 100, job.Y1 = 200, job.X2 = 200, job.Y2 = 300;
  job.Proportional = true;  // 50 x 50 product, 100 high: 100 wide
  job.Drag = true;
  job.DragX = -500;
  job.DragY = 40;
  job.OutputPath = dir.File("drag.bmp");
  ASSERT_EQ(RunComposerJob(job).ExitCode, 0);
  TBitmap out;
  out.LoadFromFile(job.OutputPath);
  EXPECT_EQ(out.PixelColor(0, 148), clBlack);  // snapped to the left edge, moved down
  EXPECT_EQ(out.PixelColor(99, 247), clBlack);
  EXPECT_EQ(out.PixelColor(100, 148), clRed);

  job.Drag = false;
  job.Y1 = 50;  // above the photo (which starts at y = 92)
  job.OutputPath = dir.File("refus.bmp");
  const TComposerResult r = RunComposerJob(job);
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Message, txtOutside);
  EXPECT_FALSE(std::filesystem::exists(job.OutputPath));

  job.PhotoPath = dir.File("absent.bmp");
  EXPECT_EQ(RunComposerJob(job).ExitCode, 1);
}

}  // namespace
