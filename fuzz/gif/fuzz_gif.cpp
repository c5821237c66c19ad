// Loads arbitrary bytes as a GIF and uses the picture the way the workspace and the
// command-line tool do: drawn transparent and opaque, scaled, converted to a bitmap, every
// frame's pixels, bitmap and mask built, and copied into another picture. A failed load
// leaves a picture that must be as usable as a loaded one. Animated pictures are also
// played a few steps through the renderer on a clock that moves only when told to. Errors must be
// GIFException or the size budget's refusal; anything else, a crash, a hang or an over-read is a
// fault.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "GIFImg.h"

namespace {

void UseFrames(TGIFImage& image) {
  TGIFImageList& frames = image.Images();
  for (int i = 0; i < frames.Count() && i < 8; ++i) {
    TGIFFrame& f = *frames.Frames(i);
    (void)f.BoundsRect();
    (void)f.Transparent();
    if (f.Empty()) continue;
    (void)f.Pixels(f.Width() - 1, f.Height() - 1);
    if (TBitmap* b = f.Bitmap()) (void)b->PixelColor(0, 0);
    (void)f.HasMask();
    TBitmap tile;
    tile.SetSize(9, 7);
    f.Draw(tile.Canvas(), Rect(0, 0, 9, 7), true, false);
    f.StretchDraw(tile.Canvas(), Rect(0, 0, 9, 7), true, true);
  }
}

// A few timer steps, each followed by the repaint it asks for, then the renderer stopped
// while its clock still exists.
void PlayAnimation(TGIFImage& image, TManualTimerService& clock, TCanvas& canvas) {
  for (int i = 0; i < 6 && clock.FireNext(); ++i) image.Draw(canvas, Rect(0, 0, 37, 23));
  image.StopDraw();
}

void UsePicture(TGIFImage& image, uint8_t options) {
  TManualTimerService clock;
  TTimerServiceScope clockScope(clock);
  try {
    image.SetTransparent(!(options & 1));
    image.SetAnimate(options & 2);
    TBitmap target;
    target.SetSize(37, 23);
    image.Draw(target.Canvas(), Rect(0, 0, 37, 23));
    if (options & 2) PlayAnimation(image, clock, target.Canvas());
    image.Draw(target.Canvas(), Rect(30, 20, 2, 1));  // mirrored and tiny
    if (int64_t(image.Width()) * image.Height() <= 1 << 20) {
      if (TBitmap* composite = image.Bitmap()) (void)composite->PixelColor(0, 0);
    }
    (void)image.EffectiveBackgroundColor();
    UseFrames(image);
    TGIFImage copy;
    copy.Assign(image);
    TPicture holder;
    holder.SetGraphic(&image);
  } catch (const GIFException&) {
  } catch (const EOutOfResources&) {
  }
  image.StopDraw();  // no renderer may outlive the clock it was armed on
}

}  // namespace

// ---------------------------------------------------------------------------------------
// Writing (the GIF writer's block): a small picture that loaded is saved, and the saved file
// must load again with the same frames; saved once more, it keeps its bytes.

namespace gifwrite {

struct TFrameView {
  TRect Bounds;
  std::vector<uint8_t> Pixels;
  std::vector<TColor> Colors;  // the active map's colour of every pixel
  bool operator==(const TFrameView&) const = default;
};

std::vector<TFrameView> Frames(TGIFImage& image) {
  std::vector<TFrameView> out;
  for (int i = 0; i < image.Images().Count(); ++i) {
    TGIFFrame& f = *image.Images().Frames(i);
    if (f.Empty()) continue;
    TFrameView v{f.BoundsRect(), std::vector<uint8_t>(f.Data(), f.Data() + f.DataSize()), {}};
    TGIFColorMap& map = f.ActiveColorMap();
    for (uint8_t p : v.Pixels) v.Colors.push_back(p < map.Count() ? map.Colors(p) : clNone);
    out.push_back(std::move(v));
  }
  return out;
}

bool Small(TGIFImage& image) {
  int64_t pixels = 0;
  for (int i = 0; i < image.Images().Count(); ++i)
    pixels += int64_t(image.Images().Frames(i)->DataSize());
  return pixels <= (1 << 18);
}

std::vector<uint8_t> Save(TGIFImage& image) {
  TMemoryStream out;
  image.SaveToStream(out);
  return std::vector<uint8_t>(out.Memory(), out.Memory() + out.Size());
}

void SaveAndReload(TGIFImage& image) {
  if (!Small(image)) return;
  image.OnWarning = nullptr;
  std::vector<uint8_t> saved;
  try {
    saved = Save(image);
  } catch (const GIFException&) {
    return;  // empty, or pixels outside their colour map: refused, nothing to compare
  }
  TGIFImage again;
  TReadOnlyMemoryStream in(saved.data(), saved.size());
  again.LoadFromStream(in);  // anything raised here is a fault of the writer
  if (Frames(again) != Frames(image)) std::abort();
  // The bytes may differ from the first save (an empty frame's colour map widens the code
  // size of frames that use the global map, and is not written), but not any more after it.
  std::vector<uint8_t> resaved;
  try {
    resaved = Save(again);
  } catch (const GIFException&) {
    // Frames on the global map take any index below 2^bits; pixels beyond the map that a
    // damaged file held were written as they were, and a map left narrower refuses them.
    return;
  }
  TGIFImage third;
  TReadOnlyMemoryStream in3(resaved.data(), resaved.size());
  third.LoadFromStream(in3);
  if (Save(third) != resaved) std::abort();
}

}  // namespace gifwrite

// ---------------------------------------------------------------------------------------
// Optimizer block: small inputs that load and save are optimized (colour tables merged
// first on every other input), saved again, and the result must read back as a GIF with
// the same frames that hold pixels. Kept apart from the decoding checks above.
// ---------------------------------------------------------------------------------------
namespace {

bool Saves(TGIFImage& image, TMemoryStream& out) {
  try {
    image.SaveToStream(out);
    return true;
  } catch (const GIFException&) {
    return false;
  }
}

void OptimizeAndReadBack(const uint8_t* data, size_t size) {
  if (size > 8192) return;
  TGIFImage image;
  TReadOnlyMemoryStream stream(data, size);
  try {
    image.LoadFromStream(stream);
  } catch (const GIFException&) {
    return;
  } catch (const EOutOfResources&) {
    return;
  }
  if (image.Empty() || image.Images().Count() > 16 ||
      int64_t(image.Width()) * image.Height() > 1 << 16)
    return;
  // Frames with pixels but no colour table anywhere save or not depending on the other
  // frames' tables; the optimizer makes no promise about them.
  for (int i = 0; i < image.Images().Count(); ++i)
    if (!image.Images().Frames(i)->Empty() &&
        image.Images().Frames(i)->ActiveColorMap().Count() == 0)
      return;
  TMemoryStream before;
  if (!Saves(image, before)) return;
  try {
    if (size > 0 && (data[0] & 1)) image.OptimizeColorMap();
    image.Optimize(ooAll);
  } catch (const GIFException&) {
    return;  // pixels beyond their table are refused while counting colours
  }
  if (image.Empty()) return;
  TMemoryStream after;
  if (!Saves(image, after)) std::abort();  // saved before optimizing, so must save after
  after.SetPosition(0);
  TGIFImage back;
  back.OnWarning = [](const void*, TGIFSeverity Severity, const std::string&) {
    if (Severity == gsError) std::abort();
  };
  back.LoadFromStream(after);  // any exception escapes and is a finding
  // Frames without pixels are the writer's and reader's matter (the count may differ);
  // frames with pixels must come back.
  int drawn = 0;
  for (int i = 0; i < image.Images().Count(); ++i) drawn += !image.Images().Frames(i)->Empty();
  int backDrawn = 0;
  for (int i = 0; i < back.Images().Count(); ++i) backDrawn += !back.Images().Frames(i)->Empty();
  if (backDrawn != drawn) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Small budget: the fuzzer's time goes into the decoder, not into huge buffers.
  static const bool budgetSet = (SetImageBudget(32u << 20), true);
  (void)budgetSet;
  TGIFImage image;
  int warnings = 0;
  if (size > 0 && (data[size - 1] & 4))
    image.OnWarning = [&warnings](const void*, TGIFSeverity, const std::string&) { ++warnings; };
  TReadOnlyMemoryStream stream(data, size);
  try {
    image.LoadFromStream(stream);
  } catch (const GIFException&) {
  } catch (const EOutOfResources&) {
  }
  UsePicture(image, size > 0 ? data[size - 1] : 0);
  gifwrite::SaveAndReload(image);
  OptimizeAndReadBack(data, size);
  return 0;
}
