// libpng as the tests' independent PNG decoder and writer: what another reader makes of a
// file, the gamma correction it computes for a gAMA value, and files it writes itself.
#pragma once

#include <png.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "file_bytes.h"

namespace vitrelle_test {

struct TLibpngOptions {
  bool Keep16 = false;      // 16-bit files keep both bytes (8 bytes a pixel, big-endian)
  bool TrnsToAlpha = true;  // a tRNS chunk becomes the alpha channel
  // Display gamma for png_set_gamma (0: no correction). Files without gAMA count as
  // 1 / ScreenGamma, so that only a gAMA chunk changes the samples.
  double ScreenGamma = 0;
};

// A picture as libpng reads it: RGBA after expansion (palette, low bit depths, grey to
// RGB), alpha 255 where the file has none.
struct TLibpngImage {
  bool Ok = false;
  std::string Error;
  uint32_t Width = 0, Height = 0;
  int ColorType = 0, BitDepth = 0;
  bool HasGamma = false;
  uint32_t FileGamma = 0;  // the gAMA value (gamma x 100000)
  bool HasAlpha = false;   // an alpha channel in the file, or tRNS made into one
  Bytes Rgba;
  const uint8_t* Pixel(uint32_t x, uint32_t y) const { return &Rgba[(size_t(y) * Width + x) * 4]; }
  Bytes Rgb() const {
    Bytes out;
    for (size_t i = 0; i + 3 < Rgba.size(); i += 4) out.insert(out.end(), &Rgba[i], &Rgba[i + 3]);
    return out;
  }
  Bytes Alpha() const {
    Bytes out;
    for (size_t i = 3; i < Rgba.size(); i += 4) out.push_back(Rgba[i]);
    return out;
  }
};

namespace libpng_detail {
struct TReadState {
  const Bytes* Data;
  size_t Pos;
};
inline void ReadFromMemory(png_structp png, png_bytep out, png_size_t count) {
  auto* s = static_cast<TReadState*>(png_get_io_ptr(png));
  if (s->Pos + count > s->Data->size()) png_error(png, "read past the end");
  std::memcpy(out, s->Data->data() + s->Pos, count);
  s->Pos += count;
}
inline void OnError(png_structp png, png_const_charp message) {
  *static_cast<std::string*>(png_get_error_ptr(png)) = message;
  png_longjmp(png, 1);
}
inline void OnWarning(png_structp, png_const_charp) {}
}  // namespace libpng_detail

inline TLibpngImage DecodeWithLibpng(const Bytes& file, TLibpngOptions o = {}) {
  TLibpngImage result;
  libpng_detail::TReadState state{&file, 0};
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &result.Error,
                                           libpng_detail::OnError, libpng_detail::OnWarning);
  png_infop info = png_create_info_struct(png);
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_read_fn(png, &state, libpng_detail::ReadFromMemory);
    png_read_info(png, info);
    result.ColorType = png_get_color_type(png, info);
    result.BitDepth = png_get_bit_depth(png, info);
    png_fixed_point gamma = 0;
    result.HasGamma = png_get_gAMA_fixed(png, info, &gamma) != 0;
    result.FileGamma = uint32_t(gamma);
    const bool trns = o.TrnsToAlpha && png_get_valid(png, info, PNG_INFO_tRNS);
    result.HasAlpha = (result.ColorType & PNG_COLOR_MASK_ALPHA) != 0 || trns;
    if (trns) png_set_tRNS_to_alpha(png);
    if (result.ColorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    png_set_expand_gray_1_2_4_to_8(png);
    const bool wide = o.Keep16 && result.BitDepth == 16;
    if (!wide) png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, wide ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    // png_set_gamma's file gamma takes the place of the chunk's: pass the chunk's value.
    if (o.ScreenGamma > 0)
      png_set_gamma(png, o.ScreenGamma,
                    result.HasGamma ? result.FileGamma / 100000.0 : 1.0 / o.ScreenGamma);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    result.Width = png_get_image_width(png, info);
    result.Height = png_get_image_height(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    result.Rgba.assign(rowBytes * result.Height, 0);
    rows.resize(result.Height);
    for (uint32_t y = 0; y < result.Height; ++y) rows[y] = &result.Rgba[size_t(y) * rowBytes];
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    result.Ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  return result;
}

namespace libpng_detail {
struct TWriteState {
  Bytes Data;
};
inline void WriteToMemory(png_structp png, png_bytep in, png_size_t n) {
  auto* w = static_cast<TWriteState*>(png_get_io_ptr(png));
  w->Data.insert(w->Data.end(), in, in + n);
}
inline void Flush(png_structp) {}
}  // namespace libpng_detail

// libpng leaves the samples alone when the correction exponent 1 / (gamma x 2.2) is within
// 5 % of 1 (its significance threshold), where a strict formula still moves a few levels
// by one: for those files libpng's table is the identity and comparisons allow 1.
inline bool LibpngCorrectsGamma(uint32_t stored) {
  const double exponent = 100000.0 / (double(stored) * 2.2);
  return stored != 0 && (exponent < 0.95 || exponent > 1.05);
}

// What libpng's gamma correction makes of each 8-bit sample of a file with the gAMA value
// `stored` (gamma x 100000) on a display of gamma 2.2: a 256 x 1 grey ramp written with
// that gAMA chunk and read back through png_set_gamma. An empty table when libpng fails.
inline std::array<uint8_t, 256> LibpngGammaTable(uint32_t stored) {
  std::array<uint8_t, 256> table{};
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  libpng_detail::TWriteState writer;
  Bytes ramp(256);
  for (int i = 0; i < 256; ++i) ramp[size_t(i)] = uint8_t(i);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return table;
  }
  png_set_write_fn(png, &writer, libpng_detail::WriteToMemory, libpng_detail::Flush);
  png_set_IHDR(png, info, 256, 1, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_gAMA_fixed(png, info, png_fixed_point(stored));
  png_write_info(png, info);
  png_bytep row = ramp.data();
  png_write_rows(png, &row, 1);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  const TLibpngImage read = DecodeWithLibpng(writer.Data, TLibpngOptions{false, false, 2.2});
  if (!read.Ok) return table;
  for (int i = 0; i < 256; ++i) table[size_t(i)] = read.Pixel(uint32_t(i), 0)[0];
  return table;
}

// Writes rows of raw PNG samples (packed as in the file) with libpng; empty on failure.
inline Bytes WriteWithLibpng(uint32_t w, uint32_t h, int depth, int colorType, bool interlaced,
                             const Bytes& samples, const Bytes& palette = {}) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  libpng_detail::TWriteState writer;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(png, &writer, libpng_detail::WriteToMemory, libpng_detail::Flush);
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

}  // namespace vitrelle_test
