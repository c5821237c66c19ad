// The console reporter every benchmark program uses: it prints Google Benchmark's table
// and keeps each benchmark's time per iteration, so that a program can print the ratio of
// its code to the peer measured in the same run once everything has run.
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

class TRatioReporter : public benchmark::ConsoleReporter {
 public:
  // Processor time is the steadier measure on a shared machine; wall time is kept too.
  enum TMeasure { kCpu, kWall };

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.iterations == 0) continue;
      if (std::find(FNames.begin(), FNames.end(), run.benchmark_name()) == FNames.end())
        FNames.push_back(run.benchmark_name());
      // Under both the full name ("BM_X/iterations:3") and the function's name, keeping
      // the best of repeated runs: being disturbed by others is not the code's cost.
      for (const std::string& name : {run.benchmark_name(), run.run_name.function_name}) {
        Keep(FCpu, name, run.GetAdjustedCPUTime());
        Keep(FWall, name, run.GetAdjustedRealTime());
      }
    }
  }

  // Time per iteration in the benchmark's own unit; 0 when it did not run.
  double Time(const std::string& name, TMeasure measure = kCpu) const {
    const auto& times = measure == kCpu ? FCpu : FWall;
    const auto it = times.find(name);
    return it == times.end() ? 0.0 : it->second;
  }

  // Every benchmark that ran, by its full name.
  const std::vector<std::string>& Names() const { return FNames; }

  // ours / peer; 0 when either did not run.
  double Ratio(const std::string& ours, const std::string& peer, TMeasure measure = kCpu) const {
    const double a = Time(ours, measure);
    const double b = Time(peer, measure);
    return a > 0 && b > 0 ? a / b : 0.0;
  }

  // One line "label  ratio  (goal <= g)" with a mark when the goal is missed; goal 0
  // prints the ratio alone.
  void PrintRatio(const char* label, const std::string& ours, const std::string& peer,
                  double goal = 0, TMeasure measure = kCpu) const {
    PrintValue(label, Ratio(ours, peer, measure), goal);
  }

  // The same line for a ratio the program worked out itself (a paired median of whole
  // programs, for instance); nothing for 0.
  static void PrintValue(const char* label, double r, double goal = 0) {
    if (r == 0) return;
    if (goal > 0)
      std::printf("  %-48s %7.3f  (goal <= %.2f)%s\n", label, r, goal, r <= goal ? "" : "  MISSED");
    else
      std::printf("  %-48s %7.3f\n", label, r);
  }

  // One line "label  time" with the time scaled (unit 1e-3 turns microseconds into ms).
  void PrintTime(const char* label, const std::string& name, double scale = 1.0,
                 TMeasure measure = kCpu) const {
    const double t = Time(name, measure);
    if (t > 0) std::printf("  %-48s %9.3f\n", label, t * scale);
  }

 private:
  static void Keep(std::map<std::string, double>& times, const std::string& name, double t) {
    auto [it, added] = times.emplace(name, t);
    if (!added) it->second = std::min(it->second, t);
  }
  std::map<std::string, double> FCpu;
  std::map<std::string, double> FWall;
  std::vector<std::string> FNames;
};
