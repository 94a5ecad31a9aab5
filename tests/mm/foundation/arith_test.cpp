#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <functional>

#include "mmint64.h"
#include "mmmath.h"
#include "mmmuldiv.h"

TEST(MulDiv, RoundingAndSigns) {
  const struct {
    const char* what;
    int64_t got, want;
  } cases[] = {
      {"MulDiv32(-7,3,2)", MulDiv32(-7, 3, 2), -10},
      {"MulDiv32(7,3,-2)", MulDiv32(7, 3, -2), -10},
      {"MulDiv32(1e5,1e5,1e5)", MulDiv32(100000, 100000, 100000), 100000},
      {"MulDiv32RN(7,3,2)", MulDiv32RN(7, 3, 2), 11},
      {"MulDiv32RN(-7,3,2)", MulDiv32RN(-7, 3, 2), -11},
      {"MulDiv32RN(7,3,-2)", MulDiv32RN(7, 3, -2), -11},
      {"MulDiv32RN(10,1,3)", MulDiv32RN(10, 1, 3), 3},
      {"MulDiv32RN(-10,2,3)", MulDiv32RN(-10, 2, 3), -7},
      {"MulDivRD(7,3,2)", MulDivRD(7, 3, 2), 10},
      {"MulDivRN(7,3,2)", MulDivRN(7, 3, 2), 11},
      {"MulDivRN(10,1,3)", MulDivRN(10, 1, 3), 3},
      {"MulDivRU(7,3,2)", MulDivRU(7, 3, 2), 11},
      {"MulDivRU(6,1,2)", MulDivRU(6, 1, 2), 3},
      {"MulDivRD(2^32-1,2^32-1,2^32-1)", MulDivRD(UINT32_MAX, UINT32_MAX, UINT32_MAX), UINT32_MAX},
      {"MulDiv64(2^62,8,16)", MulDiv64(int64_t{1} << 62, 8, 16), int64_t{1} << 61},
      {"MulDiv64(-7,3,2)", MulDiv64(-7, 3, 2), -10},
      {"RangeScale(5,0,10,100,200)", RangeScale(5, 0, 10, 100, 200), 150},
      {"RangeScale(15,0,10,100,200)", RangeScale(15, 0, 10, 100, 200), 250},
      {"RangeScale(7,0,10,0,-1)", RangeScale(7, 0, 10, 0, -1), 0},
      {"RangeScale(max,min,max,0,100)", RangeScale(INT_MAX, INT_MIN, INT_MAX, 0, 100), 100},
      {"RangeScaleRN(1,0,3,0,2)", RangeScaleRN(1, 0, 3, 0, 2), 1},
      {"RangeScaleRN(1,0,4,0,2)", RangeScaleRN(1, 0, 4, 0, 2), 0},
      {"RangeScaleRN(3,0,4,0,2)", RangeScaleRN(3, 0, 4, 0, 2), 2},
      {"Sal(-1,33)", Sal(-1, 33), -2},
      {"Sar(-8,2)", Sar(-8, 2), -2},
      {"Sar(-8,34)", Sar(-8, 34), -2},
      {"int64x64(2^40,2^30)", int64x64(int64_t{1} << 40, int64_t{1} << 30), 0},  // 2^70 wraps
      {"int64x64(-3,2^62)", int64x64(-3, int64_t{1} << 62), int64_t{1} << 62},
      {"int64Div32(-7e12,3)", int64Div32(-7000000000000, 3), -2333333333333},
      {"int64Mod32(-7,3)", int64Mod32(-7, 3), -1},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_TRUE(MulCompare(100000, 100000, 50000, 200000));
  EXPECT_FALSE(MulCompare(100000, 100000, 50000, 200001));
  EXPECT_DOUBLE_EQ(RangeScaleF(0.5, 0, 1, -1, 1), 0);
}

TEST(MulDiv, DivMod32SplitsQuotientAndRemainder) {
  uint16_t q = 0, r = 0;
  DivMod32(3723004, 60000, q, r);
  EXPECT_EQ(q, 62);
  EXPECT_EQ(r, 3004);
  EXPECT_THROW(DivMod32(65536u * 3, 3, q, r), EIntOverflow);
}

TEST(MulDiv, ZeroDivisorAndOverflowRaiseInsteadOfCrashing) {
  const std::function<void()> zero[] = {
      [] { MulDiv32(1, 2, 0); },
      [] { MulDiv32RN(1, 2, 0); },
      [] { MulDivRD(1, 2, 0); },
      [] { MulDivRN(1, 2, 0); },
      [] { MulDivRU(1, 2, 0); },
      [] { MulDiv64(1, 2, 0); },
      [] { RangeScale(1, 5, 5, 0, 1); },
      [] { RangeScaleRN(1, 5, 5, 0, 1); },
      [] { RangeScaleF(1, 5, 5, 0, 1); },
      [] { int64Div32(1, 0); },
      [] { int64Mod32(1, 0); },
      [] { ModR(1, 0); },
      [] {
        uint16_t q, r;
        DivMod32(1, 0, q, r);
      },
  };
  for (size_t i = 0; i < std::size(zero); ++i) EXPECT_THROW(zero[i](), EDivByZero) << i;
  const std::function<void()> overflow[] = {
      [] { MulDiv32(INT_MAX, 2, 1); },
      [] { MulDiv32(INT_MIN, -1, 1); },
      [] { MulDivRU(UINT32_MAX, 2, 1); },
      [] { MulDiv64(INT64_MAX, 2, 1); },
      [] { RangeScale(INT_MAX, 0, 1, 0, 2); },
      [] { Ceil(3e9L); },
      [] { Floor(NAN); },
  };
  for (size_t i = 0; i < std::size(overflow); ++i) EXPECT_THROW(overflow[i](), EIntOverflow) << i;
}

TEST(MMMath, ClampingRoundingAndFunctions) {
  const struct {
    const char* what;
    Extended got, want;
  } cases[] = {
      {"Ceil(-1.5)", Extended(Ceil(-1.5L)), -1},
      {"Floor(-1.5)", Extended(Floor(-1.5L)), -2},
      {"Ceil(2.0)", Extended(Ceil(2.0L)), 2},
      {"Floor(2.0)", Extended(Floor(2.0L)), 2},
      {"Ceil(0.1)", Extended(Ceil(0.1L)), 1},
      {"Floor(-0.0)", Extended(Floor(-0.0L)), 0},
      {"LimitR(5,10,0)", LimitR(5, 10, 0), 5},
      {"LimitR(12,10,0)", LimitR(12, 10, 0), 10},
      {"LimitR(-1,10,0)", LimitR(-1, 10, 0), 0},
      {"LimitR(12,0,10)", LimitR(12, 0, 10), 10},
      {"MinMaxR(-3,0,9)", MinMaxR(-3, 0, 9), 0},
      {"MinR(2,1)", MinR(2, 1), 1},
      {"MaxR(2,1)", MaxR(2, 1), 2},
      {"ModR(-7,3)", ModR(-7, 3), -1},
      {"ModR(7.5,-2)", ModR(7.5L, -2), 1.5L},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
  EXPECT_NEAR(static_cast<double>(Pow(10, 0.5L)), 3.16227766016838, 1e-13);
  EXPECT_NEAR(static_cast<double>(Pow(10, -20.0L / 20)), 0.1, 1e-15);
  EXPECT_NEAR(static_cast<double>(ArcCos(0)), M_PI / 2, 1e-15);
  EXPECT_NEAR(static_cast<double>(ArcSin(-1)), -M_PI / 2, 1e-15);
  EXPECT_NEAR(static_cast<double>(ArcTan2(-1, -1)), -3 * M_PI / 4, 1e-15);
  EXPECT_NEAR(static_cast<double>(Cotan(M_PI / 4)), 1, 1e-15);
  EXPECT_NEAR(static_cast<double>(Log2(1024)), 10, 1e-15);
  EXPECT_NEAR(static_cast<double>(Log10(1e-3L)), -3, 1e-15);
  EXPECT_TRUE(std::isnan(Log(-1)));
  EXPECT_TRUE(std::isnan(Pow(-2, 2)));
}
