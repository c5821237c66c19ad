// TGIFImage beside giflib on two files giflib writes at start-up: a 1200 x 840 picture
// (about 1 megapixel, 256 colours, gradients and shapes with a little noise) and a
// 300-frame animation of 160 x 120 frames. Loading (and loading plus drawing frame 0, the
// workspace's path) against DGifSlurp of the same bytes from memory; CPU time ratios
// ours / giflib at the end, and the peak heap of one load against the frames' pixel
// buffers and the file's bytes. `vitrelle-img render` itself is bench_gif_render.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "GIFImg.h"
#include "gif_bench_files.h"
#include "heap_tracking.h"
#include "ratio.h"

namespace {

using gif_build::TBytes;

struct TFile {
  const char* Name;
  TBytes Data;
};

const std::vector<TFile>& Files() {
  static const std::vector<TFile> files = {{"still-1MP", gif_bench::Still()},
                                           {"anim-300", gif_bench::Animation()}};
  return files;
}

void SlurpGiflib(const TBytes& data) {
  bool complete = false;
  gif_build::detail::TMemorySource source{data.data(), data.size()};
  gif_build::TGiflibFile gif =
      gif_build::SlurpWithGiflib(data.data(), data.size(), &complete, &source);
  if (!complete) std::abort();
  benchmark::DoNotOptimize(gif->SavedImages[0].RasterBits[0]);
}

// What a giflib-based viewer does to show frame 0: slurp, then look every pixel of the
// screen up in the colour map into a 24-bit buffer (transparent pixels left as they are).
void SlurpAndDrawGiflib(const TBytes& data, std::vector<uint8_t>& bgr) {
  bool complete = false;
  gif_build::detail::TMemorySource source{data.data(), data.size()};
  gif_build::TGiflibFile gif =
      gif_build::SlurpWithGiflib(data.data(), data.size(), &complete, &source);
  if (!complete) std::abort();
  const SavedImage& f = gif->SavedImages[0];
  const ColorMapObject* map = f.ImageDesc.ColorMap ? f.ImageDesc.ColorMap : gif->SColorMap;
  const int transparent = gif_build::FirstGceTransparency(f);
  const size_t stride = size_t(gif->SWidth) * 3;
  bgr.resize(stride * size_t(gif->SHeight));
  for (int y = 0; y < f.ImageDesc.Height; ++y) {
    const uint8_t* in = f.RasterBits + size_t(y) * size_t(f.ImageDesc.Width);
    uint8_t* out = &bgr[size_t(f.ImageDesc.Top + y) * stride + size_t(f.ImageDesc.Left) * 3];
    for (int x = 0; x < f.ImageDesc.Width; ++x, out += 3) {
      if (in[x] == transparent) continue;
      const GifColorType c = map->Colors[in[x]];
      out[0] = c.Blue, out[1] = c.Green, out[2] = c.Red;
    }
  }
  benchmark::DoNotOptimize(bgr[0]);
}

void LoadOurs(const TBytes& data, TBitmap* target) {
  TGIFImage image;
  TReadOnlyMemoryStream stream(data.data(), data.size());
  image.LoadFromStream(stream);
  if (target) {
    image.Draw(target->Canvas(), Rect(0, 0, target->Width(), target->Height()));
    benchmark::DoNotOptimize(target->GetScanline(0)[0]);
  }
  benchmark::DoNotOptimize(image.Images().Frames(0)->Data()[0]);
}

void BM_Giflib(benchmark::State& state, size_t file) {
  const TBytes& data = Files()[file].Data;
  for (auto _ : state) SlurpGiflib(data);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_GiflibDraw(benchmark::State& state, size_t file) {
  const TBytes& data = Files()[file].Data;
  std::vector<uint8_t> bgr;
  for (auto _ : state) SlurpAndDrawGiflib(data, bgr);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

void BM_OursLoad(benchmark::State& state, size_t file) {
  const TBytes& data = Files()[file].Data;
  for (auto _ : state) LoadOurs(data, nullptr);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

// Frame 0 drawn at the screen's size onto a 24-bit bitmap, as the workspace draws photos.
void BM_OursLoadDraw(benchmark::State& state, size_t file) {
  const TBytes& data = Files()[file].Data;
  TGIFImage probe;
  TReadOnlyMemoryStream stream(data.data(), data.size());
  probe.LoadFromStream(stream);
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(probe.Width(), probe.Height());
  for (auto _ : state) LoadOurs(data, &target);
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(data.size()));
}

template <class F>
int64_t PeakOf(F&& f) {
  gCurrent = 0;
  gPeak = 0;
  gTracking = true;
  f();
  gTracking = false;
  return gPeak;
}

void ReportPeakMemory() {
  for (const TFile& f : Files()) {
    int64_t pixels = 0;
    const int64_t ours = PeakOf([&] {
      TGIFImage image;
      TReadOnlyMemoryStream stream(f.Data.data(), f.Data.size());
      image.LoadFromStream(stream);
      for (int i = 0; i < image.Images().Count(); ++i)
        pixels += int64_t(image.Images().Frames(i)->DataSize());
    });
    const std::string path = "/tmp/bench_gif_" + std::string(f.Name) + ".gif";
    {
      TFileStream out(path, fmCreate);
      out.WriteBuffer(f.Data.data(), int64_t(f.Data.size()));
    }
    const int64_t fromFile = PeakOf([&] {
      TGIFImage image;
      TFileStream in(path, fmOpenRead);
      image.LoadFromStream(in);
    });
    std::remove(path.c_str());
    const int64_t giflib = PeakOf([&] { SlurpGiflib(f.Data); });
    const int64_t budget = pixels + int64_t(f.Data.size());
    std::printf("  %-10s pixel buffers %6.2f MiB, file %6.2f MiB\n", f.Name, pixels / 1048576.0,
                double(f.Data.size()) / 1048576.0);
    std::printf(
        "  %-10s   ours from memory %6.2f MiB (pixels %+8.1f KiB), from a file %6.2f MiB "
        "(pixels + file %+8.1f KiB); giflib from memory %6.2f MiB\n",
        "", ours / 1048576.0, (ours - pixels) / 1024.0, fromFile / 1048576.0,
        (fromFile - budget) / 1024.0, giflib / 1048576.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  for (size_t i = 0; i < Files().size(); ++i) {
    const std::string n = Files()[i].Name;
    benchmark::RegisterBenchmark(("giflib/" + n).c_str(), BM_Giflib, i)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("giflib-draw/" + n).c_str(), BM_GiflibDraw, i)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ours-load/" + n).c_str(), BM_OursLoad, i)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ours-load-draw/" + n).c_str(), BM_OursLoadDraw, i)
        ->Unit(benchmark::kMillisecond);
  }
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatio TGIFImage / giflib, CPU time, same run (goal <= 1.0, aim 0.5)\n");
  for (const TFile& f : Files()) {
    const std::string n = f.Name;
    const struct {
      const char *Ours, *Peer, *What;
    } rows[] = {{"ours-load/", "giflib/", "load / DGifSlurp"},
                {"ours-load-draw/", "giflib/", "load + draw frame 0 / DGifSlurp"},
                {"ours-load-draw/", "giflib-draw/", "load + draw / DGifSlurp + colour lookup"}};
    for (const auto& r : rows) {
      const double ours = reporter.Time(r.Ours + n), peer = reporter.Time(r.Peer + n);
      if (ours > 0 && peer > 0) std::printf("  %-10s %-40s %5.2f\n", f.Name, r.What, ours / peer);
    }
  }
  std::printf("\nPeak heap of one load (goal: pixel buffers + file bytes + a small constant)\n");
  ReportPeakMemory();
  benchmark::Shutdown();
  return 0;
}
