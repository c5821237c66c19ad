// The framework's hot raster paths beside the same operation in pixman, in one run:
// nearest-neighbour stretching, 32-to-24-bit conversion and premultiplied alpha
// composition. Prints ours / pixman for each pair at the end.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cstdio>
#include <map>
#include <string>

#include "framework.h"
#include "ratio.h"

namespace {

constexpr int kPhotoW = 4000, kPhotoH = 3000;  // a camera photograph
constexpr int kViewW = 728, kViewH = 546;      // the workspace's display bitmap
constexpr int kProductSide = 1000;

void Fill(TBitmap& bmp, TPixelFormat format, int w, int h, bool premultiplied = false) {
  bmp.SetPixelFormat(format);
  bmp.SetSize(w, h);
  uint32_t state = 12345;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.GetScanline(y);
    for (int i = 0; i < bmp.BytesPerRow(); ++i) {
      state = state * 1103515245u + 12345u;
      row[i] = uint8_t(state >> 16);
    }
    if (premultiplied)  // colours never exceed alpha; some pixels clear, some opaque
      for (int x = 0; x < w; ++x) {
        uint8_t* p = row + 4 * x;
        p[3] = (x % 7 == 0) ? 0 : (x % 5 == 0) ? 255 : p[3];
        for (int c = 0; c < 3; ++c) p[c] = uint8_t(p[c] * p[3] / 255);
      }
  }
  if (premultiplied) bmp.SetAlphaFormat(afPremultiplied);
}

// A pixman image over a bitmap's pixels (rows top-down, 32-bit aligned).
pixman_image_t* Wrap(TBitmap& bmp, pixman_format_code_t format) {
  return pixman_image_create_bits(format, bmp.Width(), bmp.Height(),
                                  reinterpret_cast<uint32_t*>(bmp.GetScanline(0)),
                                  bmp.BytesPerRow());
}

pixman_format_code_t PixmanFormat(int bitCount) {
  return bitCount == 24 ? PIXMAN_r8g8b8 : PIXMAN_a8r8g8b8;
}

void BM_Stretch_ours(benchmark::State& state) {
  TBitmap src, dst;
  Fill(src, pf24bit, kPhotoW, kPhotoH);
  Fill(dst, pf24bit, kViewW, kViewH);
  for (auto _ : state)
    StretchBlt(dst.View(), Rect(0, 0, kViewW, kViewH), src.View(), Rect(0, 0, kPhotoW, kPhotoH));
  benchmark::DoNotOptimize(dst.GetScanline(0)[0]);
}

void BM_Stretch_pixman(benchmark::State& state) {
  TBitmap src, dst;
  Fill(src, pf24bit, kPhotoW, kPhotoH);
  Fill(dst, pf24bit, kViewW, kViewH);
  pixman_image_t* s = Wrap(src, PIXMAN_r8g8b8);
  pixman_image_t* d = Wrap(dst, PIXMAN_r8g8b8);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(double(kPhotoW) / kViewW),
                              pixman_double_to_fixed(double(kPhotoH) / kViewH));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kViewW, kViewH);
  benchmark::DoNotOptimize(dst.GetScanline(0)[0]);
  pixman_image_unref(s);
  pixman_image_unref(d);
}

void BM_To24_ours(benchmark::State& state) {
  TBitmap src, bmp;
  Fill(src, pf32bit, kPhotoW, kPhotoH);
  for (auto _ : state) {
    state.PauseTiming();
    bmp.Assign(src);
    state.ResumeTiming();
    bmp.SetPixelFormat(pf24bit);
  }
  benchmark::DoNotOptimize(bmp.GetScanline(0)[0]);
}

// pixman converts into a buffer allocated in the loop too, as SetPixelFormat must.
void BM_To24_pixman(benchmark::State& state) {
  TBitmap src;
  Fill(src, pf32bit, kPhotoW, kPhotoH);
  pixman_image_t* s = Wrap(src, PIXMAN_a8r8g8b8);
  const int stride = int(DibStride(kPhotoW, 24));
  for (auto _ : state) {
    std::vector<uint8_t> pixels(size_t(stride) * kPhotoH);
    pixman_image_t* d = pixman_image_create_bits(
        PIXMAN_r8g8b8, kPhotoW, kPhotoH, reinterpret_cast<uint32_t*>(pixels.data()), stride);
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, kPhotoW, kPhotoH);
    pixman_image_unref(d);
    benchmark::DoNotOptimize(pixels[0]);
  }
  pixman_image_unref(s);
}

void BM_Over_ours(benchmark::State& state) {
  const int bits = int(state.range(0));
  TBitmap src, dst;
  Fill(src, pf32bit, kProductSide, kProductSide, true);
  Fill(dst, PixelFormatOf(bits), kProductSide, kProductSide);
  const TRect r = Rect(0, 0, kProductSide, kProductSide);
  for (auto _ : state) AlphaBlendPremultiplied(dst.View(), r, src.View(), r);
  benchmark::DoNotOptimize(dst.GetScanline(0)[0]);
}

void BM_Over_pixman(benchmark::State& state) {
  const int bits = int(state.range(0));
  TBitmap src, dst;
  Fill(src, pf32bit, kProductSide, kProductSide, true);
  Fill(dst, PixelFormatOf(bits), kProductSide, kProductSide);
  pixman_image_t* s = Wrap(src, PIXMAN_a8r8g8b8);
  pixman_image_t* d = Wrap(dst, PixmanFormat(bits));
  for (auto _ : state)
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, 0, 0, kProductSide,
                             kProductSide);
  benchmark::DoNotOptimize(dst.GetScanline(0)[0]);
  pixman_image_unref(s);
  pixman_image_unref(d);
}

BENCHMARK(BM_Stretch_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Stretch_pixman)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_To24_ours)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_To24_pixman)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Over_ours)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Over_pixman)->Arg(24)->Arg(32)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatio ours / pixman (goal: at most 1.5)\n");
  for (const std::string& name : reporter.Names()) {
    const size_t at = name.find("_ours");
    if (at == std::string::npos) continue;
    std::string peer = name;
    peer.replace(at, 5, "_pixman");
    reporter.PrintRatio(name.substr(3, at - 3).append(name.substr(at + 5)).c_str(), name, peer, 1.5,
                        TRatioReporter::kWall);
  }
  benchmark::Shutdown();
  return 0;
}
