// vitrelle-img beside the libjpeg programs on a 12-megapixel camera-like photograph, as a
// user runs them: `render` of the JPEG to PPM against `djpeg -ppm`, and `convert` of the
// BMP to JPEG against `cjpeg -quality 90`. Whole programs, processor time of each child,
// paired runs, median ratio; peak memory of each program beside it. The files are made
// here, in a temporary folder removed at the end. Options: --pairs N (default 11); --keep
// leaves the files in place, for profiling.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "jpeg.h"
#include "photos.h"
#include "programs.h"
#include "testdata.h"

namespace {

namespace fs = std::filesystem;

constexpr int kWidth = 4000, kHeight = 3000;

struct TFiles {
  fs::path Dir, Bmp, Jpeg;
};

TFiles MakeFiles() {
  TFiles f;
  f.Dir = BenchFolder("jpeg");
  fs::create_directories(f.Dir);
  f.Bmp = f.Dir / "photo.bmp";
  f.Jpeg = f.Dir / "photo.jpg";
  TBitmap source;
  try {
    source.LoadFromFile(vitrelle_test::TestDataPath("bmp/large-wuffs-harvesters-1165x859.bmp"));
  } catch (const Exception&) {
    // without the shared pictures, gradients stand in for the scene
  }
  TBitmap photo;
  MakeCameraPhoto(photo, kWidth, kHeight, &source);
  photo.SaveToFile(f.Bmp.string());
  TJPEGImage jpeg;  // quality 90, the library's defaults: what a camera-sized export gives
  jpeg.Assign(photo);
  jpeg.SaveToFile(f.Jpeg.string());
  return f;
}

// Whether two files are equal from byte `from` on (and in length).
bool SameBytes(const fs::path& a, const fs::path& b, size_t from = 0) {
  std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
  const std::string x{std::istreambuf_iterator<char>(fa), std::istreambuf_iterator<char>()};
  const std::string y{std::istreambuf_iterator<char>(fb), std::istreambuf_iterator<char>()};
  return x.size() == y.size() && x.size() >= from && x.compare(from, x.npos, y, from) == 0;
}

int PairsFromArgs(int argc, char** argv) {
  int pairs = 11;
  for (int i = 1; i + 1 < argc; ++i)
    if (!std::strcmp(argv[i], "--pairs")) pairs = std::max(1, std::atoi(argv[i + 1]));
  return pairs;
}

}  // namespace

int main(int argc, char** argv) {
  const int pairs = PairsFromArgs(argc, argv);
  if (!RunProgram({"djpeg", "-version"}).Ok && !RunProgram({"cjpeg", "-version"}).Ok) {
    std::printf("skipped: djpeg and cjpeg not installed (scripts/install-deps)\n");
    return 0;
  }
  const TFiles f = MakeFiles();
  const std::string img = VITRELLE_IMG;
  const std::string ours = (f.Dir / "ours").string(), peer = (f.Dir / "peer").string();
  std::printf("12 MP photograph (%d x %d, JPEG %.1f MiB), %d paired runs, CPU time:\n", kWidth,
              kHeight, double(fs::file_size(f.Jpeg)) / 1048576.0, pairs);

  const TProgramComparison render =
      ComparePrograms({img, "render", f.Jpeg.string(), ours + ".ppm"},
                      {"djpeg", "-ppm", "-outfile", peer + ".ppm", f.Jpeg.string()}, pairs);
  PrintComparison("render JPEG -> PPM / djpeg -ppm", render, 1.10);
  std::printf("  %-44s %s\n", "",
              SameBytes(ours + ".ppm", peer + ".ppm") ? "same PPM bytes as djpeg"
                                                      : "PPM DIFFERS from djpeg's");

  const TProgramComparison convert = ComparePrograms(
      {img, "convert", f.Bmp.string(), ours + ".jpg"},
      {"cjpeg", "-quality", "90", "-outfile", peer + ".jpg", f.Bmp.string()}, pairs);
  PrintComparison("convert BMP -> JPEG / cjpeg -quality 90", convert, 1.10);
  // cjpeg copies the BMP's resolution into the JFIF header (its bytes 14 to 17).
  std::printf("  %-44s %s\n", "",
              SameBytes(ours + ".jpg", peer + ".jpg", 18)
                  ? "same JPEG bytes as cjpeg after the JFIF density"
                  : "JPEG DIFFERS from cjpeg's");
  bool keep = false;
  for (int i = 1; i < argc; ++i) keep = keep || !std::strcmp(argv[i], "--keep");
  if (keep)
    std::printf("files kept in %s\n", f.Dir.c_str());
  else
    fs::remove_all(f.Dir);
  return 0;
}
