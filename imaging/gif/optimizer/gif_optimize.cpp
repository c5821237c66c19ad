// Optimize: removes what a GIF carries without need, in a fixed order of steps (colour
// tables, clean-up of transparency and disposal, merging with the previous frame, removal of
// extensions, cropping of transparent borders, removal of graphic control extensions that
// say nothing). A step changes a frame only where the animation still plays the same screens
// for the same times as the renderer shows them: a delay of 0 plays as the default, delays
// are held within their bounds, frames without pixels are skipped, the last frame's area is
// cleared before a new pass, and where no frame draws the background shows (the picture
// under a transparent animation, the background colour under an opaque one; a single frame
// is drawn over the picture). Where that cannot be kept, the frame is left as it is.
#include <algorithm>
#include <optional>

#include "gif_glue.h"
#include "gif_optimize.h"

namespace {

// The stored disposal; a frame without a graphic control keeps its pixels.
TDisposalMethod DisposalOf(const TGIFFrame& f) {
  TGIFGraphicControlExtension* g = f.GraphicControlExtension();
  return g ? g->Disposal() : dmNoDisposal;
}

// The renderer neither clears nor restores after such a frame (values 4 to 7 included).
bool KeepsScreen(TDisposalMethod d) {
  return d != dmBackground && d != dmPrevious;
}

int TransparentIndex(const TGIFFrame& f) {
  return f.Transparent() ? f.GraphicControlExtension()->TransparentColorIndex() : -1;
}

size_t CountIndex(const TGIFFrame& f, int index) {
  return size_t(std::count(f.Data(), f.Data() + f.DataSize(), uint8_t(index)));
}

bool UsesIndex(const TGIFFrame& f, uint8_t index) {
  const uint8_t* p = f.Data();
  return std::find(p, p + f.DataSize(), index) != p + f.DataSize();
}

// A transparent frame that draws nothing at all.
bool IsClear(const TGIFFrame& f) {
  const int t = TransparentIndex(f);
  return t >= 0 && !f.Empty() && CountIndex(f, t) == f.DataSize();
}

TGIFAppExtNSLoop* LoopExtension(TGIFFrame& f) {
  for (int k = 0; k < f.Extensions().Count(); ++k)
    if (auto* loop = dynamic_cast<TGIFAppExtNSLoop*>(f.Extensions().Extensions(k))) return loop;
  return nullptr;
}

// A copy of the looping extension at the head of Target's extensions.
void CopyLoopTo(TGIFAppExtNSLoop& Source, TGIFFrame& Target) {
  TGIFExtension* copy = TGIFExtension::Create(ExtensionClassOf<TGIFAppExtNSLoop>(), &Target);
  copy->Assign(Source);
  Target.Extensions().Move(Target.Extensions().IndexOf(copy), 0);
}

bool IsDroppedExtension(TGIFExtension* e, bool keepLoop) {
  if (dynamic_cast<TGIFCommentExtension*>(e) || dynamic_cast<TGIFTextExtension*>(e) ||
      dynamic_cast<TGIFUnknownAppExtension*>(e))
    return true;
  return dynamic_cast<TGIFAppExtNSLoop*>(e) && !keepLoop;
}

// The bounding box of the pixels other than Index, in screen coordinates; empty when none.
TRect OpaqueBounds(const TGIFFrame& f, uint8_t index) {
  const int w = f.Width(), h = f.Height();
  int left = w, right = -1, top = -1, bottom = -1;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = f.Data() + size_t(y) * size_t(w);
    int x = 0;
    while (x < w && row[x] == index) ++x;
    if (x == w) continue;
    if (top < 0) top = y;
    bottom = y;
    left = std::min(left, x);
    int r = w - 1;
    while (row[r] == index) --r;
    right = std::max(right, r);
  }
  if (right < 0) return TRect{};
  return TRect{f.Left() + left, f.Top() + top, f.Left() + right + 1, f.Top() + bottom + 1};
}

// The colour the renderer fills with where an opaque animation shows no frame.
TColor BackgroundColourOf(TGIFImage& image) {
  TGIFGlobalColorMap& global = image.GlobalColorMap();
  if (global.Count() == 0) return clWindow;
  const int bg = image.Header().BackgroundColorIndex();
  return TGIFColorMap::RGB2Color(global.Data()[bg < global.Count() ? bg : 0]);
}

// One run of Optimize over one image: the steps and the progress they report.
class TOptimizeRun {
 public:
  explicit TOptimizeRun(TGIFImage& AImage)
      : FImage(AImage), FFrames(AImage.Images()), FTotal(8 * AImage.Images().Count()) {}

  void ColorMaps();
  void CleanupTransparencyAndDisposal();
  void MergeFrames();
  void CleanupExtensions();
  void CropFrames();
  void CleanupControlExtensions();

 private:
  // What plays.
  bool BackgroundShown();
  bool TransparentWithout(int i) const;
  bool MayDelete(int i);
  bool MaySwitchOffTransparency(int i);
  void KeepBackgroundColour(TColor Background);
  // The steps' frame by frame decisions.
  static bool DisposalHidden(TGIFFrame& Cur, TGIFFrame& Next);
  bool MergeWithPrevious(int b);
  std::vector<TRestoreCandidate> CropCandidates();
  static bool Holds(const std::vector<TRestoreCandidate>& candidates, int i, const TRect& area,
                    bool becameLast);
  int PreviousShown(int i) const;
  bool IsLastShown(int i) const;
  bool FoldIntoPrevious(int i, const std::vector<TRestoreCandidate>& candidates, bool becameLast);
  void DeleteIfVoid(int i);
  void Step();

  TGIFImage& FImage;
  TGIFImageList& FFrames;
  int FTotal;
  int FDone = 0;
  // Whether some screen shows background: a property of what plays, which every step
  // keeps, so it is traced once, when first asked.
  std::optional<bool> FBackgroundShown;
};

void TOptimizeRun::ColorMaps() {
  TGIFGlobalColorMap& global = FImage.GlobalColorMap();
  if (global.Count() > 0) {
    const TColor background = BackgroundColourOf(FImage);
    if (global.Optimize()) {
      KeepBackgroundColour(background);
      Step();
    }
  }
  for (int i = 0; i < FFrames.Count(); ++i) {
    TGIFFrame& f = *FFrames.Frames(i);
    // A frame without pixels uses none of its colours: sorting would drop them all.
    if (!f.Empty() && f.ColorMap().Count() > 0 && f.ColorMap().Optimize()) Step();
  }
}

void TOptimizeRun::CleanupTransparencyAndDisposal() {
  for (int i = 0; i < FFrames.Count(); ++i) {
    TGIFFrame& f = *FFrames.Frames(i);
    if (f.Transparent() && !UsesIndex(f, uint8_t(TransparentIndex(f))) &&
        MaySwitchOffTransparency(i)) {
      f.GraphicControlExtension()->SetTransparent(false);
      Step();
    }
  }
  for (int i = 0; i + 1 < FFrames.Count(); ++i)
    if (DisposalHidden(*FFrames.Frames(i), *FFrames.Frames(i + 1))) {
      FFrames.Frames(i)->GraphicControlExtension()->SetDisposal(dmNone);
      Step();
    }
}

void TOptimizeRun::MergeFrames() {
  const TColor background = BackgroundColourOf(FImage);
  for (int b = FFrames.Count() - 1; b >= 1; --b)
    if (MergeWithPrevious(b)) Step();
  // A transparent index added to the global table may make a background index that lay
  // beyond it valid.
  KeepBackgroundColour(background);
}

void TOptimizeRun::CleanupExtensions() {
  const bool animated = FFrames.Count() > 1;
  // The loop count lives on the first frame; one found later moves there, so that
  // dropping the others keeps it.
  if (animated && !LoopExtension(*FFrames.Frames(0)))
    for (int i = 1; i < FFrames.Count(); ++i)
      if (TGIFAppExtNSLoop* loop = LoopExtension(*FFrames.Frames(i))) {
        CopyLoopTo(*loop, *FFrames.Frames(0));
        break;
      }
  for (int i = FFrames.Count() - 1; i >= 0; --i) {
    TGIFFrame& f = *FFrames.Frames(i);
    bool changed = false;
    for (int k = f.Extensions().Count() - 1; k >= 0; --k)
      if (IsDroppedExtension(f.Extensions().Extensions(k), animated && i == 0)) {
        f.Extensions().Delete(k);
        changed = true;
      }
    if (changed) Step();
    DeleteIfVoid(i);
  }
}

void TOptimizeRun::CropFrames() {
  const std::vector<TRestoreCandidate> candidates = CropCandidates();
  // Folding the last frames shown makes the frame before them the last: a new pass then
  // clears its area.
  int firstLast = FFrames.Count();
  for (int i = FFrames.Count() - 1; i >= 0; --i) {
    TGIFFrame& f = *FFrames.Frames(i);
    if (f.Empty() || !f.Transparent()) continue;
    const bool last = i >= firstLast;
    if (IsClear(f)) {
      if (FoldIntoPrevious(i, candidates, last)) {
        if (IsLastShown(i - 1)) firstLast = PreviousShown(i);
        Step();
      } else if (!(f.BoundsRect() == TRect{0, 0, 1, 1}) &&
                 Holds(candidates, i, TRect{0, 0, 1, 1}, last)) {
        // Kept for its time on screen, as one transparent pixel.
        f.ApplyBounds(0, 0, 1, 1);
        Step();
      }
      continue;
    }
    const TRect keep = OpaqueBounds(f, uint8_t(TransparentIndex(f)));
    if (keep == f.BoundsRect() || !Holds(candidates, i, keep, last)) continue;
    f.Crop();
    Step();
  }
}

void TOptimizeRun::CleanupControlExtensions() {
  for (int i = FFrames.Count() - 1; i >= 0; --i) {
    TGIFFrame& f = *FFrames.Frames(i);
    TGIFGraphicControlExtension* g = f.GraphicControlExtension();
    if (!g) continue;
    const bool single = FFrames.Count() == 1;
    const TDisposalMethod d = g->Disposal();
    // Without the extension the renderer plays the default delay and keeps the pixels:
    // the same as a delay of 0 and no disposal.
    if ((g->Delay() == 0 || single) && !f.Transparent() && !g->UserInput() &&
        (d == dmNone || d == dmNoDisposal || single)) {
      f.Extensions().Delete(f.Extensions().IndexOf(g));
      Step();
    }
    DeleteIfVoid(i);
  }
}

bool TOptimizeRun::BackgroundShown() {
  if (!FBackgroundShown) {
    std::vector<TRestoreCandidate> none;
    FBackgroundShown = TraceBackground(FImage, none);
  }
  return *FBackgroundShown;
}

bool TOptimizeRun::TransparentWithout(int i) const {
  for (int k = 0; k < FFrames.Count(); ++k)
    if (k != i && FFrames.Frames(k)->Transparent()) return true;
  return false;
}

// Removing a frame keeps what plays only when the background stays the same: the renderer
// shows the picture under a transparent animation and fills an opaque one with the
// background colour, and a lone frame is drawn over the picture without the renderer.
bool TOptimizeRun::MayDelete(int i) {
  if (FFrames.Count() <= 1) return false;
  if (FFrames.Count() == 2) return FImage.IsTransparent() || !BackgroundShown();
  return TransparentWithout(i) == FImage.IsTransparent() || !BackgroundShown();
}

bool TOptimizeRun::MaySwitchOffTransparency(int i) {
  return FFrames.Count() < 2 || TransparentWithout(i) || !BackgroundShown();
}

// Viewers fill the screen with the background colour: it keeps its colour under its new
// index, as a new entry when no entry has it.
void TOptimizeRun::KeepBackgroundColour(TColor Background) {
  TGIFGlobalColorMap& global = FImage.GlobalColorMap();
  if (global.Count() == 0 || BackgroundColourOf(FImage) == Background) return;
  int index = global.IndexOf(Background);
  if (index < 0) {
    if (global.Count() >= 256) return;
    const bool optimized = global.Optimized();
    index = global.Add(Background);
    global.SetOptimized(optimized);
  }
  FImage.Header().SetBackgroundColorIndex(index);
}

// Frame Cur's disposal changes nothing when the next frame paints its whole rectangle
// opaquely and does not restore to what Cur's disposal left.
bool TOptimizeRun::DisposalHidden(TGIFFrame& Cur, TGIFFrame& Next) {
  if (KeepsScreen(DisposalOf(Cur)) || !Cur.GraphicControlExtension()) return false;
  if (Next.Transparent() || Next.Empty() || DisposalOf(Next) == dmPrevious) return false;
  TRect area = IntersectRect(Cur.BoundsRect(), Next.BoundsRect());
  return !area.IsEmpty() && area == Cur.BoundsRect();
}

// Merges frame b with the frame whose pixels the screen shows under it: the first one
// before it that does not go back to the picture before it. Answers whether b changed.
bool TOptimizeRun::MergeWithPrevious(int b) {
  TGIFFrame& f = *FFrames.Frames(b);
  int p = b - 1;
  while (p > 0 && DisposalOf(*FFrames.Frames(p)) == dmPrevious) --p;
  const int t = TransparentIndex(f);
  // An opaque animation that shows its background colour somewhere would show the picture
  // under it instead once a frame is transparent.
  if (t < 0 && !FImage.IsTransparent() && BackgroundShown()) return false;
  // A transparent index beyond the colour table (left so by sorting a table that no
  // pixel used it in) cannot be written into the pixels.
  if (t >= f.ActiveColorMap().Count()) return false;
  const size_t before = t >= 0 ? CountIndex(f, t) : 0;
  f.Merge(FFrames.Frames(p));
  if (f.Transparent() != (t >= 0)) return true;
  return t >= 0 && CountIndex(f, t) != before;
}

// For every transparent frame with pixels: the area that cropping leaves (one pixel at the
// origin when nothing shows), and for a frame that draws nothing the previous frame's area,
// which a new pass clears instead once its time moves there.
std::vector<TRestoreCandidate> TOptimizeRun::CropCandidates() {
  std::vector<TRestoreCandidate> candidates;
  for (int i = 0; i < FFrames.Count(); ++i) {
    TGIFFrame& f = *FFrames.Frames(i);
    if (f.Empty() || !f.Transparent()) continue;
    const TRect keep = OpaqueBounds(f, uint8_t(TransparentIndex(f)));
    if (!keep.IsEmpty()) {
      candidates.push_back({i, keep});
      continue;
    }
    candidates.push_back({i, TRect{0, 0, 1, 1}});
    if (const int p = PreviousShown(i); p >= 0)
      candidates.push_back({i, FFrames.Frames(p)->BoundsRect()});
  }
  // A lone frame is drawn without the renderer: nothing is ever restored.
  if (FFrames.Count() > 1 && !candidates.empty()) {
    const bool shown = TraceBackground(FImage, candidates);
    if (!FBackgroundShown) FBackgroundShown = shown;
  }
  return candidates;
}

bool TOptimizeRun::Holds(const std::vector<TRestoreCandidate>& candidates, int i, const TRect& area,
                         bool becameLast) {
  for (const TRestoreCandidate& c : candidates)
    if (c.Frame == i && c.Area == area) return c.Holds && (!becameLast || c.HoldsAsLast);
  return false;
}

int TOptimizeRun::PreviousShown(int i) const {
  int p = i - 1;
  while (p >= 0 && FFrames.Frames(p)->Empty()) --p;
  return p;
}

bool TOptimizeRun::IsLastShown(int i) const {
  for (int k = i + 1; k < FFrames.Count(); ++k)
    if (!FFrames.Frames(k)->Empty()) return false;
  return true;
}

// A frame that draws nothing only lengthens the time the frame shown before it stays, when
// neither of them clears or restores the screen: its played time moves there and the frame
// goes. The sum must stay within the longest delay the renderer plays.
bool TOptimizeRun::FoldIntoPrevious(int i, const std::vector<TRestoreCandidate>& candidates,
                                    bool becameLast) {
  const int p = PreviousShown(i);
  if (p < 0) return false;
  TGIFFrame& f = *FFrames.Frames(i);
  TGIFFrame& prev = *FFrames.Frames(p);
  TGIFGraphicControlExtension* g = f.GraphicControlExtension();
  if ((g && g->UserInput()) || LoopExtension(f)) return false;
  if (!KeepsScreen(DisposalOf(prev)) || DisposalOf(f) == dmBackground) return false;
  const int units = PlayedUnits(prev) + PlayedUnits(f);
  if (units > MaximumFrameDelay) return false;
  if (FFrames.Count() > 1 && !Holds(candidates, i, prev.BoundsRect(), becameLast)) return false;
  if (!MayDelete(i)) return false;
  TGIFGraphicControlExtension* pg = prev.GraphicControlExtension();
  if (!pg)
    pg = static_cast<TGIFGraphicControlExtension*>(
        TGIFExtension::Create(ExtensionClassOf<TGIFGraphicControlExtension>(), &prev));
  pg->SetDelay(uint16_t(units));
  FFrames.Delete(i);
  return true;
}

void TOptimizeRun::DeleteIfVoid(int i) {
  TGIFFrame& f = *FFrames.Frames(i);
  if (f.Empty() && f.Extensions().Count() == 0 && MayDelete(i)) FFrames.Delete(i);
}

void TOptimizeRun::Step() {
  ++FDone;
  FImage.Progress(psRunning, uint8_t(std::min(100, FDone * 100 / std::max(1, FTotal))), false,
                  TRect{}, gifmsg::sProgressOptimizing);
}

}  // namespace

void TGIFImage::Optimize(TGIFOptimizeOptions Options, TColorReduction, TDitherMode, int) {
  if (Empty()) return;
  TDrawSuspension suspension(*this);
  StopDraw();
  Progress(psStarting, 0, false, TRect{}, gifmsg::sProgressOptimizing);
  try {
    TOptimizeRun run(*this);
    if (Options & ooColorMap) run.ColorMaps();
    if (Options & ooCleanup) run.CleanupTransparencyAndDisposal();
    if (Options & ooMerge) run.MergeFrames();
    if (Options & ooCleanup) run.CleanupExtensions();
    if (Options & ooCrop) run.CropFrames();
    if (Options & ooCleanup) run.CleanupControlExtensions();
  } catch (...) {
    Progress(psEnding, 0, false, TRect{}, gifmsg::sProgressOptimizing);
    Changed();
    throw;
  }
  Progress(psEnding, 100, false, TRect{}, gifmsg::sProgressOptimizing);
  Changed();
}
