// Accuracy and cost of the timer thread: the spread of tick intervals and the process CPU time
// per second of ticking, beside a plain sleep_until loop as the reference.
//
// Each case ticks for VANT_BENCH_SECONDS (default 10) seconds of wall time.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "timerservice.h"

namespace {

using Steady = std::chrono::steady_clock;

int Seconds() {
  const char* s = std::getenv("VANT_BENCH_SECONDS");
  int v = s ? std::atoi(s) : 10;
  return v > 0 ? v : 10;
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

// Tick times recorded by the ticker under test; the caller only waits.
class TickLog {
 public:
  explicit TickLog(size_t expected) { times_.reserve(expected + 16); }
  void Tick() {
    std::lock_guard lock(mutex_);
    times_.push_back(Steady::now());
  }
  std::vector<Steady::time_point> Take() {
    std::lock_guard lock(mutex_);
    return times_;
  }

 private:
  std::mutex mutex_;
  std::vector<Steady::time_point> times_;
};

struct Run {
  std::vector<Steady::time_point> ticks;
  double wall_seconds;
  double cpu_seconds;
};

// Runs `start` (which begins ticking into the log and returns a stop function) for the
// configured time and measures it.
template <typename Start>
Run Measure(int period_ms, Start start) {
  const int seconds = Seconds();
  TickLog log(static_cast<size_t>(seconds) * 1000 / period_ms);
  const double cpu0 = ProcessCpuSeconds();
  const auto t0 = Steady::now();
  auto stop = start(period_ms, log);
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop();
  Run r{log.Take(), std::chrono::duration<double>(Steady::now() - t0).count(), 0};
  r.cpu_seconds = ProcessCpuSeconds() - cpu0;
  return r;
}

void Report(benchmark::State& state, int period_ms, const Run& r) {
  std::vector<double> dev;  // interval minus period, microseconds
  for (size_t i = 1; i < r.ticks.size(); ++i) {
    double us = std::chrono::duration<double, std::micro>(r.ticks[i] - r.ticks[i - 1]).count();
    dev.push_back(us - period_ms * 1000.0);
  }
  double mean = 0, sq = 0, worst = 0;
  for (double d : dev) {
    mean += d;
    sq += d * d;
    worst = std::max(worst, std::fabs(d));
  }
  if (!dev.empty()) {
    mean /= dev.size();
    sq = std::sqrt(sq / dev.size() - mean * mean);
  }
  std::sort(dev.begin(), dev.end());
  auto pct = [&](double p) { return dev.empty() ? 0.0 : dev[size_t(p * (dev.size() - 1))]; };
  state.counters["ticks"] = double(r.ticks.size());
  state.counters["mean_dev_us"] = mean;
  state.counters["stddev_us"] = sq;
  state.counters["p1_dev_us"] = pct(0.01);
  state.counters["p99_dev_us"] = pct(0.99);
  state.counters["max_abs_dev_us"] = worst;
  state.counters["cpu_pct_of_core"] = 100.0 * r.cpu_seconds / r.wall_seconds;
}

void BM_TimerService(benchmark::State& state) {
  const int period = int(state.range(0));
  for (auto _ : state) {
    Run r = Measure(period, [](int p, TickLog& log) {
      static vant::SystemClock clock;
      auto service = std::make_shared<vant::ThreadTimerService>(clock);
      vant::TimerId id = service->StartPeriodic(p, [&log](vant::TimerId) { log.Tick(); });
      return [service, id] { service->Kill(id); };
    });
    Report(state, period, r);
  }
}

// The reference: a dedicated thread sleeping until each deadline.
void BM_SleepUntilThread(benchmark::State& state) {
  const int period = int(state.range(0));
  for (auto _ : state) {
    Run r = Measure(period, [](int p, TickLog& log) {
      auto stop = std::make_shared<std::atomic<bool>>(false);
      auto thread = std::make_shared<std::thread>([p, &log, stop] {
        auto next = Steady::now() + std::chrono::milliseconds(p);
        while (!*stop) {
          std::this_thread::sleep_until(next);
          log.Tick();
          next += std::chrono::milliseconds(p);
        }
      });
      return [stop, thread] {
        *stop = true;
        thread->join();
      };
    });
    Report(state, period, r);
  }
}

}  // namespace

BENCHMARK(BM_SleepUntilThread)
    ->Arg(25)
    ->Arg(1)
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kSecond);
BENCHMARK(BM_TimerService)->Arg(25)->Arg(1)->Iterations(1)->UseRealTime()->Unit(benchmark::kSecond);
BENCHMARK_MAIN();
