// Whole programs measured side by side: each run is a fork and exec whose processor time
// (user + system) and peak resident memory come from wait4's resource usage, so neither
// the shell nor the benchmark's own work counts. Runs are paired (ours, then the peer, in
// alternating order) and the median of the pairs' ratios is reported: a disturbance by
// another process spoils one pair, not the result.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

struct TProgramRun {
  double CpuSeconds = 0;  // user + system
  long MaxRssKiB = 0;
  bool Ok = false;  // exited with status 0
};

// A folder of this benchmark process's own for its files: several benchmarks may run at
// once without meeting.
inline std::filesystem::path BenchFolder(const std::string& name) {
  return std::filesystem::temp_directory_path() /
         ("vitrelle-bench-" + name + "-" + std::to_string(getpid()));
}

// Runs argv[0] (a path, or a name looked up in PATH) with its output thrown away.
inline TProgramRun RunProgram(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  TProgramRun run;
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    dup2(null, 2);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return run;
  run.CpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                   double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
  run.MaxRssKiB = usage.ru_maxrss;
  run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

inline double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct TProgramComparison {
  double OursMs = 0, PeerMs = 0;  // medians
  double Ratio = 0;               // median of the pairs' ratios
  double RatioLow = 0, RatioHigh = 0;
  long OursRssKiB = 0, PeerRssKiB = 0;  // highest seen
  bool Ok = false;
};

// `pairs` paired runs after one unmeasured warm-up of each (page cache, dynamic loader).
inline TProgramComparison ComparePrograms(const std::vector<std::string>& ours,
                                          const std::vector<std::string>& peer, int pairs) {
  TProgramComparison c;
  if (!RunProgram(ours).Ok || !RunProgram(peer).Ok) return c;
  std::vector<double> a, b, ratios;
  for (int i = 0; i < pairs; ++i) {
    TProgramRun x, y;
    if (i % 2 == 0) {
      x = RunProgram(ours);
      y = RunProgram(peer);
    } else {
      y = RunProgram(peer);
      x = RunProgram(ours);
    }
    if (!x.Ok || !y.Ok) return c;
    a.push_back(x.CpuSeconds);
    b.push_back(y.CpuSeconds);
    if (y.CpuSeconds > 0) ratios.push_back(x.CpuSeconds / y.CpuSeconds);
    c.OursRssKiB = std::max(c.OursRssKiB, x.MaxRssKiB);
    c.PeerRssKiB = std::max(c.PeerRssKiB, y.MaxRssKiB);
  }
  c.OursMs = Median(a) * 1e3;
  c.PeerMs = Median(b) * 1e3;
  c.Ratio = Median(ratios);
  std::sort(ratios.begin(), ratios.end());
  c.RatioLow = ratios.empty() ? 0 : ratios[ratios.size() / 4];
  c.RatioHigh = ratios.empty() ? 0 : ratios[ratios.size() * 3 / 4];
  c.Ok = !ratios.empty();
  return c;
}

// One result line: times, ratio with its middle half, goal (0: none), and both peaks of
// memory.
inline void PrintComparison(const char* label, const TProgramComparison& c, double goal) {
  if (!c.Ok) {
    std::printf("  %-44s a program failed\n", label);
    return;
  }
  std::printf("  %-44s %7.1f ms / %7.1f ms = %5.3f [%5.3f-%5.3f]", label, c.OursMs, c.PeerMs,
              c.Ratio, c.RatioLow, c.RatioHigh);
  if (goal > 0) std::printf(" (goal <= %.2f)%s", goal, c.Ratio <= goal ? "" : "  MISSED");
  std::printf("\n");
  std::printf("  %-44s peak memory %6.1f MiB / %6.1f MiB\n", "", c.OursRssKiB / 1024.0,
              c.PeerRssKiB / 1024.0);
}
