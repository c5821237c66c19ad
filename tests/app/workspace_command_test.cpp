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

// Coordinates beyond the photo control are refused at once as a usage error (exit 2) with
// the control's reach in the message: no frame of a billion pixels is drawn, and no sum
// near the integer limits overflows.
TEST(ComposerCommandTest, RefusesCoordinatesBeyondTheView) {
  TTempDir dir;
  const std::string common = "--photo " + WriteQuadrantBmp(dir, "maison.bmp", 400, 300) +
                             " --produit " + WriteQuadrantBmp(dir, "produit.bmp", 20, 20);
  for (const char* frame : {"100,100,1000000000,200", "-2147483648,0,2147483647,10",
                            "100,100,729,200", "100,-1,200,200", "0,0,100,731"}) {
    const TRun run = Composer(common + " --cadre " + frame + " " + dir.File("x.bmp"));
    EXPECT_EQ(run.Status, 2) << frame << "\n" << run.Output;
    EXPECT_NE(run.Output.find("--cadre hors de la vue de 728 x 730 (x de 0 à 728, y de 0 à 730)"),
              std::string::npos)
        << run.Output;
    EXPECT_NE(run.Output.find(frame), std::string::npos) << run.Output;
  }
  const TRun drag =
      Composer(common + " --cadre 200,250,300,350 --deplacer 2000000000,0 " + dir.File("x.bmp"));
  EXPECT_EQ(drag.Status, 2) << drag.Output;
  EXPECT_NE(drag.Output.find("--deplacer plus grand que la vue de 728 x 730"), std::string::npos)
      << drag.Output;
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.bmp")));

  // The control's edges themselves are within reach: a frame up to (728, 730) is tested
  // against the photo as usual (refused there: the 400 x 300 photo ends at 564, 515).
  const TRun edge = Composer(common + " --cadre 0,0,728,730 " + dir.File("x.bmp"));
  EXPECT_EQ(edge.Status, 1) << edge.Output;
  EXPECT_NE(edge.Output.find(txtOutside), std::string::npos) << edge.Output;
}

}  // namespace
#endif
