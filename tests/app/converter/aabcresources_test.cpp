#include "aabcresources.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

TEST(ConverterSkins, ThirtyPicturesOfTheirSizes) {
  TAABCDataRes res(nullptr);
  EXPECT_EQ(AABCDataRes, &res);
  using Size = std::pair<int, int>;
  const Size small{50, 23}, select{69, 23}, big{95, 24}, lamp{37, 37}, page{1016, 684};
  const std::vector<Size> want = {small,  small,  select, select, small, small, small,  small,
                                  big,    big,    small,  small,  big,   big,   big,    big,
                                  small,  small,  lamp,   lamp,   big,   big,   select, select,
                                  select, select, small,  small,  page,  page};
  std::vector<Size> got;
  for (int i = 0; i < res.Bitmap32List.GetBitmaps()->Count(); ++i)
    got.emplace_back(res.Bitmap32List.GetBitmap(i)->Width(),
                     res.Bitmap32List.GetBitmap(i)->Height());
  EXPECT_EQ(got, want);
  // Pressed pictures differ from the normal ones, the lamp's on from its off, and the two
  // backgrounds from each other.
  for (int n : {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28})
    EXPECT_NE(res.Bitmap32List.GetBitmap(n)->WriteData(),
              res.Bitmap32List.GetBitmap(n + 1)->WriteData())
        << n;
}

}  // namespace
