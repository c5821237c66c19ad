// The chunk list: load-loop errors and the partial lists they leave, the placement rules
// of chunks added in memory, ancillary chunks and the pixel-access operations.
#include <gtest/gtest.h>

#include "png_read_test_util.h"

using namespace pngr;

namespace {

const Bytes kGreyRow = RawRows({7, 8, 9}, 3, 1);

Bytes GreyPng(const Bytes& between = {}, const Bytes& after = {}) {
  return Concat({Signature(), Ihdr(3, 1, 8, 0), between, IdatChunks(Compress(kGreyRow), 100), after,
                 Chunk("IEND", {})});
}

std::vector<std::string> Names(const TPngImage& image) {
  std::vector<std::string> names;
  for (int i = 0; i < image.Chunks().Count(); ++i)
    names.push_back(ChunkNameText(image.Chunks().Item(i)->Name()));
  return names;
}

using NameList = std::vector<std::string>;

}  // namespace

// ---------------------------------------------------------------------------------------
// Load loop

TEST(PngLoad, ErrorsLeaveTheChunksCreatedSoFar) {
  TPngImage image;
  EXPECT_THROW(Load(image, Concat({Signature(), Chunk("tEXt", {'k', 0, 't'})})), EPNGIHDRNotFirst);
  EXPECT_EQ(image.Chunks().Count(), 0);
  EXPECT_TRUE(image.Empty());

  EXPECT_THROW(Load(image, Concat({Signature(), Ihdr(3, 1, 8, 0), Chunk("IEND", {})})),
               EPNGNoImageData);
  EXPECT_EQ(Names(image), (NameList{"IHDR", "IEND"}));

  EXPECT_THROW(Load(image, GreyPng(Chunk("tEXt", {'k', 0, 't'}, true))), EPngInvalidCRC);
  EXPECT_EQ(Names(image), (NameList{"IHDR", "tEXt"}));

  EXPECT_THROW(Load(image, GreyPng(Chunk("BLOB", {1, 2}))), EPNGUnknownCriticalChunk);
  EXPECT_EQ(Names(image), (NameList{"IHDR", "BLOB"}));

  // A file that ends between chunks.
  const Bytes whole = GreyPng();
  EXPECT_THROW(Load(image, Bytes(whole.begin(), whole.end() - 12)), EPngUnexpectedEnd);
  EXPECT_EQ(Names(image), (NameList{"IHDR", "IDAT"}));

  EXPECT_THROW(Load(image, Bytes{137, 80, 78, 71}), EPNGInvalidFileHeader);
}

TEST(PngLoad, HeaderChecks) {
  TPngImage image;
  const Bytes idat = IdatChunks(Compress(kGreyRow), 100);
  auto file = [&](const Bytes& ihdr) {
    return Concat({Signature(), ihdr, idat, Chunk("IEND", {})});
  };
  EXPECT_THROW(Load(image, file(Ihdr(65536, 1, 8, 0))), EPNGSizeExceeds);
  EXPECT_THROW(Load(image, file(Ihdr(3, 1, 8, 0, 2))), EPNGUnknownInterlace);
  EXPECT_THROW(Load(image, file(Ihdr(3, 1, 8, 0, 0, 0, 1))), EPNGUnknownCompression);
  EXPECT_THROW(Load(image, file(Ihdr(3, 1, 4, 2))), EPngInvalidIHDR);
  EXPECT_THROW(Load(image, file(Ihdr(0, 1, 8, 0))), EPngInvalidIHDR);
  EXPECT_THROW(Load(image, file(Chunk("IHDR", Bytes(12, 1)))), EPngInvalidIHDR);
  EXPECT_THROW(Load(image, file(Concat({Ihdr(3, 1, 8, 0), Ihdr(3, 1, 8, 0, 1)}))), EPngInvalidIHDR);
  EXPECT_NO_THROW(Load(image, file(Ihdr(3, 1, 8, 0, 0, 5))));  // filter method unchecked
  Bytes longer = Ihdr(3, 1, 8, 0);
  Bytes body(longer.begin() + 8, longer.begin() + 21);
  body.push_back(0xEE);
  EXPECT_NO_THROW(Load(image, file(Chunk("IHDR", body))));
  EXPECT_EQ(image.Width(), 3);
  // 65535 pixels is the widest accepted.
  const Bytes wide = RawRows(Bytes(65535 / 8 + 1, 0), 65535 / 8 + 1, 1);
  EXPECT_NO_THROW(Load(image, Concat({Signature(), Ihdr(65535, 1, 1, 0),
                                      IdatChunks(Compress(wide), 1 << 20), Chunk("IEND", {})})));
  EXPECT_EQ(image.Width(), 65535);
}

TEST(PngLoad, AncillaryChunksAreKeptDroppedOrAppliedInOrder) {
  Bytes g1, g2;
  Put32(g1, 45455);
  Put32(g2, 100000);
  const Bytes unknown = Chunk("prVt", {9, 8, 7, 6});
  TPngImage image;
  Load(image, GreyPng(Concat(
                  {Chunk("cHRM", Bytes(32, 1)), Chunk("gAMA", g1), Chunk("gAMA", g2), unknown})));
  EXPECT_EQ(Names(image), (NameList{"IHDR", "gAMA", "gAMA", "prVt", "IDAT", "IEND"}));
  EXPECT_EQ(image.GammaTable[128], 186);  // the later gAMA is in force
  // Written back: no cHRM, both gAMA, the unknown chunk byte for byte.
  const Bytes saved = Save(image);
  EXPECT_EQ(std::search(saved.begin(), saved.end(), unknown.begin(), unknown.end()) == saved.end(),
            false);
  TPngImage again;
  Load(again, saved);
  EXPECT_EQ(Names(again), (NameList{"IHDR", "gAMA", "gAMA", "prVt", "IDAT", "IEND"}));
  // A third gAMA cannot be added in memory.
  EXPECT_THROW(image.Chunks().Add<TChunkgAMA>(), EPngError);
}

TEST(PngLoad, CopiesAreIndependentAndComplete) {
  Bytes g;
  Put32(g, 100000);
  TPngImage image;
  Load(image, GreyPng(Chunk("gAMA", g), Chunk("tEXt", {'k', 0, 'v'})));
  TPngImage copy;
  copy.Assign(image);
  EXPECT_EQ(Names(copy), Names(image));
  EXPECT_EQ(copy.InverseGamma, image.InverseGamma);
  EXPECT_EQ(copy.GetPixels(2, 0), image.GetPixels(2, 0));
  copy.SetPixels(0, 0, clWhite);
  EXPECT_NE(copy.Scanline(0)[0], image.Scanline(0)[0]);

  // The low bytes of 16-bit samples come with the copy.
  TPngImage wide;
  Load(wide, SimplePng(2, 1, 16, 0, RawRows({0x12, 0x34, 0x56, 0x78}, 4, 1)));
  TPngImage wideCopy;
  wideCopy.Assign(wide);
  ASSERT_NE(wideCopy.ExtraScanline(0), nullptr);
  EXPECT_EQ(wideCopy.Scanline(0)[1], 0x56);
  EXPECT_EQ(wideCopy.ExtraScanline(0)[0], 0x34);
  EXPECT_EQ(wideCopy.ExtraScanline(0)[1], 0x78);
}

// With a gAMA chunk an RGB colour key names the file samples of the pixels that show the
// given colour: it reads back as that colour and is drawn transparent there.
TEST(PngAncillary, RgbColourKeyFollowsTheGammaOfThePixels) {
  Bytes g;
  Put32(g, 100000);  // brightens: file sample 128 shows as 186 (hand-worked)
  TPngImage image;
  Load(image, SimplePng(2, 1, 8, 2, RawRows({128, 1, 0, 9, 9, 9}, 6, 1), Chunk("gAMA", g)));
  ASSERT_EQ(image.GetPixels(0, 0), RGBColor(186, 21, 0));
  image.SetTransparentColor(RGBColor(186, 21, 0));
  const auto* trns = image.Chunks().Find<TChunktRNS>();
  ASSERT_NE(trns, nullptr);
  EXPECT_EQ(Bytes(trns->PaletteValues.begin(), trns->PaletteValues.begin() + 6),
            (Bytes{0, 128, 0, 1, 0, 0}));
  EXPECT_EQ(image.TransparentColor(), RGBColor(186, 21, 0));
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(2, 1);
  target.Canvas().Brush.Color = clBlue;
  target.Canvas().FillRect(Rect(0, 0, 2, 1));
  image.Draw(target.Canvas(), Rect(0, 0, 2, 1));
  EXPECT_EQ(target.PixelColor(0, 0), clBlue);
  EXPECT_NE(target.PixelColor(1, 0), clBlue);
}

// ---------------------------------------------------------------------------------------
// Placement rules of chunks added in memory

TEST(PngChunkList, AddPlacesChunksAndRefusesCriticalOnes) {
  auto image = TPngImage::CreateBlank(COLOR_PALETTE, 8, 4, 4);
  EXPECT_EQ(Names(*image), (NameList{"IHDR", "PLTE", "IDAT", "IEND"}));
  TPNGList& list = image->Chunks();
  EXPECT_THROW(list.Add<TChunkIDAT>(), EPngError);
  EXPECT_THROW(list.Add<TChunkPLTE>(), EPngError);
  list.Add<TChunktEXt>();
  list.Add<TChunktRNS>();
  list.Add<TChunkgAMA>();
  list.Add<TChunkpHYs>();
  list.Add<TChunktIME>();
  EXPECT_EQ(Names(*image),
            (NameList{"IHDR", "pHYs", "gAMA", "PLTE", "tRNS", "IDAT", "tEXt", "tIME", "IEND"}));
  EXPECT_THROW(list.Add<TChunkpHYs>(), EPngError);
  EXPECT_EQ(list.FindChunk(ChunkClassOf<TChunktEXt>())->Index(), 6);

  // tRNS goes before the image data without a palette, after the header without both.
  auto grey = TPngImage::CreateBlank(COLOR_GRAYSCALE, 8, 2, 2);
  grey->Chunks().Add<TChunktRNS>();
  EXPECT_EQ(Names(*grey), (NameList{"IHDR", "tRNS", "IDAT", "IEND"}));

  // An image without IEND takes no new chunk; a zTXt is found when asking for tEXt.
  TPngImage empty;
  EXPECT_THROW(empty.Chunks().Add<TChunktEXt>(), EPngError);
  auto other = TPngImage::CreateBlank(COLOR_RGB, 8, 1, 1);
  other->AddzTXt("k", "v");
  EXPECT_NE(dynamic_cast<TChunkzTXt*>(other->Chunks().Find<TChunktEXt>()), nullptr);
}

TEST(PngChunkList, CreateBlank) {
  auto pal = TPngImage::CreateBlank(3, 2, 10, 10);
  EXPECT_EQ(pal->Header().BitDepth(), 4);
  EXPECT_EQ(pal->Chunks().Find<TChunkPLTE>()->Count(), 16u);
  EXPECT_THROW(TPngImage::CreateBlank(2, 4, 10, 10), EPNGInvalidSpec);
  EXPECT_THROW(TPngImage::CreateBlank(6, 4, 10, 10), EPNGInvalidSpec);
  auto grey = TPngImage::CreateBlank(0, 8, 10, 10);
  EXPECT_EQ(grey->Chunks().Find<TChunkPLTE>(), nullptr);
  EXPECT_EQ(grey->Header().ColorsUsed(), 256u);
  EXPECT_EQ(grey->Header().ColorTable()[200].rgbGreen, 200);
  auto rgba = TPngImage::CreateBlank(6, 8, 5, 5);
  EXPECT_EQ(rgba->AlphaScanline(4)[4], 0);
  EXPECT_FALSE(rgba->BeingCreated);
  EXPECT_STREQ(TPngImage::Version(), "1.564");
}

// ---------------------------------------------------------------------------------------
// Ancillary chunks

TEST(PngAncillary, PaletteTransparencyModes) {
  const Bytes plte = {0, 0, 0, 10, 20, 30, 200, 100, 50, 1, 2, 3};
  auto load = [&](const Bytes& trns) {
    auto image = std::make_unique<TPngImage>();
    Load(*image,
         Concat({Signature(), Ihdr(4, 1, 8, 3), Chunk("PLTE", plte), Chunk("tRNS", trns),
                 IdatChunks(Compress(RawRows({0, 1, 2, 3}, 4, 1)), 100), Chunk("IEND", {})}));
    return image;
  };
  auto bit = load({255, 255, 0, 255});
  EXPECT_EQ(bit->TransparencyMode(), ptmBit);
  EXPECT_EQ(bit->TransparentColor(), RGBColor(200, 100, 50));
  EXPECT_EQ(bit->Chunks().Find<TChunkPLTE>()->GetPaletteItem(2), 0xC86432u);  // red high
  EXPECT_EQ(load({255, 128, 0})->TransparencyMode(), ptmPartial);
  // One half-transparent entry needs the alpha composition, not a colour key.
  EXPECT_EQ(load({255, 128})->TransparencyMode(), ptmPartial);
  EXPECT_THROW(bit->Chunks().Find<TChunkPLTE>()->GetPaletteItem(4), EPngError);
  auto bad = std::make_unique<TPngImage>();
  EXPECT_THROW(Load(*bad, Concat({Signature(), Ihdr(1, 1, 8, 3), Chunk("PLTE", Bytes(7, 0))})),
               EPNGInvalidPalette);
  EXPECT_THROW(Load(*bad, Concat({Signature(), Ihdr(1, 1, 8, 3), Chunk("tRNS", Bytes(257, 0))})),
               EPNGInvalidPalette);
}

TEST(PngAncillary, SettingTheTransparentColour) {
  auto pal = TPngImage::CreateBlank(COLOR_PALETTE, 8, 2, 2);
  std::vector<TPaletteEntry> entries(8, TPaletteEntry{9, 9, 9, 0});
  entries[5] = TPaletteEntry{0, 0, 255, 0};
  entries[6] = TPaletteEntry{0, 0, 255, 0};
  pal->SetPalette(std::make_unique<TPalette>(entries).get());
  pal->SetTransparentColor(clBlue);
  auto* trns = pal->Chunks().Find<TChunktRNS>();
  ASSERT_NE(trns, nullptr);
  EXPECT_EQ(Bytes(trns->PaletteValues.begin(), trns->PaletteValues.begin() + trns->DataSize()),
            (Bytes{255, 255, 255, 255, 255, 0}));
  EXPECT_EQ(pal->TransparencyMode(), ptmBit);
  EXPECT_EQ(pal->TransparentColor(), clBlue);
  // No entry of that colour: nothing becomes transparent.
  pal->SetTransparentColor(clLime);
  EXPECT_EQ(pal->TransparencyMode(), ptmPartial);
  EXPECT_EQ(trns->PaletteValues[0], 255);

  auto rgb = TPngImage::CreateBlank(COLOR_RGB, 8, 2, 2);
  rgb->SetTransparentColor(clRed);
  trns = rgb->Chunks().Find<TChunktRNS>();
  EXPECT_EQ(Bytes(trns->PaletteValues.begin(), trns->PaletteValues.begin() + 6),
            (Bytes{0, 255, 0, 0, 0, 0}));
  EXPECT_EQ(rgb->TransparentColor(), clRed);
  rgb->RemoveTransparency();
  EXPECT_EQ(rgb->TransparencyMode(), ptmNone);

  auto rgba = TPngImage::CreateBlank(COLOR_RGBALPHA, 8, 2, 2);
  EXPECT_THROW(rgba->SetTransparentColor(clRed), EPNGCannotChangeTransparent);

  TPngImage empty;  // no header, no pixel to take the colour: nothing happens
  EXPECT_NO_THROW(empty.SetTransparentColor(clRed));
  EXPECT_TRUE(empty.Empty());
  EXPECT_EQ(empty.TransparencyMode(), ptmNone);

  // Grey keys are samples of the image's own depth and read back as the grey drawn.
  for (int depth : {1, 2, 4, 8, 16}) {
    SCOPED_TRACE(depth);
    auto grey = TPngImage::CreateBlank(COLOR_GRAYSCALE, depth, 2, 2);
    grey->SetTransparentColor(clWhite);
    EXPECT_EQ(grey->TransparentColor(), clWhite);
    trns = grey->Chunks().Find<TChunktRNS>();
    const int sample = trns->PaletteValues[0] * 256 + trns->PaletteValues[1];
    const int stored = grey->Header().BitDepth();  // a blank 2-bit image is made 4-bit
    EXPECT_EQ(sample, stored == 16 ? 0xFF00 : (1 << std::min(stored, 8)) - 1);
  }
}

TEST(PngAncillary, GreyColourKeyUsesTheStoredLevel) {
  // 16-bit grey with tRNS sample 0x8000: the key is the grey its pixels show.
  const Bytes raw = RawRows({0x80, 0x00, 0x10, 0x00}, 4, 1);
  TPngImage image;
  Load(image, SimplePng(2, 1, 16, 0, raw, Chunk("tRNS", {0x80, 0x00})));
  EXPECT_EQ(image.TransparencyMode(), ptmBit);
  EXPECT_EQ(image.TransparentColor(), image.GetPixels(0, 0));
  EXPECT_NE(image.TransparentColor(), image.GetPixels(1, 0));
}

TEST(PngAncillary, TextTimeAndPhysicalSize) {
  Bytes z = {'k', 'e', 'y', 0, 1};
  const Bytes packed = Compress({'a', 'b'});
  z.insert(z.end(), packed.begin(), packed.end());
  Bytes good = {'k', 0, 0};
  const Bytes hello = Compress({'h', 'e', 'l', 'l', 'o'});
  good.insert(good.end(), hello.begin(), hello.end());
  TPngImage image;
  Load(image, GreyPng(Concat({Chunk("zTXt", z), Chunk("zTXt", good),
                              Chunk("tEXt", {'n', 'o', 'z', 'e', 'r', 'o'}),
                              Chunk("tIME", {7, 0xE4, 1, 2, 3, 4}),
                              Chunk("pHYs", {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1})})));
  std::vector<TChunktEXt*> texts;
  for (int i = 0; i < image.Chunks().Count(); ++i)
    if (auto* t = dynamic_cast<TChunktEXt*>(image.Chunks().Item(i))) texts.push_back(t);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_EQ(texts[0]->Keyword(), "key");
  EXPECT_EQ(texts[0]->Text(), "");  // compression method 1 is unknown
  EXPECT_EQ(texts[1]->Text(), "hello");
  EXPECT_EQ(texts[2]->Keyword(), "nozero");  // no zero byte: the keyword is all the data
  auto* time = image.Chunks().Find<TChunktIME>();
  EXPECT_EQ(time->Year(), 0);  // 6 bytes: kept but not read
  EXPECT_EQ(time->DataSize(), 6u);
  EXPECT_TRUE(image.HasPixelInformation());
  EXPECT_EQ(image.PixelInformation().PPUnitX(), 2835u);
  EXPECT_EQ(image.PixelInformation().UnitType(), utMeter);

  // An empty zTXt text is written as a compressed single space.
  TChunkzTXt empty(&image);
  empty.SetKeyword("e");
  TMemoryStream out;
  empty.SaveToStream(out);
  TReadOnlyMemoryStream in(out.Memory() + 8, size_t(out.Size() - 8));
  TChunkzTXt back(&image);
  ASSERT_TRUE(back.LoadFromStream(in, MakeChunkName("zTXt"), uint32_t(out.Size() - 12)));
  EXPECT_EQ(back.Text(), " ");
}

// ---------------------------------------------------------------------------------------
// Pixel access

TEST(PngPixels, OutOfRangeAccessIsHarmless) {
  TPngImage image;
  Load(image, GreyPng());
  EXPECT_EQ(image.GetPixels(-1, 0), 0u);
  EXPECT_EQ(image.GetPixels(3, 0), 0u);
  EXPECT_EQ(image.GetPixels(0, 1), 0u);
  image.SetPixels(-1, 0, clWhite);
  image.SetPixels(0, 5, clWhite);
  EXPECT_EQ(image.Scanline(0)[0], 7);
  EXPECT_EQ(image.Scanline(1), nullptr);
  TPngImage none;
  EXPECT_THROW(none.Scanline(0), EPNGHeaderNotPresent);
  EXPECT_THROW(none.Header(), EPNGHeaderNotPresent);
  EXPECT_EQ(none.Width(), 0);
  EXPECT_FALSE(none.Transparent());
}

TEST(PngPixels, ResizeCropsAndExtends) {
  auto image = TPngImage::CreateBlank(COLOR_RGBALPHA, 8, 3, 2);
  image->SetPixels(0, 0, RGBColor(1, 2, 3));
  image->AlphaScanline(0)[0] = 77;
  image->Resize(1, 1);
  EXPECT_EQ(image->Width(), 1);
  EXPECT_EQ(image->GetPixels(0, 0), RGBColor(1, 2, 3));
  EXPECT_EQ(image->AlphaScanline(0)[0], 77);
  image->Resize(4, 3);
  EXPECT_EQ(image->GetPixels(0, 0), RGBColor(1, 2, 3));
  EXPECT_EQ(image->GetPixels(3, 2), 0u);
  EXPECT_EQ(image->AlphaScanline(2)[3], 255);
  EXPECT_EQ(image->Header().BytesPerRow(), 12u);
  EXPECT_THROW(image->Resize(0, 3), EPNGInvalidNewSize);
  image->SetHeight(5);
  EXPECT_EQ(image->Height(), 5);
}

TEST(PngPixels, AlphaIsAddedAndRemoved) {
  auto rgb = TPngImage::CreateBlank(COLOR_RGB, 8, 2, 2);
  rgb->CreateAlpha();
  EXPECT_EQ(rgb->Header().ColorType(), COLOR_RGBALPHA);
  EXPECT_EQ(rgb->AlphaScanline(1)[1], 255);
  EXPECT_EQ(rgb->TransparencyMode(), ptmPartial);
  rgb->RemoveTransparency();
  EXPECT_EQ(rgb->Header().ColorType(), COLOR_RGB);
  EXPECT_EQ(rgb->AlphaScanline(0), nullptr);

  // Low-depth grey becomes 8-bit grey with alpha (the only grey+alpha format there is).
  TPngImage grey;
  Load(grey, WriteWithLibpng(4, 1, 2, 0, false, {0x1B}));
  grey.CreateAlpha();
  EXPECT_EQ(grey.Header().BitDepth(), 8);
  EXPECT_EQ(grey.Header().BitsPerPixel(), 8);
  EXPECT_EQ((std::vector<int>{grey.Scanline(0)[0], grey.Scanline(0)[1], grey.Scanline(0)[3]}),
            (std::vector<int>{0, 85, 255}));
  EXPECT_EQ(grey.AlphaScanline(0)[3], 255);
  EXPECT_EQ(grey.GetPixels(2, 0), RGBColor(170, 170, 170));

  auto pal = TPngImage::CreateBlank(COLOR_PALETTE, 4, 2, 2);
  pal->CreateAlpha();
  auto* trns = pal->Chunks().Find<TChunktRNS>();
  ASSERT_NE(trns, nullptr);
  EXPECT_EQ(trns->DataSize(), 16u);
  EXPECT_EQ(pal->TransparencyMode(), ptmPartial);
  pal->RemoveTransparency();
  EXPECT_EQ(pal->Chunks().Find<TChunktRNS>(), nullptr);
}

TEST(PngPixels, PaletteWritesTakeTheNearestEntry) {
  const Bytes plte = {0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255};
  TPngImage image;
  Load(image, Concat({Signature(), Ihdr(4, 1, 2, 3), Chunk("PLTE", plte),
                      IdatChunks(Compress(RawRows({0x1B}, 1, 1)), 100), Chunk("IEND", {})}));
  EXPECT_EQ(image.GetPixels(1, 0), clRed);
  image.SetPixels(0, 0, RGBColor(0, 250, 10));
  EXPECT_EQ(image.GetPixels(0, 0), clLime);
  EXPECT_EQ(image.Scanline(0)[0] >> 4, 2);  // a 4-bit field
}

// ---------------------------------------------------------------------------------------
// Registration with the picture registry

TEST(PngRegistration, PicturesLoadPngFilesByExtension) {
  VITRELLE_REQUIRE_TESTDATA();
  RegisterPngImage();
  RegisterPngImage();  // counted: one unregistration leaves it registered
  UnregisterPngImage();
  const TGraphicClass* found = TPicture::FindFileFormat(".png");
  ASSERT_EQ(found, &ClassOf<TPngImage>());
  bool described = false;
  for (const auto& f : TPicture::FileFormats())
    if (f.GraphicClass == found) described = f.Description == "Portable Network Graphics";
  EXPECT_TRUE(described);
  TPicture picture;
  picture.LoadFromFile(SuiteFile("basn6a08.png"));
  ASSERT_NE(dynamic_cast<TPngImage*>(picture.Graphic()), nullptr);
  EXPECT_EQ(picture.Width(), 32);
  UnregisterPngImage();
  EXPECT_EQ(TPicture::FindFileFormat("png"), nullptr);
  TPngImage image;
  EXPECT_THROW(image.LoadFromResourceName(nullptr, "LOGO"), EPNGCouldNotLoadResource);
}

TEST(PngRegistration, ClipboardCarriesTheDrawnPicture) {
  TPngImage image;
  Load(image, WriteWithLibpng(3, 2, 8, 2, false,
                              {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18}));
  TClipboardFormat format = 0;
  TClipboardData data;
  std::unique_ptr<TPalette> palette;
  image.SaveToClipboardFormat(format, data, palette);
  TPngImage back;
  back.LoadFromClipboardFormat(format, data, palette.get());
  ASSERT_EQ(back.Width(), 3);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(back.GetPixels(x, y), image.GetPixels(x, y));
  EXPECT_EQ(back.TransparencyMode(), ptmNone);
}
