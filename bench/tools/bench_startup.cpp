// Start-up of vitrelle-img beside gifsicle's: `vitrelle-img --version` and
// `gifsicle --version`, each run as a program many times in alternation (processor time
// from wait4, paired runs, median ratio). Arguments: [runs] (default 400); options of the
// other benchmark programs are ignored. VITRELLE_IMG in the environment measures another
// build of the program.
#include <cstdlib>

#include "programs.h"

int main(int argc, char** argv) {
  int runs = 400;
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') runs = std::max(10, std::atoi(argv[i]));
  const char* program = std::getenv("VITRELLE_IMG");
  const TProgramComparison c = ComparePrograms(
      {program && *program ? program : VITRELLE_IMG, "--version"}, {"gifsicle", "--version"}, runs);
  std::printf("Start-up, %d paired runs: vitrelle-img --version / gifsicle --version\n", runs);
  std::printf("  processor time %.3f ms / %.3f ms\n", c.OursMs, c.PeerMs);
  PrintComparison("start-up", c, 1.30);
  return c.Ok ? 0 : 1;
}
