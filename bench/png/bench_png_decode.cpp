// PNG decoding beside libpng and libspng, in one run, on files libpng writes at start-up:
// 12-megapixel RGB and RGBA photographs, a palette picture and an Adam7 picture. Prints
// ours / libpng and ours / libspng (CPU time) for each file, and the peak heap of one decode of
// ours beyond its image buffers.
#include <benchmark/benchmark.h>
#include <png.h>
#include <spng.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "heap_tracking.h"
#include "pngimage.h"
#include "ratio.h"

namespace {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------
// Test files, written by libpng with its default (adaptive) filters and level 6.

void WriteCallback(png_structp png, png_bytep data, png_size_t n) {
  auto* out = static_cast<Bytes*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + n);
}
void FlushCallback(png_structp) {}

// A photograph-like picture: smooth gradients with fine noise.
Bytes Photo(int w, int h, int channels) {
  Bytes b(size_t(w) * h * channels);
  uint32_t state = 1;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      state = state * 1664525u + 1013904223u;
      uint8_t* p = &b[(size_t(y) * w + x) * channels];
      const int noise = int(state >> 29);
      p[0] = uint8_t((x * 255 / w + noise) & 255);
      if (channels >= 3) {
        p[1] = uint8_t((y * 255 / h + noise) & 255);
        p[2] = uint8_t(((x + y) * 127 / (w + h) + 64 + noise) & 255);
      }
      if (channels == 4) p[3] = uint8_t(std::abs((x % 512) - 256) > 200 ? 255 : (x + y) & 255);
    }
  return b;
}

Bytes Encode(int w, int h, int colorType, bool interlaced) {
  const int channels = colorType == PNG_COLOR_TYPE_RGB    ? 3
                       : colorType == PNG_COLOR_TYPE_RGBA ? 4
                                                          : 1;
  Bytes pixels = Photo(w, h, channels);
  if (colorType == PNG_COLOR_TYPE_PALETTE)
    for (auto& v : pixels) v = uint8_t(v / 8 * 8);
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(png, &out, WriteCallback, FlushCallback);
  png_set_IHDR(png, info, w, h, 8, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_color> palette(256);
  for (int i = 0; i < 256; ++i)
    palette[size_t(i)] = png_color{uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)};
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), 256);
  png_write_info(png, info);
  std::vector<png_bytep> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) rows[size_t(y)] = &pixels[size_t(y) * w * channels];
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

struct File {
  const char* Name;
  Bytes Data;
};

std::vector<File>& Files() {
  static std::vector<File> files = {
      {"rgb8_12MP", Encode(4000, 3000, PNG_COLOR_TYPE_RGB, false)},
      {"rgba8_12MP", Encode(4000, 3000, PNG_COLOR_TYPE_RGBA, false)},
      {"palette8_12MP", Encode(4000, 3000, PNG_COLOR_TYPE_PALETTE, false)},
      {"rgb8_adam7_12MP", Encode(4000, 3000, PNG_COLOR_TYPE_RGB, true)},
  };
  return files;
}

// ---------------------------------------------------------------------------------------
// Decoders

void DecodeOurs(const Bytes& file) {
  TReadOnlyMemoryStream stream(file.data(), file.size());
  TPngImage image;
  image.LoadFromStream(stream);
  benchmark::DoNotOptimize(image.Scanline(0));
}

struct Reader {
  const Bytes* Data;
  size_t Pos;
};
void ReadCallback(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<Reader*>(png_get_io_ptr(png));
  if (r->Pos + n > r->Data->size()) png_error(png, "short");
  std::memcpy(out, r->Data->data() + r->Pos, n);
  r->Pos += n;
}

// libpng into its native row format (the same work as ours: every row of the image).
void DecodeLibpng(const Bytes& file) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Reader reader{&file, 0};
  std::vector<uint8_t> pixels;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return;
  }
  png_set_read_fn(png, &reader, ReadCallback);
  png_read_info(png, info);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const size_t stride = png_get_rowbytes(png, info);
  const uint32_t h = png_get_image_height(png, info);
  pixels.resize(stride * h);
  for (uint32_t y = 0; y < h; ++y) rows.push_back(&pixels[y * stride]);
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  benchmark::DoNotOptimize(pixels.data());
}

void DecodeSpng(const Bytes& file) {
  spng_ctx* ctx = spng_ctx_new(0);
  spng_set_png_buffer(ctx, file.data(), file.size());
  size_t size = 0;
  spng_decoded_image_size(ctx, SPNG_FMT_PNG, &size);
  std::vector<uint8_t> pixels(size);
  spng_decode_image(ctx, pixels.data(), size, SPNG_FMT_PNG, 0);
  spng_ctx_free(ctx);
  benchmark::DoNotOptimize(pixels.data());
}

void Run(benchmark::State& state, void (*decode)(const Bytes&), size_t file) {
  const Bytes& data = Files()[file].Data;
  for (auto _ : state) decode(data);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

// Peak heap of one decode of ours beyond the image buffers it returns.
void ReportPeakMemory() {
  for (const File& f : Files()) {
    gCurrent = 0;
    gPeak = 0;
    gTracking = true;
    int64_t buffers = 0;
    {
      TReadOnlyMemoryStream stream(f.Data.data(), f.Data.size());
      TPngImage image;
      image.LoadFromStream(stream);
      const TChunkIHDR& h = image.Header();
      buffers = int64_t(h.BytesPerRow()) * h.Height();
      if (h.ColorType() == COLOR_RGBALPHA || h.ColorType() == COLOR_GRAYSCALEALPHA)
        buffers += int64_t(h.Width()) * h.Height();
    }
    gTracking = false;
    std::printf("  %-18s peak %8.2f MiB, image buffers %8.2f MiB, overhead %6.1f KiB %s\n", f.Name,
                gPeak / 1048576.0, buffers / 1048576.0, (gPeak - buffers) / 1024.0,
                gPeak - buffers <= 1 << 20 ? "" : "(over the 1 MiB goal)");
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (size_t i = 0; i < Files().size(); ++i) {
    const std::string name = Files()[i].Name;
    benchmark::RegisterBenchmark(("ours/" + name).c_str(), Run, DecodeOurs, i)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("libpng/" + name).c_str(), Run, DecodeLibpng, i)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("spng/" + name).c_str(), Run, DecodeSpng, i)
        ->Unit(benchmark::kMillisecond);
  }
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nDecode time ratios (goal: ours/libpng at most 1.0 on non-interlaced 8-bit)\n");
  for (const File& f : Files()) {
    const std::string n = f.Name;
    const double ours = reporter.Time("ours/" + n);
    const double libpng = reporter.Time("libpng/" + n);
    const double spng = reporter.Time("spng/" + n);
    if (ours <= 0 || libpng <= 0 || spng <= 0) continue;
    std::printf("  %-18s ours/libpng %5.2f   ours/libspng %5.2f\n", f.Name, ours / libpng,
                ours / spng);
  }
  std::printf("\nPeak heap of one decode (goal: image buffers + 1 MiB)\n");
  ReportPeakMemory();
  benchmark::Shutdown();
  return 0;
}
