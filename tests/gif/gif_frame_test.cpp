// Frames and the picture: bounds, pixels, drawing with transparency, the composite
// bitmap, Crop and Merge, settings, registration and saving read back by giflib.
#include <gif_lib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "gif_unit_util.h"
#include "testdata.h"

using namespace giftest;

namespace {

// A 4-colour image of the given screen with one frame of the given rectangle, filled
// with `fill`, transparent index `t` (-1: opaque).
TGIFFrame* MakeFrame(TGIFImage& image, int l, int top, int w, int h, uint8_t fill, int t = -1) {
  if (image.GlobalColorMap().Count() == 0)
    for (TColor c : {clBlack, clRed, clLime, clBlue}) image.GlobalColorMap().Add(c);
  TGIFFrame* f = TGIFFrame::Create(&image);
  f->ApplyBounds(l, top, w, h);
  if (t >= 0) f->AddTransparency(t);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) f->Scanline(y)[x] = fill;
  return f;
}

}  // namespace

TEST(GifFrame, BoundsGrowTheScreenWithAWarning) {
  TGIFImage image;
  TCollected warnings;
  image.OnWarning = warnings.Handler();
  TGIFFrame* f = MakeFrame(image, 0, 0, 10, 10, 1);
  EXPECT_TRUE(warnings.Messages.empty());  // a screen of size 0 grows silently
  EXPECT_EQ(image.Width(), 10);
  f->SetWidth(12);
  EXPECT_EQ(image.Width(), 12);
  EXPECT_TRUE(warnings.Has("L'image excède la taille d'écran logique"));
  EXPECT_EQ(FramePixels(*f), Bytes(120, 0));  // reallocated and filled
  TRect r = f->BoundsRect();
  f->SetBoundsRect(r);
  EXPECT_EQ(f->BoundsRect(), r);
  EXPECT_THROW(f->SetLeft(65530), GIFException);
}

TEST(GifFrame, PixelAccessChecks) {
  TGIFImage image;
  TGIFFrame* f = MakeFrame(image, 0, 0, 3, 2, 1);
  EXPECT_EQ(f->Pixels(2, 1), 1);
  try {
    f->Pixels(3, 0);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Coordonnées pixel incorrectes");
  }
  try {
    f->SetPixels(0, 0, 4);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Couleur absente dans la table des couleurs");
  }
  f->SetPixels(0, 0, 3);
  EXPECT_EQ(f->Pixels(0, 0), 3);
}

TEST(GifFrame, ScaleRectMapsTheFrameIntoTheTarget) {
  TGIFImage image;
  MakeFrame(image, 0, 0, 20, 20, 0);
  TGIFFrame* f = MakeFrame(image, 5, 5, 10, 10, 1);
  EXPECT_EQ(f->ScaleRect(Rect(0, 0, 40, 40)), Rect(10, 10, 30, 30));
}

TEST(GifFrame, TransparentPixelsLeaveTheTarget) {
  TGIFImage image;
  TGIFFrame* f = MakeFrame(image, 0, 0, 4, 4, 1, 0);
  f->SetPixels(1, 1, 0);
  TBitmap target;
  target.SetSize(4, 4);
  target.Canvas().Brush.Color = clWhite;
  target.Canvas().FillRect(Rect(0, 0, 4, 4));
  image.Draw(target.Canvas(), Rect(0, 0, 4, 4));
  EXPECT_EQ(target.PixelColor(1, 1), clWhite);
  EXPECT_EQ(target.PixelColor(2, 2), clRed);
  // Drawn opaque, the picture first fills with its background: the global table's entry
  // for the header's background index 0, black.
  image.SetTransparent(false);
  image.Draw(target.Canvas(), Rect(0, 0, 4, 4));
  EXPECT_EQ(target.PixelColor(1, 1), clBlack);
}

TEST(GifFrame, OpaqueDrawWithoutGlobalTableUsesWindowColour) {
  TGIFImage image;
  TGIFFrame* f = TGIFFrame::Create(&image);
  for (TColor c : {clRed, clLime}) f->ColorMap().Add(c);
  f->ApplyBounds(0, 0, 2, 1);
  f->AddTransparency(1);
  f->Scanline(0)[0] = 0;
  f->Scanline(0)[1] = 1;
  EXPECT_EQ(image.EffectiveBackgroundColor(), clWindow);
  image.SetTransparent(false);
  TBitmap target;
  target.SetSize(2, 1);
  target.Canvas().Brush.Color = clBlue;
  target.Canvas().FillRect(Rect(0, 0, 2, 1));
  image.Draw(target.Canvas(), Rect(0, 0, 2, 1));
  EXPECT_EQ(target.PixelColor(0, 0), clRed);
  // Without its mask the transparent pixel shows its own colour.
  EXPECT_EQ(target.PixelColor(1, 0), clLime);
}

TEST(GifFrame, FrameWithoutTransparentPixelsDrawsOpaque) {
  TGIFImage image;
  TGIFFrame* f = MakeFrame(image, 0, 0, 2, 2, 2, 3);
  EXPECT_FALSE(f->HasMask());
  TBitmap target;
  target.SetSize(2, 2);
  f->Draw(target.Canvas(), Rect(0, 0, 2, 2), true, false);
  EXPECT_EQ(target.PixelColor(0, 0), clLime);
}

TEST(GifFrame, BitmapOfSmallFrameHasScreenSize) {
  TGIFImage image;
  MakeFrame(image, 0, 0, 8, 6, 0);  // sizes the screen
  image.Images().Delete(0);
  MakeFrame(image, 2, 3, 4, 2, 1);
  TBitmap* b = image.Bitmap();
  ASSERT_TRUE(b);
  EXPECT_EQ(b->Width(), 8);
  EXPECT_EQ(b->Height(), 6);
  EXPECT_EQ(b->PixelColor(2, 3), clRed);
  EXPECT_EQ(b->PixelColor(5, 4), clRed);
  // Converting to a bitmap gives the same composite.
  TBitmap copy;
  copy.Assign(image);
  EXPECT_EQ(copy.Width(), 8);
  EXPECT_EQ(copy.PixelColor(3, 4), clRed);
}

TEST(GifFrame, CropRemovesTransparentBorders) {
  TGIFImage image;
  TGIFFrame* f = MakeFrame(image, 3, 4, 100, 100, 0, 0);
  for (int y = 30; y < 40; ++y)
    for (int x = 10; x < 20; ++x) f->Scanline(y)[x] = 2;
  f->Crop();
  EXPECT_EQ(f->BoundsRect(), Rect(13, 34, 23, 44));
  EXPECT_EQ(FramePixels(*f), Bytes(100, 2));
}

TEST(GifFrame, CropOfFullyTransparentSingleFrame) {
  TGIFImage image;
  TGIFFrame* f = MakeFrame(image, 5, 5, 10, 10, 3, 3);
  f->Crop();
  EXPECT_EQ(f->BoundsRect(), Rect(0, 0, 1, 1));
  EXPECT_EQ(FramePixels(*f), Bytes{3});
}

TEST(GifFrame, MergeTurnsRepeatedPixelsTransparent) {
  TGIFImage image;
  TGIFFrame* a = MakeFrame(image, 0, 0, 4, 1, 1);
  TGIFFrame* b = MakeFrame(image, 0, 0, 4, 1, 1);
  b->SetPixels(2, 0, 2);
  b->Merge(a);
  ASSERT_TRUE(b->Transparent());
  uint8_t t = b->GraphicControlExtension()->TransparentColorIndex();
  EXPECT_EQ(FramePixels(*b), (Bytes{t, t, 2, t}));
  // After a frame whose disposal restores the background nothing merges.
  TGIFImage other;
  TGIFFrame* c = MakeFrame(other, 0, 0, 4, 1, 1, 3);
  c->GraphicControlExtension()->SetDisposal(dmBackground);
  TGIFFrame* d = MakeFrame(other, 0, 0, 4, 1, 1);
  d->Merge(c);
  EXPECT_FALSE(d->Transparent());
  EXPECT_EQ(FramePixels(*d), Bytes(4, 1));
}

TEST(GifImage, SettersClampAndValidate) {
  TGIFImage image;
  image.SetAnimationSpeed(5000);
  EXPECT_EQ(image.AnimationSpeed(), 1000);
  image.SetAnimationSpeed(-1);
  EXPECT_EQ(image.AnimationSpeed(), 0);
  EXPECT_THROW(image.SetReductionBits(2), GIFException);
  MakeFrame(image, 30, 0, 10, 5, 1);
  image.SetWidth(10);
  EXPECT_EQ(image.Width(), 40);
}

TEST(GifImage, AssignKeepsReductionBitsAndClearsOnWarning) {
  TGIFImage source;
  MakeFrame(source, 0, 0, 3, 3, 2, 1);
  source.SetReductionBits(4);
  TGIFImage target;
  target.SetReductionBits(6);
  TCollected warnings;
  target.OnWarning = warnings.Handler();
  int changes = 0;
  target.OnChange = [&](TGraphic&) { ++changes; };
  target.Assign(source);
  EXPECT_EQ(changes, 2);  // the frame added, then the whole copy
  EXPECT_EQ(target.ReductionBits(), 6);
  EXPECT_FALSE(target.OnWarning);
  ASSERT_EQ(target.Images().Count(), 1);
  EXPECT_EQ(FramePixels(*target.Images().Frames(0)), Bytes(9, 2));
  EXPECT_TRUE(target.Images().Frames(0)->Transparent());
}

// As component data the picture is its GIF file, optimized first only when asked.
TEST(GifImage, ComponentDataIsTheFileOptimizedOnRequest) {
  TGIFImage image;
  TGIFFrame* frame = MakeFrame(image, 0, 0, 3, 2, 1);
  TGIFExtension::Create(ExtensionClassOf<TGIFCommentExtension>(), frame);
  auto bytes = [](TMemoryStream& s) { return Bytes(s.Memory(), s.Memory() + s.Size()); };
  TMemoryStream saved, plain, optimized;
  image.SaveToStream(saved);
  image.WriteData(plain);
  EXPECT_EQ(bytes(plain), bytes(saved));
  OptimizeOnStream = true;
  image.WriteData(optimized);
  OptimizeOnStream = false;
  TGIFImage expected;
  saved.SetPosition(0);
  expected.LoadFromStream(saved);
  expected.Optimize(ooAll);
  TMemoryStream want;
  expected.SaveToStream(want);
  EXPECT_EQ(bytes(optimized), bytes(want));
  EXPECT_LT(optimized.Size(), saved.Size());  // the comment is gone
  TGIFImage back;
  optimized.SetPosition(0);
  back.ReadData(optimized);
  EXPECT_EQ(back.Images().Frames(0)->Extensions().Count(), 0);
}

TEST(GifImage, SavingEmptyFails) {
  TGIFImage image;
  TMemoryStream s;
  try {
    image.SaveToStream(s);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Impossible d'enregistrer un GIF vide");
  }
}

TEST(GifImage, SavedFileReadsBackInGiflib) {
  TGIFImage image;
  TGIFFrame* f = MakeFrame(image, 0, 0, 37, 23, 1, 0);
  for (int y = 0; y < 23; ++y)
    for (int x = 0; x < 37; ++x) f->Scanline(y)[x] = uint8_t((x * y + x) % 4);
  std::string path = ::testing::TempDir() + "/vitrelle_saved.gif";
  image.SaveToFile(path);
  int error = 0;
  GifFileType* g = DGifOpenFileName(path.c_str(), &error);
  ASSERT_TRUE(g);
  ASSERT_EQ(DGifSlurp(g), GIF_OK);
  ASSERT_EQ(g->ImageCount, 1);
  Bytes theirs(g->SavedImages[0].RasterBits, g->SavedImages[0].RasterBits + 37 * 23);
  EXPECT_EQ(theirs, FramePixels(*f));
  GraphicsControlBlock gcb;
  DGifSavedExtensionToGCB(g, 0, &gcb);
  EXPECT_EQ(gcb.TransparentColor, 0);
  DGifCloseFile(g, &error);
  std::remove(path.c_str());
}

TEST(GifImage, RegisteredForGifFilesAndClipboard) {
  RegisterGifImage();
  EXPECT_EQ(TPicture::FindFileFormat("gif"), &ClassOf<TGIFImage>());
  EXPECT_EQ(ClipboardFormatName(GIFClipboardFormat), "Image GIF");
  EXPECT_EQ(TPicture::FindClipboardFormat(GIFClipboardFormat), &ClassOf<TGIFImage>());
  TGIFImage image;
  MakeFrame(image, 0, 0, 2, 2, 3);
  TClipboardFormat format = 0;
  TClipboardData data;
  std::unique_ptr<TPalette> palette;
  image.SaveToClipboardFormat(format, data, palette);
  EXPECT_EQ(format, GIFClipboardFormat);
  TGIFImage back;
  back.LoadFromClipboardFormat(format, data, nullptr);
  EXPECT_EQ(FramePixels(*back.Images().Frames(0)), Bytes(4, 3));
  UnregisterGifImage();
  EXPECT_EQ(TPicture::FindFileFormat("gif"), nullptr);
}

TEST(GifFrame, ImportOfTrueColourBitmapKeepsFirstAppearanceOrder) {
  TGIFImage image;
  image.SetColorReduction(rmNone);
  TBitmap source;
  source.SetPixelFormat(pf24bit);
  source.SetSize(4, 1);
  source.SetPixelColor(0, 0, clBlue);
  source.SetPixelColor(1, 0, clRed);
  source.SetPixelColor(2, 0, clLime);
  source.SetPixelColor(3, 0, clBlue);
  TGIFFrame* f = image.Add(source);
  ASSERT_EQ(f->ColorMap().Count(), 3);
  EXPECT_EQ(f->ColorMap().GetColor(0), clBlue);
  EXPECT_EQ(f->ColorMap().GetColor(1), clRed);
  EXPECT_EQ(f->ColorMap().GetColor(2), clLime);
  EXPECT_EQ(FramePixels(*f), (Bytes{0, 1, 2, 0}));
}

TEST(GifFrame, ImportOfIndexedBitmaps) {
  for (TPixelFormat format : {pf1bit, pf4bit, pf8bit}) {
    TBitmap source;
    source.SetPixelFormat(format);
    source.SetColorTable({{0, 0, 0, 0}, {255, 255, 255, 0}});
    source.SetSize(9, 2);
    source.SetPixelColor(3, 1, clWhite);
    source.SetPixelColor(8, 0, clWhite);
    TGIFImage image;
    TGIFFrame* f = image.Add(source);
    EXPECT_EQ(f->ColorMap().Count(), 2);  // the colour table the bitmap holds
    EXPECT_EQ(f->Pixels(3, 1), 1) << format;
    EXPECT_EQ(f->Pixels(8, 0), 1) << format;
    EXPECT_EQ(f->Pixels(0, 0), 0) << format;
  }
}

TEST(GifFrame, TilingRepeatsTheFrameOneScreenApart) {
  TGIFImage image;
  MakeFrame(image, 0, 0, 20, 20, 0);
  image.Images().Delete(0);
  TGIFFrame* f = MakeFrame(image, 0, 0, 4, 4, 1);  // a 4x4 red frame on a 20x20 screen
  TBitmap target;
  target.SetSize(50, 30);
  target.Canvas().Brush.Color = clWhite;
  target.Canvas().FillRect(Rect(0, 0, 50, 30));
  f->Draw(target.Canvas(), Rect(0, 0, 50, 30), false, true);
  int tiles = 0;
  for (int x = 0; x < 50; x += 20)
    for (int y = 0; y < 30; y += 20) tiles += target.PixelColor(x, y) == clRed;
  EXPECT_EQ(tiles, 6);  // 3 columns x 2 rows
  EXPECT_EQ(target.PixelColor(4, 0), clWhite);
  EXPECT_EQ(target.PixelColor(43, 23), clRed);
}

namespace {

// Draws the picture into w x h over blue and over lime: whether the two agree everywhere
// (nothing of the target shows and the draw did not fail), the first kept in `drawn`.
bool DrawCovers(TGraphic& picture, int w, int h, TBitmap& drawn) {
  TBitmap other;
  for (TBitmap* b : {&drawn, &other}) {
    b->SetPixelFormat(pf24bit);
    b->SetSize(w, h);
    FillPixels(b->View(), Rect(0, 0, w, h), b == &drawn ? clBlue : clLime);
    try {
      picture.Draw(b->Canvas(), Rect(0, 0, w, h));
    } catch (const Exception&) {
      return false;
    }
  }
  for (int y = 0; y < h; ++y)
    if (std::memcmp(drawn.GetScanline(y), other.GetScanline(y), size_t(w) * 3) != 0) return false;
  return true;
}

// OpaquePixels answers true exactly when drawing covers the target, at the picture's size
// and stretched, and its view (asked before the first draw and after it) holds the drawn
// colours. `exact` false: only true must be right (a dithered draw covers too).
void ExpectOpaquePixelsExactly(TGIFImage& image, const std::string& what, bool exact = true) {
  TPixelView before, after;
  const bool opaque = image.OpaquePixels(before);
  TBitmap drawn, stretched;
  const int w = image.Width(), h = image.Height();
  const bool covers = w > 0 && h > 0 && DrawCovers(image, w, h, drawn) &&
                      DrawCovers(image, 2 * w + 1, h / 2 + 1, stretched);
  if (exact || opaque) {
    ASSERT_EQ(opaque, covers) << what;
  }
  if (!opaque) return;
  ASSERT_TRUE(image.OpaquePixels(after)) << what;
  for (const TPixelView& view : {before, after})
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(view.PixelColor(x, y) & 0xFFFFFF, drawn.PixelColor(x, y))
            << what << " " << x << "," << y;
}

}  // namespace

TEST(GifImage, OpaquePixelsExactlyWhenFrameZeroCoversTheTarget) {
  {
    TGIFImage image;
    TPixelView view;
    EXPECT_FALSE(image.OpaquePixels(view));
    TGIFFrame* f = MakeFrame(image, 0, 0, 4, 4, 2, 3);
    ExpectOpaquePixelsExactly(image, "transparent index unused");
    f->SetPixels(1, 1, 3);
    ExpectOpaquePixelsExactly(image, "transparent pixel");
    image.SetTransparent(false);
    ExpectOpaquePixelsExactly(image, "drawn without its mask");
    f->Scanline(2)[2] = 9;
    ExpectOpaquePixelsExactly(image, "index past the colour table");
    image.SetDithering(gdEnabled);
    ExpectOpaquePixelsExactly(image, "dithered", false);
  }
  {
    TGIFImage image;
    MakeFrame(image, 1, 0, 3, 4, 2);
    ExpectOpaquePixelsExactly(image, "frame beside the screen's edge");
  }
  {
    TGIFImage image;
    TGIFFrame::Create(&image)->ApplyBounds(0, 0, 2, 2);
    ExpectOpaquePixelsExactly(image, "no colour table");
  }
  {
    // The frame keeps the imported bitmap, whose index 5 lies past its table.
    TBitmap source;
    source.SetPixelFormat(pf8bit);
    source.SetColorTable({{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}});
    source.SetSize(3, 2);
    source.GetScanline(1)[1] = 5;
    TGIFImage image;
    image.Add(source);
    ExpectOpaquePixelsExactly(image, "imported bitmap");
  }
  const std::string source = VITRELLE_SOURCE_DIR;
  for (const std::string& dir :
       {vitrelle_test::TestDataPath("gif"), vitrelle_test::TestDataPath("gif/bad"),
        source + "/fuzz/seeds/fuzz_gif", source + "/fuzz/crashers/fuzz_gif"}) {
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
      if (!e.is_regular_file()) continue;
      TGIFImage image;
      image.OnWarning = [](const void*, TGIFSeverity, const std::string&) {};
      try {
        image.LoadFromFile(e.path().string());
      } catch (const Exception&) {
        continue;
      }
      if (int64_t(image.Width()) * image.Height() > 4000000) continue;
      ExpectOpaquePixelsExactly(image, e.path().filename().string());
    }
  }
}
