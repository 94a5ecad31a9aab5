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
  const fs::path target_dir = dir_ / "target";
  const fs::path temp_dir = dir_ / "temp";
  fs::create_directory(target_dir);
  fs::create_directory(temp_dir);
  struct Case {
    int64_t size, target_free, temp_free;
    bool target_exists;
    int bits;
  } cases[] = {
      // Both folders on one file system: the new file (in whole 4 KiB blocks) counts twice,
      // once in the temporary folder and once as the copy beside the target.
      {3000, 8192, 8192, true, 0},
      {3000, 8191, 8192, true, mmio::kTargetShort},
      {3000, 8192, 8191, true, mmio::kTempShort},
      {4096, 8192, 8192, true, 0},
      {4097, 8192, 8192, true, mmio::kTargetShort | mmio::kTempShort},
      // The example of a plain WAV of 576,044 bytes that the save makes 2,958 bytes longer.
      {579002, 577536, int64_t{1} << 40, true, mmio::kTargetShort},
      {0, 0, 0, true, 0},
      {-1, 0, 0, true, 0},                            // not planned: the save speaks for itself
      {1, int64_t{1} << 30, int64_t{1} << 30, false, mmio::kTargetShort},  // no folder, no room
  };
  for (const auto& c : cases) {
    std::map<fs::path, int64_t> free{{target_dir, c.target_free}, {temp_dir, c.temp_free}};
    auto free_space = [&](const fs::path& folder) { return free.at(folder); };
    const fs::path target = (c.target_exists ? target_dir : dir_ / "missing") / "out.wav";
    EXPECT_EQ(mmio::CheckSaveSpace(c.size, target, temp_dir, free_space), c.bits)
        << c.size << " " << c.target_free << " " << c.temp_free;
  }
  // A bare target name lies in the current folder, which has room.
  auto plenty = [](const fs::path& folder) { return folder.empty() ? 0 : int64_t{1} << 40; };
  EXPECT_EQ(mmio::CheckSaveSpace(3000, "out.wav", temp_dir, plenty), 0);

  // On file systems of their own each holds the file once.
  struct stat a, b;
  const fs::path other = "/dev/shm";
  if (stat(other.c_str(), &a) == 0 && stat(dir_.c_str(), &b) == 0 && a.st_dev != b.st_dev) {
    auto once = [&](const fs::path&) { return int64_t{4096}; };
    EXPECT_EQ(mmio::CheckSaveSpace(4096, target_dir / "out.wav", other, once), 0);
    EXPECT_EQ(mmio::CheckSaveSpace(4097, target_dir / "out.wav", other, once), 3);
  }
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
