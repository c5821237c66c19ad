// Real files and damaged copies of them load and draw without crashing: every failure is
// an orderly exception of the framework's kinds.
#include <dirent.h>

#include <random>

#include "gif_unit_util.h"
#include "testdata.h"

using namespace giftest;

namespace {

std::vector<std::string> GifFiles(const std::string& dir) {
  std::vector<std::string> files;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".gif")
        files.push_back(dir + "/" + name);
    }
    closedir(d);
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Loads and draws; answers false when an orderly exception stopped it.
bool LoadAndDraw(const Bytes& bytes) {
  TGIFImage image;
  image.OnWarning = [](const void*, TGIFSeverity, const std::string&) {};
  try {
    LoadBytes(image, bytes);
    TBitmap target;
    target.SetSize(64, 64);
    image.Draw(target.Canvas(), Rect(0, 0, 64, 64));
    return true;
  } catch (const Exception&) {
    return false;
  }
}

Bytes ReadFile(const std::string& path) {
  TMemoryStream s;
  s.LoadFromFile(path);
  return Bytes(s.Memory(), s.Memory() + s.Size());
}

}  // namespace

TEST(GifRobustness, ValidFilesLoadAndDraw) {
  VITRELLE_REQUIRE_TESTDATA();
  auto files = GifFiles(vitrelle_test::TestDataPath("gif"));
  ASSERT_FALSE(files.empty());
  for (const std::string& f : files) EXPECT_TRUE(LoadAndDraw(ReadFile(f))) << f;
}

TEST(GifRobustness, DamagedFilesFailInOrder) {
  VITRELLE_REQUIRE_TESTDATA();
  auto files = GifFiles(vitrelle_test::TestDataPath("gif"));
  auto bad = GifFiles(vitrelle_test::TestDataPath("gif/bad"));
  files.insert(files.end(), bad.begin(), bad.end());
  SetImageBudget(64 << 20);
  std::mt19937 random(7);
  for (const std::string& f : files) {
    Bytes original = ReadFile(f);
    LoadAndDraw(original);
    // Every truncation of small files, a sample of them for large ones.
    size_t step = std::max<size_t>(1, original.size() / 300);
    for (size_t n = 0; n < original.size(); n += step)
      LoadAndDraw(Bytes(original.begin(), original.begin() + ptrdiff_t(n)));
    for (int round = 0; round < 200; ++round) {
      Bytes copy = original;
      for (int k = 0; k < 1 + round % 4; ++k) copy[random() % copy.size()] = uint8_t(random());
      LoadAndDraw(copy);
    }
  }
  SetImageBudget(uint64_t(1) << 30);
}
