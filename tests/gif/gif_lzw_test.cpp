// LZW decoding: clear codes, the KwKwK case, a full table, interlacing, early ends, bad
// code sizes and corrupt tables; and agreement with giflib's encoder on varied pictures.
#include <gif_lib.h>

#include <random>

#include "gif_builder.h"
#include "gif_unit_util.h"

using namespace giftest;

namespace {

// A one-frame GIF of the given size around hand-made image data (min code size 2 unless
// the data says otherwise), with an optional transparent index.
Bytes OneFrame(int w, int h, const Bytes& imageData, int transparent = -1,
               bool interlaced = false) {
  Bytes gif = Header(w, h, 2);
  if (transparent >= 0) Append(gif, Gce(transparent));
  Append(gif, Descriptor(0, 0, w, h, interlaced));
  Append(gif, imageData);
  gif.push_back(';');
  return gif;
}

std::vector<uint8_t> Decode(const Bytes& gif, TCollected* warnings = nullptr) {
  TGIFImage image;
  if (warnings) image.OnWarning = warnings->Handler();
  LoadBytes(image, gif);
  EXPECT_EQ(image.Images().Count(), 1);
  if (image.Images().Count() != 1) return {};
  return FramePixels(*image.Images().Frames(0));
}

}  // namespace

TEST(GifLzw, OnePixelWithClearAndEnd) {
  EXPECT_EQ(Decode(OneFrame(1, 1, ImageData(2, {{4, 3}, {3, 3}, {5, 3}}))), (Bytes{3}));
}

TEST(GifLzw, CodeEndingAtTheLastBitOfTheDataIsRead) {
  // Clear code and one pixel, 4 bits each, fill exactly one byte; no end code follows.
  for (bool interlaced : {false, true}) {
    Bytes gif = Header(1, 1, 3);
    Append(gif, Descriptor(0, 0, 1, 1, interlaced));
    Append(gif, ImageData(3, {{8, 4}, {5, 4}}));
    gif.push_back(';');
    TCollected warnings;
    EXPECT_EQ(Decode(gif, &warnings), Bytes{5}) << interlaced;
    EXPECT_TRUE(warnings.Messages.empty()) << interlaced;
    bool complete = false;
    gif_build::detail::TMemorySource source{};
    gif_build::TGiflibFile peer =
        gif_build::SlurpWithGiflib(gif.data(), gif.size(), &complete, &source);
    ASSERT_TRUE(peer && complete);
    EXPECT_EQ(peer->SavedImages[0].RasterBits[0], 5);
  }
}

TEST(GifLzw, ClearCodesMissingAtStartOrRepeated) {
  // No clear code at all: the decoder starts as after one.
  EXPECT_EQ(Decode(OneFrame(3, 1, ImageData(2, {{1, 3}, {2, 3}, {3, 3}, {5, 3}}))),
            (Bytes{1, 2, 3}));
  // Several clears in a row, and one in the middle resetting the table.
  EXPECT_EQ(
      Decode(OneFrame(
          3, 1, ImageData(2, {{4, 3}, {4, 3}, {4, 3}, {1, 3}, {2, 3}, {4, 3}, {3, 3}, {5, 3}}))),
      (Bytes{1, 2, 3}));
}

TEST(GifLzw, CodeEqualToNextFreeEntry) {
  // 1, then code 6 before it exists: the string 1 1; then 2.
  EXPECT_EQ(Decode(OneFrame(2, 2, ImageData(2, {{4, 3}, {1, 3}, {6, 3}, {2, 3}, {5, 3}}))),
            (Bytes{1, 1, 1, 2}));
  // A chain through KwKwK entries: 0, 6 = 00, 7 = 000.
  EXPECT_EQ(Decode(OneFrame(6, 1, ImageData(2, {{4, 3}, {0, 3}, {6, 3}, {7, 3}, {5, 4}}))),
            (Bytes{0, 0, 0, 0, 0, 0}));
}

TEST(GifLzw, FullTableWithoutClearKeepsDecoding) {
  // 5000 literal codes with 8-bit minimum size: the table fills after 3838 of them and
  // the rest are read at 12 bits without a clear code. Then a code naming entry 300,
  // which holds literals 42 and 43 (entry 258 + k holds literals k and k + 1).
  std::vector<int> pixels;
  for (int i = 0; i < 5000; ++i) pixels.push_back((i * 7) % 256);
  auto codes = LiteralCodes(8, pixels, false);
  codes.push_back({300, 12});
  codes.push_back({257, 12});
  Bytes gif = Header(5002, 1, 8);
  Append(gif, Descriptor(0, 0, 5002, 1));
  Append(gif, ImageData(8, codes));
  gif.push_back(';');
  TGIFImage image;
  LoadBytes(image, gif);
  Bytes got = FramePixels(*image.Images().Frames(0));
  ASSERT_EQ(got.size(), 5002u);
  for (int i = 0; i < 5000; ++i) ASSERT_EQ(got[size_t(i)], pixels[size_t(i)]) << i;
  EXPECT_EQ(got[5000], pixels[42]);
  EXPECT_EQ(got[5001], pixels[43]);
}

TEST(GifLzw, InterlacedHeightsFillEveryRowOnce) {
  for (int h = 1; h <= 9; ++h) {
    // Stream order of rows: 0, 8, ...; 4, 12, ...; 2, 6, ...; 1, 3, ...
    std::vector<int> order;
    for (int r = 0; r < h; r += 8) order.push_back(r);
    for (int r = 4; r < h; r += 8) order.push_back(r);
    for (int r = 2; r < h; r += 4) order.push_back(r);
    for (int r = 1; r < h; r += 2) order.push_back(r);
    ASSERT_EQ(int(order.size()), h);
    std::vector<int> pixels;
    for (int r : order)
      for (int x = 0; x < 3; ++x) pixels.push_back(r + 1);
    Bytes gif = Header(3, h, 4);
    Append(gif, Descriptor(0, 0, 3, h, true));
    Append(gif, ImageData(4, LiteralCodes(4, pixels)));
    gif.push_back(';');
    TGIFImage image;
    LoadBytes(image, gif);
    Bytes got = FramePixels(*image.Images().Frames(0));
    ASSERT_EQ(int(got.size()), 3 * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < 3; ++x) EXPECT_EQ(got[size_t(y * 3 + x)], y + 1) << "h=" << h;
  }
}

TEST(GifLzw, DataEndingEarlyKeepsDecodedPixelsAndFillsTheRest) {
  std::vector<int> pixels{1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2, 3, 1, 2};
  Bytes data = PackCodes(LiteralCodes(2, pixels, false));
  data.resize(4);  // about 8 codes survive
  Bytes gif = Header(10, 4, 2);
  Append(gif, Gce(3));
  Append(gif, Descriptor(0, 0, 10, 4));
  gif.push_back(2);
  gif.push_back(uint8_t(data.size() + 10));  // the sub-block claims more than the file holds
  Append(gif, data);
  TCollected warnings;
  Bytes got = Decode(gif, &warnings);
  EXPECT_TRUE(warnings.Has("Fin prématurée des données"));
  EXPECT_TRUE(warnings.Has("Décoder le tampon de bits à l'exécution"));
  ASSERT_EQ(got.size(), 40u);
  EXPECT_EQ(got[0], 1);
  EXPECT_EQ(got[1], 2);
  EXPECT_EQ(got[39], 3);  // the transparent index where nothing was decoded
  // Without transparency the rest stays 0; without a handler the load is silent.
  Bytes opaque = Header(10, 4, 2);
  Append(opaque, Descriptor(0, 0, 10, 4));
  Append(opaque, Bytes{2, uint8_t(data.size())});
  Append(opaque, data);
  EXPECT_EQ(Decode(opaque)[39], 0);
}

TEST(GifLzw, MinimumCodeSize13GivesNoPixels) {
  TCollected warnings;
  TGIFImage image;
  image.OnWarning = warnings.Handler();
  LoadBytes(image, OneFrame(2, 2, ImageData(13, {{1, 14}})));
  EXPECT_TRUE(warnings.Has("Données GIF incorrectes"));
  EXPECT_TRUE(image.Images().Count() == 0 || image.Images().Frames(0)->Empty());
}

TEST(GifLzw, CodeSize12StopsAtCodesBeyondTheTable) {
  // 13-bit codes: literals below 4096 decode, 4096 and above end decoding with a warning.
  TCollected warnings;
  Bytes got =
      Decode(OneFrame(3, 1, ImageData(12, {{7, 13}, {9, 13}, {5000, 13}, {1, 13}})), &warnings);
  EXPECT_EQ(got, (Bytes{7, 9, 0}));
  EXPECT_TRUE(warnings.Has("Données GIF incorrectes"));
}

TEST(GifLzw, CircularEntriesFail) {
  // First code 6 after the clear makes entry 6 its own prefix.
  try {
    Decode(OneFrame(8, 1, ImageData(2, {{4, 3}, {6, 3}, {1, 3}, {6, 3}, {5, 3}})));
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Entrée de la table du décodeur circulaire");
  }
  // Entries 6 and 7 naming each other: the chain overflows the decoder's stack.
  try {
    Decode(OneFrame(20, 1, ImageData(2, {{4, 3}, {7, 3}, {6, 3}, {7, 3}, {6, 4}, {5, 4}})));
    FAIL() << "no error";
  } catch (const GIFException& e) {
    EXPECT_EQ(e.Message(), "Données GIF incorrectes");
  }
}

TEST(GifLzw, HugeFrameInTinyFileIsNotAllocated) {
  Bytes gif = Header(10, 10, 2);
  Append(gif, Descriptor(0, 0, 65535, 65535));
  Append(gif, ImageData(2, {{4, 3}, {1, 3}, {5, 3}}));
  gif.push_back(';');
  SetImageBudget(1 << 20);
  TCollected warnings;
  TGIFImage image;
  image.OnWarning = warnings.Handler();
  EXPECT_NO_THROW(LoadBytes(image, gif));
  SetImageBudget(uint64_t(1) << 30);
  EXPECT_TRUE(warnings.Has("Taille d'image incorrecte"));
  EXPECT_TRUE(image.Images().Count() == 0 || image.Images().Frames(0)->Empty());
}

namespace {

struct TWriteState {
  Bytes Out;
};
int WriteToVector(GifFileType* g, const GifByteType* data, int n) {
  auto* s = static_cast<TWriteState*>(g->UserData);
  s->Out.insert(s->Out.end(), data, data + n);
  return n;
}

// giflib writes the picture (rows given in stream order when interlaced).
Bytes EncodeWithGiflib(int w, int h, int bits, const Bytes& pixels, bool interlaced) {
  TWriteState state;
  int error = 0;
  GifFileType* g = EGifOpen(&state, WriteToVector, &error);
  ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
  for (int i = 0; i < (1 << bits); ++i) map->Colors[i] = GifColorType{uint8_t(i), uint8_t(i), 0};
  EGifPutScreenDesc(g, w, h, bits, 0, map);
  EGifPutImageDesc(g, 0, 0, w, h, interlaced, nullptr);
  std::vector<int> order;
  if (interlaced) {
    for (int pass = 0; pass < 4; ++pass)
      for (int r = (int[]){0, 4, 2, 1}[pass]; r < h; r += (int[]){8, 8, 4, 2}[pass])
        order.push_back(r);
  } else {
    for (int r = 0; r < h; ++r) order.push_back(r);
  }
  for (int r : order) {
    Bytes row(pixels.begin() + ptrdiff_t(r) * w, pixels.begin() + ptrdiff_t(r + 1) * w);
    EGifPutLine(g, row.data(), w);
  }
  EGifCloseFile(g, &error);
  GifFreeMapObject(map);
  return state.Out;
}

}  // namespace

TEST(GifLzw, AgreesWithGiflibEncoderOnVariedPictures) {
  std::mt19937 random(12345);
  for (int round = 0; round < 40; ++round) {
    int w = 1 + int(random() % 300), h = 1 + int(random() % 200);
    int bits = 1 + int(random() % 8);
    bool interlaced = round % 3 == 0;
    Bytes pixels(size_t(w) * size_t(h));
    // Runs of varying length give long strings and table resets.
    int run = 1 + int(random() % (round % 2 ? 400 : 3));
    uint8_t value = 0;
    for (size_t i = 0; i < pixels.size(); ++i) {
      if (i % size_t(run) == 0) value = uint8_t(random() % (1u << bits));
      pixels[i] = value;
    }
    Bytes gif = EncodeWithGiflib(w, h, bits, pixels, interlaced);
    TGIFImage image;
    LoadBytes(image, gif);
    ASSERT_EQ(image.Images().Count(), 1);
    ASSERT_EQ(FramePixels(*image.Images().Frames(0)), pixels) << "round " << round;
  }
}

TEST(GifLzw, DataBeyondTheLastPixelIsIgnored) {
  // 0, 6 = 00, 7 = 000, 8 = 0000: ten pixels of data for a frame of seven, in both orders.
  auto codes = std::vector<std::pair<int, int>>{{4, 3}, {0, 3}, {6, 3}, {7, 3}, {8, 4}, {5, 4}};
  EXPECT_EQ(Decode(OneFrame(7, 1, ImageData(2, codes))), Bytes(7, 0));
  Bytes interlaced = Decode(OneFrame(1, 7, ImageData(2, codes), -1, true));
  EXPECT_EQ(interlaced, Bytes(7, 0));
}
