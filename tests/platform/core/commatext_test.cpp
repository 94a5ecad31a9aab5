#include "commatext.h"

#include <gtest/gtest.h>

#include <random>

using namespace vant::text;

namespace {
using List = std::vector<std::string>;
}

TEST(CommaText, Join) {
  struct Case {
    List values;
    std::string text;
  } cases[] = {
      {{"a", "b"}, "a,b"},
      {{"a b"}, "\"a b\""},
      {{"x,y"}, "\"x,y\""},
      {{"say \"hi\""}, "\"say \"\"hi\"\"\""},
      {{"tab\there"}, "\"tab\there\""},
      {{""}, "\"\""},
      {{"", "a", ""}, ",a,"},
      {{"// End of Data"}, "\"// End of Data\""},
      // CP932 bytes at 0x80 and above are no blanks: half-width katakana, a trail byte 0x5C.
      {{"\xB1\xB2", "\x83\x5C"}, "\xB1\xB2,\x83\x5C"},
      {{}, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(JoinCommaText(c.values), c.text) << c.text;
}

TEST(CommaText, Split) {
  struct Case {
    std::string text;
    List values;
  } cases[] = {
      {"a,b", {"a", "b"}},
      {"a b", {"a", "b"}},  // blanks outside quotes separate values
      {"  a , b  ", {"a", "b"}},
      {"\"x,y\",z", {"x,y", "z"}},
      {"\"a\"\"b\"", {"a\"b"}},
      {"\"\"", {""}},
      {",,", {"", ""}},
      {"a,,b", {"a", "", "b"}},
      {"a,", {"a"}},  // a trailing comma adds nothing
      {"", {}},
      {"a\r\nb", {"a", "b"}},      // line breaks separate like blanks
      {"\"open", {"open"}},        // an unclosed quote runs to the end
      {"\"ab\"cd", {"ab", "cd"}},  // text after the closing quote is a new value
      {"\xB1\xB2,\x83\x65\x83\x58", {"\xB1\xB2", "\x83\x65\x83\x58"}},  // ｱｲ,テス
      {"\"\x83\x65\" x", {"\x83\x65", "x"}},
      {std::string("a,b\0c", 5), {"a", "b"}},  // NUL ends the text
      {"x\x83", {"x\x83"}},                    // a lead byte cut at the end stays
      {"x\x83,y", {"x\x83", "y"}},             // ... and before a comma it ends there
      {"\"x\x83\",y", {"x\x83", "y"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommaText(c.text), c.values) << c.text;
}

TEST(CommaText, RandomListsRoundTrip) {
  std::mt19937 rng(7);
  // Blanks, delimiters, CP932 lead and trail bytes in any order, cut characters included.
  const std::string alphabet = " ,\"\t\r\nab\x83\x65\xB1\x81\x40\x5C";
  for (int round = 0; round < 2000; ++round) {
    List values(1 + rng() % 5);
    for (auto& v : values) {
      size_t n = rng() % 6;
      for (size_t k = 0; k < n; ++k) v += alphabet[rng() % alphabet.size()];
    }
    if (values.back().empty()) values.back() = "z";  // a trailing empty value is not kept
    EXPECT_EQ(SplitCommaText(JoinCommaText(values)), values);
  }
}
