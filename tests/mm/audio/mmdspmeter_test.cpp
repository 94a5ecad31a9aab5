// The DSP meter on an injected clock and timer service.
#include "mmdspmeter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "clock.h"
#include "timerservice.h"

namespace {

using namespace vant;

class DSPMeterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetClock(&clock);
    SetTimerService(&service);
  }
  void TearDown() override {
    SetTimerService(nullptr);
    SetClock(nullptr);
  }
  // Moves the clock in steps of at most one tick, each tick handled before the next.
  void Advance(int ms) {
    while (ms > 0) {
      const int step = std::min(ms, kMMTimerPeriod);
      clock.AdvanceMillis(step);
      ASSERT_TRUE(service.Settle());
      ms -= step;
    }
  }
  ManualClock clock;
  ThreadTimerService service{clock};
};

TEST_F(DSPMeterTest, ThirtyMillisecondsOfEveryHundredConvergeOnThirtyPercent) {
  TMMDSPMeter meter(nullptr);
  TMMDSPMeter second(nullptr);
  EXPECT_EQ(GetDSPMeter(), &meter) << "the first one is the process-wide meter";
  InitDSPMeter();
  EXPECT_EQ(meter.GetValue(), 0);
  for (int period = 0; period < 80; ++period) {
    StartDSPMeter();
    StartDSPMeter();  // nested: measured once
    Advance(30);
    StopDSPMeter();
    StopDSPMeter();
    Advance(70);
  }
  EXPECT_EQ(meter.GetValue(), 30);
  EXPECT_EQ(second.GetValue(), 0);
  DoneDSPMeter();
  EXPECT_EQ(meter.GetValue(), 0) << "inactive without users";
}

TEST_F(DSPMeterTest, AMeasurementRunningAcrossThePeriodCountsInBoth) {
  auto meter = std::make_unique<TMMDSPMeter>(nullptr);
  InitDSPMeter();
  StartDSPMeter();
  for (int i = 0; i < 80; ++i) Advance(100);
  EXPECT_EQ(meter->GetValue(), 100) << "busy all the time, shown at most 100";
  StopDSPMeter();
  DoneDSPMeter();
  meter.reset();
  EXPECT_EQ(GetDSPMeter(), nullptr);
  StartDSPMeter();  // no meter: nothing happens
  StopDSPMeter();
}

}  // namespace
