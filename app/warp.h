// Drawing a product in perspective: its picture mapped through the projective transform
// of its rectangle onto any convex quadrilateral, over a 24-bit bitmap. Bilinear
// sampling, the picture's transparency kept, anti-aliased edges. Free of any toolkit.
#pragma once

#include <array>

#include "framework.h"

struct TPointD {
  double X = 0;
  double Y = 0;
};

// The corners of a product, in the order top-left, top-right, bottom-right, bottom-left
// of its picture, in the target's pixel coordinates (a pixel's centre is at +0.5).
using TQuad = std::array<TPointD, 4>;

// True when the corners, in this order, make a convex quadrilateral of positive area,
// neither crossed nor concave (nor with three corners in a line, nor with a corner that is
// not a finite number); only such a shape can be drawn without gaps or folds. Either
// turning direction is convex: corners going round the other way draw the picture
// mirrored.
bool IsConvexQuad(const TQuad& quad);

// The smallest pixel rectangle that holds every pixel the quadrilateral touches.
TRect QuadBounds(const TQuad& quad);

// The rectangle (left, top) - (right, bottom) as a quadrilateral.
TQuad QuadFromRect(const TRect& rect);

// A picture made ready for drawing in perspective, once, then reused by every redraw:
// its pixels with their coverage, as the picture's own drawing composes them (it is drawn
// over black and over white). Raises EOutOfResources past the framework's size budget.
class TWarpSource {
 public:
  explicit TWarpSource(TGraphic& picture);
  ~TWarpSource();
  TWarpSource(const TWarpSource&) = delete;
  TWarpSource& operator=(const TWarpSource&) = delete;

  int Width() const;
  int Height() const;

  struct TLevels;  // the pixels, and smaller copies for strong reductions

 private:
  friend void DrawPerspective(TBitmap& target, const TWarpSource& source, const TQuad& quad,
                              const TRect& clip);
  std::unique_ptr<TLevels> FLevels;
};

// Composes source onto the 24-bit target through the projective mapping of its rectangle
// onto quad, touching only pixels inside clip (target coordinates). A quadrilateral that
// IsConvexQuad refuses draws nothing. A 32-bit target is composed likewise, alpha byte
// included; any other format raises EInvalidGraphicOperation.
void DrawPerspective(TBitmap& target, const TWarpSource& source, const TQuad& quad,
                     const TRect& clip);
