// `vitrelle-img render` of PNG files, run in process, beside libpng doing the same job the
// plain way: read the rows, compose them over the background colour, write the PPM. The
// files, written by libpng with its defaults: a 2.2-megapixel RGB + alpha product picture,
// a 12-megapixel RGB camera-like photograph, and the flat synthetic picture of photos.h at
// 12 megapixels. Prints the ratios and the peak heap of each path.
// --keep leaves the files in their temporary folder, for profiling.
#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs.h"
#include "commands.h"
#include "heap_tracking.h"
#include "photos.h"
#include "ratio.h"
#include "testdata.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Dir() {
  static const fs::path dir =
      fs::temp_directory_path() / ("vitrelle-bench-png-" + std::to_string(getpid()));
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

// libpng's rows, composed over white with the same rounding as ours, written as they come.
void RenderLibpng(const fs::path& in, const fs::path& out) {
  FILE* src = std::fopen(in.c_str(), "rb");
  FILE* dst = std::fopen(out.c_str(), "wb");
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  std::vector<uint8_t> row, rgb;
  if (setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, src);
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    const bool alpha = png_get_color_type(png, info) == PNG_COLOR_TYPE_RGBA;
    row.resize(png_get_rowbytes(png, info));
    rgb.resize(size_t(w) * 3);
    std::fprintf(dst, "P6\n%u %u\n255\n", w, h);
    for (png_uint_32 y = 0; y < h; ++y) {
      png_read_row(png, row.data(), nullptr);
      const uint8_t* p = row.data();
      if (!alpha) {
        std::fwrite(p, 1, rgb.size(), dst);
        continue;
      }
      for (png_uint_32 x = 0; x < w; ++x, p += 4) {
        const unsigned a = p[3];
        for (int c = 0; c < 3; ++c)
          rgb[3 * x + c] = uint8_t((255 * (255 - a) + p[c] * a + 127) / 255);
      }
      std::fwrite(rgb.data(), 1, rgb.size(), dst);
    }
    png_read_end(png, nullptr);
  }
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(dst);
  std::fclose(src);
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

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  const bool keep = argc > 1 && std::string(argv[1]) == "--keep";
  TCodecRegistration codecs;
  MakeFiles();
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
  reporter.PrintRatio("2.2 MP RGB + alpha product", "ours/rgba_2.2MP", "libpng/rgba_2.2MP", 0.80);
  reporter.PrintRatio("12 MP RGB photograph", "ours/rgb_12MP", "libpng/rgb_12MP", 0.60);
  // Compressed to 0.2 MiB: zlib's share is small, the rest is each side's own work.
  reporter.PrintRatio("12 MP RGB flat synthetic picture", "ours/rgb_12MP_flat",
                      "libpng/rgb_12MP_flat", 0.60);
  PrintPeakHeap();
  if (keep)
    std::printf("files kept in %s\n", Dir().c_str());
  else
    fs::remove_all(Dir());
  benchmark::Shutdown();
  return 0;
}
