// The spectrum analyser and the oscilloscope:
// - BM_SpectrumFrame: one frame of a 300 × 150 analyser (FFTLength 1024, bars with peaks) from a
//   16-bit slice, drawing and copy to the screen included. Reference: BM_SpectrumFFTOnly, the
//   forward FFT of the same slice alone (target: the frame within 3 × the reference). The slice
//   is the same every frame, so after the first the picture stands still;
//   BM_SpectrumFrameMoving feeds eight different slices in turn, as music moves the bars.
// - BM_SpectraScopesPasses: four analysers and two oscilloscopes fed by one connector from
//   10 s of 48 kHz stereo, the passes run on a clock moved by hand at the connector's 1 ms
//   step; process CPU time per second of audio (`cpu_pct_core`, % of one core; target < 8).
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "clock.h"
#include "mmconnector.h"
#include "mmfft.h"
#include "mmoscope.h"
#include "mmpcmsup.h"
#include "mmspectrum.h"
#include "ui_application.h"
#include "ui_form.h"

namespace {

using namespace vant;

double ProcessCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return sec(u.ru_utime) + sec(u.ru_stime);
}

// A chord with a little noise, `channels` equal channels of 16-bit samples.
std::vector<int16_t> Chord(int frames, int channels, int rate, int offset) {
  std::vector<int16_t> v(static_cast<size_t>(frames) * channels);
  uint32_t noise = 12345 + offset;
  for (int i = 0; i < frames; ++i) {
    const double t = double(i + offset) / rate;
    double s = 0;
    for (double f : {110.0, 220.0, 261.63, 329.63, 440.0, 880.0})
      s += 3000 * std::sin(2 * std::numbers::pi * f * t);
    noise = noise * 1664525 + 1013904223;
    s += static_cast<int>(noise >> 22) - 512;
    for (int c = 0; c < channels; ++c) v[i * channels + c] = static_cast<int16_t>(s);
  }
  return v;
}

WAVEFORMATEX Format(int channels, int rate) {
  WAVEFORMATEX f{};
  pcmBuildWaveHeader(f, 16, channels, rate);
  return f;
}

// A bar analyser of 1,024-point frames on a shown form, as the player shows it.
TMMSpectrum* NewAnalyser(TForm& form) {
  form.SetBounds(0, 0, 340, 200);
  form.Show();
  auto* s = new TMMSpectrum(&form);
  s->SetParent(&form);
  s->SetBounds(0, 0, 300, 150);
  s->SetPCMWaveFormat(Format(1, 44100));
  s->SetFFTLength(1024);
  s->SetKind(skBars);
  s->SetNumPeaks(1);
  return s;
}

void BM_SpectrumFrame(benchmark::State& state) {
  Application->Initialize();
  TForm form(nullptr);
  TMMSpectrum* s = NewAnalyser(form);
  const auto slice = Chord(1024, 1, 44100, 0);
  for (auto _ : state) s->RefreshPCMData(slice.data());
}
BENCHMARK(BM_SpectrumFrame)->Unit(benchmark::kMicrosecond);

// The same analyser fed music that moves: eight slices a quarter of a slice apart, in turn, so
// that bars and peaks change from frame to frame as they do while a file plays.
void BM_SpectrumFrameMoving(benchmark::State& state) {
  Application->Initialize();
  TForm form(nullptr);
  TMMSpectrum* s = NewAnalyser(form);
  std::vector<std::vector<int16_t>> slices;
  for (int k = 0; k < 8; ++k) slices.push_back(Chord(1024, 1, 44100, 256 * k));
  size_t k = 0;
  for (auto _ : state) s->RefreshPCMData(slices[k++ % slices.size()].data());
}
BENCHMARK(BM_SpectrumFrameMoving)->Unit(benchmark::kMicrosecond);

void BM_SpectrumFFTOnly(benchmark::State& state) {
  auto plan = InitRealFFT(10);
  const auto slice = Chord(1024, 1, 44100, 0);
  std::vector<float> work(1024);
  for (auto _ : state) {
    for (int i = 0; i < 1024; ++i) work[i] = slice[i];
    DoRealFFT(plan.get(), work.data(), 1);
    benchmark::DoNotOptimize(work.data());
  }
}
BENCHMARK(BM_SpectrumFFTOnly)->Unit(benchmark::kMicrosecond);

void BM_SpectraScopesPasses(benchmark::State& state) {
  constexpr int kBuffer = 16000;  // bytes: 4,000 frames of 48 kHz stereo
  constexpr int kBuffers = 120;   // 10 s
  ManualClock clock;
  SetClock(&clock);
  Application->Initialize();
  std::vector<std::vector<int16_t>> buffers;
  for (int b = 0; b < kBuffers; ++b) buffers.push_back(Chord(kBuffer / 4, 2, 48000, b * 4000));
  double cpu = 0;
  int64_t frames = 0;
  for (auto _ : state) {
    TForm form(nullptr);
    form.SetBounds(0, 0, 700, 400);
    form.Show();
    TMMConnector connector(nullptr);
    connector.SetAutoTrigger(false);
    for (int i = 0; i < 4; ++i) {
      auto* s = new TMMSpectrum(&form);
      s->SetParent(&form);
      s->SetBounds(10 + 170 * i, 10, 160, 100);
      s->SetKind(static_cast<TMMSpectrumKind>(i + 2));
      connector.SetSpectrum(i + 1, s);
    }
    for (int i = 0; i < 2; ++i) {
      auto* o = new TMMOscope(&form);
      o->SetParent(&form);
      o->SetBounds(10 + 330 * i, 150, 320, 100);
      o->SetScroll(i == 1);
      connector.SetOscope(i + 1, o);
    }
    const WAVEFORMATEX f = Format(2, 48000);
    connector.SetPWaveFormat(&f);
    connector.SetBufferSize(kBuffer);
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
    cpu += ProcessCpuSeconds() - c0;
    frames += connector.GetRefreshCount(TMMDisplayKind::Spectrum);
    connector.Stopped();
    connector.Closed();
  }
  SetClock(nullptr);
  state.counters["cpu_pct_core"] = cpu / state.iterations() / 10.0 * 100;
  state.counters["spectrum_frames"] = static_cast<double>(frames) / state.iterations();
}
BENCHMARK(BM_SpectraScopesPasses)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
