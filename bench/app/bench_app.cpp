// The workspace at user sizes: fitting a 4000 x 3000 photo into the 728 x 730 photo control,
// exporting the 728 x 546 mock-up as BMP, and the whole composer run (in process and as the
// vitrelle-img program). Peers in the same run: pixman's nearest scaling for the fit, and
// pixman's OVER composition plus a plain BMP write for the export.
#include <benchmark/benchmark.h>
#include <pixman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "ModulePhotos.h"
#include "codecs.h"
#include "photos.h"
#include "ratio.h"

namespace {

const std::filesystem::path kDir = std::filesystem::temp_directory_path() / "vitrelle-bench-app";

std::string PathOf(const char* name) {
  return (kDir / name).string();
}

// A 4000 x 3000 photo with detail everywhere (gradients), and a 180 x 260 product with alpha.
void WriteInputs() {
  std::filesystem::create_directories(kDir);
  WriteDetailedPhoto(PathOf("photo.bmp"), 4000, 3000);
  TBitmap product;
  product.SetPixelFormat(pf32bit);
  product.SetSize(180, 260);
  product.SetAlphaFormat(afDefined);
  for (int y = 0; y < 260; ++y) {
    uint8_t* row = product.GetScanline(y);
    for (int x = 0; x < 180; ++x) {
      const bool frame = x < 12 || x >= 168 || y < 12 || y >= 248;
      row[4 * x] = 240, row[4 * x + 1] = 240, row[4 * x + 2] = frame ? 245 : 150;
      row[4 * x + 3] = frame ? 255 : 110;
    }
  }
  product.SaveToFile(PathOf("produit.bmp"));
}

class THost : public TWorkspaceHost {
 public:
  bool ExecuteOpenPictureDialog(TFileDialog& d) override {
    d.FileName = PathOf("photo.bmp");
    return true;
  }
  bool ExecuteSavePictureDialog(TFileDialog& d) override {
    d.FileName = PathOf("export.bmp");
    d.FilterIndex = 4;
    return true;
  }
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
};

struct TPlacedWorkspace {
  THost Host;
  TFrmModulePhoto Form{&Host};
  TPlacedWorkspace() {
    Form.SetProductPath(PathOf("produit.bmp"));
    Form.FormActivate();
    Form.BtnClientPhotoClick();
    Form.btnPersoClick();
    Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 300, 250);
    Form.ImgPhotoMaisonMouseMove(ssLeft, 420, 430);
    Form.ImgPhotoMaisonMouseUp(mbLeft, 0, 420, 430);
  }
};

TPlacedWorkspace& Workspace() {
  static TPlacedWorkspace ws;
  return ws;
}

void BM_FitPhoto(benchmark::State& state) {
  TFrmModulePhoto& f = Workspace().Form;
  for (auto _ : state) {
    f.FitClientPhoto();
    benchmark::DoNotOptimize(f.DisplayBitmap()->GetScanline(0));
  }
}
BENCHMARK(BM_FitPhoto)->Unit(benchmark::kMillisecond);

pixman_image_t* Wrap(TBitmap& bmp, pixman_format_code_t format) {
  return pixman_image_create_bits(format, bmp.Width(), bmp.Height(),
                                  reinterpret_cast<uint32_t*>(bmp.GetScanline(0)),
                                  bmp.BytesPerRow());
}

void BM_FitPhoto_Pixman(benchmark::State& state) {
  TPicture photo;
  photo.LoadFromFile(PathOf("photo.bmp"));
  TBitmap& src = photo.Bitmap();
  TBitmap dst;
  dst.SetPixelFormat(pf24bit);
  dst.SetSize(728, 546);
  pixman_image_t* s = Wrap(src, PIXMAN_r8g8b8);
  pixman_image_t* d = Wrap(dst, PIXMAN_r8g8b8);
  pixman_transform_t t;
  pixman_transform_init_scale(&t, pixman_double_to_fixed(4000.0 / 728),
                              pixman_double_to_fixed(3000.0 / 546));
  pixman_image_set_transform(s, &t);
  pixman_image_set_filter(s, PIXMAN_FILTER_NEAREST, nullptr, 0);
  for (auto _ : state) {
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, 728, 546);
    benchmark::DoNotOptimize(dst.GetScanline(0));
  }
  pixman_image_unref(s);
  pixman_image_unref(d);
}
BENCHMARK(BM_FitPhoto_Pixman)->Unit(benchmark::kMillisecond);

void BM_ExportBmp(benchmark::State& state) {
  TPlacedWorkspace& ws = Workspace();
  ws.Form.FitClientPhoto();
  for (auto _ : state) ws.Form.btnExportImageClick();
}
BENCHMARK(BM_ExportBmp)->Unit(benchmark::kMillisecond);

// The same work by hand: the product composed OVER a copy of the display with pixman, and
// the 24-bit rows written after a BMP header with stdio.
void BM_ExportBmp_Pixman(benchmark::State& state) {
  TPlacedWorkspace& ws = Workspace();
  TBitmap& display = *ws.Form.DisplayBitmap();
  TBitmap product;
  product.LoadFromFile(PathOf("produit.bmp"));
  // pixman wants premultiplied alpha.
  for (int y = 0; y < product.Height(); ++y) {
    uint8_t* row = product.GetScanline(y);
    for (int x = 0; x < product.Width(); ++x)
      for (int c = 0; c < 3; ++c) row[4 * x + c] = uint8_t(row[4 * x + c] * row[4 * x + 3] / 255);
  }
  const TRect r = Rect(ws.Form.ImgProduit.Left - ws.Form.photoOffsetX,
                       ws.Form.ImgProduit.Top - ws.Form.photoOffsetY, 0, 0);
  const int w = ws.Form.ImgProduit.Width;
  const int h = ws.Form.ImgProduit.Height;
  for (auto _ : state) {
    TBitmap combined;
    combined.SetPixelFormat(pf24bit);
    combined.SetSize(display.Width(), display.Height());
    std::copy_n(display.GetScanline(0), size_t(display.BytesPerRow()) * display.Height(),
                combined.GetScanline(0));
    pixman_image_t* s = Wrap(product, PIXMAN_a8r8g8b8);
    pixman_image_t* d = Wrap(combined, PIXMAN_r8g8b8);
    pixman_transform_t t;
    pixman_transform_init_scale(&t, pixman_double_to_fixed(double(product.Width()) / w),
                                pixman_double_to_fixed(double(product.Height()) / h));
    pixman_image_set_transform(s, &t);
    pixman_image_composite32(PIXMAN_OP_OVER, s, nullptr, d, 0, 0, 0, 0, r.Left, r.Top, w, h);
    pixman_image_unref(s);
    pixman_image_unref(d);
    FILE* f = std::fopen(PathOf("peer.bmp").c_str(), "wb");
    const uint32_t stride = uint32_t(combined.BytesPerRow());
    const uint32_t size = 54 + stride * uint32_t(combined.Height());
    uint8_t header[54] = {'B', 'M'};
    auto put32 = [&](int at, uint32_t v) {
      for (int i = 0; i < 4; ++i) header[at + i] = uint8_t(v >> (8 * i));
    };
    put32(2, size), put32(10, 54), put32(14, 40), put32(18, uint32_t(combined.Width()));
    put32(22, uint32_t(combined.Height())), header[26] = 1, header[28] = 24;
    std::fwrite(header, 1, 54, f);
    for (int y = combined.Height() - 1; y >= 0; --y)
      std::fwrite(combined.GetScanline(y), 1, stride, f);
    std::fclose(f);
  }
}
BENCHMARK(BM_ExportBmp_Pixman)->Unit(benchmark::kMillisecond);

TComposerJob Job() {
  TComposerJob job;
  job.PhotoPath = PathOf("photo.bmp");
  job.ProductPath = PathOf("produit.bmp");
  job.X1 = 300, job.Y1 = 250, job.X2 = 420, job.Y2 = 430;
  job.Proportional = false;
  job.Mention = 1;
  job.OutputPath = PathOf("composer.bmp");
  return job;
}

void BM_ComposerInProcess(benchmark::State& state) {
  const TComposerJob job = Job();
  for (auto _ : state)
    if (RunComposerJob(job).ExitCode != 0) state.SkipWithError("composer refused the job");
}
BENCHMARK(BM_ComposerInProcess)->Unit(benchmark::kMillisecond);

#ifdef VITRELLE_IMG_EXE
void BM_ComposerProgram(benchmark::State& state) {
  const std::string command = std::string(VITRELLE_IMG_EXE) + " composer --photo " +
                              PathOf("photo.bmp") + " --produit " + PathOf("produit.bmp") +
                              " --cadre 300,250,420,430 --mode personnalise --mention blanche " +
                              PathOf("program.bmp");
  for (auto _ : state)
    if (std::system(command.c_str()) != 0) state.SkipWithError("vitrelle-img failed");
}
BENCHMARK(BM_ComposerProgram)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
  TCodecRegistration codecs;
  WriteInputs();
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nRatio ours / pixman, same run:\n");
  for (const char* name : {"BM_FitPhoto", "BM_ExportBmp"}) {
    const std::string peer = std::string(name) + "_Pixman";
    reporter.PrintRatio((std::string(name) + " (wall time)").c_str(), name, peer, 0,
                        TRatioReporter::kWall);
    reporter.PrintRatio((std::string(name) + " (processor time)").c_str(), name, peer);
  }
  benchmark::Shutdown();
  std::filesystem::remove_all(kDir);
  return 0;
}
