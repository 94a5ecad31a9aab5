// The spectrogram and the light show fed through a connector from 48 kHz stereo in buffers of
// 16,000 bytes, the passes run on demand on a clock moved by hand (run with
// QT_QPA_PLATFORM=offscreen):
// - BM_SpectrogramThroughConnector: a 512 × 256 spectrogram at FFTLength 1024 with Accelerate
//   (a column every quarter slice, 187.5 a second); process CPU time per second of audio
//   (`cpu_pct_core`, % of one core) and the columns drawn.
//   Reference: BM_InputStageOnly, the shared input stage alone (channel, window, FFT) on the
//   same slices.
// - BM_LightThroughConnector: a light show at FFTLength 1024: CPU per second of audio and the
//   pixels of its canvas changed over the whole run (`pixel_writes`, 0: only the palette moves).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "clock.h"
#include "mmconnector.h"
#include "mmlight.h"
#include "mmpcmsup.h"
#include "mmspgram.h"
#include "ui_application.h"
#include "ui_form.h"

namespace {

using namespace vant;

constexpr int kBuffer = 16000;
constexpr int kBuffers = 120;  // 10 s at 192,000 bytes per second
constexpr int kFFT = 1024;

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

// 10 s of 48 kHz stereo with a gliding tone over a bass line, in played buffers.
std::vector<std::vector<uint8_t>> Music() {
  std::vector<std::vector<uint8_t>> buffers(kBuffers, std::vector<uint8_t>(kBuffer));
  int64_t frame = 0;
  for (auto& b : buffers) {
    for (int i = 0; i < kBuffer / 4; ++i, ++frame) {
      const double t = frame / 48000.0;
      const double f = 500 + 4000 * (0.5 + 0.5 * std::sin(2 * std::numbers::pi * 0.3 * t));
      const auto s = static_cast<int16_t>(9000 * std::sin(2 * std::numbers::pi * f * t) +
                                          6000 * std::sin(2 * std::numbers::pi * 110 * t));
      std::memcpy(&b[i * 4], &s, 2);
      std::memcpy(&b[i * 4 + 2], &s, 2);
    }
  }
  return buffers;
}

WAVEFORMATEX Stereo48k() {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, 2, 48000);
  return f;
}

// Runs 10 s of buffers through a connector feeding `attach`, the passes on demand every
// simulated millisecond; answers the process CPU seconds.
template <class Attach>
double RunConnector(const std::vector<std::vector<uint8_t>>& buffers, Attach attach) {
  ManualClock clock;
  SetClock(&clock);
  double cpu;
  {
    TMMConnector connector{nullptr};
    attach(connector);
    const WAVEFORMATEX f = Stereo48k();
    connector.SetPWaveFormat(&f);
    connector.SetBufferSize(kBuffer);
    connector.SetAutoTrigger(false);
    connector.Opened();
    connector.Started();
    Application->ProcessMessages();
    const double c0 = ProcessCpuSeconds();
    int64_t next = clock.NowMicros();
    for (const auto& buf : buffers) {
      connector.NewBuffer(buf.data(), kBuffer);
      next += 83'333;
      while (clock.NowMicros() < next) {
        clock.Advance(1000);
        connector.Trigger();
      }
    }
    cpu = ProcessCpuSeconds() - c0;
    connector.Stopped();
    connector.Closed();
  }
  SetClock(nullptr);
  return cpu;
}

void BM_InputStageOnly(benchmark::State& state) {
  const auto buffers = Music();
  TMMSpectrumInput input;
  input.Bits = b16Bit;
  input.Channels = 2;
  input.SetFFTLength(kFFT);
  std::vector<int16_t> out(kFFT);
  // The same slices the connector hands over: 4,096 bytes every 1,024 bytes of the buffer.
  std::vector<uint8_t> stream;
  for (const auto& b : buffers) stream.insert(stream.end(), b.begin(), b.end());
  double cpu = 0;
  for (auto _ : state) {
    const double c0 = ProcessCpuSeconds();
    for (size_t off = 0; off + 4096 <= stream.size(); off += 1024)
      benchmark::DoNotOptimize(input.Transform(stream.data() + off, out.data()));
    cpu += ProcessCpuSeconds() - c0;
  }
  state.counters["cpu_pct_core"] = cpu / state.iterations() / 10.0 * 100;
}
BENCHMARK(BM_InputStageOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

// A spectrogram that counts its columns.
class CountingSpectrogram : public TMMSpectrogram {
 public:
  using TMMSpectrogram::TMMSpectrogram;
  void RefreshPCMData(const void* slice) override {
    TMMSpectrogram::RefreshPCMData(slice);
    ++columns;
  }
  int64_t columns = 0;
};

void BM_SpectrogramThroughConnector(benchmark::State& state) {
  Application->Initialize();
  const auto buffers = Music();
  double cpu = 0;
  int64_t columns = 0;
  for (auto _ : state) {
    TForm form{nullptr};
    form.SetBounds(0, 0, 540, 280);
    form.Show();
    auto* s = new CountingSpectrogram(&form);
    s->SetParent(&form);
    const int bevel = s->BevelExtend();
    s->SetBounds(4, 4, 512 + 2 * bevel, 256 + 2 * bevel);
    s->SetFFTLength(kFFT);
    s->SetLogAmp(true);
    cpu += RunConnector(buffers, [&](TMMConnector& c) { c.SetSpectrogram(1, s); });
    columns += s->columns;
  }
  state.counters["cpu_pct_core"] = cpu / state.iterations() / 10.0 * 100;
  state.counters["columns"] = static_cast<double>(columns) / state.iterations();
}
BENCHMARK(BM_SpectrogramThroughConnector)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LightThroughConnector(benchmark::State& state) {
  Application->Initialize();
  const auto buffers = Music();
  double cpu = 0;
  int64_t writes = 0;
  for (auto _ : state) {
    TForm form{nullptr};
    form.SetBounds(0, 0, 220, 120);
    form.Show();
    auto* l = new TMMLight(&form);
    l->SetParent(&form);
    l->SetBounds(4, 4, 194, 90);
    l->SetKind(lkSphere);
    l->SetFFTLength(kFFT);
    Application->ProcessMessages();
    TMMDIBCanvas& c = l->DIBCanvas();
    const size_t bytes = static_cast<size_t>(c.ScanWidth()) * c.GetHeight();
    const std::vector<uint8_t> before(c.Surface(), c.Surface() + bytes);
    cpu += RunConnector(buffers, [&](TMMConnector& con) { con.SetLight(1, l); });
    for (size_t i = 0; i < bytes; ++i) writes += c.Surface()[i] != before[i];
  }
  state.counters["cpu_pct_core"] = cpu / state.iterations() / 10.0 * 100;
  state.counters["pixel_writes"] = static_cast<double>(writes) / state.iterations();
}
BENCHMARK(BM_LightThroughConnector)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
