// vitrelle-img render ENTREE SORTIE.ppm [--fond RRGGBB] [--taille LxH] [--redresser]
// [--trame N]: the picture drawn with its own Draw over a plain background, written as P6.
// A JPEG shows its stored rows, as its class decodes them; --redresser turns it upright by
// its Exif orientation first, as the window shows it. With --trame, a GIF animation is
// played N steps from its first frame.
#include <charconv>

#include "commands.h"
#include "framework.h"
#include "jpeg.h"
#ifdef VITRELLE_HAS_GIF
#include "GIFImg.h"
#endif

namespace {

struct TRenderOptions {
  TColor Background = clWhite;
  int Width = 0;  // 0: the picture's own size
  int Height = 0;
  bool Upright = false;
  int Steps = -1;  // --trame: timer steps of the animation; -1 draws the picture as it is
};

bool ParseInt(const std::string& s, int base, int& value) {
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, value, base);
  return ec == std::errc() && p == end && !s.empty();
}

TColor ParseColor(const std::string& s) {
  int v = 0;
  if (s.size() != 6 || !ParseInt(s, 16, v))
    throw TUsageError("couleur de fond invalide « " + s + " » (attendu : RRGGBB)");
  return RGBColor(uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v));
}

void ParseSize(const std::string& s, TRenderOptions& o) {
  const size_t x = s.find_first_of("xX");
  if (x == std::string::npos || !ParseInt(s.substr(0, x), 10, o.Width) ||
      !ParseInt(s.substr(x + 1), 10, o.Height) || o.Width <= 0 || o.Height <= 0)
    throw TUsageError("taille invalide « " + s + " » (attendu : LxH, par exemple 800x600)");
}

int ParseSteps(const std::string& s) {
  int n = 0;
  if (!ParseInt(s, 10, n) || n < 0)
    throw TUsageError("numéro de trame invalide « " + s +
                      " » (attendu : un entier positif ou nul)");
  return n;
}

TRenderOptions ParseOptions(const TArgs& args) {
  TRenderOptions o;
  for (size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--redresser") {
      o.Upright = true;
      continue;
    }
    if (args[i] != "--fond" && args[i] != "--taille" && args[i] != "--trame")
      throw TUsageError("option inconnue « " + args[i] + " »");
    if (i + 1 >= args.size()) throw TUsageError("valeur manquante après " + args[i]);
    if (args[i] == "--fond")
      o.Background = ParseColor(args[++i]);
    else if (args[i] == "--trame")
      o.Steps = ParseSteps(args[++i]);
    else
      ParseSize(args[++i], o);
  }
  return o;
}

// The rendered bitmap as a binary PPM picture; being a TGraphic it is saved like every
// export, through a temporary file renamed over the target once complete.
class TPpmImage : public TGraphic {
 public:
  static const char* StaticClassName() { return "TPpmImage"; }
  const TGraphicClass& ClassType() const override { return ClassOf<TPpmImage>(); }
  void SetBitmap(const TBitmap* bitmap) { FBitmap = bitmap; }

  void Draw(TCanvas&, const TRect&) override {}
  void LoadFromStream(TStream&) override {
    throw EInvalidGraphicOperation("Lecture PPM non prise en charge");
  }
  void SaveToStream(TStream& out) override {
    const TBitmap& bmp = *FBitmap;
    const std::string header =
        "P6\n" + std::to_string(bmp.Width()) + " " + std::to_string(bmp.Height()) + "\n255\n";
    out.WriteBuffer(header.data(), int64_t(header.size()));
    std::vector<uint8_t> rgb(size_t(bmp.Width()) * 3);
    for (int y = 0; y < bmp.Height(); ++y) {
      const uint8_t* src = bmp.GetScanline(y);  // 24-bit: blue, green, red
      for (size_t i = 0; i < rgb.size(); i += 3) {
        rgb[i] = src[i + 2];
        rgb[i + 1] = src[i + 1];
        rgb[i + 2] = src[i];
      }
      out.WriteBuffer(rgb.data(), int64_t(rgb.size()));
    }
  }
  int Width() const override { return FBitmap ? FBitmap->Width() : 0; }
  int Height() const override { return FBitmap ? FBitmap->Height() : 0; }
  bool Empty() const override { return !FBitmap || FBitmap->Empty(); }

 private:
  const TBitmap* FBitmap = nullptr;
};

// Plays a GIF animation on the target: the first draw shows the first frame, then each
// step is one tick of the animation's timer (on a clock that moves only here) followed by
// the repaint the tick asks for. An animation that has ended stays on its last frame.
void DrawAnimationStep(TGraphic& graphic, TCanvas& canvas, const TRect& rect, int steps) {
#ifdef VITRELLE_HAS_GIF
  auto* gif = dynamic_cast<TGIFImage*>(&graphic);
  if (!gif) throw TUsageError("--trame ne s'applique qu'aux images GIF");
  TManualTimerService clock;
  TTimerServiceScope scope(clock);
  gif->SetTransparent(true);
  gif->SetAnimate(true);
  gif->Draw(canvas, rect);
  for (int i = 0; i < steps && clock.FireNext(); ++i) gif->Draw(canvas, rect);
  gif->StopDraw();  // the renderer's timer belongs to this clock
#else
  (void)graphic, (void)canvas, (void)rect, (void)steps;
  throw TUsageError("--trame ne s'applique qu'aux images GIF");
#endif
}

}  // namespace

int CmdRender(const TArgs& args) {
  if (args.size() < 2) throw TUsageError("argument manquant");
  TRenderOptions o = ParseOptions(args);
  TPicture picture;
  picture.LoadFromFile(args[0]);
  if (o.Upright) UprightPicture(picture);
  TGraphic& graphic = *picture.Graphic();
  if (o.Width == 0) o.Width = graphic.Width(), o.Height = graphic.Height();
  if (o.Width <= 0 || o.Height <= 0) throw EInvalidGraphic("L'image est vide");
  TBitmap target;
  target.SetPixelFormat(pf24bit);
  target.SetSize(o.Width, o.Height);
  TCanvas& canvas = target.Canvas();
  canvas.Brush.Color = o.Background;
  canvas.Brush.Style = bsSolid;
  canvas.FillRect(Rect(0, 0, o.Width, o.Height));
  if (o.Steps >= 0)
    DrawAnimationStep(graphic, canvas, Rect(0, 0, o.Width, o.Height), o.Steps);
  else
    graphic.Draw(canvas, Rect(0, 0, o.Width, o.Height));
  TPpmImage ppm;
  ppm.SetBitmap(&target);
  ppm.SaveToFile(args[1]);
  return 0;
}
