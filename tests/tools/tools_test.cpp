// vitrelle-img as scripts use it: exit codes, French messages, and the pictures it writes.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "framework.h"
#include "testdata.h"

namespace {

struct TRun {
  int Code = -1;
  std::string Out, Err;
};

std::string Slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

class Tool : public testing::Test {
 protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() /
           ("vitrelle-img-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }

  std::string Path(const std::string& name) const { return (FDir / name).string(); }
  static std::string Bmp(const std::string& name) {
    return vitrelle_test::TestDataPath("bmp/" + name);
  }

  TRun Run(const std::string& args) const {
    const std::string cmd = std::string("'") + VITRELLE_IMG + "' " + args + " >'" +
                            Path("out.txt") + "' 2>'" + Path("err.txt") + "'";
    const int status = std::system(cmd.c_str());
    TRun r;
    r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.Out = Slurp(Path("out.txt"));
    r.Err = Slurp(Path("err.txt"));
    return r;
  }

  std::filesystem::path FDir;
};

// The pixels of a binary PPM (after its three header lines).
std::string PpmPixels(const std::string& ppm, int& w, int& h) {
  std::istringstream in(ppm);
  std::string magic;
  int maxval = 0;
  in >> magic >> w >> h >> maxval;
  in.get();
  EXPECT_EQ(magic, "P6");
  EXPECT_EQ(maxval, 255);
  return ppm.substr(size_t(in.tellg()));
}

}  // namespace

TEST_F(Tool, HelpAndUsageErrors) {
  TRun help = Run("--help");
  EXPECT_EQ(help.Code, 0);
  for (const char* cmd : {"info FICHIER", "convert ENTREE SORTIE", "render ENTREE SORTIE.ppm"})
    EXPECT_NE(help.Out.find(cmd), std::string::npos) << cmd;
  EXPECT_EQ(Run("").Code, 2);
  EXPECT_EQ(Run("resize a b").Code, 2);
  EXPECT_EQ(Run("info").Code, 2);
  EXPECT_EQ(Run("convert a").Code, 2);
  EXPECT_EQ(Run("render a b --fond vert").Code, 2);
  EXPECT_EQ(Run("render a b --taille 10").Code, 2);
  TRun r = Run("render a b --taille");
  EXPECT_EQ(r.Code, 2);
  EXPECT_NE(r.Err.find("Utilisation"), std::string::npos);
}

TEST_F(Tool, InfoOnEveryKindOfBmp) {
  VITRELLE_REQUIRE_TESTDATA();
  TRun r = Run("info '" + Bmp("image-Info_8_Bit_Top_Down.bmp") + "'");
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("Classe : TBitmap"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("Largeur : 6"), std::string::npos);
  EXPECT_NE(r.Out.find("8 bits"), std::string::npos);
  for (const char* name : {"image-Core_1_Bit.bmp", "image-V3_R5_G6_B5_Top_Down.bmp",
                           "image-V4_A8_R8_G8_B8.bmp", "zune-david-rle8-v4hdr.bmp",
                           "image-V5_A1_R5_G5_B5.bmp", "large-wuffs-harvesters-1165x859.bmp"})
    EXPECT_EQ(Run("info '" + Bmp(name) + "'").Code, 0) << name;
  EXPECT_NE(Run("info '" + Bmp("image-V4_A8_R8_G8_B8.bmp") + "'").Out.find("alpha défini"),
            std::string::npos);
}

TEST_F(Tool, PictureErrorsExitWithOneAndTheMessage) {
  VITRELLE_REQUIRE_TESTDATA();
  TRun r = Run("info '" + Bmp("bad/image-Bad_height.bmp") + "'");
  EXPECT_EQ(r.Code, 1);
  EXPECT_NE(r.Err.find("BMP"), std::string::npos) << r.Err;
  EXPECT_EQ(Run("info '" + Path("absent.bmp") + "'").Code, 1);
  EXPECT_EQ(Run("info '" + Path("x.unknownext") + "'").Code, 1);
  EXPECT_EQ(Run("convert '" + Bmp("image-Info_4_Bit.bmp") + "' '" + Path("x.zzz") + "'").Code, 1);
}

TEST_F(Tool, ConvertKeepsPixelsAndNeverLeavesHalfFiles) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string out = Path("copie.bmp");
  ASSERT_EQ(Run("convert '" + Bmp("image-V3_R5_G6_B5_Top_Down.bmp") + "' '" + out + "'").Code, 0);
  TBitmap bmp;
  bmp.LoadFromFile(out);
  EXPECT_EQ(bmp.PixelFormat(), pf16bit);
  EXPECT_EQ(bmp.PixelColor(0, 0), clRed);
  EXPECT_EQ(bmp.PixelColor(5, 5), clBlue);
  // A failed conversion leaves the existing output as it was.
  const std::string before = Slurp(out);
  EXPECT_EQ(Run("convert '" + Bmp("bad/image-Bad_width.bmp") + "' '" + out + "'").Code, 1);
  EXPECT_EQ(Slurp(out), before);
}

TEST_F(Tool, RenderDrawsOverTheBackground) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string out = Path("r.ppm");
  ASSERT_EQ(Run("render '" + Bmp("image-Info_4_Bit.bmp") + "' '" + out + "'").Code, 0);
  int w = 0, h = 0;
  std::string px = PpmPixels(Slurp(out), w, h);
  ASSERT_EQ(w, 6);
  ASSERT_EQ(h, 6);
  ASSERT_EQ(px.size(), 6u * 6 * 3);
  EXPECT_EQ(px.substr(0, 3), std::string("\xFF\x00\x00", 3));           // top rows red
  EXPECT_EQ(px.substr(px.size() - 3), std::string("\x00\x00\xFF", 3));  // bottom blue
  // Stretched to another size, with transparent pixels showing the background.
  ASSERT_EQ(Run("render '" + Bmp("image-V5_A1_R5_G5_B5.bmp") + "' '" + out +
                "' --taille 32x8 --fond 00FF00")
                .Code,
            0);
  px = PpmPixels(Slurp(out), w, h);
  ASSERT_EQ(w, 32);
  ASSERT_EQ(h, 8);
  TBitmap src;
  src.LoadFromFile(Bmp("image-V5_A1_R5_G5_B5.bmp"));
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 32; ++x) {
      const uint8_t* s = src.GetScanline(y * 2) + 4 * (x / 2);
      const size_t i = (size_t(y) * 32 + x) * 3;
      if (s[3] == 0)
        ASSERT_EQ(px.substr(i, 3), std::string("\x00\xFF\x00", 3)) << x << "," << y;
      else
        ASSERT_EQ(uint8_t(px[i]), s[2]) << x << "," << y;
    }
}

// A translucent PNG exported as BMP keeps its alpha: both render the same over a colour.
TEST_F(Tool, TranslucentPictureSurvivesBmpExport) {
  const std::string help = Run("--help").Out;
  if (help.find(".PNG") == std::string::npos && help.find(".png") == std::string::npos)
    GTEST_SKIP() << "no PNG codec in this build";
  VITRELLE_REQUIRE_TESTDATA();
  const std::string png = vitrelle_test::TestDataPath("pngsuite/basn6a08.png");
  ASSERT_EQ(Run("convert '" + png + "' '" + Path("a.bmp") + "'").Code, 0);
  ASSERT_EQ(Run("render '" + png + "' '" + Path("p.ppm") + "' --fond 336699").Code, 0);
  ASSERT_EQ(Run("render '" + Path("a.bmp") + "' '" + Path("b.ppm") + "' --fond 336699").Code, 0);
  int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
  const std::string a = PpmPixels(Slurp(Path("p.ppm")), w1, h1);
  const std::string b = PpmPixels(Slurp(Path("b.ppm")), w2, h2);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i)
    ASSERT_LE(std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))), 1) << i;
}

// Codec classes convert through bitmaps, so any registered format converts to any other.
TEST_F(Tool, ConvertBetweenTwoCodecsGoesThroughABitmap) {
  const std::string help = Run("--help").Out;
  if (help.find(".PNG") == std::string::npos || help.find(".jpg") == std::string::npos)
    GTEST_SKIP() << "PNG and JPEG codecs not both in this build";
  VITRELLE_REQUIRE_TESTDATA();
  const std::string png = vitrelle_test::TestDataPath("pngsuite/basn6a08.png");
  TRun r = Run("convert '" + png + "' '" + Path("c.jpg") + "'");
  ASSERT_EQ(r.Code, 0) << r.Err;
  r = Run("info '" + Path("c.jpg") + "'");
  EXPECT_NE(r.Out.find("Largeur : 32"), std::string::npos) << r.Out;
}

// --trame plays a GIF animation; frame 0 is what a plain render shows.
TEST_F(Tool, RenderTrameStepsThroughAnAnimation) {
  if (Run("--help").Out.find("--trame") == std::string::npos)
    GTEST_SKIP() << "no GIF codec in this build";
  const std::string gif = vitrelle_test::TestDataPath("gif/image-mixed-disposal.gif");
  if (!std::filesystem::exists(gif)) GTEST_SKIP() << "shared test pictures not found";
  ASSERT_EQ(Run("render '" + gif + "' '" + Path("plain.ppm") + "' --fond 336699").Code, 0);
  std::vector<std::string> frames;
  for (int n : {0, 1, 2}) {
    const std::string out = Path("t" + std::to_string(n) + ".ppm");
    ASSERT_EQ(
        Run("render '" + gif + "' '" + out + "' --fond 336699 --trame " + std::to_string(n)).Code,
        0);
    frames.push_back(Slurp(out));
  }
  EXPECT_EQ(frames[0], Slurp(Path("plain.ppm")));
  EXPECT_NE(frames[1], frames[0]);
  EXPECT_NE(frames[2], frames[1]);
  // Stretched: the same frame at twice the size.
  ASSERT_EQ(Run("render '" + gif + "' '" + Path("big.ppm") + "' --fond 336699 --taille 64x64 " +
                "--trame 1")
                .Code,
            0);
  int w = 0, h = 0;
  PpmPixels(Slurp(Path("big.ppm")), w, h);
  EXPECT_EQ(w, 64);
  EXPECT_EQ(h, 64);
  EXPECT_EQ(Run("render '" + gif + "' x.ppm --trame -1").Code, 2);
  EXPECT_EQ(Run("render '" + gif + "' x.ppm --trame deux").Code, 2);
  TRun bmp = Run("render '" + Bmp("image-Info_4_Bit.bmp") + "' '" + Path("b.ppm") + "' --trame 1");
  EXPECT_EQ(bmp.Code, 2);
  EXPECT_NE(bmp.Err.find("--trame ne s'applique qu'aux images GIF"), std::string::npos) << bmp.Err;
}

// A GIF converted to GIF is copied by the GIF class: frames, delays, disposal, loops and
// transparency stay; other pictures become one-frame GIFs.
TEST_F(Tool, ConvertToGifKeepsAnimationsAndTakesAnyPicture) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string help = Run("--help").Out;
  if (help.find(".GIF") == std::string::npos) GTEST_SKIP() << "no GIF codec in this build";
  const std::string gif = vitrelle_test::TestDataPath("gif/image-mixed-disposal.gif");
  ASSERT_EQ(Run("convert '" + gif + "' '" + Path("a.gif") + "'").Code, 0);
  const auto withoutFileLine = [](std::string info) { return info.substr(info.find('\n')); };
  const std::string before = Run("info '" + gif + "'").Out;
  const std::string after = Run("info '" + Path("a.gif") + "'").Out;
  EXPECT_NE(before.find("Images : 5"), std::string::npos) << before;
  EXPECT_EQ(withoutFileLine(after), withoutFileLine(before));
  for (const std::string& source : {Bmp("image-Core_8_Bit.bmp"), Bmp("image-Info_A8_R8_G8_B8.bmp"),
                                    vitrelle_test::TestDataPath("pngsuite/basn2c08.png")}) {
    TRun r = Run("convert '" + source + "' '" + Path("b.gif") + "'");
    ASSERT_EQ(r.Code, 0) << source << r.Err;
    r = Run("info '" + Path("b.gif") + "'");
    EXPECT_NE(r.Out.find("Format : Image GIF"), std::string::npos) << r.Out;
    EXPECT_NE(r.Out.find("Images : 1"), std::string::npos) << r.Out;
  }
}

// At its own size an opaque picture is written from its own pixels, a transparent one is
// drawn over the background: either way each pixel is what the picture drawn twice as
// large shows at twice its position, and only the transparent ones show the background.
TEST_F(Tool, RenderAtOwnSizeMatchesTheDrawnPicture) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::string help = LowerCaseAscii(Run("--help").Out);
  const struct {
    const char* File;
    bool Transparent;
  } cases[] = {{"pngsuite/basn0g01.png", false},
               {"pngsuite/basn0g02.png", false},
               {"pngsuite/basn0g16.png", false},
               {"pngsuite/basn2c16.png", false},
               {"pngsuite/basn3p04.png", false},
               {"pngsuite/tbrn2c08.png", true},
               {"pngsuite/tbbn3p08.png", true},
               {"pngsuite/basn6a08.png", true},
               {"jpeg/jpegdecoder-ycck-adobe.jpg", false},
               {"jpeg/jpegdecoder-16bit-qtables.jpg", false},
               {"bmp/image-Core_1_Bit.bmp", false},
               {"bmp/image-V3_R5_G6_B5_Top_Down.bmp", false},
               {"bmp/image-Info_X1_R5_G5_B5_Top_Down.bmp", false},
               {"bmp/image-V3_X8_R8_G8_B8.bmp", false},
               {"bmp/image-V5_A1_R5_G5_B5.bmp", true}};
  for (const auto& c : cases) {
    const std::string file = vitrelle_test::TestDataPath(c.File);
    const std::string ext = std::filesystem::path(file).extension().string();
    if (help.find(ext) == std::string::npos) continue;  // codec not in this build
    ASSERT_EQ(Run("render '" + file + "' '" + Path("a.ppm") + "' --fond 336699").Code, 0) << c.File;
    ASSERT_EQ(Run("render '" + file + "' '" + Path("b.ppm") + "' --fond C0FFEE").Code, 0) << c.File;
    int w = 0, h = 0, w2 = 0, h2 = 0;
    const std::string own = PpmPixels(Slurp(Path("a.ppm")), w, h);
    EXPECT_EQ(own != PpmPixels(Slurp(Path("b.ppm")), w2, h2), c.Transparent) << c.File;
    const std::string size = std::to_string(2 * w) + "x" + std::to_string(2 * h);
    ASSERT_EQ(
        Run("render '" + file + "' '" + Path("big.ppm") + "' --fond 336699 --taille " + size).Code,
        0)
        << c.File;
    const std::string big = PpmPixels(Slurp(Path("big.ppm")), w2, h2);
    ASSERT_EQ(big.size(), own.size() * 4) << c.File;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        ASSERT_EQ(own.substr((size_t(y) * w + x) * 3, 3),
                  big.substr((size_t(2 * y) * 2 * w + 2 * x) * 3, 3))
            << c.File << " " << x << "," << y;
  }
}
