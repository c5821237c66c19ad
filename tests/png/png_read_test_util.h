// Helpers of the PNG reading tests: hand-built files (chunk by chunk, with the image data
// compressed by zlib) and libpng as an independent decoder and writer.
#pragma once

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "libpng_oracle.h"
#include "pngimage.h"
#include "testdata.h"

namespace pngr {

using vitrelle_test::Bytes;

inline std::string SuiteFile(const std::string& name) {
  return vitrelle_test::TestDataPath("pngsuite/" + name);
}

using vitrelle_test::DecodeWithLibpng;
using vitrelle_test::LibpngGammaTable;
using vitrelle_test::ReadFileBytes;
using vitrelle_test::TLibpngImage;
using vitrelle_test::TLibpngOptions;
using vitrelle_test::WriteWithLibpng;

inline void Load(TPngImage& image, const Bytes& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  image.LoadFromStream(stream);
}

inline Bytes Save(TPngImage& image) {
  TMemoryStream s;
  image.SaveToStream(s);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

inline void Put32(Bytes& b, uint32_t v) {
  vitrelle_test::AppendBigEndian32(b, v);
}

// One chunk frame; a wrong CRC on request. (Built in place: GCC 12 at -O3 sees
// overflows that are not there in a frame grown by inserts.)
inline Bytes Chunk(const std::string& name, const Bytes& data, bool badCrc = false) {
  Bytes out(12 + data.size());
  const auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
  };
  put(0, uint32_t(data.size()));
  for (size_t i = 0; i < 4 && i < name.size(); ++i) out[4 + i] = uint8_t(name[i]);
  if (!data.empty()) std::memcpy(&out[8], data.data(), data.size());
  uLong crc = crc32(0, &out[4], 4);
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  put(8 + data.size(), uint32_t(crc) ^ (badCrc ? 1u : 0u));
  return out;
}

inline Bytes Ihdr(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, uint8_t interlace = 0,
                  uint8_t filter = 0, uint8_t compression = 0) {
  Bytes d;
  Put32(d, w);
  Put32(d, h);
  d.insert(d.end(), {depth, colorType, compression, filter, interlace});
  return Chunk("IHDR", d);
}

inline Bytes Signature() {
  return Bytes{137, 80, 78, 71, 13, 10, 26, 10};
}

inline Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes Compress(const Bytes& raw, int level = 6) {
  uLongf size = compressBound(uLong(raw.size()));
  Bytes out(size);
  compress2(out.data(), &size, raw.data(), uLong(raw.size()), level);
  out.resize(size);
  return out;
}

// IDAT chunks carrying `compressed` in pieces of `piece` bytes.
inline Bytes IdatChunks(const Bytes& compressed, size_t piece) {
  Bytes out;
  for (size_t at = 0; at < compressed.size(); at += piece) {
    const size_t n = std::min(piece, compressed.size() - at);
    const Bytes part(compressed.begin() + long(at), compressed.begin() + long(at + n));
    const Bytes c = Chunk("IDAT", part);
    out.insert(out.end(), c.begin(), c.end());
  }
  return out;
}

// Filtered scan lines (filter type 0) of rows of rowBytes bytes.
inline Bytes RawRows(const Bytes& pixels, size_t rowBytes, size_t rows) {
  Bytes raw(rows * (rowBytes + 1), 0);  // built in place, as Chunk is
  for (size_t y = 0; y < rows && rowBytes > 0; ++y)
    std::memcpy(&raw[y * (rowBytes + 1) + 1], &pixels[y * rowBytes], rowBytes);
  return raw;
}

// A whole file: IHDR, extra chunks, the rows as IDAT, IEND.
inline Bytes SimplePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, const Bytes& raw,
                       const Bytes& between = {}, size_t piece = 1 << 20) {
  return Concat({Signature(), Ihdr(w, h, depth, colorType), between,
                 IdatChunks(Compress(raw), piece), Chunk("IEND", {})});
}

}  // namespace pngr

namespace pngr {

// Number of pixels (colour or alpha) of image that differ from libpng's decode of file,
// with libpng's own gamma correction for the file's gAMA value applied to the colours (grey
// with alpha is shown without gamma; within libpng's threshold, 1 level apart is the same);
// the first few are reported.
inline int CountMismatches(TPngImage& image, const Bytes& file) {
  const TLibpngImage ref = DecodeWithLibpng(file, TLibpngOptions{false, false, 0});
  if (!ref.Ok) return -1;
  if (uint32_t(image.Width()) != ref.Width || uint32_t(image.Height()) != ref.Height) return -2;
  std::array<uint8_t, 256> gamma{};
  for (int i = 0; i < 256; ++i) gamma[size_t(i)] = uint8_t(i);
  if (ref.HasGamma) gamma = LibpngGammaTable(ref.FileGamma);
  const bool raw = ref.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA;
  const int tolerance = ref.HasGamma && !raw && !vitrelle_test::LibpngCorrectsGamma(ref.FileGamma);
  const auto near = [&](TColor a, TColor b) {
    for (int shift = 0; shift < 24; shift += 8)
      if (std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)) > tolerance) return false;
    return true;
  };
  int bad = 0;
  for (uint32_t y = 0; y < ref.Height; ++y) {
    const uint8_t* alpha = image.AlphaScanline(int(y));
    if ((alpha != nullptr) != ref.HasAlpha) return -3;
    for (uint32_t x = 0; x < ref.Width; ++x) {
      const uint8_t* c = ref.Pixel(x, y);
      const TColor want =
          raw ? RGBColor(c[0], c[1], c[2]) : RGBColor(gamma[c[0]], gamma[c[1]], gamma[c[2]]);
      const TColor got = image.GetPixels(int(x), int(y));
      if (!near(got, want) && bad++ < 3)
        ADD_FAILURE() << "pixel " << x << "," << y << " got " << std::hex << got << " want " << want
                      << std::dec;
      if (alpha && alpha[x] != c[3] && bad++ < 3)
        ADD_FAILURE() << "alpha " << x << "," << y << " got " << int(alpha[x]) << " want "
                      << int(c[3]);
    }
  }
  return bad;
}

}  // namespace pngr
