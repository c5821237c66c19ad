// The composing renderer: the off-screen buffer, disposal of the frame shown before, and
// the timer that advances the frames between repaints.
#include <algorithm>

#include "gif_glue.h"

namespace {

TRect WholeOf(const TBitmap& bitmap) {
  return TRect{0, 0, bitmap.Width(), bitmap.Height()};
}

void CopyWhole(TBitmap& into, TBitmap& from) {
  into.Canvas().CopyRect(WholeOf(into), from.Canvas(), WholeOf(from));
}

std::unique_ptr<TBitmap> NewBufferLike(const TBitmap& buffer) {
  auto bitmap = std::make_unique<TBitmap>();
  bitmap->SetPixelFormat(pf24bit);
  bitmap->SetSize(buffer.Width(), buffer.Height());
  return bitmap;
}

// The first looping extension of the file, searched frame by frame.
const TGIFAppExtNSLoop* FindLoopExtension(TGIFImageList& frames) {
  for (int i = 0; i < frames.Count(); ++i) {
    TGIFExtensionList& extensions = frames.Frames(i)->Extensions();
    for (int e = 0; e < extensions.Count(); ++e)
      if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extensions.Extensions(e))) return loop;
  }
  return nullptr;
}

// delay x unit x 100 / speed, rounded; a speed of 0 or below plays as the slowest, 1 %.
int ScaledDelay(int units, int speed) {
  const int64_t numerator = int64_t(units) * DelayUnitMilliseconds * 100;
  const int64_t divisor = std::max(speed, 1);
  return int((numerator * 2 + divisor) / (divisor * 2));
}

}  // namespace

TGIFRenderer::TGIFRenderer(TGIFImage* AImage)
    : TCustomGIFRenderer(AImage), FBuffer(std::make_unique<TBitmap>()) {
  FBuffer->SetPixelFormat(pf24bit);
}

TGIFRenderer::~TGIFRenderer() {
  ReleaseBuffers();
}

void TGIFRenderer::ReleaseBuffers() {
  StopAnimation();
  FBackground.reset();
  FPreviousBuffer.reset();
}

TBitmap* TGIFRenderer::Bitmap() {
  RenderCurrentFrame();
  return FBuffer.get();
}

void TGIFRenderer::Rewind() {
  TCustomGIFRenderer::Rewind();
  FPrevDisposal = dmNoDisposal;
}

void TGIFRenderer::LoopStarted() {
  // The last frame's area goes back to the background before the new pass starts.
  if (ClearOnLoop) FPrevDisposal = dmBackground;
}

void TGIFRenderer::AdvanceFrame() {
  FPrevDisposal = FDisposal;
  FPrevFrame = FFrame;
  TCustomGIFRenderer::AdvanceFrame();
  FNeedRender = true;
  int delay = DefaultFrameDelay;
  FDisposal = dmNoDisposal;
  if (FFrame && FFrame->GraphicControlExtension()) {
    const TGIFGraphicControlExtension& gce = *FFrame->GraphicControlExtension();
    FDisposal = gce.Disposal();
    if (gce.Delay() != 0) delay = gce.Delay();
  }
  delay = std::clamp(delay, MinimumFrameDelay, MaximumFrameDelay);
  FFrameDelay = ScaledDelay(delay, FSpeed);
}

void TGIFRenderer::CaptureTarget(TBitmap& Into) {
  if (FCanvas) Into.Canvas().CopyRect(WholeOf(Into), *FCanvas, FDestRect);
}

void TGIFRenderer::FillBuffer(const TRect& Area) {
  TCanvas& canvas = FBuffer->Canvas();
  canvas.Brush.Color = FBackgroundColor;
  canvas.Brush.Style = bsSolid;
  canvas.FillRect(Area);
}

void TGIFRenderer::PrepareTarget() {
  TCustomGIFRenderer::PrepareTarget();
  FBuffer->SetSize(std::max(FDestRect.Width(), 0), std::max(FDestRect.Height(), 0));
  const TGIFAppExtNSLoop* loop = FindLoopExtension(FImage->Images());
  if (loop) FLoopMax = loop->Loops();
  if (FAnimate) PrepareDisposalBuffers();
  if (FTransparent && FImage->IsTransparent())
    CaptureTarget(*FBuffer);
  else
    FillBuffer(WholeOf(*FBuffer));
}

void TGIFRenderer::PrepareDisposalBuffers() {
  bool background = ClearOnLoop, previous = false;
  TGIFImageList& frames = FImage->Images();
  for (int i = 0; i < frames.Count(); ++i)
    if (const TGIFGraphicControlExtension* gce = frames.Frames(i)->GraphicControlExtension()) {
      background |= gce->Disposal() == dmBackground;
      previous |= gce->Disposal() == dmPrevious;
    }
  FBackground.reset();
  if (background && FTransparent) {
    FBackground = NewBufferLike(*FBuffer);
    if (FImage->IsTransparent()) {
      CaptureTarget(*FBackground);
    } else {
      FBackground->Canvas().Brush.Color = FBackgroundColor;
      FBackground->Canvas().FillRect(WholeOf(*FBackground));
    }
  }
  FPreviousBuffer.reset();
  if (previous) {
    FPreviousBuffer = NewBufferLike(*FBuffer);
    CaptureTarget(*FPreviousBuffer);
  }
}

void TGIFRenderer::RenderCurrentFrame() {
  ApplyPendingChange();
  if (!FNeedRender || !FFrame) return;
  // The frame shown before is disposed of first, and only then is the state saved that a
  // restore-to-previous frame goes back to: the picture as it was before this frame.
  if (FPrevDisposal == dmBackground) {
    RestoreBackgroundArea();
  } else if (FPrevDisposal == dmPrevious && FPreviousBuffer) {
    CopyWhole(*FBuffer, *FPreviousBuffer);
  }
  if (FDisposal == dmPrevious && FPrevDisposal != dmPrevious) {
    // Without animation no buffer was prepared; one is made when first needed.
    if (!FPreviousBuffer) FPreviousBuffer = NewBufferLike(*FBuffer);
    CopyWhole(*FPreviousBuffer, *FBuffer);
  }
  // The buffer holds true colours, so no palette needs selecting into it.
  FFrame->Draw(FBuffer->Canvas(), WholeOf(*FBuffer), true, false);
  FNeedRender = false;
}

void TGIFRenderer::RestoreBackgroundArea() {
  if (!FPrevFrame) return;
  const TRect area = FPrevFrame->ScaleRect(WholeOf(*FBuffer));
  if (FTransparent && FImage->IsTransparent() && FBackground)
    FBuffer->Canvas().CopyRect(area, FBackground->Canvas(), area);
  else
    FillBuffer(area);
}

void TGIFRenderer::Draw(TCanvas& ACanvas, const TRect& Rect) {
  const int64_t t0 = TimerService().Milliseconds();
  TCustomGIFRenderer::Draw(ACanvas, Rect);
  if (!FAnimate || FImage->Images().Count() == 0) return;
  if (!FAnimating) StartAnimation();
  if (FAnimating && FNeedTimer) {
    const int64_t spent = TimerService().Milliseconds() - t0;
    ArmTimer(int(std::max<int64_t>(FFrameDelay - spent, 1)));
  }
}

void TGIFRenderer::StartAnimation() {
  if (FAnimating) return;
  TCustomGIFRenderer::StartAnimation();
  FAnimationTimer = TimerService().CreateTimer();
  FAnimationTimer->SetEnabled(false);
  FAnimationTimer->OnTimer = [this] { TimerTick(); };
  FNeedTimer = true;
}

void TGIFRenderer::StopAnimation() {
  if (!FAnimating) return;
  DisarmTimer();
  FAnimationTimer.reset();
  TCustomGIFRenderer::StopAnimation();
}

void TGIFRenderer::HaltAnimation() {
  DisarmTimer();
}

void TGIFRenderer::ArmTimer(int Interval) {
  if (!FAnimating || !FAnimationTimer) return;
  FAnimationTimer->SetInterval(Interval);
  FAnimationTimer->SetEnabled(true);
  FNeedTimer = false;
}

void TGIFRenderer::DisarmTimer() {
  if (FAnimating && FAnimationTimer) FAnimationTimer->SetEnabled(false);
  FNeedTimer = false;
}

void TGIFRenderer::TimerTick() {
  DisarmTimer();
  FNeedTimer = true;
  NextFrame();
  // Last: the holder may repaint, or even free this renderer, from the notification.
  FImage->Changed();
}
