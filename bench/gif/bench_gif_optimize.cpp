// vitrelle-img optimiser beside gifsicle -O2, as whole programs: one process per animation,
// the two programs run on the same file one after the other (in turn first), and each
// process's processor time (user + system, from wait4) is added up over a set. The ratio of
// a set is the median over the rounds of (our total / gifsicle's total) in the same round.
// Two sets: the animations of the shared test pictures (small files, where starting the
// program is most of the work) and the benchmark's own 300-frame animation. The sizes of
// both programs' files are printed per file and in total.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "GIFImg.h"
#include "framework.h"
#include "gif_bench_files.h"
#include "programs.h"
#include "ratio.h"

namespace {

namespace fs = std::filesystem;

std::string Dir() {
  if (const char* env = std::getenv("VITRELLE_TESTDATA"); env && *env)
    return std::string(env) + "/gif";
  return std::string(VITRELLE_TESTDATA) + "/gif";
}

const std::string kTemp = BenchFolder("optimiser").string();

// The animations of the shared test pictures: files of more than one frame.
std::vector<std::string> SharedAnimations() {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(Dir(), ec)) {
    if (e.path().extension() != ".gif") continue;
    try {
      TGIFImage image;
      image.LoadFromFile(e.path().string());
      if (image.Images().Count() > 1) out.push_back(e.path().string());
    } catch (const Exception&) {
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::vector<std::string> BuiltAnimation() {
  const std::string path = kTemp + "-animation.gif";
  const gif_build::TBytes bytes = gif_bench::Animation();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  return {path};
}

// The program's processor time in seconds, or -1 when it could not run or failed.
double ProcessSeconds(const std::vector<std::string>& argv) {
  const TProgramRun run = RunProgram(argv);
  return run.Ok ? run.CpuSeconds : -1;
}

std::vector<std::string> Ours(const std::string& in, const std::string& out) {
  return {VITRELLE_IMG, "optimiser", in, out};
}
std::vector<std::string> Gifsicle(const std::string& in, const std::string& out) {
  return {"gifsicle", "-O2", in, "-o", out};
}

// Per set: each round's ratio; per file: each round's ratio and both output sizes.
std::map<std::string, std::vector<double>> gRoundRatios;
std::map<std::string, std::vector<double>> gFileRatios;
std::map<std::string, std::pair<uintmax_t, uintmax_t>> gSizes;

void MeasureSet(benchmark::State& state, const std::vector<std::string>& files,
                const std::string& set) {
  const std::string ours = kTemp + "-ours.gif", theirs = kTemp + "-gifsicle.gif";
  int round = 0;
  for (auto _ : state) {
    double a = 0, b = 0;
    for (const std::string& f : files) {
      const bool oursFirst = round % 2 == 0;
      const double first = ProcessSeconds(oursFirst ? Ours(f, ours) : Gifsicle(f, theirs));
      const double second = ProcessSeconds(oursFirst ? Gifsicle(f, theirs) : Ours(f, ours));
      const double x = oursFirst ? first : second, y = oursFirst ? second : first;
      if (x < 0 || y < 0) {
        state.SkipWithError("a program failed");
        return;
      }
      a += x;
      b += y;
      gFileRatios[f].push_back(y > 0 ? x / y : 0);
      gSizes[f] = {fs::file_size(ours), fs::file_size(theirs)};
    }
    gRoundRatios[set].push_back(b > 0 ? a / b : 0);
    state.SetIterationTime(a);
    ++round;
  }
  fs::remove(ours);
  fs::remove(theirs);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::system("gifsicle --version > /dev/null 2>&1") != 0) {
    std::fprintf(stderr, "gifsicle is not installed (scripts/install-deps)\n");
    return 1;
  }
  const std::map<std::string, std::vector<std::string>> sets = {
      {"shared test animations", SharedAnimations()}, {"300-frame animation", BuiltAnimation()}};
  for (const auto& [set, files] : sets)
    benchmark::RegisterBenchmark(
        ("optimiser/" + set).c_str(),
        [files = files, set = set](benchmark::State& s) { MeasureSet(s, files, set); })
        ->UseManualTime()
        ->Iterations(15)
        ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);

  std::printf(
      "\nPer file: processor time ours / gifsicle (paired median), bytes ours and gifsicle:\n");
  for (const auto& [f, ratios] : gFileRatios) {
    const auto [mine, peer] = gSizes[f];
    std::printf("  %-48s %7.3f  %9ju %9ju%s\n", fs::path(f).filename().c_str(), Median(ratios),
                mine, peer, mine > peer ? "  larger" : "");
  }
  std::printf("\nRatio ours / gifsicle -O2, whole programs, paired median:\n");
  for (const auto& [set, ratios] : gRoundRatios)
    TRatioReporter::PrintValue(("optimiser, " + set).c_str(), Median(ratios), 1.00);
  std::printf("\nSizes in total, ours / gifsicle -O2:\n");
  for (const auto& [set, files] : sets) {
    double mine = 0, peer = 0;
    for (const std::string& f : files)
      mine += double(gSizes[f].first), peer += double(gSizes[f].second);
    if (peer > 0) TRatioReporter::PrintValue(("bytes, " + set).c_str(), mine / peer, 1.00);
  }
  fs::remove(kTemp + "-animation.gif");
  benchmark::Shutdown();
  return 0;
}
