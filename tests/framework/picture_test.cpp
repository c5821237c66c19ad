// The picture registry, picture holder, streams, safe saving and the size budget.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "test_support.h"

namespace {

// A picture class for registry tests: loads anything one byte long, fails otherwise, and
// can be told to fail half-way through saving.
class TTestGraphic : public TGraphic {
 public:
  static const char* StaticClassName() { return "TTestGraphic"; }
  const TGraphicClass& ClassType() const override { return ClassOf<TTestGraphic>(); }
  void Draw(TCanvas&, const TRect&) override {}
  void LoadFromStream(TStream& s) override {
    uint8_t b[2];
    if (s.Read(b, 2) != 1) throw EInvalidGraphic("pas une image de test");
    FValue = b[0];
  }
  void SaveToStream(TStream& s) override {
    s.WriteBuffer("half", 4);
    if (FailSaving) throw EWriteError("disque plein");
  }
  int Width() const override { return FValue; }
  int Height() const override { return 1; }
  bool Empty() const override { return false; }
  static inline bool FailSaving = false;
  int FValue = 0;
};

class ScratchDir : public testing::Test {
 protected:
  void SetUp() override {
    FDir = std::filesystem::temp_directory_path() /
           ("vitrelle-fw-" + std::to_string(::getpid()) + "-" +
            testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(FDir);
  }
  void TearDown() override { std::filesystem::remove_all(FDir); }
  std::string Path(const std::string& name) const { return (FDir / name).string(); }
  void Write(const std::string& name, const std::string& bytes) const {
    TMemoryStream s;
    s.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    s.SaveToFile(Path(name));
  }
  std::filesystem::path FDir;
};

}  // namespace

TEST(Registry, ExtensionsIgnoreCaseAndDot) {
  ASSERT_NE(TPicture::FindFileFormat("bmp"), nullptr);
  EXPECT_EQ(TPicture::FindFileFormat("BMP"), TPicture::FindFileFormat(".Bmp"));
  EXPECT_EQ(TPicture::FindFileFormat("bmp")->ClassName, "TBitmap");
  EXPECT_EQ(TPicture::FindFileFormat("nope"), nullptr);
  TPicture::RegisterFileFormat("TSTX", "Image de test", ClassOf<TTestGraphic>());
  EXPECT_EQ(TPicture::FindFileFormat("tstx"), &ClassOf<TTestGraphic>());
  TPicture::UnregisterGraphicClass(ClassOf<TTestGraphic>());
  EXPECT_EQ(TPicture::FindFileFormat("tstx"), nullptr);
}

TEST_F(ScratchDir, FailedLoadKeepsThePreviousPicture) {
  TPicture::RegisterFileFormat("tstx", "Image de test", ClassOf<TTestGraphic>());
  Write("good.TSTX", "\x07");
  Write("bad.tstx", "too long");
  TPicture pic;
  pic.LoadFromFile(Path("good.TSTX"));
  TGraphic* first = pic.Graphic();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pic.Width(), 7);
  EXPECT_THROW(pic.LoadFromFile(Path("bad.tstx")), EInvalidGraphic);
  EXPECT_THROW(pic.LoadFromFile(Path("missing.tstx")), EFOpenError);
  EXPECT_THROW(pic.LoadFromFile(Path("good.unknown")), EInvalidGraphic);
  EXPECT_EQ(pic.Graphic(), first);
  EXPECT_EQ(pic.Width(), 7);
  TPicture::UnregisterGraphicClass(ClassOf<TTestGraphic>());
}

TEST_F(ScratchDir, FailedSaveLeavesExistingFileIntact) {
  Write("out.tstx", "original");
  TTestGraphic g;
  TTestGraphic::FailSaving = true;
  EXPECT_THROW(g.SaveToFile(Path("out.tstx")), EWriteError);
  TTestGraphic::FailSaving = false;
  TMemoryStream s;
  s.LoadFromFile(Path("out.tstx"));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.Size())), "original");
  // No half file left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(FDir), {}), 1);
  // An empty bitmap cannot be written as BMP: refused, file kept.
  TBitmap empty;
  EXPECT_ANY_THROW(empty.SaveToFile(Path("out.tstx")));
  s.LoadFromFile(Path("out.tstx"));
  EXPECT_EQ(s.Size(), 8);
  EXPECT_THROW(g.SaveToFile(Path("no/such/dir/x.tstx")), EFCreateError);
}

TEST_F(ScratchDir, BitmapFileRoundTripThroughThePicture) {
  TBitmap bmp;
  bmp.SetSize(4, 3);
  bmp.SetPixelColor(3, 2, clBlue);
  bmp.SaveToFile(Path("p.BMP"));
  TPicture pic;
  pic.LoadFromFile(Path("p.BMP"));
  EXPECT_EQ(pic.Graphic()->ClassName(), "TBitmap");
  EXPECT_EQ(Hex(pic.Bitmap().PixelColor(3, 2)), Hex(clBlue));
  // Setting the graphic stores a copy.
  TPicture copy;
  copy.SetGraphic(&bmp);
  bmp.SetPixelColor(3, 2, clRed);
  EXPECT_EQ(Hex(copy.Bitmap().PixelColor(3, 2)), Hex(clBlue));
}

TEST(Streams, ShortReadsAndWritesRaise) {
  const uint8_t data[3] = {1, 2, 3};
  TReadOnlyMemoryStream ro(data, 3);
  uint8_t buf[4];
  EXPECT_EQ(ro.Read(buf, 4), 3);
  EXPECT_EQ(ro.Read(buf, 4), 0);
  ro.SetPosition(1);
  EXPECT_THROW(ro.ReadBuffer(buf, 3), EReadError);
  EXPECT_THROW(ro.WriteBuffer(buf, 1), EWriteError);
  TMemoryStream m;
  m.WriteBuffer(data, 3);
  m.SetPosition(0);
  m.ReadBuffer(buf, 3);
  EXPECT_EQ(buf[2], 3);
  EXPECT_THROW(m.ReadBuffer(buf, 1), EReadError);
  EXPECT_THROW(TFileStream("/nonexistent/dir/file", fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream("/nonexistent/dir/file", fmCreate), EFCreateError);
}

TEST(Budget, OversizedBitmapsAreRefusedAndLeftUnchanged) {
  const uint64_t saved = GetImageBudget();
  SetImageBudget(1000);
  TBitmap bmp;
  bmp.SetSize(10, 10);
  EXPECT_THROW(bmp.SetSize(100, 100), EOutOfResources);
  EXPECT_EQ(bmp.Width(), 10);
  EXPECT_THROW(CheckedDibSize(int64_t(1) << 40, int64_t(1) << 40, 32), EOutOfResources);
  SetImageBudget(saved);
  EXPECT_EQ(CheckedDibSize(3, 2, 24), 24u);
  EXPECT_EQ(CheckedDibSize(-3, 2, 24), 0u);
}

// A picture class without conversions refuses to take a bitmap; a bitmap takes any
// picture by drawing it on white.
TEST(Conversion, UnsupportedAssignRaisesConvertErrorBitmapsDraw) {
  TTestGraphic g;
  g.FValue = 3;
  TBitmap bmp;
  EXPECT_THROW(g.Assign(bmp), EConvertError);
  bmp.Assign(g);
  EXPECT_EQ(bmp.Width(), 3);
  EXPECT_EQ(Hex(bmp.PixelColor(2, 0)), Hex(clWhite));
  TPicture pic;
  pic.SetGraphicOwned(std::make_unique<TTestGraphic>());
  EXPECT_EQ(pic.Bitmap().ClassName(), "TBitmap");
  pic.SetGraphic(nullptr);
  EXPECT_EQ(pic.Graphic(), nullptr);
}

TEST(Streams, CopyFromAndMemoryGrowth) {
  TMemoryStream a, b;
  a.WriteBuffer("abcdef", 6);
  a.SetPosition(4);
  EXPECT_EQ(b.CopyFrom(a, 0), 6);  // 0: the whole source from its start
  EXPECT_EQ(b.Size(), 6);
  b.SetPosition(10);
  b.WriteBuffer("z", 1);
  EXPECT_EQ(b.Size(), 11);
  b.SetSize(3);
  EXPECT_EQ(b.Size(), 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(b.Memory()), 3), "abc");
}

// The one extension rule of the code base (import checks, the registry, the tools).
TEST(FileNames, ExtensionFromTheLastDotOfTheNamePart) {
  const std::pair<const char*, const char*> cases[] = {
      {"MAISON.JPG", ".JPG"},
      {"photo.jpeg.txt", ".txt"},
      {"/tmp/dossier.v2/photo", ""},
      {"sans-extension", ""},
      {"photo.", "."},
      {"/home/a/.bmp", ".bmp"},
      {"", ""},
      {"rép.été/Façade.Png", ".Png"},
  };
  for (const auto& [name, ext] : cases) EXPECT_EQ(ExtractFileExt(name), ext) << name;
}

TEST(FileNames, LowerCaseTouchesAsciiLettersOnly) {
  EXPECT_EQ(LowerCaseAscii(".JPEG"), ".jpeg");
  EXPECT_EQ(LowerCaseAscii("AZaz@[`{09"), "azaz@[`{09");
  // "É" (C3 89) and "Ç" (C3 87) stay as they are: no byte of UTF-8 is an ASCII letter.
  EXPECT_EQ(LowerCaseAscii("FAÇADE-É.PNG"), "faÇade-É.png");
}
