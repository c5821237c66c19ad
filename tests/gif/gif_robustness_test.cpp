// Real files and damaged copies of them load and draw without crashing: every failure is
// an orderly exception of the framework's kinds.
#include <dirent.h>

#include <map>
#include <random>
#include <set>

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

// The reading errors a damaged file may end in: the fault it finds first, as a GIF error.
const std::set<std::string> kReadingErrors = {
    "Signature GIF incorrecte",
    "Fin prématurée des données",
    "Nombre incorrect de couleurs spécifié dans le descripteur d'écran",
    "Nombre incorrect de couleurs spécifié dans le descripteur d'image",
    "Données GIF incorrectes",
    "Entrée de la table du décodeur circulaire",
    "Type d'extension inconnu",
    "Taille de bloc d'extension d'application non supportée",
    "Taille d'image incorrecte",
};
// A file cut short can only run out of bytes: inside a fixed-size part, or where the class
// of an extension is to be read.
const std::set<std::string> kCutErrors = {"Fin prématurée des données", "Type d'extension inconnu"};
const char* const kRefused = "(the size budget)";

// Loads and draws. Answers "" when the picture loaded, else the message of the GIF error
// (or kRefused when the size budget refused it). A loaded picture draws, unless it has no
// colour table at all to draw with. Any other exception fails the test, and so does a
// failed load that moves the stream.
std::string LoadAndDraw(const Bytes& bytes) {
  TGIFImage image;
  image.OnWarning = [](const void*, TGIFSeverity, const std::string&) {};
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  try {
    image.LoadFromStream(stream);
  } catch (const GIFException& e) {
    EXPECT_EQ(stream.Position(), 0) << e.Message();
    return e.Message();
  } catch (const EOutOfResources&) {
    EXPECT_EQ(stream.Position(), 0);
    return kRefused;
  } catch (const Exception& e) {
    ADD_FAILURE() << "neither a GIF error nor the budget's refusal: " << e.Message();
    return e.Message();
  }
  try {
    TBitmap target;
    target.SetSize(64, 64);
    image.Draw(target.Canvas(), Rect(0, 0, 64, 64));
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Aucune table de couleurs locale ou globale n'est définie");
    EXPECT_TRUE(dynamic_cast<const GIFException*>(&e));
  }
  return "";
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
  for (const std::string& f : files) EXPECT_EQ(LoadAndDraw(ReadFile(f)), "") << f;
}

// Every truncation of the real files (a sample for large ones) and random byte changes:
// each ends in a picture that draws, a reading error or the budget's refusal, never in another
// exception, and a failure leaves the stream where the load began.
TEST(GifRobustness, DamagedFilesFailInOrder) {
  VITRELLE_REQUIRE_TESTDATA();
  auto files = GifFiles(vitrelle_test::TestDataPath("gif"));
  const size_t valid = files.size();
  auto bad = GifFiles(vitrelle_test::TestDataPath("gif/bad"));
  files.insert(files.end(), bad.begin(), bad.end());
  SetImageBudget(64 << 20);
  std::mt19937 random(7);
  std::map<std::string, int> ends;
  for (size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(files[i]);
    Bytes original = ReadFile(files[i]);
    // A cut copy of a valid file can only run out of bytes; one of a damaged file may first
    // meet the damage.
    const std::set<std::string>& cutErrors = i < valid ? kCutErrors : kReadingErrors;
    size_t step = std::max<size_t>(1, original.size() / 300);
    for (size_t n = 0; n < original.size(); n += step) {
      const std::string end = LoadAndDraw(Bytes(original.begin(), original.begin() + ptrdiff_t(n)));
      ++ends[end];
      if (!end.empty() && end != kRefused) {
        EXPECT_TRUE(cutErrors.count(end)) << n << ": " << end;
      }
    }
    for (int round = 0; round < 200; ++round) {
      Bytes copy = original;
      for (int k = 0; k < 1 + round % 4; ++k) copy[random() % copy.size()] = uint8_t(random());
      const std::string end = LoadAndDraw(copy);
      ++ends[end];
      if (!end.empty() && end != kRefused) {
        EXPECT_TRUE(kReadingErrors.count(end)) << end;
      }
    }
  }
  SetImageBudget(uint64_t(1) << 30);
  for (auto& [end, count] : ends)
    std::printf("[ damaged ] %d x %s\n", count, end.empty() ? "loaded and drawn" : end.c_str());
}
