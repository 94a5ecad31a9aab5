#include "bitmap32list.h"

#include <gtest/gtest.h>

namespace {

using namespace g32;

// A list loaded the way a layout builder loads one: items created by the collection, each given
// its "Bitmap.Data" only when the layout carries it.
TEST(Bitmap32List, LoadedItemsAndStoredData) {
  TBitmap32 button;
  button.SetSize(31, 31);
  button.Clear(0x80102030);
  const std::string data = button.WriteData();

  TBitmap32List list;
  list.GetBitmaps()->Add();  // two items without "Data"
  list.GetBitmaps()->Add();
  list.GetBitmaps()->Add()->GetBitmap()->ReadData(
      std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
  EXPECT_EQ(list.GetBitmaps()->Owner(), &list);
  EXPECT_TRUE(list.GetBitmap(0)->Empty());
  EXPECT_FALSE(list.GetBitmaps()->Items(0)->DataIsStored());
  EXPECT_TRUE(list.GetBitmaps()->Items(2)->DataIsStored());
  EXPECT_EQ(list.GetBitmap(2)->WriteData().size(), 3852u);
  EXPECT_EQ(list.GetBitmap(2), list.GetBitmap(2));  // the item's own object each time
  EXPECT_EQ(list.GetBitmaps()->Items(2)->Index(), 2);

  // Copying into an image's bitmap leaves the list's picture alone.
  TBitmap32 image;
  image.Assign(list.GetBitmap(2));
  image.Clear(0);
  EXPECT_EQ(list.GetBitmap(2)->GetPixel(0, 0), 0x80102030u);

  list.SetBitmap(0, &button);
  EXPECT_TRUE(list.GetBitmap(0)->Equal(&button));
  EXPECT_NE(list.GetBitmap(0), &button);
}

TEST(Bitmap32List, IndexAndAssignmentErrors) {
  TBitmap32List list;
  list.GetBitmaps()->Add();
  EXPECT_THROW(list.GetBitmap(1), EListError);
  EXPECT_THROW(list.GetBitmap(-1), EListError);
  EXPECT_THROW(list.SetBitmap(3, nullptr), EListError);
  EXPECT_THROW(list.GetBitmaps()->SetItems(0, list.GetBitmaps()->Items(0)), EConvertError);
}

TEST(Bitmap32List, AssigningACollectionCopiesIt) {
  TBitmap32Collection given(nullptr);
  given.Add()->GetBitmap()->SetSize(3, 2);
  given.Add();
  TBitmap32List list;
  list.GetBitmaps()->Add();
  list.SetBitmaps(given);
  ASSERT_EQ(list.GetBitmaps()->Count(), 2);
  EXPECT_EQ(list.GetBitmap(0)->Width(), 3);
  EXPECT_NE(list.GetBitmap(0), given.Items(0)->GetBitmap());
  EXPECT_EQ(given.Count(), 2);  // untouched and still the caller's
  list.GetBitmap(0)->Clear(clRed32);
  EXPECT_EQ(given.Items(0)->GetBitmap()->GetPixel(0, 0), 0u);
}

}  // namespace
