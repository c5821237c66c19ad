// `vitrelle-img composer` as a user runs it: arguments, exit status, messages, output.
#include <cmath>
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

// --coins puts the product in perspective: a solid product's corners land within one pixel
// of the given points, and nothing of it lies more than a pixel outside them. A concave
// or crossed shape and corners beyond the view are usage errors.
TEST(ComposerCommandTest, CornersLandWhereGiven) {
  TTempDir dir;
  const std::string common =
      "--photo " +
      WriteQuadrantBmp(dir, "maison.bmp", 1600, 1200, clWhite, clWhite, clWhite, clWhite) +
      " --produit " + WriteQuadrantBmp(dir, "p.bmp", 40, 40, clBlack, clBlack, clBlack, clBlack) +
      " --mode personnalise --cadre 200,300,400,450";
  const double corners[4][2] = {{210, 310}, {390, 300}, {380, 440}, {205, 450}};
  const TRun run =
      Composer(common + " --coins 210,310,390,300,380,440,205,450 " + dir.File("coins.bmp"));
  ASSERT_EQ(run.Status, 0) << run.Output;
  TBitmap out;
  out.LoadFromFile(dir.File("coins.bmp"));
  std::vector<std::pair<double, double>> dark;  // pixel centres, window coordinates
  for (int y = 0; y < out.Height(); ++y)
    for (int x = 0; x < out.Width(); ++x)
      if (GetGValue(out.PixelColor(x, y)) < 128) dark.emplace_back(x + 0.5, y + 92 + 0.5);
  ASSERT_FALSE(dark.empty());
  for (int c = 0; c < 4; ++c) {
    double nearest = 1e9;
    for (auto [x, y] : dark)
      nearest = std::min(nearest, std::hypot(x - corners[c][0], y - corners[c][1]));
    EXPECT_LE(nearest, 1.0) << "corner " << c;
    // The side from this corner to the next: every dark pixel is inside, or within a pixel.
    const double ax = corners[c][0], ay = corners[c][1];
    const double bx = corners[(c + 1) % 4][0], by = corners[(c + 1) % 4][1];
    const double length = std::hypot(bx - ax, by - ay);
    for (auto [x, y] : dark)
      ASSERT_GE(((bx - ax) * (y - ay) - (by - ay) * (x - ax)) / length, -1.0)
          << "side " << c << " pixel " << x << "," << y;
  }

  for (const char* bad : {"210,310,390,300,205,450,380,440", "210,310,300,380,390,300,205,450",
                          "210,310,390,300,380,440,205,800"}) {
    const TRun refused = Composer(common + " --coins " + bad + " " + dir.File("x.bmp"));
    EXPECT_EQ(refused.Status, 2) << bad << "\n" << refused.Output;
    EXPECT_NE(refused.Output.find("--coins"), std::string::npos) << refused.Output;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.bmp")));
}

// --fixer leaves the product on the photo and a later --cadre places the next one (with
// --produit, another picture); --pleine-resolution writes at the photo's own size.
TEST(ComposerCommandTest, FixedProductsAndFullResolution) {
  TTempDir dir;
  const std::string red = WriteQuadrantBmp(dir, "r.bmp", 20, 20, clRed, clRed, clRed, clRed);
  const std::string lime = WriteQuadrantBmp(dir, "v.bmp", 20, 20, clLime, clLime, clLime, clLime);
  const std::string common =
      "--photo " +
      WriteQuadrantBmp(dir, "maison.bmp", 1456, 1092, clWhite, clWhite, clWhite, clWhite) +
      " --mode personnalise --produit " + red + " --cadre 100,200,200,300 --fixer --cadre " +
      "300,200,400,300 --fixer --produit " + lime + " --cadre 500,200,600,300 ";
  ASSERT_EQ(Composer(common + dir.File("ecran.bmp")).Status, 0);
  const TRun full = Composer(common + "--pleine-resolution " + dir.File("pleine.bmp"));
  ASSERT_EQ(full.Status, 0) << full.Output;
  TBitmap screen, big;
  screen.LoadFromFile(dir.File("ecran.bmp"));
  big.LoadFromFile(dir.File("pleine.bmp"));
  ASSERT_EQ(screen.Width(), 728);
  ASSERT_EQ(big.Width(), 1456);  // twice the display: every window pixel is 2 x 2 here
  ASSERT_EQ(big.Height(), 1092);
  for (auto [x, color] : {std::pair{150, clRed}, std::pair{350, clRed}, std::pair{550, clLime},
                          std::pair{250, clWhite}}) {
    EXPECT_EQ(screen.PixelColor(x, 250 - 92), color) << x;
    EXPECT_EQ(big.PixelColor(2 * x, 2 * (250 - 92)), color) << x;
  }
  EXPECT_EQ(big.PixelColor(2 * 100, 2 * (200 - 92)), clRed);  // the edges scale exactly
  EXPECT_EQ(big.PixelColor(2 * 100 - 1, 2 * (200 - 92)), clWhite);
  EXPECT_EQ(big.PixelColor(2 * 200 - 1, 2 * (300 - 92) - 1), clRed);
  EXPECT_EQ(big.PixelColor(2 * 200, 2 * (300 - 92) - 1), clWhite);
}

}  // namespace
#endif
