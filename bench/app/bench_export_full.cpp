// The full-resolution export of a 12-megapixel JPEG photo with two products (one fixed
// flat, one placed in perspective) to JPEG, as the whole program `vitrelle-img composer
// ... --pleine-resolution out.jpg`, beside what it cannot avoid: decoding the photo and
// encoding the result, `djpeg` then `cjpeg -quality 90` of the same photo. Each round runs both
// (in turn first); a process's processor time is user + system from wait4, the peer's the
// sum of its two processes. The ratio is the median over the rounds of ours / peer in the
// same round. The peak memory of our process (its maximum resident set) is compared with
// the photo's size at 24 bits per pixel.
//
// The photo is the sample house enlarged to 4000 x 3000 with a camera's grain, written by
// cjpeg at quality 90: the texture of a real photo, which a smooth enlargement would lack.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codecs.h"
#include "framework.h"
#include "programs.h"
#include "ratio.h"

namespace {

namespace fs = std::filesystem;

const fs::path kDir = BenchFolder("export");
constexpr int kWidth = 4000;
constexpr int kHeight = 3000;

std::string PathOf(const char* name) {
  return (kDir / name).string();
}

// The sample house enlarged bilinearly, with grain (a fixed pseudo-random sequence).
void WritePhotoPpm(const std::string& path) {
  TPicture house;
  house.LoadFromFile(std::string(VITRELLE_SOURCE_DIR) + "/assets/maison-exemple.jpg");
  TBitmap small;
  small.Assign(*house.Graphic());
  small.SetPixelFormat(pf24bit);
  std::ofstream out(path, std::ios::binary);
  out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
  std::vector<uint8_t> row(size_t(3) * kWidth);
  uint32_t seed = 12345;
  for (int y = 0; y < kHeight; ++y) {
    const double sy = std::min((y + 0.5) * small.Height() / kHeight - 0.5, small.Height() - 1.001);
    const int y0 = std::max(0, int(sy));
    const double fy = std::max(0.0, sy - y0);
    const uint8_t* r0 = small.GetScanline(y0);
    const uint8_t* r1 = small.GetScanline(std::min(y0 + 1, small.Height() - 1));
    for (int x = 0; x < kWidth; ++x) {
      const double sx = std::min((x + 0.5) * small.Width() / kWidth - 0.5, small.Width() - 1.001);
      const int x0 = std::max(0, int(sx));
      const double fx = std::max(0.0, sx - x0);
      const int x1 = std::min(x0 + 1, small.Width() - 1);
      seed = seed * 1664525u + 1013904223u;
      const int grain = int((seed >> 24) % 25) - 12;  // shared by the channels, as luminance
      for (int c = 0; c < 3; ++c) {
        const double top = r0[3 * x0 + c] * (1 - fx) + r0[3 * x1 + c] * fx;
        const double bottom = r1[3 * x0 + c] * (1 - fx) + r1[3 * x1 + c] * fx;
        const double v = top * (1 - fy) + bottom * fy + grain + int((seed >> (4 + 4 * c)) % 9) - 4;
        // BGR in the bitmap, RGB in the file.
        row[size_t(3) * x + 2 - c] = uint8_t(std::clamp(int(std::lround(v)), 0, 255));
      }
    }
    out.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
  }
}

// Two products on the house's windows, scaled to the 4000 x 3000 photo's display of
// 728 x 546 (offset 92): the left one fixed flat, the right one in perspective.
TProgramRun Ours() {
  return RunProgram({VITRELLE_IMG_EXE, "composer", "--photo", PathOf("photo.jpg"), "--produit",
                     std::string(VITRELLE_SOURCE_DIR) + "/assets/produit-exemple.png", "--mode",
                     "personnalise", "--cadre", "158,341,268,472", "--fixer", "--cadre",
                     "420,330,520,470", "--coins", "425,335,515,350,512,455,422,468",
                     "--pleine-resolution", PathOf("ours.jpg")});
}

// djpeg, then cjpeg -quality 90 on its output, both processes' time added. One after the
// other through a file rather than through a pipe: two processes feeding each other on a
// shared machine spend a varying share of their time waking each other.
TProgramRun Peer() {
  const TProgramRun a = RunProgram({"djpeg", "-outfile", PathOf("peer.ppm"), PathOf("photo.jpg")});
  const TProgramRun b =
      RunProgram({"cjpeg", "-quality", "90", "-outfile", PathOf("peer.jpg"), PathOf("peer.ppm")});
  return {a.CpuSeconds + b.CpuSeconds, std::max(a.MaxRssKiB, b.MaxRssKiB), a.Ok && b.Ok};
}

std::vector<double> gRatios;
std::vector<double> gOurSeconds;
std::vector<double> gPeerSeconds;
long gOurRssKiB = 0;

void BM_ExportFullResolution(benchmark::State& state) {
  int round = 0;
  for (auto _ : state) {
    const bool oursFirst = round++ % 2 == 0;
    TProgramRun ours, peer;
    if (oursFirst) {
      ours = Ours();
      peer = Peer();
    } else {
      peer = Peer();
      ours = Ours();
    }
    if (!ours.Ok || !peer.Ok || peer.CpuSeconds <= 0) {
      state.SkipWithError("a program failed");
      return;
    }
    gRatios.push_back(ours.CpuSeconds / peer.CpuSeconds);
    gOurSeconds.push_back(ours.CpuSeconds);
    gPeerSeconds.push_back(peer.CpuSeconds);
    gOurRssKiB = std::max(gOurRssKiB, ours.MaxRssKiB);
    state.SetIterationTime(ours.CpuSeconds);
  }
}
BENCHMARK(BM_ExportFullResolution)->UseManualTime()->Iterations(15)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (std::system("djpeg -version < /dev/null > /dev/null 2>&1; cjpeg -version < /dev/null "
                  "> /dev/null 2>&1") != 0) {
    std::fprintf(stderr, "djpeg and cjpeg are not installed (scripts/install-deps)\n");
    return 1;
  }
  fs::create_directories(kDir);
  {
    TCodecRegistration codecs;
    WritePhotoPpm(PathOf("photo.ppm"));
  }
  const std::string encode =
      "cjpeg -quality 90 -outfile " + PathOf("photo.jpg") + " " + PathOf("photo.ppm");
  if (std::system(encode.c_str()) != 0) {
    std::fprintf(stderr, "cjpeg could not write the test photo\n");
    return 1;
  }
  fs::remove(PathOf("photo.ppm"));
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double photoBytes = 3.0 * kWidth * kHeight;
  std::printf("\n4000 x 3000 JPEG, two products, full-resolution JPEG export (%zu rounds):\n",
              gRatios.size());
  std::printf("  %-48s %9.3f s\n", "vitrelle-img composer, median", Median(gOurSeconds));
  std::printf("  %-48s %9.3f s\n", "djpeg + cjpeg -quality 90, median", Median(gPeerSeconds));
  TRatioReporter::PrintValue("time ours / (djpeg + cjpeg), paired median", Median(gRatios), 1.5);
  TRatioReporter::PrintValue("peak memory / photo at 24 bits", gOurRssKiB * 1024.0 / photoBytes,
                             3.0);
  benchmark::Shutdown();
  fs::remove_all(kDir);
  return 0;
}
