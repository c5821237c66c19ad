// What the renderer leaves of the background while an animation plays: the optimizer asks it
// before a step that would change what shows where no frame draws. The screen is followed
// pixel by pixel, one byte each (1 where the background shows), through the first two
// passes: every later pass starts from the same screen as the second, since each pixel at the
// end of a pass either comes from the pass itself or is carried over from its start.
#include <algorithm>
#include <cstring>

#include "gif_glue.h"
#include "gif_optimize.h"

namespace {

// Screens beyond this many pixels are not followed: every question then answers "changes".
constexpr int64_t kLargestTracedScreen = int64_t(1) << 26;

class TBackgroundScreen {
 public:
  TBackgroundScreen(int w, int h) : FWidth(w), FHeight(h), FShows(size_t(w) * size_t(h), 1) {}

  TRect Clip(const TRect& r) const { return IntersectRect(r, TRect{0, 0, FWidth, FHeight}); }

  void Restore(const TRect& area) {
    const TRect r = Clip(area);
    for (int y = r.Top; y < r.Bottom; ++y) std::memset(Row(y) + r.Left, 1, size_t(r.Width()));
  }

  // The frame's opaque pixels cover the background.
  void Draw(const TGIFFrame& f) {
    const TRect r = Clip(f.BoundsRect());
    const int t = f.Transparent() ? f.GraphicControlExtension()->TransparentColorIndex() : -1;
    for (int y = r.Top; y < r.Bottom; ++y) {
      uint8_t* row = Row(y);
      if (t < 0) {
        std::memset(row + r.Left, 0, size_t(r.Width()));
        continue;
      }
      const uint8_t* pixels = f.Data() + size_t(y - f.Top()) * size_t(f.Width());
      for (int x = r.Left; x < r.Right; ++x)
        if (pixels[x - f.Left()] != t) row[x] = 0;
    }
  }

  bool AnyShows() const { return std::find(FShows.begin(), FShows.end(), 1) != FShows.end(); }

  // Whether restoring `instead` rather than `area` leaves the same screen: every pixel that
  // only one of the two covers shows background already.
  bool SameRestoring(const TRect& area, const TRect& instead) const {
    return ShowsOutside(Clip(area), Clip(instead)) && ShowsOutside(Clip(instead), Clip(area));
  }

  std::vector<uint8_t>& Pixels() { return FShows; }

 private:
  uint8_t* Row(int y) { return FShows.data() + size_t(y) * size_t(FWidth); }
  const uint8_t* Row(int y) const { return FShows.data() + size_t(y) * size_t(FWidth); }

  bool ShowsOutside(const TRect& r, const TRect& except) const {
    for (int y = r.Top; y < r.Bottom; ++y) {
      const uint8_t* row = Row(y);
      const bool rowExcepted = y >= except.Top && y < except.Bottom;
      for (int x = r.Left; x < r.Right; ++x)
        if (!row[x] && !(rowExcepted && x >= except.Left && x < except.Right)) return false;
    }
    return true;
  }

  int FWidth, FHeight;
  std::vector<uint8_t> FShows;
};

// Disposal as the renderer applies it: a frame without a graphic control keeps its pixels.
TDisposalMethod PlayedDisposal(const TGIFFrame& f) {
  const TGIFGraphicControlExtension* g = f.GraphicControlExtension();
  return g ? g->Disposal() : dmNoDisposal;
}

}  // namespace

int PlayedLoops(TGIFImage& image) {
  TGIFImageList& frames = image.Images();
  for (int i = 0; i < frames.Count(); ++i) {
    TGIFExtensionList& extensions = frames.Frames(i)->Extensions();
    for (int k = 0; k < extensions.Count(); ++k)
      if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extensions.Extensions(k)))
        return loop->Loops();
  }
  return 1;
}

int PlayedUnits(const TGIFFrame& f) {
  const TGIFGraphicControlExtension* g = f.GraphicControlExtension();
  const int delay = g && g->Delay() != 0 ? g->Delay() : DefaultFrameDelay;
  return std::clamp(delay, MinimumFrameDelay, MaximumFrameDelay);
}

bool TraceBackground(TGIFImage& image, std::vector<TRestoreCandidate>& candidates) {
  const int w = image.Width(), h = image.Height();
  if (w <= 0 || h <= 0 || int64_t(w) * h > kLargestTracedScreen) {
    for (TRestoreCandidate& c : candidates) c.Holds = false;
    return true;
  }
  TGIFImageList& frames = image.Images();
  std::vector<int> shown;  // the renderer skips frames without pixels
  for (int i = 0; i < frames.Count(); ++i)
    if (!frames.Frames(i)->Empty()) shown.push_back(i);
  if (shown.empty()) return true;  // the renderer stays on the background

  TBackgroundScreen screen(w, h);
  auto restore = [&](int index) {
    const TRect area = frames.Frames(index)->BoundsRect();
    for (TRestoreCandidate& c : candidates)
      if (c.Frame == index && c.Holds) c.Holds = screen.SameRestoring(area, c.Area);
    screen.Restore(area);
  };
  const int loops = PlayedLoops(image);
  const int passes = loops == 1 ? 1 : 2;
  bool backgroundShows = false;
  std::vector<uint8_t> saved;
  TDisposalMethod prevDisposal = dmNoDisposal;
  int prev = -1;
  for (int pass = 0; pass < passes; ++pass)
    for (size_t k = 0; k < shown.size(); ++k) {
      const int i = shown[k];
      if (pass > 0 && k == 0 && ClearOnLoop) prevDisposal = dmBackground;
      if (prev >= 0 && prevDisposal == dmBackground)
        restore(prev);
      else if (prev >= 0 && prevDisposal == dmPrevious && !saved.empty())
        screen.Pixels() = saved;
      const TDisposalMethod disposal = PlayedDisposal(*frames.Frames(i));
      if (disposal == dmPrevious && prevDisposal != dmPrevious) saved = screen.Pixels();
      screen.Draw(*frames.Frames(i));
      backgroundShows = backgroundShows || screen.AnyShows();
      prevDisposal = disposal;
      prev = i;
    }
  // The clearing before the third pass, from the second pass's last screen.
  if ((loops == 0 || loops > 2) && ClearOnLoop) restore(prev);
  return backgroundShows;
}
