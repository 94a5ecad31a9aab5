// Titles for window managers that read only the legacy WM_NAME property, in compound text. The
// JIS X 0208 bytes are what `iconv -t EUC-JP` writes for the same text.
#include "ui_compoundtext.h"

#include <gtest/gtest.h>

namespace vant {
namespace {

TEST(CompoundText, JapaneseInJisX0208LatinInLatin1OthersInUtf8) {
  const std::string jis = "\x1b$)B";  // JIS X 0208 into the right half
  const std::string latin1 = "\x1b-A";
  const std::string utf8_in = "\x1b%G", utf8_out = "\x1b%@";
  struct Case {
    std::string title;
    std::string expected;
  } cases[] = {
      {"", ""},
      {"Orlune 1.0", "Orlune 1.0"},
      {"オルネ　広告会社仕様",
       jis + "\xa5\xaa\xa5\xeb\xa5\xcd\xa1\xa1\xb9\xad\xb9\xf0\xb2\xf1\xbc\xd2\xbb\xc5\xcd\xcd"},
      {"ミルダ MO", jis + "\xa5\xdf\xa5\xeb\xa5\xc0 MO"},
      // The right half starts out as Latin-1; after a UTF-8 segment it is designated again.
      {"Café ミ", "Caf\xe9 " + jis + "\xa5\xdf"},
      {"ミé", jis + "\xa5\xdf" + latin1 + "\xe9"},
      {"é😀é", "\xe9" + utf8_in + "\xf0\x9f\x98\x80" + utf8_out + latin1 + "\xe9"},
  };
  for (const Case& c : cases) EXPECT_EQ(CompoundText(c.title), c.expected) << c.title;
}

}  // namespace
}  // namespace vant
