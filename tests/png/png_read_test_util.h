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

#include "pngimage.h"
#include "testdata.h"

namespace pngr {

using Bytes = std::vector<uint8_t>;

inline std::string SuiteFile(const std::string& name) {
  return vitrelle_test::TestDataPath("pngsuite/" + name);
}

inline Bytes ReadFile(const std::string& path) {
  TMemoryStream s;
  s.LoadFromFile(path);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

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
  for (int shift = 24; shift >= 0; shift -= 8) b.push_back(uint8_t(v >> shift));
}

// One chunk frame; a wrong CRC on request.
inline Bytes Chunk(const std::string& name, const Bytes& data, bool badCrc = false) {
  Bytes out;
  Put32(out, uint32_t(data.size()));
  out.insert(out.end(), name.begin(), name.end());
  out.insert(out.end(), data.begin(), data.end());
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(name.data()), 4);
  if (!data.empty()) crc = crc32(crc, data.data(), uInt(data.size()));
  Put32(out, uint32_t(crc) ^ (badCrc ? 1u : 0u));
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
  Bytes raw;
  for (size_t y = 0; y < rows; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), pixels.begin() + long(y * rowBytes),
               pixels.begin() + long((y + 1) * rowBytes));
  }
  return raw;
}

// A whole file: IHDR, extra chunks, the rows as IDAT, IEND.
inline Bytes SimplePng(uint32_t w, uint32_t h, uint8_t depth, uint8_t colorType, const Bytes& raw,
                       const Bytes& between = {}, size_t piece = 1 << 20) {
  return Concat({Signature(), Ihdr(w, h, depth, colorType), between,
                 IdatChunks(Compress(raw), piece), Chunk("IEND", {})});
}

// --- libpng as the independent decoder ---------------------------------------------

struct Decoded {
  uint32_t Width = 0, Height = 0;
  int ColorType = 0, BitDepth = 0;
  bool HasGamma = false;
  double FileGamma = 0;  // as stored x 100000
  Bytes Rgb;             // 8-bit R, G, B per pixel (16-bit samples: the high byte)
  Bytes Alpha;           // the alpha channel of grey+alpha and RGB+alpha images
};

struct MemReader {
  const Bytes* Data;
  size_t Pos;
};

inline void ReadCallback(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<MemReader*>(png_get_io_ptr(png));
  if (r->Pos + n > r->Data->size()) png_error(png, "short");
  std::memcpy(out, r->Data->data() + r->Pos, n);
  r->Pos += n;
}

// Decodes with libpng to 8-bit RGB (+ alpha for types 4 and 6). False on a libpng error.
inline bool DecodeWithLibpng(const Bytes& file, Decoded& out, bool trnsToAlpha = false) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  MemReader reader{&file, 0};
  std::vector<png_bytep> rows;
  Bytes buffer;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, ReadCallback);
  png_read_info(png, info);
  out.Width = png_get_image_width(png, info);
  out.Height = png_get_image_height(png, info);
  out.ColorType = png_get_color_type(png, info);
  out.BitDepth = png_get_bit_depth(png, info);
  png_fixed_point gamma = 0;
  out.HasGamma = png_get_gAMA_fixed(png, info, &gamma) != 0;
  out.FileGamma = double(gamma);
  png_set_strip_16(png);
  png_set_expand_gray_1_2_4_to_8(png);
  if (out.ColorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  png_set_gray_to_rgb(png);
  const bool trns = trnsToAlpha && png_get_valid(png, info, PNG_INFO_tRNS);
  if (trns) png_set_tRNS_to_alpha(png);
  const bool alpha = (out.ColorType & PNG_COLOR_MASK_ALPHA) != 0 || trns;
  if (!alpha) png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t stride = png_get_rowbytes(png, info);
  buffer.resize(stride * out.Height);
  for (uint32_t y = 0; y < out.Height; ++y) rows.push_back(buffer.data() + y * stride);
  png_read_image(png, rows.data());
  png_destroy_read_struct(&png, &info, nullptr);
  out.Rgb.clear();
  out.Alpha.clear();
  for (size_t i = 0; i < size_t(out.Width) * out.Height; ++i) {
    out.Rgb.insert(out.Rgb.end(), {buffer[4 * i], buffer[4 * i + 1], buffer[4 * i + 2]});
    if (alpha) out.Alpha.push_back(buffer[4 * i + 3]);
  }
  return true;
}

// The display table the picture class applies for a stored gamma value.
inline std::array<uint8_t, 256> GammaFor(double stored) {
  std::array<uint8_t, 256> table{};
  for (int i = 0; i < 256; ++i) {
    if (stored == 0) {
      table[size_t(i)] = uint8_t(i);
      continue;
    }
    const long double v = 255.0L * std::pow(i / 255.0L, 1.0L / (stored / 100000.0L * 2.2L));
    table[size_t(i)] = uint8_t(std::nearbyint(v));
  }
  return table;
}

// --- libpng as an independent writer ---------------------------------------------------

struct MemWriter {
  Bytes Data;
};

inline void WriteCallback(png_structp png, png_bytep in, png_size_t n) {
  auto* w = static_cast<MemWriter*>(png_get_io_ptr(png));
  w->Data.insert(w->Data.end(), in, in + n);
}
inline void FlushCallback(png_structp) {}

// Writes rows of raw PNG samples (packed as in the file) with libpng.
inline Bytes WriteWithLibpng(uint32_t w, uint32_t h, int depth, int colorType, bool interlaced,
                             const Bytes& samples, const Bytes& palette = {}) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  MemWriter writer;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &writer, WriteCallback, FlushCallback);
  png_set_IHDR(png, info, w, h, depth, colorType,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (colorType == PNG_COLOR_TYPE_PALETTE)
    png_set_PLTE(png, info, reinterpret_cast<png_const_colorp>(palette.data()),
                 int(palette.size() / 3));
  png_write_info(png, info);
  const size_t stride = samples.size() / h;
  std::vector<png_bytep> rows;
  for (uint32_t y = 0; y < h; ++y)
    rows.push_back(const_cast<png_bytep>(samples.data() + y * stride));
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return writer.Data;
}

}  // namespace pngr

namespace pngr {

// Number of pixels (colour or alpha) of image that differ from libpng's decode of file,
// with the gamma table applied as the picture class does; the first few are reported.
inline int CountMismatches(TPngImage& image, const Bytes& file) {
  Decoded ref;
  if (!DecodeWithLibpng(file, ref)) return -1;
  if (uint32_t(image.Width()) != ref.Width || uint32_t(image.Height()) != ref.Height) return -2;
  const auto gamma = GammaFor(ref.HasGamma ? ref.FileGamma : 0);
  const bool raw = ref.ColorType == PNG_COLOR_TYPE_GRAY_ALPHA;
  int bad = 0;
  for (uint32_t y = 0; y < ref.Height; ++y) {
    const uint8_t* alpha = image.AlphaScanline(int(y));
    if ((alpha != nullptr) != !ref.Alpha.empty()) return -3;
    for (uint32_t x = 0; x < ref.Width; ++x) {
      const size_t i = size_t(y) * ref.Width + x;
      const uint8_t* c = &ref.Rgb[3 * i];
      const TColor want =
          raw ? RGBColor(c[0], c[1], c[2]) : RGBColor(gamma[c[0]], gamma[c[1]], gamma[c[2]]);
      const TColor got = image.GetPixels(int(x), int(y));
      if (got != want && bad++ < 3)
        ADD_FAILURE() << "pixel " << x << "," << y << " got " << std::hex << got << " want " << want
                      << std::dec;
      if (alpha && alpha[x] != ref.Alpha[i] && bad++ < 3)
        ADD_FAILURE() << "alpha " << x << "," << y << " got " << int(alpha[x]) << " want "
                      << int(ref.Alpha[i]);
    }
  }
  return bad;
}

}  // namespace pngr
