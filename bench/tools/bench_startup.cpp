// Start-up of vitrelle-img beside gifsicle's: `vitrelle-img --version` and
// `gifsicle --version`, each run as a program (fork and exec, output thrown away) many
// times in alternation. Processor time (user + system, from wait4) and wall time per run;
// the medians and their ratio ours / gifsicle. Arguments: [runs] (default 400); options
// of the other benchmark programs are ignored. VITRELLE_IMG in the environment measures
// another build of the program.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct TRun {
  double Cpu = 0, Wall = 0;  // milliseconds
  bool Ok = false;
};

TRun Run(const std::vector<const char*>& argv) {
  std::vector<char*> args;
  for (const char* a : argv) args.push_back(const_cast<char*>(a));
  args.push_back(nullptr);
  TRun run;
  const auto start = std::chrono::steady_clock::now();
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
  run.Wall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  run.Cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
            double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-3;
  run.Ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  return run;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty()      ? 0
         : v.size() % 2 ? v[v.size() / 2]
                        : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 400;
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') runs = std::max(10, std::atoi(argv[i]));
  const char* program = std::getenv("VITRELLE_IMG");
  const std::vector<const char*> ours{program && *program ? program : VITRELLE_IMG, "--version"};
  const std::vector<const char*> peer{"gifsicle", "--version"};
  if (!Run(ours).Ok || !Run(peer).Ok) {  // also the unmeasured first start of each
    std::printf("vitrelle-img or gifsicle did not run\n");
    return 1;
  }
  std::vector<double> oursCpu, oursWall, peerCpu, peerWall;
  for (int i = 0; i < runs; ++i) {
    // Alternating which goes first: a disturbance hits both alike.
    TRun o, b;
    if (i % 2 == 0) {
      o = Run(ours);
      b = Run(peer);
    } else {
      b = Run(peer);
      o = Run(ours);
    }
    if (!o.Ok || !b.Ok) return 1;
    oursCpu.push_back(o.Cpu), oursWall.push_back(o.Wall);
    peerCpu.push_back(b.Cpu), peerWall.push_back(b.Wall);
  }
  std::printf("Start-up, median of %d runs each       processor ms   wall ms\n", runs);
  std::printf("  vitrelle-img --version              %12.3f %9.3f\n", Median(oursCpu),
              Median(oursWall));
  std::printf("  gifsicle --version                  %12.3f %9.3f\n", Median(peerCpu),
              Median(peerWall));
  const double cpu = Median(oursCpu) / Median(peerCpu), wall = Median(oursWall) / Median(peerWall);
  std::printf("Ratio vitrelle-img / gifsicle: processor %.2f, wall %.2f  (goal <= 1.30)%s\n", cpu,
              wall, cpu <= 1.30 ? "" : "  MISSED");
  return 0;
}
