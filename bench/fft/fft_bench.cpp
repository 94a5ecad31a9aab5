// The real FFT of the spectrum displays beside FFTW's single-precision real transform, same
// sizes, same input, same run. FFTW gets FFTW_MEASURE plans, its best case.
#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <cstring>
#include <random>
#include <vector>

#include "mmfft.h"

namespace {

std::vector<float> Input(int n) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> d(-1.0f, 1.0f);
  std::vector<float> v(static_cast<size_t>(n));
  for (float& f : v) f = d(rng);
  return v;
}

void BM_DoRealFFT(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const int n = 1 << order;
  auto plan = InitRealFFT(order);
  const std::vector<float> input = Input(n);
  std::vector<float> data(input);
  for (auto _ : state) {
    std::memcpy(data.data(), input.data(), sizeof(float) * n);
    DoRealFFT(plan.get(), data.data(), 1);
    benchmark::DoNotOptimize(data.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}

void BM_FFTW_r2c(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  const int n = 1 << order;
  float* in = fftwf_alloc_real(n);
  fftwf_complex* out = fftwf_alloc_complex(n / 2 + 1);
  fftwf_plan plan = fftwf_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE);
  const std::vector<float> input = Input(n);
  for (auto _ : state) {
    std::memcpy(in, input.data(), sizeof(float) * n);
    fftwf_execute(plan);
    benchmark::DoNotOptimize(out);
  }
  state.SetItemsProcessed(state.iterations() * n);
  fftwf_destroy_plan(plan);
  fftwf_free(out);
  fftwf_free(in);
}

}  // namespace

BENCHMARK(BM_DoRealFFT)->DenseRange(7, 12);
BENCHMARK(BM_FFTW_r2c)->DenseRange(7, 12);
BENCHMARK_MAIN();
