#include "g32_blend.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "blend_oracle.h"

namespace {

using namespace g32;

// Four channels that each run through every value as v does, each lane differently, so a channel
// swapped or masked wrongly cannot hide behind equal neighbours.
uint32_t Spread(uint32_t v, uint32_t offset) {
  uint32_t r = 0;
  for (int i = 0; i < 4; ++i) r |= ((v + offset * i) & 0xFF) << (8 * i);
  return r;
}
// Three spread colour channels under an explicit alpha.
uint32_t WithAlpha(uint32_t a, uint32_t v) { return a << 24 | (Spread(v, 77) & 0xFFFFFF); }

struct PlainSet {
  using Oracle = oracle::Plain;
  static const TBlendKernels& Kernels() { return PlainKernels(); }
};
struct PackedSet {
  using Oracle = oracle::Packed;
  static const TBlendKernels& Kernels() { return PackedKernels(); }
};

// The packed set with 128-bit lines, whichever lines the processor binds.
struct PackedSse2Set {
  using Oracle = oracle::Packed;
  static const TBlendKernels& Kernels() { return PackedKernelsSse2(); }
};

template <typename Set>
class KernelSet : public ::testing::Test {};
using Sets = ::testing::Types<PlainSet, PackedSet, PackedSse2Set>;
TYPED_TEST_SUITE(KernelSet, Sets);

// Every (foreground, background, weight) combination per channel.
TYPED_TEST(KernelSet, CombineRegAndMemExhaustive) {
  const auto& k = TypeParam::Kernels();
  using O = typename TypeParam::Oracle;
  for (uint32_t w = 0; w < 256; ++w) {
    for (uint32_t f = 0; f < 256; ++f) {
      const uint32_t F = Spread(f, 85);
      for (uint32_t b = 0; b < 256; ++b) {
        const uint32_t B = Spread(b, 37);
        ASSERT_EQ(k.CombineReg(F, B, w), O::CombineReg(F, B, w)) << w << " " << f << " " << b;
        uint32_t mem = B;
        k.CombineMem(F, mem, w);
        ASSERT_EQ(mem, O::CombineMem(F, B, w)) << w << " " << f << " " << b;
      }
    }
  }
}

// Every (foreground alpha, colour, background) combination; the alpha is the weight.
TYPED_TEST(KernelSet, BlendRegAndMemExhaustive) {
  const auto& k = TypeParam::Kernels();
  using O = typename TypeParam::Oracle;
  for (uint32_t a = 0; a < 256; ++a) {
    for (uint32_t c = 0; c < 256; ++c) {
      const uint32_t F = WithAlpha(a, c);
      for (uint32_t b = 0; b < 256; ++b) {
        const uint32_t B = Spread(b, 53);
        ASSERT_EQ(k.BlendReg(F, B), O::BlendReg(F, B)) << a << " " << c << " " << b;
        uint32_t mem = B;
        k.BlendMem(F, mem);
        ASSERT_EQ(mem, O::BlendMem(F, B)) << a << " " << c << " " << b;
      }
    }
  }
}

// Every (alpha, colour, background) at the master alphas the programs use, and every
// (alpha, master) pair over a set of channel extremes.
TYPED_TEST(KernelSet, BlendExKernelsExhaustive) {
  const auto& k = TypeParam::Kernels();
  using O = typename TypeParam::Oracle;
  auto check = [&](uint32_t F, uint32_t B, uint32_t m) {
    uint32_t mem = B;
    k.BlendMemEx(F, mem, m);
    return k.BlendRegEx(F, B, m) == O::BlendRegEx(F, B, m) && mem == O::BlendMemEx(F, B, m);
  };
  for (uint32_t m : {255u, 128u, 1u}) {
    for (uint32_t a = 0; a < 256; ++a)
      for (uint32_t c = 0; c < 256; ++c)
        for (uint32_t b = 0; b < 256; ++b)
          ASSERT_TRUE(check(WithAlpha(a, c), Spread(b, 53), m)) << m << " " << a << " " << c;
  }
  const uint32_t channels[] = {0, 1, 127, 128, 129, 254, 255};
  for (uint32_t m = 0; m < 256; ++m)
    for (uint32_t a = 0; a < 256; ++a)
      for (uint32_t c : channels)
        for (uint32_t b : channels)
          ASSERT_TRUE(check(a << 24 | c * 0x010101u, b * 0x01010101u, m)) << m << " " << a;
}

// Lines equal the per-pixel kernel for every count up to a few vectors past a multiple of the
// lane width, at every alignment, and touch nothing past Count.
TYPED_TEST(KernelSet, LinesMatchPixelKernels) {
  const auto& k = TypeParam::Kernels();
  std::mt19937 rng(7);
  const uint32_t alphas[] = {0, 255, 1, 128, 254};
  auto pixel = [&] {
    uint32_t a = rng() % 3 == 0 ? rng() & 0xFF : alphas[rng() % 5];
    return a << 24 | (rng() & 0xFFFFFF);
  };
  for (int count = 0; count <= 35; ++count) {
    for (int srcOff = 0; srcOff < 4; ++srcOff) {
      for (int dstOff = 0; dstOff < 4; ++dstOff) {
        std::vector<uint32_t> src(count + 8), dst(count + 8);
        for (auto& p : src) p = pixel();
        for (auto& p : dst) p = rng();
        for (uint32_t m : {255u, 200u, 0u}) {
          auto expected = dst, line = dst, lineEx = dst, expectedEx = dst;
          for (int i = 0; i < count; ++i) {
            k.BlendMem(src[srcOff + i], expected[dstOff + i]);
            k.BlendMemEx(src[srcOff + i], expectedEx[dstOff + i], m);
          }
          k.BlendLine(src.data() + srcOff, line.data() + dstOff, count);
          k.BlendLineEx(src.data() + srcOff, lineEx.data() + dstOff, count, m);
          ASSERT_EQ(line, expected) << count << " " << srcOff << " " << dstOff;
          ASSERT_EQ(lineEx, expectedEx) << count << " " << srcOff << " " << dstOff << " " << m;
        }
      }
    }
  }
  std::vector<uint32_t> s(4, 0x80FFFFFF), d(4, 0x12345678);
  k.BlendLine(s.data(), d.data(), -3);
  k.BlendLineEx(s.data(), d.data(), -1, 255);
  EXPECT_EQ(d, std::vector<uint32_t>(4, 0x12345678));
}

TEST(Kernels, DocumentedVectors) {
  const auto& plain = PlainKernels();
  const auto& packed = PackedKernels();
  uint32_t b = 0xFF0000FF;
  plain.BlendMem(0x80FF0000, b);
  EXPECT_EQ(b, 0xBF80007Fu);
  b = 0xFF0000FF;
  packed.BlendMem(0x80FF0000, b);
  EXPECT_EQ(b, 0xC0800080u);
  EXPECT_EQ(packed.BlendReg(0xFF000000, 0xFFFFFFFF), 0xFF010101u);
  EXPECT_EQ(plain.BlendReg(0xFF000000, 0xFFFFFFFF), 0xFF000000u);
  // Plain Ex kernels leave alpha 0 in a blended pixel; the packed set blends it.
  b = 0xFF000000;
  plain.BlendMemEx(0xFFFFFFFF, b, 255);
  EXPECT_EQ(b >> 24, 0u);
  b = 0xFF000000;
  packed.BlendMemEx(0xFFFFFFFF, b, 255);
  EXPECT_EQ(b >> 24, 255u);
  // M = 1 with Fa = 255 gives W = 0: nothing changes.
  for (const auto* k : {&plain, &packed}) {
    b = 0x11223344;
    k->BlendMemEx(0xFFFFFFFF, b, 1);
    EXPECT_EQ(b, 0x11223344u);
  }
}

TEST(Kernels, BoundAtStartup) {
  EXPECT_TRUE(HasMMX());  // x86-64
  EXPECT_TRUE(MMX_ACTIVE);
  EXPECT_EQ(BlendLine, PackedKernels().BlendLine);
  EXPECT_EQ(CombineReg, PackedKernels().CombineReg);
}

TEST(ColorArithmetic, PerChannel) {
  EXPECT_EQ(ColorAdd(0x80FF1020, 0x90017F20), 0xFFFF8F40u);
  EXPECT_EQ(ColorSub(0x80FF1020, 0x90017F10), 0x00FE0010u);
  EXPECT_EQ(ColorModulate(0xFF808080, 0xFF80FF00), 0xFE407F00u);
  EXPECT_EQ(ColorMax(0x10FF0020, 0x2000FF10), 0x20FFFF20u);
  EXPECT_EQ(ColorMin(0x10FF0020, 0x2000FF10), 0x10000010u);
  EXPECT_EQ(Lighten(0x80F01005, 20), 0x80FF2419u);
  EXPECT_EQ(Lighten(0x80F01005, -20), 0x80DC0000u);
}

}  // namespace
