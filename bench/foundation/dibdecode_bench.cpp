// Decoding DIB pictures, each beside its reference in the same run: a plain fill of the picture
// the header claims (allocating and writing every pixel once), which is what any decoder of that
// picture must at least do. Valid run-length pictures, hostile ones (a few bytes claiming millions
// of pixels, codes that walk past the picture) and a header refused for its bit count.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "dibbytes.h"
#include "mmdib.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A header and a two-colour table (black, red) for 8 bits or fewer, then the codes.
Bytes Dib(int32_t w, int32_t h, int bits, uint32_t compression, const Bytes& codes) {
  return vant::testing::Dib(w, h, bits, compression, bits <= 8 ? 2 : 0,
                            bits <= 8 ? Bytes{0, 0, 0, 0, 0, 0, 255, 0} : Bytes{}, codes);
}

struct Picture {
  const char* name;
  Bytes dib;
  int64_t claimed;
};

std::vector<Picture> Pictures() {
  std::vector<Picture> out;
  // 600 x 600: one red row, then an end of line per row and the end of the picture.
  Bytes row = {255, 1, 255, 1, 90, 1};
  for (int i = 0; i < 600; ++i) row.insert(row.end(), {0, 0});
  row.insert(row.end(), {0, 1});
  out.push_back({"rle8 600x600 one red row", Dib(600, 600, 8, BI_RLE8, row), 600 * 600});
  // 22 bytes: a run, an end of line, then deltas of 255 rows.
  Bytes walk = {4, 1, 0, 0};
  while (walk.size() < 22) walk.insert(walk.end(), {0, 2, 0, 255});
  walk.resize(22);
  out.push_back({"rle8 4x3276880 from 22 bytes", Dib(4, 3276880, 8, BI_RLE8, walk), 4 * 3276880});
  // 4096 x 4096 written whole by 255-pixel runs.
  Bytes full;
  for (int y = 0; y < 4096; ++y) {
    for (int x = 0; x < 4096; x += 255)
      full.insert(full.end(), {uint8_t(std::min(255, 4096 - x)), 1});
    full.insert(full.end(), {0, 0});
  }
  out.push_back({"rle8 4096x4096 runs", Dib(4096, 4096, 8, BI_RLE8, full), 4096 * 4096});
  // The same claim, 1 MB of runs that all lie past the right edge of the first row.
  Bytes past = {0, 2, 255, 0};
  while (past.size() < (1u << 20)) past.insert(past.end(), {255, 1});
  out.push_back(
      {"rle8 4096x4096 1MB past the edge", Dib(4096, 4096, 8, BI_RLE8, past), 4096 * 4096});
  out.push_back(
      {"rle4 4096x4096 1MB past the edge", Dib(4096, 4096, 4, BI_RLE4, past), 4096 * 4096});
  // 47 bytes with bit count 0: rows of no bytes.
  out.push_back(
      {"bit count 0, 12x1048956", Dib(12, 1048956, 0, BI_RGB, Bytes(7, 1)), 12 * 1048956});
  return out;
}

void BM_Decode(benchmark::State& state) {
  const Picture p = Pictures()[size_t(state.range(0))];
  std::vector<uint32_t> pixels;
  int32_t w, h;
  bool decoded = false;
  for (auto _ : state) {
    decoded = DIB_ToPixels(p.dib, pixels, w, h);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetLabel(std::string(p.name) + (decoded ? "" : " (refused)"));
}

// The reference: the claimed picture allocated and filled once.
void BM_PlainFill(benchmark::State& state) {
  const Picture p = Pictures()[size_t(state.range(0))];
  for (auto _ : state) {
    std::vector<uint32_t> pixels(size_t(p.claimed), 0xFF000000u);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetLabel(std::string("fill of ") + p.name);
}

BENCHMARK(BM_Decode)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainFill)->DenseRange(0, 5)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
