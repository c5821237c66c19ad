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

// Screens beyond this many pixels are not followed, nor animations that would make the
// trace copy more than the second bound in whole screens (many frames that go back to the
// picture before them): every question then answers "changes".
constexpr int64_t kLargestTracedScreen = int64_t(1) << 26;
constexpr int64_t kMostCopiedPixels = int64_t(1) << 28;

class TBackgroundScreen {
 public:
  TBackgroundScreen(int w, int h)
      : FWidth(w), FHeight(h), FShows(size_t(w) * size_t(h), 1), FShowing(FShows.size()) {}

  TRect Clip(const TRect& r) const { return IntersectRect(r, TRect{0, 0, FWidth, FHeight}); }

  void Restore(const TRect& area) {
    const TRect r = Clip(area);
    for (int y = r.Top; y < r.Bottom; ++y) {
      uint8_t* row = Row(y) + r.Left;
      FShowing += size_t(r.Width()) - Ones(row, r.Width());
      std::memset(row, 1, size_t(r.Width()));
    }
  }

  // The frame's opaque pixels cover the background.
  void Draw(const TGIFFrame& f) {
    const TRect r = Clip(f.BoundsRect());
    const int t = f.Transparent() ? f.GraphicControlExtension()->TransparentColorIndex() : -1;
    for (int y = r.Top; y < r.Bottom; ++y) {
      uint8_t* row = Row(y) + r.Left;
      if (t < 0) {
        FShowing -= Ones(row, r.Width());
        std::memset(row, 0, size_t(r.Width()));
        continue;
      }
      const uint8_t* pixels =
          f.Data() + size_t(y - f.Top()) * size_t(f.Width()) + size_t(r.Left - f.Left());
      size_t covered = 0;
      for (int x = 0; x < r.Width(); ++x) {
        const uint8_t keep = pixels[x] == t;
        covered += row[x] & (keep ^ 1);
        row[x] &= keep;
      }
      FShowing -= covered;
    }
  }

  bool AnyShows() const { return FShowing > 0; }

  // Whether restoring `instead` rather than `area` leaves the same screen: every pixel that
  // only one of the two covers shows background already.
  bool SameRestoring(const TRect& area, const TRect& instead) const {
    return ShowsOutside(Clip(area), Clip(instead)) && ShowsOutside(Clip(instead), Clip(area));
  }

  // The screen as it is, to go back to later.
  struct TState {
    std::vector<uint8_t> Shows;
    size_t Showing = 0;
  };
  void Save(TState& into) const {
    into.Shows = FShows;
    into.Showing = FShowing;
  }
  void GoBack(const TState& to) {
    FShows = to.Shows;
    FShowing = to.Showing;
  }

 private:
  uint8_t* Row(int y) { return FShows.data() + size_t(y) * size_t(FWidth); }
  const uint8_t* Row(int y) const { return FShows.data() + size_t(y) * size_t(FWidth); }

  // Eight bytes of 0 or 1 at a time: their sum gathers in the top byte of the product.
  static size_t Ones(const uint8_t* p, int n) {
    size_t ones = 0;
    int x = 0;
    for (; x + 8 <= n; x += 8) {
      uint64_t word;
      std::memcpy(&word, p + x, 8);
      ones += size_t((word * 0x0101010101010101ull) >> 56);
    }
    for (; x < n; ++x) ones += p[x];
    return ones;
  }

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
  size_t FShowing;  // pixels showing background
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

namespace {

// The renderer's disposal of each frame shown, followed on the background screen, with the
// candidates' answers gathered on the way.
class TBackgroundPlay {
 public:
  TBackgroundPlay(TGIFImage& image, std::vector<TRestoreCandidate>& candidates)
      : FFrames(image.Images()),
        FScreen(image.Width(), image.Height()),
        FScreenPixels(int64_t(image.Width()) * image.Height()),
        FAsked(size_t(FFrames.Count())) {
    for (TRestoreCandidate& c : candidates)
      if (c.Frame >= 0 && c.Frame < FFrames.Count()) FAsked[size_t(c.Frame)].push_back(&c);
  }

  // Shows frame `index`: what the frame shown before leaves, then the frame itself. At the
  // start of a new pass the renderer clears the last frame's area instead of its disposal.
  // False when following it would cost too much.
  bool Show(int index, bool newPass) {
    if (newPass && ClearOnLoop) FPrevDisposal = dmBackground;
    const TDisposalMethod disposal = PlayedDisposal(*FFrames.Frames(index));
    const bool back = FPrev >= 0 && FPrevDisposal == dmPrevious && FHaveSaved;
    const bool save = disposal == dmPrevious && FPrevDisposal != dmPrevious;
    FCopied += FScreenPixels * (int(back) + int(save));
    if (FCopied > kMostCopiedPixels) return false;
    if (FPrev >= 0 && FPrevDisposal == dmBackground)
      Restore(FPrev);
    else if (back)
      FScreen.GoBack(FSaved);
    // The picture before the first of a run of frames that go back to it.
    if (save) {
      FScreen.Save(FSaved);
      FHaveSaved = true;
    }
    FScreen.Draw(*FFrames.Frames(index));
    FShown = FShown || FScreen.AnyShows();
    FPrevDisposal = disposal;
    FPrev = index;
    return true;
  }

  // A new pass follows: were `index` the last frame shown, its area would be cleared now.
  void AskAsLast(int index) {
    const TRect area = FFrames.Frames(index)->BoundsRect();
    for (TRestoreCandidate* c : FAsked[size_t(index)])
      c->HoldsAsLast = c->HoldsAsLast && FScreen.SameRestoring(area, c->Area);
  }

  // The clearing before a pass that is not followed further.
  void ClearLast() {
    if (ClearOnLoop && FPrev >= 0) Restore(FPrev);
  }

  bool BackgroundShown() const { return FShown; }

 private:
  void Restore(int index) {
    const TRect area = FFrames.Frames(index)->BoundsRect();
    for (TRestoreCandidate* c : FAsked[size_t(index)])
      c->Holds = c->Holds && FScreen.SameRestoring(area, c->Area);
    FScreen.Restore(area);
  }

  TGIFImageList& FFrames;
  TBackgroundScreen FScreen;
  int64_t FScreenPixels;
  int64_t FCopied = 0;  // pixels of whole screens saved and put back so far
  std::vector<std::vector<TRestoreCandidate*>> FAsked;  // per frame
  TBackgroundScreen::TState FSaved;
  bool FHaveSaved = false;
  TDisposalMethod FPrevDisposal = dmNoDisposal;
  int FPrev = -1;
  bool FShown = false;
};

}  // namespace

namespace {

bool GiveUp(std::vector<TRestoreCandidate>& candidates) {
  for (TRestoreCandidate& c : candidates) c.Holds = c.HoldsAsLast = false;
  return true;
}

}  // namespace

bool TraceBackground(TGIFImage& image, std::vector<TRestoreCandidate>& candidates) {
  const int w = image.Width(), h = image.Height();
  if (w <= 0 || h <= 0 || int64_t(w) * h > kLargestTracedScreen) return GiveUp(candidates);
  std::vector<int> shown;  // the renderer skips frames without pixels
  for (int i = 0; i < image.Images().Count(); ++i)
    if (!image.Images().Frames(i)->Empty()) shown.push_back(i);
  if (shown.empty()) return true;  // the renderer stays on the background
  const int loops = PlayedLoops(image);
  // Passes 1 and 2 are played; a pass after the second starts from the same screen.
  const bool secondPass = loops != 1, thirdPass = loops == 0 || loops > 2;
  TBackgroundPlay play(image, candidates);
  for (int pass = 0; pass < (secondPass ? 2 : 1); ++pass)
    for (size_t k = 0; k < shown.size(); ++k) {
      if (!play.Show(shown[k], pass > 0 && k == 0)) return GiveUp(candidates);
      if (ClearOnLoop && (pass == 0 ? secondPass : thirdPass)) play.AskAsLast(shown[k]);
    }
  if (thirdPass) play.ClearLast();
  return play.BackgroundShown();
}
