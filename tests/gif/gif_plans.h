// Test animations and how they play:
// - TAnimPlan / EncodeAnimation: small animations planned frame by frame, written by giflib;
// - TPlayer: an image, a target showing a "photograph" and a clock that moves only when told;
// - PlayedTimeline: what a person sees when a GIF plays through the image's own renderer on
//   that clock: every screen with the milliseconds it stays, over the passes asked for.
// Used by the renderer and optimizer tests; GoogleTest is not needed here.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "GIFImg.h"

namespace gif_plans {

using Bytes = std::vector<uint8_t>;

// One frame of an animation written with giflib.
struct TFramePlan {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  Bytes Pixels;          // Width x Height indices
  int Delay = 10;        // hundredths of a second as stored
  int Disposal = 0;      // 0 none, 1 keep, 2 background, 3 previous
  int Transparent = -1;  // index, or -1
};

struct TAnimPlan {
  int Width = 8, Height = 8;
  int Loops = -1;  // -1: no looping extension
  int BackgroundIndex = 3;
  std::vector<TFramePlan> Frames;
};

// Palette: 0 black, 1 red, 2 green, 3 blue, 4 yellow, 5 magenta, 6 cyan, 7 white.
inline const GifColorType kColors[8] = {{0, 0, 0},     {255, 0, 0},    {0, 255, 0},
                                        {0, 0, 255},   {255, 255, 0},  {255, 0, 255},
                                        {0, 255, 255}, {255, 255, 255}};
inline TColor ColorOf(int index) {
  return RGBColor(kColors[index].Red, kColors[index].Green, kColors[index].Blue);
}

inline int WriteToVector(GifFileType* g, const GifByteType* data, int n) {
  static_cast<Bytes*>(g->UserData)->insert(static_cast<Bytes*>(g->UserData)->end(), data, data + n);
  return n;
}

inline Bytes EncodeAnimation(const TAnimPlan& plan) {
  Bytes out;
  int error = 0;
  GifFileType* g = EGifOpen(&out, WriteToVector, &error);
  EGifSetGifVersion(g, true);
  ColorMapObject* map = GifMakeMapObject(8, kColors);
  EGifPutScreenDesc(g, plan.Width, plan.Height, 3, plan.BackgroundIndex, map);
  if (plan.Loops >= 0) {
    const uint8_t loop[3] = {1, uint8_t(plan.Loops), uint8_t(plan.Loops >> 8)};
    EGifPutExtensionLeader(g, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(g, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(g, 3, loop);
    EGifPutExtensionTrailer(g);
  }
  for (const TFramePlan& f : plan.Frames) {
    GraphicsControlBlock gcb{f.Disposal, false, f.Delay, f.Transparent};
    GifByteType ext[4];
    EGifGCBToExtension(&gcb, ext);
    EGifPutExtension(g, GRAPHICS_EXT_FUNC_CODE, 4, ext);
    EGifPutImageDesc(g, f.Left, f.Top, f.Width, f.Height, false, nullptr);
    Bytes pixels = f.Pixels;
    EGifPutLine(g, pixels.data(), int(pixels.size()));
  }
  EGifCloseFile(g, &error);
  GifFreeMapObject(map);
  return out;
}

inline TFramePlan Solid(int left, int top, int width, int height, int index, int delay = 10,
                        int disposal = 0) {
  TFramePlan f{left,  top,     width, height, Bytes(size_t(width * height), uint8_t(index)),
               delay, disposal};
  return f;
}

inline void Load(TGIFImage& image, const Bytes& bytes) {
  TReadOnlyMemoryStream stream(bytes.data(), bytes.size());
  image.LoadFromStream(stream);
}

// A target that shows a "photograph": every pixel its own colour.
inline void PaintPhoto(TBitmap& target, int w, int h) {
  target.SetPixelFormat(pf24bit);
  target.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      target.SetPixelColor(x, y, RGBColor(uint8_t(10 + x * 20), uint8_t(10 + y * 20), 77));
}

inline TColor PhotoAt(int x, int y) {
  return RGBColor(uint8_t(10 + x * 20), uint8_t(10 + y * 20), 77);
}

// An image, a target and a clock that moves only when told to.
struct TPlayer {
  TManualTimerService Clock;
  TTimerServiceScope Scope{Clock};
  TGIFImage Image;
  TBitmap Target;
  TRect Area;

  explicit TPlayer(const TAnimPlan& plan) {
    Load(Image, EncodeAnimation(plan));
    PaintPhoto(Target, plan.Width, plan.Height);
    Area = TRect{0, 0, plan.Width, plan.Height};
  }
  ~TPlayer() { Image.StopDraw(); }
};

// Every pair of disposals, opaque and with transparency, frames at varied offsets.
inline std::vector<TAnimPlan> DisposalPairPlans(int loops = -1) {
  std::vector<TAnimPlan> plans;
  for (int transparent : {-1, 0})
    for (int d0 = 0; d0 < 4; ++d0)
      for (int d1 = 0; d1 < 4; ++d1) {
        TAnimPlan s;
        s.Width = 12, s.Height = 10;
        s.BackgroundIndex = 6;
        s.Loops = loops;
        TFramePlan a = Solid(1, 1, 7, 6, 1, 10, d0), b = Solid(4, 3, 6, 6, 2, 10, d1);
        TFramePlan c = Solid(0, 5, 9, 5, 4, 10, d0), e = Solid(3, 0, 9, 4, 5, 10, 0);
        for (TFramePlan* f : {&a, &b, &c, &e}) {
          f->Transparent = transparent;
          for (size_t i = 0; i < f->Pixels.size(); i += 3) f->Pixels[i] = 0;
          f->Pixels[1] = 3;
        }
        s.Frames = {a, b, c, e};
        plans.push_back(s);
      }
  return plans;
}

// ---------------------------------------------------------------------------------------
// Played timelines
// ---------------------------------------------------------------------------------------

// One screen as shown (the target's rows) and how long it stays: kForever for the screen an
// animation stops on, 0 for the screen that begins the pass after the last one asked for.
struct TShownScreen {
  Bytes Pixels;
  int64_t Milliseconds = 0;
  bool operator==(const TShownScreen&) const = default;
};
using TTimeline = std::vector<TShownScreen>;
// Failures print the times, not the pixels.
inline void PrintTo(const TShownScreen& s, std::ostream* os) {
  *os << "screen of " << s.Pixels.size() << " bytes for " << s.Milliseconds << " ms";
}
constexpr int64_t kForever = -1;

// An image that lets the player see its renderer's passes.
class TWatchedGIFImage : public TGIFImage {
 public:
  std::unique_ptr<TCustomGIFRenderer> NewRenderer() override {
    auto renderer = TGIFImage::NewRenderer();
    Renderer = renderer.get();
    return renderer;
  }
  TCustomGIFRenderer* Renderer = nullptr;
};

// Plays the image as it draws itself with Animate on (one frame drawn alone, several
// through the renderer) onto a photograph, firing the timer until the animation stops or
// `passes` passes are played. Equal consecutive screens are joined and their times added.
inline TTimeline PlayedTimeline(TWatchedGIFImage& image, int passes = 2) {
  TManualTimerService clock;
  TTimerServiceScope scope(clock);
  image.StopDraw();
  image.Renderer = nullptr;
  TBitmap target;
  PaintPhoto(target, image.Width(), image.Height());
  const TRect area{0, 0, image.Width(), image.Height()};
  TTimeline out;
  auto add = [&](int64_t ms) {
    Bytes screen;
    for (int y = 0; y < target.Height(); ++y)
      screen.insert(screen.end(), target.GetScanline(y),
                    target.GetScanline(y) + 3 * target.Width());
    if (!out.empty() && out.back().Pixels == screen) {
      if (out.back().Milliseconds != kForever)
        out.back().Milliseconds = ms == kForever ? kForever : out.back().Milliseconds + ms;
      return;
    }
    out.push_back({std::move(screen), ms});
  };
  const bool animate = image.Animate();
  image.SetAnimate(true);
  image.Draw(target.Canvas(), area);
  // Enough ticks for two passes of the longest animation a test plays.
  for (int ticks = 0; ticks < 100000; ++ticks) {
    const int64_t before = clock.Milliseconds();
    if (clock.ArmedCount() == 0) {
      add(kForever);
      break;
    }
    if (image.Renderer && image.Renderer->LoopCount() >= passes) {
      add(0);
      break;
    }
    clock.FireNext();
    add(clock.Milliseconds() - before);
    image.Draw(target.Canvas(), area);
  }
  image.StopDraw();
  image.Renderer = nullptr;
  image.SetAnimate(animate);
  return out;
}

inline TTimeline PlayedTimeline(const Bytes& gif, int passes = 2) {
  TWatchedGIFImage image;
  Load(image, gif);
  return PlayedTimeline(image, passes);
}

}  // namespace gif_plans
