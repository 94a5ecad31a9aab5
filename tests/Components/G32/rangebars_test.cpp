#include "g32_rangebars.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "clock.h"

namespace {

using namespace g32;

struct ClockScope {
  vant::ManualClock clock;
  ClockScope() { vant::SetClock(&clock); }
  ~ClockScope() { vant::SetClock(nullptr); }
};

TEST(ArrowBar, ButtonGeometry) {
  TCustomGaugeBar bar;
  EXPECT_EQ(bar.EffectiveButtonSize(), 16);  // 100 x 16 horizontal
  EXPECT_EQ(bar.BoundaryLength(), 68);
  bar.SetSize(20, 16);
  EXPECT_EQ(bar.EffectiveButtonSize(), 10);
  bar.SetSize(100, 40);
  EXPECT_EQ(bar.EffectiveButtonSize(), 32);
  bar.SetShowArrows(false);
  EXPECT_EQ(bar.EffectiveButtonSize(), 0);
  bar.SetShowArrows(true);
  bar.SetBorderStyle(bsSingle);
  bar.SetSize(100, 16);
  EXPECT_EQ(bar.Thickness(), 14);
  EXPECT_EQ(bar.EffectiveButtonSize(), 14);
  EXPECT_EQ(bar.GetMouseInfo(0, 5), miNone);  // the border is outside the client
  EXPECT_EQ(bar.GetMouseInfo(1, 5), miBtnLeft);
  EXPECT_EQ(bar.GetMouseInfo(98, 5), miBtnRight);
}

TEST(GaugeBar, PositionAndLimits) {
  TCustomGaugeBar bar;
  std::vector<std::string> events;
  bar.OnChange = [&](TObject*) { events.push_back("change"); };
  bar.OnUserChange = [&](TObject*) { events.push_back("user"); };
  bar.SetPosition(50);
  bar.SetPosition(50);  // unchanged: nothing
  EXPECT_EQ(events, (std::vector<std::string>{"change"}));
  bar.SetPosition(500);
  EXPECT_EQ(bar.GetPosition(), 100);
  bar.SetPosition(50);
  bar.SetMin(10);
  events.clear();
  bar.SetMax(5);  // not above Min: Min + 1, and the position follows
  EXPECT_EQ(bar.GetMax(), 11);
  EXPECT_EQ(bar.GetPosition(), 11);
  EXPECT_EQ(events, (std::vector<std::string>{"change"}));
  bar.SetSmallChange(0);
  bar.SetLargeChange(-3);
  EXPECT_EQ(bar.GetSmallChange(), 1);
  EXPECT_EQ(bar.GetLargeChange(), 1);

  // While loading, Min and Max are stored as given; the handle then sits at the start.
  TCustomGaugeBar loading;
  loading.Loading = true;
  loading.SetMin(30);
  loading.SetMax(20);
  EXPECT_EQ(loading.GetMax(), 20);
  EXPECT_EQ(loading.HandleStart(), loading.BoundaryStart());
}

TEST(GaugeBar, HandlePlacementAndZones) {
  TCustomGaugeBar bar;
  bar.SetSize(116, 16);  // boundary 84, handle 16
  bar.SetMin(1);
  bar.SetMax(20);
  ASSERT_EQ(bar.BoundaryLength(), 84);
  ASSERT_EQ(bar.EffectiveHandleSize(), 16);
  bar.SetPosition(20);
  EXPECT_EQ(bar.HandleStart() - bar.BoundaryStart(), 68);
  bar.SetPosition(1);
  EXPECT_EQ(bar.HandleStart() - bar.BoundaryStart(), 0);
  EXPECT_EQ(bar.GetMouseInfo(20, 8), miHandle);
  EXPECT_EQ(bar.GetMouseInfo(40, 8), miRightSp);
  bar.SetPosition(20);
  EXPECT_EQ(bar.GetMouseInfo(40, 8), miLeftSp);
  EXPECT_EQ(bar.GetMouseInfo(5, 8), miBtnLeft);
  EXPECT_EQ(bar.GetMouseInfo(115, 8), miBtnRight);
  EXPECT_EQ(bar.GetMouseInfo(50, 20), miNone);
}

TEST(GaugeBar, PressAndHoldRepeats) {
  ClockScope time;
  TCustomGaugeBar bar;
  int changes = 0, users = 0;
  bar.OnChange = [&](TObject*) { ++changes; };
  bar.OnUserChange = [&](TObject*) { ++users; };
  bar.MouseDown(mbLeft, 0, 95, 8);  // right button: one step at once
  EXPECT_EQ(bar.GetPosition(), 1);
  bar.PollTimer();
  time.clock.AdvanceMillis(599);
  bar.PollTimer();
  EXPECT_EQ(bar.GetPosition(), 1);
  time.clock.AdvanceMillis(1);
  bar.PollTimer();
  EXPECT_EQ(bar.GetPosition(), 2);
  EXPECT_EQ(bar.TimerInterval(), 100);
  for (int i = 0; i < 3; ++i) {
    time.clock.AdvanceMillis(99);
    bar.PollTimer();
    EXPECT_EQ(bar.GetPosition(), 2 + i);
    time.clock.AdvanceMillis(1);
    bar.PollTimer();
    EXPECT_EQ(bar.GetPosition(), 3 + i);
  }
  bar.MouseUp(mbLeft, 0, 95, 8);
  EXPECT_FALSE(bar.TimerEnabled());
  time.clock.AdvanceMillis(1000);
  bar.PollTimer();
  EXPECT_EQ(bar.GetPosition(), 5);
  EXPECT_EQ(changes, 5);
  EXPECT_EQ(users, 5);
}

TEST(GaugeBar, PagingStopsAtThePressPoint) {
  ClockScope time;
  TCustomGaugeBar bar;
  bar.SetLargeChange(10);
  bar.MouseDown(mbLeft, 0, 60, 8);  // right of the handle
  EXPECT_EQ(bar.GetPosition(), 10);
  for (int i = 0; i < 20; ++i) {
    time.clock.AdvanceMillis(600);
    bar.PollTimer();
  }
  EXPECT_FALSE(bar.TimerEnabled());
  EXPECT_EQ(bar.GetMouseInfo(60, 8), miHandle);  // the handle reached the press point
  int pos = bar.GetPosition();
  EXPECT_GT(pos, 10);
  EXPECT_LT(pos, 100);
}

TEST(GaugeBar, DraggingTheHandle) {
  TCustomGaugeBar bar;
  bar.SetSize(116, 16);
  bar.SetMin(1);
  bar.SetMax(20);
  std::vector<std::string> events;
  bar.OnChange = [&](TObject*) { events.push_back("change"); };
  bar.OnUserChange = [&](TObject*) { events.push_back("user"); };
  bar.MouseDown(mbLeft, 0, 20, 8);
  EXPECT_EQ(bar.MouseZone(), miHandle);
  EXPECT_FALSE(bar.TimerEnabled());
  bar.MouseMove(0, 20 + 34, 8);      // half the travel
  EXPECT_EQ(bar.GetPosition(), 10);  // Round(1 + 34 * 19 / 68) = Round(10.5), half to even
  bar.MouseMove(0, 200, 8);
  EXPECT_EQ(bar.GetPosition(), 20);
  bar.MouseUp(mbLeft, 0, 200, 8);
  EXPECT_EQ(events, (std::vector<std::string>{"change", "user", "change", "user"}));
  events.clear();
  bar.SetPosition(3);
  EXPECT_EQ(events, (std::vector<std::string>{"change"}));

  // The handle stays shorter than the track, so a drag always has travel to map.
  TCustomGaugeBar full;
  full.SetSize(48, 16);
  full.SetHandleSize(100);
  EXPECT_EQ(full.EffectiveHandleSize(), full.BoundaryLength() - 1);
}

TEST(RangeBar, HandleAndLimits) {
  TCustomRangeBar bar;
  bar.SetSize(200, 16);  // boundary 168
  bar.SetRange(1000);
  bar.SetWindow(100);
  EXPECT_TRUE(bar.GetEnabled());
  int start, size;
  bar.GetHandle(start, size);
  EXPECT_EQ(size, 17);  // Round(100 * 168 / 1000) = 17
  bar.SetWindow(500);
  bar.GetHandle(start, size);
  EXPECT_EQ(size, 84);
  bar.SetPosition(2000);
  EXPECT_FLOAT_EQ(bar.GetPosition(), 500);
  bar.GetHandle(start, size);
  EXPECT_EQ(start - bar.BoundaryStart(), 84);
  bar.SetWindow(2000);
  EXPECT_FALSE(bar.GetEnabled());
  bar.SetIncrement(0);
  EXPECT_FLOAT_EQ(bar.GetIncrement(), 0.001f);
  bar.SetSize(40, 16);  // boundary 8: no handle
  bar.GetHandle(start, size);
  EXPECT_EQ(size, 0);
}

TEST(Bars, PaintDrawsTheHandle) {
  TCustomGaugeBar bar;
  bar.SetHandleColor(TColor(0x0000FF));  // red
  bar.SetPosition(50);
  TBitmap32 canvas;
  bar.Paint(canvas);
  ASSERT_EQ(canvas.Width(), 100);
  TRect h = bar.GetHandleRect();
  EXPECT_EQ(canvas.GetPixel((h.Left + h.Right) / 2, 3), 0xFFFF0000u);
  EXPECT_EQ(canvas.GetPixel(h.Left, 8), Color32(clWindowFrame));
  bar.SetEnabled(false);
  bar.Paint(canvas);
  EXPECT_EQ(canvas.GetPixel((h.Left + h.Right) / 2, 3), Color32(clBtnFace));
  TCustomRangeBar range;
  range.SetKind(sbVertical);
  range.SetSize(16, 100);
  range.SetRange(300);
  range.SetWindow(50);
  range.Paint(canvas);
  EXPECT_EQ(canvas.Height(), 100);
}

}  // namespace

namespace {

TEST(ArrowBarAccess, SetsMasterAndSlave) {
  g32::TCustomRangeBar horz, vert;
  g32::TArrowBarAccess access(&horz);
  access.SetButtonSize(9);
  EXPECT_EQ(horz.GetButtonSize(), 9);
  EXPECT_EQ(vert.GetButtonSize(), 0);
  access.SetSlave(&vert);
  access.SetFramed(false);
  EXPECT_FALSE(horz.GetFramed());
  EXPECT_FALSE(vert.GetFramed());
  EXPECT_FALSE(access.GetFramed());
}

}  // namespace
