// The library's sort and scaling beside their standard references.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "mmmuldiv.h"
#include "mmsearch.h"

namespace {

int CompareInt(const void* a, const void* b) {
  const int x = *static_cast<const int*>(a), y = *static_cast<const int*>(b);
  return (x > y) - (x < y);
}

std::vector<int> Data(size_t n, int range) {
  std::mt19937 rng(42);
  std::vector<int> v(n);
  for (int& x : v) x = static_cast<int>(rng() % static_cast<unsigned>(range));
  return v;
}

template <void (*Sort)(void*, size_t, size_t, int (*)(const void*, const void*))>
void BM_Sort(benchmark::State& state) {
  const auto data = Data(static_cast<size_t>(state.range(0)), static_cast<int>(state.range(1)));
  for (auto _ : state) {
    state.PauseTiming();
    auto v = data;
    state.ResumeTiming();
    Sort(v.data(), v.size(), sizeof(int), CompareInt);
    benchmark::DoNotOptimize(v.data());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

void LibcSort(void* base, size_t n, size_t size, int (*cmp)(const void*, const void*)) {
  std::qsort(base, n, size, cmp);
}

void BM_MulDiv32(benchmark::State& state) {
  const auto v = Data(4096, 1 << 20);
  for (auto _ : state)
    for (int x : v) benchmark::DoNotOptimize(MulDiv32(x, 48000, 44100));
  state.SetItemsProcessed(state.iterations() * 4096);
}

void BM_PlainMulDiv(benchmark::State& state) {
  const auto v = Data(4096, 1 << 20);
  for (auto _ : state)
    for (int x : v) benchmark::DoNotOptimize(static_cast<int>(int64_t{x} * 48000 / 44100));
  state.SetItemsProcessed(state.iterations() * 4096);
}

}  // namespace

BENCHMARK(BM_Sort<mm::qsort>)->Args({100000, 1 << 30})->Args({100000, 4});
BENCHMARK(BM_Sort<LibcSort>)->Args({100000, 1 << 30})->Args({100000, 4});
BENCHMARK(BM_MulDiv32);
BENCHMARK(BM_PlainMulDiv);
BENCHMARK_MAIN();
