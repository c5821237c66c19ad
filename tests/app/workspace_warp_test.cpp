// Products drawn in perspective: where the picture lands, its edges, its transparency,
// the shapes refused, and agreement with the flat placement.
#include <cmath>

#include "codecs.h"
#include "warp.h"
#include "testdata.h"
#include "workspace_support.h"

namespace {

// A 24-bit bitmap of one colour.
struct TFilled : TBitmap {
  TFilled(int w, int h, TColor colour) {
    SetPixelFormat(pf24bit);
    SetSize(w, h);
    FillPixels(View(), Rect(0, 0, w, h), colour);
  }
};

// Red, lime, blue, white quadrants (top-left, top-right, bottom-left, bottom-right).
struct TQuadrants : TFilled {
  TQuadrants(int w, int h) : TFilled(w, h, clWhite) {
    FillPixels(View(), Rect(0, 0, w / 2, h / 2), clRed);
    FillPixels(View(), Rect(w / 2, 0, w, h / 2), clLime);
    FillPixels(View(), Rect(0, h / 2, w / 2, h), clBlue);
  }
};

// How far the point lies outside the convex quad, measured to the farthest edge line
// (negative inside: the distance to the nearest edge).
double OutsideBy(const TQuad& q, double x, double y) {
  double area2 = 0;
  for (int i = 0; i < 4; ++i) area2 += q[i].X * q[(i + 1) % 4].Y - q[(i + 1) % 4].X * q[i].Y;
  double worst = -1e9;
  for (int i = 0; i < 4; ++i) {
    const TPointD a = q[i], b = q[(i + 1) % 4];
    const double len = std::hypot(b.X - a.X, b.Y - a.Y);
    const double left = ((b.X - a.X) * (y - a.Y) - (b.Y - a.Y) * (x - a.X)) / len;
    worst = std::max(worst, area2 > 0 ? -left : left);
  }
  return worst;
}

int Channel(TColor c, int i) {
  return int((c >> (8 * i)) & 0xFF);
}

int MaxDifference(TBitmap& a, TBitmap& b) {
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x)
      for (int c = 0; c < 3; ++c)
        worst = std::max(worst,
                         std::abs(Channel(a.PixelColor(x, y), c) - Channel(b.PixelColor(x, y), c)));
  return worst;
}

// A pixel's square lies wholly outside (inside) the quad when its centre is more than
// half its diagonal beyond (within) every edge line.
constexpr double kHalfDiagonal = 0.7072;

TEST(PerspectiveTest, CornersLandOnTheGivenPoints) {
  TQuadrants product(40, 30);
  const TWarpSource source(product);
  for (const TQuad& quad : {TQuad{{{30.3, 20.7}, {170.6, 40.2}, {150.1, 140.8}, {20.9, 120.4}}},
                            TQuad{{{160.5, 30}, {180.2, 150.7}, {15.4, 110.1}, {50.8, 12.3}}}}) {
    TFilled target(200, 160, clBlack);
    DrawPerspective(target, source, quad, Rect(0, 0, 200, 160));
    for (int y = 0; y < 160; ++y)
      for (int x = 0; x < 200; ++x) {
        const TColor c = target.PixelColor(x, y);
        const double out = OutsideBy(quad, x + 0.5, y + 0.5);
        if (out > kHalfDiagonal) {
          ASSERT_EQ(c, clBlack) << x << "," << y;
        } else if (out < -kHalfDiagonal) {
          // Inside, no gap: every mixture of the four colours has a sum of at least 255.
          ASSERT_GE(Channel(c, 0) + Channel(c, 1) + Channel(c, 2), 254) << x << "," << y;
        }
      }
    // Each corner's pixel is drawn, and just inside it shows that corner's own colour.
    const TColor colours[4] = {clRed, clLime, clWhite, clBlue};
    double cx = 0, cy = 0;
    for (const TPointD& p : quad) cx += p.X / 4, cy += p.Y / 4;
    for (int i = 0; i < 4; ++i) {
      const TPointD p = quad[i];
      EXPECT_NE(target.PixelColor(int(p.X), int(p.Y)), clBlack) << i;
      const double d = std::hypot(cx - p.X, cy - p.Y);
      const int ix = int(p.X + (cx - p.X) * 6 / d), iy = int(p.Y + (cy - p.Y) * 6 / d);
      EXPECT_EQ(target.PixelColor(ix, iy), colours[i]) << i;
    }
  }
}

TEST(PerspectiveTest, EdgesCoverTheExactAreaOfEachPixel) {
  TFilled white(8, 8, clWhite);
  const TWarpSource source(white);
  auto grey = [](TBitmap& t, int x, int y) { return Channel(t.PixelColor(x, y), 1); };
  // A square from (10.5, 10.5) to (20.5, 20.5): half of each edge pixel, a quarter of
  // each corner pixel (127.5 and 63.75 of 255).
  TFilled square(32, 32, clBlack);
  DrawPerspective(square, source, TQuad{{{10.5, 10.5}, {20.5, 10.5}, {20.5, 20.5}, {10.5, 20.5}}},
                  Rect(0, 0, 32, 32));
  for (auto [x, y] : {std::pair{15, 10}, {20, 15}, {15, 20}, {10, 15}})
    EXPECT_NEAR(grey(square, x, y), 127.5, 1) << x << "," << y;
  for (auto [x, y] : {std::pair{10, 10}, {20, 10}, {20, 20}, {10, 20}})
    EXPECT_NEAR(grey(square, x, y), 63.75, 1) << x << "," << y;
  EXPECT_EQ(grey(square, 15, 15), 255);
  EXPECT_EQ(grey(square, 9, 15), 0);
  EXPECT_EQ(grey(square, 21, 15), 0);
  // A 45-degree edge through pixel corners, (14, 30) to (22, 38): the pixels it crosses
  // diagonally are half covered, their left neighbours fully, their right ones not at all.
  TFilled slanted(32, 48, clBlack);
  DrawPerspective(slanted, source, TQuad{{{10, 30}, {14, 30}, {22, 38}, {10, 38}}},
                  Rect(0, 0, 32, 48));
  for (int k = 0; k < 8; ++k) {
    EXPECT_NEAR(grey(slanted, 14 + k, 30 + k), 127.5, 1) << k;
    EXPECT_EQ(grey(slanted, 13 + k, 30 + k), 255) << k;
    EXPECT_EQ(grey(slanted, 15 + k, 30 + k), 0) << k;
  }
}

TEST(PerspectiveTest, OnlyConvexQuadsAreDrawn) {
  struct TCase {
    TQuad Quad;
    bool Convex;
  };
  const double nan = std::nan(""), inf = INFINITY;
  const TCase cases[] = {
      {{{{0, 0}, {10, 0}, {10, 10}, {0, 10}}}, true},
      {{{{10, 0}, {0, 0}, {0, 10}, {10, 10}}}, true},  // mirrored: the other turning direction
      {{{{4, 0}, {6, 0}, {10, 10}, {0, 10}}}, true},
      {{{{0, 0}, {10, 1}, {10.5, 9}, {-2, 12}}}, true},
      {{{{0, 0}, {10, 0}, {3, 3}, {0, 10}}}, false},    // concave
      {{{{0, 0}, {10, 0}, {0, 10}, {10, 10}}}, false},  // crossed
      {{{{0, 0}, {10, 10}, {10, 0}, {0, 10}}}, false},  // crossed the other way
      {{{{0, 0}, {5, 0}, {10, 0}, {0, 10}}}, false},    // three corners in a line
      {{{{0, 0}, {0, 0}, {10, 10}, {0, 10}}}, false},   // two corners on one point
      {{{{3, 3}, {3, 3}, {3, 3}, {3, 3}}}, false},
      {{{{0, 0}, {nan, 0}, {10, 10}, {0, 10}}}, false},
      {{{{0, 0}, {inf, 0}, {10, 10}, {0, 10}}}, false},
  };
  TFilled white(4, 4, clWhite);
  const TWarpSource source(white);
  for (const TCase& c : cases) {
    EXPECT_EQ(IsConvexQuad(c.Quad), c.Convex) << c.Quad[1].X << "," << c.Quad[2].X;
    TFilled target(12, 12, clBlack);
    DrawPerspective(target, source, c.Quad, Rect(0, 0, 12, 12));
    bool drawn = false;
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 12; ++x) drawn |= target.PixelColor(x, y) != clBlack;
    EXPECT_EQ(drawn, c.Convex);
  }
  EXPECT_EQ(QuadBounds(TQuad{{{10.5, 20.25}, {30, 20}, {29.9, 40.01}, {9.99, 39}}}),
            Rect(9, 20, 30, 41));
}

// The flat placement draws the product with its own class (nearest pixels, no
// filtering): at the picture's own size both must give the same pixels, transparency
// included; scaled, they agree on a picture smooth enough that the choice of the nearest
// pixel or a filtered one moves no value by more than a level.
TEST(PerspectiveTest, AxisAlignedQuadDrawsAsTheFlatPlacement) {
  TCodecRegistration codecs;
  TFilled background(300, 220, clBlack);
  for (int y = 0; y < 220; ++y)
    for (int x = 0; x < 300; ++x) background.SetPixelColor(x, y, RGBColor(x * 3 / 4, y, 90));

  TFilled gradient(160, 120, clBlack);
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x)
      gradient.SetPixelColor(x, y, RGBColor(40 + x / 4, 200 - y / 4, 60 + (x + y) / 8));
  TPicture sample;
  sample.LoadFromFile(std::string(VITRELLE_SOURCE_DIR) + "/assets/produit-exemple.png");
  struct TCase {
    TGraphic* Picture;
    TRect Place;
  };
  std::vector<TCase> cases = {{sample.Graphic(), Rect(13, 7, 13 + 180, 7 + 260)},
                              {&gradient, Rect(20, 10, 20 + 160, 10 + 120)},
                              {&gradient, Rect(3, 5, 3 + 257, 5 + 193)},
                              {&gradient, Rect(40, 30, 40 + 61, 30 + 47)},
                              {&gradient, Rect(11, 12, 11 + 100, 12 + 75)}};
  TPicture gif;
  if (::vitrelle_test::TestDataPresent()) {
    gif.LoadFromFile(::vitrelle_test::TestDataPath("gif/imagegif-alpha_gif_a.gif"));
    cases.push_back({gif.Graphic(), Rect(30, -20, 30 + 256, -20 + 256)});
  }
  for (const TCase& c : cases) {
    TBitmap flat, perspective;
    flat.Assign(background);
    perspective.Assign(background);
    flat.Canvas().StretchDraw(c.Place, *c.Picture);
    DrawPerspective(perspective, TWarpSource(*c.Picture), QuadFromRect(c.Place),
                    Rect(0, 0, 300, 220));
    EXPECT_LE(MaxDifference(flat, perspective), 1) << c.Place.Width() << "x" << c.Place.Height();
  }
}

// Upper half opaque blue, lower half transparent: the picture's middle row is the
// horizontal through the crossing of the trapezoid's diagonals (a projective map keeps
// that crossing at the centre of the picture), not the trapezoid's half height. Within a
// few pixels of it the reduced levels blend the two halves.
TEST(PerspectiveTest, TransparencyIsKeptInPerspective) {
  VITRELLE_REQUIRE_TESTDATA();
  TCodecRegistration codecs;
  TPicture gif;
  gif.LoadFromFile(::vitrelle_test::TestDataPath("gif/imagegif-alpha_gif_a.gif"));
  const TQuad quad{{{60, 20}, {140, 20}, {180, 180}, {20, 180}}};
  const double middle = 20 + 160.0 * 80 / (80 + 160);
  TFilled target(200, 200, clRed);
  DrawPerspective(target, TWarpSource(*gif.Graphic()), quad, Rect(0, 0, 200, 200));
  int blue = 0, red = 0;
  for (int y = 0; y < 200; ++y)
    for (int x = 0; x < 200; ++x) {
      if (OutsideBy(quad, x + 0.5, y + 0.5) > -kHalfDiagonal || std::fabs(y + 0.5 - middle) < 6)
        continue;
      const TColor c = target.PixelColor(x, y);
      if (y + 0.5 < middle) {
        ASSERT_EQ(c, clBlue) << x << "," << y;
        ++blue;
      } else {
        ASSERT_EQ(c, clRed) << x << "," << y;
        ++red;
      }
    }
  EXPECT_GT(blue, 3000);
  EXPECT_GT(red, 10000);
}

// A 1024 x 724 chequerboard of 4-pixel squares reduced into about 150 pixels: every pixel
// covers many squares, so it must show their mean grey, not whichever square its centre
// happens to fall on.
TEST(PerspectiveTest, StrongReductionsAverageInsteadOfAliasing) {
  TFilled board(1024, 724, clBlack);
  for (int y = 0; y < 724; ++y)
    for (int x = 0; x < 1024; ++x)
      if ((x / 4 + y / 4) % 2) board.SetPixelColor(x, y, clWhite);
  const TWarpSource source(board);
  const TQuad quad{{{20, 30}, {170, 10}, {160, 130}, {25, 110}}};
  TFilled target(200, 150, clBlack);
  DrawPerspective(target, source, quad, Rect(0, 0, 200, 150));
  int inside = 0;
  for (int y = 0; y < 150; ++y)
    for (int x = 0; x < 200; ++x)
      if (OutsideBy(quad, x + 0.5, y + 0.5) < -kHalfDiagonal) {
        ASSERT_NEAR(Channel(target.PixelColor(x, y), 1), 127.5, 16) << x << "," << y;
        ++inside;
      }
  EXPECT_GT(inside, 10000);
}

}  // namespace
