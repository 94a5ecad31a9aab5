#include "settingsstore.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include "faultylayer.h"
#include "tempfiles.h"

namespace fs = std::filesystem;
using vant::SettingsStore;

namespace {
class SettingsStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto made = vant::CreateTempFile(vant::TempFolder(), "settings-");
    dir_ = made->string() + ".d";
    fs::remove(*made);
    file_ = dir_ / "QORA" / "VANTCM.conf";
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_, file_;
};
}  // namespace

TEST_F(SettingsStoreTest, MissingStoreAnswersNothingAndTheFirstWriteCreatesIt) {
  SettingsStore store(file_);
  EXPECT_FALSE(store.Exists());
  EXPECT_EQ(store.TypeOf("WorkValue007"), SettingsStore::Type::kNone);
  EXPECT_FALSE(store.GetInteger("WorkValue007"));
  ASSERT_TRUE(store.SetInteger("WorkValue007", -42));
  EXPECT_TRUE(fs::exists(file_));
  EXPECT_EQ(store.GetInteger("WorkValue007"), -42);
  EXPECT_EQ(fs::status(file_).permissions() & fs::perms::others_all, fs::perms::none);
}

TEST_F(SettingsStoreTest, TypesStayApartAndNamesIgnoreCase) {
  SettingsStore store(file_);
  ASSERT_TRUE(store.SetString("DefaultPath", "/media/mo"));
  ASSERT_TRUE(store.SetInteger("DeviceType", 3));
  EXPECT_FALSE(store.GetInteger("DefaultPath"));
  EXPECT_FALSE(store.GetString("DeviceType"));
  EXPECT_EQ(store.GetString("defaultpath"), "/media/mo");
  ASSERT_TRUE(store.SetInteger("DEFAULTPATH", 5));  // a write may change the type
  EXPECT_EQ(store.TypeOf("DefaultPath"), SettingsStore::Type::kInteger);
  EXPECT_EQ(store.Names(), (std::vector<std::string>{"DefaultPath", "DeviceType"}));
  ASSERT_TRUE(store.Remove("devicetype"));
  EXPECT_EQ(store.TypeOf("DeviceType"), SettingsStore::Type::kNone);
}

TEST_F(SettingsStoreTest, AnyBytesRoundTrip) {
  SettingsStore store(file_);
  const std::string texts[] = {"", "a=b\\c", "line\nbreak\r\t\x01\x7f", "\x83\x65\x83\x58\x83\x67",
                               "# not a comment"};
  const std::string blob("\x00\xff\x10", 3);
  for (const auto& t : texts) {
    ASSERT_TRUE(store.SetString("Text", t));
    EXPECT_EQ(SettingsStore(file_).GetString("Text"), t);
  }
  ASSERT_TRUE(store.SetBinary("Blob", blob));
  EXPECT_EQ(store.GetBinary("Blob"), blob);
  EXPECT_FALSE(store.GetString("Blob"));
  ASSERT_TRUE(store.SetInteger("Big", INT64_MIN));
  EXPECT_EQ(store.GetInteger("Big"), INT64_MIN);
}

TEST_F(SettingsStoreTest, RefusesBadNamesAndUnwritablePlaces) {
  SettingsStore store(file_);
  for (const char* name : {"", "a=b", "a\nb", "#x"})
    EXPECT_FALSE(store.SetInteger(name, 1)) << name;
  fs::create_directories(dir_);
  std::ofstream(dir_ / "file") << "x";
  SettingsStore blocked(dir_ / "file" / "VANTCM.conf");
  EXPECT_FALSE(blocked.SetInteger("A", 1));
}

// A write that the disk does not take is reported, and leaves the value that was there; a rename
// whose folder could not be synced may not survive a power loss, so it counts as failed too.
TEST_F(SettingsStoreTest, AWriteTheDiskRefusesIsReported) {
  using Fault = vant::testing::FaultyLayer;
  struct Case {
    Fault::Op op;
    bool oldValueKept;
  };
  const Case cases[] = {{Fault::kCreateTemp, true},
                        {Fault::kWrite, true},
                        {Fault::kFsync, true},
                        {Fault::kRename, true},
                        {Fault::kSyncFolder, false}};
  SettingsStore store(file_);
  ASSERT_TRUE(store.SetInteger("Volume", 1));
  for (const Case& c : cases) {
    {
      Fault layer(c.op);
      EXPECT_FALSE(store.SetInteger("Volume", 2)) << c.op;
      EXPECT_TRUE(layer.fired) << c.op;
    }
    EXPECT_EQ(store.GetInteger("Volume"), c.oldValueKept ? 1 : 2) << c.op;
    ASSERT_TRUE(store.SetInteger("Volume", 1));
    EXPECT_EQ(std::distance(fs::directory_iterator(file_.parent_path()), {}), 2)
        << "the store and its lock only";
  }
}

// A write killed before it replaced the store leaves its new file; the next write removes it, and
// only it: a name of another shape, a live process's file and a link stay.
TEST_F(SettingsStoreTest, AWriteRemovesWhatKilledWritesLeft) {
  // The file layer of a process that ends just before its rename, as a kill would end it.
  struct EndsAtRename : vant::PosixFileLayer {
    int Rename(const fs::path&, const fs::path&, bool) override { ::_exit(0); }
  };
  SettingsStore store(file_);
  ASSERT_TRUE(store.SetInteger("Volume", 1));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    static EndsAtRename layer;
    vant::SetFileLayer(&layer);
    store.SetInteger("Volume", 2);
    ::_exit(1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const fs::path folder = file_.parent_path();
  const auto names = [&] {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
  };
  std::set<std::string> left = names();
  left.erase(file_.filename().string());
  left.erase(file_.filename().string() + ".lock");
  ASSERT_EQ(left.size(), 1u) << "the killed write left its new file";

  const std::string ended = std::to_string(child), live = std::to_string(::getpid());
  const std::vector<std::string> theirs = {
      ".VANTCM.conf.AbC123.part", ".VANTCM.conf." + live + ".AbC123.part",
      ".VANTCM.conf." + ended + ".AbC12.part", "VANTCM.conf." + ended + ".AbC123.part",
      ".VANTCM.conf." + ended + ".AbC123.partial"};
  for (const std::string& name : theirs) std::ofstream(folder / name) << "mine";
  fs::create_symlink(file_, folder / (".VANTCM.conf." + ended + ".XyZ789.part"));
  std::set<std::string> expected = names();
  expected.erase(*left.begin());

  ASSERT_TRUE(store.SetInteger("Volume", 3));
  EXPECT_EQ(names(), expected);
  for (const std::string& name : theirs) {
    std::ifstream in(folder / name);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "mine") << name;
  }
  EXPECT_EQ(store.GetInteger("Volume"), 3);
}

TEST_F(SettingsStoreTest, DamagedLinesAreSkipped) {
  fs::create_directories(file_.parent_path());
  std::ofstream(file_) << "junk\nA=i:12x\nB=s:\\q\nC=b:abc\nD=i:4\n=i:5\nE=z:1\n";
  SettingsStore store(file_);
  EXPECT_EQ(store.Names(), std::vector<std::string>{"D"});
  ASSERT_TRUE(store.SetInteger("F", 6));
  EXPECT_EQ(store.GetInteger("D"), 4);
}

TEST_F(SettingsStoreTest, TwoWritersBothKeepTheirValues) {
  SettingsStore a(file_), b(file_);
  ASSERT_TRUE(a.SetInteger("WorkValue100", 1));
  ASSERT_TRUE(b.SetString("WorkValue111", "viewer"));
  ASSERT_TRUE(a.SetInteger("WorkValue101", 2));
  EXPECT_EQ(b.GetInteger("WorkValue100"), 1);
  EXPECT_EQ(a.GetString("WorkValue111"), "viewer");

  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&, t] {
      SettingsStore mine(file_);
      for (int i = 0; i < 25; ++i)
        mine.SetInteger("T" + std::to_string(t) + "_" + std::to_string(i), i);
    });
  for (auto& w : writers) w.join();
  EXPECT_EQ(a.Names().size(), 3u + 4 * 25);
  // No temporary file is left beside the store.
  int files = 0;
  for (auto& e : fs::directory_iterator(file_.parent_path()))
    files += e.path() != file_ && e.path().extension() != ".lock";
  EXPECT_EQ(files, 0);
}

TEST_F(SettingsStoreTest, KeysMapToFilesUnderTheConfigFolder) {
  const char* old = getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);
  EXPECT_EQ(SettingsStore::DefaultFile(), dir_ / "QORA" / "VANTCM.conf");
  EXPECT_EQ(SettingsStore::FileForKey("software/QORA/Other"), dir_ / "QORA" / "Other.conf");
  if (old)
    setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_CONFIG_HOME");
}

namespace {
// The file's modification time, and a setter that puts one back.
timespec MTime(const fs::path& p) {
  struct stat st;
  ::stat(p.c_str(), &st);
  return st.st_mtim;
}
void SetMTime(const fs::path& p, timespec t) {
  const timespec times[2] = {t, t};
  ::utimensat(AT_FDCWD, p.c_str(), times, 0);
}
}  // namespace

// The file is read once, for every store of the process, and again only when another file took
// its name or its size or modification time changed: bytes changed in place behind an unchanged
// stamp are not seen (which shows that nothing read them).
TEST_F(SettingsStoreTest, TheFileIsReadAgainOnlyWhenItChanged) {
  ASSERT_TRUE(SettingsStore(file_).SetInteger("Value", 1));
  EXPECT_EQ(SettingsStore(file_).GetInteger("Value"), 1);
  const timespec stamp = MTime(file_);
  const auto rewrite = [&](char digit) {
    std::string text;
    std::getline(std::ifstream(file_, std::ios::binary), text, '\0');
    text[text.find("=i:") + 3] = digit;
    std::fstream(file_, std::ios::in | std::ios::out | std::ios::binary) << text;
  };
  rewrite('2');
  SetMTime(file_, stamp);
  EXPECT_EQ(SettingsStore(file_).GetInteger("Value"), 1);
  SetMTime(file_, {stamp.tv_sec + 1, stamp.tv_nsec});
  EXPECT_EQ(SettingsStore(file_).GetInteger("Value"), 2);
  // Another file under the name, same size and time: read.
  const fs::path other = dir_ / "other.conf";
  fs::copy_file(file_, other);
  std::string text;
  std::getline(std::ifstream(other, std::ios::binary), text, '\0');
  text[text.find("=i:") + 3] = '3';
  std::ofstream(other, std::ios::binary | std::ios::trunc) << text;
  SetMTime(other, {stamp.tv_sec + 1, stamp.tv_nsec});
  fs::rename(other, file_);
  EXPECT_EQ(SettingsStore(file_).GetInteger("Value"), 3);
  // A longer value at the same time: read.
  ASSERT_TRUE(SettingsStore(file_).SetInteger("Value", 40));
  EXPECT_EQ(SettingsStore(file_).GetInteger("Value"), 40);
}

// A file larger than any the store writes is refused unread, as a damaged one: every value takes
// its default, and the next write leaves a small file again.
TEST_F(SettingsStoreTest, AFileBeyondTheLimitAnswersNothing) {
  for (size_t size : {size_t{100}, SettingsStore::kMaxFileBytes, SettingsStore::kMaxFileBytes + 1,
                      size_t{100} << 20}) {
    SCOPED_TRACE(size);
    fs::create_directories(file_.parent_path());
    std::string text = "Value=i:7\n";
    while (text.size() < size) {
      std::string line = "# " + std::string(std::min<size_t>(78, size - text.size() - 1), '-');
      text += line.substr(0, std::min(line.size(), size - text.size() - 1)) + "\n";
    }
    ASSERT_EQ(text.size(), size);
    {
      std::ofstream(dir_ / "next", std::ios::binary) << text;
      fs::rename(dir_ / "next", file_);
    }
    SettingsStore store(file_);
    const bool refused = size > SettingsStore::kMaxFileBytes;
    EXPECT_EQ(store.GetInteger("Value"), refused ? std::nullopt : std::optional<int64_t>(7));
    EXPECT_EQ(store.Names().size(), refused ? 0u : 1u);
    ASSERT_TRUE(store.SetInteger("Other", 1));
    EXPECT_EQ(store.GetInteger("Other"), 1);
    EXPECT_LT(fs::file_size(file_), 200u);
  }
}
