// What is left after an operation failed: the picture stays usable. Every later operation
// either works on consistent buffers or raises a PNG error, never a crash.
#include <gtest/gtest.h>

#include <functional>

#include "png_read_test_util.h"

using namespace pngr;

namespace {

// Lowers the size budget for one test and gives the old one back whatever happens.
struct TBudget {
  explicit TBudget(uint64_t bytes) : Saved(GetImageBudget()) { SetImageBudget(bytes); }
  ~TBudget() { SetImageBudget(Saved); }
  uint64_t Saved;
};

// Runs op; a PNG error is an accepted outcome, any other exception is not.
void Tolerated(const char* what, const std::function<void()>& op) {
  try {
    op();
  } catch (const EPngError&) {
  } catch (const std::exception& e) {
    ADD_FAILURE() << what << ": " << e.what();
  }
}

// Every operation a user of the class may run on a picture after its load failed.
void UseEverything(TPngImage& image) {
  Tolerated("pixels", [&] {
    for (int y = -1; y < 3; ++y)
      for (int x = -1; x < 3; ++x) {
        (void)image.GetPixels(x, y);
        image.SetPixels(x, y, clRed);
      }
  });
  Tolerated("scan lines", [&] {
    (void)image.Scanline(0);
    (void)image.ExtraScanline(0);
    (void)image.AlphaScanline(0);
  });
  Tolerated("draw", [&] {
    TBitmap target;
    target.SetSize(9, 7);
    image.Draw(target.Canvas(), Rect(0, 0, 9, 7));
    image.Draw(target.Canvas(), Rect(8, 6, 1, 1));
  });
  Tolerated("copy", [&] {
    TPngImage copy;
    copy.Assign(image);
    (void)copy.GetPixels(0, 0);
    TBitmap target;
    target.SetSize(4, 4);
    copy.Draw(target.Canvas(), Rect(0, 0, 4, 4));
  });
  Tolerated("to bitmap", [&] {
    TBitmap bitmap;
    image.AssignTo(bitmap);
  });
  Tolerated("save", [&] {
    TMemoryStream saved;
    image.SaveToStream(saved);
    saved.SetPosition(0);
    TPngImage again;
    again.LoadFromStream(saved);
  });
  Tolerated("transparency", [&] {
    (void)image.TransparencyMode();
    (void)image.TransparentColor();
    image.SetTransparentColor(clBlue);
  });
  Tolerated("alpha", [&] { image.CreateAlpha(); });
  Tolerated("alpha removed", [&] { image.RemoveTransparency(); });
  Tolerated("resize", [&] { image.Resize(3, 2); });
  Tolerated("pixels again", [&] { (void)image.GetPixels(1, 1); });
}

Bytes IhdrData(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType) {
  Bytes d;
  Put32(d, w);
  Put32(d, h);
  d.insert(d.end(), {depth, colorType, 0, 0, 0});
  return d;
}

}  // namespace

TEST(PngFailedState, RefusedHeaderLeavesAnEmptyButUsablePicture) {
  struct Case {
    const char* name;
    Bytes file;
  };
  const Case cases[] = {
      {"too wide, depth 0", Concat({Signature(), Chunk("IHDR", IhdrData(70000, 3, 0, 0))})},
      {"bad pair", Concat({Signature(), Chunk("IHDR", IhdrData(5, 3, 0, 0))})},
      {"bad crc", Concat({Signature(), Chunk("IHDR", IhdrData(5, 3, 8, 0), true)})},
      {"short", Concat({Signature(), Chunk("IHDR", Bytes{0, 0, 0, 5})})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPngImage image;
    EXPECT_THROW(Load(image, c.file), EPngError);
    ASSERT_TRUE(image.HasHeader());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_EQ(image.Height(), 0);
    UseEverything(image);
  }
}

TEST(PngFailedState, HeaderOverTheBudgetKeepsNoSizeWithoutPixels) {
  TPngImage image;
  {
    TBudget budget(1 << 20);
    EXPECT_THROW(Load(image, Concat({Signature(), Ihdr(2000, 2000, 8, 6)})), EPNGOutMemory);
  }
  ASSERT_TRUE(image.HasHeader());
  EXPECT_EQ(image.Width(), 0);
  UseEverything(image);
}

TEST(PngFailedState, LaterFailuresKeepTheDecodedBuffers) {
  const Bytes rows = RawRows({1, 2, 3, 4, 5, 6}, 3, 2);
  const Bytes plte = Chunk("PLTE", {255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9, 1, 1, 1, 2, 2, 2, 3});
  const Bytes idat = IdatChunks(Compress(rows), 1 << 20);
  const Bytes cut(idat.begin(), idat.begin() + long(idat.size() / 2));
  const Bytes files[] = {
      Concat({Signature(), Ihdr(3, 2, 8, 3), plte}),
      Concat({Signature(), Ihdr(3, 2, 8, 0), Chunk("tRNS", Bytes(300, 1))}),
      Concat({Signature(), Ihdr(3, 2, 8, 0), cut}),
      Concat({Signature(), Ihdr(3, 2, 8, 2), idat}),  // rows too short for RGB
  };
  for (const Bytes& file : files) {
    TPngImage image;
    EXPECT_THROW(Load(image, file), EPngError);
    UseEverything(image);
  }
}

// Widening a 4-bit grey picture to 8 bits for its alpha plane needs a larger pixel buffer;
// when the budget refuses it, the picture keeps its pixels and its format.
TEST(PngFailedState, CreateAlphaIsAllOrNothing) {
  std::unique_ptr<TPngImage> image = TPngImage::CreateBlank(0, 4, 1000, 1000);
  image->SetPixels(10, 20, RGBColor(255, 255, 255));
  image->SetPixels(999, 999, RGBColor(136, 136, 136));
  {
    TBudget budget(700000);  // 4-bit rows: 500 000 bytes; 8-bit rows: 1 000 000
    EXPECT_THROW(image->CreateAlpha(), EPNGOutMemory);
  }
  TChunkIHDR& header = image->Header();
  EXPECT_EQ(header.ColorType(), 0);
  EXPECT_EQ(header.BitDepth(), 4);
  ASSERT_NE(image->Scanline(0), nullptr);
  EXPECT_EQ(image->AlphaScanline(0), nullptr);
  EXPECT_EQ(image->GetPixels(10, 20), RGBColor(255, 255, 255));
  EXPECT_EQ(image->GetPixels(999, 999), RGBColor(136, 136, 136));
  EXPECT_EQ(image->GetPixels(0, 0), RGBColor(0, 0, 0));

  image->CreateAlpha();  // with the budget back it works
  EXPECT_EQ(header.ColorType(), 4);
  EXPECT_EQ(header.BitDepth(), 8);
  EXPECT_EQ(image->GetPixels(10, 20), RGBColor(255, 255, 255));
  EXPECT_EQ(image->GetPixels(999, 999), RGBColor(136, 136, 136));
  EXPECT_EQ(image->AlphaScanline(999)[999], 255);
}
