// Reading hostile pictures beside the reference of a plain fill of the picture they claim: an
// arithmetic-coded JPEG cut to a few hundred bytes (libjpeg decodes the rest from the zeros it
// supplies), and run-length bitmaps whose few codes claim 4096 x 4096 or 16384 x 16384 pixels or
// whose 18.9 MB of runs never end the first row of a 16 x 16 picture.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "arithjpeg.h"
#include "bmpfile.h"
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

// Bitmaps read by ReadBMP. Index 0 and 1 claim kSides; 2 is the file of endless runs.
std::vector<uint8_t> HostileBitmap(int64_t which) {
  const std::vector<uint8_t> table = {0, 0, 0, 0, 0, 0, 255, 0};
  if (which == 2) return vant::testing::EndlessRunFile(18'875'448);
  const int32_t side = kSides[which];
  // A move to the right edge, then 1 MB of 255-pixel runs that all lie past it.
  std::vector<uint8_t> codes;
  for (int x = 0; x + 255 <= side; x += 255) codes.insert(codes.end(), {0, 2, 255, 0});
  while (codes.size() < (1u << 20)) codes.insert(codes.end(), {255, 1});
  return vant::testing::BitmapFile(side, side, 8, 1, table, codes);
}

void BM_ReadBMP_Hostile(benchmark::State& state) {
  const std::vector<uint8_t> bmp = HostileBitmap(state.range(0));
  int64_t claimed = 0;
  for (auto _ : state) {
    g32::TDecodedPicture p = g32::ReadBMP(bmp);
    claimed = int64_t(p.Width) * p.Height;
    benchmark::DoNotOptimize(p.Pixels.data());
  }
  state.SetLabel(std::to_string(bmp.size()) + " bytes claiming " + std::to_string(claimed) +
                 " pixels");
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
BENCHMARK(BM_ReadBMP_Hostile)->DenseRange(0, 2)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlainFill)->DenseRange(0, 1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
