// Reading hostile JPEG pictures beside the reference of a plain fill of the picture they claim:
// an arithmetic-coded picture cut to a few hundred bytes that claims 4096 x 4096 or 16384 x 16384
// pixels costs what its data holds, not its claim.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "arithjpeg.h"
#include "g32_picture.h"

namespace {

const uint16_t kSides[] = {4096, 16384};

void BM_ReadJPEG_ArithmeticCut(benchmark::State& state) {
  const uint16_t side = kSides[state.range(0)];
  const std::vector<uint8_t> jpeg =
      vant::testing::ClaimAndCut(vant::testing::ArithmeticJpeg(false), side, 8);
  bool refused = false;
  for (auto _ : state) {
    try {
      g32::TDecodedPicture p = g32::ReadJPEG(jpeg);
      benchmark::DoNotOptimize(p.Pixels.data());
    } catch (const g32::EInvalidGraphic&) {
      refused = true;
    }
  }
  state.SetLabel(std::to_string(jpeg.size()) + " bytes claiming " + std::to_string(side) + "x" +
                 std::to_string(side) + (refused ? " (refused)" : " (decoded)"));
}

void BM_PlainFill(benchmark::State& state) {
  const uint16_t side = kSides[state.range(0)];
  for (auto _ : state) {
    std::vector<uint32_t> pixels(size_t(side) * side, 0xFF000000u);
    benchmark::DoNotOptimize(pixels.data());
  }
  state.SetLabel("fill of " + std::to_string(side) + "x" + std::to_string(side));
}

BENCHMARK(BM_ReadJPEG_ArithmeticCut)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFill)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
