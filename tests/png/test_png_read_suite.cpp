// Every PngSuite picture: the valid ones load with the colours and alpha that libpng finds
// (with our gamma formula applied), the corrupt ones are refused with the fitting error.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <functional>
#include <map>

#include "png_read_test_util.h"

using namespace pngr;

namespace {

std::vector<std::string> SuiteNames() {
  std::vector<std::string> names;
  const std::string dir = SuiteFile("");
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > 4 && n.substr(n.size() - 4) == ".png" && n != "PngSuite.png")
        names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

template <class E>
bool Raises(const std::function<void()>& f) {
  try {
    f();
  } catch (const E&) {
    return true;
  } catch (...) {
    return false;
  }
  return false;
}

}  // namespace

TEST(PngSuite, CorruptFilesAreRefusedWithTheFittingError) {
  VITRELLE_REQUIRE_TESTDATA();
  const std::map<std::string, std::function<bool(const std::function<void()>&)>> expected = {
      {"xc1n0g08.png", Raises<EPngInvalidIHDR>},
      {"xc9n2c08.png", Raises<EPngInvalidIHDR>},
      {"xcrn0g04.png", Raises<EPNGInvalidFileHeader>},
      {"xcsn0g01.png", Raises<EPngInvalidCRC>},
      {"xd0n2c08.png", Raises<EPngInvalidIHDR>},
      {"xd3n2c08.png", Raises<EPngInvalidIHDR>},
      {"xd9n2c08.png", Raises<EPngInvalidIHDR>},
      {"xdtn0g01.png", Raises<EPNGNoImageData>},
      {"xhdn0g08.png", Raises<EPngInvalidCRC>},
      {"xlfn0g04.png", Raises<EPNGInvalidFileHeader>},
      {"xs1n0g01.png", Raises<EPNGInvalidFileHeader>},
      {"xs2n0g01.png", Raises<EPNGInvalidFileHeader>},
      {"xs4n0g01.png", Raises<EPNGInvalidFileHeader>},
      {"xs7n0g01.png", Raises<EPNGInvalidFileHeader>},
  };
  int seen = 0;
  for (const std::string& name : SuiteNames()) {
    if (name[0] != 'x') continue;
    ++seen;
    ASSERT_TRUE(expected.count(name)) << name;
    const Bytes file = ReadFileBytes(SuiteFile(name));
    EXPECT_TRUE(expected.at(name)([&] {
      TPngImage image;
      Load(image, file);
    })) << name;
  }
  EXPECT_EQ(seen, int(expected.size()));
}

TEST(PngSuite, ValidFilesMatchLibpng) {
  VITRELLE_REQUIRE_TESTDATA();
  int checked = 0, corrected = 0;
  for (const std::string& name : SuiteNames()) {
    if (name[0] == 'x') continue;
    SCOPED_TRACE(name);
    const Bytes file = ReadFileBytes(SuiteFile(name));
    const TLibpngImage ref = DecodeWithLibpng(file);
    ASSERT_TRUE(ref.Ok) << ref.Error;
    TPngImage image;
    ASSERT_NO_THROW(Load(image, file));
    ASSERT_EQ(uint32_t(image.Width()), ref.Width);
    ASSERT_EQ(uint32_t(image.Height()), ref.Height);
    if (ref.HasGamma && LibpngGammaTable(ref.FileGamma)[128] != 128) ++corrected;
    EXPECT_EQ(CountMismatches(image, file), 0);
    ++checked;
  }
  EXPECT_GE(checked, 160);
  EXPECT_GE(corrected, 20);  // the gamma files really exercise the tables
}
