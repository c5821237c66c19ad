// Colour reduction of a 12-megapixel photograph to 256 colours with the GIF defaults
// (octree quantizer, 8 bits, Floyd-Steinberg) beside libimagequant (palette and dithered
// remap) on the same picture. Prints the time ratio and the PSNR of both results against
// the source.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

// clang-format off
#include <libimagequant.h>
// clang-format on

#include "GIFImg.h"
#include "jpeg.h"
#include "ratio.h"

namespace {

constexpr int W = 4000, H = 3000;  // 12 MP

// The sample house photograph, scaled up bilinearly to 12 MP with a fine sensor grain,
// so that the picture has the smooth skies and detailed walls of a real photograph.
TBitmap& Photo() {
  static TBitmap* photo = [] {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(std::string(VITRELLE_SOURCE_DIR) + "/assets/maison-exemple.jpg");
    TBitmap small;
    small.Assign(jpeg);
    small.SetPixelFormat(pf24bit);
    static TBitmap big;
    big.SetPixelFormat(pf24bit);
    big.SetSize(W, H);
    const int sw = small.Width(), sh = small.Height();
    uint32_t seed = 2024;
    for (int y = 0; y < H; ++y) {
      const double fy = std::max(0.0, (y + 0.5) * sh / H - 0.5);
      const int y0 = std::min(int(fy), sh - 1), y1 = std::min(y0 + 1, sh - 1);
      const double wy = fy - y0;
      const uint8_t* r0 = small.GetScanline(y0);
      const uint8_t* r1 = small.GetScanline(y1);
      uint8_t* out = big.GetScanline(y);
      for (int x = 0; x < W; ++x) {
        const double fx = std::max(0.0, (x + 0.5) * sw / W - 0.5);
        const int x0 = std::min(int(fx), sw - 1), x1 = std::min(x0 + 1, sw - 1);
        const double wx = fx - x0;
        seed = seed * 1664525u + 1013904223u;
        const int grain = int(seed >> 29) - 4;
        for (int c = 0; c < 3; ++c) {
          const double top = r0[x0 * 3 + c] * (1 - wx) + r0[x1 * 3 + c] * wx;
          const double bottom = r1[x0 * 3 + c] * (1 - wx) + r1[x1 * 3 + c] * wx;
          out[x * 3 + c] =
              uint8_t(std::clamp(int(top * (1 - wy) + bottom * wy + 0.5) + grain, 0, 255));
        }
      }
    }
    return &big;
  }();
  return *photo;
}

const std::vector<uint8_t>& PhotoRgba() {
  static const std::vector<uint8_t> rgba = [] {
    std::vector<uint8_t> p(size_t(W) * H * 4);
    TBitmap& b = Photo();
    for (int y = 0; y < H; ++y) {
      const uint8_t* s = b.GetScanline(y);
      uint8_t* d = &p[size_t(y) * W * 4];
      for (int x = 0; x < W; ++x) {
        d[x * 4] = s[x * 3 + 2];
        d[x * 4 + 1] = s[x * 3 + 1];
        d[x * 4 + 2] = s[x * 3];
        d[x * 4 + 3] = 255;
      }
    }
    return p;
  }();
  return rgba;
}

// Peak signal-to-noise ratio of an indexed result against the source photograph.
double Psnr(const uint8_t* indices, ptrdiff_t stride, const TRGBQuad* colors) {
  TBitmap& src = Photo();
  double sum = 0;
  for (int y = 0; y < H; ++y) {
    const uint8_t* s = src.GetScanline(y);
    const uint8_t* i = indices + y * stride;
    for (int x = 0; x < W; ++x) {
      const TRGBQuad& q = colors[i[x]];
      const int db = s[x * 3] - q.rgbBlue, dg = s[x * 3 + 1] - q.rgbGreen,
                dr = s[x * 3 + 2] - q.rgbRed;
      sum += double(db * db + dg * dg + dr * dr);
    }
  }
  const double mse = sum / (3.0 * W * H);
  return 10.0 * std::log10(255.0 * 255.0 / mse);
}

std::map<std::string, double> gPsnr;

void BM_ReduceBitmapColors(benchmark::State& state) {
  TBitmap& photo = Photo();
  std::unique_ptr<TBitmap> result;
  for (auto _ : state) {
    result = ReduceBitmapColors(photo, DefaultColorReduction, DefaultDitherMode, nullptr,
                                DefaultReductionBits);
    benchmark::DoNotOptimize(result.get());
  }
  gPsnr["ReduceBitmapColors"] =
      Psnr(result->GetScanline(0), result->GetScanline(1) - result->GetScanline(0),
           result->ColorTable().data());
}

void BM_LibImageQuant(benchmark::State& state) {
  const std::vector<uint8_t>& rgba = PhotoRgba();
  std::vector<uint8_t> out(size_t(W) * H);
  std::vector<TRGBQuad> colors(256);
  for (auto _ : state) {
    liq_attr* attr = liq_attr_create();
    liq_set_max_colors(attr, 256);
    liq_image* image = liq_image_create_rgba(attr, rgba.data(), W, H, 0);
    liq_result* res = nullptr;
    if (liq_image_quantize(image, attr, &res) != LIQ_OK) {
      state.SkipWithError("liq_image_quantize failed");
      break;
    }
    liq_set_dithering_level(res, 1.0f);
    liq_write_remapped_image(res, image, out.data(), out.size());
    const liq_palette* pal = liq_get_palette(res);
    for (unsigned i = 0; i < pal->count; ++i)
      colors[i] = TRGBQuad{pal->entries[i].b, pal->entries[i].g, pal->entries[i].r, 0};
    liq_result_destroy(res);
    liq_image_destroy(image);
    liq_attr_destroy(attr);
    benchmark::DoNotOptimize(out.data());
  }
  gPsnr["libimagequant"] = Psnr(out.data(), W, colors.data());
}

BENCHMARK(BM_ReduceBitmapColors)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(BM_LibImageQuant)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  PhotoRgba();  // made before timing
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatio ReduceBitmapColors / libimagequant, 12 MP to 256 colours, same run:\n");
  reporter.PrintRatio("octree + Floyd-Steinberg / quantize + remap", "BM_ReduceBitmapColors",
                      "BM_LibImageQuant", 1.0);
  std::printf("\nPSNR against the source (dB):\n");
  for (const auto& [name, db] : gPsnr) std::printf("%-44s %.2f\n", name.c_str(), db);
  benchmark::Shutdown();
  return 0;
}
