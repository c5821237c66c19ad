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

// Forward-diagonal hatch: lines running down to the right, every 8 pixels, aligned to
// the canvas origin so adjacent fills join up.
bool OnHatch(int x, int y) {
  return ((x - y) & 7) == 0;
}

void FillWithBrush(const TPixelView& view, const TRect& r, const TBrush& brush, TPenMode mode) {
  if (brush.Style == bsClear || r.IsEmpty()) return;
  TRect clipped = IntersectRect(r, TRect{0, 0, view.Width, view.Height});
  if (clipped.IsEmpty()) return;
  if (brush.Style == bsSolid && mode == pmCopy) {
    FillPixels(view, clipped, brush.Color);
    return;
  }
  TPlotter plot(view, brush.Color, mode);
  for (int y = clipped.Top; y < clipped.Bottom; ++y)
    for (int x = clipped.Left; x < clipped.Right; ++x)
      if (brush.Style == bsSolid || OnHatch(x, y)) plot.Plot(x, y);
}

// One outline of a rectangle, each pixel visited exactly once, clockwise from the
// top-left corner; the dotted style draws every other pixel along the way.
void Outline(const TPlotter& plot, const TRect& r, bool dotted, int& step) {
  auto visit = [&](int x, int y) {
    if (!dotted || (step & 1) == 0) plot.Plot(x, y);
    ++step;
  };
  int l = r.Left, t = r.Top, rr = r.Right - 1, b = r.Bottom - 1;
  for (int x = l; x <= rr; ++x) visit(x, t);
  for (int y = t + 1; y <= b; ++y) visit(rr, y);
  if (b > t)
    for (int x = rr - 1; x >= l; --x) visit(x, b);
  if (rr > l)
    for (int y = b - 1; y > t; --y) visit(l, y);
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
    int step = 0;
    for (int i = 0; i < std::max(1, Pen.Width) && !inside.IsEmpty(); ++i) {
      Outline(plot, inside, Pen.Style == psDot, step);
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
