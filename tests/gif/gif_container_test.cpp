// Colour maps, the header, the block loop and the warning route.
#include "gif_unit_util.h"

using namespace giftest;

namespace {

Bytes TinyFrame() {
  Bytes out = Descriptor(0, 0, 1, 1);
  Append(out, ImageData(2, {{4, 3}, {1, 3}, {5, 3}}));
  return out;
}

Bytes TinyGif(const char* sig = "GIF89a") {
  Bytes gif = Header(1, 1, 2, sig);
  Append(gif, TinyFrame());
  gif.push_back(';');
  return gif;
}

std::string ErrorOf(const Bytes& gif) {
  TGIFImage image;
  try {
    LoadBytes(image, gif);
  } catch (const GIFException& e) {
    return e.Message();
  }
  return "";
}

}  // namespace

TEST(GifColorMap, AddIndexOfAndLimits) {
  TGIFImage image;
  TGIFGlobalColorMap& map = image.GlobalColorMap();
  EXPECT_EQ(map.Add(clRed), 0);
  EXPECT_EQ(map.Add(clLime), 1);
  EXPECT_EQ(map.Add(clRed), 2);
  EXPECT_EQ(map.IndexOf(clRed), 2);  // searched from the end
  map.SetOptimized(true);
  EXPECT_EQ(map.IndexOf(clRed), 0);  // most used first
  EXPECT_EQ(map.IndexOf(clBlue), -1);
  EXPECT_EQ(map.BitsPerPixel(), 2);
  while (map.Count() < 256) map.Add(clBlue);
  EXPECT_EQ(map.BitsPerPixel(), 8);
  try {
    map.Add(clWhite);
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Débordement de la table des couleurs");
  }
  EXPECT_THROW(map.Delete(256), GIFException);
  EXPECT_THROW(map.SetColor(-1, clRed), GIFException);
}

TEST(GifColorMap, GetColorOutOfRangeWarnsThenAnswersFirstOrFails) {
  TGIFImage image;
  TCollected warnings;
  image.OnWarning = warnings.Handler();
  TGIFGlobalColorMap& map = image.GlobalColorMap();
  EXPECT_THROW(map.GetColor(0), GIFException);  // "La table des couleurs est vide"
  map.Add(clLime);
  EXPECT_EQ(map.GetColor(5), clLime);
  EXPECT_TRUE(warnings.Has("Indice de couleur incorrect"));
}

TEST(GifColorMap, WrittenPaddedToAPowerOfTwo) {
  TGIFImage image;
  TGIFGlobalColorMap& map = image.GlobalColorMap();
  map.Add(RGBColor(1, 2, 3));
  map.Add(RGBColor(4, 5, 6));
  map.Add(RGBColor(7, 8, 9));
  TMemoryStream s;
  map.SaveToStream(s);
  ASSERT_EQ(s.Size(), 12);
  EXPECT_EQ(Bytes(s.Memory(), s.Memory() + 12), (Bytes{1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 0}));
  image.Header().Prepare();
  EXPECT_EQ(image.Header().LogicalScreenDescriptor().PackedFields, 0x80 | 0x10 | 0x01);
  map.Clear();
  image.Header().Prepare();
  EXPECT_EQ(image.Header().LogicalScreenDescriptor().PackedFields, 0x77);
}

TEST(GifColorMap, OptimizeSortsByUseAndDropsUnused) {
  TGIFImage image;
  TGIFGlobalColorMap& map = image.GlobalColorMap();
  for (TColor c : {clRed, clLime, clBlue, clWhite}) map.Add(c);
  TGIFFrame* frame = TGIFFrame::Create(&image);
  frame->SetWidth(4);
  frame->SetHeight(1);
  // Uses: red 1, lime 0, blue 3, white 0.
  uint8_t* row = frame->Scanline(0);
  row[0] = 2, row[1] = 0, row[2] = 2, row[3] = 2;
  EXPECT_TRUE(map.Optimize());
  ASSERT_EQ(map.Count(), 2);
  EXPECT_EQ(map.GetColor(0), clBlue);
  EXPECT_EQ(map.GetColor(1), clRed);
  EXPECT_EQ(FramePixels(*frame), (Bytes{0, 1, 0, 0}));
  // Already in descending order, an unused entry included: nothing changes.
  map.Add(clWhite);
  EXPECT_TRUE(map.Optimize());
  EXPECT_EQ(map.Count(), 3);
  EXPECT_EQ(FramePixels(*frame), (Bytes{0, 1, 0, 0}));
}

TEST(GifColorMap, PaletteImportAndExport) {
  TGIFImage image;
  TGIFGlobalColorMap& map = image.GlobalColorMap();
  TPalette palette({{10, 20, 30, 0}, {40, 50, 60, 0}});
  map.ImportPalette(&palette);
  EXPECT_EQ(map.Count(), 2);
  EXPECT_EQ(map.GetColor(1), RGBColor(40, 50, 60));
  std::unique_ptr<TPalette> out = map.ExportPalette();
  ASSERT_TRUE(out);
  EXPECT_EQ(out->Entries()[0], (TPaletteEntry{10, 20, 30, PC_NOCOLLAPSE}));
  TRGBQuad table[2] = {{1, 2, 3, 0}, {4, 5, 6, 0}};
  map.ImportColorTable(table, 2);
  EXPECT_EQ(map.GetColor(0), RGBColor(3, 2, 1));
}

TEST(GifHeader, SignatureToleratesCasePrefixAndVersion) {
  for (const char* sig : {"gif89a", "GIF87a", "GiF12x"}) {
    TGIFImage image;
    EXPECT_NO_THROW(LoadBytes(image, TinyGif(sig))) << sig;
    EXPECT_EQ(image.Images().Count(), 1) << sig;
  }
  Bytes prefixed{'X', 'Y', 'Z', 'W'};
  Append(prefixed, TinyGif());
  TGIFImage image;
  EXPECT_NO_THROW(LoadBytes(image, prefixed));
  EXPECT_EQ(image.Images().Count(), 1);
  EXPECT_EQ(ErrorOf(TinyGif("PNG89a")), "Signature GIF incorrecte");
}

TEST(GifHeader, GlobalTableSizeAndEarlyEnd) {
  Bytes gif = Header(1, 1, 8);
  EXPECT_EQ(gif.size(), 13u + 768u);
  Append(gif, TinyFrame());
  gif.push_back(';');
  TGIFImage image;
  LoadBytes(image, gif);
  EXPECT_EQ(image.GlobalColorMap().Count(), 256);
  Bytes cut = Header(1, 1, 8);
  cut.resize(13 + 700);
  EXPECT_EQ(ErrorOf(cut), "Fin prématurée des données");
}

TEST(GifHeader, AspectRatioMakes89a) {
  TGIFImage image;
  LoadBytes(image, TinyGif("GIF87a"));
  EXPECT_EQ(image.Header().Version(), gv87a);
  image.SetAspectRatio(49);
  EXPECT_EQ(image.Header().Version(), gv89a);
}

TEST(GifWarnings, GarbageAfterLastFrameWithAndWithoutHandler) {
  Bytes gif = Header(1, 1, 2);
  Append(gif, TinyFrame());
  gif.push_back(0x99);
  TGIFImage silent;
  EXPECT_NO_THROW(LoadBytes(silent, gif));
  EXPECT_EQ(silent.Images().Count(), 1);
  TGIFImage heard;
  TCollected warnings;
  heard.OnWarning = warnings.Handler();
  LoadBytes(heard, gif);
  EXPECT_EQ(warnings.Messages,
            (std::vector<std::string>{"Type de bloc GIF inconnu", "Queue d'image incorrecte"}));
}

TEST(GifWarnings, ZerosBeforeTrailerAndMissingTrailerAreQuiet) {
  Bytes zeros = Header(1, 1, 2);
  Append(zeros, TinyFrame());
  Append(zeros, Bytes{0, 0, 0, ';'});
  Bytes open = Header(1, 1, 2);
  Append(open, TinyFrame());
  for (const Bytes& gif : {zeros, open}) {
    TGIFImage image;
    TCollected warnings;
    image.OnWarning = warnings.Handler();
    LoadBytes(image, gif);
    EXPECT_TRUE(warnings.Messages.empty());
    EXPECT_EQ(image.Images().Count(), 1);
  }
}

TEST(GifWarnings, ErrorSeverityRaisesWithoutHandler) {
  TGIFImage image;
  EXPECT_NO_THROW(image.Warning(nullptr, gsWarning, "x"));
  EXPECT_THROW(image.Warning(nullptr, gsError, "y"), GIFException);
  TCollected warnings;
  image.OnWarning = warnings.Handler();
  EXPECT_NO_THROW(image.Warning(nullptr, gsError, "y"));
  EXPECT_TRUE(warnings.Has("y"));
}

TEST(GifStreams, AdaptersRefuseWrongDirectionAndSeek) {
  TMemoryStream base;
  TGIFReader reader(base, DecoderBufferSize);
  uint8_t b = 0;
  EXPECT_THROW(reader.Write(&b, 1), GIFException);
  EXPECT_THROW(reader.Seek(0, soBeginning), GIFException);
  TGIFWriter writer(base);
  EXPECT_THROW(writer.Read(&b, 1), GIFException);
}

TEST(GifStreams, Writer255BytesMakeOneFullSubBlock) {
  TMemoryStream out;
  {
    TGIFWriter writer(out);
    Bytes data(255, 7);
    writer.Write(data.data(), 255);
  }
  ASSERT_EQ(out.Size(), 256);
  EXPECT_EQ(out.Memory()[0], 255);
}

TEST(GifItems, ListAddRemoveDelete) {
  TGIFImage image;
  TGIFFrame* a = TGIFFrame::Create(&image);
  TGIFFrame* b = TGIFFrame::Create(&image);
  TGIFImageList& list = image.Images();
  EXPECT_EQ(list.Count(), 2);
  std::unique_ptr<TGIFItem> taken;
  EXPECT_EQ(list.Remove(a, taken), 0);
  EXPECT_EQ(taken.get(), a);  // still alive, now owned by the caller
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(list.IndexOf(b), 0);
  list.Delete(0);
  EXPECT_EQ(list.Count(), 0);
}

TEST(GifItems, BitsForColorCount) {
  EXPECT_EQ(BitsForColorCount(0), 0);
  EXPECT_EQ(BitsForColorCount(1), 1);
  EXPECT_EQ(BitsForColorCount(2), 1);
  EXPECT_EQ(BitsForColorCount(3), 2);
  EXPECT_EQ(BitsForColorCount(129), 8);
  EXPECT_EQ(BitsForColorCount(256), 8);
}

TEST(GifImage, LoadingReportsProgressAndRestoresPositionOnFailure) {
  std::vector<std::pair<TProgressStage, int>> reports;
  TGIFImage image;
  image.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect&,
                         const std::string& message) {
    EXPECT_EQ(message, "Chargement");
    reports.push_back({stage, percent});
  };
  LoadBytes(image, TinyGif());
  ASSERT_GE(reports.size(), 2u);
  EXPECT_EQ(reports.front(), std::make_pair(psStarting, 0));
  EXPECT_EQ(reports.back(), std::make_pair(psEnding, 100));
  reports.clear();
  Bytes bad = TinyGif("XXX89a");
  TReadOnlyMemoryStream stream(bad.data(), bad.size());
  stream.SetPosition(3);
  EXPECT_THROW(image.LoadFromStream(stream), GIFException);
  EXPECT_EQ(stream.Position(), 3);
  EXPECT_EQ(reports.back(), std::make_pair(psEnding, 0));
}
