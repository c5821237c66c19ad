// One rubber-band move on a 728 x 546 display: the workspace's erase and redraw of the
// frame plus the window's conversion of what changed into the picture Qt paints. Beside
// it, the same move with the whole photo control rendered and converted again, as the
// window did before it tracked the changed rectangles. Goal: under 1 ms per move.
#include <benchmark/benchmark.h>

#include <QImage>
#include <filesystem>

#include "MainWindow.h"
#include "photos.h"
#include "ratio.h"

namespace {

const std::filesystem::path kDir = std::filesystem::temp_directory_path() / "vitrelle-bench-band";

class TSilentHost : public TWorkspaceHost {
 public:
  bool ExecuteOpenPictureDialog(TFileDialog& d) override {
    d.FileName = (kDir / "maison.bmp").string();
    return true;
  }
  bool ExecuteSavePictureDialog(TFileDialog&) override { return false; }
  void ShowMessage(const std::string&) override {}
};

// A 1600 x 1200 photo (display 728 x 546 in the 728 x 730 control) with a frame pressed
// at (60, 120); the moves swing the corner between two points far from the anchor, so
// the frame covers most of the photo as in a real drag.
struct TBandWorkspace {
  TSilentHost Host;
  TFrmModulePhoto Form{&Host};
  TBandWorkspace() {
    std::filesystem::create_directories(kDir);
    WriteDetailedPhoto((kDir / "maison.bmp").string(), 1600, 1200);
    Form.FormActivate();
    Form.BtnClientPhotoClick();
    Form.ImgPhotoMaisonMouseDown(mbLeft, ssLeft, 60, 120);
    Form.ImgPhotoMaisonMouseMove(ssLeft, 640, 560);
  }
  ~TBandWorkspace() { std::filesystem::remove_all(kDir); }
  void Move(int64_t i) {
    const int d = int(i % 8);
    Form.ImgPhotoMaisonMouseMove(ssLeft, 640 + d, 560 + d);
  }
};

void BM_RubberBandMove_WholePhoto(benchmark::State& state) {
  TBandWorkspace ws;
  TBitmap rendering;
  int64_t i = 0;
  for (auto _ : state) {
    ws.Move(++i);
    ws.Form.TakeFrameDamage();
    RenderImageControl(ws.Form.ImgPhotoMaison, rendering, ws.Form.Color);
    QImage shown = ToQImage(rendering);
    // What the paint converts to the screen's format.
    benchmark::DoNotOptimize(shown.convertToFormat(QImage::Format_ARGB32_Premultiplied).bits());
  }
}
BENCHMARK(BM_RubberBandMove_WholePhoto)->Unit(benchmark::kMicrosecond);

void BM_RubberBandMove(benchmark::State& state) {
  TBandWorkspace ws;
  TBitmap rendering;
  RenderImageControl(ws.Form.ImgPhotoMaison, rendering, ws.Form.Color);
  QImage shown = ToQImage(rendering).convertToFormat(QImage::Format_RGB32);
  std::vector<QRect> changed;
  int64_t i = 0;
  for (auto _ : state) {
    ws.Move(++i);
    changed.clear();
    if (!ApplyFrameDamage(ws.Form.ImgPhotoMaison, rendering, shown, ws.Form.TakeFrameDamage(),
                          changed))
      state.SkipWithError("the rendering did not match the control");
    benchmark::DoNotOptimize(shown.constBits());
  }
}
BENCHMARK(BM_RubberBandMove)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  TRatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\nOne rubber-band move on a 728 x 546 display (processor time):\n");
  reporter.PrintTime("changed rectangles only (ms, goal < 1)", "BM_RubberBandMove", 1e-3);
  reporter.PrintTime("whole photo converted again (ms)", "BM_RubberBandMove_WholePhoto", 1e-3);
  reporter.PrintRatio("changed rectangles / whole photo", "BM_RubberBandMove",
                      "BM_RubberBandMove_WholePhoto");
  benchmark::Shutdown();
  return 0;
}
