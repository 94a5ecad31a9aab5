// A connector feeding the converter's two level bars from 48 kHz stereo, buffers of 16,000
// bytes, as the player window runs them:
// - BM_ConnectorBarsManualClock: 10 s of audio through the shared loop and the toolkit's queue,
//   on a clock and timers moved by hand as fast as the passes run; process CPU time per second
//   of audio (`cpu_pct_core`, % of one core). BM_ConnectorBarsPassesOnly: the passes alone.
//   Reference: BM_SlicePeaksOnly, the bare reduction of the same slices to their peaks.
// - BM_ConnectorBarsRealClock: VANT_BENCH_SECONDS (default 10) seconds of buffers arriving in
//   real time from a device thread; how late each slice was drawn after it fell due
//   (`lag_ms_median`, `lag_ms_p95`, `lag_ms_max`) and the CPU time per second of audio.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <QEventLoop>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "clock.h"
#include "dispatch.h"
#include "mmconnector.h"
#include "mmlevel.h"
#include "mmpcmsup.h"
#include "timerservice.h"
#include "ui_application.h"
#include "ui_form.h"

namespace {

using namespace vant;

constexpr int kBuffer = 16000;
constexpr int kBuffersPer10s = 120;  // 10 s at 192,000 bytes per second

int Seconds() {
  const char* s = std::getenv("VANT_BENCH_SECONDS");
  const int v = s ? std::atoi(s) : 10;
  return v > 0 ? v : 10;
}

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

WAVEFORMATEX Stereo48k() {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  return f;
}

// A buffer whose left samples count the frames and whose right samples carry the buffer's
// number, so a slice tells which buffer and where in it it came from; loud enough to move bars.
std::vector<uint8_t> Buffer(int number) {
  std::vector<uint8_t> v(kBuffer);
  for (int i = 0; i < kBuffer / 4; ++i) {
    const int16_t l = static_cast<int16_t>(i * 8), r = static_cast<int16_t>(number);
    std::memcpy(&v[i * 4], &l, 2);
    std::memcpy(&v[i * 4 + 2], &r, 2);
  }
  return v;
}

// Timers that tick only when stepped, on the stepping thread: the manual clock's runs then
// measure the connector's work and not the hand-offs of a timer thread.
class SteppedTimers final : public TimerService {
 public:
  TimerId StartPeriodic(int period_ms, Callback callback) override {
    timers_.push_back({++next_, period_ms, 0, std::move(callback)});
    return next_;
  }
  void Kill(TimerId id) override {
    std::erase_if(timers_, [id](const Timer& t) { return t.id == id; });
  }
  bool IsTimerThread() const override { return false; }
  void Step(int ms) {
    std::vector<TimerId> ids;
    for (const Timer& t : timers_) ids.push_back(t.id);
    for (TimerId id : ids) {
      auto it =
          std::find_if(timers_.begin(), timers_.end(), [id](const Timer& t) { return t.id == id; });
      if (it == timers_.end() || (it->elapsed += ms) < it->period) continue;
      it->elapsed = 0;
      Callback cb = it->callback;  // a callback may kill its own timer
      cb(id);
    }
  }

 private:
  struct Timer {
    TimerId id;
    int period, elapsed;
    Callback callback;
  };
  std::vector<Timer> timers_;
  TimerId next_ = 0;
};

// The converter's bar, which notes when each slice was drawn.
class TimedBar : public TMMLevel {
 public:
  using TMMLevel::TMMLevel;
  void RefreshPCMData(const void* slice) override {
    TMMLevel::RefreshPCMData(slice);
    int16_t frame8, number;
    std::memcpy(&frame8, slice, 2);
    std::memcpy(&number, static_cast<const uint8_t*>(slice) + 2, 2);
    drawn.push_back({number, frame8 / 8, GetClock().NowMicros()});
  }
  struct Draw {
    int buffer, frame;
    int64_t at;
  };
  std::vector<Draw> drawn;
};

struct Setup {
  TForm form{nullptr};
  TMMConnector connector{nullptr};
  TimedBar* bars[2];
  Setup() {
    Application->Initialize();
    form.SetBounds(0, 0, 60, 60);
    form.Show();
    for (int i = 0; i < 2; ++i) {
      bars[i] = new TimedBar(&form);
      bars[i]->SetParent(&form);
      bars[i]->SetKind(lkVertical);
      bars[i]->SetBounds(10 + 10 * i, 10, 5, 30);
      bars[i]->SetSpotWidth(1);
      bars[i]->SetSpotSpace(1);
      bars[i]->SetChannel(i == 0 ? chLeft : chRight);
      connector.SetLevel(i + 1, bars[i]);
    }
    const WAVEFORMATEX f = Stereo48k();
    connector.SetPWaveFormat(&f);
    connector.SetBufferSize(kBuffer);
    connector.Opened();
    connector.Started();
  }
  ~Setup() {
    connector.Stopped();
    connector.Closed();
  }
};

void BM_SlicePeaksOnly(benchmark::State& state) {
  const WAVEFORMATEX f = Stereo48k();
  std::vector<std::vector<uint8_t>> buffers;
  for (int b = 0; b < kBuffersPer10s; ++b) buffers.push_back(Buffer(b));
  double cpu = 0;
  for (auto _ : state) {
    const double c0 = ProcessCpuSeconds();
    int sum = 0;
    for (const auto& buf : buffers) {
      for (int off = 0; off + 200 <= kBuffer; off += 200) {
        int l, r;
        PCMFINDPEAK(&f, buf.data() + off, 200, l, r);
        sum += l + r;
      }
    }
    benchmark::DoNotOptimize(sum);
    cpu += ProcessCpuSeconds() - c0;
  }
  state.counters["cpu_pct_core"] = cpu / state.iterations() / 10.0 * 100;
}
BENCHMARK(BM_SlicePeaksOnly)->Unit(benchmark::kMillisecond);

void BM_ConnectorBarsManualClock(benchmark::State& state) {
  ManualClock clock;
  SteppedTimers timers;
  SetClock(&clock);
  SetTimerService(&timers);
  std::vector<std::vector<uint8_t>> buffers;
  for (int b = 0; b < kBuffersPer10s; ++b) buffers.push_back(Buffer(b));
  double cpu = 0;
  size_t slices = 0;
  for (auto _ : state) {
    Setup s;
    Application->ProcessMessages();
    const double c0 = ProcessCpuSeconds();
    int64_t next = clock.NowMicros();
    for (const auto& buf : buffers) {
      s.connector.NewBuffer(buf.data(), kBuffer);
      next += 83'333;
      while (clock.NowMicros() < next) {
        clock.Advance(1000);
        timers.Step(1);
        Application->ProcessMessages();
      }
    }
    cpu += ProcessCpuSeconds() - c0;
    slices += s.bars[0]->drawn.size();
  }
  SetTimerService(nullptr);
  SetClock(nullptr);
  state.counters["cpu_pct_core"] = cpu / state.iterations() / 10.0 * 100;
  state.counters["slices_per_bar"] = static_cast<double>(slices) / state.iterations();
}
BENCHMARK(BM_ConnectorBarsManualClock)->Unit(benchmark::kMillisecond)->Iterations(3);

// The same passes run on demand (Trigger) instead of through the timer thread and the message
// queue: the cost of the connector and the bars alone.
void BM_ConnectorBarsPassesOnly(benchmark::State& state) {
  ManualClock clock;
  SetClock(&clock);
  std::vector<std::vector<uint8_t>> buffers;
  for (int b = 0; b < kBuffersPer10s; ++b) buffers.push_back(Buffer(b));
  double cpu = 0;
  size_t slices = 0;
  for (auto _ : state) {
    Setup s;
    s.connector.SetAutoTrigger(false);
    Application->ProcessMessages();
    const double c0 = ProcessCpuSeconds();
    int64_t next = clock.NowMicros();
    for (const auto& buf : buffers) {
      s.connector.NewBuffer(buf.data(), kBuffer);
      next += 83'333;
      while (clock.NowMicros() < next) {
        clock.Advance(1000);
        s.connector.Trigger();
      }
    }
    cpu += ProcessCpuSeconds() - c0;
    slices += s.bars[0]->drawn.size();
  }
  SetClock(nullptr);
  state.counters["cpu_pct_core"] = cpu / state.iterations() / 10.0 * 100;
  state.counters["slices_per_bar"] = static_cast<double>(slices) / state.iterations();
}
BENCHMARK(BM_ConnectorBarsPassesOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ConnectorBarsRealClock(benchmark::State& state) {
  const int seconds = Seconds();
  const int count = seconds * 12;
  std::vector<std::vector<uint8_t>> buffers;
  for (int b = 0; b < count; ++b) buffers.push_back(Buffer(b));
  std::vector<double> lags;
  double cpu = 0;
  for (auto _ : state) {
    Setup s;
    std::vector<int64_t> arrival(count);
    QEventLoop loop;
    const double c0 = ProcessCpuSeconds();
    // The device's thread: one played buffer every 83.3 ms.
    std::thread device([&] {
      auto due = std::chrono::steady_clock::now();
      for (int b = 0; b < count; ++b) {
        std::this_thread::sleep_until(due);
        arrival[b] = GetClock().NowMicros();
        s.connector.NewBuffer(buffers[b].data(), kBuffer);
        due += std::chrono::microseconds(83'333);
      }
      std::this_thread::sleep_until(due);
      GetDispatcher().Post([&loop] { loop.quit(); });
    });
    loop.exec();  // the toolkit's own event loop, as the program runs it
    device.join();
    cpu += ProcessCpuSeconds() - c0;
    for (const auto& d : s.bars[0]->drawn) {
      const int64_t due = arrival[d.buffer] + 1'000'000LL * d.frame * 4 / 192'000;
      lags.push_back((d.at - due) / 1000.0);
    }
  }
  std::sort(lags.begin(), lags.end());
  auto at = [&](double q) {
    return lags.empty() ? 0 : lags[static_cast<size_t>(q * (lags.size() - 1))];
  };
  state.counters["lag_ms_median"] = at(0.5);
  state.counters["lag_ms_p95"] = at(0.95);
  state.counters["lag_ms_max"] = at(1.0);
  state.counters["slices"] = static_cast<double>(lags.size()) / state.iterations();
  state.counters["cpu_pct_core"] = cpu / state.iterations() / seconds * 100;
}
BENCHMARK(BM_ConnectorBarsRealClock)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
