// Products in perspective. The picture is drawn once over black and once over white to
// learn its colours and coverage as its own drawing composes them; those pixels, stored
// premultiplied, and smaller copies of them (each level half the size of the one before)
// are the source. Each target pixel inside the quadrilateral is mapped back through the
// inverse projective transform to a point of the picture, sampled bilinearly in the two
// levels whose scale brackets the pixel's footprint, and composed over the target with
// the exact area of the pixel that the quadrilateral covers.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>
#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "warp.h"

namespace {

// ---- geometry ------------------------------------------------------------------------

double Cross(const TPointD& o, const TPointD& a, const TPointD& b) {
  return (a.X - o.X) * (b.Y - o.Y) - (a.Y - o.Y) * (b.X - o.X);
}

// A 3 x 3 matrix over homogeneous coordinates (x, y, 1).
struct TMatrix3 {
  double M[3][3] = {};
};

// The projective map of the unit square, corners (0,0) (1,0) (1,1) (0,1), onto the quad:
// x = (a u + b v + c) / (g u + h v + 1), y = (d u + e v + f) / (g u + h v + 1).
TMatrix3 SquareToQuad(const TQuad& q) {
  const double x0 = q[0].X, y0 = q[0].Y, x1 = q[1].X, y1 = q[1].Y;
  const double x2 = q[2].X, y2 = q[2].Y, x3 = q[3].X, y3 = q[3].Y;
  const double sx = x0 - x1 + x2 - x3, sy = y0 - y1 + y2 - y3;
  double g = 0, h = 0;
  if (sx != 0 || sy != 0) {  // not a parallelogram: the map is truly projective
    const double dx1 = x1 - x2, dx2 = x3 - x2, dy1 = y1 - y2, dy2 = y3 - y2;
    const double den = dx1 * dy2 - dx2 * dy1;  // non-zero for a convex quad
    g = (sx * dy2 - dx2 * sy) / den;
    h = (dx1 * sy - sx * dy1) / den;
  }
  TMatrix3 m;
  m.M[0][0] = x1 - x0 + g * x1, m.M[0][1] = x3 - x0 + h * x3, m.M[0][2] = x0;
  m.M[1][0] = y1 - y0 + g * y1, m.M[1][1] = y3 - y0 + h * y3, m.M[1][2] = y0;
  m.M[2][0] = g, m.M[2][1] = h, m.M[2][2] = 1;
  return m;
}

// The inverse up to a factor (the adjugate), signed so that w > 0 inside the quad.
TMatrix3 Inverse(const TMatrix3& a, const TQuad& quad) {
  const auto& m = a.M;
  TMatrix3 r;
  r.M[0][0] = m[1][1] * m[2][2] - m[1][2] * m[2][1];
  r.M[0][1] = m[0][2] * m[2][1] - m[0][1] * m[2][2];
  r.M[0][2] = m[0][1] * m[1][2] - m[0][2] * m[1][1];
  r.M[1][0] = m[1][2] * m[2][0] - m[1][0] * m[2][2];
  r.M[1][1] = m[0][0] * m[2][2] - m[0][2] * m[2][0];
  r.M[1][2] = m[0][2] * m[1][0] - m[0][0] * m[1][2];
  r.M[2][0] = m[1][0] * m[2][1] - m[1][1] * m[2][0];
  r.M[2][1] = m[0][1] * m[2][0] - m[0][0] * m[2][1];
  r.M[2][2] = m[0][0] * m[1][1] - m[0][1] * m[1][0];
  double cx = 0, cy = 0;
  for (const TPointD& p : quad) cx += p.X / 4, cy += p.Y / 4;
  if (r.M[2][0] * cx + r.M[2][1] * cy + r.M[2][2] < 0)
    for (auto& row : r.M)
      for (double& v : row) v = -v;
  return r;
}

// A convex polygon of at most 8 corners: the quad cut to a rectangle.
struct TPolygon {
  TPointD P[8];
  int Count = 0;
};

// Sutherland-Hodgman against one axis-parallel line: keeps the side where
// sign * (coordinate - at) >= 0.
TPolygon ClipAgainst(const TPolygon& in, bool vertical, double at, double sign) {
  TPolygon out;
  auto inside = [&](const TPointD& p) { return sign * ((vertical ? p.X : p.Y) - at) >= 0; };
  for (int i = 0; i < in.Count && out.Count < 8; ++i) {
    const TPointD& a = in.P[i];
    const TPointD& b = in.P[(i + 1) % in.Count];
    if (inside(a)) out.P[out.Count++] = a;
    if (inside(a) != inside(b) && out.Count < 8) {
      const double t = vertical ? (at - a.X) / (b.X - a.X) : (at - a.Y) / (b.Y - a.Y);
      TPointD c{a.X + t * (b.X - a.X), a.Y + t * (b.Y - a.Y)};
      (vertical ? c.X : c.Y) = at;
      out.P[out.Count++] = c;
    }
  }
  return out;
}

// The quad in coordinates relative to area's top-left corner, cut to area.
TPolygon ClipQuad(const TQuad& quad, const TRect& area) {
  TPolygon p;
  for (const TPointD& c : quad) p.P[p.Count++] = TPointD{c.X - area.Left, c.Y - area.Top};
  p = ClipAgainst(p, true, 0, 1);
  p = ClipAgainst(p, true, area.Width(), -1);
  p = ClipAgainst(p, false, 0, 1);
  return ClipAgainst(p, false, area.Height(), -1);
}

// ---- coverage ------------------------------------------------------------------------

// Coverage is accumulated as in font rasterisers: acc[i] holds the change of the signed
// covered area between pixel i - 1 and pixel i, so that a running sum along the row gives
// each pixel's exact covered area. Adds the part of an edge lying in one row of pixels
// (x in [0, width], y within one pixel row); dy is signed by the edge's direction.
void AccumulateEdgePiece(float* acc, int width, double xa, double ya, double xb, double yb,
                         int& touchedMin, int& touchedMax) {
  const double dy = yb - ya;
  if (dy == 0) return;
  xa = std::clamp(xa, 0.0, double(width));
  xb = std::clamp(xb, 0.0, double(width));
  const double left = std::min(xa, xb), right = std::max(xa, xb);
  int cell = std::min(int(left), width);
  touchedMin = std::min(touchedMin, cell);
  touchedMax = std::max(touchedMax, std::min(int(right), width) + 1);
  if (right - left < 1e-12) {
    const double f = left - cell;
    acc[cell] += float(dy * (1 - f));
    acc[cell + 1] += float(dy * f);
    return;
  }
  // Cut at each pixel boundary; within a pixel the area right of the edge piece is its
  // height times the distance from its mid-point to the pixel's right side.
  const double perX = dy / (right - left);
  double x = left;
  while (x < right) {
    const double next = std::min(right, double(cell + 1));
    const double piece = perX * (next - x);
    const double f = 0.5 * (x + next) - cell;
    acc[cell] += float(piece * (1 - f));
    acc[cell + 1] += float(piece * f);
    x = next;
    ++cell;
  }
}

// Adds every edge's part in pixel row y (relative to the polygon's frame).
void AccumulateRow(const TPolygon& poly, int y, float* acc, int width, int& touchedMin,
                   int& touchedMax) {
  const double top = y, bottom = y + 1.0;
  for (int i = 0; i < poly.Count; ++i) {
    const TPointD& a = poly.P[i];
    const TPointD& b = poly.P[(i + 1) % poly.Count];
    if (a.Y == b.Y) continue;
    const double y0 = std::max(std::min(a.Y, b.Y), top);
    const double y1 = std::min(std::max(a.Y, b.Y), bottom);
    if (y1 <= y0) continue;
    const double slope = (b.X - a.X) / (b.Y - a.Y);
    const double x0 = a.X + (y0 - a.Y) * slope;
    const double x1 = a.X + (y1 - a.Y) * slope;
    if (b.Y > a.Y)
      AccumulateEdgePiece(acc, width, x0, y0, x1, y1, touchedMin, touchedMax);
    else
      AccumulateEdgePiece(acc, width, x1, y1, x0, y0, touchedMin, touchedMax);
  }
}

// Turns the accumulated changes of [from, to) into coverages 0..256 and clears them.
void TakeCoverage(float* acc, int from, int to, uint16_t* coverage) {
  float sum = 0;
  for (int i = from; i < to; ++i) {
    sum += acc[i];
    acc[i] = 0;
    const float c = std::min(1.0f, std::fabs(sum));
    coverage[i - from] = uint16_t(c * 256 + 0.5f);
  }
}

}  // namespace

// ---- the source and its levels -------------------------------------------------------

struct TWarpSource::TLevels {
  // Premultiplied B, G, R, A pixels as 0xAARRGGBB words. Each row carries a copy of its
  // last pixel and a copy of the last row follows, so that the bilinear sampler reads
  // two by two pixels anywhere in the level without a bounds test.
  struct TLevel {
    int Width = 0;
    int Height = 0;
    size_t Stride = 0;  // in pixels: Width + 1
    TPixelBuffer Pixels;
    const uint32_t* Row(int y) const {
      return reinterpret_cast<const uint32_t*>(Pixels.data()) + size_t(y) * Stride;
    }
    uint32_t* Row(int y) { return reinterpret_cast<uint32_t*>(Pixels.data()) + size_t(y) * Stride; }
  };
  std::vector<TLevel> Levels;
  bool Opaque = true;
};

namespace {

using TLevel = TWarpSource::TLevels::TLevel;

TLevel NewLevel(int width, int height) {
  TLevel level;
  level.Width = width;
  level.Height = height;
  level.Stride = size_t(width) + 1;
  const uint64_t bytes = (uint64_t(width) + 1) * (uint64_t(height) + 1) * 4;
  CheckImageBudget(bytes);
  level.Pixels = TPixelBuffer(size_t(bytes));
  return level;
}

// The copies of the last column and the last row, once the level is drawn.
void PadLevel(TLevel& level) {
  for (int y = 0; y < level.Height; ++y) level.Row(y)[level.Width] = level.Row(y)[level.Width - 1];
  std::copy_n(level.Row(level.Height - 1), level.Stride, level.Row(level.Height));
}

// The picture at its own size, drawn by its own class over a plain colour.
void DrawOver(TGraphic& picture, TBitmap& canvas, TColor background) {
  canvas.SetPixelFormat(pf24bit);
  canvas.SetSize(picture.Width(), picture.Height());
  canvas.Canvas().Brush.Color = background;
  canvas.Canvas().Brush.Style = bsSolid;
  canvas.Canvas().FillRect(TRect{0, 0, picture.Width(), picture.Height()});
  canvas.Canvas().StretchDraw(TRect{0, 0, picture.Width(), picture.Height()}, picture);
}

// Over black a pixel shows colour x alpha; over white it shows that plus 255 - alpha.
void PremultiplyRow(const uint8_t* overBlack, const uint8_t* overWhite, int width, uint32_t* out,
                    bool& opaque) {
  for (int x = 0; x < width; ++x) {
    const uint8_t* b = overBlack + 3 * x;
    const uint8_t* w = overWhite + 3 * x;
    int seen = 0;
    for (int c = 0; c < 3; ++c) seen = std::max(seen, 255 - std::max(0, w[c] - b[c]));
    const uint32_t a = uint32_t(seen);
    const uint32_t blue = std::min<uint32_t>(b[0], a), green = std::min<uint32_t>(b[1], a);
    const uint32_t red = std::min<uint32_t>(b[2], a);
    out[x] = blue | (green << 8) | (red << 16) | (a << 24);
    if (a != 255) opaque = false;
  }
}

// The source pixels that make one pixel of a smaller level, and their weights.
struct TTap {
  int First = 0;
  std::vector<float> Weights;
};

// n pixels shrink to m (n >= 2 m): target pixel i is centred on (i + 0.5) n / m of the
// source and weighs the source pixels by a tent as wide as two target pixels. A plain
// 2 x 2 mean would keep a pattern at the new pixel size at full contrast, which sampling
// the level then turns into moire; the tent halves it.
std::vector<TTap> TentTaps(int n, int m) {
  std::vector<TTap> taps(static_cast<size_t>(m));
  const double step = double(n) / m;
  for (int i = 0; i < m; ++i) {
    const double centre = (i + 0.5) * step;
    TTap& t = taps[size_t(i)];
    t.First = std::max(0, int(std::ceil(centre - step - 0.5)));
    const int last = std::min(n - 1, int(std::floor(centre + step - 0.5)));
    double total = 0;
    for (int s = t.First; s <= last; ++s) {
      const double w = std::max(0.0, 1 - std::fabs(s + 0.5 - centre) / step);
      t.Weights.push_back(float(w));
      total += w;
    }
    for (float& w : t.Weights) w = float(w / total);
  }
  return taps;
}

// The next smaller level, filtered through the tent both ways: each of its rows from the
// rows it covers (one row of floats at a time, whatever the picture's size), then
// across.
TLevel HalveLevel(const TLevel& from) {
  const int width = std::max(1, from.Width / 2), height = std::max(1, from.Height / 2);
  TLevel to = NewLevel(width, height);
  const std::vector<TTap> across = TentTaps(from.Width, width);
  const std::vector<TTap> down = TentTaps(from.Height, height);
  std::vector<float> column(size_t(from.Width) * 4);
  for (int y = 0; y < height; ++y) {
    const TTap& t = down[size_t(y)];
    std::fill(column.begin(), column.end(), 0.0f);
    for (size_t k = 0; k < t.Weights.size(); ++k) {
      const uint32_t* src = from.Row(t.First + int(k));
      const float w = t.Weights[k];
      for (int x = 0; x < from.Width; ++x)
        for (int c = 0; c < 4; ++c)
          column[4 * size_t(x) + size_t(c)] += w * float((src[x] >> (8 * c)) & 0xFF);
    }
    uint32_t* dst = to.Row(y);
    for (int x = 0; x < width; ++x) {
      const TTap& h = across[size_t(x)];
      float sum[4] = {};
      for (size_t k = 0; k < h.Weights.size(); ++k) {
        const float* p = column.data() + (size_t(h.First) + k) * 4;
        for (int c = 0; c < 4; ++c) sum[c] += h.Weights[k] * p[c];
      }
      uint32_t v = 0;
      for (int c = 0; c < 4; ++c) v |= uint32_t(std::min(255.0f, sum[c] + 0.5f)) << (8 * c);
      dst[x] = v;
    }
  }
  PadLevel(to);
  return to;
}

}  // namespace

TWarpSource::TWarpSource(TGraphic& picture) : FLevels(std::make_unique<TLevels>()) {
  const int width = picture.Width(), height = picture.Height();
  if (picture.Empty() || width <= 0 || height <= 0) return;
  TLevel base = NewLevel(width, height);
  {
    TBitmap overBlack, overWhite;
    DrawOver(picture, overBlack, clBlack);
    DrawOver(picture, overWhite, clWhite);
    for (int y = 0; y < height; ++y)
      PremultiplyRow(overBlack.GetScanline(y), overWhite.GetScanline(y), width, base.Row(y),
                     FLevels->Opaque);
  }
  PadLevel(base);
  FLevels->Levels.push_back(std::move(base));
  while (FLevels->Levels.back().Width > 1 || FLevels->Levels.back().Height > 1)
    FLevels->Levels.push_back(HalveLevel(FLevels->Levels.back()));
}

TWarpSource::~TWarpSource() = default;

int TWarpSource::Width() const {
  return FLevels->Levels.empty() ? 0 : FLevels->Levels[0].Width;
}

int TWarpSource::Height() const {
  return FLevels->Levels.empty() ? 0 : FLevels->Levels[0].Height;
}

// ---- sampling and composition --------------------------------------------------------

namespace {

// Where a bilinear sample reads: the level's pixel at the top left of (x, y), clamped to
// the level, and the weights of the pixels right of and below it in 256ths.
struct TSample {
  const uint32_t* P;
  uint32_t Fx, Fy;
};

inline TSample SampleAt(const TLevel& level, float x, float y) {
  x = std::clamp(x, 0.0f, float(level.Width - 1));
  y = std::clamp(y, 0.0f, float(level.Height - 1));
  const int x0 = int(x), y0 = int(y);
  return {level.Row(y0) + x0, uint32_t((x - float(x0)) * 256 + 0.5f),
          uint32_t((y - float(y0)) * 256 + 0.5f)};
}

#ifdef __SSE2__
// Four 16-bit channels in the low half of a register: the picture's value times 256.
using TChannels = __m128i;

// a + (b - a) f / 256 on 16-bit lanes, as a x 256 + (b - a) f: the products may wrap
// round, the result (at most 255 x 256) cannot, so the sum comes out exact.
inline __m128i Mix(__m128i a, __m128i b, uint32_t f) {
  return _mm_add_epi16(_mm_slli_epi16(a, 8),
                       _mm_mullo_epi16(_mm_sub_epi16(b, a), _mm_set1_epi16(short(f))));
}

// The level's two by two pixels around (x, y), in its own pixel units, weighted
// bilinearly in 256ths of a pixel: the two rows first, on the four channels of both
// columns at once, then the two columns.
inline TChannels Bilinear(const TLevel& level, float x, float y) {
  const auto [p, fx, fy] = SampleAt(level, x, y);
  const __m128i zero = _mm_setzero_si128();
  const __m128i top = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), zero);
  const __m128i bottom =
      _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + level.Stride)), zero);
  const __m128i columns =
      _mm_srli_epi16(_mm_add_epi16(Mix(top, bottom, fy), _mm_set1_epi16(128)), 8);
  return Mix(columns, _mm_srli_si128(columns, 8), fx);
}

inline TChannels Blend(TChannels fine, TChannels coarse, uint32_t f) {
  const __m128i half = _mm_set1_epi16(128);
  return Mix(_mm_srli_epi16(_mm_add_epi16(fine, half), 8),
             _mm_srli_epi16(_mm_add_epi16(coarse, half), 8), f);
}

inline uint32_t Pack(TChannels c) {
  c = _mm_srli_epi16(_mm_add_epi16(c, _mm_set1_epi16(128)), 8);
  return uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(c, c)));
}
#else
// Without SSE2: B, G, R, A of the value times 256 in plain integers.
struct TChannels {
  uint32_t C[4];
};

inline TChannels Bilinear(const TLevel& level, float x, float y) {
  const auto [p, fx, fy] = SampleAt(level, x, y);
  const uint32_t* q = p + level.Stride;
  TChannels r;
  for (int c = 0; c < 4; ++c) {
    auto at = [c](const uint32_t* s, int i) { return (s[i] >> (8 * c)) & 0xFF; };
    const uint32_t left = (at(p, 0) * (256 - fy) + at(q, 0) * fy + 128) >> 8;
    const uint32_t right = (at(p, 1) * (256 - fy) + at(q, 1) * fy + 128) >> 8;
    r.C[c] = left * (256 - fx) + right * fx;
  }
  return r;
}

inline TChannels Blend(TChannels fine, TChannels coarse, uint32_t f) {
  for (int c = 0; c < 4; ++c)
    fine.C[c] = ((fine.C[c] + 128) >> 8) * (256 - f) + ((coarse.C[c] + 128) >> 8) * f;
  return fine;
}

inline uint32_t Pack(TChannels c) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= ((c.C[i] + 128) >> 8) << (8 * i);
  return v;
}
#endif

// log2 of a positive float, within 0.01: the exponent plus a quadratic in the mantissa m
// (1 <= m < 2) that stands for 1 + log2(m).
inline float FastLog2(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  const float exponent = float(int(bits >> 23) - 128);
  bits = (bits & 0x007FFFFF) | 0x3F800000;
  float m;
  std::memcpy(&m, &bits, 4);
  return exponent + (-0.34484843f * m + 2.02466578f) * m - 0.67487759f;
}

// The inverse map as the pixel loop steps along a row: homogeneous coordinates of the
// first pixel's centre in the unit square, their change per pixel to the right and
// downwards, and the size of level 0 (the unit of the footprint).
struct TRowMapping {
  double U, V, W;
  double DU, DV, DW;
  float UY, VY, WY;
  float Width, Height;
};

// The level for the pixel at (U, V, W): log2 of its footprint, the longer of its two
// sides in level-0 pixels; 0 where the picture is enlarged.
inline float LevelAt(const TRowMapping& m, double U, double V, double W) {
  const float rw = 1.0f / float(W);
  const float u = float(U) * rw, v = float(V) * rw;
  const float dudx = (float(m.DU) - u * float(m.DW)) * rw * m.Width;
  const float dvdx = (float(m.DV) - v * float(m.DW)) * rw * m.Height;
  const float dudy = (m.UY - u * m.WY) * rw * m.Width;
  const float dvdy = (m.VY - v * m.WY) * rw * m.Height;
  const float footprint = std::max(dudx * dudx + dvdx * dvdx, dudy * dudy + dvdy * dvdy);
  if (!(footprint > 1.0f)) return 0;  // NaN too
  return std::max(0.0f, 0.5f * FastLog2(std::min(footprint, 1e30f)));
}

// The picture at (u, v) of the unit square: bilinear in the two levels that bracket
// lambda, blended between them.
inline TChannels Sample(const std::vector<TLevel>& levels, float u, float v, float lambda) {
  const int top = int(levels.size()) - 1;
  const int level = std::min(top, int(lambda));
  const TLevel& fine = levels[size_t(level)];
  const TChannels a = Bilinear(fine, u * float(fine.Width) - 0.5f, v * float(fine.Height) - 0.5f);
  const uint32_t f = uint32_t(std::min(1.0f, lambda - float(level)) * 256 + 0.5f);
  if (level == top || f == 0) return a;
  const TLevel& coarse = levels[size_t(level) + 1];
  return Blend(a, Bilinear(coarse, u * float(coarse.Width) - 0.5f, v * float(coarse.Height) - 0.5f),
               f);
}

// The sample, on coverage/256 of the pixel, over the pixel's B, G, R (and A): premultiplied
// OVER, dst = src + dst (255 - alpha) / 255.
#ifdef __SSE2__
inline void Compose(uint8_t* d, int bytesPerPixel, TChannels s, uint32_t coverage) {
  const __m128i zero = _mm_setzero_si128(), half = _mm_set1_epi16(128);
  __m128i p = _mm_srli_epi16(_mm_add_epi16(s, half), 8);
  if (coverage < 256)
    p = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(p, _mm_set1_epi16(short(coverage))), half), 8);
  const __m128i keep = _mm_sub_epi16(_mm_set1_epi16(255), _mm_shufflelo_epi16(p, 0xFF));
  uint32_t dw = uint32_t(d[0]) | uint32_t(d[1]) << 8 | uint32_t(d[2]) << 16;
  if (bytesPerPixel == 4) dw |= uint32_t(d[3]) << 24;
  const __m128i dp = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int(dw)), zero);
  const __m128i t = _mm_add_epi16(_mm_mullo_epi16(dp, keep), half);
  const __m128i r = _mm_adds_epu16(p, _mm_mulhi_epu16(t, _mm_set1_epi16(0x0101)));
  const uint32_t out = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(r, r)));
  d[0] = uint8_t(out), d[1] = uint8_t(out >> 8), d[2] = uint8_t(out >> 16);
  if (bytesPerPixel == 4) d[3] = uint8_t(out >> 24);
}
#else
// x * y / 255, rounded, without a division.
inline uint32_t MulDiv255(uint32_t x, uint32_t y) {
  const uint32_t t = x * y + 128;
  return (t + (t >> 8)) >> 8;
}

inline void Compose(uint8_t* d, int bytesPerPixel, TChannels channels, uint32_t coverage) {
  uint32_t s = Pack(channels);
  if (coverage < 256) {
    const uint32_t rb = (((s & 0x00FF00FF) * coverage + 0x00800080) >> 8) & 0x00FF00FF;
    const uint32_t ag = (((s >> 8) & 0x00FF00FF) * coverage + 0x00800080) & 0xFF00FF00;
    s = rb | ag;
  }
  const uint32_t keep = 255 - (s >> 24);
  for (int c = 0; c < bytesPerPixel; ++c)
    d[c] = uint8_t(std::min<uint32_t>(255, ((s >> (8 * c)) & 0xFF) + MulDiv255(d[c], keep)));
}
#endif

// Pixels of a row between two exact level computations: the footprint changes slowly
// enough to be interpolated in between.
constexpr int kLevelSpan = 8;

// One row of target pixels, with their coverages. The sampling point is exact at every
// pixel (one division each).
void WarpRow(uint8_t* row, int bytesPerPixel, const uint16_t* coverage, int count,
             const TRowMapping& m, const std::vector<TLevel>& levels, bool opaque) {
  for (int start = 0; start < count; start += kLevelSpan) {
    const int n = std::min(kLevelSpan, count - start);
    const float first = LevelAt(m, m.U + start * m.DU, m.V + start * m.DV, m.W + start * m.DW);
    const int end = start + n - 1;
    const float step =
        n > 1 ? (LevelAt(m, m.U + end * m.DU, m.V + end * m.DV, m.W + end * m.DW) - first) /
                    float(n - 1)
              : 0.0f;
    for (int k = 0; k < n; ++k) {
      const int i = start + k;
      const uint32_t c = coverage[i];
      if (c == 0) continue;
      const float rw = 1.0f / float(m.W + i * m.DW);
      const float u = float(m.U + i * m.DU) * rw, v = float(m.V + i * m.DV) * rw;
      const float cu = u > 0 ? (u < 1 ? u : 1.0f) : 0.0f;  // NaN falls to 0
      const float cv = v > 0 ? (v < 1 ? v : 1.0f) : 0.0f;
      const TChannels s = Sample(levels, cu, cv, std::max(0.0f, first + step * float(k)));
      uint8_t* d = row + ptrdiff_t(i) * bytesPerPixel;
      if (c == 256 && opaque) {
        const uint32_t p = Pack(s);
        d[0] = uint8_t(p), d[1] = uint8_t(p >> 8), d[2] = uint8_t(p >> 16);
        if (bytesPerPixel == 4) d[3] = 255;
      } else {
        Compose(d, bytesPerPixel, s, c);
      }
    }
  }
}

}  // namespace

// ---- the public operations -----------------------------------------------------------

bool IsConvexQuad(const TQuad& quad) {
  for (const TPointD& p : quad)
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return false;
  // Convex and simple exactly when the turn at every corner has the same strict sign:
  // four turns of less than half a circle each cannot wind round twice. Either turning
  // direction will do (a mirrored product is drawn mirrored).
  int positive = 0, negative = 0;
  for (int i = 0; i < 4; ++i) {
    const double turn =
        Cross(quad[size_t(i)], quad[size_t((i + 1) % 4)], quad[size_t((i + 2) % 4)]);
    positive += turn > 0;
    negative += turn < 0;
  }
  return positive == 4 || negative == 4;
}

TRect QuadBounds(const TQuad& quad) {
  double left = quad[0].X, right = quad[0].X, top = quad[0].Y, bottom = quad[0].Y;
  for (const TPointD& p : quad) {
    if (!std::isfinite(p.X) || !std::isfinite(p.Y)) return TRect{};
    left = std::min(left, p.X), right = std::max(right, p.X);
    top = std::min(top, p.Y), bottom = std::max(bottom, p.Y);
  }
  // Far beyond any picture: keeps the conversions to int defined.
  constexpr double kLimit = 1 << 30;
  auto toInt = [&](double v) { return int(std::clamp(v, -kLimit, kLimit)); };
  return TRect{toInt(std::floor(left)), toInt(std::floor(top)), toInt(std::ceil(right)),
               toInt(std::ceil(bottom))};
}

TQuad QuadFromRect(const TRect& rect) {
  const double l = rect.Left, t = rect.Top, r = rect.Right, b = rect.Bottom;
  return TQuad{TPointD{l, t}, TPointD{r, t}, TPointD{r, b}, TPointD{l, b}};
}

void DrawPerspective(TBitmap& target, const TWarpSource& source, const TQuad& quad,
                     const TRect& clip) {
  const std::vector<TLevel>& levels = source.FLevels->Levels;
  if (levels.empty() || !IsConvexQuad(quad)) return;
  if (target.PixelFormat() != pf24bit && target.PixelFormat() != pf32bit)
    throw EInvalidGraphicOperation("Le dessin en perspective demande une image de 24 ou 32 bits");
  const int bytesPerPixel = target.PixelFormat() == pf24bit ? 3 : 4;
  const TRect area = IntersectRect(IntersectRect(QuadBounds(quad), clip),
                                   TRect{0, 0, target.Width(), target.Height()});
  if (area.IsEmpty()) return;
  const TPolygon poly = ClipQuad(quad, area);
  if (poly.Count < 3) return;

  const TMatrix3 inv = Inverse(SquareToQuad(quad), quad);
  const auto& m = inv.M;
  const int width = area.Width();
  std::vector<float> acc(size_t(width) + 2, 0.0f);
  std::vector<uint16_t> coverage(acc.size());
  for (int y = 0; y < area.Height(); ++y) {
    int from = width + 1, to = -1;
    AccumulateRow(poly, y, acc.data(), width, from, to);
    if (to <= from) continue;
    to = std::min(to + 1, width + 2);
    TakeCoverage(acc.data(), from, to, coverage.data());
    const int count = std::min(to, width) - from;
    if (count <= 0) continue;
    const double px = area.Left + from + 0.5, py = area.Top + y + 0.5;
    TRowMapping row;
    row.U = m[0][0] * px + m[0][1] * py + m[0][2];
    row.V = m[1][0] * px + m[1][1] * py + m[1][2];
    row.W = m[2][0] * px + m[2][1] * py + m[2][2];
    row.DU = m[0][0], row.DV = m[1][0], row.DW = m[2][0];
    row.UY = float(m[0][1]), row.VY = float(m[1][1]), row.WY = float(m[2][1]);
    row.Width = float(levels[0].Width), row.Height = float(levels[0].Height);
    uint8_t* dst = target.GetScanline(area.Top + y) + ptrdiff_t(area.Left + from) * bytesPerPixel;
    WarpRow(dst, bytesPerPixel, coverage.data(), count, row, levels, source.FLevels->Opaque);
  }
}
