#include "mmmrklst.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

TMMMarker At(int32_t offset, int32_t id = 0, int32_t partner = 0) {
  TMMMarker m;
  m.Offset = offset;
  m.ID = id;
  m.ConnectedID = partner;
  m.Visible = true;
  return m;
}

std::vector<int32_t> Offsets(const TMMMarkerList& l) {
  std::vector<int32_t> v;
  for (int32_t i = 0; i < l.Count(); ++i) v.push_back(l.Get(i).Offset);
  return v;
}

TMMMarkerList Of(std::initializer_list<int32_t> offsets) {
  TMMMarkerList l;
  for (int32_t o : offsets) l.Add(At(o));
  return l;
}

TEST(MarkerList, AddMarkerKeepsOffsetOrderAfterEqualOffsets) {
  TMMMarkerList l;
  for (int32_t o : {30, 10, 20, 20}) {
    TMMMarker m = At(o, static_cast<int32_t>(l.Count()) + 1);
    l.AddMarker(m);
  }
  EXPECT_EQ(Offsets(l), (std::vector<int32_t>{10, 20, 20, 30}));
  EXPECT_EQ(l.Get(1).ID, 3);  // the first 20 added
  EXPECT_EQ(l.Get(2).ID, 4);
}

TEST(MarkerList, LocateFindAndQuery) {
  const TMMMarkerList l = Of({10, 20, 30});
  const struct {
    int32_t offset, locate;
  } cases[] = {{15, 1}, {30, 3}, {5, 0}, {10, 1}, {29, 2}, {99, 3}};
  for (const auto& c : cases) EXPECT_EQ(l.LocateMarker(c.offset), c.locate) << c.offset;
  EXPECT_EQ(TMMMarkerList().LocateMarker(0), -1);
  const TMMMarkerList d = Of({10, 20, 20});
  EXPECT_EQ(d.FindMarker(20), 2);
  EXPECT_EQ(d.FindMarker(15), -1);
  EXPECT_TRUE(d.QueryMarker(25));
  EXPECT_FALSE(d.QueryMarker(10));
  EXPECT_EQ(d.IndexOf(At(20)), 1);
}

TEST(MarkerList, SetOffsetResortsWithOneNotification) {
  TMMMarkerList l = Of({10, 20, 30});
  int changes = 0;
  l.OnChange = [&](vant::TObject*) { ++changes; };
  l.SetOffset(0, 100);
  EXPECT_EQ(Offsets(l), (std::vector<int32_t>{20, 30, 100}));
  EXPECT_EQ(changes, 1);
  l.SetColor(0, l.Get(0).Color);
  EXPECT_EQ(changes, 1);
}

// A pass of gap h that moves a marker only past a greater offset sorts each of the h interleaved
// rows stably: the order of a large list with many equal offsets follows from the gaps alone
// (1, 4, 13, ... up to the largest not above n div 9), worked here row by row.
TEST(MarkerList, SortOrdersLargeListsAsItsGappedPassesDo) {
  const int n = 500;
  TMMMarkerList l;
  std::vector<std::pair<int32_t, int32_t>> want;  // (offset, id)
  std::srand(7);
  for (int i = 0; i < n; ++i) {
    const int32_t offset = std::rand() % 100;
    l.Add(At(offset, i));
    want.push_back({offset, i});
  }
  std::vector<int> gaps;
  for (int h = 1; h <= n / 9; h = 3 * h + 1) gaps.insert(gaps.begin(), h);
  ASSERT_EQ(gaps, (std::vector<int>{40, 13, 4, 1}));
  for (int h : gaps)
    for (int row = 0; row < h; ++row) {
      std::vector<std::pair<int32_t, int32_t>> items;
      for (int i = row; i < n; i += h) items.push_back(want[size_t(i)]);
      std::stable_sort(items.begin(), items.end(),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
      for (size_t k = 0; k < items.size(); ++k) want[size_t(row) + k * size_t(h)] = items[k];
    }
  l.Sort();
  std::vector<std::pair<int32_t, int32_t>> got;
  for (int32_t i = 0; i < l.Count(); ++i) got.push_back({l.Get(i).Offset, l.Get(i).ID});
  EXPECT_EQ(got, want);
}

// Markers 0 .. n-1 (the id is the index added), the first `ones` at offset 1, the rest at 0.
// The orders of equal offsets were worked by hand: the first gap is the largest of 1, 4, 13, ...
// not above n div 9, and a pass never moves a marker past an equal offset.
TEST(MarkerList, SortKeepsTheOrderOfEqualOffsetsItsGapsGive) {
  struct Case {
    int n, ones;
    std::vector<int32_t> ids;  // after the sort
  };
  const Case cases[] = {
      // 9 div 9 = 1: one insertion pass, which keeps equal offsets as they were.
      {9, 5, {5, 6, 7, 8, 0, 1, 2, 3, 4}},
      // 35 div 9 = 3: still one pass of gap 1.
      {35, 1, {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
               19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 0}},
      // 36 div 9 = 4: gap 4 sorts the four interleaved rows (0 4 8 ..., 1 5 9 ..., ...), each
      // keeping its order; gap 1 then only moves 34 and 35 ahead of 0 and 1.
      {36, 18, {20, 21, 18, 19, 24, 25, 22, 23, 28, 29, 26, 27, 32, 33, 30, 31, 34, 35,
                0,  1,  4,  5,  2,  3,  8,  9,  6,  7,  12, 13, 10, 11, 16, 17, 14, 15}},
  };
  for (const Case& c : cases) {
    TMMMarkerList l;
    for (int i = 0; i < c.n; ++i) l.Add(At(i < c.ones ? 1 : 0, i));
    l.Sort();
    std::vector<int32_t> ids;
    for (int32_t i = 0; i < l.Count(); ++i) ids.push_back(l.Get(i).ID);
    EXPECT_EQ(ids, c.ids) << c.n;
    // The last marker at each offset is the one FindMarker names.
    const int zeros = c.n - c.ones;
    EXPECT_EQ(l.FindMarker(0), zeros - 1) << c.n;
    EXPECT_EQ(l.Get(l.FindMarker(0)).ID, c.ids[zeros - 1]) << c.n;
    EXPECT_EQ(l.FindMarker(1), c.n - 1) << c.n;
  }
}

TEST(MarkerList, PartnersAndFreeIds) {
  TMMMarkerList l;
  l.Add(At(10, 5, 0));
  l.Add(At(20, 6, 5));
  l.Add(At(30, 7, 99));
  EXPECT_EQ(l.FindConnectedMarker(0), -1);
  EXPECT_EQ(l.FindConnectedMarker(1), 0);
  EXPECT_EQ(l.FindConnectedMarker(2), -1);
  // Our own generator: the process's sequence is left where it was.
  std::srand(11);
  const int expected = std::rand();
  std::srand(11);
  for (int i = 0; i < 50; ++i) {
    const int32_t id = l.FindFreeID();
    EXPECT_GT(id, 0);
    EXPECT_FALSE(id == 5 || id == 6 || id == 7);
  }
  EXPECT_EQ(std::rand(), expected);
}

TEST(MarkerList, IndexErrorsLeaveTheListAlone) {
  TMMMarkerList l = Of({10, 20});
  EXPECT_THROW(l.Get(2), EListError);
  EXPECT_THROW(l.Insert(3, At(1)), EListError);
  EXPECT_THROW(l.Move(0, 2), EListError);
  EXPECT_THROW(l.SetOffset(-1, 0), EListError);
  EXPECT_THROW(l.SetCapacity(1), EListError);
  EXPECT_EQ(Offsets(l), (std::vector<int32_t>{10, 20}));
  l.Move(0, 1);
  EXPECT_EQ(Offsets(l), (std::vector<int32_t>{20, 10}));
}

TEST(MarkerList, AssignCopiesSortedAndNamesSurvive) {
  TMMMarkerList src = Of({30, 10});
  src.Get(0).Name.Assign("intro");
  TMMMarkerList dst = Of({1, 2, 3});
  int changes = 0;
  dst.OnChange = [&](vant::TObject*) { ++changes; };
  dst.Assign(&src);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(Offsets(dst), (std::vector<int32_t>{10, 30}));
  EXPECT_EQ(dst.Get(1).Name.Str(), "intro");
  dst.Assign(nullptr);
  EXPECT_EQ(dst.Count(), 0);
}

}  // namespace
