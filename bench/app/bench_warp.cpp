// One corner-drag step of a product in perspective on a 728 x 546 display: the photo
// restored beneath the union of the old and the new quadrilateral's bounds, then the
// 1024 x 724 product drawn through the new one. Goal: under 4 ms. Peer in the same run:
// the same restore, then pixman's OVER composition of the same premultiplied product
// through the same projective transform with its bilinear filter (pixman has neither
// reduced levels nor anti-aliased edges, so it does less).
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <cmath>
#include <cstdio>

#include "warp.h"
#include "ratio.h"

namespace {

constexpr int kDisplayW = 728, kDisplayH = 546;
constexpr int kProductW = 1024, kProductH = 724;

// A photo with detail everywhere, as the workspace benchmarks use.
struct TPhoto : TBitmap {
  TPhoto() {
    SetPixelFormat(pf24bit);
    SetSize(kDisplayW, kDisplayH);
    for (int y = 0; y < kDisplayH; ++y) {
      uint8_t* row = GetScanline(y);
      for (int x = 0; x < kDisplayW; ++x)
        row[3 * x] = uint8_t(x * 7 + y), row[3 * x + 1] = uint8_t(y * 3),
                row[3 * x + 2] = uint8_t(x ^ y);
    }
  }
};

// A window: opaque frame and mullion, tinted glass of alpha 110, straight alpha.
struct TProduct : TBitmap {
  TProduct() {
    SetPixelFormat(pf32bit);
    SetSize(kProductW, kProductH);
    SetAlphaFormat(afDefined);
    for (int y = 0; y < kProductH; ++y) {
      uint8_t* row = GetScanline(y);
      for (int x = 0; x < kProductW; ++x) {
        const bool frame = x < 60 || x >= kProductW - 60 || y < 60 || y >= kProductH - 60 ||
                           std::abs(x - kProductW / 2) < 20;
        row[4 * x] = uint8_t(220 + x % 30), row[4 * x + 1] = 235;
        row[4 * x + 2] = frame ? uint8_t(240 - y % 20) : 150;
        row[4 * x + 3] = frame ? 255 : 110;
      }
    }
  }
};

// A façade window seen from the left; the drag swings its top-right corner.
TQuad QuadAt(int64_t step) {
  const double d = double(step % 8);
  return TQuad{{{250, 120}, {560 + d, 150 - d / 2}, {548, 420}, {262, 440}}};
}

TRect Union(const TRect& a, const TRect& b) {
  return Rect(std::min(a.Left, b.Left), std::min(a.Top, b.Top), std::max(a.Right, b.Right),
              std::max(a.Bottom, b.Bottom));
}

// The photo back under the area the quadrilateral left or enters.
TRect Restore(TBitmap& display, TBitmap& photo, const TQuad& before, const TQuad& after) {
  const TRect area =
      IntersectRect(Union(QuadBounds(before), QuadBounds(after)), Rect(0, 0, kDisplayW, kDisplayH));
  BitBlt(display.View(), area.Left, area.Top, photo.View(), area);
  return area;
}

struct TScene {
  TPhoto PhotoBitmap;
  TPhoto Display;
  TProduct ProductBitmap;
};

void BM_CornerDragRedraw(benchmark::State& state) {
  TScene scene;
  const TWarpSource source(scene.ProductBitmap);
  int64_t step = 0;
  for (auto _ : state) {
    const TQuad before = QuadAt(step), after = QuadAt(++step);
    const TRect area = Restore(scene.Display, scene.PhotoBitmap, before, after);
    DrawPerspective(scene.Display, source, after, area);
    benchmark::DoNotOptimize(scene.Display.GetScanline(0));
  }
}
BENCHMARK(BM_CornerDragRedraw)->Unit(benchmark::kMillisecond);

// The product's transform for pixman: target pixel -> product pixel. The map of the unit
// square onto the quad, composed with the product's size, then inverted.
pixman_transform_t PixmanTransform(const TQuad& q) {
  const double x0 = q[0].X, y0 = q[0].Y, x1 = q[1].X, y1 = q[1].Y;
  const double x2 = q[2].X, y2 = q[2].Y, x3 = q[3].X, y3 = q[3].Y;
  const double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
  const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
  const double den = dx1 * dy2 - dx2 * dy1;
  const double g = (sx * dy2 - dx2 * sy) / den, h = (dx1 * sy - sx * dy1) / den;
  pixman_f_transform_t square = {{{x1 - x0 + g * x1, x3 - x0 + h * x3, x0},
                                  {y1 - y0 + g * y1, y3 - y0 + h * y3, y0},
                                  {g, h, 1}}};
  pixman_f_transform_t size, forward, inverse;
  pixman_f_transform_init_scale(&size, 1.0 / kProductW, 1.0 / kProductH);
  pixman_f_transform_multiply(&forward, &square, &size);
  pixman_f_transform_invert(&inverse, &forward);
  // Homogeneous: scaled so that the fixed-point entries keep their precision.
  double largest = 0;
  for (auto& row : inverse.m)
    for (double v : row) largest = std::max(largest, std::fabs(v));
  for (auto& row : inverse.m)
    for (double& v : row) v *= 16384 / largest;
  pixman_transform_t t;
  pixman_transform_from_pixman_f_transform(&t, &inverse);
  return t;
}

pixman_image_t* Wrap(TBitmap& bmp, pixman_format_code_t format) {
  return pixman_image_create_bits(format, bmp.Width(), bmp.Height(),
                                  reinterpret_cast<uint32_t*>(bmp.GetScanline(0)),
                                  bmp.BytesPerRow());
}

struct TPixmanScene : TScene {
  TBitmap Premultiplied;
  pixman_image_t* Source;
  pixman_image_t* Target;
  TPixmanScene() {
    Premultiplied.Assign(ProductBitmap);
    for (int y = 0; y < kProductH; ++y) {
      uint8_t* row = Premultiplied.GetScanline(y);
      for (int x = 0; x < kProductW; ++x)
        for (int c = 0; c < 3; ++c)
          row[4 * x + c] = uint8_t((row[4 * x + c] * row[4 * x + 3] + 127) / 255);
    }
    Source = Wrap(Premultiplied, PIXMAN_a8r8g8b8);
    Target = Wrap(Display, PIXMAN_r8g8b8);
    pixman_image_set_filter(Source, PIXMAN_FILTER_BILINEAR, nullptr, 0);
  }
  ~TPixmanScene() {
    pixman_image_unref(Source);
    pixman_image_unref(Target);
  }
  void Draw(const TQuad& quad, const TRect& area) {
    const pixman_transform_t t = PixmanTransform(quad);
    pixman_image_set_transform(Source, &t);
    pixman_image_composite32(PIXMAN_OP_OVER, Source, nullptr, Target, area.Left, area.Top, 0, 0,
                             area.Left, area.Top, area.Width(), area.Height());
  }
};

void BM_CornerDragRedraw_Pixman(benchmark::State& state) {
  TPixmanScene scene;
  int64_t step = 0;
  for (auto _ : state) {
    const TQuad before = QuadAt(step), after = QuadAt(++step);
    scene.Draw(after, Restore(scene.Display, scene.PhotoBitmap, before, after));
    benchmark::DoNotOptimize(scene.Display.GetScanline(0));
  }
}
BENCHMARK(BM_CornerDragRedraw_Pixman)->Unit(benchmark::kMillisecond);

// Made once per product picture, then kept for every redraw.
void BM_WarpSource(benchmark::State& state) {
  TProduct product;
  for (auto _ : state) {
    const TWarpSource source(product);
    benchmark::DoNotOptimize(source.Width());
  }
}
BENCHMARK(BM_WarpSource)->Unit(benchmark::kMillisecond);

// Both draw the same product on the same place: their mean difference over the quad's
// bounds shows it (edges and reduction differ by design).
double MeanDifference() {
  TScene ours;
  TPixmanScene peer;
  const TQuad quad = QuadAt(3);
  const TRect area = QuadBounds(quad);
  DrawPerspective(ours.Display, TWarpSource(ours.ProductBitmap), quad, area);
  peer.Draw(quad, area);
  double sum = 0;
  for (int y = area.Top; y < area.Bottom; ++y) {
    const uint8_t* a = ours.Display.GetScanline(y);
    const uint8_t* b = peer.Display.GetScanline(y);
    for (int x = 3 * area.Left; x < 3 * area.Right; ++x) sum += std::abs(a[x] - b[x]);
  }
  return sum / (3.0 * area.Width() * area.Height());
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf(
      "\nOne corner-drag redraw, 1024 x 724 product on a 728 x 546 display (processor time):\n");
  reporter.PrintTime("ours (ms, goal < 4)", "BM_CornerDragRedraw", 1.0);
  reporter.PrintTime("pixman projective bilinear OVER (ms)", "BM_CornerDragRedraw_Pixman", 1.0);
  reporter.PrintRatio("ours / pixman", "BM_CornerDragRedraw", "BM_CornerDragRedraw_Pixman");
  reporter.PrintTime("preparing the product once (ms)", "BM_WarpSource", 1.0);
  std::printf("  %-48s %9.2f\n", "mean |ours - pixman| over the quad (levels)", MeanDifference());
  benchmark::Shutdown();
  return 0;
}
