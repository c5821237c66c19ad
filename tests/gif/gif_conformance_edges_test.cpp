// Edge cases of the GIF container and of LZW decoding, through the public picture, on
// small files assembled byte by byte: signature tolerance, colour tables, the warning
// route, what may follow the last frame, interlaced row order, clear codes, the
// string-plus-first-pixel case, a full table, corrupt tables, data ending early and
// unusual code sizes. Expected pixels are worked out by hand from the codes written.
#include "gif_conformance_support.h"

namespace {

using namespace gif_test;
using gif_build::TCodePacker;
using gif_build::TGifAssembler;

// Pixels of frame 0, row by row.
TBytes FramePixels(TGIFImage& gif, int frame = 0) {
  TGIFFrame& f = *gif.Images().Frames(frame);
  return TBytes(f.Data(), f.Data() + f.DataSize());
}

// A w x h screen with a global table of `colours` and one frame covering it.
TGifAssembler OneFrame(const std::vector<TRgb>& colours, int w, int h, int minCodeSize,
                       const TBytes& codes, uint8_t descriptorPacked = 0) {
  TGifAssembler a;
  a.Screen(uint16_t(w), uint16_t(h), colours)
      .Descriptor(0, 0, uint16_t(w), uint16_t(h), descriptorPacked)
      .ImageData(uint8_t(minCodeSize), codes);
  return a;
}

// 2 x 1 frame over a 2-colour table: pixels 1, 0.
TBytes TwoPixelBody() {
  return TCodePacker(2).Clear().Code(1).Code(0).End().Bytes();
}

TBytes WithSignature(const std::string& signature) {
  TGifAssembler a;
  a.Header(signature, 2, 1, 0xF0).ColorTable(Ramp(2), 2).Descriptor(0, 0, 2, 1);
  a.ImageData(2, TwoPixelBody()).Trailer();
  return a.Data();
}

TEST(GifSignature, LetterCaseVersionAndAFourBytePrefixAreAccepted) {
  for (const std::string sig : {"GIF89a", "gif89a", "Gif87a", "GIF12z", "GIF\x01\x02\x03"}) {
    SCOPED_TRACE(sig);
    TWarnings w;
    std::unique_ptr<TGIFImage> gif;
    ASSERT_NO_THROW(gif = LoadGif(WithSignature(sig), &w));
    EXPECT_EQ(FramePixels(*gif), (TBytes{1, 0}));
    EXPECT_TRUE(w.Messages.empty()) << w.All();
  }
  TBytes prefixed = WithSignature("gif89a");
  prefixed.insert(prefixed.begin(), {'M', 'a', 'c', 0});
  std::unique_ptr<TGIFImage> gif;
  ASSERT_NO_THROW(gif = LoadGif(prefixed));
  EXPECT_EQ(FramePixels(*gif), (TBytes{1, 0}));
}

TEST(GifSignature, NoSignatureAtEitherPlaceIsRefused) {
  EXPECT_EQ(LoadError(WithSignature("PNG89a")), "Signature GIF incorrecte");
  TBytes shifted = WithSignature("GIF89a");  // "GIF" at offset 3: neither 0 nor 4
  shifted.insert(shifted.begin(), {'x', 'y', 'z'});
  EXPECT_EQ(LoadError(shifted), "Signature GIF incorrecte");
}

TEST(GifColourTable, SizeBitsSevenReads256EntriesAndAShortTableIsAnError) {
  std::vector<TRgb> colours = Ramp(256);
  TCodePacker codes(8);
  codes.Clear().Code(255).Code(0).Code(128).End();
  TBytes file = OneFrame(colours, 3, 1, 8, codes.Bytes()).Trailer().Data();
  ASSERT_EQ(file[10], 0xF7);
  std::unique_ptr<TGIFImage> gif = LoadGif(file);
  EXPECT_EQ(gif->GlobalColorMap().Count(), 256);
  auto drawn = DrawOver(*gif, kBackA);
  EXPECT_EQ(drawn->PixelColor(0, 0), ToColor(colours[255]));
  EXPECT_EQ(drawn->PixelColor(1, 0), ToColor(colours[0]));
  EXPECT_EQ(drawn->PixelColor(2, 0), ToColor(colours[128]));
  // The stream ends inside the table.
  file.resize(13 + 700);
  EXPECT_EQ(LoadError(file), "Fin prématurée des données");
}

TEST(GifColourTable, ASmallLocalTableWinsOverTheGlobalOne) {
  const std::vector<TRgb> global = Ramp(8), local = {{200, 10, 10}, {10, 200, 10}};
  TGifAssembler a;
  a.Screen(2, 1, global).Descriptor(0, 0, 2, 1, 0x80).ColorTable(local, 2);
  a.ImageData(2, TwoPixelBody()).Trailer();
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data());
  auto drawn = DrawOver(*gif, kBackA);
  EXPECT_EQ(drawn->PixelColor(0, 0), ToColor(local[1]));
  EXPECT_EQ(drawn->PixelColor(1, 0), ToColor(local[0]));
}

TEST(GifWarnings, GoToTheHandlerOrAreDroppedAndErrorsRaiseWithoutOne) {
  TGIFImage gif;
  EXPECT_NO_THROW(gif.Warning(nullptr, gsWarning, "dropped"));
  EXPECT_NO_THROW(gif.Warning(nullptr, gsInfo, "dropped"));
  try {
    gif.Warning(nullptr, gsError, "raised");
    ADD_FAILURE() << "a gsError without a handler must raise";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "raised");
  }
  TWarnings w;
  w.Attach(gif);
  EXPECT_NO_THROW(gif.Warning(nullptr, gsError, "handled"));
  EXPECT_EQ(w.Messages, std::vector<std::string>{"handled"});
}

TBytes OneFrameFile() {
  return OneFrame(Ramp(2), 2, 1, 2, TwoPixelBody()).Data();
}

TEST(GifTrailer, GarbageAfterTheLastFrameWarnsTwiceOnlyWithAHandler) {
  TBytes file = OneFrameFile();
  file.push_back(0x99);
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(file, &w);
  EXPECT_EQ(w.Messages,
            (std::vector<std::string>{"Type de bloc GIF inconnu", "Queue d'image incorrecte"}));
  EXPECT_EQ(gif->Images().Count(), 1);
  std::unique_ptr<TGIFImage> silent;
  ASSERT_NO_THROW(silent = LoadGif(file));
  EXPECT_EQ(FramePixels(*silent), (TBytes{1, 0}));
}

TEST(GifTrailer, ZeroBytesBeforeTheTrailerAndAMissingTrailerAreSilent) {
  TBytes padded = OneFrameFile();
  padded.insert(padded.end(), {0, 0, 0, ';'});
  TBytes bare = OneFrameFile();
  for (const TBytes& file : {padded, bare}) {
    TWarnings w;
    std::unique_ptr<TGIFImage> gif = LoadGif(file, &w);
    EXPECT_TRUE(w.Messages.empty()) << w.All();
    EXPECT_EQ(FramePixels(*gif), (TBytes{1, 0}));
  }
}

TEST(GifTrailer, ZeroBytesBetweenFramesAreSkippedSilently) {
  TGifAssembler a = OneFrame(Ramp(2), 2, 1, 2, TwoPixelBody());
  a.Byte(0).Byte(0).Descriptor(0, 0, 2, 1);
  a.ImageData(2, TCodePacker(2).Clear().Codes({0, 1}).End().Bytes()).Trailer();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data(), &w);
  ASSERT_EQ(gif->Images().Count(), 2);
  EXPECT_EQ(FramePixels(*gif, 1), (TBytes{0, 1}));
  EXPECT_TRUE(w.Messages.empty()) << w.All();
}

// A failed load puts the stream back where the picture started.
TEST(GifTrailer, AFailedLoadRestoresTheStreamPosition) {
  const TBytes circular =
      OneFrame(Ramp(4), 4, 4, 2, TCodePacker(2).Clear().Codes({0, 7, 1, 7}).End().Bytes())
          .Trailer()
          .Data();
  for (const TBytes& body : {circular, WithSignature("PNG89a")}) {
    TMemoryStream stream;
    const TBytes before(5, 'x');
    stream.Write(before.data(), 5);
    stream.Write(body.data(), int64_t(body.size()));
    stream.SetPosition(5);
    TGIFImage gif;
    EXPECT_THROW(gif.LoadFromStream(stream), GIFException);
    EXPECT_EQ(stream.Position(), 5);
  }
}

TEST(GifTrailer, AnUnknownByteBetweenFramesKeepsTheFramesReadSoFar) {
  TGifAssembler a = OneFrame(Ramp(2), 2, 1, 2, TwoPixelBody());
  a.Byte(0x99).Descriptor(0, 0, 2, 1).ImageData(2, TwoPixelBody()).Trailer();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data(), &w);
  EXPECT_EQ(gif->Images().Count(), 1);
  EXPECT_TRUE(w.Has("Type de bloc GIF inconnu")) << w.All();
}

// Interlaced rows are stored 0, 8, 16, ..., 4, 12, ..., 2, 6, ..., 1, 3, ...; every row of
// the frame holds its own number once decoded.
TEST(GifInterlace, HeightsOneToNineFillEveryRowOnce) {
  for (int h = 1; h <= 9; ++h) {
    SCOPED_TRACE("height " + std::to_string(h));
    const int w = 3;
    TBytes stored;
    for (int y : gif_build::detail::InterlacedRows(h))
      for (int x = 0; x < w; ++x) stored.push_back(uint8_t(y));
    ASSERT_EQ(int(stored.size()), w * h);
    TBytes file = OneFrame(Ramp(16), w, h, 4, gif_build::LzwEncode(stored, 4), 0x40).Data();
    std::unique_ptr<TGIFImage> gif = LoadGif(file);
    TBytes expected;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) expected.push_back(uint8_t(y));
    EXPECT_EQ(FramePixels(*gif), expected);
    auto drawn = DrawOver(*gif, kBackA);
    for (int y = 0; y < h; ++y) EXPECT_EQ(drawn->PixelColor(2, y), ToColor(Ramp(16)[size_t(y)]));
  }
}

// Codes 1, 2, 18 ("1 2"), 20: 20 is the next free code, "1 2" plus its own first pixel.
TEST(GifLzw, CodeEqualToTheNextFreeCode) {
  const TBytes codes = TCodePacker(4).Clear().Codes({1, 2, 18, 20}).End().Bytes();
  std::unique_ptr<TGIFImage> gif = LoadGif(OneFrame(Ramp(16), 7, 1, 4, codes).Data());
  EXPECT_EQ(FramePixels(*gif), (TBytes{1, 2, 1, 2, 1, 2, 1}));
}

TEST(GifLzw, NoClearCodeAtTheStartAndSeveralInARow) {
  const TBytes none = TCodePacker(4).Codes({1, 2, 18, 20}).End().Bytes();
  std::unique_ptr<TGIFImage> gif = LoadGif(OneFrame(Ramp(16), 7, 1, 4, none).Data());
  EXPECT_EQ(FramePixels(*gif), (TBytes{1, 2, 1, 2, 1, 2, 1}));

  TCodePacker many(4);
  many.Clear().Clear().Clear().Codes({3, 4, 18}).Clear().Clear().Codes({5, 5, 18}).End();
  gif = LoadGif(OneFrame(Ramp(16), 8, 1, 4, many.Bytes()).Data());
  EXPECT_EQ(FramePixels(*gif), (TBytes{3, 4, 3, 4, 5, 5, 5, 5}));
}

// Noise over 256 colours makes far more than 4096 strings; the encoder never clears, so
// the decoder goes on with its full table of 12-bit codes.
TEST(GifLzw, FullTableWithoutAClearCode) {
  const int w = 160, h = 120;
  TBytes pixels(size_t(w) * h);
  uint32_t seed = 99;
  for (uint8_t& p : pixels) {
    seed = seed * 1103515245u + 12345u;
    p = uint8_t(seed >> 20);
  }
  gif_build::TLzwOptions deferred;
  deferred.ClearWhenFull = false;
  for (bool clearWhenFull : {false, true}) {
    deferred.ClearWhenFull = clearWhenFull;
    const TBytes codes = gif_build::LzwEncode(pixels, 8, deferred);
    ASSERT_GT(codes.size() * 8 / 12, 4096u);
    const TBytes file = OneFrame(Ramp(256), w, h, 8, codes).Trailer().Data();
    std::unique_ptr<TGIFImage> gif = LoadGif(file);
    EXPECT_EQ(FramePixels(*gif), pixels) << "clear when full: " << clearWhenFull;
  }
}

// Code 7 read while 6 is the next free code makes entry 7 take 7 as its prefix.
TEST(GifLzw, SelfReferencingEntryIsAnError) {
  const TBytes codes = TCodePacker(2).Clear().Codes({0, 7, 1, 7}).End().Bytes();
  EXPECT_EQ(LoadError(OneFrame(Ramp(4), 4, 4, 2, codes).Trailer().Data()),
            "Entrée de la table du décodeur circulaire");
}

// Entries 19 and 20 name each other as prefix: the chain never ends and overflows the
// decode stack.
TEST(GifLzw, ChainLoopingThroughTwoEntriesIsAnError) {
  const TBytes codes = TCodePacker(4).Clear().Codes({0, 20, 19, 1, 19}).End().Bytes();
  EXPECT_EQ(LoadError(OneFrame(Ramp(16), 8, 8, 4, codes).Trailer().Data()),
            "Données GIF incorrectes");
}

// Clear and pixels 1..5 (30 bits, 4 bytes) in a sub-block that claims 20 bytes, then the end
// of the file: the five pixels stay, the rest keep the fill value.
TBytes CutShort(bool transparent) {
  const TBytes codes = TCodePacker(4).Clear().Codes({1, 2, 3, 4, 5}).Bytes();
  EXPECT_EQ(codes.size(), 4u);
  TGifAssembler a;
  a.Screen(4, 4, Ramp(16));
  if (transparent) a.Gce(1, 0, 9);
  a.Descriptor(0, 0, 4, 4).Byte(4).Byte(20).Raw(codes);
  return a.Data();
}

TEST(GifLzw, DataEndingEarlyKeepsThePixelsAndFillsTheRest) {
  for (bool transparent : {false, true}) {
    SCOPED_TRACE(transparent ? "transparent" : "opaque");
    TWarnings w;
    std::unique_ptr<TGIFImage> gif;
    ASSERT_NO_THROW(gif = LoadGif(CutShort(transparent), &w));
    const uint8_t fill = transparent ? 9 : 0;
    TBytes expected(16, fill);
    for (int i = 0; i < 5; ++i) expected[size_t(i)] = uint8_t(i + 1);
    ASSERT_EQ(gif->Images().Count(), 1);
    EXPECT_EQ(FramePixels(*gif), expected);
    EXPECT_TRUE(w.Has("Fin prématurée des données")) << w.All();
    EXPECT_TRUE(w.Has("Décoder le tampon de bits à l'exécution")) << w.All();
    auto drawn = DrawOver(*gif, kBackA);
    EXPECT_EQ(drawn->PixelColor(3, 3), transparent ? kBackA : ToColor(Ramp(16)[0]));
    EXPECT_EQ(drawn->PixelColor(0, 1), ToColor(Ramp(16)[5]));
    // Without a handler the same file loads silently.
    EXPECT_NO_THROW(LoadGif(CutShort(transparent)));
  }
}

// Without an end code, a last code that ends exactly on the last bit of the data is still
// read: clear + 7 codes of 5 bits fill 5 bytes exactly, so pixel 7 shows; only the eighth
// pixel, for which no bits are left, keeps the fill value, with the warning.
TEST(GifLzw, ALastCodeEndingOnTheLastBitWithoutAnEndCodeIsRead) {
  const TBytes codes = TCodePacker(4).Clear().Codes({1, 2, 3, 4, 5, 6, 7}).Bytes();
  ASSERT_EQ(codes.size(), 5u);
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(OneFrame(Ramp(16), 8, 1, 4, codes).Trailer().Data(), &w);
  EXPECT_EQ(FramePixels(*gif), (TBytes{1, 2, 3, 4, 5, 6, 7, 0}));
  EXPECT_EQ(w.Messages, std::vector<std::string>{"Décoder le tampon de bits à l'exécution"});
}

// Interlaced rows not reached keep the fill value: 2 x 4 stores rows 0, 2, 1, 3.
TEST(GifLzw, InterlacedDataEndingEarlyFillsTheRowsNotReached) {
  const TBytes codes = TCodePacker(4).Clear().Codes({1, 2, 3, 4}).End().Bytes();
  std::unique_ptr<TGIFImage> gif = LoadGif(OneFrame(Ramp(16), 2, 4, 4, codes, 0x40).Data());
  EXPECT_EQ(FramePixels(*gif), (TBytes{1, 2, 0, 0, 3, 4, 0, 0}));
}

TEST(GifLzw, NoCodeSizeByteGivesAWarningAndNoFrame) {
  TGifAssembler a;
  a.Screen(2, 1, Ramp(2)).Descriptor(0, 0, 2, 1);
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data(), &w);
  EXPECT_TRUE(w.Has("Fin prématurée des données")) << w.All();
  for (int i = 0; i < gif->Images().Count(); ++i) EXPECT_TRUE(gif->Images().Frames(i)->Empty());
}

TEST(GifLzw, AnEndCodeBeforeAllPixelsEndsQuietly) {
  const TBytes codes = TCodePacker(4).Clear().Codes({7, 8}).End().Bytes();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(OneFrame(Ramp(16), 2, 2, 4, codes).Data(), &w);
  EXPECT_EQ(FramePixels(*gif), (TBytes{7, 8, 0, 0}));
  EXPECT_TRUE(w.Messages.empty()) << w.All();
}

TEST(GifLzw, MinimumCodeSize13GivesAWarningAndNoPixels) {
  TGifAssembler a;
  a.Screen(2, 2, Ramp(4)).Gce(0).Descriptor(0, 0, 2, 2).Byte(13).SubBlocks({0x11, 0x22});
  a.Trailer();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif;
  ASSERT_NO_THROW(gif = LoadGif(a.Data(), &w));
  EXPECT_TRUE(w.Has("Données GIF incorrectes")) << w.All();
  for (int i = 0; i < gif->Images().Count(); ++i) EXPECT_TRUE(gif->Images().Frames(i)->Empty());
  ASSERT_NO_THROW(LoadGif(a.Data()));
}

// Size 12: 13-bit codes. Codes of 4096 and more do not index the tables: decoding stops
// with a warning, the pixels before stay.
TEST(GifLzw, MinimumCodeSize12StopsAtCodesPastTheTable) {
  TCodePacker codes(12);
  codes.Codes({5, 7, 4200, 9});
  ASSERT_EQ(codes.Width(), 13);
  TWarnings w;
  std::unique_ptr<TGIFImage> gif;
  ASSERT_NO_THROW(gif = LoadGif(OneFrame(Ramp(16), 2, 2, 12, codes.Bytes()).Data(), &w));
  EXPECT_EQ(FramePixels(*gif), (TBytes{5, 7, 0, 0}));
  EXPECT_TRUE(w.Has("Données GIF incorrectes")) << w.All();
}

TEST(GifFrame, TwoGraphicControlExtensionsUseTheFirstWithOneWarning) {
  TGifAssembler a;
  a.Screen(2, 1, Ramp(4)).Gce(1, 0, 1).Gce(1, 0, 2).Descriptor(0, 0, 2, 1);
  a.ImageData(2, TCodePacker(2).Clear().Codes({1, 2}).End().Bytes()).Trailer();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data(), &w);
  EXPECT_EQ(w.Count("Le cadre contient plusieurs blocs d'extension de contrôles graphiques"), 1)
      << w.All();
  EXPECT_EQ(gif->Images().Frames(0)->Extensions().Count(), 2);
  auto drawn = DrawOver(*gif, kBackA);
  EXPECT_EQ(drawn->PixelColor(0, 0), kBackA);
  EXPECT_EQ(drawn->PixelColor(1, 0), ToColor(Ramp(4)[2]));
}

TEST(GifFrame, AFrameBeyondTheScreenGrowsItWithAWarning) {
  TGifAssembler a;
  a.Screen(4, 4, Ramp(4)).Descriptor(2, 3, 4, 2);
  a.ImageData(2, gif_build::LzwEncode(TBytes{0, 1, 2, 3, 3, 2, 1, 0}, 2)).Trailer();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data(), &w);
  EXPECT_EQ(gif->Width(), 6);
  EXPECT_EQ(gif->Height(), 5);
  EXPECT_TRUE(w.Has("L'image excède la taille d'écran logique")) << w.All();
  auto drawn = DrawOver(*gif, kBackA);
  EXPECT_EQ(drawn->PixelColor(5, 4), ToColor(Ramp(4)[0]));
  EXPECT_EQ(drawn->PixelColor(1, 1), kBackA);
}

TEST(GifFrame, AFrameOfSizeZeroTakesTheScreenSize) {
  TGifAssembler a;
  a.Screen(3, 2, Ramp(8)).Descriptor(0, 0, 0, 0);
  a.ImageData(3, gif_build::LzwEncode(TBytes{1, 2, 3, 4, 5, 6}, 3)).Trailer();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data(), &w);
  EXPECT_TRUE(w.Has("L'image excède la taille d'écran logique")) << w.All();
  EXPECT_EQ(gif->Images().Frames(0)->BoundsRect(), Rect(0, 0, 3, 2));
  EXPECT_EQ(FramePixels(*gif), (TBytes{1, 2, 3, 4, 5, 6}));
}

TEST(GifFrame, ARectanglePast65535IsBroughtBackWithAWarning) {
  TGifAssembler a;
  a.Screen(10, 1, Ramp(4)).Descriptor(65000, 0, 1000, 1);
  a.ImageData(2, gif_build::LzwEncode(TBytes(1000, 1), 2)).Trailer();
  TWarnings w;
  std::unique_ptr<TGIFImage> gif;
  ASSERT_NO_THROW(gif = LoadGif(a.Data(), &w));
  EXPECT_TRUE(w.Has("Taille d'image incorrecte")) << w.All();
  ASSERT_EQ(gif->Images().Count(), 1);
  TGIFFrame& f = *gif->Images().Frames(0);
  EXPECT_LE(f.Left() + f.Width(), 65535);
  EXPECT_EQ(f.Left(), 65000);
  EXPECT_LE(gif->Width(), 65535);
}

// A frame of 65535 x 65535 pixels announced by a file of a few dozen bytes is refused
// (an error, or a warning and no pixels) before its 4 GiB buffer is allocated; so is a
// 20000 x 20000 frame, within the size budget but far beyond what the data can hold.
TEST(GifFrame, AHugeFrameInATinyFileIsRefused) {
  for (uint16_t side : {uint16_t(65535), uint16_t(20000)}) {
    SCOPED_TRACE(side);
    TGifAssembler a;
    a.Screen(side, side, Ramp(2)).Descriptor(0, 0, side, side);
    a.ImageData(2, TwoPixelBody()).Trailer();
    TWarnings w;
    std::unique_ptr<TGIFImage> gif;
    try {
      gif = LoadGif(a.Data(), &w);
    } catch (const GIFException&) {
      continue;
    } catch (const EOutOfResources&) {
      continue;
    }
    EXPECT_FALSE(w.Messages.empty());
    for (int i = 0; i < gif->Images().Count(); ++i)
      EXPECT_EQ(gif->Images().Frames(i)->DataSize(), 0u);
  }
}

// Application blocks whose size byte is neither 10 nor 11 abandon the load with a GIF
// error (below 11 with its own message), never another kind of exception.
TEST(GifExtensionBlocks, ApplicationBlockOfAnUnusualSizeIsAGifError) {
  for (uint8_t size : {uint8_t(3), uint8_t(12), uint8_t(0xEE)}) {
    SCOPED_TRACE(int(size));
    TGifAssembler a;
    a.Screen(2, 1, Ramp(2)).Byte('!').Byte(0xFF).Byte(size).Raw(TBytes(size, 'A'));
    a.Byte(3).Raw({1, 0, 0}).Byte(0);
    a.Descriptor(0, 0, 2, 1).ImageData(2, TwoPixelBody()).Trailer();
    try {
      LoadGif(a.Data());
      ADD_FAILURE() << "loaded";
    } catch (const GIFException& e) {
      if (size < 11) {
        EXPECT_EQ(e.Message(), "Taille de bloc d'extension d'application non supportée");
      }
    } catch (const Exception& e) {
      ADD_FAILURE() << "not a GIFException: " << e.Message();
    }
  }
}

// The composite of a frame smaller than the screen: screen sized, frame at its offset;
// around a transparent frame the header's background colour.
TEST(GifPicture, BitmapOfAFrameSmallerThanTheScreen) {
  const std::vector<TRgb> colours = Ramp(4);
  for (bool transparent : {false, true}) {
    SCOPED_TRACE(transparent ? "transparent" : "opaque");
    TGifAssembler a;
    a.Screen(4, 3, colours, 3);
    if (transparent) a.Gce(1, 0, 2);
    a.Descriptor(1, 1, 3, 1).ImageData(2, TCodePacker(2).Clear().Codes({1, 2, 0}).End().Bytes());
    std::unique_ptr<TGIFImage> gif = LoadGif(a.Trailer().Data());
    TBitmap bitmap;
    bitmap.Assign(*gif);
    ASSERT_EQ(bitmap.Width(), 4);
    ASSERT_EQ(bitmap.Height(), 3);
    EXPECT_EQ(bitmap.PixelColor(1, 1), ToColor(colours[1]));
    EXPECT_EQ(bitmap.PixelColor(3, 1), ToColor(colours[0]));
    if (transparent) {
      EXPECT_EQ(bitmap.PixelColor(2, 1), ToColor(colours[3]));
      EXPECT_EQ(bitmap.PixelColor(0, 0), ToColor(colours[3]));
    } else {
      EXPECT_EQ(bitmap.PixelColor(2, 1), ToColor(colours[2]));
    }
  }
}

// Drawn opaque, a transparent frame 0 first fills the rectangle with the background colour
// and then shows its transparent pixels in their own colour.
TEST(GifPicture, OpaqueDrawingOfATransparentFrame) {
  const std::vector<TRgb> colours = Ramp(4);
  TGifAssembler a;
  a.Screen(3, 2, colours, 3).Gce(1, 0, 2).Descriptor(0, 0, 2, 1);
  a.ImageData(2, TCodePacker(2).Clear().Codes({1, 2}).End().Bytes()).Trailer();
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data());
  auto shown = DrawOver(*gif, kBackA);
  EXPECT_EQ(shown->PixelColor(1, 0), kBackA);
  EXPECT_EQ(shown->PixelColor(2, 1), kBackA);
  gif->SetTransparent(false);
  auto opaque = DrawOver(*gif, kBackA);
  EXPECT_EQ(opaque->PixelColor(0, 0), ToColor(colours[1]));
  EXPECT_EQ(opaque->PixelColor(1, 0), ToColor(colours[2]));
  EXPECT_EQ(opaque->PixelColor(2, 1), ToColor(colours[3]));
}

// A 10 x 10 frame at (5, 5) of a 20 x 20 screen drawn into a 40 x 40 rectangle lands on
// (10, 10)-(30, 30), each pixel doubled; its transparent pixels keep what was beneath,
// stretched the same way.
TEST(GifPicture, FramePlacedAndScaledInTheDrawingRectangle) {
  const std::vector<TRgb> colours = Ramp(4);
  TBytes pixels;
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) pixels.push_back(uint8_t((x + 2 * y) % 3));
  TGifAssembler a;
  a.Screen(20, 20, colours).Gce(1, 0, 2).Descriptor(5, 5, 10, 10);
  a.ImageData(2, gif_build::LzwEncode(pixels, 2)).Trailer();
  std::unique_ptr<TGIFImage> gif = LoadGif(a.Data());
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(50, 50);
  FillPixels(target.View(), Rect(0, 0, 50, 50), kBackA);
  gif->Draw(target.Canvas(), Rect(0, 0, 40, 40));
  int wrong = 0;
  for (int y = 0; y < 50; ++y)
    for (int x = 0; x < 50; ++x) {
      TColor want = kBackA;
      if (x >= 10 && x < 30 && y >= 10 && y < 30) {
        const uint8_t index = pixels[size_t((y - 10) / 2) * 10 + size_t((x - 10) / 2)];
        if (index != 2) want = ToColor(colours[index]);
      }
      wrong += target.PixelColor(x, y) != want;
    }
  EXPECT_EQ(wrong, 0);
}

// Frame 0 covers the left half of the screen, frame 1 all of it. With the defaults, drawing
// shows frame 0 alone over what was beneath, however much time passes; an animating
// picture draws through the renderer instead, which fills the screen with the background
// colour around frame 0 and shows frame 1 once the first frame's time has run.
TEST(GifPicture, SeveralFramesDrawOnlyTheFirst) {
  TManualTimerService clock;
  TTimerServiceScope scope(clock);
  gif_build::TGiflibPicture p;
  p.Width = 4, p.Height = 2;
  p.GlobalMap = Ramp(4);
  p.Background = 3;
  p.Loops = 0;
  for (int v : {1, 2, 0}) {
    gif_build::TGiflibFrame f;
    f.Width = v == 1 ? 2 : 4, f.Height = 2, f.Delay = 10;
    f.Pixels.assign(size_t(f.Width * f.Height), uint8_t(v));
    p.Frames.push_back(f);
  }
  const TColor c[4] = {ToColor(p.GlobalMap[0]), ToColor(p.GlobalMap[1]), ToColor(p.GlobalMap[2]),
                       ToColor(p.GlobalMap[3])};
  for (bool animate : {false, true}) {
    SCOPED_TRACE(animate ? "animated" : "first frame");
    std::unique_ptr<TGIFImage> gif = LoadGif(gif_build::EncodeWithGiflib(p));
    ASSERT_EQ(gif->Images().Count(), 3);
    gif->SetAnimate(animate);
    TBitmap target;
    target.SetPixelFormat(pf24bit);
    target.SetSize(4, 2);
    FillPixels(target.View(), Rect(0, 0, 4, 2), kBackA);
    gif->Draw(target.Canvas(), Rect(0, 0, 4, 2));
    EXPECT_EQ(target.PixelColor(1, 1), c[1]);
    EXPECT_EQ(target.PixelColor(3, 1), animate ? c[3] : kBackA);
    EXPECT_EQ(clock.FireNext(), animate);  // only the renderer arms a timer
    gif->Draw(target.Canvas(), Rect(0, 0, 4, 2));
    EXPECT_EQ(target.PixelColor(1, 1), animate ? c[2] : c[1]);
    EXPECT_EQ(target.PixelColor(3, 1), animate ? c[2] : kBackA);
    gif->StopDraw();
  }
}

}  // namespace

namespace {

// The pixels worked out by hand for the code sequences above, confirmed by giflib, so that
// a fault in this file's expectations cannot pass for a fault of the codec.
TBytes GiflibPixels(const TBytes& file) {
  bool complete = false;
  gif_build::detail::TMemorySource source{};
  gif_build::TGiflibFile gif =
      gif_build::SlurpWithGiflib(file.data(), file.size(), &complete, &source);
  EXPECT_TRUE(complete);
  if (!complete) return {};
  const SavedImage& f = gif->SavedImages[0];
  return TBytes(f.RasterBits, f.RasterBits + f.ImageDesc.Width * f.ImageDesc.Height);
}

TEST(GifBuilder, HandWorkedCodesAgreeWithGiflib) {
  EXPECT_EQ(GiflibPixels(OneFrame(Ramp(16), 7, 1, 4,
                                  TCodePacker(4).Clear().Codes({1, 2, 18, 20}).End().Bytes())
                             .Trailer()
                             .Data()),
            (TBytes{1, 2, 1, 2, 1, 2, 1}));
  EXPECT_EQ(
      GiflibPixels(OneFrame(Ramp(16), 7, 1, 4, TCodePacker(4).Codes({1, 2, 18, 20}).End().Bytes())
                       .Trailer()
                       .Data()),
      (TBytes{1, 2, 1, 2, 1, 2, 1}));
  TCodePacker many(4);
  many.Clear().Clear().Clear().Codes({3, 4, 18}).Clear().Clear().Codes({5, 5, 18}).End();
  EXPECT_EQ(GiflibPixels(OneFrame(Ramp(16), 8, 1, 4, many.Bytes()).Trailer().Data()),
            (TBytes{3, 4, 3, 4, 5, 5, 5, 5}));
  for (int h = 1; h <= 9; ++h) {
    TBytes stored;
    for (int y : gif_build::detail::InterlacedRows(h)) stored.push_back(uint8_t(y));
    TBytes expected;
    for (int y = 0; y < h; ++y) expected.push_back(uint8_t(y));
    EXPECT_EQ(
        GiflibPixels(
            OneFrame(Ramp(16), 1, h, 4, gif_build::LzwEncode(stored, 4), 0x40).Trailer().Data()),
        expected);
  }
}

}  // namespace
