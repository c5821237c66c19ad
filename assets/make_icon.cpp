// Draws the application icon: a white two-casement window set in a house wall under a
// tiled roof, on a rounded sky tile. One list of shapes gives both the scalable SVG and
// the PNGs of the usual icon-theme sizes, so every size shows the same drawing; the PNGs
// are written with the project's own PNG encoder.
//
//   vitrelle-make-icon OUTPUT_FOLDER    writes vitrelle.svg and vitrelle-SIZE.png
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "codecs.h"
#include "pngimage.h"

namespace {

// The drawing's own coordinate space; each PNG scales it to its size.
constexpr double kUnits = 256;
constexpr int kSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

struct TRgb {
  double r, g, b;
};

struct TPoint2 {
  double x, y;
};

// A rounded rectangle (a vertical gradient from top to bottom colour) or, when points are
// given, a polygon of one colour. Every shape after the first is clipped to the first,
// the tile.
struct TShape {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0, radius = 0;
  TRgb top{}, bottom{};
  double opacity = 1;
  std::vector<TPoint2> points;
};

TShape Box(double x0, double y0, double x1, double y1, TRgb top, TRgb bottom, double radius = 0) {
  TShape s;
  s.x0 = x0, s.y0 = y0, s.x1 = x1, s.y1 = y1, s.radius = radius;
  s.top = top, s.bottom = bottom;
  return s;
}

TShape Polygon(std::vector<TPoint2> points, TRgb colour, double opacity = 1) {
  TShape s;
  s.points = std::move(points);
  s.top = s.bottom = colour;
  s.opacity = opacity;
  return s;
}

std::vector<TShape> Drawing() {
  const TRgb white{248, 248, 246}, glass{118, 178, 218}, shine{214, 236, 250};
  std::vector<TShape> d;
  d.push_back(Box(16, 16, 240, 240, {84, 146, 222}, {176, 212, 242}, 44));  // sky tile
  d.push_back(Box(0, 212, 256, 256, {96, 158, 74}, {70, 124, 56}));         // lawn
  d.push_back(Box(52, 112, 204, 222, {236, 222, 194}, {222, 204, 172}));    // wall
  d.push_back(Polygon({{30, 126}, {128, 42}, {226, 126}}, {184, 78, 54}));  // roof
  d.push_back(Polygon({{52, 126}, {204, 126}, {204, 134}, {52, 134}}, {150, 120, 96}, 0.6));
  d.push_back(Box(80, 138, 176, 214, white, white, 3));                   // window frame
  d.push_back(Box(74, 210, 182, 222, {226, 226, 222}, {200, 200, 196}));  // sill
  for (double x0 : {91.0, 133.0}) {
    d.push_back(Box(x0, 148, x0 + 32, 204, glass, {88, 150, 200}));  // pane
    d.push_back(
        Polygon({{x0 + 6, 148}, {x0 + 18, 148}, {x0 + 8, 204}, {x0 - 4, 204}}, shine, 0.75));
  }
  return d;
}

bool InsideBox(const TShape& s, double x, double y) {
  if (x < s.x0 || x >= s.x1 || y < s.y0 || y >= s.y1) return false;
  const double r = s.radius;
  const double cx = std::clamp(x, s.x0 + r, s.x1 - r);
  const double cy = std::clamp(y, s.y0 + r, s.y1 - r);
  return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r;
}

bool InsidePolygon(const std::vector<TPoint2>& p, double x, double y) {
  bool inside = false;
  for (size_t i = 0, j = p.size() - 1; i < p.size(); j = i++)
    if ((p[i].y > y) != (p[j].y > y) &&
        x < (p[j].x - p[i].x) * (y - p[i].y) / (p[j].y - p[i].y) + p[i].x)
      inside = !inside;
  return inside;
}

bool Inside(const TShape& s, double x, double y) {
  return s.points.empty() ? InsideBox(s, x, y) : InsidePolygon(s.points, x, y);
}

TRgb ColourAt(const TShape& s, double y) {
  const double t = s.y1 > s.y0 ? std::clamp((y - s.y0) / (s.y1 - s.y0), 0.0, 1.0) : 0;
  return {s.top.r + (s.bottom.r - s.top.r) * t, s.top.g + (s.bottom.g - s.top.g) * t,
          s.top.b + (s.bottom.b - s.top.b) * t};
}

struct TRgba {
  double r = 0, g = 0, b = 0, a = 0;  // premultiplied while composing
};

// One sample point: the shapes composed over transparency in drawing order.
TRgba Sample(const std::vector<TShape>& d, double x, double y) {
  TRgba out;
  if (!Inside(d[0], x, y)) return out;
  for (const TShape& s : d) {
    if (!Inside(s, x, y)) continue;
    const TRgb c = ColourAt(s, y);
    const double a = s.opacity;
    out.r = c.r * a + out.r * (1 - a);
    out.g = c.g * a + out.g * (1 - a);
    out.b = c.b * a + out.b * (1 - a);
    out.a = a + out.a * (1 - a);
  }
  return out;
}

uint8_t Byte(double v) {
  return uint8_t(std::clamp(std::lround(v), 0L, 255L));
}

// Each pixel averages 8 x 8 samples: smooth edges at every size.
void WritePng(const std::vector<TShape>& d, int size, const std::string& path) {
  constexpr int kGrid = 8;
  std::unique_ptr<TPngImage> png = TPngImage::CreateBlank(COLOR_RGBALPHA, 8, size, size);
  const double unit = kUnits / size;
  for (int y = 0; y < size; ++y) {
    uint8_t* alpha = png->AlphaScanline(y);
    for (int x = 0; x < size; ++x) {
      TRgba sum;
      for (int sy = 0; sy < kGrid; ++sy)
        for (int sx = 0; sx < kGrid; ++sx) {
          const TRgba s =
              Sample(d, (x + (sx + 0.5) / kGrid) * unit, (y + (sy + 0.5) / kGrid) * unit);
          sum.r += s.r, sum.g += s.g, sum.b += s.b, sum.a += s.a;
        }
      const double a = sum.a / (kGrid * kGrid);
      const double k = sum.a > 0 ? 1 / sum.a : 0;  // back to straight colours
      png->SetPixels(x, y, RGBColor(Byte(sum.r * k), Byte(sum.g * k), Byte(sum.b * k)));
      alpha[x] = Byte(a * 255);
    }
  }
  png->SaveToFile(path);
}

std::string Hex(TRgb c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", Byte(c.r), Byte(c.g), Byte(c.b));
  return text;
}

std::string SvgShape(const TShape& s, int index) {
  std::ostringstream out;
  std::string fill = Hex(s.top);
  if (s.points.empty() && Hex(s.top) != Hex(s.bottom)) {
    out << "  <linearGradient id=\"g" << index << "\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
        << "<stop offset=\"0\" stop-color=\"" << Hex(s.top) << "\"/><stop offset=\"1\" "
        << "stop-color=\"" << Hex(s.bottom) << "\"/></linearGradient>\n";
    fill = "url(#g" + std::to_string(index) + ")";
  }
  if (s.points.empty()) {
    out << "  <rect x=\"" << s.x0 << "\" y=\"" << s.y0 << "\" width=\"" << s.x1 - s.x0
        << "\" height=\"" << s.y1 - s.y0 << "\"";
    if (s.radius > 0) out << " rx=\"" << s.radius << "\"";
  } else {
    out << "  <polygon points=\"";
    for (size_t i = 0; i < s.points.size(); ++i)
      out << (i ? " " : "") << s.points[i].x << "," << s.points[i].y;
    out << "\"";
  }
  out << " fill=\"" << fill << "\"";
  if (s.opacity < 1) out << " fill-opacity=\"" << s.opacity << "\"";
  out << "/>\n";
  return out.str();
}

void WriteSvg(const std::vector<TShape>& d, const std::string& path) {
  std::ofstream out(path, std::ios::binary);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kUnits << "\" height=\"" << kUnits
      << "\" viewBox=\"0 0 " << kUnits << " " << kUnits << "\">\n"
      << "  <title>Vitrelle</title>\n"
      << "  <clipPath id=\"tile\">\n  "
      << SvgShape(Box(d[0].x0, d[0].y0, d[0].x1, d[0].y1, d[0].top, d[0].top, d[0].radius), -1)
      << "  </clipPath>\n"
      << SvgShape(d[0], 0) << "  <g clip-path=\"url(#tile)\">\n";
  for (size_t i = 1; i < d.size(); ++i) out << "  " << SvgShape(d[i], int(i));
  out << "  </g>\n</svg>\n";
  if (!out) throw EInvalidGraphic("cannot write " + path);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "Utilisation : vitrelle-make-icon DOSSIER\n";
    return 2;
  }
  TCodecRegistration codecs;
  try {
    const std::vector<TShape> drawing = Drawing();
    const std::string folder = argv[1];
    WriteSvg(drawing, folder + "/vitrelle.svg");
    for (int size : kSizes)
      WritePng(drawing, size, folder + "/vitrelle-" + std::to_string(size) + ".png");
  } catch (const std::exception& e) {
    std::cerr << e.what() << "\n";
    return 1;
  }
  return 0;
}
