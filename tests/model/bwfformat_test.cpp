#include "bwfformat.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The tables must tile their records: a wrong offset or width would shift every later field.
TEST(BwfFormat, FieldTablesTileTheirRecords) {
  uint32_t next = 2;  // after CmcdVersion
  int column = 1;
  for (const auto& f : bwf::CmcdFields()) {
    EXPECT_EQ(f.offset, next) << f.name;
    EXPECT_EQ(f.csvColumn, column++) << f.name;
    next = f.offset + f.width;
  }
  EXPECT_EQ(next, bwf::kCmcdReservedOffset);
  EXPECT_EQ(next + bwf::kCmcdReservedSize, bwf::kCmcdSize);
  EXPECT_EQ(column, bwf::kCmcdEndColumn);

  next = 0;
  for (const auto& f : bwf::BextFields()) {
    EXPECT_EQ(f.offset, next) << f.name;
    next = f.offset + f.width;
  }
  EXPECT_EQ(next, bwf::kBextSize);

  const auto& title = bwf::Layout(bwf::CmcdField::CMTitle);
  EXPECT_STREQ(title.name, "CMTitle");
  EXPECT_EQ(title.offset, 748);
  EXPECT_EQ(title.width, 128);
  EXPECT_EQ(bwf::Layout(bwf::CmcdField::StationComment2).csvColumn, 36);
}

TEST(BwfFormat, FieldTextRules) {
  struct Case {
    std::string stored;
    std::string bytes;  // the 6-byte field after storing
    std::string readBack;
  };
  const std::string sjis = "\x83\x65\x83\x58";  // two double-byte characters
  const Case cases[] = {
      {"30", std::string("30\0\0\0\0", 6), "30"},
      {"123456", "123456", "123456"},   // full width: no terminating zero
      {"1234567", "123456", "123456"},  // longer: cut at the width
      {"", std::string(6, '\0'), ""},
      {"abc" + sjis, "abc\x83\x65\x83", "abc\x83\x65\x83"},  // cut inside a character
  };
  for (const auto& c : cases) {
    std::array<uint8_t, 6> field;
    field.fill(0xEE);
    bwf::StoreFieldText(field, c.stored);
    EXPECT_EQ(std::string(field.begin(), field.end()), c.bytes) << c.stored;
    EXPECT_EQ(bwf::ReadFieldText(field), c.readBack) << c.stored;
  }

  TCmcdInfo cmcd;
  cmcd.Set(bwf::CmcdField::CMLength, "30");
  EXPECT_EQ(cmcd.bytes[876], '3');
  EXPECT_EQ(cmcd.bytes[877], '0');
  EXPECT_EQ(cmcd.bytes[878], 0);
  EXPECT_EQ(cmcd.Get(bwf::CmcdField::CMLength), "30");
  cmcd.SetCmcdVersion(100);
  EXPECT_EQ(cmcd.bytes[0], 100);
  TBextInfo bext;
  bext.SetDescription(std::string(300, 'r'));
  EXPECT_EQ(bext.GetDescription(), std::string(256, 'r'));
  EXPECT_EQ(bext.bytes[256], 0);  // Originator untouched
}

TEST(BwfFormat, IdsKindsAndFormSizes) {
  const bwf::FourCC two = bwf::NoteId(2);
  EXPECT_EQ(two & 0xFF, 'N');
  EXPECT_EQ(two >> 24, '2');
  EXPECT_EQ(bwf::NoteLabel(2), "BC$NOTE2");

  const std::pair<const char*, bwf::AttachKind> kinds[] = {{"report.Pdf", bwf::kAttachPdf},
                                                           {"list.csv.txt", bwf::kAttachCsv},
                                                           {"notes.doc", bwf::kAttachOther},
                                                           {"a.csv.pdf", bwf::kAttachPdf},
                                                           {"", bwf::kAttachOther}};
  for (auto [name, kind] : kinds) EXPECT_EQ(bwf::GetAttachKind(name), kind) << name;

  EXPECT_TRUE(bwf::IsValidFormSize(0));
  EXPECT_TRUE(bwf::IsValidFormSize(268435456));
  EXPECT_FALSE(bwf::IsValidFormSize(268435457));
  EXPECT_FALSE(bwf::IsValidFormSize(0x80000000u));
  EXPECT_FALSE(bwf::IsValidFormSize(0xFFFFFFFFu));
}

}  // namespace
