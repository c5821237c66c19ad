// Decoding of the image data: every colour type and bit depth, plain and Adam7, split
// IDAT streams, filters, gamma, and damaged or short image data.
#include <gtest/gtest.h>

#include <random>

#include "png_read_test_util.h"

using namespace pngr;

namespace {

struct Format {
  int ColorType, BitDepth;
};
const Format kFormats[] = {{0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16}, {2, 8}, {2, 16}, {3, 1},
                           {3, 2}, {3, 4}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};

size_t RowBytes(const Format& f, uint32_t width) {
  const int channels[] = {1, 0, 3, 1, 2, 0, 4};
  return (size_t(width) * channels[f.ColorType] * f.BitDepth + 7) / 8;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  Bytes b(n);
  for (auto& v : b) v = uint8_t(random());
  return b;
}

Bytes RandomPalette(int entries) {
  return RandomBytes(size_t(entries) * 3, 99);
}

}  // namespace

TEST(PngDecode, EveryFormatPlainAndInterlacedMatchesLibpng) {
  const std::pair<uint32_t, uint32_t> sizes[] = {{1, 1}, {3, 3}, {13, 7}, {33, 17}};
  for (const Format& f : kFormats)
    for (bool interlaced : {false, true})
      for (auto [w, h] : sizes) {
        SCOPED_TRACE(testing::Message() << "type " << f.ColorType << " depth " << f.BitDepth
                                        << (interlaced ? " Adam7 " : " plain ") << w << "x" << h);
        Bytes samples = RandomBytes(RowBytes(f, w) * h, w * 31 + h);
        const Bytes file =
            WriteWithLibpng(w, h, f.BitDepth, f.ColorType, interlaced, samples,
                            f.ColorType == 3 ? RandomPalette(1 << f.BitDepth) : Bytes{});
        ASSERT_FALSE(file.empty());
        TPngImage image;
        ASSERT_NO_THROW(Load(image, file));
        EXPECT_EQ(image.InterlaceMethod(), interlaced ? imAdam7 : imNone);
        EXPECT_EQ(CountMismatches(image, file), 0);
      }
}

TEST(PngDecode, SixteenBitSamplesKeepTheirLowBytes) {
  // Grey 16: high byte in the pixel rows, low byte in the extra plane.
  const Bytes grey = {0x12, 0x34, 0xAB, 0xCD};
  TPngImage g;
  Load(g, WriteWithLibpng(2, 1, 16, 0, false, grey));
  EXPECT_EQ(g.Scanline(0)[0], 0x12);
  EXPECT_EQ(g.Scanline(0)[1], 0xAB);
  EXPECT_EQ(g.ExtraScanline(0)[0], 0x34);
  EXPECT_EQ(g.ExtraScanline(0)[1], 0xCD);
  // RGB 16 (interlaced too): blue, green, red of both planes.
  const Bytes rgb = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
  for (bool interlaced : {false, true}) {
    TPngImage c;
    Load(c, WriteWithLibpng(1, 1, 16, 2, interlaced, rgb));
    const uint8_t* p = c.Scanline(0);
    const uint8_t* e = c.ExtraScanline(0);
    EXPECT_EQ((std::vector<int>{p[0], p[1], p[2], e[0], e[1], e[2]}),
              (std::vector<int>{5, 3, 1, 6, 4, 2}));
  }
}

TEST(PngDecode, BufferLayoutFollowsTheBitmapRules) {
  TPngImage mono;
  Load(mono, WriteWithLibpng(3, 2, 1, 0, false, {0xA0, 0x40}));
  EXPECT_EQ(mono.Header().BytesPerRow(), 4u);
  EXPECT_EQ(mono.Header().BitsPerPixel(), 1);
  EXPECT_EQ(mono.Scanline(0)[0] & 0xE0, 0xA0);
  // Bottom-up: the top row is stored last.
  EXPECT_EQ(mono.Scanline(0), mono.Header().ImageData() + 4);
  TPngImage rgb;
  Load(rgb, WriteWithLibpng(3, 1, 8, 2, false, RandomBytes(9, 1)));
  EXPECT_EQ(rgb.Header().BytesPerRow(), 12u);
  EXPECT_EQ(rgb.Header().BitsPerPixel(), 24);
  EXPECT_EQ(rgb.Palette(), nullptr);
}

TEST(PngDecode, TwoBitGreyShowsTheFullRange) {
  TPngImage image;
  Load(image, WriteWithLibpng(4, 1, 2, 0, false, {0x1B}));  // levels 0 1 2 3
  EXPECT_EQ(image.Header().BitsPerPixel(), 4);
  EXPECT_EQ(image.GetPixels(0, 0), RGBColor(0, 0, 0));
  EXPECT_EQ(image.GetPixels(1, 0), RGBColor(85, 85, 85));
  EXPECT_EQ(image.GetPixels(2, 0), RGBColor(170, 170, 170));
  EXPECT_EQ(image.GetPixels(3, 0), RGBColor(255, 255, 255));
  // A 2-bit palette image keeps its indices in 4-bit pixels.
  TPngImage pal;
  Load(pal, WriteWithLibpng(4, 1, 2, 3, false, {0x1B}, RandomPalette(4)));
  EXPECT_EQ(pal.Scanline(0)[0], 0x01);
  EXPECT_EQ(pal.Scanline(0)[1], 0x23);
}

TEST(PngDecode, SplitImageDataDecodesTheSame) {
  const uint32_t w = 20, h = 9;
  const Bytes pixels = RandomBytes(w * 3 * h, 7);
  const Bytes raw = RawRows(pixels, w * 3, h);
  TPngImage whole;
  Load(whole, SimplePng(w, h, 8, 2, raw));
  for (size_t piece : {1u, 2u, 3u, 7u, 64u}) {
    SCOPED_TRACE(piece);
    TPngImage split;
    ASSERT_NO_THROW(Load(split, SimplePng(w, h, 8, 2, raw, {}, piece)));
    for (uint32_t y = 0; y < h; ++y)
      ASSERT_EQ(0, std::memcmp(split.Scanline(int(y)), whole.Scanline(int(y)), w * 3));
    // One IDAT object stands for all of them.
    EXPECT_EQ(split.Chunks().Count(), 3);
  }
}

TEST(PngDecode, TrailingBytesInALargeChunkAreReadBeforeItsCrc) {
  // 70000 bytes after the end of the zlib stream inside the only IDAT chunk.
  const Bytes raw = RawRows(RandomBytes(8 * 3, 3), 3, 8);
  Bytes data = Compress(raw);
  data.resize(data.size() + 70000, 0x55);
  const Bytes file =
      Concat({Signature(), Ihdr(3, 8, 8, 0), Chunk("IDAT", data), Chunk("IEND", {})});
  TPngImage image;
  ASSERT_NO_THROW(Load(image, file));
  EXPECT_EQ(image.Scanline(7)[2], raw[7 * 4 + 3]);
}

// A sound file: one IDAT chunk of 65537 bytes holding a stored (uncompressed) zlib block.
// The rows are complete inside the first 65535-byte piece, while the last two bytes of the
// stream's Adler-32 check are still unread; its CRC follows them. libpng reads the file.
TEST(PngDecode, ChunkCrcIsReadAfterTheRestOfTheChunk) {
  const uint32_t width = 325, height = 201;  // (325 + 1) x 201 = 65526 bytes of rows
  Bytes pixels(size_t(width) * height);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = uint8_t(i * 7 / 3);
  const Bytes raw = RawRows(pixels, width, height);
  ASSERT_EQ(raw.size(), 65526u);
  Bytes stream = {0x78,
                  0x01,
                  0x01,
                  uint8_t(raw.size()),
                  uint8_t(raw.size() >> 8),
                  uint8_t(~raw.size()),
                  uint8_t(~raw.size() >> 8)};
  stream.insert(stream.end(), raw.begin(), raw.end());
  Put32(stream, uint32_t(adler32(adler32(0, nullptr, 0), raw.data(), uInt(raw.size()))));
  ASSERT_EQ(stream.size(), 65537u);
  const Bytes file =
      Concat({Signature(), Ihdr(width, height, 8, 0), Chunk("IDAT", stream), Chunk("IEND", {})});
  ASSERT_TRUE(DecodeWithLibpng(file).Ok);
  TPngImage image;
  ASSERT_NO_THROW(Load(image, file));
  EXPECT_EQ(CountMismatches(image, file), 0);
}

TEST(PngDecode, UnknownFilterTypeLeavesTheRowAsItIs) {
  const Bytes raw = {0, 10, 20, 30, 5, 1, 2, 3, 2, 1, 1, 1};  // rows: none, type 5, up
  TPngImage image;
  ASSERT_NO_THROW(Load(image, SimplePng(3, 3, 8, 0, raw)));
  EXPECT_EQ((std::vector<int>{image.Scanline(1)[0], image.Scanline(1)[1], image.Scanline(1)[2]}),
            (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(image.Scanline(2)[2], 4);  // Up adds the row above as it was left
}

TEST(PngDecode, FiltersReverseAgainstTheRowAbove) {
  // Sub, Up, Average and Paeth over 2-byte pixels (grey 16), worked out by hand.
  const Bytes raw = {1, 10, 1, 20, 2,   // Sub: 10 1 | 30 3
                     2, 1,  1, 1,  1,   // Up: 11 2 | 31 4
                     3, 0,  0, 10, 10,  // Average: 5 1 | 10+(5+31)/2 10+(1+4)/2
                     4, 1,  1, 1,  1};  // Paeth: 1+above | 1+Paeth(left, above, upper-left)
  TPngImage image;
  ASSERT_NO_THROW(Load(image, SimplePng(2, 4, 16, 0, raw)));
  auto row = [&](int y) {
    const uint8_t* hi = image.Scanline(y);
    const uint8_t* lo = image.ExtraScanline(y);
    return std::vector<int>{hi[0], lo[0], hi[1], lo[1]};
  };
  EXPECT_EQ(row(0), (std::vector<int>{10, 1, 30, 3}));
  EXPECT_EQ(row(1), (std::vector<int>{11, 2, 31, 4}));
  EXPECT_EQ(row(2), (std::vector<int>{5, 1, 28, 12}));
  // Paeth(6, 28, 5) and Paeth(2, 12, 1) both pick the byte above.
  EXPECT_EQ(row(3), (std::vector<int>{6, 2, 29, 13}));
}

// Sub, Average and Paeth over 3- and 4-byte pixels (their fast paths), at widths that end
// a row inside and at the edge of a step, checked against libpng.
TEST(PngDecode, FilteredColourRowsMatchLibpng) {
  for (const int colorType : {2, 6})
    for (const int filter : {1, 3, 4})
      for (const uint32_t w : {1u, 2u, 5u, 6u, 17u}) {
        SCOPED_TRACE(testing::Message()
                     << "type " << colorType << " filter " << filter << " width " << w);
        const size_t rowBytes = size_t(w) * (colorType == 2 ? 3 : 4);
        Bytes raw = RandomBytes((rowBytes + 1) * 4, w * 7 + uint32_t(filter));
        for (size_t y = 0; y < 4; ++y) raw[y * (rowBytes + 1)] = uint8_t(filter);
        const Bytes file = SimplePng(w, 4, 8, uint8_t(colorType), raw);
        TPngImage image;
        ASSERT_NO_THROW(Load(image, file));
        EXPECT_EQ(CountMismatches(image, file), 0);
      }
}

TEST(PngDecode, GammaTablesFollowTheGamaChunk) {
  auto gama = [](uint32_t v) {
    Bytes d;
    Put32(d, v);
    return Chunk("gAMA", d);
  };
  const Bytes raw = RawRows({0, 1, 128, 255}, 4, 1);
  TPngImage identity;
  Load(identity, SimplePng(4, 1, 8, 2 - 2, raw, gama(45455)));
  for (int i = 0; i < 256; ++i) ASSERT_EQ(identity.GammaTable[size_t(i)], i);
  TPngImage bright;
  Load(bright, SimplePng(4, 1, 8, 0, raw, gama(100000)));
  EXPECT_EQ(bright.GammaTable[128], 186);
  EXPECT_EQ(bright.GammaTable[1], 21);
  EXPECT_EQ(bright.InverseGamma[186], 128);
  // Grey keeps its indices; the corrected levels live in the palette.
  EXPECT_EQ(bright.Scanline(0)[2], 128);
  EXPECT_EQ(bright.GetPixels(2, 0), RGBColor(186, 186, 186));
  EXPECT_EQ(bright.Palette()->Entries()[128].peRed, 186);
  // RGB samples are corrected in the pixel rows.
  TPngImage rgb;
  Load(rgb, SimplePng(1, 1, 8, 2, RawRows({128, 1, 0}, 3, 1), gama(100000)));
  EXPECT_EQ(rgb.GetPixels(0, 0), RGBColor(186, 21, 0));
}

TEST(PngDecode, DamagedImageData) {
  const Bytes raw = RawRows(RandomBytes(16 * 16, 5), 16, 16);
  Bytes data = Compress(raw);
  // A corrupted deflate block.
  Bytes broken = data;
  broken[2] = 0xFF;
  broken[3] = 0xFF;
  try {
    TPngImage image;
    Load(image,
         Concat({Signature(), Ihdr(16, 16, 8, 0), Chunk("IDAT", broken), Chunk("IEND", {})}));
    FAIL() << "no error";
  } catch (const EPNGZLIBError& e) {
    const std::string m = e.Message();
    EXPECT_EQ(m.substr(m.size() - 15), "data error (-3)");
    EXPECT_NE(m.find("\r\n Description: "), std::string::npos);
  }
  // Image data continuing into another chunk.
  const Bytes head(data.begin(), data.begin() + 20), tail(data.begin() + 20, data.end());
  TPngImage missing;
  EXPECT_THROW(
      Load(missing, Concat({Signature(), Ihdr(16, 16, 8, 0), Chunk("IDAT", head),
                            Chunk("tEXt", {'a', 0, 'b'}), Chunk("IDAT", tail), Chunk("IEND", {})})),
      EPNGMissingMultipleIDAT);
  // A wrong CRC on a middle IDAT chunk.
  TPngImage crc;
  EXPECT_THROW(Load(crc, Concat({Signature(), Ihdr(16, 16, 8, 0), Chunk("IDAT", head, true),
                                 Chunk("IDAT", tail), Chunk("IEND", {})})),
               EPngInvalidCRC);
  // A preset dictionary can never be given: refused, not waited for.
  Bytes dict = {0x78, 0xBB, 0, 0, 0, 1, 0x03, 0x00};
  TPngImage needDict;
  EXPECT_THROW(Load(needDict, Concat({Signature(), Ihdr(16, 16, 8, 0), Chunk("IDAT", dict),
                                      Chunk("IEND", {})})),
               EPNGZLIBError);
}

TEST(PngDecode, ShortImageDataKeepsTheRowsDecodedSoFar) {
  Bytes pixels(16 * 16, 200);
  const Bytes raw = RawRows(pixels, 16, 16);
  // The zlib stream ends after 4 rows: no error, the other rows stay zero.
  TPngImage early;
  const Bytes fourRows(raw.begin(), raw.begin() + 4 * 17);
  ASSERT_NO_THROW(Load(early, SimplePng(16, 16, 8, 0, fourRows)));
  EXPECT_EQ(early.Scanline(3)[15], 200);
  EXPECT_EQ(early.Scanline(4)[0], 0);
  // The file ends inside the image data.
  const Bytes full = SimplePng(16, 16, 8, 0, raw);
  const Bytes cut(full.begin(), full.begin() + 33 + 8 + 12);
  TPngImage truncated;
  EXPECT_THROW(Load(truncated, cut), EPngUnexpectedEnd);
  ASSERT_EQ(truncated.Chunks().Count(), 2);
  EXPECT_NE(truncated.Chunks().Find<TChunkIDAT>(), nullptr);
}

TEST(PngDecode, HostileSizesStayWithinTheBudget) {
  const uint64_t budget = GetImageBudget();
  SetImageBudget(1 << 20);
  TPngImage image;
  EXPECT_THROW(Load(image, SimplePng(65535, 65535, 8, 6, Bytes(20, 0))), EPNGOutMemory);
  SetImageBudget(budget);
  // Chunk lengths past the end of the file: nothing is allocated for them.
  for (const char* name : {"tEXt", "IDAT"}) {
    Bytes file = Concat({Signature(), Ihdr(1, 1, 8, 0)});
    Put32(file, 0x7FFFFFF0);
    file.insert(file.end(), name, name + 4);
    file.insert(file.end(), {0x78, 0x9C});
    TPngImage longChunk;
    EXPECT_THROW(Load(longChunk, file), EPngUnexpectedEnd) << name;
  }
}
