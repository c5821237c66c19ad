// `vitrelle-img render` of a GIF to PPM beside a plain giflib program doing the same job
// (DGifSlurp, frame 0 looked up into RGB, the PPM written through stdio: giflib_render.c).
// The file is the 1-megapixel still of gif_bench_files.h, written to a temporary folder.
// In process: the command's own function against the program's, CPU time, same run.
// Whole programs: vitrelle-img against giflib_render, paired runs, median ratio.
// vitrelle-img saves every file safely (a temporary file flushed to the disk with fsync,
// then renamed over the target); the giflib program run the same way (--durable) shows
// how much of the gap that durability is. Options: --pairs N (default 21); --keep leaves
// the files in their folder, for profiling.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codecs.h"
#include "commands.h"
#include "gif_bench_files.h"
#include "giflib_render.h"
#include "programs.h"
#include "ratio.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Dir() {
  static const fs::path dir = BenchFolder("gif-render");
  return dir;
}

fs::path Still() {
  return Dir() / "still-1MP.gif";
}

void MakeFiles() {
  fs::create_directories(Dir());
  const gif_build::TBytes bytes = gif_bench::Still();
  std::ofstream(Still(), std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void BM_Ours(benchmark::State& state) {
  const std::string out = (Dir() / "ours.ppm").string();
  for (auto _ : state) CmdRender({Still().string(), out});
}

void BM_Giflib(benchmark::State& state, int durable) {
  const std::string out = (Dir() / "giflib.ppm").string();
  for (auto _ : state)
    if (!GiflibRender(Still().c_str(), out.c_str(), durable)) state.SkipWithError("giflib failed");
}

bool SameFile(const fs::path& a, const fs::path& b) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(fa), {}) ==
         std::string(std::istreambuf_iterator<char>(fb), {});
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  int pairs = 21;
  bool keep = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--keep") == 0) keep = true;
    if (std::strcmp(argv[i], "--pairs") == 0 && i + 1 < argc)
      pairs = std::max(1, std::atoi(argv[++i]));
  }
  TCodecRegistration codecs;
  MakeFiles();
  benchmark::RegisterBenchmark("render-ours/still-1MP", BM_Ours)
      ->Unit(benchmark::kMillisecond)
      ->Repetitions(3);
  benchmark::RegisterBenchmark("render-giflib/still-1MP", BM_Giflib, 0)
      ->Unit(benchmark::kMillisecond)
      ->Repetitions(3);
  benchmark::RegisterBenchmark("render-giflib-durable/still-1MP", BM_Giflib, 1)
      ->Unit(benchmark::kMillisecond)
      ->Repetitions(3);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  // The two programs must agree before their times mean anything.
  const fs::path ours = Dir() / "ours.ppm", peer = Dir() / "giflib.ppm";
  if (!SameFile(ours, peer)) std::printf("\nWARNING: the two PPM files differ\n");

  std::printf("\nrender GIF -> PPM / giflib slurp + lookup + PPM, in process (CPU time):\n");
  reporter.PrintRatio("still-1MP", "render-ours/still-1MP", "render-giflib/still-1MP", 0.60);
  reporter.PrintRatio("still-1MP, giflib saving durably too", "render-ours/still-1MP",
                      "render-giflib-durable/still-1MP");

  std::printf("\nvitrelle-img render / giflib_render, whole programs (%d pairs):\n", pairs);
  const std::vector<std::string> oursProgram = {VITRELLE_IMG, "render", Still().string(),
                                                ours.string()};
  std::vector<std::string> peerProgram = {GIFLIB_RENDER, Still().string(), peer.string()};
  PrintComparison("still-1MP", ComparePrograms(oursProgram, peerProgram, pairs), 0.60);
  peerProgram.push_back("--durable");
  PrintComparison("still-1MP, giflib_render --durable",
                  ComparePrograms(oursProgram, peerProgram, pairs), 0);
  if (keep)
    std::printf("files kept in %s\n", Dir().c_str());
  else
    fs::remove_all(Dir());
  benchmark::Shutdown();
  return 0;
}
