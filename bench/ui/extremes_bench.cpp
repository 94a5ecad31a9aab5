// The slowest paints of the library's controls at the ends of their properties, each beside a
// plain fill of the same picture through the same paint.
#include <benchmark/benchmark.h>

#include <climits>
#include <cstdlib>

#include "mmgauge.h"
#include "mmleds.h"
#include "mmpanel.h"
#include "ui_application.h"
#include "ui_form.h"

using namespace vant;

namespace {

TForm& Form() {
  static TForm* form = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    Application->Initialize();
    return new TForm(nullptr);
  }();
  return *form;
}

// Paints `c` once per iteration, as the tests do.
void PaintEach(benchmark::State& state, TControl& c) {
  TBitmap shot;
  for (auto _ : state) {
    c.PaintTo(shot);
    benchmark::DoNotOptimize(shot.ScanLine(0));
  }
  state.counters["pixels"] = double(c.GetWidth()) * c.GetHeight();
}

// The LED panel sizes itself around its bevel: with a bevel as wide as int holds it is as
// large as a control gets, and every pixel is a ring of the bevel.
void BM_LedPanelWidestBevel(benchmark::State& state) {
  TMMLEDPanel panel(&Form());
  panel.SetParent(&Form());
  panel.Bevel().SetBevelOuterWidth(INT_MAX);
  PaintEach(state, panel);
}
BENCHMARK(BM_LedPanelWidestBevel)->Unit(benchmark::kMillisecond);

// The LED panel sized by a bevel of 100,000, held to the largest extent.
void BM_LedPanelBevel1e5(benchmark::State& state) {
  TMMLEDPanel panel(&Form());
  panel.SetParent(&Form());
  panel.Bevel().SetBevelOuterWidth(100000);
  PaintEach(state, panel);
}
BENCHMARK(BM_LedPanelBevel1e5)->Unit(benchmark::kMillisecond);

// A gauge of the largest size, half done, its percentage written over the face.
void BM_GaugeLargest(benchmark::State& state) {
  TMMGauge gauge(&Form());
  gauge.SetParent(&Form());
  gauge.SetKind(static_cast<TMMGaugeKind>(state.range(0)));
  gauge.SetBounds(0, 0, INT_MAX, INT_MAX);
  gauge.SetProgress(50);
  PaintEach(state, gauge);
}
BENCHMARK(BM_GaugeLargest)
    ->ArgName("kind")
    ->Arg(gkText)
    ->Arg(gkHorizontalBar)
    ->Arg(gkVerticalBar)
    ->Arg(gkPie)
    ->Arg(gkNeedle)
    ->Unit(benchmark::kMillisecond);

// A border of the largest size with its widest bevel.
void BM_BorderWidestBevelLargest(benchmark::State& state) {
  TMMBorder border(&Form());
  border.SetParent(&Form());
  border.SetBounds(0, 0, INT_MAX, INT_MAX);
  border.Bevel().SetBorderWidth(INT_MAX);
  PaintEach(state, border);
}
BENCHMARK(BM_BorderWidestBevelLargest)->Unit(benchmark::kMillisecond);

// Reference: a border of the largest size without a bevel, a plain fill of the same picture.
void BM_PlainFillLargest(benchmark::State& state) {
  TMMBorder border(&Form());
  border.SetParent(&Form());
  border.SetBounds(0, 0, INT_MAX, INT_MAX);
  border.Bevel().SetBevelOuter(bvNone);
  PaintEach(state, border);
}
BENCHMARK(BM_PlainFillLargest)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
