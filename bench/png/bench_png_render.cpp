// `vitrelle-img render` of PNG files beside libpng doing the same job the plain way (read
// the rows, compose them over the background colour, write the PPM; libpng_render.h):
// first in process, then as whole programs, vitrelle-img against png_render_peer (paired
// runs, median ratio, peak memory of each). The files, written by libpng with its
// defaults: a 2.2-megapixel RGB + alpha product picture, a 12-megapixel RGB camera-like
// photograph, and the flat synthetic picture of photos.h at 12 megapixels. Prints the
// ratios and the peak heap of each path.
// Options: --pairs N (whole programs, default 11); --keep leaves the files in their
// temporary folder, for profiling.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs.h"
#include "commands.h"
#include "heap_tracking.h"
#include "libpng_render.h"
#include "photos.h"
#include "programs.h"
#include "ratio.h"
#include "testdata.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Dir() {
  static const fs::path dir = BenchFolder("png");
  return dir;
}

// A window-like product: a clear surround (black there, as image editors store clear
// pixels), a soft edge, an opaque frame and a tinted, half-clear pane.
uint8_t ProductAlpha(int x, int y, int w, int h) {
  const int edge = std::min(std::min(x, y), std::min(w - 1 - x, h - 1 - y));
  if (edge < 60) return 0;
  if (edge < 80) return uint8_t((edge - 60) * 255 / 20);
  if (edge < 260) return 255;
  return 90;
}

void WritePng(const fs::path& path, const TBitmap& photo, bool alpha) {
  FILE* out = std::fopen(path.c_str(), "wb");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, out);
  const int w = photo.Width(), h = photo.Height(), channels = alpha ? 4 : 3;
  png_set_IHDR(png, info, png_uint_32(w), png_uint_32(h), 8,
               alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<uint8_t> row(size_t(w) * channels);
  for (int y = 0; y < h; ++y) {
    const uint8_t* bgr = photo.GetScanline(y);
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &row[size_t(x) * channels];
      p[0] = bgr[3 * x + 2], p[1] = bgr[3 * x + 1], p[2] = bgr[3 * x];
      if (!alpha) continue;
      p[3] = ProductAlpha(x, y, w, h);
      if (p[3] == 0) p[0] = p[1] = p[2] = 0;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(out);
}

struct TFile {
  const char* Name;
  int Width, Height;
  bool Alpha;
  bool Camera;  // a camera-like photograph; else the flat synthetic picture
};
const TFile kFiles[] = {{"rgba_2.2MP", 1800, 1220, true, true},
                        {"rgb_12MP", 4000, 3000, false, true},
                        {"rgb_12MP_flat", 4000, 3000, false, false}};

fs::path PathOf(const TFile& f) {
  return Dir() / (std::string(f.Name) + ".png");
}

void MakeFiles() {
  fs::create_directories(Dir());
  TBitmap source;
  try {
    source.LoadFromFile(vitrelle_test::TestDataPath("bmp/large-wuffs-harvesters-1165x859.bmp"));
  } catch (const Exception&) {
    // without the shared pictures, gradients stand in for the scene
  }
  for (const TFile& f : kFiles) {
    TBitmap photo;
    if (f.Camera) {
      MakeCameraPhoto(photo, f.Width, f.Height, &source);
    } else {
      const fs::path bmp = Dir() / "flat.bmp";
      WriteDetailedPhoto(bmp.string(), f.Width, f.Height);
      photo.LoadFromFile(bmp.string());
    }
    WritePng(PathOf(f), photo, f.Alpha);
  }
}

void RenderOurs(const fs::path& in, const fs::path& out) {
  CmdRender({in.string(), out.string()});
}

void RenderLibpng(const fs::path& in, const fs::path& out) {
  RenderWithLibpng(in.c_str(), out.c_str());
}

void Run(benchmark::State& state, void (*render)(const fs::path&, const fs::path&), const TFile& f,
         const char* who) {
  const fs::path out = Dir() / (std::string(f.Name) + "-" + who + ".ppm");
  for (auto _ : state) render(PathOf(f), out);
}

// Peak heap of one render, ours and libpng's.
void PrintPeakHeap() {
  for (const TFile& f : kFiles) {
    double peak[2];
    for (int who = 0; who < 2; ++who) {
      gCurrent = 0, gPeak = 0, gTracking = true;
      (who ? RenderLibpng : RenderOurs)(PathOf(f), Dir() / "heap.ppm");
      gTracking = false;
      peak[who] = double(gPeak) / 1048576.0;
    }
    std::printf("  %-12s peak heap: ours %7.1f MiB, libpng %5.1f MiB\n", f.Name, peak[0], peak[1]);
  }
}

const double kGoals[] = {0.80, 0.60, 0.60};

// The same renders as whole programs: start-up, reading and writing the files included.
void CompareWholePrograms(int pairs) {
#ifdef VITRELLE_IMG
  std::printf("whole programs, vitrelle-img render / png_render_peer (CPU time, %d paired runs):\n",
              pairs);
  for (size_t i = 0; i < std::size(kFiles); ++i) {
    const TFile& f = kFiles[i];
    const std::string in = PathOf(f).string(), out = (Dir() / f.Name).string();
    const TProgramComparison c = ComparePrograms({VITRELLE_IMG, "render", in, out + "-ours.ppm"},
                                                 {PNG_RENDER_PEER, in, out + "-peer.ppm"}, pairs);
    PrintComparison(f.Name, c, kGoals[i]);
  }
  std::printf("\n");
#else
  (void)pairs;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bool keep = false;
  int pairs = 11;
  for (int i = 1; i < argc; ++i) {
    keep = keep || !std::strcmp(argv[i], "--keep");
    if (!std::strcmp(argv[i], "--pairs") && i + 1 < argc)
      pairs = std::max(1, std::atoi(argv[i + 1]));
  }
  TCodecRegistration codecs;
  MakeFiles();
  // First, while this process is small: a child's peak memory starts from its parent's.
  CompareWholePrograms(pairs);
  for (const TFile& f : kFiles) {
    benchmark::RegisterBenchmark((std::string("ours/") + f.Name).c_str(), Run, RenderOurs, f,
                                 "ours")
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark((std::string("libpng/") + f.Name).c_str(), Run, RenderLibpng, f,
                                 "libpng")
        ->Unit(benchmark::kMillisecond);
  }
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nrender PNG -> PPM / libpng read + compose + PPM (CPU time, same run):\n");
  reporter.PrintRatio("2.2 MP RGB + alpha product", "ours/rgba_2.2MP", "libpng/rgba_2.2MP",
                      kGoals[0]);
  reporter.PrintRatio("12 MP RGB photograph", "ours/rgb_12MP", "libpng/rgb_12MP", kGoals[1]);
  // Compressed to 0.2 MiB: zlib's share is small, the rest is each side's own work.
  reporter.PrintRatio("12 MP RGB flat synthetic picture", "ours/rgb_12MP_flat",
                      "libpng/rgb_12MP_flat", kGoals[2]);
  PrintPeakHeap();
  if (keep)
    std::printf("files kept in %s\n", Dir().c_str());
  else
    fs::remove_all(Dir());
  benchmark::Shutdown();
  return 0;
}
