#include "ui_datetime.h"

#include <gtest/gtest.h>

namespace vant {
namespace {

TEST(DateTime, EncodesAndDecodesAroundTheEpochAndLeapDays) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 1, 1), 36526.0);
  int y, m, d;
  for (TDateTime t : {EncodeDate(2024, 2, 29), EncodeDate(1600, 3, 1), EncodeDate(9999, 12, 31),
                      EncodeDate(1, 1, 1), EncodeDate(1899, 12, 29)}) {
    DecodeDate(t, y, m, d);
    EXPECT_EQ(EncodeDate(y, m, d), t);
  }
  DecodeDate(EncodeDate(2024, 2, 29), y, m, d);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(1900, 2, 29), EConvertError);
}

TEST(DateTime, FormatsWithExplicitFormats) {
  TDateTime t = EncodeDate(2007, 3, 9) + EncodeTime(8, 5, 7, 45);
  struct Case {
    const char* format;
    const char* text;
  } cases[] = {
      {"yyyy/mm/dd", "2007/03/09"},     {"yy/m/d", "07/3/9"},     {"hh:nn:ss", "08:05:07"},
      {"h:mm:ss", "8:05:07"},           {"yyyymmdd", "20070309"}, {"\"at\" h:nn", "at 8:05"},
      {"hh:nn:ss.zzz", "08:05:07.045"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.format, t), c.text) << c.format;
  EXPECT_EQ(DateTimeToStr(t), "2007/03/09 8:05:07");
  EXPECT_EQ(DateTimeToStr(EncodeDate(2007, 3, 9)), "2007/03/09");
}

TEST(DateTime, ReadsDatesInTheFormatsOrder) {
  TDateTime t;
  ASSERT_TRUE(TryStrToDate("2007/03/09", t, "yyyy/mm/dd"));
  EXPECT_EQ(t, EncodeDate(2007, 3, 9));
  ASSERT_TRUE(TryStrToDate("2007/3/9", t, "yyyy/mm/dd"));
  EXPECT_EQ(t, EncodeDate(2007, 3, 9));
  ASSERT_TRUE(TryStrToDate("09/03/2007", t, "dd/mm/yyyy"));
  EXPECT_EQ(t, EncodeDate(2007, 3, 9));
  for (const char* bad :
       {"2007/02/30", "2007-03-09", "2007/03", "2007/03/09/", "x", "", "2007/13/01"})
    EXPECT_FALSE(TryStrToDate(bad, t, "yyyy/mm/dd")) << bad;
  try {
    StrToDate("2007/02/30", "yyyy/mm/dd");
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'2007/02/30' is not a valid date");
  }
}

}  // namespace
}  // namespace vant
