// TJPEGImage beside libjpeg used directly on a 12-megapixel photograph-like picture:
// loading and drawing (the workspace's path) against a plain decode loop into a buffer,
// and compressing a bitmap against a plain encode loop. Prints the ratios at the end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "jpeg.h"
#include "ratio.h"

namespace {

constexpr int W = 4000, H = 3000;  // 12 MP

// Gradients, edges and noise, so that the entropy data is as busy as a photograph's.
const std::vector<uint8_t>& PictureBgr() {
  static const std::vector<uint8_t> bgr = [] {
    std::vector<uint8_t> p(size_t(W) * H * 3);
    uint32_t seed = 12345;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const int noise = int(seed >> 27) - 16;
        uint8_t* q = &p[(size_t(y) * W + x) * 3];
        q[0] = uint8_t(std::clamp(x * 255 / W + noise, 0, 255));
        q[1] = uint8_t(std::clamp(y * 255 / H + noise, 0, 255));
        q[2] = uint8_t(std::clamp(((x / 37 + y / 23) % 5) * 50 + noise, 0, 255));
      }
    return p;
  }();
  return bgr;
}

std::vector<uint8_t> EncodePlain(const std::vector<uint8_t>& bgr) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = W;
  c.image_height = H;
  c.input_components = 3;
  c.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 90, TRUE);
  jpeg_start_compress(&c, TRUE);
  JSAMPROW rows[16];
  while (c.next_scanline < c.image_height) {
    unsigned n = std::min(16u, c.image_height - c.next_scanline);
    for (unsigned i = 0; i < n; ++i)
      rows[i] = const_cast<uint8_t*>(&bgr[size_t(c.next_scanline + i) * W * 3]);
    jpeg_write_scanlines(&c, rows, n);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> result(out, out + size);
  jpeg_destroy_compress(&c);
  free(out);
  return result;
}

const std::vector<uint8_t>& PictureJpeg() {
  static const std::vector<uint8_t> file = EncodePlain(PictureBgr());
  return file;
}

void BM_DecodePlainLibrary(benchmark::State& state) {
  const auto& file = PictureJpeg();
  for (auto _ : state) {
    jpeg_decompress_struct d;
    jpeg_error_mgr err;
    d.err = jpeg_std_error(&err);
    jpeg_create_decompress(&d);
    jpeg_mem_src(&d, file.data(), (unsigned long)file.size());
    jpeg_read_header(&d, TRUE);
    d.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&d);
    const size_t stride = size_t(d.output_width) * 3;
    auto* pixels = static_cast<uint8_t*>(malloc(stride * d.output_height));
    JSAMPROW rows[16];
    while (d.output_scanline < d.output_height) {
      unsigned n = std::min(16u, d.output_height - d.output_scanline);
      for (unsigned i = 0; i < n; ++i) rows[i] = pixels + (d.output_scanline + i) * stride;
      jpeg_read_scanlines(&d, rows, n);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    benchmark::DoNotOptimize(pixels[stride]);
    free(pixels);
  }
}

// What the workspace does with a customer's photograph: load, then draw it scaled to
// fit the display.
void BM_DecodeTJPEGImage(benchmark::State& state) {
  const auto& file = PictureJpeg();
  TBitmap display;
  display.SetSize(1024, 768);
  for (auto _ : state) {
    TJPEGImage image;
    TReadOnlyMemoryStream stream(file.data(), file.size());
    image.LoadFromStream(stream);
    image.Draw(display.Canvas(), Rect(0, 0, 1024, 768));
    benchmark::DoNotOptimize(display.GetScanline(0)[0]);
  }
}

// The same without the drawing: what the class itself adds to the library's decoding.
void BM_DecodeOnlyTJPEGImage(benchmark::State& state) {
  const auto& file = PictureJpeg();
  for (auto _ : state) {
    TJPEGImage image;
    TReadOnlyMemoryStream stream(file.data(), file.size());
    image.LoadFromStream(stream);
    image.DIBNeeded();
    benchmark::DoNotOptimize(image.Bitmap()->GetScanline(0)[0]);
  }
}

void BM_EncodePlainLibrary(benchmark::State& state) {
  const auto& bgr = PictureBgr();
  for (auto _ : state) benchmark::DoNotOptimize(EncodePlain(bgr).size());
}

std::unique_ptr<TBitmap> PictureBitmap() {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetSize(W, H);
  const auto& bgr = PictureBgr();
  for (int y = 0; y < H; ++y) std::memcpy(bitmap->GetScanline(y), &bgr[size_t(y) * W * 3], W * 3);
  return bitmap;
}

// The export path: a bitmap given to a new image, compressed when saved.
void BM_EncodeTJPEGImage(benchmark::State& state) {
  auto bitmap = PictureBitmap();
  TJPEGImage image;
  image.Assign(*bitmap);
  for (auto _ : state) {
    image.Compress();
    TMemoryStream out;
    image.SaveToStream(out);
    benchmark::DoNotOptimize(out.Size());
  }
}

void BM_AssignAndSaveTJPEGImage(benchmark::State& state) {
  auto bitmap = PictureBitmap();
  for (auto _ : state) {
    TJPEGImage image;
    image.Assign(*bitmap);
    TMemoryStream out;
    image.SaveToStream(out);
    benchmark::DoNotOptimize(out.Size());
  }
}

BENCHMARK(BM_DecodePlainLibrary)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeTJPEGImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_DecodeOnlyTJPEGImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodePlainLibrary)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_EncodeTJPEGImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_AssignAndSaveTJPEGImage)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void PrintRatio(TRatioReporter& r, const char* what, const char* ours, const char* peer) {
  r.PrintRatio(what, ours, peer, 1.05);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  PictureJpeg();  // made before timing
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatio TJPEGImage / libjpeg, 12 MP, same run:\n");
  PrintRatio(reporter, "load + draw / plain decode", "BM_DecodeTJPEGImage",
             "BM_DecodePlainLibrary");
  PrintRatio(reporter, "load + decode (no drawing) / plain decode", "BM_DecodeOnlyTJPEGImage",
             "BM_DecodePlainLibrary");
  PrintRatio(reporter, "compress + save / plain encode", "BM_EncodeTJPEGImage",
             "BM_EncodePlainLibrary");
  PrintRatio(reporter, "assign bitmap + save / plain encode", "BM_AssignAndSaveTJPEGImage",
             "BM_EncodePlainLibrary");
  benchmark::Shutdown();
  return 0;
}
