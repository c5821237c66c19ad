// The peer of `vitrelle-img render` for PNG files, as a libpng user writes it: each row
// read with png_read_row into one buffer, composed over white with the same rounding as
// ours (rows without alpha are written as they come), written to a binary PPM through
// stdio. Used in process by bench_png_render and as the whole program png_render_peer.
#pragma once

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <vector>

// False when either file cannot be opened or libpng refuses the picture.
inline bool RenderWithLibpng(const char* in, const char* out) {
  FILE* src = std::fopen(in, "rb");
  FILE* dst = src ? std::fopen(out, "wb") : nullptr;
  if (!dst) {
    if (src) std::fclose(src);
    return false;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> row, rgb;
  bool ok = false;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, src);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    const bool alpha = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGBA;
    row.resize(png_get_rowbytes(png, info));
    rgb.resize(size_t(w) * 3);
    std::fprintf(dst, "P6\n%u %u\n255\n", w, h);
    for (png_uint_32 y = 0; y < h; ++y) {
      png_read_row(png, row.data(), nullptr);
      const uint8_t* p = row.data();
      if (!alpha) {
        std::fwrite(p, 1, rgb.size(), dst);
        continue;
      }
      for (png_uint_32 x = 0; x < w; ++x, p += 4) {
        const unsigned a = p[3];
        for (int c = 0; c < 3; ++c)
          rgb[3 * x + c] = uint8_t((255 * (255 - a) + p[c] * a + 127) / 255);
      }
      std::fwrite(rgb.data(), 1, rgb.size(), dst);
    }
    png_read_end(png, nullptr);
    ok = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(dst);
  std::fclose(src);
  return ok;
}
