// Our affine transform against pixman's transformed composite of the same picture: the same
// geometry (pixman's own inverse of our forward matrix, at its pixel-centre convention), nearest
// and bilinear sampling, transparent outside.
#include <gtest/gtest.h>
#include <pixman.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "blend_oracle.h"
#include "g32_transforms.h"

namespace {

using namespace g32;

// pixman's dst-to-src matrix, found by pixman itself from our forward matrix (points are row
// vectors here, column vectors there), so a fault in our inverse shows against it. pixman samples
// at pixel centres, we at pixel corners: centre = inverse(centre - 0.5) + 0.5.
pixman_transform_t PixmanInverse(const TAffineTransformation& t) {
  const auto& f = t.Matrix();
  pixman_f_transform forward;
  pixman_f_transform_init_identity(&forward);
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 3; ++col) forward.m[row][col] = f[col][row];
  pixman_f_transform inverse, shift, back, m;
  EXPECT_TRUE(pixman_f_transform_invert(&inverse, &forward));
  // The library keeps its inverse in 20.12 fixed point; so does pixman's copy here, so both
  // sample the same points.
  for (int row = 0; row < 2; ++row)
    for (int col = 0; col < 3; ++col)
      inverse.m[row][col] = std::nearbyint(inverse.m[row][col] * 4096) / 4096;
  pixman_f_transform_init_translate(&shift, -0.5, -0.5);
  pixman_f_transform_init_translate(&back, 0.5, 0.5);
  pixman_f_transform_multiply(&m, &inverse, &shift);
  pixman_f_transform_multiply(&m, &back, &m);
  pixman_transform_t fixed;
  EXPECT_TRUE(pixman_transform_from_pixman_f_transform(&fixed, &m));
  return fixed;
}

TEST(TransformInterop, AffineRotationMatchesPixman) {
  const int W = 96, H = 64, DW = 140, DH = 120;
  TBitmap32 src;
  src.SetSize(W, H);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x)
      src.SetPixel(x, y, Color32(uint8_t(x * 2 + 20), uint8_t(y * 3 + 10), uint8_t(x + y), 255));
  src.OuterColor = 0;
  struct {
    TStretchFilter filter;
    pixman_filter_t pf;
    int tolerance;
  } cases[] = {{sfNearest, PIXMAN_FILTER_NEAREST, 0}, {sfLinear, PIXMAN_FILTER_BILINEAR, 1}};
  for (auto c : cases) {
    SCOPED_TRACE(int(c.filter));
    src.SetStretchFilter(c.filter);
    TAffineTransformation t;
    t.SetSrcRect(FloatRect(0, 0, W, H));
    t.Rotate(W / 2.0f, H / 2.0f, 30);
    t.Translate(22, 28);
    t.Scale(1.1f, 1.05f);

    TBitmap32 ours;
    ours.SetSize(DW, DH);  // transparent black, as pixman leaves what nothing covers
    Transform(&ours, &src, &t);

    std::vector<uint32_t> theirs(size_t(DW) * DH);
    pixman_image_t* s = pixman_image_create_bits(PIXMAN_a8r8g8b8, W, H, src.Bits(), W * 4);
    pixman_image_t* d = pixman_image_create_bits(PIXMAN_a8r8g8b8, DW, DH, theirs.data(), DW * 4);
    pixman_transform_t m = PixmanInverse(t);
    pixman_image_set_transform(s, &m);
    pixman_image_set_filter(s, c.pf, nullptr, 0);
    pixman_image_set_repeat(s, PIXMAN_REPEAT_NONE);
    pixman_image_composite32(PIXMAN_OP_SRC, s, nullptr, d, 0, 0, 0, 0, 0, 0, DW, DH);
    pixman_image_unref(s);
    pixman_image_unref(d);

    int worst = 0, edge = 0, covered = 0, beyondOne = 0;
    for (int y = 0; y < DH; ++y)
      for (int x = 0; x < DW; ++x) {
        const TColor32 o = ours.GetPixel(x, y), p = theirs[size_t(y) * DW + x];
        // Inside, the two differ by rounding only: ours rounds after each of the three mixes of
        // the library's bilinear rule, pixman once; that reaches two units at a few points,
        // one nearly everywhere. Where the picture's edge crosses a pixel the alpha changes by
        // 255 within it and pixman's 7-bit weights step by two units.
        if ((p >> 24) == 255 && (o >> 24) == 255)
          worst = std::max(worst, oracle::MaxChannelDiff(o, p)),
          beyondOne += oracle::MaxChannelDiff(o, p) > 1;
        else
          edge = std::max(edge, oracle::MaxChannelDiff(o, p));
        covered += (o >> 24) == 255;
      }
    EXPECT_LE(worst, 2 * c.tolerance);
    EXPECT_LE(beyondOne, DW * DH / 500);
    EXPECT_LE(edge, 4 * c.tolerance);
    EXPECT_GT(covered, W * H);  // the picture really landed
  }
}

}  // namespace
