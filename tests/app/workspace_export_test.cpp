// The notice, the composition, the export and the headless composer.
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

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

// The notice as FreeType draws it, rendered here on its own: the bold sans-serif face
// that fontconfig picks, 12 points at 96 pixels per inch = 16 pixels, the cell's top-left
// at (x, y), the baseline one ascender (rounded up) below, glyphs one after the other.
// Coverage 0..255 per pixel of a w x h area.
struct TNoticeReference {
  int Width = 0, Height = 0;
  std::vector<uint8_t> Cover;
  bool Bold = false;
  uint8_t At(int x, int y) const {
    return x < 0 || y < 0 || x >= Width || y >= Height ? 0 : Cover[size_t(y) * Width + x];
  }
};

TNoticeReference RenderNoticeReference(int w, int h, int x, int y) {
  TNoticeReference ref;
  ref.Width = w, ref.Height = h;
  ref.Cover.assign(size_t(w) * h, 0);
  FcConfig* config = FcInitLoadConfigAndFonts();
  FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:bold"));
  FcConfigSubstitute(config, pattern, FcMatchPattern);
  FcDefaultSubstitute(pattern);
  FcResult result = FcResultNoMatch;
  FcPattern* match = FcFontMatch(config, pattern, &result);
  FcChar8* file = nullptr;
  int weight = 0;
  FT_Library library = nullptr;
  FT_Face face = nullptr;
  if (match && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch &&
      FcPatternGetInteger(match, FC_WEIGHT, 0, &weight) == FcResultMatch &&
      FT_Init_FreeType(&library) == 0 &&
      FT_New_Face(library, reinterpret_cast<const char*>(file), 0, &face) == 0) {
    ref.Bold = weight >= FC_WEIGHT_BOLD;
    FT_Set_Pixel_Sizes(face, 0, 16);
    const int baseline = y + int((face->size->metrics.ascender + 63) >> 6);
    FT_Pos pen = FT_Pos(x) * 64;
    for (const char c : std::string(txtNotice)) {
      if (FT_Load_Char(face, FT_ULong(c), FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL) != 0 ||
          FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
        continue;
      const FT_Bitmap& g = face->glyph->bitmap;
      const int left = int((pen + 32) >> 6) + face->glyph->bitmap_left;
      const int top = baseline - face->glyph->bitmap_top;
      for (int gy = 0; gy < int(g.rows); ++gy)
        for (int gx = 0; gx < int(g.width); ++gx) {
          const int px = left + gx, py = top + gy;
          if (px >= 0 && py >= 0 && px < w && py < h)
            ref.Cover[size_t(py) * w + px] = g.buffer[gy * g.pitch + gx];
        }
      pen += face->glyph->advance.x;
    }
  }
  if (face) FT_Done_Face(face);
  if (library) FT_Done_FreeType(library);
  if (match) FcPatternDestroy(match);
  FcPatternDestroy(pattern);
  FcConfigDestroy(config);
  return ref;
}

// White bold 16-pixel "Photo non contractuelle" at (10, display height - 30), over the
// photo's blue quadrant: the red channel of each pixel is the glyph's coverage (white's
// red mixed into blue's 0), so the notice must match the reference pixel for pixel; a
// wrong place, size or weight moves thousands of pixels.
TEST_F(ExportTest, NoticeIsBoldSixteenPixelsAtItsPlace) {
  TBitmap before;
  before.Assign(*ws.Form.DisplayBitmap());
  ws.Form.SelectMention(1);
  TBitmap& d = *ws.Form.DisplayBitmap();
  const int top = 546 - 30;
  const TNoticeReference ref = RenderNoticeReference(d.Width(), d.Height(), 10, top);
  if (!ref.Bold) GTEST_SKIP() << "no bold sans-serif face installed";
  int ink = 0, inkTop = d.Height(), inkBottom = 0, inkLeft = d.Width(), inkRight = 0;
  for (int y = 0; y < d.Height(); ++y)
    for (int x = 0; x < d.Width(); ++x) {
      const uint8_t cover = ref.At(x, y);
      const TColor c = d.PixelColor(x, y);
      if (cover == 0) {
        ASSERT_EQ(c, before.PixelColor(x, y)) << x << "," << y;
        continue;
      }
      ASSERT_NEAR(GetRValue(c), cover, 1) << x << "," << y;
      ASSERT_NEAR(GetGValue(c), cover, 1) << x << "," << y;
      ASSERT_EQ(GetBValue(c), 255) << x << "," << y;
      ++ink;
      inkTop = std::min(inkTop, y), inkBottom = std::max(inkBottom, y);
      inkLeft = std::min(inkLeft, x), inkRight = std::max(inkRight, x);
    }
  // Worked sizes for a 16-pixel face: the tallest letters (h, l, t) stand about 12 pixels
  // above the baseline and nothing hangs below it; 23 characters are some 200 wide.
  EXPECT_GE(inkTop, top);
  EXPECT_NEAR(inkBottom - inkTop + 1, 12, 1);
  EXPECT_NEAR(inkLeft, 11, 1);
  EXPECT_GT(inkRight - inkLeft, 170);
  EXPECT_LT(inkRight - inkLeft, 240);
  EXPECT_GT(ink, 1000);

  // Black over the white, not instead of it: fully covered pixels turn black, the rest of
  // the photo stays as the white notice left it.
  TBitmap white;
  white.Assign(d);
  ws.Form.SelectMention(2);
  for (int y = top - 5; y < d.Height(); ++y)
    for (int x = 0; x < 300; ++x) {
      const uint8_t cover = ref.At(x, y);
      if (cover == 255) {
        ASSERT_EQ(d.PixelColor(x, y), clBlack) << x << "," << y;
      } else if (cover == 0) {
        ASSERT_EQ(d.PixelColor(x, y), white.PixelColor(x, y)) << x << "," << y;
      }
    }

  std::unique_ptr<TBitmap> combined = ws.Form.CombineImage();
  for (int x = 0; x < 300; ++x)
    ASSERT_EQ(combined->PixelColor(x, top + 8), d.PixelColor(x, top + 8)) << x;

  ws.Form.SelectMention(0);  // refit: the notice is gone
  for (int y = top; y < d.Height(); ++y)
    for (int x = 0; x < 300; ++x) ASSERT_EQ(d.PixelColor(x, y), clBlue);
}

// The list runs its handler on a new choice only: picking the entry already shown leaves
// the notice as it is (a second stamp would thicken its anti-aliased edges).
TEST_F(ExportTest, ChoosingTheShownNoticeAgainChangesNothing) {
  ws.Form.SelectMention(1);
  TBitmap once;
  once.Assign(*ws.Form.DisplayBitmap());
  ws.Form.SelectMention(1);
  TBitmap& d = *ws.Form.DisplayBitmap();
  for (int y = 546 - 40; y < 546; ++y)
    for (int x = 0; x < 300; ++x)
      ASSERT_EQ(d.PixelColor(x, y), once.PixelColor(x, y)) << x << "," << y;
  // "Aucune" while "Aucune" is shown does not refit either: a frame drawn meanwhile stays.
  ws.Form.SelectMention(0);
  ws.Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 300, 300);
  ws.Form.ImgPhotoMaisonMouseMove(ssLeft, 400, 400);
  TBitmap withFrame;
  withFrame.Assign(d);
  ws.Form.SelectMention(0);
  EXPECT_EQ(d.PixelColor(300, 300 - 92), withFrame.PixelColor(300, 300 - 92));
  EXPECT_NE(d.PixelColor(300, 300 - 92), clRed);
}

TEST(NoticeTest, BeforeAnyPhotoChangesNothing) {
  TWorkspace ws;
  ws.Activate();
  ws.Form.SelectMention(1);
  ws.Form.SelectMention(0);
  EXPECT_EQ(ws.Form.DisplayBitmap(), nullptr);
  EXPECT_FALSE(ws.Form.ImgPhotoMaison.Enabled);
}

// A new client photo hides the placed product: the export holds what the window shows.
TEST_F(ExportTest, HiddenProductIsNotComposed) {
  ws.ImportClient(WriteQuadrantBmp(dir, "maison2.bmp", 400, 300, clLime, clLime, clLime, clLime));
  ASSERT_FALSE(ws.Form.ImgProduit.Visible);
  ASSERT_TRUE(ws.Form.btnExportImage.Enabled);
  std::unique_ptr<TBitmap> combined = ws.Form.CombineImage();
  // The old product's rectangle, window (100, 200)-(200, 300), is display (-64, -15)-
  // (36, 85) on the new 400 x 300 photo: nothing of it shows.
  for (auto [x, y] : {std::pair{0, 0}, std::pair{35, 84}, std::pair{36, 85}})
    EXPECT_EQ(combined->PixelColor(x, y), clLime) << x << "," << y;
}

// The notice list always names what the photo shows. Clearing the product (mode change,
// red button, resize) resets the list to "Aucune": the notice goes too. A new client photo
// keeps the list's choice: the notice is stamped on the new photo.
TEST_F(ExportTest, TheNoticeListSaysWhatThePhotoShows) {
  auto noticePixels = [this] {  // the notice's corner of the photo is the blue quadrant
    TBitmap& d = *ws.Form.DisplayBitmap();
    int count = 0;
    for (int y = d.Height() - 40; y < d.Height(); ++y)
      for (int x = 0; x < 300; ++x) count += d.PixelColor(x, y) != clBlue;
    return count;
  };
  const std::vector<std::function<void()>> clears = {[this] { ws.Form.btnProporClick(); },
                                                     [this] { ws.Form.btnEffProduitClick(); },
                                                     [this] { ws.Form.SetClientSize(1100, 760); }};
  for (size_t i = 0; i < clears.size(); ++i) {
    ws.Frame(100, 200, 200, 300);
    ws.Form.SelectMention(1);
    ASSERT_GT(noticePixels(), 0) << i;
    clears[i]();
    EXPECT_EQ(ws.Form.cbMention.ItemIndex, 0) << i;
    EXPECT_EQ(noticePixels(), 0) << i;
  }

  ws.Frame(100, 200, 200, 300);
  ws.Form.SelectMention(2);
  const std::string house = WriteQuadrantBmp(dir, "maison2.bmp", 400, 300, clLime, clLime);
  ws.ImportClient(house);
  EXPECT_EQ(ws.Form.cbMention.ItemIndex, 2);
  TWorkspace chosen;  // the same photo with the notice chosen on it
  chosen.Activate();
  chosen.Form.SetClientSize(1100, 760);
  chosen.ImportClient(house);
  chosen.Form.SelectMention(2);
  TBitmap& a = *ws.Form.DisplayBitmap();
  TBitmap& b = *chosen.Form.DisplayBitmap();
  ASSERT_EQ(a.Width(), b.Width());
  for (int y = 0; y < a.Height(); ++y)
    ASSERT_EQ(0, memcmp(a.GetScanline(y), b.GetScanline(y), size_t(3 * a.Width()))) << y;
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
