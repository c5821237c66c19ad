// Writing a 12-megapixel photograph as PNG with the defaults (Sub filter, level 7), beside
// libpng writing the same rows with the same filter and level. Prints the time and size
// ratios at the end.
#include <benchmark/benchmark.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework.h"
#include "pngimage.h"
#include "ratio.h"
#include "testdata.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

std::string TestData(const std::string& relative) {
  return vitrelle_test::TestDataPath(relative);
}

// The harvesters photograph scaled up bilinearly to 12 megapixels, with a little sensor
// noise so that it compresses like a photograph rather than a drawing.
std::unique_ptr<TBitmap> MakePhotograph() {
  TBitmap source;
  source.LoadFromFile(TestData("bmp/large-wuffs-harvesters-1165x859.bmp"));
  source.SetPixelFormat(pf24bit);
  auto photo = std::make_unique<TBitmap>();
  photo->SetPixelFormat(pf24bit);
  photo->SetSize(kWidth, kHeight);
  uint32_t seed = 12345;
  for (int y = 0; y < kHeight; ++y) {
    const double fy = double(y) * (source.Height() - 1) / (kHeight - 1);
    const int y0 = int(fy), y1 = std::min(y0 + 1, source.Height() - 1);
    const double wy = fy - y0;
    const uint8_t* r0 = source.GetScanline(y0);
    const uint8_t* r1 = source.GetScanline(y1);
    uint8_t* out = photo->GetScanline(y);
    for (int x = 0; x < kWidth; ++x) {
      const double fx = double(x) * (source.Width() - 1) / (kWidth - 1);
      const int x0 = int(fx), x1 = std::min(x0 + 1, source.Width() - 1);
      const double wx = fx - x0;
      for (int c = 0; c < 3; ++c) {
        const double v = (r0[3 * x0 + c] * (1 - wx) + r0[3 * x1 + c] * wx) * (1 - wy) +
                         (r1[3 * x0 + c] * (1 - wx) + r1[3 * x1 + c] * wx) * wy;
        seed = seed * 1664525u + 1013904223u;
        const int noise = int(seed >> 30) - 1;  // -1, 0, 1 or 2
        out[3 * x + c] = uint8_t(std::clamp(int(v + 0.5) + noise, 0, 255));
      }
    }
  }
  return photo;
}

TBitmap& Photograph() {
  static std::unique_ptr<TBitmap> photo = MakePhotograph();
  return *photo;
}

std::map<std::string, double> gBytes;

void BM_Vitrelle(benchmark::State& state) {
  TBitmap& photo = Photograph();
  size_t bytes = 0;
  for (auto _ : state) {
    TPngImage png;  // defaults: Sub filter, level 7
    png.Assign(photo);
    TMemoryStream out;
    png.SaveToStream(out);
    bytes = size_t(out.Size());
  }
  gBytes["BM_Vitrelle"] = double(bytes);
  state.counters["bytes"] = double(bytes);
}

void WriteToVector(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}
void FlushNothing(png_structp) {}

// strategy < 0: libpng's own choice (Z_FILTERED for filtered rows).
size_t EncodeWithLibpng(TBitmap& photo, int strategy) {
  std::vector<uint8_t> out;
  out.reserve(size_t(kWidth) * kHeight);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_set_write_fn(png, &out, WriteToVector, FlushNothing);
    png_set_IHDR(png, info, kWidth, kHeight, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
    png_set_compression_level(png, 7);
    if (strategy >= 0) png_set_compression_strategy(png, strategy);
    png_write_info(png, info);
    png_set_bgr(png);
    for (int y = 0; y < kHeight; ++y) png_write_row(png, photo.GetScanline(y));
    png_write_end(png, info);
  }
  png_destroy_write_struct(&png, &info);
  return out.size();
}

void BM_Libpng(benchmark::State& state) {
  TBitmap& photo = Photograph();
  size_t bytes = 0;
  for (auto _ : state) bytes = EncodeWithLibpng(photo, Z_DEFAULT_STRATEGY);
  gBytes["BM_Libpng"] = double(bytes);
  state.counters["bytes"] = double(bytes);
}

void BM_LibpngOwnStrategy(benchmark::State& state) {
  TBitmap& photo = Photograph();
  size_t bytes = 0;
  for (auto _ : state) bytes = EncodeWithLibpng(photo, -1);
  gBytes["BM_LibpngOwnStrategy"] = double(bytes);
  state.counters["bytes"] = double(bytes);
}

BENCHMARK(BM_Vitrelle)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Libpng)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LibpngOwnStrategy)->Unit(benchmark::kMillisecond)->Iterations(3);

// Keeps the real time of every run to print the ratios afterwards.
}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!vitrelle_test::TestDataPresent()) {
    std::printf("skipped: shared test pictures not found in %s (set VITRELLE_TESTDATA)\n",
                vitrelle_test::TestDataDir().c_str());
    return 0;
  }
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const auto cpu = TRatioReporter::kCpu;
  const auto t = TRatioReporter::kWall;
  auto ratio = [&](const char* a, const char* b, TRatioReporter::TMeasure m) {
    return reporter.Ratio(a, b, m);
  };
  auto sizes = [&](const char* a, const char* b) {
    auto ia = gBytes.find(a), ib = gBytes.find(b);
    return (ia == gBytes.end() || ib == gBytes.end() || ib->second == 0) ? 0.0
                                                                         : ia->second / ib->second;
  };
  const char* us = "BM_Vitrelle/iterations:3";
  const char* same = "BM_Libpng/iterations:3";
  const char* own = "BM_LibpngOwnStrategy/iterations:3";
  // The machine is shared: CPU time is the steadier measure, wall time is printed too.
  std::printf("\n12 MP 24-bit, Sub filter, level 7, vitrelle / libpng:\n");
  std::printf(
      "  same zlib strategy: cpu time %.3f, wall time %.3f (goal <= 1.10), size %.4f "
      "(goal <= 1.01)\n",
      ratio(us, same, cpu), ratio(us, same, t), sizes("BM_Vitrelle", "BM_Libpng"));
  std::printf("  libpng's own strategy (Z_FILTERED): cpu time %.3f, wall time %.3f, size %.4f\n",
              ratio(us, own, cpu), ratio(us, own, t), sizes("BM_Vitrelle", "BM_LibpngOwnStrategy"));
  benchmark::Shutdown();
  return 0;
}
