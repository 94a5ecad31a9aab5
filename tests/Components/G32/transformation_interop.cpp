// Our affine transform against pixman's transformed composite of the same picture: the same
// geometry (our prepared inverse, moved to pixman's pixel-centre convention), nearest and
// bilinear sampling, transparent outside.
#include <gtest/gtest.h>
#include <pixman.h>

#include <cstdlib>
#include <vector>

#include "blend_oracle.h"
#include "g32_transforms.h"

namespace {

using namespace g32;

// pixman's dst-to-src matrix for our transformation: pixman samples at pixel centres, we at
// pixel corners, so centre = inverse(centre - 0.5) + 0.5.
pixman_transform_t PixmanInverse(TAffineTransformation& t) {
  const auto& i = t.Inverse();
  auto fx = [](double v) { return pixman_fixed_t(v * 65536); };
  const double a = i.A / 4096.0, b = i.B / 4096.0, c = i.C / 4096.0;
  const double d = i.D / 4096.0, e = i.E / 4096.0, f = i.F / 4096.0;
  pixman_transform_t m;
  pixman_transform_init_identity(&m);
  m.matrix[0][0] = fx(a), m.matrix[0][1] = fx(b), m.matrix[0][2] = fx(c + 0.5 - 0.5 * a - 0.5 * b);
  m.matrix[1][0] = fx(d), m.matrix[1][1] = fx(e), m.matrix[1][2] = fx(f + 0.5 - 0.5 * d - 0.5 * e);
  return m;
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
