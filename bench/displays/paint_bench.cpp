// Every display control told a size no screen shows (INT_MAX by INT_MAX, held to
// kMaxControlExtent on each side) and painted once, its scales and marks shown, the way a
// control grown by a layout paints: the bounds set, then the picture made.
// Reference: BM_PlainFill, a paint box that fills the same picture in one colour.
#include <benchmark/benchmark.h>

#include <climits>
#include <functional>
#include <memory>

#include "clock.h"
#include "mmlevel.h"
#include "mmlevelscale.h"
#include "mmlight.h"
#include "mmmeter.h"
#include "mmoscope.h"
#include "mmspectrum.h"
#include "mmspgram.h"
#include "mmtimer.h"
#include "timerservice.h"
#include "ui_application.h"
#include "ui_form.h"
#include "ui_stdctrls.h"

namespace {

using namespace vant;

// One paint of `c` at the largest size, after it was laid out small.
void PaintAtMost(benchmark::State& state, TControl& c) {
  TBitmap shot;
  for (auto _ : state) {
    state.PauseTiming();
    c.SetBounds(0, 0, 64, 64);
    shot.SetSize(0, 0);
    state.ResumeTiming();
    c.SetBounds(0, 0, INT_MAX, INT_MAX);
    c.PaintTo(shot);
    benchmark::DoNotOptimize(shot.ScanLine(0));
  }
  state.counters["width"] = c.GetWidth();
  state.counters["height"] = c.GetHeight();
}

template <class C>
void BM_Paint(benchmark::State& state, std::function<void(C&)> set_up) {
  Application->Initialize();
  ManualClock clock;
  ThreadTimerService service{clock};
  SetClock(&clock);
  SetTimerService(&service);
  {
    TForm form(nullptr);
    auto c = std::make_unique<C>(&form);
    c->SetParent(&form);
    set_up(*c);
    PaintAtMost(state, *c);
  }
  SetTimerService(nullptr);
  SetClock(nullptr);
}

void BM_PlainFill(benchmark::State& state) {
  BM_Paint<TPaintBox>(state, [](TPaintBox& p) {
    p.OnPaint = [&p](TObject*) {
      p.Canvas().Brush().Color = clNavy;
      p.Canvas().FillRect(p.ClientRect());
    };
  });
}
BENCHMARK(BM_PlainFill)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Level(benchmark::State& state) {
  BM_Paint<TMMLevel>(state, [](TMMLevel& l) { l.SetValue(100); });
}
BENCHMARK(BM_Level)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_LevelScale(benchmark::State& state) {
  BM_Paint<TMMLevelScale>(state, [](TMMLevelScale& s) {
    s.SetKind(lkVertical);
    s.SetDirection(dirSymetric);
    s.SetScaleTicks(INT_MAX);
    s.Scale().SetVisible(true);
    s.Scale().SetTickCount(INT_MAX);
  });
}
BENCHMARK(BM_LevelScale)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Meter(benchmark::State& state) {
  BM_Paint<TMMMeter>(state, [](TMMMeter& m) { m.SetValue(100); });
}
BENCHMARK(BM_Meter)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Light(benchmark::State& state) {
  BM_Paint<TMMLight>(state, [](TMMLight& l) { l.SetKind(lkSphere); });
}
BENCHMARK(BM_Light)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Spectrogram(benchmark::State& state) {
  BM_Paint<TMMSpectrogram>(state, [](TMMSpectrogram& s) { s.SetDrawScale(true); });
}
BENCHMARK(BM_Spectrogram)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Spectrum(benchmark::State& state) {
  BM_Paint<TMMSpectrum>(state, [](TMMSpectrum& s) {
    s.SetKind(skBars);
    s.SetDrawAmpScale(true);
    s.SetDrawFreqScale(true);
    s.SetDrawGrid(true);
  });
}
BENCHMARK(BM_Spectrum)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_Oscope(benchmark::State& state) {
  BM_Paint<TMMOscope>(state, [](TMMOscope& o) {
    o.SetDrawAmpScale(true);
    o.SetDrawTimeScale(true);
    o.SetDrawGrid(true);
  });
}
BENCHMARK(BM_Oscope)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
