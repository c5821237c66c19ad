// The animation's playing order: frame selection, passes of the loop and pending changes.
#include "gif_glue.h"

bool ClearOnLoop = true;
int DelayUnitMilliseconds = 12;
int DefaultFrameDelay = 10;
int MinimumFrameDelay = 3;
int MaximumFrameDelay = 1000;

TCustomGIFRenderer::TCustomGIFRenderer(TGIFImage* AImage) : FImage(AImage) {
  MarkChanged();
}

void TCustomGIFRenderer::SetAnimate(bool Value) {
  if (Value == FAnimate) return;
  FAnimate = Value;
  MarkChanged();
}

void TCustomGIFRenderer::SetBackgroundColor(TColor Value) {
  if (Value == FBackgroundColor) return;
  FBackgroundColor = Value;
  MarkChanged();
}

void TCustomGIFRenderer::SetSpeed(int Value) {
  if (Value == FSpeed) return;
  FSpeed = Value;
  MarkChanged();
}

void TCustomGIFRenderer::SetTransparent(bool Value) {
  if (Value == FTransparent) return;
  FTransparent = Value;
  MarkChanged();
}

void TCustomGIFRenderer::SetFrameIndex(int Value) {
  if (Value == FFrameIndex) return;
  SelectFrame(Value);
  MarkChanged();
}

void TCustomGIFRenderer::SelectFrame(int Index) {
  if (Index == FFrameIndex) return;
  TGIFImageList& frames = FImage->Images();
  // An index outside the list selects no frame rather than reading past it.
  FFrame = (Index >= 0 && Index < frames.Count()) ? frames.Frames(Index) : nullptr;
  FFrameIndex = FFrame ? Index : -1;
}

void TCustomGIFRenderer::MarkChanged() {
  StopAnimation();
  FChanged = true;
}

void TCustomGIFRenderer::ApplyPendingChange() {
  if (!FChanged) return;
  FChanged = false;
  Rewind();
}

void TCustomGIFRenderer::Rewind() {
  StopAnimation();
  FLoopCount = 0;
  SelectFrame(-1);
  NextFrame();
  FChanged = false;
}

void TCustomGIFRenderer::NextFrame() {
  if (FImage->Images().Count() == 0)
    SelectFrame(-1);
  else
    AdvanceFrame();
}

void TCustomGIFRenderer::AdvanceFrame() {
  const int startIndex = FFrameIndex;
  TGIFFrame* const startFrame = FFrame;
  const int count = FImage->Images().Count();
  // Starting from no frame, the start index is never met again: one round over every
  // frame ends the search, so an endless animation of empty frames cannot hang here.
  for (int steps = 0; steps <= count; ++steps) {
    if (FFrameIndex < count - 1) {
      SelectFrame(FFrameIndex + 1);
    } else {
      ++FLoopCount;
      if (FLoopMax != 0 && FLoopCount >= FLoopMax) {
        HaltAnimation();
        if (FFrame && FFrame->Empty() && startFrame && !startFrame->Empty())
          SelectFrame(startIndex);
        return;
      }
      SelectFrame(0);
      LoopStarted();
    }
    if (!FFrame || !FFrame->Empty() || FFrameIndex == startIndex) return;
  }
}

void TCustomGIFRenderer::StartAnimation() {
  FAnimating = true;
}

void TCustomGIFRenderer::StopAnimation() {
  FAnimating = false;
}

void TCustomGIFRenderer::PrepareTarget() {
  FBackgroundColor = FImage->EffectiveBackgroundColor();
  FLoopMax = 1;
  MarkChanged();
}

void TCustomGIFRenderer::Draw(TCanvas& ACanvas, const TRect& Rect) {
  if (&ACanvas != FCanvas || !(Rect == FDestRect)) {
    Rewind();
    FCanvas = &ACanvas;
    FDestRect = Rect;
    PrepareTarget();
  }
  if (TBitmap* bitmap = Bitmap()) ACanvas.StretchDraw(Rect, *bitmap);
}

std::unique_ptr<TCustomGIFRenderer> TGIFImage::NewRenderer() {
  auto renderer = std::make_unique<TGIFRenderer>(this);
  renderer->SetSpeed(AnimationSpeed());
  renderer->SetTransparent(Transparent());
  renderer->SetBackgroundColor(EffectiveBackgroundColor());
  renderer->SetAnimate(Animate());
  return renderer;
}
