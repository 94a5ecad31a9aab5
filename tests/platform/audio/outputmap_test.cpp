// The map from a device's output back to its source, which both kinds of device keep.
#include "outputmap.h"

#include <gtest/gtest.h>

namespace vant::audio {
namespace {

// Output 0..100 carried source 0..100, then (after 50 units of silence) output 150..250
// carried source 100..150 read at half speed.
OutputMap TwoRenders() {
  OutputMap map;
  map.Append(0, 60, 0, 1.0);
  map.Append(60, 40, 60, 1.0);  // continues the first: one segment
  map.Append(150, 100, 100, 0.5);
  return map;
}

TEST(OutputMap, HeardOutputMapsBackToTheSourceThroughSilenceAndRates) {
  struct Case {
    int64_t heard;
    std::optional<double> source;
  } cases[] = {{0, std::nullopt}, {30, 30.0}, {100, 100.0}, {120, 100.0},
               {150, 100.0},      {200, 125.0}, {400, 150.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.heard);
    OutputMap map = TwoRenders();
    EXPECT_EQ(map.Advance(c.heard), c.source);
  }
  OutputMap map = TwoRenders();
  EXPECT_EQ(map.OutputOf(100), 100);
  EXPECT_EQ(map.OutputOf(125), 200);
  EXPECT_EQ(map.OutputOf(151), std::nullopt);
  map.Advance(120);  // the first segment is heard to its end and forgotten
  EXPECT_EQ(map.OutputOf(50), std::nullopt);
  EXPECT_EQ(map.Advance(110), std::nullopt) << "heard output never moves the source back";
}

TEST(OutputMap, OutputTakenBackIsRenderedAgainFromWhereItHadReached) {
  struct Case {
    int64_t from;
    std::optional<double> source;
  } cases[] = {{250, std::nullopt}, {200, 125.0}, {150, 100.0}, {120, 100.0}, {30, 30.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.from);
    OutputMap map = TwoRenders();
    EXPECT_EQ(map.TakeBack(c.from), c.source);
    // What is left ends where the output was taken back.
    EXPECT_EQ(map.Advance(1000), c.source.value_or(150.0));
  }
}

TEST(OutputMap, AFullRingForgetsTheOldestRenders) {
  OutputMap map;
  const int64_t renders = OutputMap::kCapacity + 10;
  for (int64_t i = 0; i < renders; ++i) map.Append(2 * i, 1, static_cast<double>(i), 1.0);
  EXPECT_EQ(map.OutputOf(5), std::nullopt);
  EXPECT_EQ(map.OutputOf(static_cast<double>(renders)), 2 * (renders - 1) + 1);
  EXPECT_EQ(map.TakeBack(2 * (renders - 1)), static_cast<double>(renders - 1));
}

}  // namespace
}  // namespace vant::audio
