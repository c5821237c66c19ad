// Loading and saving again, TGIFImage beside giflib (DGifSlurp + EGifSpew) on the same two
// files, written by giflib at start-up: a 1200 x 840 still (about 1 megapixel, 256 colours)
// and a 300-frame animation of 160 x 120 frames. `vitrelle-img convert`'s path (load, assign
// to a new picture, save) and saving alone are measured too. CPU time ratios ours / giflib at
// the end, with the sizes of the files each writes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "GIFImg.h"
#include "bench/support/ratio.h"
#include "gif_bench_files.h"

namespace {

using gif_build::TBytes;

const TBytes& File(int which) {
  static const TBytes still = gif_bench::Still(), animation = gif_bench::Animation();
  return which == 0 ? still : animation;
}

std::map<std::string, size_t> gWritten;  // bytes written per benchmark, for the size ratio

// ---------------------------------------------------------------------------------------
// giflib: slurp, copy into a file opened for writing, spew (which also closes it).

int WriteToVector(GifFileType* gif, const GifByteType* data, int size) {
  auto* out = static_cast<TBytes*>(gif->UserData);
  out->insert(out->end(), data, data + size);
  return size;
}

void SpewGiflib(GifFileType* in, TBytes& out) {
  out.clear();
  int error = 0;
  GifFileType* gif = EGifOpen(&out, WriteToVector, &error);
  if (!gif) std::abort();
  gif->SWidth = in->SWidth;
  gif->SHeight = in->SHeight;
  gif->SColorResolution = in->SColorResolution;
  gif->SBackGroundColor = in->SBackGroundColor;
  gif->AspectByte = in->AspectByte;
  if (in->SColorMap)
    gif->SColorMap = GifMakeMapObject(in->SColorMap->ColorCount, in->SColorMap->Colors);
  for (int i = 0; i < in->ImageCount; ++i) GifMakeSavedImage(gif, &in->SavedImages[i]);
  for (int i = 0; i < in->ExtensionBlockCount; ++i) {
    const ExtensionBlock& e = in->ExtensionBlocks[i];
    GifAddExtensionBlock(&gif->ExtensionBlockCount, &gif->ExtensionBlocks, e.Function,
                         unsigned(e.ByteCount), e.Bytes);
  }
  if (EGifSpew(gif) != GIF_OK) std::abort();
}

gif_build::TGiflibFile Slurp(const TBytes& data, gif_build::detail::TMemorySource& source) {
  bool complete = false;
  gif_build::TGiflibFile gif =
      gif_build::SlurpWithGiflib(data.data(), data.size(), &complete, &source);
  if (!complete) std::abort();
  return gif;
}

void BM_GiflibLoadSave(benchmark::State& state, int which) {
  const TBytes& data = File(which);
  TBytes out;
  for (auto _ : state) {
    gif_build::detail::TMemorySource source{};
    gif_build::TGiflibFile gif = Slurp(data, source);
    SpewGiflib(gif.get(), out);
    benchmark::DoNotOptimize(out.data());
  }
  gWritten[std::string("BM_GiflibLoadSave/") + (which ? "anim-300" : "still-1MP")] = out.size();
}

void BM_GiflibSave(benchmark::State& state, int which) {
  const TBytes& data = File(which);
  gif_build::detail::TMemorySource source{};
  gif_build::TGiflibFile gif = Slurp(data, source);
  TBytes out;
  for (auto _ : state) {
    SpewGiflib(gif.get(), out);
    benchmark::DoNotOptimize(out.data());
  }
}

// ---------------------------------------------------------------------------------------
// Ours: load from memory, save into a memory stream.

void BM_OursLoadSave(benchmark::State& state, int which) {
  const TBytes& data = File(which);
  size_t written = 0;
  for (auto _ : state) {
    TGIFImage image;
    TReadOnlyMemoryStream in(data.data(), data.size());
    image.LoadFromStream(in);
    TMemoryStream out;
    image.SaveToStream(out);
    written = size_t(out.Size());
    benchmark::DoNotOptimize(out.Memory());
  }
  gWritten[std::string("BM_OursLoadSave/") + (which ? "anim-300" : "still-1MP")] = written;
}

// `vitrelle-img convert IN.gif OUT.gif`: load, assign to a new picture of the output's
// class, save.
void BM_OursConvert(benchmark::State& state, int which) {
  const TBytes& data = File(which);
  for (auto _ : state) {
    TGIFImage image;
    TReadOnlyMemoryStream in(data.data(), data.size());
    image.LoadFromStream(in);
    TGIFImage output;
    output.Assign(image);
    TMemoryStream out;
    output.SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
}

void BM_OursSave(benchmark::State& state, int which) {
  const TBytes& data = File(which);
  TGIFImage image;
  TReadOnlyMemoryStream in(data.data(), data.size());
  image.LoadFromStream(in);
  for (auto _ : state) {
    TMemoryStream out;
    image.SaveToStream(out);
    benchmark::DoNotOptimize(out.Memory());
  }
}

void Register() {
  const char* names[2] = {"still-1MP", "anim-300"};
  for (int which = 0; which < 2; ++which) {
    const std::string n = names[which];
    benchmark::RegisterBenchmark(("BM_OursLoadSave/" + n).c_str(), BM_OursLoadSave, which)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(3);
    benchmark::RegisterBenchmark(("BM_GiflibLoadSave/" + n).c_str(), BM_GiflibLoadSave, which)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(3);
    benchmark::RegisterBenchmark(("BM_OursConvert/" + n).c_str(), BM_OursConvert, which)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(3);
    benchmark::RegisterBenchmark(("BM_OursSave/" + n).c_str(), BM_OursSave, which)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(3);
    benchmark::RegisterBenchmark(("BM_GiflibSave/" + n).c_str(), BM_GiflibSave, which)
        ->Unit(benchmark::kMillisecond)
        ->Repetitions(3);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Register();
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nCPU time ours / giflib (best of the repetitions):\n");
  for (const char* n : {"still-1MP", "anim-300"}) {
    const std::string s = n;
    reporter.PrintRatio(("load + save, " + s + "").c_str(), "BM_OursLoadSave/" + s,
                        "BM_GiflibLoadSave/" + s, 1.0);
    reporter.PrintRatio(("convert (load, assign, save), " + s).c_str(), "BM_OursConvert/" + s,
                        "BM_GiflibLoadSave/" + s, 0.80);
    reporter.PrintRatio(("save alone, " + s + "").c_str(), "BM_OursSave/" + s, "BM_GiflibSave/" + s,
                        1.0);
    const size_t ours = gWritten["BM_OursLoadSave/" + s];
    const size_t theirs = gWritten["BM_GiflibLoadSave/" + s];
    if (ours && theirs)
      std::printf("  %-48s %7.3f  (%zu / %zu bytes)\n", ("file size, " + s).c_str(),
                  double(ours) / double(theirs), ours, theirs);
  }
  benchmark::Shutdown();
  return 0;
}
