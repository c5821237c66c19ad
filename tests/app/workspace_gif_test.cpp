// GIF pictures in the workspace: a GIF client photo is fitted like any other photo, and a
// GIF product with transparent pixels composes over the photo, in the window and in the
// exported file alike. The GIFs are written by giflib (test-only).
#include <fstream>

#include "codecs.h"
#include "gif_builder.h"
#include "workspace_support.h"

namespace {

using gif_build::TRgb;

void WriteBytes(const std::string& path, const gif_build::TBytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

TRgb Rgb(TColor c) {
  return TRgb{GetRValue(c), GetGValue(c), GetBValue(c)};
}

// The same quadrants as WriteQuadrantBmp, as a GIF (interlaced when asked).
std::string WriteQuadrantGif(const TTempDir& dir, const std::string& name, int w, int h,
                             bool interlaced = false) {
  gif_build::TGiflibPicture p;
  p.Width = w, p.Height = h;
  p.GlobalMap = {Rgb(clRed), Rgb(clLime), Rgb(clBlue), Rgb(clWhite)};
  gif_build::TGiflibFrame f;
  f.Width = w, f.Height = h, f.Interlaced = interlaced;
  f.Pixels.resize(size_t(w) * size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      f.Pixels[size_t(y) * size_t(w) + size_t(x)] = uint8_t((y >= h / 2) * 2 + (x >= w / 2));
  p.Frames.push_back(f);
  const std::string path = dir.File(name);
  WriteBytes(path, gif_build::EncodeWithGiflib(p));
  return path;
}

class GifWorkspaceTest : public ::testing::Test {
 protected:
  TCodecRegistration codecs;
  TTempDir dir;
};

TEST_F(GifWorkspaceTest, GifPhotoFitsLikeTheSameBmpPhoto) {
  struct Size {
    int W, H;
    bool Interlaced;
  };
  for (const Size s : {Size{1600, 1200, false}, Size{400, 300, true}, Size{1000, 2000, false}}) {
    SCOPED_TRACE(std::to_string(s.W) + "x" + std::to_string(s.H));
    TWorkspace bmp, gif;
    bmp.Activate();
    gif.Activate();
    bmp.ImportClient(WriteQuadrantBmp(dir, "photo.bmp", s.W, s.H));
    gif.ImportClient(WriteQuadrantGif(dir, "photo.gif", s.W, s.H, s.Interlaced));
    EXPECT_TRUE(gif.Host.Messages.empty()) << gif.Host.Messages.front();
    ASSERT_TRUE(gif.Form.ImgPhotoMaison.Enabled);
    TBitmap* a = bmp.Form.DisplayBitmap();
    TBitmap* b = gif.Form.DisplayBitmap();
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->Width(), a->Width());
    ASSERT_EQ(b->Height(), a->Height());
    EXPECT_EQ(gif.Form.photoOffsetX, bmp.Form.photoOffsetX);
    EXPECT_EQ(gif.Form.photoOffsetY, bmp.Form.photoOffsetY);
    EXPECT_EQ(gif.Form.photoRight, bmp.Form.photoRight);
    EXPECT_EQ(gif.Form.photoBottom, bmp.Form.photoBottom);
    int differ = 0;
    for (int y = 0; y < a->Height(); ++y)
      for (int x = 0; x < a->Width(); ++x) differ += a->PixelColor(x, y) != b->PixelColor(x, y);
    EXPECT_EQ(differ, 0);
  }
}

// A 50 x 50 product: black on the right half, transparent on the left half, with a
// transparent colour (magenta) that must never show.
std::string WriteHalfTransparentProduct(const TTempDir& dir) {
  gif_build::TGiflibPicture p;
  p.Width = 50, p.Height = 50;
  p.GlobalMap = {Rgb(clBlack), TRgb{255, 0, 255}};
  gif_build::TGiflibFrame f;
  f.Width = 50, f.Height = 50, f.Transparent = 1;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 50; ++x) f.Pixels.push_back(x < 25 ? 1 : 0);
  p.Frames.push_back(f);
  const std::string path = dir.File("produit.gif");
  WriteBytes(path, gif_build::EncodeWithGiflib(p));
  return path;
}

// 1600 x 1200 photo (display 728 x 546 at 0, 92); product framed in custom mode at window
// (100, 200)-(200, 300), display (100, 108)-(200, 208): its left half shows the photo.
class GifProductTest : public GifWorkspaceTest {
 protected:
  void SetUp() override {
    ws.Activate(WriteHalfTransparentProduct(dir));
    ws.ImportClient(WriteQuadrantBmp(dir, "maison.bmp", 1600, 1200));
    ws.Form.btnPersoClick();
    ws.Frame(100, 200, 200, 300);
    ASSERT_TRUE(ws.Form.btnExportImage.Enabled);
    ASSERT_NE(ws.Form.ImgProduit.Picture.Graphic(), nullptr);
    ASSERT_EQ(ws.Form.ImgProduit.Picture.Graphic()->ClassName(), "TGIFImage");
  }
  TWorkspace ws;
};

TEST_F(GifProductTest, TransparentPixelsShowThePhotoInTheComposition) {
  std::unique_ptr<TBitmap> combined = ws.Form.CombineImage();
  ASSERT_EQ(combined->Width(), 728);
  for (int y = 108; y < 208; y += 9) {
    EXPECT_EQ(combined->PixelColor(100, y), clRed) << y;
    EXPECT_EQ(combined->PixelColor(149, y), clRed) << y;
    EXPECT_EQ(combined->PixelColor(150, y), clBlack) << y;
    EXPECT_EQ(combined->PixelColor(199, y), clBlack) << y;
    EXPECT_EQ(combined->PixelColor(200, y), clRed) << y;
  }
}

// The window's look (photo control rendering with the product control's rendering at its
// place) is what the exported PNG holds, pixel for pixel over the photo.
TEST_F(GifProductTest, ExportHoldsWhatTheWindowShows) {
  TBitmap photo, product;
  RenderImageControl(ws.Form.ImgPhotoMaison, photo, ws.Form.Color);
  RenderProductOverPhoto(ws.Form.ImgProduit, photo, product);
  TBitmap window;
  window.Assign(photo);
  BitBlt(window.View(), ws.Form.ImgProduit.Left, ws.Form.ImgProduit.Top, product.View(),
         Rect(0, 0, product.Width(), product.Height()));

  ws.Host.NextSave = dir.File("maquette.png");
  ws.Host.NextSaveFilter = 1;
  ws.Form.btnExportImageClick();
  TPicture exported;
  exported.LoadFromFile(dir.File("maquette.png"));
  TBitmap file;
  file.Assign(*exported.Graphic());
  ASSERT_EQ(file.Width(), 728);
  ASSERT_EQ(file.Height(), 546);
  int differ = 0;
  for (int y = 0; y < file.Height(); ++y)
    for (int x = 0; x < file.Width(); ++x)
      differ += file.PixelColor(x, y) !=
                window.PixelColor(x + ws.Form.photoOffsetX, y + ws.Form.photoOffsetY);
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(file.PixelColor(120, 150), clRed);
  EXPECT_EQ(file.PixelColor(180, 150), clBlack);
}

// The headless composer reads GIF photos and products like the window does.
TEST_F(GifWorkspaceTest, ComposerWritesWhatTheWindowWritesWithGifPictures) {
  const std::string product = WriteHalfTransparentProduct(dir);
  const std::string photo = WriteQuadrantGif(dir, "maison.gif", 1600, 1200, true);
  TWorkspace ws;
  ws.Activate(product);
  ws.ImportClient(photo);
  ASSERT_TRUE(ws.Host.Messages.empty());
  ws.Form.btnPersoClick();
  ws.Frame(100, 200, 200, 300);
  ws.Host.NextSave = dir.File("fenetre.bmp");
  ws.Host.NextSaveFilter = 4;
  ws.Form.btnExportImageClick();

  TComposerJob job;
  job.PhotoPath = photo;
  job.ProductPath = product;
  job.X1 = 100, job.Y1 = 200, job.X2 = 200, job.Y2 = 300;
  job.Proportional = false;
  job.OutputPath = dir.File("composer.bmp");
  const TComposerResult r = RunComposerJob(job);
  ASSERT_EQ(r.ExitCode, 0) << r.Message;
  TBitmap window, composer;
  window.LoadFromFile(dir.File("fenetre.bmp"));
  composer.LoadFromFile(job.OutputPath);
  ASSERT_EQ(composer.Width(), window.Width());
  ASSERT_EQ(composer.Height(), window.Height());
  int differ = 0;
  for (int y = 0; y < window.Height(); ++y)
    for (int x = 0; x < window.Width(); ++x)
      differ += window.PixelColor(x, y) != composer.PixelColor(x, y);
  EXPECT_EQ(differ, 0);
  EXPECT_EQ(composer.PixelColor(120, 150), clRed);
  EXPECT_EQ(composer.PixelColor(180, 150), clBlack);
}

}  // namespace
