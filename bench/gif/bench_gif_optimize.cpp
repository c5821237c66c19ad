// vitrelle-img optimiser beside gifsicle -O2 on the animations of the test pictures: both run
// as programs on the same file in the same iteration. Counters per file and in total:
// size_vs_gifsicle (our bytes / gifsicle's), size_vs_input (our bytes / input bytes, never
// above 1), time_vs_gifsicle (our time / gifsicle's), and the start-up time of each program.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "GIFImg.h"
#include "framework.h"

namespace {

namespace fs = std::filesystem;

std::string Dir() {
  if (const char* env = std::getenv("VITRELLE_TESTDATA"); env && *env)
    return std::string(env) + "/gif";
  return std::string(VITRELLE_TESTDATA) + "/gif";
}

// The animations: files of more than one frame.
std::vector<std::string> Animations() {
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

double Seconds(const std::string& command) {
  auto start = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) return -1;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct TTally {
  double Ours = 0, Theirs = 0, OurBytes = 0, TheirBytes = 0, InBytes = 0;
};

void Measure(benchmark::State& state, const std::vector<std::string>& files) {
  const std::string tmp =
      fs::temp_directory_path() / ("vitrelle-bench-" + std::to_string(getpid()));
  const std::string ours = tmp + "-ours.gif", theirs = tmp + "-gifsicle.gif";
  TTally t;
  bool first = true;
  for (auto _ : state) {
    double iterationOurs = 0;
    for (const std::string& f : files) {
      double a =
          Seconds(std::string(VITRELLE_IMG) + " optimiser '" + f + "' " + ours + " > /dev/null");
      double b = Seconds("gifsicle -O2 '" + f + "' -o " + theirs + " 2> /dev/null");
      if (a < 0 || b < 0) {
        state.SkipWithError("a program failed");
        return;
      }
      iterationOurs += a;
      t.Theirs += b;
      if (first) {
        t.OurBytes += double(fs::file_size(ours));
        t.TheirBytes += double(fs::file_size(theirs));
        t.InBytes += double(fs::file_size(f));
      }
    }
    first = false;
    t.Ours += iterationOurs;
    state.SetIterationTime(iterationOurs);
  }
  // Starting each program (nothing optimized) explains the gap on files of a few hundred bytes.
  double startOurs = 0, startTheirs = 0;
  for (int k = 0; k < 5; ++k) {
    startOurs += Seconds(std::string(VITRELLE_IMG) + " --help > /dev/null");
    startTheirs += Seconds("gifsicle --version > /dev/null");
  }
  state.counters["start_ms_ours"] = startOurs * 1000 / 5;
  state.counters["start_ms_gifsicle"] = startTheirs * 1000 / 5;
  state.counters["size_vs_gifsicle"] = t.OurBytes / t.TheirBytes;
  state.counters["size_vs_input"] = t.OurBytes / t.InBytes;
  state.counters["time_vs_gifsicle"] = t.Ours / t.Theirs;
  state.counters["bytes_ours"] = t.OurBytes;
  state.counters["bytes_gifsicle"] = t.TheirBytes;
  state.counters["bytes_input"] = t.InBytes;
  fs::remove(ours);
  fs::remove(theirs);
}

}  // namespace

int main(int argc, char** argv) {
  if (std::system("gifsicle --version > /dev/null 2>&1") != 0) {
    std::fprintf(stderr, "gifsicle is not installed (scripts/install-deps)\n");
    return 1;
  }
  const std::vector<std::string> files = Animations();
  for (const std::string& f : files)
    benchmark::RegisterBenchmark(("optimise/" + fs::path(f).filename().string()).c_str(),
                                 [f](benchmark::State& s) { Measure(s, {f}); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("optimise/TOTAL",
                               [files](benchmark::State& s) { Measure(s, files); })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
