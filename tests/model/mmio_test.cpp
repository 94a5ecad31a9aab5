#include "mmio.h"
#include "scratchfolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>

namespace fs = std::filesystem;

namespace {

// A scratch folder per test.
class MmioTest : public ::testing::Test {
 protected:
  fs::path Write(const std::string& name, const std::string& bytes) {
    fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << bytes;
    return p;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  vant::testing::ScratchFolder scratch_{"vant-mmio"};
  const fs::path dir_ = scratch_.path();
};

}  // namespace

TEST(Mmio, FixedFieldsAndByteSwap) {
  struct Case {
    std::string text;
    size_t width;
    std::string stored;
  } cases[] = {
      {"12:30:00", 8, "12:30:00"},
      {"9:05", 8, std::string("9:05\0\0\0\0", 8)},
      {"123456789", 8, "12345678"},
      {"\x83\x65\x83\x58\x83\x67", 5, "\x83\x65\x83\x58\x83"},  // cut inside a character
      {"", 3, std::string(3, '\0')},
  };
  for (const auto& c : cases) {
    std::string field(c.width + 1, '#');  // the byte after the field stays
    mmio::SetFixedField(reinterpret_cast<uint8_t*>(field.data()), c.text, c.width);
    EXPECT_EQ(field, c.stored + "#") << c.text;
  }
  const uint8_t bytes[4] = {0x11, 0x22, 0x33, 0x44};
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  uint32_t swapped = mmio::ByteSwap32(v);
  uint8_t out[4];
  std::memcpy(out, &swapped, 4);
  EXPECT_EQ((std::vector<uint8_t>(out, out + 4)), (std::vector<uint8_t>{0x44, 0x33, 0x22, 0x11}));
}

TEST(Mmio, AddFileExt) {
  struct Case {
    const char* name;
    const char* ext;
    const char* result;
  } cases[] = {
      {"list.CSV", ".csv", "list.CSV"},
      {"list", ".csv", "list.csv"},
      {"a.csv.bak", ".csv", "a.csv.bak"},  // anywhere in the name counts
      {"", ".csv", ".csv"},
  };
  for (const auto& c : cases) EXPECT_EQ(mmio::AddFileExt(c.name, c.ext), c.result) << c.name;
}

TEST_F(MmioTest, CheckSaveSpaceAgainstInjectedFreeSpace) {
  const fs::path source = Write("source.wav", std::string(2000, 's'));
  const fs::path pending = Write("sheet.csv", std::string(1000, 'p'));
  const fs::path target_dir = dir_ / "target";
  const fs::path temp_dir = dir_ / "temp";
  fs::create_directory(target_dir);
  fs::create_directory(temp_dir);
  struct Case {
    int64_t target_free, temp_free;
    std::vector<std::string> pending;
    bool target_exists;
    int bits;
  } cases[] = {
      // Room for the 2,000-byte source and 1,024 bytes more: 3,000 free is short of it.
      {3000, 5000, {}, true, mmio::kTargetShort},
      {3024, 3024, {}, true, 0},
      {3023, 3024, {}, true, mmio::kTargetShort},
      {3024, 3023, {}, true, mmio::kTempShort},
      // A pending 1,000-byte attachment counts too.
      {4024, 4024, {"*sheet.csv [" + pending.string() + "]"}, true, 0},
      {4023, 4024, {"*sheet.csv [" + pending.string() + "]"}, true, mmio::kTargetShort},
      {3024, 3024, {"*sheet.csv [" + pending.string() + "]"}, true, 3},
      {3024, 3024, {"*gone.csv [" + (dir_ / "gone.csv").string() + "]"}, true, 0},
      {3024, 3024, {"sheet.csv [" + pending.string() + "]"}, true, 0},  // stored, not pending
      {1 << 30, 1 << 30, {}, false, mmio::kTargetShort},                // no folder, no room
  };
  for (const auto& c : cases) {
    std::map<fs::path, int64_t> free{{target_dir, c.target_free}, {temp_dir, c.temp_free}};
    auto free_space = [&](const fs::path& folder) { return free.at(folder); };
    const fs::path target = (c.target_exists ? target_dir : dir_ / "missing") / "out.wav";
    EXPECT_EQ(mmio::CheckSaveSpace(source, target, temp_dir, &c.pending, free_space), c.bits)
        << c.target_free << " " << c.temp_free << " " << c.pending.size();
  }
  // A bare target name lies in the current folder, which has room.
  auto plenty = [](const fs::path& folder) { return folder.empty() ? 0 : int64_t{1} << 40; };
  EXPECT_EQ(mmio::CheckSaveSpace(source, "out.wav", temp_dir, nullptr, plenty), 0);
}

// The path of a pending list line ("*" name, 38 blanks, "[" full path "]"), brackets in the name
// or its folders included.
TEST(Mmio, PendingPath) {
  const std::string gap(38, ' ');
  const struct {
    std::string line, path;
  } cases[] = {
      {"*list.csv" + gap + "[/home/u/list.csv]", "/home/u/list.csv"},
      {"*a b.pdf [/x/a b.pdf] ", "/x/a b.pdf"},
      {"*見積[改].pdf" + gap + "[/home/u/見積[改].pdf]", "/home/u/見積[改].pdf"},
      {"*x.pdf" + gap + "[/d[1]/e]f/x.pdf]", "/d[1]/e]f/x.pdf"},
      {"*[x].csv" + gap + "[/[x].csv]", "/[x].csv"},
      {"no brackets", ""},
      {"*x ]before[", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(mmio::PendingPath(c.line), c.path) << c.line;
}

TEST_F(MmioTest, CheckFolderWritable) {
  const fs::path file = Write("plain.txt", "x");
  EXPECT_EQ(mmio::CheckFolderWritable(dir_), mmio::kWritable);
  EXPECT_EQ(mmio::CheckFolderWritable(file), mmio::kNotAFolder);
  EXPECT_EQ(mmio::CheckFolderWritable(dir_ / "missing"), mmio::kNotWritable);
  EXPECT_EQ(fs::directory_iterator(dir_)->path(), file);  // the probe left nothing behind
  if (geteuid() != 0) {  // root writes into a read-only folder all the same
    chmod(dir_.c_str(), 0500);
    EXPECT_EQ(mmio::CheckFolderWritable(dir_), mmio::kNotWritable);
  }
}

TEST_F(MmioTest, FileSizesAre64Bit) {
  EXPECT_EQ(mmio::FileSizeByName(dir_ / "missing"), -1);
  const fs::path sparse = dir_ / "sparse.bin";
  std::ofstream(sparse).close();
  const int64_t three_gib = int64_t{3} << 30;
  ASSERT_EQ(truncate(sparse.c_str(), three_gib), 0);
  EXPECT_EQ(mmio::FileSizeByName(sparse), three_gib);
  struct stat st;
  ASSERT_EQ(stat(dir_.c_str(), &st), 0);
  EXPECT_EQ(mmio::FileSizeByName(dir_), st.st_size);  // a folder: what the file system says
}

TEST_F(MmioTest, ShellCopyFileReplacesWholeOrNotAtAll) {
  std::string bytes(3 << 20, '\0');
  std::mt19937 rng(1);
  for (char& c : bytes) c = static_cast<char>(rng());
  const fs::path source = Write("source.wav", bytes);
  const fs::path target = Write("target.wav", "old contents");
  chmod(target.c_str(), 0444);  // read-only: replaced all the same
  EXPECT_EQ(mmio::ShellCopyFile(source, target), 1);
  EXPECT_EQ(Read(target), bytes);
  EXPECT_EQ(mmio::ShellCopyFile(source, dir_ / "new.wav"), 1);
  EXPECT_EQ(Read(dir_ / "new.wav"), bytes);

  EXPECT_EQ(mmio::ShellCopyFile(dir_ / "missing.wav", target), -1);
  EXPECT_EQ(mmio::ShellCopyFile(source, dir_ / "no-folder" / "x.wav"), -1);
  EXPECT_EQ(mmio::ShellCopyFile(source, dir_), -1);
  EXPECT_EQ(Read(target), bytes);
  {
    mmio::ReplacingFile abandoned(target);
    ASSERT_TRUE(abandoned.IsOpen());
    abandoned.Write("partial", 7);
  }
  EXPECT_EQ(Read(target), bytes);
  int files = 0;
  for (const auto& e : fs::directory_iterator(dir_)) files += e.is_regular_file();
  EXPECT_EQ(files, 3);  // source, target, new: no part file left over

  // A name as long as a folder entry can be: the new file beside it needs a shorter one.
  std::string longest;
  for (int i = 0; i < 83; ++i) longest += "音";  // 249 bytes
  longest += ".wav";
  EXPECT_EQ(mmio::ShellCopyFile(source, dir_ / longest), 1);
  EXPECT_EQ(Read(dir_ / longest), bytes);
}
