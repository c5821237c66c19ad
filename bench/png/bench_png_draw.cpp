// A 2000 x 2000 RGB + alpha product drawn into 728 x 546 over a photograph (what the
// workspace does when a product is placed), beside pixman's nearest-neighbour OVER
// composition of the same pictures. Prints the time ratios at the end.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework.h"
#include "pngimage.h"
#include "ratio.h"
#include "testdata.h"

namespace {

constexpr int kProductSize = 2000;
constexpr int kCanvasWidth = 728;
constexpr int kCanvasHeight = 546;

std::string TestData(const std::string& relative) {
  return vitrelle_test::TestDataPath(relative);
}

// A window-like product: an opaque frame with soft edges around a tinted, half-clear pane,
// on a transparent background.
uint8_t ProductAlpha(int x, int y) {
  const int edge = std::min(std::min(x, y), std::min(kProductSize - 1 - x, kProductSize - 1 - y));
  if (edge < 150) return 0;
  if (edge < 170) return uint8_t((edge - 150) * 255 / 20);  // soft outer edge
  if (edge < 400) return 255;                               // the frame
  return 90;                                                // the pane
}

TColor ProductColor(int x, int y) {
  return RGBColor(uint8_t(120 + x % 97), uint8_t(90 + y % 61), uint8_t(60 + (x + y) % 43));
}

struct TScene {
  std::unique_ptr<TPngImage> Product;
  std::vector<uint32_t> PremultipliedArgb;  // the same product for pixman
  std::unique_ptr<TBitmap> Photo24;
  std::unique_ptr<TBitmap> Photo32;
};

TScene& Scene() {
  static TScene scene = [] {
    TScene s;
    s.Product = TPngImage::CreateBlank(COLOR_RGBALPHA, 8, kProductSize, kProductSize);
    s.PremultipliedArgb.resize(size_t(kProductSize) * kProductSize);
    for (int y = 0; y < kProductSize; ++y) {
      uint8_t* row = s.Product->Scanline(y);
      uint8_t* alpha = s.Product->AlphaScanline(y);
      for (int x = 0; x < kProductSize; ++x) {
        const TColor c = ProductColor(x, y);
        const uint8_t a = ProductAlpha(x, y);
        row[3 * x] = GetBValue(c);
        row[3 * x + 1] = GetGValue(c);
        row[3 * x + 2] = GetRValue(c);
        alpha[x] = a;
        auto pm = [a](uint8_t v) { return uint32_t((v * a + 127) / 255); };
        s.PremultipliedArgb[size_t(y) * kProductSize + size_t(x)] =
            (uint32_t(a) << 24) | (pm(GetRValue(c)) << 16) | (pm(GetGValue(c)) << 8) |
            pm(GetBValue(c));
      }
    }
    TBitmap photo;
    photo.LoadFromFile(TestData("bmp/large-wuffs-harvesters-1165x859.bmp"));
    for (auto [target, format] : {std::pair{&s.Photo24, pf24bit}, std::pair{&s.Photo32, pf32bit}}) {
      *target = std::make_unique<TBitmap>();
      (*target)->SetPixelFormat(format);
      (*target)->SetSize(kCanvasWidth, kCanvasHeight);
      StretchBlt((*target)->View(), TRect{0, 0, kCanvasWidth, kCanvasHeight}, photo.View(),
                 TRect{0, 0, photo.Width(), photo.Height()});
    }
    return s;
  }();
  return scene;
}

void DrawOurs(benchmark::State& state, TBitmap& canvas) {
  TScene& s = Scene();
  for (auto _ : state) {
    s.Product->Draw(canvas.Canvas(), TRect{0, 0, kCanvasWidth, kCanvasHeight});
    benchmark::ClobberMemory();
  }
}

void BM_Vitrelle24(benchmark::State& state) {
  DrawOurs(state, *Scene().Photo24);
}
void BM_Vitrelle32(benchmark::State& state) {
  DrawOurs(state, *Scene().Photo32);
}

void DrawPixman(benchmark::State& state, pixman_format_code_t format) {
  TScene& s = Scene();
  pixman_image_t* src = pixman_image_create_bits(PIXMAN_a8r8g8b8, kProductSize, kProductSize,
                                                 s.PremultipliedArgb.data(), kProductSize * 4);
  pixman_transform_t scale;
  pixman_transform_init_scale(&scale, pixman_double_to_fixed(double(kProductSize) / kCanvasWidth),
                              pixman_double_to_fixed(double(kProductSize) / kCanvasHeight));
  pixman_image_set_transform(src, &scale);
  pixman_image_set_filter(src, PIXMAN_FILTER_NEAREST, nullptr, 0);
  // The same photograph in the destination format pixman asks for.
  TBitmap& photo = format == PIXMAN_r8g8b8 ? *s.Photo24 : *s.Photo32;
  const int stride = photo.BytesPerRow();
  std::vector<uint32_t> pixels(size_t(stride) * kCanvasHeight / 4);
  for (int y = 0; y < kCanvasHeight; ++y)
    std::memcpy(reinterpret_cast<uint8_t*>(pixels.data()) + size_t(y) * stride,
                photo.GetScanline(y), size_t(stride));
  pixman_image_t* dst =
      pixman_image_create_bits(format, kCanvasWidth, kCanvasHeight, pixels.data(), stride);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_OVER, src, nullptr, dst, 0, 0, 0, 0, 0, 0, kCanvasWidth,
                             kCanvasHeight);
    benchmark::ClobberMemory();
  }
  pixman_image_unref(dst);
  pixman_image_unref(src);
}

void BM_Pixman24(benchmark::State& state) {
  DrawPixman(state, PIXMAN_r8g8b8);
}
void BM_Pixman32(benchmark::State& state) {
  DrawPixman(state, PIXMAN_x8r8g8b8);
}

BENCHMARK(BM_Vitrelle24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vitrelle32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pixman24)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Pixman32)->Unit(benchmark::kMillisecond);

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
  auto ratio = [&](const char* a, const char* b) { return reporter.Ratio(a, b); };
  std::printf(
      "\nDrawWithAlpha 2000x2000 -> 728x546 over a photograph, vitrelle / pixman "
      "(cpu time, goal <= 1.5):\n");
  std::printf("  24-bit canvas vs pixman r8g8b8:   %.3f\n", ratio("BM_Vitrelle24", "BM_Pixman24"));
  std::printf("  24-bit canvas vs pixman x8r8g8b8: %.3f\n", ratio("BM_Vitrelle24", "BM_Pixman32"));
  std::printf("  32-bit canvas vs pixman x8r8g8b8: %.3f\n", ratio("BM_Vitrelle32", "BM_Pixman32"));
  benchmark::Shutdown();
  return 0;
}
