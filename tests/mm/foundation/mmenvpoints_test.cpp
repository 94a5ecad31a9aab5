#include "mmenvpoints.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Pts = std::vector<std::pair<int32_t, int32_t>>;

Pts PointsOf(const TMMEnvelopePointList& l) {
  Pts v;
  for (int32_t i = 0; i < l.Count(); ++i)
    v.emplace_back(l.GetPoint(i)->Position, l.GetPoint(i)->Value);
  return v;
}

// Sets the list to exactly these points (the first and last are the ends).
void SetPoints(TMMEnvelopePointList& l, const Pts& pts) {
  l.FreeAll();
  for (auto [p, v] : pts) l.AddObject(new TMMEnvelopePoint(p, v));
}

std::string Le32(int32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }

std::string StoredPoint(int32_t pos, int32_t value, bool selected = false) {
  return std::string("\x10TMMEnvelopePoint") + Le32(pos) + Le32(value) + char(selected ? 1 : 0);
}

std::string EnvHeader(int32_t minx, int32_t maxx, int32_t miny, int32_t maxy, int16_t n) {
  return std::string("ENV\0\x01", 5) + Le32(minx) + Le32(maxx) + Le32(miny) + Le32(maxy) +
         std::string(reinterpret_cast<const char*>(&n), 2);
}

TEST(EnvelopePoints, NewListHasTwoEndsAndClearKeepsThem) {
  TMMEnvelopePointList l;
  EXPECT_EQ(PointsOf(l), (Pts{{0, 500}, {1000, 500}}));
  for (int32_t p : {100, 200, 300}) EXPECT_TRUE(l.AddPoint(TMMEnvelopePoint(p, 900), false));
  l.GetPoint(0)->Value = 10;
  l.ClearPoints();
  EXPECT_EQ(PointsOf(l), (Pts{{0, 500}, {1000, 500}}));
}

TEST(EnvelopePoints, AddPointRefusalsAndInterpolation) {
  TMMEnvelopePointList l;
  SetPoints(l, {{0, 0}, {1000, 1000}});
  EXPECT_TRUE(l.AddPoint(TMMEnvelopePoint(250, 7), true));
  EXPECT_EQ(l.GetPoint(1)->Value, 250);
  for (int32_t refused : {250, 0, 1000, 1001, -5})
    EXPECT_FALSE(l.AddPoint(TMMEnvelopePoint(refused, 1), false)) << refused;
  EXPECT_EQ(l.Get_YValue(-100), -100);  // the end segment extends
  EXPECT_EQ(l.Get_YValue(500), 500);
  EXPECT_EQ(l.Get_YValue(2000), 2000);
}

TEST(EnvelopePoints, LocateAndFindKeepTheirOffByOne) {
  TMMEnvelopePointList l;
  SetPoints(l, {{0, 0}, {100, 0}, {300, 0}, {1000, 0}});
  const struct {
    int32_t pos, locate, find;
  } cases[] = {{-1, 0, -1}, {0, 1, 0}, {100, 2, 1}, {150, 2, -1}, {1000, 3, -1}, {1001, 4, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(l.LocatePoint(c.pos), c.locate) << c.pos;
    EXPECT_EQ(l.FindPoint(c.pos), c.find) << c.pos;
  }
}

TEST(EnvelopePoints, ScaleIsLimitedByTheRange) {
  TMMEnvelopePointList l;
  SetPoints(l, {{0, 200}, {1000, 600}});
  l.Scale(2.0f);
  EXPECT_EQ(PointsOf(l), (Pts{{0, 333}, {1000, 1000}}));
  int changes = 0;
  l.OnChange = [&](vant::TObject*) { ++changes; };
  l.Scale(1.5f);  // limited to exactly 1.0: nothing happens
  EXPECT_EQ(changes, 0);
}

TEST(EnvelopePoints, SelectionRespectsMovableEnds) {
  TMMEnvelopePointList l;
  SetPoints(l, {{0, 0}, {100, 0}, {200, 0}, {1000, 0}});
  l.MoveFirstPoint = false;
  l.SelectAll(true);
  EXPECT_FALSE(l.GetSelected(0));
  EXPECT_EQ(l.GetSelectedCount(), 3);
  l.SetSelected(0, true);
  EXPECT_FALSE(l.GetSelected(0));
  EXPECT_FALSE(l.GetSelected(99));
  l.DeleteSelected();  // the last point stays
  EXPECT_EQ(PointsOf(l), (Pts{{0, 0}, {1000, 0}}));
}

TEST(EnvelopePoints, DragLimitsNeverPassUnselectedNeighbours) {
  TMMEnvelopePointList l;
  SetPoints(l, {{0, 500}, {100, 500}, {200, 400}, {300, 500}, {1000, 500}});
  l.SetSelected(2, true);
  int32_t min_dx = -2147483647, max_dx = 2147483647, min_dy = -2147483647, max_dy = 2147483647;
  l.QueryPolyMove(min_dx, max_dx, min_dy, max_dy);
  EXPECT_EQ(min_dx, -99);  // keeps it within 101..299
  EXPECT_EQ(max_dx, 99);
  EXPECT_EQ(min_dy, -400);
  EXPECT_EQ(max_dy, 600);
  // With its left neighbour selected too, the pair may go as far as that one's neighbour allows;
  // the first point never moves sideways.
  l.SetSelected(1, true);
  l.SetSelected(0, true);
  min_dx = -2147483647, max_dx = 2147483647;
  l.QueryPolyMove(min_dx, max_dx, min_dy, max_dy);
  EXPECT_EQ(min_dx, 0);
  EXPECT_EQ(max_dx, 0);
  l.PolyShift(0, 100);
  EXPECT_EQ(PointsOf(l), (Pts{{0, 600}, {100, 600}, {200, 500}, {300, 500}, {1000, 500}}));
}

TEST(EnvelopePoints, EnvRoundTripRemapsToTheReadersRange) {
  TMMEnvelopePointList writer;
  SetPoints(writer, {{0, 0}, {250, 1000}, {500, 250}, {1000, 500}});
  writer.GetPoint(1)->Selected = true;
  TMemoryStream s;
  writer.WriteData(s);
  EXPECT_EQ(s.Data().substr(0, 23), EnvHeader(0, 1000, 0, 1000, 4));
  EXPECT_EQ(s.Data().size(), 23u + 4 * 26);

  TMMEnvelopePointList reader;
  reader.SetRanges({0, 2000, 0, 1000, 500});
  s.SetPosition(0);
  reader.ReadData(s);
  EXPECT_EQ(PointsOf(reader), (Pts{{0, 0}, {500, 1000}, {1000, 250}, {2000, 500}}));
  EXPECT_EQ(reader.GetSelectedCount(), 0);
}

TEST(EnvelopePoints, ReadsAHandWrittenStreamAndLimitsItsCount) {
  // 5,000 points read into the x range 0..999 keep 1,000 of them.
  std::string bytes = EnvHeader(0, 999, 0, 1000, 5000);
  for (int32_t i = 0; i < 5000; ++i) bytes += StoredPoint(i, 1);
  TMMEnvelopePointList l;
  l.SetRanges({0, 999, 0, 1000, 500});
  l.ReadObjectContainer(bytes);
  EXPECT_EQ(l.Count(), 1000);
  EXPECT_EQ(l.GetPoint(999)->Position, 999);
}

TEST(EnvelopePoints, UntrustedEnvStreams) {
  const std::string two = StoredPoint(0, 1) + StoredPoint(1000, 2);
  const struct {
    const char* what;
    std::string bytes;
    bool raises;  // else the default envelope is rebuilt
  } cases[] = {
      {"magic", std::string("OBJ\0", 4) + EnvHeader(0, 1000, 0, 1000, 2).substr(4) + two, true},
      {"negative count", EnvHeader(0, 1000, 0, 1000, -1) + two, true},
      {"truncated", EnvHeader(0, 1000, 0, 1000, 2) + two.substr(0, 40), true},
      {"foreign class", EnvHeader(0, 1000, 0, 1000, 2) + "\x05TNone" + two, true},
      {"one point", EnvHeader(0, 1000, 0, 1000, 1) + StoredPoint(0, 1), false},
      {"out of order", EnvHeader(0, 1000, 0, 1000, 2) + StoredPoint(1000, 1) + StoredPoint(0, 1),
       false},
      {"equal positions", EnvHeader(0, 1000, 0, 1000, 2) + StoredPoint(5, 1) + StoredPoint(5, 1),
       false},
  };
  for (const auto& c : cases) {
    TMMEnvelopePointList l;
    SetPoints(l, {{0, 7}, {10, 8}, {1000, 9}});
    if (c.raises) {
      EXPECT_THROW(l.ReadObjectContainer(c.bytes), EStreamError) << c.what;
      EXPECT_EQ(PointsOf(l), (Pts{{0, 7}, {10, 8}, {1000, 9}})) << c.what;
    } else {
      l.ReadObjectContainer(c.bytes);
      EXPECT_EQ(PointsOf(l), (Pts{{0, 500}, {1000, 500}})) << c.what;
    }
  }
}

TEST(EnvelopePoints, RemapIntoANarrowRangeKeepsOrderWithoutZeroDivision) {
  TMMEnvelopePointList l;
  SetPoints(l, {{0, 0}, {100, 1}, {101, 2}, {102, 3}, {1000, 1000}});
  l.SetRanges({0, 3, 0, 1000, 500});
  const auto pts = PointsOf(l);
  for (size_t i = 1; i < pts.size(); ++i) EXPECT_LT(pts[i - 1].first, pts[i].first);
  EXPECT_EQ(pts.front().first, 0);
  EXPECT_EQ(pts.back().first, 3);
  // Stored ranges of zero width only shift.
  std::string bytes =
      EnvHeader(5, 5, 7, 7, 3) + StoredPoint(5, 7) + StoredPoint(6, 8) + StoredPoint(9, 9);
  TMMEnvelopePointList z;
  z.ReadObjectContainer(bytes);
  EXPECT_EQ(PointsOf(z), (Pts{{0, 0}, {1, 1}, {1000, 2}}));
}

}  // namespace
