// TCanvas: shapes, fills and picture drawing on a bitmap. Text is in canvas_text.cpp.
#include <algorithm>

#include "pixel_codec.h"

using namespace pixelcodec;

namespace {

// Writes pen or brush pixels in the pen's mode, clipped to the buffer.
class TPlotter {
 public:
  TPlotter(const TPixelView& view, TColor color, TPenMode mode)
      : FView(view), FMode(mode), FMask(MaskOf(view.BitCount)) {
    TColorMatcher matcher(view, TBltColors{});
    FRaw = matcher.ToRaw(BgraOfColor(color));
  }

  void Plot(int x, int y) const {
    if (x < 0 || y < 0 || x >= FView.Width || y >= FView.Height) return;
    uint8_t* row = FView.Row(y);
    uint32_t value = FRaw;
    if (FMode == pmNotXor) {
      // Bits outside the colour (alpha byte, the spare bit of 5-5-5) are kept so that a
      // second pass restores the pixel exactly.
      uint32_t old = ReadRaw(row, x, FView.BitCount);
      value = (~(old ^ FRaw) & FMask) | (old & ~FMask);
    }
    WriteRaw(row, x, FView.BitCount, value);
  }

 private:
  static uint32_t MaskOf(int bitCount) {
    if (bitCount >= 32) return 0xFFFFFF;  // the alpha byte is not part of the colour
    if (bitCount == 15) return 0x7FFF;
    return (1u << bitCount) - 1;
  }
  TPixelView FView;
  TPenMode FMode;
  uint32_t FMask;
  uint32_t FRaw = 0;
};

void FillWithBrush(const TPixelView& view, const TRect& r, const TBrush& brush, TPenMode mode) {
  if (brush.Style == bsClear || r.IsEmpty()) return;
  TRect clipped = IntersectRect(r, TRect{0, 0, view.Width, view.Height});
  if (clipped.IsEmpty()) return;
  if (brush.Style == bsSolid && mode == pmCopy) {
    FillPixels(view, clipped, brush.Color);
    return;
  }
  TPlotter plot(view, brush.Color, mode);
  for (int y = clipped.Top; y < clipped.Bottom; ++y) {
    if (brush.Style == bsSolid) {
      for (int x = clipped.Left; x < clipped.Right; ++x) plot.Plot(x, y);
      continue;
    }
    // Forward-diagonal hatch: lines running down to the right, every 8 pixels (x - y a
    // multiple of 8), aligned to the canvas origin so adjacent fills join up; the row's
    // first hatch pixel, then every eighth.
    int x = clipped.Left + ((y - clipped.Left) & 7);
    for (; x < clipped.Right; x += 8) plot.Plot(x, y);
  }
}

// One outline of a rectangle, clockwise from the top-left corner; the dotted style draws
// every other pixel along the way, counted from that corner. Only the part of each edge
// that lies on the buffer is walked, with the dot count carried past the rest, so that a
// frame far larger than the bitmap costs no more than the bitmap's edges and draws the
// same pixels as a walk over the whole outline would. step counts pixels around the
// outline (64 bits: four edges of any int rectangle).
void Outline(const TPlotter& plot, const TPixelView& view, const TRect& r, bool dotted,
             int64_t& step) {
  const int64_t l = r.Left, t = r.Top, rr = int64_t(r.Right) - 1, b = int64_t(r.Bottom) - 1;
  // Visits the pixels first..last (inclusive) of one edge, in walking order dir (+1 or -1),
  // where the pixel at index i is at (x(i), y(i)) and carries dot step + |i - first|.
  auto edge = [&](int64_t first, int64_t last, int dir, int64_t limit, auto at) {
    if ((last - first) * dir < 0) return;
    const int64_t count = (last - first) * dir + 1;
    // The indices that land inside [0, limit) of the walking axis.
    int64_t lo = std::max<int64_t>(std::min(first, last), 0);
    int64_t hi = std::min<int64_t>(std::max(first, last), limit - 1);
    for (int64_t i = lo; i <= hi; ++i) {
      const int64_t k = (i - first) * dir;
      if (!dotted || ((step + k) & 1) == 0) at(int(i));
    }
    step += count;
  };
  const int64_t w = view.Width, h = view.Height;
  const bool topOn = t >= 0 && t < h, bottomOn = b >= 0 && b < h;
  const bool leftOn = l >= 0 && l < w, rightOn = rr >= 0 && rr < w;
  edge(l, rr, 1, topOn ? w : 0, [&](int x) { plot.Plot(x, int(t)); });
  edge(t + 1, b, 1, rightOn ? h : 0, [&](int y) { plot.Plot(int(rr), y); });
  if (b > t) edge(rr - 1, l, -1, bottomOn ? w : 0, [&](int x) { plot.Plot(x, int(b)); });
  if (rr > l) edge(b - 1, t + 1, -1, leftOn ? h : 0, [&](int y) { plot.Plot(int(l), y); });
}

}  // namespace

TPixelView TCanvas::View() const {
  return FTarget->View();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  TRect r = TRect{x1, y1, x2, y2}.Normalized();
  if (r.IsEmpty()) return;
  TPixelView view = View();
  if (!view.Valid()) return;
  TRect inside = r;
  if (Pen.Style != psClear) {
    TPlotter plot(view, Pen.Color, Pen.Mode);
    int64_t step = 0;
    for (int i = 0; i < std::max(1, Pen.Width) && !inside.IsEmpty(); ++i) {
      Outline(plot, view, inside, Pen.Style == psDot, step);
      inside = TRect{inside.Left + 1, inside.Top + 1, inside.Right - 1, inside.Bottom - 1};
    }
  }
  FillWithBrush(view, inside, Brush, Pen.Mode);
}

void TCanvas::FillRect(const TRect& rect) {
  FillWithBrush(View(), rect.Normalized(), Brush, pmCopy);
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
  graphic.Draw(*this, TRect{x, y, x + graphic.Width(), y + graphic.Height()});
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) {
  graphic.Draw(*this, rect);
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
  StretchBlt(View(), dest, source.View(), sourceRect);
}

TColor TCanvas::Pixel(int x, int y) const {
  return FTarget->PixelColor(x, y);
}

void TCanvas::SetPixel(int x, int y, TColor color) {
  FTarget->SetPixelColor(x, y, color);
}
