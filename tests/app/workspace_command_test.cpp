// `vitrelle-img composer` as a user runs it: arguments, exit status, messages, output.
#include <cstdio>
#include <fstream>
#include <iterator>

#include "workspace_support.h"

#ifdef VITRELLE_IMG_EXE
namespace {

struct TRun {
  int Status = -1;
  std::string Output;  // stdout and stderr
};

TRun Composer(const std::string& args) {
  TRun run;
  const std::string command = std::string(VITRELLE_IMG_EXE) + " composer " + args + " 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[512];
  while (size_t n = fread(buffer, 1, sizeof buffer, pipe)) run.Output.append(buffer, n);
  const int status = pclose(pipe);
  run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(ComposerCommandTest, WritesWhatTheWorkspaceWritesAndReportsRefusals) {
  TTempDir dir;
  const std::string photo = WriteQuadrantBmp(dir, "maison.bmp", 1600, 1200);
  const std::string product = WriteQuadrantBmp(dir, "produit.bmp", 50, 50);
  const std::string common = "--photo " + photo + " --produit " + product;

  TRun ok = Composer(common +
                     " --cadre 100,200,200,300 --mode personnalise --deplacer 30,-20"
                     " --mention noire --vue 800x600 " +
                     dir.File("cli.bmp"));
  ASSERT_EQ(ok.Status, 0) << ok.Output;
  TComposerJob job;
  job.PhotoPath = photo;
  job.ProductPath = product;
  job.X1 = 100, job.Y1 = 200, job.X2 = 200, job.Y2 = 300;
  job.Proportional = false;
  job.Drag = true, job.DragX = 30, job.DragY = -20;
  job.Mention = 2;
  job.ViewWidth = 800, job.ViewHeight = 600;
  job.OutputPath = dir.File("job.bmp");
  ASSERT_EQ(RunComposerJob(job).ExitCode, 0);
  EXPECT_EQ(Bytes(dir.File("cli.bmp")), Bytes(dir.File("job.bmp")));

  TRun outside = Composer(common + " --cadre 0,0,50,50 " + dir.File("non.bmp"));
  EXPECT_EQ(outside.Status, 1);
  EXPECT_NE(outside.Output.find(txtOutside), std::string::npos) << outside.Output;

  for (const std::string& bad :
       {common + " " + dir.File("x.bmp"), common + " --cadre 1,2,3 x.bmp",
        common + " --cadre 1,2,3,4 --mode autre x.bmp", common + " --cadre 1,2,3,4 --vue 0x5 x.bmp",
        common + " --cadre 1,2,3,4"}) {
    EXPECT_EQ(Composer(bad).Status, 2) << bad;
  }
}

}  // namespace
#endif
