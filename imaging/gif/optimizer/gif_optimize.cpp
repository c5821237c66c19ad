// Optimize: removes what a GIF carries without need, in a fixed order of steps (colour
// tables, clean-up of transparency and disposal, merging with the previous frame, removal of
// extensions, cropping of transparent borders, removal of graphic control extensions that
// say nothing). Every step keeps what a viewer composes frame by frame.
#include <algorithm>

#include "gif_glue.h"
#include "gif_optimize.h"

namespace {

TDisposalMethod DisposalOf(const TGIFFrame& f) {
  TGIFGraphicControlExtension* g = f.GraphicControlExtension();
  return g ? g->Disposal() : dmNone;
}

bool UsesOtherThan(const TGIFFrame& f, uint8_t index) {
  const uint8_t* p = f.Data();
  return std::find_if(p, p + f.DataSize(), [index](uint8_t v) { return v != index; }) !=
         p + f.DataSize();
}

bool UsesIndex(const TGIFFrame& f, uint8_t index) {
  const uint8_t* p = f.Data();
  return std::find(p, p + f.DataSize(), index) != p + f.DataSize();
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
  int left = f.Width(), right = -1, top = f.Height(), bottom = -1;
  for (int y = 0; y < f.Height(); ++y) {
    const uint8_t* row = f.Data() + size_t(y) * size_t(f.Width());
    for (int x = 0; x < f.Width(); ++x)
      if (row[x] != index) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  }
  if (right < 0) return TRect{};
  return TRect{f.Left() + left, f.Top() + top, f.Left() + right + 1, f.Top() + bottom + 1};
}

// Which transparent frames that dispose to background may still be cropped: those whose
// cut-away border (and, when nothing is left, the screen's corner pixel that the remaining
// 1x1 frame clears) already shows background when the frame is drawn, so that clearing
// less changes nothing. Follows the screen frame by frame with one byte per pixel: 1 where
// the screen surely shows background.
std::vector<const TGIFFrame*> CroppableBackgroundFrames(TGIFImage& image) {
  std::vector<const TGIFFrame*> out;
  const int w = image.Width(), h = image.Height();
  if (w <= 0 || h <= 0 || int64_t(w) * h > (int64_t(1) << 26)) return out;
  std::vector<uint8_t> bg(size_t(w) * size_t(h), 1);
  auto clip = [&](TRect r) { return IntersectRect(r, TRect{0, 0, w, h}); };
  auto all = [&](TRect r, TRect except) {
    for (int y = r.Top; y < r.Bottom; ++y)
      for (int x = r.Left; x < r.Right; ++x)
        if (!bg[size_t(y) * size_t(w) + size_t(x)] &&
            !(x >= except.Left && x < except.Right && y >= except.Top && y < except.Bottom))
          return false;
    return true;
  };
  auto fill = [&](TRect r, uint8_t v) {
    for (int y = r.Top; y < r.Bottom; ++y)
      std::fill_n(bg.begin() + ptrdiff_t(size_t(y) * size_t(w) + size_t(r.Left)), r.Right - r.Left,
                  v);
  };
  TGIFImageList& frames = image.Images();
  for (int i = 0; i < frames.Count(); ++i) {
    TGIFFrame& f = *frames.Frames(i);
    const TRect rect = clip(f.BoundsRect());
    const TDisposalMethod d = DisposalOf(f);
    const int t = f.Transparent() ? f.GraphicControlExtension()->TransparentColorIndex() : -1;
    if (d == dmBackground && t >= 0 && !f.Empty()) {
      const TRect keep = OpaqueBounds(f, uint8_t(t));
      if (all(rect, keep) && (!keep.IsEmpty() || bg[0])) out.push_back(&f);
    }
    std::vector<uint8_t> saved;
    if (d == dmPrevious) saved = bg;
    if (!f.Empty())
      for (int y = rect.Top; y < rect.Bottom; ++y)
        for (int x = rect.Left; x < rect.Right; ++x)
          if (f.Data()[size_t(y - f.Top()) * size_t(f.Width()) + size_t(x - f.Left())] != t)
            bg[size_t(y) * size_t(w) + size_t(x)] = 0;
    if (d == dmBackground)
      fill(rect, 1);
    else if (d == dmPrevious)
      bg = std::move(saved);
    else if (d > dmPrevious)
      fill(rect, 0);  // undefined disposal: nothing is known of that place any more
  }
  return out;
}

// One run of Optimize over one image: the steps and the progress they report.
class TOptimizeRun {
 public:
  explicit TOptimizeRun(TGIFImage& AImage)
      : FImage(AImage), FFrames(AImage.Images()), FTotal(8 * AImage.Images().Count()) {}

  void ColorMaps() {
    TGIFGlobalColorMap& global = FImage.GlobalColorMap();
    const int bg = FImage.Header().BackgroundColorIndex();
    const bool hadBackground = bg < global.Count();
    const TColor background = hadBackground ? TGIFColorMap::RGB2Color(global.Data()[bg]) : 0;
    if (global.Count() > 0 && global.Optimize()) {
      if (hadBackground) KeepBackground(background);
      Step();
    }
    for (int i = 0; i < FFrames.Count(); ++i) {
      TGIFFrame& f = *FFrames.Frames(i);
      // A frame without pixels uses none of its colours: sorting would drop them all.
      if (!f.Empty() && f.ColorMap().Count() > 0 && f.ColorMap().Optimize()) Step();
    }
  }

  void CleanupTransparencyAndDisposal() {
    for (int i = 0; i < FFrames.Count(); ++i) {
      TGIFFrame& f = *FFrames.Frames(i);
      if (f.Transparent() && !UsesIndex(f, f.GraphicControlExtension()->TransparentColorIndex())) {
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

  void MergeFrames() {
    for (int b = FFrames.Count() - 1; b >= 1; --b) {
      int p = b - 1;
      while (p > 0 && DisposalOf(*FFrames.Frames(p)) == dmPrevious) --p;
      FFrames.Frames(b)->Merge(FFrames.Frames(p));
      Step();
    }
  }

  void CleanupExtensions() {
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

  void CropFrames() {
    const std::vector<const TGIFFrame*> croppable = CroppableBackgroundFrames(FImage);
    for (int i = FFrames.Count() - 1; i >= 0; --i) {
      TGIFFrame& f = *FFrames.Frames(i);
      // Disposal to background clears the frame's whole rectangle: a smaller one would
      // leave behind what the larger one cleared, unless that was background already.
      if (f.Empty() || !f.Transparent()) continue;
      if (DisposalOf(f) == dmBackground &&
          std::find(croppable.begin(), croppable.end(), &f) == croppable.end())
        continue;
      const uint16_t delay = f.GraphicControlExtension()->Delay();
      TGIFAppExtNSLoop* loop = LoopExtension(f);
      std::unique_ptr<TGIFAppExtNSLoop> keptLoop;
      if (loop && i == 0 && FFrames.Count() > 1) {
        keptLoop = std::make_unique<TGIFAppExtNSLoop>(nullptr);
        keptLoop->Assign(*loop);
      }
      const bool wasClear = !UsesOtherThan(f, f.GraphicControlExtension()->TransparentColorIndex());
      f.Crop();
      Step();
      if (wasClear && FoldIntoPrevious(i)) continue;
      if (!f.Empty()) continue;
      if (i > 0 && FFrames.Frames(i - 1)->Transparent()) {
        TGIFGraphicControlExtension* g = FFrames.Frames(i - 1)->GraphicControlExtension();
        g->SetDelay(uint16_t(std::min(65535, g->Delay() + delay)));
      }
      FFrames.Delete(i);
      if (keptLoop && FFrames.Count() > 0 && !LoopExtension(*FFrames.Frames(0)))
        CopyLoopTo(*keptLoop, *FFrames.Frames(0));
    }
  }

  void CleanupControlExtensions() {
    for (int i = FFrames.Count() - 1; i >= 0; --i) {
      TGIFFrame& f = *FFrames.Frames(i);
      TGIFGraphicControlExtension* g = f.GraphicControlExtension();
      if (!g) continue;
      const bool single = FFrames.Count() == 1;
      const TDisposalMethod d = g->Disposal();
      if ((g->Delay() == 0 || single) && !f.Transparent() && !g->UserInput() &&
          (d == dmNone || d == dmNoDisposal || single)) {
        f.Extensions().Delete(f.Extensions().IndexOf(g));
        Step();
      }
      DeleteIfVoid(i);
    }
  }

 private:
  // Frame Cur's disposal changes nothing when the next frame paints its whole rectangle
  // opaquely and does not restore to what Cur's disposal left.
  static bool DisposalHidden(TGIFFrame& Cur, TGIFFrame& Next) {
    const TDisposalMethod d = DisposalOf(Cur);
    if (d != dmBackground && d != dmPrevious) return false;
    if (Next.Transparent() || Next.Empty() || DisposalOf(Next) == dmPrevious) return false;
    TRect area = IntersectRect(Cur.BoundsRect(), Next.BoundsRect());
    return !area.IsEmpty() && area == Cur.BoundsRect();
  }

  // Sorting by use moves the background colour and drops it when no pixel uses it; viewers
  // fill the screen with it, so it keeps its colour under its new index.
  void KeepBackground(TColor Background) {
    TGIFGlobalColorMap& global = FImage.GlobalColorMap();
    int index = global.IndexOf(Background);
    if (index < 0) {
      index = global.Add(Background);
      global.SetOptimized(true);
    }
    FImage.Header().SetBackgroundColorIndex(index);
  }

  // A frame that shows nothing only lengthens the previous frame's time on screen, when the
  // previous frame stays as drawn: its delay moves there and the frame goes.
  bool FoldIntoPrevious(int i) {
    if (i == 0) return false;
    TGIFFrame& f = *FFrames.Frames(i);
    TGIFFrame& prev = *FFrames.Frames(i - 1);
    TGIFGraphicControlExtension* g = f.GraphicControlExtension();
    const TDisposalMethod d = DisposalOf(prev);
    if ((g && g->UserInput()) || (d != dmNone && d != dmNoDisposal) || LoopExtension(f))
      return false;
    TGIFGraphicControlExtension* pg = prev.GraphicControlExtension();
    const int delay = g ? g->Delay() : 0;
    if (delay > 0) {
      if (!pg)
        pg = static_cast<TGIFGraphicControlExtension*>(
            TGIFExtension::Create(ExtensionClassOf<TGIFGraphicControlExtension>(), &prev));
      if (pg->Delay() + delay > 65535) return false;
      pg->SetDelay(uint16_t(pg->Delay() + delay));
    }
    FFrames.Delete(i);
    return true;
  }

  void DeleteIfVoid(int i) {
    TGIFFrame& f = *FFrames.Frames(i);
    if (f.Empty() && f.Extensions().Count() == 0) FFrames.Delete(i);
  }

  void Step() {
    ++FDone;
    FImage.Progress(psRunning, uint8_t(std::min(100, FDone * 100 / std::max(1, FTotal))), false,
                    TRect{}, gifmsg::sProgressOptimizing);
  }

  TGIFImage& FImage;
  TGIFImageList& FFrames;
  int FTotal;
  int FDone = 0;
};

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
