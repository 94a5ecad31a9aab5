#include "mmfft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <vector>

namespace {

#include "window_tables.inc"

using Cd = std::complex<double>;

// Reference: the direct DFT in double precision, forward sign exp(-i...).
std::vector<Cd> Dft(const std::vector<Cd>& x, int sign) {
  const size_t n = x.size();
  std::vector<Cd> out(n);
  for (size_t k = 0; k < n; ++k) {
    Cd sum = 0;
    for (size_t j = 0; j < n; ++j) {
      const double a = sign * 2.0 * std::numbers::pi * double((k * j) % n) / double(n);
      sum += x[j] * Cd(std::cos(a), std::sin(a));
    }
    out[k] = sum;
  }
  return out;
}

std::vector<float> Noise(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(n);
  for (float& f : v) f = d(rng);
  return v;
}

// Single precision over N points: errors grow with log N; scale the bound by the signal's size.
double Tolerance(int n) { return 2e-6 * std::sqrt(double(n)) * std::log2(double(n)); }

TEST(FFTPlan, OrdersOutsideThreeToSixteenAreRefused) {
  for (int order : {0, 1, 2, 17, 32, -1}) {
    EXPECT_EQ(InitRealFFT(order), nullptr) << order;
    EXPECT_EQ(InitCplxFFT(order), nullptr) << order;
  }
  auto plan = InitRealFFT(8);
  ASSERT_TRUE(plan);
  EXPECT_EQ(plan->Size, 256);
  EXPECT_FLOAT_EQ(plan->InvSize, 1.0f / 256);
  DoneRealFFT(plan);
  EXPECT_EQ(plan, nullptr);
  DoRealFFT(nullptr, nullptr, 1);  // does nothing
}

TEST(FFTReal, MatchesDoublePrecisionDftForOrdersThreeToTwelve) {
  for (int order = 3; order <= 12; ++order) {
    const int n = 1 << order;
    auto plan = InitRealFFT(order);
    ASSERT_TRUE(plan);
    const std::vector<float> x = Noise(size_t(n), unsigned(order));
    std::vector<Cd> xc(x.begin(), x.end());
    const std::vector<Cd> ref = Dft(xc, -1);
    std::vector<float> d = x;
    DoRealFFT(plan.get(), d.data(), 1);
    const double tol = Tolerance(n);
    EXPECT_NEAR(d[0], ref[0].real(), tol) << "order " << order;
    EXPECT_EQ(d[1], 0.0f);
    for (int k = 1; k < n / 2; ++k) {
      ASSERT_NEAR(d[2 * k], ref[size_t(k)].real(), tol) << "order " << order << " bin " << k;
      ASSERT_NEAR(d[2 * k + 1], ref[size_t(k)].imag(), tol) << "order " << order << " bin " << k;
    }
    // The inverse takes data[1] as the Nyquist term; with it restored the round trip is exact.
    d[1] = float(ref[size_t(n / 2)].real());
    DoRealFFT(plan.get(), d.data(), -1);
    for (int i = 0; i < n; ++i) ASSERT_NEAR(d[i], x[i], 1e-5) << "order " << order << " i " << i;
  }
}

TEST(FFTReal, ConstantBlockHasOnlyDc) {
  auto plan = InitRealFFT(6);
  std::vector<float> d(64, 1.0f);
  DoRealFFT(plan.get(), d.data(), 1);
  EXPECT_FLOAT_EQ(d[0], 64.0f);
  for (size_t i = 1; i < d.size(); ++i) EXPECT_NEAR(d[i], 0.0f, 1e-5) << i;
}

TEST(FFTComplex, BothLayoutsMatchTheDftAndInvert) {
  for (int order = 3; order <= 12; ++order) {
    const int n = 1 << order;
    auto plan = InitCplxFFT(order);
    ASSERT_TRUE(plan);
    const std::vector<float> re0 = Noise(size_t(n), 100u + unsigned(order));
    const std::vector<float> im0 = Noise(size_t(n), 200u + unsigned(order));
    std::vector<Cd> xc(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) xc[size_t(i)] = Cd(re0[size_t(i)], im0[size_t(i)]);
    const std::vector<Cd> fwd = Dft(xc, -1);
    const double tol = Tolerance(n);

    std::vector<float> re = re0, im = im0;
    DoCplxFFTa(plan.get(), re.data(), im.data(), 1);
    std::vector<TfCplx> inter(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) inter[size_t(i)] = {re0[size_t(i)], im0[size_t(i)]};
    DoCplxFFTb(plan.get(), inter.data(), 1);
    for (int k = 0; k < n; ++k) {
      ASSERT_NEAR(re[size_t(k)], fwd[size_t(k)].real(), tol) << order << "/" << k;
      ASSERT_NEAR(im[size_t(k)], fwd[size_t(k)].imag(), tol) << order << "/" << k;
      ASSERT_NEAR(inter[size_t(k)].re, fwd[size_t(k)].real(), tol) << order << "/" << k;
      ASSERT_NEAR(inter[size_t(k)].im, fwd[size_t(k)].imag(), tol) << order << "/" << k;
    }
    DoCplxFFTa(plan.get(), re.data(), im.data(), -1);
    DoCplxFFTb(plan.get(), inter.data(), -1);
    for (int i = 0; i < n; ++i) {
      ASSERT_NEAR(re[size_t(i)], re0[size_t(i)], 1e-5);
      ASSERT_NEAR(im[size_t(i)], im0[size_t(i)], 1e-5);
      ASSERT_NEAR(inter[size_t(i)].re, re0[size_t(i)], 1e-5);
      ASSERT_NEAR(inter[size_t(i)].im, im0[size_t(i)], 1e-5);
    }
  }
}

TEST(FFTReal, LargestOrderFindsItsTone) {
  auto plan = InitRealFFT(16);
  ASSERT_TRUE(plan);
  const int n = 1 << 16, bin = 12345;
  std::vector<float> d(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) d[size_t(i)] = float(std::sin(2 * std::numbers::pi * bin * i / n));
  DoRealFFT(plan.get(), d.data(), 1);
  // A sine of amplitude 1 gives magnitude N/2 at its bin (imaginary -N/2 with exp(-i...)).
  EXPECT_NEAR(d[2 * bin + 1], -n / 2.0, 0.5);
  EXPECT_NEAR(d[2 * bin], 0.0, 0.5);
  EXPECT_NEAR(d[2 * (bin + 1) + 1], 0.0, 0.5);
}

TEST(FFTWindow, TablesMatchIndependentValues) {
  const int n = 1 << kWindowOrder;
  for (const auto& row : kWindowRows) {
    std::vector<float> f(static_cast<size_t>(n));
    std::vector<int32_t> ints(static_cast<size_t>(n));
    GenWindowTableFloat(f.data(), row.window, kWindowOrder);
    GenWindowTableInt(ints.data(), row.window, kWindowOrder);
    for (int i = 0; i < n; ++i) {
      EXPECT_NEAR(f[size_t(i)], row.values[i], 1e-7) << row.window << " " << i;
      EXPECT_EQ(ints[size_t(i)], row.ints[i]) << row.window << " " << i;
    }
  }
  std::vector<int32_t> hanning(256);
  GenWindowTableInt(hanning.data(), fwHanning, 8);
  EXPECT_EQ(hanning[0], 0);
  EXPECT_EQ(hanning[128], 32767);
  EXPECT_FLOAT_EQ(CalcWindowFunc(fwWelch, 128, 256), 1.0f);
  EXPECT_FLOAT_EQ(CalcWindowFunc(fwParzen, 0, 256), float(1.0 - 256.0 / 257.0));
  EXPECT_FLOAT_EQ(CalcWindowFunc(static_cast<TMMFFTWindow>(99), 3, 16), 1.0f);

  std::vector<int32_t> data(16, 1000);
  CalcWindowInt(data.data(), fwHanning, 4);
  EXPECT_EQ(data[0], 0);
  EXPECT_EQ(data[4], 500);  // trunc(0.5 * 1000)
  std::vector<float> fl(16, 2.0f);
  CalcWindowFloat(fl.data(), fwHamming, 4);
  EXPECT_FLOAT_EQ(fl[0], 2 * kWindowRows[1].values[0]);
}

TEST(FFTTables, BitReversal) {
  uint32_t t[8];
  GenBitRevTable(t, 3);
  EXPECT_EQ(std::vector<uint32_t>(t, t + 8), std::vector<uint32_t>({0, 4, 2, 6, 1, 5, 3, 7}));
}

}  // namespace
