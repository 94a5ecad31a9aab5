#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "mmsearch.h"
#include "mmstring.h"

TEST(MMString, Positions) {
  const struct {
    const char* what;
    int got, want;
  } cases[] = {
      {"StrPosEx(aa,aaaa,2)", mm::StrPosEx("aa", "aaaa", 2), 2},
      {"StrPosEx(aa,aaaa,3)", mm::StrPosEx("aa", "aaaa", 3), 3},
      {"StrPosEx(aa,aaaa,4)", mm::StrPosEx("aa", "aaaa", 4), 0},
      {"StrPosEx(aa,aaaa,0)", mm::StrPosEx("aa", "aaaa", 0), 0},
      {"StrPosEx(,aaaa,1)", mm::StrPosEx("", "aaaa", 1), 0},
      {"PosEx(3,b,abab)", mm::PosEx(3, "b", "abab"), 2},
      {"PosEx(1,b,abab)", mm::PosEx(1, "b", "abab"), 2},
      {"PosEx(5,b,abab)", mm::PosEx(5, "b", "abab"), 0},
      {"PosEx(3,x,abab)", mm::PosEx(3, "x", "abab"), 0},
      {"PosRight(/,a/b/c)", mm::PosRight("/", "a/b/c"), 4},
      {"PosRight(x,a/b/c)", mm::PosRight("x", "a/b/c"), 0},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(MMString, CuttingAndPadding) {
  std::string s = "abc";
  mm::DeleteRight(s, '/');
  EXPECT_EQ(s, "");
  s = "abc";
  mm::DeleteLeft(s, '/');
  EXPECT_EQ(s, "abc");
  s = "x/y/z";
  mm::DeleteLeft(s, '/');
  EXPECT_EQ(s, "/y/z");
  s = "x/y/z";
  mm::DeleteRight(s, '/');
  EXPECT_EQ(s, "x/y/");

  const struct {
    std::string got, want;
  } cases[] = {
      {mm::RightEnd("a/b/c", '/'), "c"},
      {mm::LeftEnd("a/b/c", '/'), "a"},
      {mm::RightEnd("abc", '/'), ""},
      {mm::LeftEnd("abc", '/'), ""},
      {mm::LeftStr("abc", 5), "abc"},
      {mm::RightStr("abc", 2), "bc"},
      {mm::RightStr("abc", -1), ""},
      {mm::PadEnds("ab", '*', 5), "*ab**"},
      {mm::PadLeft("ab", '0', 4), "00ab"},
      {mm::PadRight("ab", '.', 3), "ab."},
      {mm::PadLeft("abc", '0', 2), "abc"},
      {mm::Replicate("ab", 3), "ababab"},
      {mm::Replicate("ab", 0), ""},
      {mm::Replace("a.b.c", '.', '_'), "a_b_c"},
      {mm::IntToBin(5, 4), "0101"},
      {mm::IntToBin(0x80000001u, 34), "0010000000000000000000000000000001"},
      {mm::DUpperCase("m\xe4u\xfc"), "M\xc4U\xdc"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(MMString, HexAndCaseFreeCompare) {
  const std::pair<const char*, int32_t> hex[] = {
      {"ff", 255},      {"FF", 255}, {"zz", 0}, {"", 0}, {"123456789", 0x12345678},
      {"ffffffff", -1}, {"1g", 16}};
  for (auto [text, want] : hex) EXPECT_EQ(mm::HexToInt(text), want) << text;
  EXPECT_TRUE(mm::Equal("Track.WAV", "track.wav"));
  EXPECT_FALSE(mm::Equal("track", "tracks"));
  // Trail bytes that look like ASCII letters must not fold: these are two different characters.
  EXPECT_FALSE(mm::Equal("\x83\x41", "\x83\x61"));
  EXPECT_TRUE(mm::Equal("\x83\x41x", "\x83\x41X"));
}

TEST(MMString, DecryptUndoesEncrypt) {
  std::mt19937 rng(7);
  for (int round = 0; round < 50; ++round) {
    std::string s(rng() % 40, '\0');
    for (char& c : s) c = static_cast<char>(rng());
    const auto key = static_cast<uint16_t>(rng());
    const std::string e = mm::Encrypt(s, key);
    EXPECT_EQ(e.size(), s.size());
    EXPECT_EQ(mm::Decrypt(e, key), s);
  }
  EXPECT_NE(mm::Encrypt("secret", 1), mm::Encrypt("secret", 2));
  // The state advances with the encrypted byte: the first byte is the plain byte XOR key's high
  // byte.
  EXPECT_EQ(mm::Encrypt("A", 0x1200), std::string(1, 'A' ^ 0x12));
}

namespace {
// An element of odd size so byte-wise exchange and offsets are exercised.
struct Rec {
  int32_t key;
  char tag[3];
};
static_assert(sizeof(Rec) == 8);
int CompareRec(const void* a, const void* b) {
  const int32_t x = static_cast<const Rec*>(a)->key, y = static_cast<const Rec*>(b)->key;
  return (x > y) - (x < y);
}
int CompareByte(const void* a, const void* b) {
  return *static_cast<const unsigned char*>(a) - *static_cast<const unsigned char*>(b);
}
}  // namespace

TEST(MMSearch, SortAgreesWithTheStandardLibrary) {
  std::mt19937 rng(1);
  const struct {
    const char* what;
    size_t n;
    int range;
  } cases[] = {
      {"empty", 0, 10}, {"one", 1, 10},         {"two", 2, 10},        {"three", 3, 10},
      {"four", 4, 10},  {"all equal", 1000, 1}, {"few keys", 5000, 3}, {"random", 20000, 1 << 30}};
  for (const auto& c : cases) {
    for (int round = 0; round < (c.n < 5 ? 30 : 2); ++round) {
      std::vector<Rec> v(c.n);
      for (auto& r : v) r = {static_cast<int32_t>(rng() % c.range), {'x', 'y', 'z'}};
      std::vector<int32_t> want;
      for (auto& r : v) want.push_back(r.key);
      std::sort(want.begin(), want.end());
      mm::qsort(v.data(), v.size(), sizeof(Rec), CompareRec);
      std::vector<int32_t> got;
      for (auto& r : v) got.push_back(r.key);
      EXPECT_EQ(got, want) << c.what;
      for (auto& r : v) ASSERT_EQ(std::memcmp(r.tag, "xyz", 3), 0) << c.what;
    }
  }
  // Already sorted, reversed and organ-pipe inputs of single bytes.
  std::vector<unsigned char> bytes(3000);
  for (size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<unsigned char>(i < 1500 ? i : 3000 - i);
  std::vector<unsigned char> want = bytes;
  std::sort(want.begin(), want.end());
  mm::qsort(bytes.data(), bytes.size(), 1, CompareByte);
  EXPECT_EQ(bytes, want);
  std::reverse(bytes.begin(), bytes.end());
  mm::qsort(bytes.data(), bytes.size(), 1, CompareByte);
  EXPECT_EQ(bytes, want);
  mm::qsort(bytes.data(), bytes.size(), 0, CompareByte);  // size 0: nothing
}

TEST(MMSearch, BinaryAndLinearSearch) {
  std::vector<Rec> v;
  for (int32_t k : {1, 3, 5, 7, 9, 11}) v.push_back({k, {}});
  for (int32_t k = 0; k <= 12; ++k) {
    Rec key{k, {}};
    auto* found = static_cast<Rec*>(mm::bsearch(&key, v.data(), v.size(), sizeof(Rec), CompareRec));
    auto it = std::find_if(v.begin(), v.end(), [&](const Rec& r) { return r.key == k; });
    EXPECT_EQ(found, it == v.end() ? nullptr : &*it) << k;
    EXPECT_EQ(mm::lfind(&key, v.data(), v.size(), sizeof(Rec), CompareRec), found) << k;
  }
  Rec key{3, {}};
  EXPECT_EQ(mm::bsearch(&key, v.data(), 0, sizeof(Rec), CompareRec), nullptr);

  v.reserve(v.size() + 1);
  size_t count = v.size();
  v.resize(count + 1);
  Rec missing{4, {'n', 'e', 'w'}};
  auto* added = static_cast<Rec*>(mm::lsearch(&missing, v.data(), count, sizeof(Rec), CompareRec));
  EXPECT_EQ(count, 7u);
  EXPECT_EQ(added, &v[6]);
  EXPECT_EQ(added->key, 4);
  EXPECT_EQ(std::memcmp(added->tag, "new", 3), 0);
  EXPECT_EQ(mm::lsearch(&missing, v.data(), count, sizeof(Rec), CompareRec), added);
  EXPECT_EQ(count, 7u);
}
