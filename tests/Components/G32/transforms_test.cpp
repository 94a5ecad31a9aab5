#include "g32_transforms.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "blend_oracle.h"

namespace {

using namespace g32;

// Every byte a function of (x, y) and the channel, so stride, channel and off-by-one faults show.
TColor32 Code(int x, int y) {
  return TColor32((0x40 + x * 3 + y) & 0xFF) << 24 | TColor32((x * 7 + y * 3) & 0xFF) << 16 |
         TColor32((y * 11 + 1) & 0xFF) << 8 | TColor32((x * 13 + 5) & 0xFF);
}

void FillCoded(TBitmap32& b) {
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) b.SetPixel(x, y, Code(x, y));
}

const TColor32 kBackground = 0xFF204060;

struct KernelScope {
  explicit KernelScope(bool packed) {
    BindKernels(packed ? PackedKernels() : PlainKernels(), packed);
  }
  ~KernelScope() { BindDefaultKernels(); }
};

TEST(BlockTransfer, CoordinateCodedClippingInEveryMode) {
  struct Case {
    int dstX, dstY;
    TRect src;
  } cases[] = {
      {0, 0, {0, 0, 9, 7}},  {3, 2, {1, 1, 5, 6}},      {-2, -3, {0, 0, 9, 7}},
      {6, 4, {2, 2, 9, 7}},  {-4, 1, {-3, -2, 12, 20}},  // source rectangle beyond the source
      {20, 0, {0, 0, 9, 7}}, {0, 0, {5, 5, 3, 3}},       // nothing visible
  };
  TBitmap32 src;
  src.SetSize(9, 7);
  FillCoded(src);
  for (TDrawMode mode : {dmOpaque, dmBlend, dmCustom}) {
    for (uint32_t master : {255u, 100u}) {
      src.SetMasterAlpha(master);
      for (const auto& c : cases) {
        TBitmap32 dst;
        dst.SetSize(8, 6);
        dst.Clear(kBackground);
        TPixelCombineEvent handler = [&](TColor32 F, TColor32& B, TColor32 M) { B = F ^ M; };
        BlockTransfer(&dst, c.dstX, c.dstY, &src, c.src, mode, handler);
        for (int y = 0; y < 6; ++y) {
          for (int x = 0; x < 8; ++x) {
            int sx = x - c.dstX + c.src.Left, sy = y - c.dstY + c.src.Top;
            bool inside = sx >= std::max(c.src.Left, 0) && sx < std::min(c.src.Right, 9) &&
                          sy >= std::max(c.src.Top, 0) && sy < std::min(c.src.Bottom, 7);
            TColor32 expected = kBackground;
            if (inside) {
              TColor32 f = Code(sx, sy);
              if (mode == dmOpaque) expected = f;
              if (mode == dmBlend)
                master == 255 ? BlendMem(f, expected) : BlendMemEx(f, expected, master);
              if (mode == dmCustom) expected = f ^ master;
            }
            ASSERT_EQ(dst.GetPixel(x, y), expected)
                << "mode " << mode << " master " << master << " case " << c.dstX << "," << c.dstY
                << " at " << x << "," << y;
          }
        }
      }
    }
  }
}

TEST(Transfers, ValidationAndModeRules) {
  TBitmap32 src, dst, empty;
  src.SetSize(4, 4);
  FillCoded(src);
  dst.SetSize(4, 4);
  dst.Clear(kBackground);
  auto message = [](auto f) {
    try {
      f();
    } catch (const ETransformError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_EQ(message([&] {
              BlockTransfer(&empty, 0, 0, nullptr, {0, 0, 4, 4}, dmOpaque);
            }),
            "Destination bitmap is nil or empty");
  EXPECT_EQ(message([&] {
              BlockTransfer(nullptr, 0, 0, &src, {0, 0, 4, 4}, dmOpaque);
            }),
            "Destination bitmap is nil or empty");
  EXPECT_EQ(message([&] {
              StretchTransfer(&dst, {0, 0, 4, 4}, &empty, {0, 0, 4, 4}, sfNearest, dmOpaque);
            }),
            "Source bitmap is nil or empty");
  EXPECT_EQ(message([&] {
              StretchTransfer(&dst, {0, 0, 2, 2}, &src, {0, 0, 5, 4}, sfLinear, dmOpaque);
            }),
            "Source rectangle is invalid");
  EXPECT_EQ(message([&] {
              StretchTransfer(&dst, {0, 0, 2, 2}, &src, {-1, 0, 3, 4}, sfLinear, dmOpaque);
            }),
            "Source rectangle is invalid");
  for (int i = 0; i < 16; ++i) EXPECT_EQ(dst.Bits()[i], kBackground);  // nothing written
  EXPECT_NO_THROW(StretchTransfer(&dst, {0, 0, 2, 2}, &src, {2, 2, 2, 9}, sfLinear, dmOpaque));

  // dmCustom without a handler copies like dmOpaque, in every path.
  for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline}) {
    TBitmap32 a, b;
    for (TBitmap32* t : {&a, &b}) {
      t->SetSize(7, 5);
      t->Clear(kBackground);
    }
    StretchTransfer(&a, {0, 0, 7, 5}, &src, {0, 0, 4, 4}, f, dmCustom);
    StretchTransfer(&b, {0, 0, 7, 5}, &src, {0, 0, 4, 4}, f, dmOpaque);
    EXPECT_TRUE(a.Equal(&b)) << f;
  }
}

TEST(Transfers, MasterAlphaZeroSkipsOnlyBlending) {
  TBitmap32 src;
  src.SetSize(4, 3);
  FillCoded(src);
  src.SetMasterAlpha(0);
  for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline}) {
    for (TRect r : {TRect{0, 0, 4, 3}, TRect{1, 1, 8, 6}}) {
      TBitmap32 dst;
      dst.SetSize(8, 6);
      dst.Clear(kBackground);
      StretchTransfer(&dst, r, &src, src.BoundsRect(), f, dmBlend);
      for (int i = 0; i < 48; ++i) ASSERT_EQ(dst.Bits()[i], kBackground) << f;
      int calls = 0;
      StretchTransfer(&dst, r, &src, src.BoundsRect(), f, dmCustom,
                      [&](TColor32, TColor32&, TColor32 M) {
                        ++calls;
                        EXPECT_EQ(M, 0u);
                      });
      EXPECT_GT(calls, 0) << f;
      StretchTransfer(&dst, r, &src, src.BoundsRect(), f, dmOpaque);
      EXPECT_NE(dst.GetPixel(1, 1), kBackground) << f;
    }
  }
}

TEST(StretchTransfer, EqualSizeIsBlendLinePerRow) {
  TBitmap32 src;
  src.SetSize(30, 20);
  FillCoded(src);
  for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline}) {
    TBitmap32 dst;
    dst.SetSize(40, 30);
    dst.Clear(kBackground);
    StretchTransfer(&dst, {5, 4, 35, 24}, &src, {0, 0, 30, 20}, f, dmBlend);
    for (int y = 0; y < 20; ++y) {
      std::vector<TColor32> row(30, kBackground);
      BlendLine(src.GetScanLine(y), row.data(), 30);
      for (int x = 0; x < 30; ++x) ASSERT_EQ(dst.GetPixel(5 + x, 4 + y), row[x]) << f;
    }
  }
}

TEST(StretchTransfer, LinearTwoToThreeWithPlainKernels) {
  KernelScope plain(false);
  TBitmap32 src, dst;
  src.SetSize(2, 1);
  src.SetPixel(0, 0, clBlack32);
  src.SetPixel(1, 0, clWhite32);
  dst.SetSize(3, 1);
  StretchTransfer(&dst, {0, 0, 3, 1}, &src, {0, 0, 2, 1}, sfLinear, dmOpaque);
  EXPECT_EQ(RedComponent(dst.GetPixel(0, 0)), 0);
  EXPECT_EQ(RedComponent(dst.GetPixel(1, 0)), 85);
  EXPECT_EQ(RedComponent(dst.GetPixel(2, 0)), 169);
}

// The visible part of a destination rectangle that hangs over the edge gets the same samples it
// would have had without clipping.
TEST(StretchTransfer, ClippingKeepsSamples) {
  TBitmap32 src;
  src.SetSize(13, 9);
  FillCoded(src);
  for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline}) {
    for (TDrawMode mode : {dmOpaque, dmBlend}) {
      src.SetDrawMode(mode);
      TBitmap32 whole, part;
      whole.SetSize(60, 40);
      whole.Clear(kBackground);
      StretchTransfer(&whole, {0, 0, 60, 40}, &src, {1, 1, 12, 9}, f, mode);
      part.SetSize(25, 17);
      part.Clear(kBackground);
      StretchTransfer(&part, {-35, -23, 25, 17}, &src, {1, 1, 12, 9}, f, mode);
      for (int y = 0; y < 17; ++y)
        for (int x = 0; x < 25; ++x)
          ASSERT_EQ(part.GetPixel(x, y), whole.GetPixel(x + 35, y + 23))
              << f << " " << x << "," << y;
    }
  }
}

TEST(StretchTransfer, NearestAtPowersOfTwo) {
  TBitmap32 src;
  src.SetSize(8, 4);
  FillCoded(src);
  for (int scale : {2, 4}) {
    TBitmap32 dst;
    dst.SetSize(8 * scale, 4 * scale);
    StretchTransfer(&dst, dst.BoundsRect(), &src, src.BoundsRect(), sfNearest, dmOpaque);
    for (int y = 0; y < dst.Height(); ++y)
      for (int x = 0; x < dst.Width(); ++x)
        ASSERT_EQ(dst.GetPixel(x, y), Code(x / scale, y / scale)) << scale;
  }
  TBitmap32 half;
  half.SetSize(4, 2);
  StretchTransfer(&half, half.BoundsRect(), &src, src.BoundsRect(), sfNearest, dmOpaque);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(half.GetPixel(x, y), Code(2 * x, 2 * y));
}

// A one-pixel-wide source whose pixels end exactly at the end of its allocation (16 x 4 bytes):
// any read of a column beyond it is caught by AddressSanitizer.
TEST(StretchTransfer, OnePixelWideSourceRepeatsItsEdge) {
  TBitmap32 src;
  src.SetSize(1, 16);
  FillCoded(src);
  for (TStretchFilter f : {sfNearest, sfLinear, sfLinear2, sfSpline}) {
    for (bool packed : {false, true}) {
      KernelScope k(packed);
      TBitmap32 dst;
      dst.SetSize(5, 16);
      StretchTransfer(&dst, dst.BoundsRect(), &src, src.BoundsRect(), f, dmOpaque);
      for (int y = 0; y < 16; ++y)
        for (int x = 1; x < 5; ++x) ASSERT_EQ(dst.GetPixel(x, y), dst.GetPixel(0, y)) << f;
      if (f != sfSpline) {
        EXPECT_EQ(dst.GetPixel(0, 0), src.GetPixel(0, 0)) << f << packed;
      }
    }
  }
}

TEST(Resampler, WeightsTotal256AndUniformPicturesKeepTheirValue) {
  for (TStretchFilter f : {sfLinear2, sfSpline}) {
    for (auto [n, span] :
         {std::pair{1, 10}, {3, 10}, {10, 3}, {1000, 7}, {7, 1000}, {5, 1}, {1, 1}}) {
      TMappingTable t = BuildMappingTable(n, 2, 2 + span, 2 + span, f);
      ASSERT_EQ(t.First.size(), size_t(n) + 1);
      for (int i = 0; i < n; ++i) {
        int sum = 0;
        for (int k = t.First[i]; k < t.First[i + 1]; ++k) {
          sum += t.Weight[k];
          EXPECT_GE(t.Index[k], 0);
          EXPECT_LT(t.Index[k], 2 + span);
        }
        ASSERT_EQ(sum, 256) << f << " n " << n << " span " << span << " i " << i;
      }
    }
    TBitmap32 src;
    src.SetSize(50, 40);
    src.Clear(0xFF7F3F1F);
    src.SetDrawMode(dmOpaque);
    for (TRect r :
         {TRect{0, 0, 1, 1}, TRect{0, 0, 7, 3}, TRect{0, 0, 123, 97}, TRect{0, 0, 50, 1}}) {
      TBitmap32 dst;
      dst.SetSize(r.Right, r.Bottom);
      StretchTransfer(&dst, r, &src, src.BoundsRect(), f, dmOpaque);
      for (int i = 0; i < r.Right * r.Bottom; ++i) ASSERT_EQ(dst.Bits()[i], 0xFF7F3F1Fu) << f;
    }
  }
}

}  // namespace

namespace {

// Bilinear stretching as written: positions step by (SrcW - 1) / DstW in 16.16, rows mixed first
// (columns first when blending below master alpha 255), each mix through the bound CombineReg.
TEST(StretchTransfer, LinearMatchesTheCombineRegRecipeInBothSets) {
  TBitmap32 src;
  src.SetSize(41, 7);
  FillCoded(src);
  // Enlarging, and reducing to fewer than half the columns (each path of the packed loop).
  for (auto [srcRect, dstRect] : {std::pair{TRect{1, 2, 10, 7}, TRect{-3, -2, 27, 17}},
                                  std::pair{TRect{0, 0, 41, 7}, TRect{-1, 0, 14, 4}}})
    for (bool packed : {false, true}) {
      KernelScope k(packed);
      for (uint32_t master : {255u, 140u}) {
        src.SetMasterAlpha(master);
        for (TDrawMode mode : {dmOpaque, dmBlend}) {
          TBitmap32 dst;
          dst.SetSize(20, 12);
          dst.Clear(kBackground);
          StretchTransfer(&dst, dstRect, &src, srcRect, sfLinear, mode);
          const int sw = srcRect.Width(), sh = srcRect.Height();
          const int64_t stepX = (int64_t(sw - 1) << 16) / dstRect.Width();
          const int64_t stepY = (int64_t(sh - 1) << 16) / dstRect.Height();
          for (int y = 0; y < 12; ++y) {
            int64_t py = (y - dstRect.Top) * stepY;
            int r0 = srcRect.Top + int(py >> 16), r1 = std::min(r0 + 1, srcRect.Bottom - 1);
            TColor32 wy = 255 - TColor32((py >> 8) & 255);
            for (int x = 0; x < 20; ++x) {
              if (!PtInRect(dstRect, {x, y})) {
                ASSERT_EQ(dst.GetPixel(x, y), kBackground) << x << "," << y;
                continue;
              }
              int64_t px = (x - dstRect.Left) * stepX;
              int i0 = srcRect.Left + int(px >> 16), i1 = std::min(i0 + 1, srcRect.Right - 1);
              TColor32 wx = 255 - TColor32((px >> 8) & 255);
              auto p = [&](int c, int r) { return src.GetPixel(c, r); };
              TColor32 expected = kBackground, c;
              if (mode == dmBlend && master < 255) {
                c = CombineReg(CombineReg(p(i0, r0), p(i1, r0), wx),
                               CombineReg(p(i0, r1), p(i1, r1), wx), wy);
                BlendMemEx(c, expected, master);
              } else {
                c = CombineReg(CombineReg(p(i0, r0), p(i0, r1), wy),
                               CombineReg(p(i1, r0), p(i1, r1), wy), wx);
                if (mode == dmOpaque)
                  expected = c;
                else
                  BlendMem(c, expected);
              }
              ASSERT_EQ(dst.GetPixel(x, y), expected)
                  << packed << " " << master << " " << mode << " " << x << "," << y;
            }
          }
        }
      }
    }
}

}  // namespace

namespace {

TEST(BlockTransfer, WithinOneBitmapMovesLikeABlit) {
  TBitmap32 b, original;
  b.SetSize(6, 6);
  FillCoded(b);
  original.Assign(&b);
  BlockTransfer(&b, 1, 2, &b, {0, 0, 5, 4}, dmOpaque);  // down and right, overlapping
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) {
      bool moved = x >= 1 && y >= 2;
      EXPECT_EQ(b.GetPixel(x, y), moved ? original.GetPixel(x - 1, y - 2) : original.GetPixel(x, y))
          << x << "," << y;
    }
}

}  // namespace

namespace {

// The resampler against the sum written out over both weight tables at once.
TEST(Resampler, MatchesTheDirectSumOverBothTables) {
  TBitmap32 src;
  src.SetSize(23, 31);
  FillCoded(src);
  const TRect srcRect{2, 1, 21, 30};
  for (TStretchFilter f : {sfLinear2, sfSpline}) {
    for (TRect dstRect : {TRect{0, 0, 9, 5}, TRect{-4, -7, 40, 57}}) {
      TBitmap32 dst;
      dst.SetSize(30, 40);
      StretchTransfer(&dst, dstRect, &src, srcRect, f, dmOpaque);
      TMappingTable cols = BuildMappingTable(dstRect.Width(), srcRect.Left, srcRect.Right, 23, f);
      TMappingTable rows = BuildMappingTable(dstRect.Height(), srcRect.Top, srcRect.Bottom, 31, f);
      for (int y = std::max(dstRect.Top, 0); y < std::min(dstRect.Bottom, 40); ++y) {
        for (int x = std::max(dstRect.Left, 0); x < std::min(dstRect.Right, 30); ++x) {
          const int i = x - dstRect.Left, j = y - dstRect.Top;
          uint32_t acc[4] = {};
          for (int r = rows.First[j]; r < rows.First[j + 1]; ++r)
            for (int c = cols.First[i]; c < cols.First[i + 1]; ++c)
              for (int ch = 0; ch < 4; ++ch)
                acc[ch] += ((src.GetPixel(cols.Index[c], rows.Index[r]) >> (8 * ch)) & 255) *
                           uint32_t(cols.Weight[c] * rows.Weight[r]);
          TColor32 expected = 0;
          for (int ch = 0; ch < 4; ++ch)
            expected |= std::min<uint32_t>((acc[ch] + 0x8000) >> 16, 255) << (8 * ch);
          ASSERT_EQ(dst.GetPixel(x, y), expected) << f << " " << x << "," << y;
        }
      }
    }
  }
}

}  // namespace

namespace {

// The filters' kernels as defined, with their support; the resampler's clusters span
// Floor(centre - 1/s) .. Ceil(centre + 1/s) when enlarging and centre -+ s/scale when reducing.
double Tent(double x) { return std::abs(x) < 1 ? 1 - std::abs(x) : 0; }
double BSpline(double x) {
  x = std::abs(x);
  if (x < 1) return x * x * x / 2 - x * x + 2.0 / 3;
  if (x < 2) return (2 - x) * (2 - x) * (2 - x) / 6;
  return 0;
}

TEST(Resampler, AStepEdgeGivesTheKernelsValues) {
  const std::vector<int> edge = {0, 0, 0, 255, 255, 255};
  const int span = int(edge.size());
  for (TStretchFilter f : {sfLinear2, sfSpline}) {
    const bool spline = f == sfSpline;
    const double support = spline ? 1.5 : 1.001;
    auto kernel = [&](double x) { return spline ? BSpline(x) : Tent(x); };
    for (int n : {3, 4, 11, 16}) {  // reducing and enlarging
      const double scale = double(n - 1) / (span - 1);
      std::vector<int> ideal(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) {
        const double centre = i / scale;
        const double reach = scale >= 1 ? 1 / support : support / scale;
        double sum = 0, total = 0;
        for (int j = int(std::floor(centre - reach)); j <= int(std::ceil(centre + reach)); ++j) {
          const double w = scale >= 1 ? kernel(centre - j) : kernel((centre - j) * scale);
          sum += w * edge[size_t(std::clamp(j, 0, span - 1))];
          total += w;
        }
        ideal[size_t(i)] = int(std::lround(sum / total));
      }
      // The edge across the columns of a row and down the rows of a column.
      for (bool vertical : {false, true}) {
        TBitmap32 src, dst;
        vertical ? src.SetSize(1, span) : src.SetSize(span, 1);
        for (int k = 0; k < span; ++k) {
          const TColor32 grey = Gray32(uint8_t(edge[size_t(k)]), 255);
          vertical ? src.SetPixel(0, k, grey) : src.SetPixel(k, 0, grey);
        }
        vertical ? dst.SetSize(1, n) : dst.SetSize(n, 1);
        StretchTransfer(&dst, dst.BoundsRect(), &src, src.BoundsRect(), f, dmOpaque);
        for (int i = 0; i < n; ++i) {
          const TColor32 p = vertical ? dst.GetPixel(0, i) : dst.GetPixel(i, 0);
          EXPECT_NEAR(int(GreenComponent(p)), ideal[size_t(i)], 1)
              << (spline ? "spline" : "linear") << " to " << n << (vertical ? " rows" : " columns")
              << " at " << i;
          EXPECT_EQ(RedComponent(p), GreenComponent(p));
          EXPECT_EQ(AlphaComponent(p), 255u);
        }
      }
    }
  }
}

// Blending below master alpha 255: each stretched pixel goes over the destination with the
// master alpha (checked against the kernels' channel arithmetic written out).
TEST(StretchTransfer, NearestAndResampledBlendWithTheMasterAlpha) {
  TBitmap32 src;
  src.SetSize(6, 4);
  FillCoded(src);
  for (bool packed : {false, true}) {
    KernelScope k(packed);
    auto blendEx = [&](TColor32 f, TColor32 b, uint32_t m) {
      return packed ? oracle::Packed::BlendMemEx(f, b, m) : oracle::Plain::BlendMemEx(f, b, m);
    };
    for (uint32_t master : {140u, 255u}) {
      src.SetMasterAlpha(master);
      // Nearest, doubled: each source pixel covers a 2 x 2 block.
      TBitmap32 dst;
      dst.SetSize(12, 8);
      dst.Clear(kBackground);
      StretchTransfer(&dst, dst.BoundsRect(), &src, src.BoundsRect(), sfNearest, dmBlend);
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 12; ++x) {
          const TColor32 s = Code(x / 2, y / 2);
          const TColor32 expected = master < 255
                                        ? blendEx(s, kBackground, master)
                                        : (packed ? oracle::Packed::BlendMem(s, kBackground)
                                                  : oracle::Plain::BlendMem(s, kBackground));
          ASSERT_EQ(dst.GetPixel(x, y), expected)
              << packed << " " << master << " " << x << "," << y;
        }
    }
    // Resampled: a uniform picture stays uniform, then goes over with the master alpha, also at
    // 255.
    TBitmap32 uniform;
    uniform.SetSize(5, 3);
    uniform.Clear(0x80C04020);
    for (uint32_t master : {140u, 255u}) {
      uniform.SetMasterAlpha(master);
      for (TStretchFilter f : {sfLinear2, sfSpline}) {
        TBitmap32 dst;
        dst.SetSize(13, 7);
        dst.Clear(kBackground);
        StretchTransfer(&dst, dst.BoundsRect(), &uniform, uniform.BoundsRect(), f, dmBlend);
        const TColor32 expected = blendEx(0x80C04020, kBackground, master);
        for (int i = 0; i < 13 * 7; ++i)
          ASSERT_EQ(dst.Bits()[i], expected) << packed << " " << master << " " << f;
      }
    }
  }
}

}  // namespace
