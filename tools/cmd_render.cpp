// vitrelle-img render ENTREE SORTIE.ppm [--fond RRGGBB] [--taille LxH] [--redresser]
// [--trame N]: the picture drawn with its own Draw over a plain background, written as P6.
// A JPEG shows its stored rows, as its class decodes them; --redresser turns it upright by
// its Exif orientation first, as the window shows it. With --trame, a GIF animation is
// played N steps from its first frame.
#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#endif

#include <algorithm>
#include <charconv>
#include <cstring>
#include <functional>

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

// Red, green, blue from blue, green, red, n pixels. With SSSE3, five pixels per shuffle
// of 16 bytes; the 16th byte is stored too and rewritten by the next step or the tail.
void SwapRedBluePlain(const uint8_t* s, uint8_t* d, size_t n, size_t from) {
  for (size_t i = 3 * from; i < 3 * n; i += 3) {
    d[i] = s[i + 2];
    d[i + 1] = s[i + 1];
    d[i + 2] = s[i];
  }
}
#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("ssse3"))) void SwapRedBlueSsse3(const uint8_t* s, uint8_t* d, size_t n) {
  const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15);
  size_t i = 0;
  for (; 3 * i + 16 <= 3 * n; i += 5) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 3 * i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 3 * i), _mm_shuffle_epi8(v, order));
  }
  SwapRedBluePlain(s, d, n, i);
}
#endif
void SwapRedBlue(const uint8_t* s, uint8_t* d, size_t n) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) return SwapRedBlueSsse3(s, d, n);
#endif
  SwapRedBluePlain(s, d, n, 0);
}

// Red, green, blue of n indices; four-byte stores, the spare byte overwritten by the next.
void LookUpRow(const uint8_t* s, const uint8_t (*rgb)[4], uint8_t* d, size_t n) {
  if (n == 0) return;
  for (size_t x = 0; x + 1 < n; ++x, d += 3) std::memcpy(d, rgb[s[x]], 4);
  std::memcpy(d, rgb[s[n - 1]], 3);
}

// The colour table of an 8-bit view as red, green, blue; black past its end, as a
// transfer reads it.
void FillLookUp(const TPixelView& view, uint8_t (*rgb)[4]) {
  std::memset(rgb, 0, 256 * 4);
  const int colors = view.Colors ? std::min(view.ColorCount, 256) : 0;
  for (int i = 0; i < colors; ++i) {
    rgb[i][0] = view.Colors[i].rgbRed;
    rgb[i][1] = view.Colors[i].rgbGreen;
    rgb[i][2] = view.Colors[i].rgbBlue;
  }
}

// A picture as a binary PPM: rows of any format, each converted to blue, green, red as an
// unscaled draw on a 24-bit bitmap would convert it, then written red first. The rows come
// band by band from a source, which either hands out parts of one pixel view or draws each
// band just before it is written. Being a TGraphic it is saved like every export, through
// a temporary file renamed over the target once complete.
class TPpmImage : public TGraphic {
 public:
  // Rows top to top + count - 1 of the picture; count is at most BandRows().
  using TBandSource = std::function<TPixelView(int top, int count)>;

  static const char* StaticClassName() { return "TPpmImage"; }
  const TGraphicClass& ClassType() const override { return ClassOf<TPpmImage>(); }

  // Rows go out in bands of about 256 KiB: far fewer system calls than one per row, and a
  // band drawn just before it is written is still in the processor's cache.
  static int BandRows(int width) {
    return int(std::max<size_t>(1, (size_t(256) << 10) / (size_t(width) * 3)));
  }
  void SetPixels(const TPixelView& view) {
    SetBands(view.Width, view.Height, [view](int top, int count) {
      TPixelView band = view;
      band.Bits = view.Row(top);
      band.Height = count;
      return band;
    });
  }
  void SetBands(int width, int height, TBandSource source) {
    FWidth = width;
    FHeight = height;
    FSource = std::move(source);
  }

  void Draw(TCanvas&, const TRect&) override {}
  void LoadFromStream(TStream&) override {
    throw EInvalidGraphicOperation("Lecture PPM non prise en charge");
  }
  void SaveToStream(TStream& out) override {
    const std::string header =
        "P6\n" + std::to_string(FWidth) + " " + std::to_string(FHeight) + "\n255\n";
    out.WriteBuffer(header.data(), int64_t(header.size()));
    const size_t rowBytes = size_t(FWidth) * 3;
    const int bandRows = BandRows(FWidth);
    std::vector<uint8_t> block(rowBytes * size_t(std::min(bandRows, FHeight)));
    TBitmap scratch;  // one converted row, for views that are neither 8- nor 24-bit
    uint8_t rgb[256][4];
    for (int y = 0; y < FHeight; y += bandRows) {
      const int rows = std::min(bandRows, FHeight - y);
      const TPixelView band = FSource(y, rows);
      // An 8-bit view goes through its colour table straight into the block.
      const bool indexed = band.BitCount == 8;
      if (indexed) FillLookUp(band, rgb);
      for (int j = 0; j < rows; ++j) {
        uint8_t* row = block.data() + size_t(j) * rowBytes;
        if (indexed) {
          LookUpRow(band.Row(j), rgb, row, size_t(FWidth));
          continue;
        }
        const uint8_t* bgr = band.Row(j);
        if (band.BitCount != 24) {
          if (scratch.Empty()) {
            scratch.SetPixelFormat(pf24bit);
            scratch.SetSize(FWidth, 1);
          }
          BitBlt(scratch.View(), 0, 0, band, TRect{0, j, FWidth, j + 1});
          bgr = scratch.GetScanline(0);
        }
        SwapRedBlue(bgr, row, size_t(FWidth));
      }
      out.WriteBuffer(block.data(), int64_t(rowBytes * size_t(rows)));
    }
  }
  int Width() const override { return FWidth; }
  int Height() const override { return FHeight; }
  bool Empty() const override { return FWidth <= 0 || FHeight <= 0 || !FSource; }

 private:
  int FWidth = 0;
  int FHeight = 0;
  TBandSource FSource;
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
  const TRect all = Rect(0, 0, o.Width, o.Height);
  CheckedDibSize(o.Width, o.Height, 24);  // the target's size is refused even when unused
  TPixelView own;
  const bool opaque = o.Steps < 0 && graphic.OpaquePixels(own);
  TPpmImage ppm;
  TBitmap target;
  if (opaque && own.Width == o.Width && own.Height == o.Height) {
    // Drawn at its own size, an opaque picture is its own pixels: they are written as
    // they are, without a drawn copy.
    ppm.SetPixels(own);
  } else if (o.Steps < 0 && graphic.DrawsInBands()) {
    // Each band is drawn over the background just before it is written, on one short
    // bitmap: no full-size copy is made, filled and read back.
    target.SetPixelFormat(pf24bit);
    target.SetSize(o.Width, std::min(TPpmImage::BandRows(o.Width), o.Height));
    ppm.SetBands(o.Width, o.Height, [&](int top, int count) {
      TCanvas& canvas = target.Canvas();
      canvas.Brush.Color = o.Background;
      canvas.Brush.Style = bsSolid;
      canvas.FillRect(Rect(0, 0, o.Width, count));
      graphic.Draw(canvas, Rect(0, -top, o.Width, o.Height - top));
      return target.View();
    });
  } else {
    target.SetPixelFormat(pf24bit);
    target.SetSize(o.Width, o.Height);
    TCanvas& canvas = target.Canvas();
    if (!opaque) {  // what an opaque picture covers needs no background
      canvas.Brush.Color = o.Background;
      canvas.Brush.Style = bsSolid;
      canvas.FillRect(all);
    }
    if (o.Steps >= 0)
      DrawAnimationStep(graphic, canvas, all, o.Steps);
    else
      graphic.Draw(canvas, all);
    ppm.SetPixels(target.View());
  }
  ppm.SaveToFile(args[1]);
  return 0;
}
