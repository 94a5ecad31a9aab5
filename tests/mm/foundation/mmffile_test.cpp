// The multi-file container: layout on disk, lookup, handles, packing, and hostile containers.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "faultylayer.h"
#include "mmffile.h"
#include "powercut.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const Bytes& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7);
  return b;
}

int32_t I32(const Bytes& b, size_t at) {
  int32_t v;
  std::memcpy(&v, b.data() + at, 4);
  return v;
}

// The container as the test itself lays it out, byte by byte.
struct Image {
  int32_t max_files;
  struct File {
    std::string name;
    Bytes data;
    bool deleted = false;
  };
  std::vector<File> files;

  Bytes Build() const {
    Bytes b(16 + 22 * (max_files + 1), 0);
    std::memcpy(b.data(), "FASTFILE", 8);
    std::memcpy(b.data() + 8, &max_files, 4);
    const int32_t count = static_cast<int32_t>(files.size());
    std::memcpy(b.data() + 12, &count, 4);
    int32_t offset = static_cast<int32_t>(b.size());
    size_t slot = 16;
    for (const File& f : files) {
      b[slot] = static_cast<uint8_t>(f.name.size());
      std::memcpy(b.data() + slot + 1, f.name.data(), f.name.size());
      const int32_t size = static_cast<int32_t>(f.data.size());
      std::memcpy(b.data() + slot + 13, &size, 4);
      std::memcpy(b.data() + slot + 17, &offset, 4);
      b[slot + 21] = f.deleted ? 1 : 0;
      offset += size;
      slot += 22;
    }
    std::memcpy(b.data() + slot + 17, &offset, 4);
    for (const File& f : files) b.insert(b.end(), f.data.begin(), f.data.end());
    return b;
  }
};

class FastFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("fastfile-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "src");
    container_ = (dir_ / "box.ff").string();
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Source(const std::string& name, const Bytes& data) {
    const fs::path p = dir_ / "src" / name;
    WriteAll(p, data);
    return p.string();
  }

  std::string Message(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const EMMFastFileError& e) {
      return e.what();
    }
    return "(no error)";
  }

  // Removes `drop` from the container and packs it in a child process killed at `step`; the
  // child's process id.
  pid_t PackKilledAt(int step, const std::string& drop) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      TMMFastFile::PackStepHook = [step](int s) {
        if (s == step) ::raise(SIGKILL);
      };
      TMMFastFile ff(nullptr);
      ff.SetFileName(container_);
      ff.RemoveFile(drop);
      ff.Done();
      ::_exit(0);
    }
    int status = 0;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status));
    return pid;
  }

  fs::path dir_;
  std::string container_;
};

TEST_F(FastFileTest, LayoutOfANewContainerAndOfAddedFiles) {
  TMMFastFile ff(nullptr);
  ff.SetMaxFiles(1);
  EXPECT_EQ(ff.GetMaxFiles(), 2);
  ff.SetMaxFiles(50);
  ff.SetFileName(container_);
  EXPECT_THROW(ff.SetMaxFiles(60), EMMFastFileError);
  Bytes image = ReadAll(container_);
  ASSERT_EQ(image.size(), 1138u);
  EXPECT_EQ(std::string(image.begin(), image.begin() + 8), "FASTFILE");
  EXPECT_EQ(I32(image, 8), 50);
  EXPECT_EQ(I32(image, 16 + 17), 1138);

  ff.AddFile(Source("a.bin", Pattern(10, 1)));
  ff.AddFile(Source("b.bin", Pattern(20, 2)));
  ff.AddFile(Source("c.bin", Pattern(30, 3)));
  EXPECT_EQ(ff.GetCount(), 3);
  image = ReadAll(container_);
  ASSERT_EQ(image.size(), 1198u);
  EXPECT_EQ(I32(image, 12), 3);
  const int32_t offsets[] = {1138, 1148, 1168, 1198};
  for (int i = 0; i < 4; ++i) EXPECT_EQ(I32(image, 16 + 22 * i + 17), offsets[i]) << i;

  ff.RemoveFile("B.BIN");
  EXPECT_EQ(ff.GetCount(), 2);
  ff.SetFileName("");  // closing packs
  image = ReadAll(container_);
  ASSERT_EQ(image.size(), 1178u);
  EXPECT_EQ(I32(image, 12), 2);
  EXPECT_EQ(I32(image, 16 + 17), 1138);
  EXPECT_EQ(I32(image, 16 + 22 + 17), 1148);
  EXPECT_EQ(I32(image, 16 + 44 + 17), 1178);
  EXPECT_EQ(Bytes(image.begin() + 1148, image.end()), Pattern(30, 3));
  for (const auto& e : fs::directory_iterator(dir_))
    EXPECT_EQ(e.path().filename().string().rfind("FAST", 0), std::string::npos) << e.path();
}

// Packing puts a new file in the container's place; it keeps the permissions the container had,
// and a pack that cannot give them leaves the old container with its deleted entries.
TEST_F(FastFileTest, PackingKeepsTheContainersMode) {
  for (mode_t mode : {0644, 0640, 0604, 0755}) {
    fs::remove(container_);
    {
      TMMFastFile ff(nullptr);
      ff.SetFileName(container_);
      ASSERT_EQ(::chmod(container_.c_str(), mode), 0);
      ff.AddFile(Source("a.bin", Pattern(10, 1)));
      ff.AddFile(Source("b.bin", Pattern(20, 2)));
      ff.RemoveFile("A.BIN");
    }  // closing packs
    struct stat st {};
    ASSERT_EQ(::stat(container_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
    EXPECT_EQ(ReadAll(container_).size(), 1138u + 20) << std::oct << mode;
  }
  TMMFastFile ff(nullptr);
  ff.SetFileName(container_);
  ff.AddFile(Source("c.bin", Pattern(30, 3)));
  ff.RemoveFile("B.BIN");
  const Bytes before = ReadAll(container_);
  {
    // The pack's change of mode, the only one: the new container is written in place.
    vant::testing::FaultyLayer layer(vant::testing::FaultyLayer::kFchmod, 1);
    EXPECT_THROW(ff.Pack(), EMMFastFileError);
    EXPECT_TRUE(layer.fired);
  }
  EXPECT_EQ(ReadAll(container_), before);
  EXPECT_EQ(ff.GetCount(), 1);
}

TEST_F(FastFileTest, NamesAreShortAndCaseInsensitive) {
  TMMFastFile ff(nullptr);
  ff.SetFileName(container_);
  EXPECT_EQ(ff.AddFile(Source("Report.txt", Pattern(5, 9))), "Report.txt");
  EXPECT_EQ(Message([&] { ff.AddFile(Source("report.TXT", Pattern(1, 1))); }), "Duplicate Filename");
  EXPECT_EQ(Message([&] { ff.RenameFile("Report.txt", "REPORT.TXT"); }), "Duplicate Filename");
  ff.RenameFile("report.txt", "ABCDEFGHIJKLMN");
  EXPECT_EQ(ff.GetFiles(0), "ABCDEFGHIJKL");
  EXPECT_TRUE(ff.FileExists("abcdefghijkl"));
  EXPECT_TRUE(ff.FileExists("ABCDEFGHIJKLXYZ"));
  EXPECT_EQ(ff.GetFilesByName("abcdefghijkl"), "ABCDEFGHIJKL");
  EXPECT_EQ(ff.FileSize("abcdefghijkl"), 5);
  EXPECT_EQ(ff.FileSize("missing"), 0);
  EXPECT_EQ(Message([&] { ff.RemoveFile("missing"); }), "File \"missing\" not found");
  EXPECT_EQ(Message([&] { ff.GetFiles(1); }), "Invalid Index ");
  EXPECT_EQ(Message([&] { ff.AddFile((dir_ / "nothing").string()); }), "Invalid Filename");
}

TEST_F(FastFileTest, HandlesReadSeekAndLock) {
  TMMFastFile ff(nullptr);
  ff.SetFileName(container_);
  const Bytes data = Pattern(40000, 5);  // more than one copy piece
  ff.AddFile(Source("big.dat", data));
  ff.AddFile(Source("next.dat", Pattern(3, 99)));
  const TFastFileHandle h = ff.FileOpen("BIG.DAT");
  Bytes got(50000);
  EXPECT_EQ(ff.FileRead(h, got.data(), 50000), 40000);  // never into the next file
  got.resize(40000);
  EXPECT_EQ(got, data);
  EXPECT_EQ(ff.FileRead(h, got.data(), 10), 0);
  EXPECT_EQ(Message([&] { ff.FileSeek(h, 40000, 0); }), "Invalid Offset");
  EXPECT_EQ(ff.FileSeek(h, 0, 2), 40000);
  EXPECT_EQ(ff.FileSeek(h, 100, 0), 100);
  EXPECT_EQ(ff.FileSeek(h, -50, 1), 50);
  EXPECT_EQ(Message([&] { ff.FileSeek(h, -51, 1); }), "Invalid Offset");
  EXPECT_EQ(Message([&] { ff.FileSeek(h, 0, 3); }), "Invalid origin field");
  uint8_t b;
  EXPECT_EQ(ff.FileRead(h, &b, 1), 1);
  EXPECT_EQ(b, data[50]);
  ASSERT_NE(ff.FileLock(h, 0, 40000), nullptr);
  EXPECT_EQ(ff.FileLock(h, 0, 40000)[123], data[123]);
  EXPECT_EQ(Message([&] { ff.FileLock(h, 1, 40000); }), "Read past end of file");
  EXPECT_EQ(ff.FileLock(h, 0, 0), nullptr);

  // Handles survive the remap of a later AddFile: they name entries, not addresses.
  bool lost = false;
  ff.OnHandlesLost = [&](vant::TObject*) { lost = true; };
  ff.AddFile(Source("third.dat", Pattern(100000, 3)));
  EXPECT_TRUE(lost);
  ff.FileSeek(h, 7, 0);
  EXPECT_EQ(ff.FileRead(h, &b, 1), 1);
  EXPECT_EQ(b, data[7]);

  ff.RemoveFile("big.dat");
  EXPECT_EQ(Message([&] { ff.FileRead(h, &b, 1); }), "Invalid Handle");
  EXPECT_EQ(Message([&] { ff.FileSeek(12345, 0, 0); }), "Invalid Handle");
}

TEST_F(FastFileTest, HandleTableLimitsAndResizing) {
  TMMFastFile ff(nullptr);
  ff.SetMaxHandles(2);
  ff.SetFileName(container_);
  ff.AddFile(Source("x", Pattern(4, 0)));
  const TFastFileHandle a = ff.FileOpen("x");
  ff.FileOpen("x");
  EXPECT_EQ(Message([&] { ff.FileOpen("x"); }), "Out of file handles");
  ff.SetMaxHandles(4);
  ff.FileOpen("x");
  ff.FileOpen("x");
  int lost = 0;
  ff.OnHandlesLost = [&](vant::TObject*) { ++lost; };
  ff.SetMaxHandles(1);
  EXPECT_EQ(lost, 1);
  EXPECT_EQ(Message([&] { ff.FileSeek(2, 0, 0); }), "Invalid Handle");
  ff.FileSeek(a, 0, 0);
}

TEST_F(FastFileTest, AContainerWrittenByHandIsRead) {
  Image img{3, {{"ONE.TXT", Pattern(17, 1)}, {"gone", Pattern(9, 2), true}, {"Two", Pattern(1, 3)}}};
  WriteAll(container_, img.Build());
  TMMFastFile ff(nullptr);
  ff.SetFileName(container_);
  EXPECT_EQ(ff.GetMaxFiles(), 3);
  EXPECT_EQ(ff.GetCount(), 2);  // the deleted entry is recounted on opening
  EXPECT_EQ(ff.GetFiles(1), "Two");
  EXPECT_FALSE(ff.FileExists("gone"));
  Bytes got(17);
  const TFastFileHandle h = ff.FileOpen("one.txt");
  EXPECT_EQ(ff.FileRead(h, got.data(), 17), 17);
  EXPECT_EQ(got, Pattern(17, 1));
  ff.SetFileName("");
  EXPECT_EQ(ReadAll(container_).size(), 16u + 22 * 4 + 18);  // packed on close
}

TEST_F(FastFileTest, DamagedContainersAreRefused) {
  const Bytes good =
      Image{4, {{"A", Pattern(10, 1)}, {"B", Pattern(20, 2)}}}.Build();  // data at 126
  auto with = [&](size_t at, int32_t v) {
    Bytes b = good;
    std::memcpy(b.data() + at, &v, 4);
    return b;
  };
  const struct {
    const char* what;
    Bytes image;
  } cases[] = {
      {"empty", {}},
      {"signature only", Bytes(good.begin(), good.begin() + 8)},
      {"truncated directory", Bytes(good.begin(), good.begin() + 60)},
      {"truncated data", Bytes(good.begin(), good.end() - 1)},
      {"wrong signature", [&] { Bytes b = good; b[0] = 'f'; return b; }()},
      {"negative MaxFiles", with(8, -1)},
      {"huge MaxFiles", with(8, 0x7fffffff)},
      {"Count above MaxFiles", with(12, 5)},
      {"negative Count", with(12, -2)},
      {"offset inside the directory", with(16 + 17, 20)},
      {"size past the next file", with(16 + 13, 11)},
      {"negative size", with(16 + 13, -1)},
      {"end past the file", with(16 + 44 + 17, 100000)},
      {"offsets out of order", with(16 + 22 + 17, 120)},
      {"name length 13", [&] { Bytes b = good; b[16] = 13; return b; }()},
      {"deleted flag 7", [&] { Bytes b = good; b[16 + 21] = 7; return b; }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    WriteAll(container_, c.image);
    TMMFastFile ff(nullptr);
    try {
      ff.SetFileName(container_);
      ff.Init();
      ADD_FAILURE() << "opened";
    } catch (const EMMFastFileError& e) {
      EXPECT_EQ(std::string(e.what()), "Not a FastFile");
    }
    EXPECT_FALSE(ff.IsOpen());
    EXPECT_EQ(ReadAll(container_), c.image);  // nothing written into a refused file
  }
}

TEST_F(FastFileTest, ExtractionStaysInTheChosenFolder) {
  TMMFastFile ff(nullptr);
  ff.SetFileName(container_);
  const Bytes data = Pattern(20000, 4);
  ff.AddFile(Source("doc.pdf", data));
  fs::create_directories(dir_ / "out");
  ff.ExtractFile("doc.pdf", (dir_ / "out").string() + "/");
  EXPECT_EQ(ReadAll(dir_ / "out/doc.pdf"), data);
  ff.ExtractFile("DOC.PDF", (dir_ / "out/renamed.bin").string());
  EXPECT_EQ(ReadAll(dir_ / "out/renamed.bin"), data);
  EXPECT_EQ(Message([&] { ff.ExtractFile("doc.pdf", ""); }), "Invalid Path");
  EXPECT_EQ(Message([&] { ff.ExtractFile("nope", (dir_ / "out").string()); }), "Invalid Filename");

  for (const char* hostile : {"..", "../evil", "/etc/evil"}) {
    SCOPED_TRACE(hostile);
    ff.RenameFile(ff.GetFiles(0), hostile);
    EXPECT_EQ(Message([&] { ff.ExtractFile(hostile, (dir_ / "out").string()); }),
              "Invalid Filename");
  }
  EXPECT_FALSE(fs::exists(dir_ / "evil"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "out"), fs::directory_iterator()), 2);
}

TEST_F(FastFileTest, AFileThatIsNotAContainerIsLeftAlone) {
  WriteAll(container_, Pattern(100, 0));
  TMMFastFile ff(nullptr);
  EXPECT_EQ(Message([&] { ff.SetFileName(container_); }), "Not a FastFile");
  EXPECT_EQ(ff.GetFileName(), "");
  EXPECT_EQ(Message([&] { ff.AddFile(Source("a", Pattern(1, 1))); }), "FastFile not initialized");
  EXPECT_EQ(ReadAll(container_), Pattern(100, 0));
}

// Packing killed at each of its steps leaves a container that opens and holds every live file.
TEST_F(FastFileTest, PackingKilledAtEachStepLeavesAWholeContainer) {
  const std::vector<std::pair<std::string, Bytes>> files = {
      {"keep1", Pattern(3000, 1)}, {"drop", Pattern(5000, 2)}, {"keep2", Pattern(7000, 3)}};
  for (int step = 1; step <= 4; ++step) {
    SCOPED_TRACE(step);
    fs::remove(container_);
    {
      TMMFastFile ff(nullptr);
      ff.SetFileName(container_);
      for (const auto& [name, data] : files) ff.AddFile(Source(name, data));
    }
    ASSERT_GT(PackKilledAt(step, "drop"), 0);
    TMMFastFile ff(nullptr);
    ff.SetFileName(container_);
    for (const auto& [name, data] : files) {
      if (name == "drop") continue;
      const TFastFileHandle h = ff.FileOpen(name);
      Bytes got(data.size());
      EXPECT_EQ(ff.FileRead(h, got.data(), static_cast<int32_t>(got.size())),
                static_cast<int32_t>(data.size()));
      EXPECT_EQ(got, data) << name;
      ff.FileClose(h);
    }
    ff.SetFileName("");
    for (const auto& e : fs::directory_iterator(dir_))
      if (e.path().filename().string().rfind("FAST", 0) == 0) fs::remove(e.path());
  }
}

// A pack killed after it made its new container leaves that file; the next pack into the folder
// removes it, and only it: a name of another shape, a live process's file and a link stay.
TEST_F(FastFileTest, APackRemovesWhatKilledPacksLeft) {
  const auto fill = [&] {
    TMMFastFile ff(nullptr);
    ff.SetFileName(container_);
    ff.AddFile(Source("keep", Pattern(3000, 1)));
    ff.AddFile(Source("drop", Pattern(5000, 2)));
  };
  fill();
  const pid_t child = PackKilledAt(3, "drop");
  ASSERT_GT(child, 0);
  const auto names = [&] {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir_)) out.insert(e.path().filename().string());
    return out;
  };
  ASSERT_EQ(names().size(), 3u) << "the killed pack left nothing";
  const std::string ended = std::to_string(child), live = std::to_string(::getpid());
  const std::vector<std::string> theirs = {"FASTAbC123", "FAST" + live + ".AbC123",
                                           "FAST" + ended + ".AbC12", "xFAST" + ended + ".AbC123",
                                           "FAST" + ended + ".AbC123.bak"};
  for (const std::string& name : theirs) std::ofstream(dir_ / name) << "mine";
  fs::create_symlink(container_, dir_ / ("FAST" + ended + ".XyZ789"));

  fs::remove(container_);
  fill();
  {
    TMMFastFile ff(nullptr);
    ff.SetFileName(container_);
    ff.RemoveFile("drop");
  }  // closing packs
  std::set<std::string> expected(theirs.begin(), theirs.end());
  expected.insert({"box.ff", "src", "FAST" + ended + ".XyZ789"});
  EXPECT_EQ(names(), expected);
  for (const std::string& name : theirs) {
    std::ifstream in(dir_ / name);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "mine") << name;
  }
}

// A power cut at any point of packing, and of copying a file out over an existing one: the old
// container (or file) or the new one is there, whole.
TEST_F(FastFileTest, PowerCutAtAnyPointOfPackingOrExtracting) {
  const Image image{
      4, {{"keep1", Pattern(300, 1)}, {"drop", Pattern(500, 2)}, {"keep2", Pattern(700, 3)}}};
  for (bool pack : {true, false}) {
    SCOPED_TRACE(pack ? "pack" : "extract");
    fs::remove_all(dir_ / "out");
    fs::create_directories(dir_ / "out");
    WriteAll(container_, image.Build());
    const fs::path target = pack ? fs::path(container_) : dir_ / "out" / "copy";
    if (!pack) WriteAll(target, Pattern(10, 9));
    const Bytes before = ReadAll(target);
    vant::testing::PowerCutRecorder recorder(dir_);
    {
      TMMFastFile ff(nullptr);
      ff.SetFileName(container_);
      if (pack)
        ff.RemoveFile("drop");
      else
        ff.ExtractFile("keep2", target.string());
    }
    const Bytes after = ReadAll(target);
    ASSERT_EQ(after.size(), pack ? 16 + 22 * 5 + 1000u : 700u);
    const auto faults = vant::testing::Prove(recorder, vant::testing::TargetNames(target),
                                             vant::testing::ReplacedWhole(target, before, after));
    EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
  }
}

}  // namespace
