// Test files made with libjpeg, and libjpeg used directly as the reference decoder.
#pragma once

#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "file_bytes.h"
#include "jpeg.h"
#include "testdata.h"

using Bytes = std::vector<uint8_t>;

inline Bytes ReadTestFile(const std::string& name) {
  return vitrelle_test::ReadFileBytes(vitrelle_test::TestDataPath("jpeg/" + name));
}

// Fatal errors in the helpers fail the test through a jump back to the caller.
struct TestErrorMgr {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
};
inline void TestErrorExit(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<TestErrorMgr*>(cinfo->err)->jump, 1);
}
inline void TestQuiet(j_common_ptr) {}

// Smooth gradients with some detail, as BGR rows; deterministic.
inline Bytes TestPattern(int w, int h) {
  Bytes bgr(size_t(w) * size_t(h) * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &bgr[(size_t(y) * size_t(w) + size_t(x)) * 3];
      p[0] = uint8_t(x * 255 / (w > 1 ? w - 1 : 1));
      p[1] = uint8_t(y * 255 / (h > 1 ? h - 1 : 1));
      p[2] = uint8_t(((x / 8) ^ (y / 8)) & 1 ? 200 : 40);
    }
  return bgr;
}

struct EncodeOptions {
  int quality = 90;
  bool progressive = false;
  bool grayscale = false;
  int components = 3;  // with JCS_UNKNOWN: raw components of no named colour space
  J_COLOR_SPACE space = JCS_EXT_BGR;
};

// Encodes rows with libjpeg's defaults, the way an ordinary program would.
inline Bytes EncodeWithLibrary(const Bytes& pixels, int w, int h, EncodeOptions o = {}) {
  jpeg_compress_struct c;
  TestErrorMgr err;
  c.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = TestErrorExit;
  unsigned char* out = nullptr;
  unsigned long size = 0;
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&c);
    ADD_FAILURE() << "libjpeg could not encode the test picture";
    return {};
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = o.components;
  c.in_color_space = o.space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, o.quality, TRUE);
  if (o.grayscale) jpeg_set_colorspace(&c, JCS_GRAYSCALE);
  if (o.progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    const size_t stride = size_t(w) * size_t(o.components);
    JSAMPROW row = const_cast<uint8_t*>(&pixels[size_t(c.next_scanline) * stride]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes result(out, out + size);
  jpeg_destroy_compress(&c);
  free(out);
  return result;
}

inline Bytes MakeJpeg(int w, int h, EncodeOptions o = {}) {
  return EncodeWithLibrary(TestPattern(w, h), w, h, o);
}

struct DecodeOptions {
  int scaleDenom = 1;
  bool grayscale = false;
  bool quantize = false;  // 236 colours, the decoder's own palette
};

struct Reference {
  int width = 0, height = 0, components = 0;
  Bytes pixels;                 // packed rows as the library delivers them
  std::vector<Bytes> colormap;  // one row per component when quantised
};

// libjpeg used directly: BGR output (or gray / CMYK), optional scale and quantising.
inline Reference DecodeWithLibrary(const Bytes& file, DecodeOptions o = {}) {
  jpeg_decompress_struct d;
  TestErrorMgr err;
  d.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = TestErrorExit;
  err.pub.output_message = TestQuiet;  // damaged test files warn; that is expected
  Reference ref;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&d);
    ADD_FAILURE() << "libjpeg could not decode the reference";
    return {};
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, file.data(), (unsigned long)file.size());
  jpeg_read_header(&d, TRUE);
  d.scale_num = 1;
  d.scale_denom = unsigned(o.scaleDenom);
  if (d.out_color_space == JCS_RGB) d.out_color_space = JCS_EXT_BGR;
  if (o.grayscale) d.out_color_space = JCS_GRAYSCALE;
  if (o.quantize || d.out_color_space == JCS_GRAYSCALE) {
    d.quantize_colors = TRUE;
    d.desired_number_of_colors = 236;
  }
  jpeg_start_decompress(&d);
  ref.width = int(d.output_width);
  ref.height = int(d.output_height);
  ref.components = d.output_components;
  ref.pixels.resize(size_t(ref.width) * size_t(ref.height) * size_t(ref.components));
  while (d.output_scanline < d.output_height) {
    JSAMPROW row =
        &ref.pixels[size_t(d.output_scanline) * size_t(ref.width) * size_t(ref.components)];
    jpeg_read_scanlines(&d, &row, 1);
  }
  if (d.quantize_colors)
    for (int c = 0; c < d.out_color_components; ++c)
      ref.colormap.emplace_back(d.colormap[c], d.colormap[c] + d.actual_number_of_colors);
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  return ref;
}

inline void LoadBytes(TJPEGImage& image, const Bytes& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  image.LoadFromStream(stream);
}

inline Bytes SaveBytes(TGraphic& image) {
  TMemoryStream stream;
  image.SaveToStream(stream);
  return Bytes(stream.Memory(), stream.Memory() + stream.Size());
}

// The bitmap's rows packed without padding, as the library would deliver them.
inline Bytes PackedRows(TBitmap& bitmap) {
  const size_t rowBytes = size_t(bitmap.Width()) * size_t(bitmap.BitCount() / 8);
  Bytes out;
  for (int y = 0; y < bitmap.Height(); ++y) {
    const uint8_t* row = bitmap.GetScanline(y);
    out.insert(out.end(), row, row + rowBytes);
  }
  return out;
}

// What a file's markers say. Inside entropy data 0xFF is always followed by 0x00 or a
// restart code, so marker bytes can be counted directly.
struct Markers {
  int scans = 0;
  bool baseline = false;
  int components = 0;
};
inline Markers ScanMarkers(const Bytes& b) {
  Markers m;
  for (size_t i = 0; i + 9 < b.size(); ++i) {
    if (b[i] != 0xFF) continue;
    if (b[i + 1] == 0xDA) ++m.scans;
    if (b[i + 1] >= 0xC0 && b[i + 1] <= 0xC2 && m.components == 0) {
      m.baseline = b[i + 1] == 0xC0;
      m.components = b[i + 9];
    }
  }
  return m;
}
