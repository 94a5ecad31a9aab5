// The DIB canvas beside the toolkit: filling, lines and showing a frame.
#include <benchmark/benchmark.h>

#include <QImage>
#include <QPainter>
#include <cstring>
#include <random>
#include <vector>

#include "mmdibcv.h"
#include "ui_application.h"

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

// A canvas of w x h at `bits` inside a drawing period for the benchmark's life.
struct Period {
  TMMDIBCanvas canvas{nullptr};
  Period(int w, int h, int bits = 8) {
    canvas.SetBPP(bits);
    canvas.SetBounds(0, 0, w, h);
    canvas.DIB_InitDrawing();
  }
  ~Period() { canvas.DIB_DoneDrawing(); }
};

void BM_DibFillRect(benchmark::State& state) {
  Period p(1024, 768);
  uint32_t c = 0;
  for (auto _ : state) {
    p.canvas.DIB_SetColor(++c);
    p.canvas.DIB_FILLRECT(Rect(0, 0, 1024, 768));
    benchmark::DoNotOptimize(biSurface);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 1024 * 768);
}
BENCHMARK(BM_DibFillRect);

// Reference: memset of the same bytes.
void BM_MemsetSameBytes(benchmark::State& state) {
  std::vector<uint8_t> bytes(1024 * 768);
  int c = 0;
  for (auto _ : state) {
    std::memset(bytes.data(), ++c & 255, bytes.size());
    benchmark::DoNotOptimize(bytes.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * 1024 * 768);
}
BENCHMARK(BM_MemsetSameBytes);

std::vector<int> RandomCoords() {
  std::mt19937 rng(42);
  std::uniform_int_distribution<int> x(0, 1023), y(0, 767);
  std::vector<int> v;
  for (int i = 0; i < 100000; ++i) v.insert(v.end(), {x(rng), y(rng), x(rng), y(rng)});
  return v;
}

void BM_DibLines(benchmark::State& state) {
  const std::vector<int> v = RandomCoords();
  Period p(1024, 768);
  p.canvas.DIB_SetColor(7);
  for (auto _ : state) {
    for (size_t i = 0; i < v.size(); i += 4) p.canvas.DIB_LINE(v[i], v[i + 1], v[i + 2], v[i + 3]);
    benchmark::DoNotOptimize(biSurface);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_DibLines)->Unit(benchmark::kMillisecond);

// Reference: the toolkit's aliased lines into an image of the same size.
void BM_ToolkitLines(benchmark::State& state) {
  Setup();
  const std::vector<int> v = RandomCoords();
  QImage img(1024, 768, QImage::Format_RGB32);
  img.fill(0xFF000000u);
  for (auto _ : state) {
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QColor(0, 0, 128));
    for (size_t i = 0; i < v.size(); i += 4) p.drawLine(v[i], v[i + 1], v[i + 2], v[i + 3]);
    p.end();
    benchmark::DoNotOptimize(img.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_ToolkitLines)->Unit(benchmark::kMillisecond);

// A 512 x 256 8-bit frame onto a widget's picture: through the view of our own memory.
void BM_DibBlitFrame(benchmark::State& state) {
  Setup();
  Period p(512, 256);
  for (int y = 0; y < 256; ++y) {
    p.canvas.DIB_SetColor(uint32_t(y));
    p.canvas.DIB_HLINE(0, 512, y);
  }
  QImage target(512, 256, QImage::Format_RGB32);
  TCanvas canvas(&target);
  for (auto _ : state) {
    p.canvas.DIB_BitBlt(&canvas, Rect(0, 0, 512, 256), 0, 0);
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 512 * 256);
}
BENCHMARK(BM_DibBlitFrame);

// Reference: QPainter::drawImage of the same indexed picture onto the same target.
void BM_ToolkitDrawImage(benchmark::State& state) {
  Setup();
  QImage frame(512, 256, QImage::Format_Indexed8);
  QList<QRgb> table;
  for (int i = 0; i < 256; ++i) table.push_back(qRgb(i, 255 - i, i / 2));
  frame.setColorTable(table);
  for (int y = 0; y < 256; ++y) std::memset(frame.scanLine(y), y, 512);
  QImage target(512, 256, QImage::Format_RGB32);
  for (auto _ : state) {
    QPainter painter(&target);
    painter.drawImage(0, 0, frame);
    painter.end();
    benchmark::DoNotOptimize(target.constBits());
  }
  state.SetItemsProcessed(state.iterations() * 512 * 256);
}
BENCHMARK(BM_ToolkitDrawImage);

}  // namespace

BENCHMARK_MAIN();
