// The picture object: sharing, equality, the stored form, palettes, clipboard,
// registration.
#include "jpeg_test_util.h"

namespace {

TEST(JpegImage, AssignSharesTheDataUntilOneChanges) {
  const Bytes file = MakeJpeg(48, 32);
  TJPEGImage a, b;
  LoadBytes(a, file);
  a.DIBNeeded();
  b.Assign(a);
  EXPECT_EQ(&a.JPEGData(), &b.JPEGData());
  EXPECT_TRUE(a.Equals(b));
  EXPECT_EQ(b.Width(), 48);
  EXPECT_TRUE(PackedRows(*a.Bitmap()) == PackedRows(*b.Bitmap()));

  // Bitmap-only images compare equal only when they share data.
  TJPEGImage c, d;
  c.Assign(*a.Bitmap());
  d.Assign(c);
  EXPECT_TRUE(c.Equals(d));
  // Compressing one must not change the data the other holds.
  c.Compress();
  EXPECT_NE(&c.JPEGData(), &d.JPEGData());
  EXPECT_TRUE(d.JPEGData().Data() == nullptr);

  LoadBytes(b, MakeJpeg(20, 20));
  EXPECT_FALSE(a.Equals(b));
  EXPECT_EQ(a.Width(), 48);
  TBitmap plain;
  EXPECT_FALSE(a.Equals(plain));
}

TEST(JpegImage, AssignFromUndecodedImageDropsTheOldPicture) {
  TJPEGImage a, b;
  LoadBytes(a, MakeJpeg(30, 30));
  LoadBytes(b, MakeJpeg(10, 12));
  b.DIBNeeded();
  b.Assign(a);
  EXPECT_EQ(b.Bitmap()->Width(), 30);

  TBitmap out;
  a.AssignTo(out);
  EXPECT_EQ(out.Width(), 30);
  EXPECT_EQ(out.PixelFormat(), pf24bit);
}

TEST(JpegImage, StoredFormRoundTripsAndRefusesDamagedLengths) {
  const Bytes file = MakeJpeg(25, 15);
  TJPEGImage image;
  LoadBytes(image, file);
  TMemoryStream stored;
  image.WriteData(stored);
  EXPECT_EQ(stored.Size(), int64_t(file.size() + 4));
  stored.SetPosition(0);
  TJPEGImage copy;
  copy.ReadData(stored);
  EXPECT_TRUE(copy.Equals(image));
  EXPECT_EQ(copy.Height(), 15);

  const uint8_t huge[] = {0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xD8};
  TReadOnlyMemoryStream bad(huge, sizeof huge);
  EXPECT_THROW(copy.ReadData(bad), EReadError);

  TJPEGImage empty;
  TMemoryStream zero;
  empty.WriteData(zero);
  EXPECT_EQ(zero.Size(), 4);
}

// Two pictures loaded from empty files both hold empty data: they compare equal (the
// comparison of two empty streams has no bytes to look at).
TEST(JpegImage, PicturesOfEmptyFilesCompareEqual) {
  TJPEGImage a, b;
  LoadBytes(a, {});
  LoadBytes(b, {});
  ASSERT_FALSE(a.Empty());
  EXPECT_TRUE(a.Equals(b));
  LoadBytes(b, MakeJpeg(8, 8));
  EXPECT_FALSE(a.Equals(b));
}

TEST(JpegImage, SizeCannotBeSet) {
  TJPEGImage image;
  for (bool width : {true, false}) {
    try {
      width ? image.SetWidth(10) : image.SetHeight(10);
      ADD_FAILURE() << "setting the " << (width ? "width" : "height") << " was accepted";
    } catch (const EInvalidGraphicOperation& e) {
      EXPECT_EQ(e.Message(), "Impossible de modifier la taille d'une image JPEG");
    }
  }
}

TEST(JpegImage, OutsidePaletteIsUsedForPaletteOutput) {
  const Bytes file = MakeJpeg(32, 32);
  TJPEGImage image;
  LoadBytes(image, file);
  EXPECT_EQ(image.Palette(), nullptr);  // true-colour screen: no halftone palette
  image.SetPixelFormat(jf8Bit);
  TPalette twoColours({TPaletteEntry{0, 0, 0, 0}, TPaletteEntry{255, 255, 255, 0}});
  image.SetPalette(&twoColours);
  TBitmap* bitmap = image.Bitmap();
  ASSERT_EQ(bitmap->BitCount(), 8);
  EXPECT_EQ(bitmap->ColorTable().size(), 2u);
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) ASSERT_LT(bitmap->GetScanline(y)[x], 2);
  // Back to true colour: the outside palette is given up.
  image.SetPixelFormat(jf24Bit);
  EXPECT_EQ(image.Bitmap()->BitCount(), 24);
  EXPECT_EQ(image.Palette(), nullptr);
}

TEST(JpegImage, ClipboardPasteReplacesThePicture) {
  TJPEGImage source;
  LoadBytes(source, MakeJpeg(12, 8));
  TClipboardFormat format = 0;
  TClipboardData data;
  std::unique_ptr<TPalette> palette;
  source.SaveToClipboardFormat(format, data, palette);

  TJPEGImage target;
  LoadBytes(target, MakeJpeg(50, 50));
  target.LoadFromClipboardFormat(format, data, nullptr);
  EXPECT_EQ(target.Width(), 12);
  TJPEGImage saved;
  LoadBytes(saved, SaveBytes(target));  // the pasted picture, not the old bytes
  EXPECT_EQ(saved.Width(), 12);
}

TEST(JpegImage, RegistersBothExtensions) {
  RegisterJpegImage();
  ASSERT_EQ(TPicture::FindFileFormat("jpg"), &ClassOf<TJPEGImage>());
  EXPECT_EQ(TPicture::FindFileFormat(".JPEG"), &ClassOf<TJPEGImage>());
  int seen = 0;
  for (const auto& f : TPicture::FileFormats())
    if (f.GraphicClass == &ClassOf<TJPEGImage>()) {
      EXPECT_EQ(f.Description, "Fichier image JPEG");
      // The registry lists the newest first: "jpeg" was registered before "jpg".
      EXPECT_EQ(f.Extension, seen++ == 0 ? "jpg" : "jpeg");
    }
  EXPECT_EQ(seen, 2);
  UnregisterJpegImage();
  EXPECT_EQ(TPicture::FindFileFormat("jpg"), nullptr);
}

}  // namespace
