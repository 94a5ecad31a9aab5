#include "bwfcsv.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <memory>

#include "cmcdsamples.h"
#include "commatext.h"
#include "notifyrecorder.h"
#include "savetest.h"
#include "vantbuilder.h"

namespace fs = std::filesystem;
using bwf::CmcdField;

namespace {

void WriteAll(const fs::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// A model on a small VANT file, its commercial data replaced by `cmcd`.
struct Model {
  explicit Model(const TCmcdInfo& cmcd)
      : file(vb::Build({vb::Fmt(), vb::Data(4)})),
        chunk(std::make_unique<TBWFChunck>(file.path(), TBWFChunck::kKeepOpen)) {
    chunk->CmcdInfo = cmcd;
  }
  vb::TempFile file;
  std::unique_ptr<TBWFChunck> chunk;
};

// The byte ranges of the fields of some CSV columns.
std::vector<std::pair<int, int>> Ranges(std::initializer_list<int> columns) {
  std::vector<std::pair<int, int>> r;
  for (int col : columns) {
    if (col == 0) {
      r.push_back({0, 2});
    } else {
      const auto& l = bwf::CmcdFields()[static_cast<size_t>(col - 1)];
      r.push_back({l.offset, l.offset + l.width});
    }
  }
  return r;
}

}  // namespace

TEST(CmcdCsv, EmptyRecordLine) {
  TCmcdInfo empty;
  empty.SetCmcdVersion(100);
  EXPECT_EQ(CmcdCsvLine(empty), "100" + std::string(36, ',') + ",\"// End of Data\"\r\n");
  TCmcdInfo c = empty;
  c.Set(CmcdField::CreationTime, "12:30:00");
  c.Set(CmcdField::ClientName, "client");  // the next field does not run into column 7
  c.Set(CmcdField::CMTitle, "title, with comma");
  auto values = vant::text::SplitCommaText(CmcdCsvLine(c));
  ASSERT_EQ(values.size(), 38u);
  EXPECT_EQ(values[7], "12:30:00");
  EXPECT_EQ(values[8], "client");
  EXPECT_EQ(values[20], "title, with comma");
  EXPECT_EQ(values[37], "// End of Data");
}

TEST(CmcdCsv, ExportThenImportReproducesTheRecord) {
  NotifyRecorder notes;
  const TCmcdInfo original = Awkward();
  Model from(original);
  const fs::path csv = from.file.path().string() + ".csv";
  ASSERT_TRUE(ExportCsv(*from.chunk, csv, EditionKeyAgency));
  EXPECT_EQ(notes.lines, (std::vector<std::string>{std::string("I:") + kMsgExportDone}));

  Model to(TCmcdInfo{});
  for (uint32_t key : {EditionKeyPostProduction, EditionKeyAgency, EditionKeyBroadcaster}) {
    EXPECT_TRUE(ImportCsv(*to.chunk, csv, key));
  }
  EXPECT_EQ(to.chunk->CmcdInfo.bytes, original.bytes);
  fs::remove(csv);
}

TEST(CmcdCsv, EachKeyChangesExactlyItsColumns) {
  struct Case {
    uint32_t key;
    std::vector<std::pair<int, int>> ranges;
  } cases[] = {
      {EditionKeyAgency, Ranges({2, 3, 33, 34})},
      {EditionKeyBroadcaster, Ranges({4, 35, 36})},
      {EditionKeyPostProduction,
       Ranges({0,  1,  3,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18,
               19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34})},
      {0x12345678, {}},
  };
  TCmcdInfo before;
  before.bytes.fill('o');
  std::string record = "7";
  for (int col = 1; col <= 36; ++col) record += ",n" + std::to_string(col);
  record += ",\"// End of Data\"\r\n";
  for (const auto& c : cases) {
    TCmcdInfo after = before;
    ASSERT_EQ(ImportCmcdCsvText(after, record, c.key), CsvImport::kDone);
    for (int i = 0; i < static_cast<int>(bwf::kCmcdSize); ++i) {
      bool inside = false;
      for (auto [b, e] : c.ranges) inside |= i >= b && i < e;
      if (!inside) {
        EXPECT_EQ(after.bytes[i], 'o') << std::hex << c.key << " byte " << std::dec << i;
      }
    }
    if (c.key == EditionKeyAgency) {
      EXPECT_EQ(after.Get(CmcdField::ItemNumber), "n2");
      EXPECT_EQ(after.Get(CmcdField::ADComment2), "n34");
    }
  }
}

TEST(CmcdCsv, RecordShapesAndVersions) {
  auto record = [](int values, const std::string& version) {
    std::string r = version;
    for (int col = 1; col < values; ++col) r += ",v" + std::to_string(col);
    return r;
  };
  struct Case {
    std::string text;
    CsvImport result;
    uint16_t version;
  } cases[] = {
      {record(38, "100"), CsvImport::kDone, 100},
      {record(37, "100"), CsvImport::kDone, 100},  // no end marker: still a record
      {record(36, "100"), CsvImport::kTooFewValues, 1},
      {record(38, "70000"), CsvImport::kDone, 4464},  // the low 16 bits
      {record(38, "x"), CsvImport::kDone, 0},
      {record(38, "-1"), CsvImport::kDone, 65535},
      {record(38, "$10"), CsvImport::kDone, 16},
      {record(38, "99999999999"), CsvImport::kDone, 0},
      // Line breaks separate values like blanks; a blank typed into a field splits it.
      {"100\r\n" + record(37, "v0").substr(3), CsvImport::kDone, 100},
  };
  for (const auto& c : cases) {
    TCmcdInfo cmcd;
    cmcd.SetCmcdVersion(1);
    EXPECT_EQ(ImportCmcdCsvText(cmcd, c.text, EditionKeyPostProduction), c.result) << c.text;
    EXPECT_EQ(cmcd.GetCmcdVersion(), c.version) << c.text;
  }
  TCmcdInfo shifted;
  std::string split = record(38, "100");
  split.replace(split.find("v1,"), 3, "v 1,");  // one more value: every later column moves
  ASSERT_EQ(ImportCmcdCsvText(shifted, split, EditionKeyPostProduction), CsvImport::kDone);
  EXPECT_EQ(shifted.Get(CmcdField::ProductionCode), "v");
  EXPECT_EQ(shifted.Get(CmcdField::CommonCode), "v2");
}

TEST(CmcdCsv, FileFailuresSaySoAndChangeNothing) {
  NotifyRecorder notes;
  TCmcdInfo original = Awkward();
  Model m(original);
  const fs::path dir = m.file.path().parent_path();
  const fs::path short_record = m.file.path().string() + ".short.csv";
  WriteAll(short_record, "100,a,b\r\n");
  EXPECT_FALSE(ImportCsv(*m.chunk, dir / "missing.csv", EditionKeyAgency));
  EXPECT_FALSE(ImportCsv(*m.chunk, short_record, EditionKeyAgency));
  EXPECT_FALSE(ImportCsv(*m.chunk, dir, EditionKeyAgency));  // a folder is no record
  EXPECT_EQ(m.chunk->CmcdInfo.bytes, original.bytes);
  EXPECT_FALSE(ExportCsv(*m.chunk, dir / "missing-folder" / "x.csv", EditionKeyAgency));
  auto Text = [](const fs::path& p) {
    const vb::Bytes b = st::ReadBytes(p);
    return std::string(b.begin(), b.end());
  };
  // A write-protected record is left as it is, as the save leaves a protected file (root too).
  chmod(short_record.c_str(), 0444);
  EXPECT_FALSE(ExportCsv(*m.chunk, short_record, EditionKeyAgency));
  EXPECT_EQ(Text(short_record), "100,a,b\r\n");
  chmod(short_record.c_str(), 0644);
  {
    // A failing rename, through the save's file layer: reported, the old record kept.
    st::FaultyLayer rename(st::FaultyLayer::kRename);
    EXPECT_FALSE(ExportCsv(*m.chunk, short_record, EditionKeyAgency));
    EXPECT_TRUE(rename.fired);
  }
  EXPECT_EQ(Text(short_record), "100,a,b\r\n");
  EXPECT_EQ(notes.lines, (std::vector<std::string>{
                             std::string("E:") + kMsgImportFailed,
                             std::string("E:") + kMsgImportInvalid,
                             std::string("E:") + kMsgImportFailed,
                             std::string("E:") + kMsgExportFailed,
                             std::string("E:") + kMsgExportFailed,
                             std::string("E:") + kMsgExportFailed,
                         }));
  fs::remove(short_record);
}
