#include "cp932.h"

#include <gtest/gtest.h>

using namespace vant::text;

TEST(Cp932, RoundTripsSymbolsAndHalfWidthKatakana) {
  for (std::string utf8 : {"①㈱～∥－", "ｱｲｳｴｵﾞﾟ", "オルネ　広告会社仕様", "plain ASCII"}) {
    std::string cp;
    ASSERT_TRUE(ToCp932(utf8, cp)) << utf8;
    EXPECT_EQ(ToUtf8(cp), utf8);
  }
  std::string cp;
  ASSERT_TRUE(ToCp932("①", cp));
  EXPECT_EQ(cp, "\x87\x40");  // NEC special character row
  ASSERT_TRUE(ToCp932("～", cp));
  EXPECT_EQ(cp, "\x81\x60");  // FULLWIDTH TILDE, not WAVE DASH
}

TEST(Cp932, DanglingLeadByteStillConverts) {
  std::string field = "\x83\x65\x83";  // "テ" then a cut lead byte
  EXPECT_EQ(ToUtf8(field), "テ\xEF\xBF\xBD");
}

TEST(Cp932, UnrepresentableCharacterIsReported) {
  std::string out;
  EXPECT_FALSE(ToCp932("a\xF0\x9F\x98\x80" "b", out));  // an emoji
  EXPECT_EQ(ToCp932Lossy("a\xF0\x9F\x98\x80" "b"), "a?b");
}

TEST(Cp932, LeadBytesAndCharBoundary) {
  EXPECT_TRUE(IsLeadByte(0x81));
  EXPECT_TRUE(IsLeadByte(0xFC));
  EXPECT_FALSE(IsLeadByte(0xA1));  // half-width katakana is single-byte
  EXPECT_FALSE(IsLeadByte('A'));
  std::string s = "A\x83\x65\x83\x67";  // A テ ト
  EXPECT_EQ(CharBoundary(s, 2), 1u);
  EXPECT_EQ(CharBoundary(s, 3), 3u);
  EXPECT_EQ(CharBoundary(s, 10), 5u);
}
