#pragma once
// What the playback benchmarks share: the length of the run, the process CPU clock, the sound
// they play and their counters.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace vant::bench {

constexpr uint32_t kRate = 48000;
constexpr uint32_t kBytesPerSecond = kRate * 4;

inline int Seconds() {
  const char* s = std::getenv("VANT_BENCH_SECONDS");
  const int v = s ? std::atoi(s) : 60;
  return v > 0 ? v : 60;
}

inline double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

inline std::vector<char> Sound(size_t bytes) {
  std::vector<char> v(bytes);
  for (size_t i = 0; i < bytes; ++i) v[i] = static_cast<char>(i * 13);
  return v;
}

// CPU per second of audio, and how far the heard position had passed each header's end when it
// came back (ms): mean, median and worst.
inline void Report(benchmark::State& state, double cpu, int seconds,
                   const std::vector<double>& lags) {
  double sum = 0, worst = 0;
  for (double l : lags) {
    sum += l;
    worst = std::max(worst, l);
  }
  state.counters["cpu_pct_core"] = 100.0 * cpu / seconds;
  state.counters["lag_ms_mean"] = lags.empty() ? 0 : sum / lags.size();
  state.counters["lag_ms_max"] = worst;
  std::vector<double> sorted = lags;
  std::sort(sorted.begin(), sorted.end());
  state.counters["lag_ms_median"] = sorted.empty() ? 0 : sorted[sorted.size() / 2];
}

}  // namespace vant::bench
