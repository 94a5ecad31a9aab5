// The canvas's own raster loops and the gauge's paint, each beside what the toolkit would do.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>

#include "mmgauge.h"
#include "ui_application.h"
#include "ui_canvas.h"

using namespace vant;

namespace {

void Setup() {
  static bool done = false;
  if (!done) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    Application->Initialize();
    done = true;
  }
}

// Our XOR copy of a 320 x 240 block.
void BM_CanvasXorCopy(benchmark::State& state) {
  Setup();
  TBitmap dst(320, 240), src(320, 240);
  src.Canvas().Brush().Color = RGBColor(0x12, 0x34, 0x56);
  src.Canvas().FillRect(Rect(0, 0, 320, 240));
  dst.Canvas().SetCopyMode(cmSrcInvert);
  for (auto _ : state) {
    dst.Canvas().Draw(0, 0, src);
    benchmark::DoNotOptimize(dst.ScanLine(0));
  }
  state.SetItemsProcessed(state.iterations() * 320 * 240);
}
BENCHMARK(BM_CanvasXorCopy);

// Reference: the toolkit's raster operation on the same images.
void BM_ToolkitXorCopy(benchmark::State& state) {
  Setup();
  QImage dst(320, 240, QImage::Format_RGB32), src(320, 240, QImage::Format_RGB32);
  dst.fill(0xFFFFFFFF);
  src.fill(0xFF123456);
  for (auto _ : state) {
    QPainter p(&dst);
    p.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    p.drawImage(0, 0, src);
    p.end();
    benchmark::DoNotOptimize(dst.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 320 * 240);
}
BENCHMARK(BM_ToolkitXorCopy);

// A progress gauge of the progress window's size painted off screen, text included.
void BM_GaugePaint(benchmark::State& state) {
  Setup();
  TMMGauge g(nullptr);
  g.SetBounds(0, 0, 213, 25);
  g.SetCaption("読み込み中　");
  TBitmap shot;
  int p = 0;
  for (auto _ : state) {
    g.SetProgress(p = (p + 1) % 101);
    g.PaintTo(shot);
  }
}
BENCHMARK(BM_GaugePaint);

// Reference: filling the same area with the toolkit alone (no bevel, no text).
void BM_ToolkitFill(benchmark::State& state) {
  Setup();
  QImage img(213, 25, QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter p(&img);
    p.fillRect(0, 0, 213, 25, QColor(0, 0, 128));
    p.end();
    benchmark::DoNotOptimize(img.constBits());
  }
}
BENCHMARK(BM_ToolkitFill);

}  // namespace

BENCHMARK_MAIN();
