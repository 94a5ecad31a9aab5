#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <limits>

#include "blend_oracle.h"
#include "g32_transforms.h"

namespace {

using namespace g32;

const TColor32 kBack = 0xFF102030;

// Every channel a function of (x, y), so a pixel taken from the wrong place shows.
TColor32 Coded(int x, int y) {
  return 0xFF000000u | TColor32((x * 9 + 3) & 0xFF) << 16 | TColor32((y * 13 + 7) & 0xFF) << 8 |
         TColor32((x * 5 + y * 3) & 0xFF);
}

void Fill(TBitmap32& b, int w, int h, const std::function<TColor32(int, int)>& f) {
  b.SetSize(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b.SetPixel(x, y, f(x, y));
}

TEST(AffineTransformation, MatrixStepsAndInverse) {
  TAffineTransformation t;
  t.Rotate(0, 0, 90);
  const auto& m = t.Matrix();
  // Row vector (1, 0, 1) times the matrix.
  EXPECT_NEAR(m[0][0] * 1 + m[2][0], 0, 1e-6);
  EXPECT_NEAR(m[0][1] * 1 + m[2][1], -1, 1e-6);

  // Steps apply in the order given: scale, then move.
  t.Clear();
  t.Scale(2, 3);
  t.Translate(10, 20);
  int sx, sy;
  t.Transform(14, 26, sx, sy);
  EXPECT_EQ(sx, 2);
  EXPECT_EQ(sy, 2);
  t.Transform256(11, 20, sx, sy);
  EXPECT_EQ(sx, 128);  // half a pixel in 24.8
  EXPECT_EQ(sy, 0);

  // A singular matrix maps through the identity.
  t.Clear();
  t.Scale(0, 1);
  t.Transform(7, 5, sx, sy);
  EXPECT_EQ(sx, 7);
  EXPECT_EQ(sy, 5);

  // Rotating around a centre keeps the centre.
  t.Clear();
  t.Rotate(10, 20, 37);
  t.Transform(10, 20, sx, sy);
  EXPECT_EQ(sx, 10);
  EXPECT_EQ(sy, 20);

  t.Clear();
  t.SetSrcRect(FloatRect(0, 0, 8, 6));
  t.Translate(2.25f, -1);
  EXPECT_EQ(t.GetTransformedBounds(), (TRect{2, -2, 11, 6}));
}

// Nearest sampling against pixels computed here from the exact inverse (ties round down).
TEST(Transform, AffineNearestMatchesTheExactInverse) {
  const int W = 9, H = 7;
  struct Case {
    const char* name;
    std::function<void(TAffineTransformation&)> build;
    std::function<void(int, int, double&, double&)> inverse;
  } cases[] = {
      {"identity", [](auto&) {}, [](int x, int y, double& u, double& v) { u = x, v = y; }},
      {"whole pixels", [](auto& t) { t.Translate(3, -2); },
       [](int x, int y, double& u, double& v) { u = x - 3, v = y + 2; }},
      {"rotation by 90", [](auto& t) { t.Rotate(0, 0, 90), t.Translate(0, W - 1); },
       [](int x, int y, double& u, double& v) { u = W - 1 - y, v = x; }},
      {"scaling", [](auto& t) { t.Scale(2, 3); },
       [](int x, int y, double& u, double& v) { u = x / 2.0, v = y / 3.0; }},
  };
  TBitmap32 src;
  Fill(src, W, H, Coded);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TAffineTransformation t;
    t.SetSrcRect(FloatRect(0, 0, W, H));
    c.build(t);
    TBitmap32 dst;
    Fill(dst, 30, 25, [](int, int) { return kBack; });
    Transform(&dst, &src, &t);
    for (int y = 0; y < dst.Height(); ++y)
      for (int x = 0; x < dst.Width(); ++x) {
        double u, v;
        c.inverse(x, y, u, v);
        const int sx = int(std::ceil(u - 0.5)), sy = int(std::ceil(v - 0.5));
        const bool inside = sx >= 0 && sx < W && sy >= 0 && sy < H;
        ASSERT_EQ(dst.GetPixel(x, y), inside ? src.GetPixel(sx, sy) : kBack) << x << "," << y;
      }
  }
}

TEST(Transform, BilinearHalfPixelAndOuterBand) {
  TBitmap32 src;
  Fill(src, 6, 1,
       [](int x, int) { return Color32(uint8_t(x * 40), uint8_t(200 - x * 30), 9, 255); });
  src.SetStretchFilter(sfLinear);
  src.OuterColor = 0;
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 6, 1));
  t.Translate(0.5f, 0);
  TBitmap32 dst;
  Fill(dst, 10, 1, [](int, int) { return kBack; });
  Transform(&dst, &src, &t);
  // Inside: the mean of the two neighbours.
  for (int x = 1; x < 6; ++x) {
    const TColor32 a = src.GetPixel(x - 1, 0), b = src.GetPixel(x, 0);
    TColor32 mean = 0;
    for (int s = 0; s < 32; s += 8) mean |= ((((a >> s) & 255) + ((b >> s) & 255)) / 2) << s;
    EXPECT_LE(oracle::MaxChannelDiff(dst.GetPixel(x, 0), mean), 1) << x;
  }
  // Half a pixel beyond the edge blends with the outer colour; further out nothing is drawn.
  EXPECT_LE(oracle::MaxChannelDiff(dst.GetPixel(6, 0),
                                   0x7F000000u | ((src.GetPixel(5, 0) >> 1) & 0x7F7F7F)),
            1);
  EXPECT_EQ(dst.GetPixel(8, 0), kBack);
}

TEST(Transform, BilinearBandTakesAPointExactlyOnePixelOutside) {
  // A whole-pixel move on each side: one destination column or row samples the point exactly one
  // pixel beyond the source's edge, which mixes only the outer colour; the rest copies pixels.
  const TColor32 outer = 0xFF00FF00;
  struct {
    float dx, dy;
    int edgeX, edgeY;  // the destination column or row that lands one pixel outside (-1: none)
  } cases[] = {{1, 0, 0, -1}, {-1, 0, 3, -1}, {0, 1, -1, 0}, {0, -1, -1, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dx << "," << c.dy);
    TBitmap32 src;
    Fill(src, 4, 3, Coded);
    src.SetStretchFilter(sfLinear);
    src.OuterColor = outer;
    TAffineTransformation t;
    t.SetSrcRect(FloatRect(0, 0, 4, 3));
    t.Translate(c.dx, c.dy);
    TBitmap32 dst;
    Fill(dst, 4, 3, [](int, int) { return kBack; });
    Transform(&dst, &src, &t);
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        const TColor32 want =
            x == c.edgeX || y == c.edgeY ? outer : Coded(x - int(c.dx), y - int(c.dy));
        // Two mixes of a weight of 255, each of which may miss by one in the packed kernels.
        EXPECT_LE(oracle::MaxChannelDiff(dst.GetPixel(x, y), want), 2) << x << "," << y;
      }
  }
}

TEST(Transform, WildMatricesAndCornersDrawNothingOrSomethingDefined) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  struct {
    const char* name;
    std::function<void(TAffineTransformation&)> steps;
    bool drawsNothing;  // else: every destination pixel shows the source's top-left pixel
  } affine[] = {
      {"translate NaN", [&](auto& t) { t.Translate(nan, 0); }, true},
      {"translate inf", [&](auto& t) { t.Translate(0, inf); }, true},
      {"translate 3e9", [&](auto& t) { t.Translate(3e9f, -3e9f); }, true},
      {"scale NaN", [&](auto& t) { t.Scale(nan, 1); }, true},
      {"scale inf", [&](auto& t) { t.Scale(inf, inf); }, true},
      {"scale -inf", [&](auto& t) { t.Scale(-inf, 1); }, true},
      {"rotate NaN", [&](auto& t) { t.Rotate(1, 1, nan); }, true},
      {"rotate inf", [&](auto& t) { t.Rotate(0, 0, inf); }, true},
      {"skew inf", [&](auto& t) { t.Skew(inf, 0); }, true},
      {"scale 1e30", [&](auto& t) { t.Scale(1e30f, 1e30f); }, false},
  };
  for (const auto& c : affine)
    for (TStretchFilter f : {sfNearest, sfLinear}) {
      SCOPED_TRACE(testing::Message() << c.name << " filter " << int(f));
      TBitmap32 src;
      Fill(src, 4, 3, Coded);
      src.SetStretchFilter(f);
      TAffineTransformation t;
      t.SetSrcRect(FloatRect(0, 0, 4, 3));
      c.steps(t);
      TBitmap32 dst;
      Fill(dst, 5, 5, [](int, int) { return kBack; });
      Transform(&dst, &src, &t);
      t.GetTransformedBounds();
      for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 5; ++x)
          EXPECT_LE(
              oracle::MaxChannelDiff(dst.GetPixel(x, y), c.drawsNothing ? kBack : Coded(0, 0)),
              c.drawsNothing ? 0 : 1)
              << x << "," << y;
    }
  // Projective corners and source areas that are not numbers, or far out. Infinite corners
  // cover the whole destination with no inverse to map it: like a vanishing determinant, that
  // maps through the identity.
  struct {
    const char* name;
    float xs[4], ys[4];
    TFloatRect srcRect;
    bool identity;
  } quads[] = {
      {"NaN corner", {0, 4, 4, nan}, {0, 0, 3, 3}, FloatRect(0, 0, 4, 3), false},
      {"inf corners", {-inf, inf, inf, -inf}, {-inf, -inf, inf, inf}, FloatRect(0, 0, 4, 3), true},
      {"corners at 3e9",
       {3e9f, 3e9f + 4, 3e9f + 4, 3e9f},
       {0, 0, 3, 3},
       FloatRect(0, 0, 4, 3),
       false},
      {"NaN source area", {0, 4, 4, 0}, {0, 0, 3, 3}, FloatRect(nan, 0, 4, 3), false},
  };
  for (const auto& q : quads)
    for (TStretchFilter f : {sfNearest, sfLinear}) {
      SCOPED_TRACE(testing::Message() << q.name << " filter " << int(f));
      TBitmap32 src;
      Fill(src, 4, 3, Coded);
      src.SetStretchFilter(f);
      TProjectiveTransformation t;
      t.SetSrcRect(q.srcRect);
      for (int k = 0; k < 4; ++k) t.SetX(k, q.xs[k]), t.SetY(k, q.ys[k]);
      TBitmap32 dst;
      Fill(dst, 5, 5, [](int, int) { return kBack; });
      Transform(&dst, &src, &t);
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x)
          EXPECT_LE(oracle::MaxChannelDiff(dst.GetPixel(x, y), q.identity ? Coded(x, y) : kBack),
                    q.identity ? 2 : 0)
              << x << "," << y;
    }
}

TEST(Transform, DrawModesAndNothingOutsideTheDestination) {
  TBitmap32 src;
  Fill(src, 4, 4, [](int, int) { return 0x80FF0000u; });
  TAffineTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 4, 4));
  TBitmap32 dst;
  Fill(dst, 4, 4, [](int, int) { return 0xFF0000FFu; });
  int changes = 0;
  dst.OnChange = [&](TObject*) { ++changes; };

  src.SetDrawMode(dmBlend);
  src.SetMasterAlpha(255);
  Transform(&dst, &src, &t);
  // Colour only: the two kernel sets treat the alpha byte differently.
  EXPECT_LE(oracle::MaxChannelDiff(dst.GetPixel(1, 1) | 0xFF000000u, 0xFF80007Fu), 1);
  EXPECT_EQ(changes, 1);

  src.SetDrawMode(dmCustom);
  src.OnPixelCombine = [](TColor32 F, TColor32& B, TColor32 M) { B = F ^ M; };
  src.SetMasterAlpha(7);
  Transform(&dst, &src, &t);
  EXPECT_EQ(dst.GetPixel(2, 3), 0x80FF0007u);

  // Moved entirely off the destination: nothing drawn, nothing signalled.
  t.Translate(100, 0);
  changes = 0;
  Transform(&dst, &src, &t);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(dst.GetPixel(0, 0), 0x80FF0007u);
}

TEST(ProjectiveTransformation, SquareOntoItselfIsTheIdentity) {
  const int N = 12;
  TBitmap32 src, dst;
  Fill(src, N, N, Coded);
  Fill(dst, N, N, [](int, int) { return kBack; });
  TProjectiveTransformation t;
  t.SetSrcRect(FloatRect(0, 0, N, N));
  const float xs[4] = {0, N, N, 0}, ys[4] = {0, 0, N, N};
  for (int k = 0; k < 4; ++k) t.SetX(k, xs[k]), t.SetY(k, ys[k]);
  Transform(&dst, &src, &t);
  EXPECT_TRUE(dst.Equal(&src));
}

TEST(ProjectiveTransformation, TrapezoidCornersAndMidpoint) {
  TProjectiveTransformation t;
  t.SetSrcRect(FloatRect(0, 0, 10, 10));
  const float xs[4] = {0, 40, 30, 10}, ys[4] = {0, 0, 20, 20};
  for (int k = 0; k < 4; ++k) t.SetX(k, xs[k]), t.SetY(k, ys[k]);
  struct {
    int x, y, sx, sy;
  } points[] = {{0, 0, 0, 0}, {40, 0, 10, 0}, {30, 20, 10, 10}, {10, 20, 0, 10}, {20, 0, 5, 0}};
  for (auto p : points) {
    int sx, sy;
    ASSERT_TRUE(t.Transform(p.x, p.y, sx, sy));
    EXPECT_EQ(sx, p.sx) << p.x << "," << p.y;
    EXPECT_EQ(sy, p.sy) << p.x << "," << p.y;
  }
  // Perspective: the short edge is the far one, so half the quad's height is less than half
  // the source's.
  int sx, sy;
  ASSERT_TRUE(t.Transform256(20, 10, sx, sy));
  EXPECT_EQ(sx, 5 * 256);
  EXPECT_LT(sy, 5 * 256 - 64);
  EXPECT_EQ(t.GetTransformedBounds(), (TRect{0, 0, 40, 20}));
}

TEST(ProjectiveTransformation, DegenerateQuadrilateralsDrawSafely) {
  TBitmap32 src, dst;
  Fill(src, 16, 16, Coded);
  for (TStretchFilter f : {sfNearest, sfLinear}) {
    src.SetStretchFilter(f);
    // A crossed quadrilateral puts the vanishing line through the destination: the pixels on
    // and near it must neither divide by zero nor overflow the sampler.
    TProjectiveTransformation bow;
    bow.SetSrcRect(FloatRect(0, 0, 16, 16));
    const float bx[4] = {0, 40, 40, 0}, by[4] = {0, 40, 0, 40};
    for (int k = 0; k < 4; ++k) bow.SetX(k, bx[k]), bow.SetY(k, by[k]);
    Fill(dst, 41, 41, [](int, int) { return kBack; });
    Transform(&dst, &src, &bow);

    // Every corner on one point: a singular matrix, drawn through the identity.
    TProjectiveTransformation point;
    point.SetSrcRect(FloatRect(0, 0, 16, 16));
    for (int k = 0; k < 4; ++k) point.SetX(k, 5), point.SetY(k, 5);
    Fill(dst, 20, 20, [](int, int) { return kBack; });
    Transform(&dst, &src, &point);
  }
  // Three corners on a line leave no perspective to solve: refused, destination untouched.
  TProjectiveTransformation flat;
  flat.SetSrcRect(FloatRect(0, 0, 16, 16));
  const float fx[4] = {0, 10, 10, 10}, fy[4] = {0, 0, 0, 10};
  for (int k = 0; k < 4; ++k) flat.SetX(k, fx[k]), flat.SetY(k, fy[k]);
  Fill(dst, 20, 20, [](int, int) { return kBack; });
  EXPECT_THROW(Transform(&dst, &src, &flat), EAssertionFailed);
  EXPECT_EQ(dst.GetPixel(3, 3), kBack);
}

TEST(SetBorderTransparent, ClearsTheClippedOutlineOnly) {
  TBitmap32 b;
  Fill(b, 6, 5, [](int, int) { return 0xFF112233u; });
  SetBorderTransparent(&b, {1, -3, 9, 3});  // clipped to columns 1..5, rows 0..3
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool edge = x >= 1 && y <= 3 && (x == 1 || x == 5 || y == 0 || y == 3);
      EXPECT_EQ(b.GetPixel(x, y), edge ? 0x00112233u : 0xFF112233u) << x << "," << y;
    }
}

}  // namespace
