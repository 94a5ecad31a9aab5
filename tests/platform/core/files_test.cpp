#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "diskinfo.h"
#include "folderwatch.h"
#include "globalmem.h"
#include "replacingfile.h"
#include "stagedlock.h"
#include "tempfiles.h"

namespace fs = std::filesystem;

namespace {
// A fresh folder of this test, removed afterwards.
class Scratch {
 public:
  Scratch() {
    auto made = vant::CreateTempFile(vant::TempFolder(), "core-test-");
    path_ = made->string() + ".d";
    fs::remove(*made);
    fs::create_directories(path_);
  }
  ~Scratch() {
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }
  fs::path File(const std::string& name, const std::string& text = "x") const {
    std::ofstream(path_ / name) << text;
    return path_ / name;
  }

 private:
  fs::path path_;
};
}  // namespace

TEST(GlobalMem, BlocksAreZeroFilledAndKnowTheirSize) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{4097}}) {
    auto* p = static_cast<unsigned char*>(vant::GlobalMemAlloc(size));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(vant::GlobalMemBlockSize(p), size);
    for (size_t i = 0; i < size; ++i) ASSERT_EQ(p[i], 0) << i;
    vant::GlobalMemFree(p);
  }
  EXPECT_EQ(vant::GlobalMemBlockSize(nullptr), 0u);
  vant::GlobalMemFree(nullptr);
  EXPECT_THROW(vant::GlobalMemAlloc(SIZE_MAX - 8), vant::OutOfMemoryError);
}

TEST(TempFiles, NamesAreNewAndKeepPrefixAndSuffix) {
  Scratch dir;
  auto a = vant::CreateTempFile(dir.path(), "w", ".tmp");
  auto b = vant::CreateTempFile(dir.path(), "w", ".tmp");
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_TRUE(fs::exists(*a));
  EXPECT_EQ(a->extension(), ".tmp");
  EXPECT_EQ(a->filename().string().substr(0, 1), "w");
  EXPECT_EQ(fs::file_size(*a), 0u);

  auto name = vant::MakeTempName(dir.path(), "w");
  ASSERT_TRUE(name);
  EXPECT_FALSE(fs::exists(*name));
  EXPECT_TRUE(fs::exists(*a));  // other files stay
}

TEST(TempFiles, FailuresReportTheReason) {
  Scratch dir;
  const struct {
    fs::path folder;
    int error;
  } cases[] = {{dir.File("plain"), ENOTDIR}, {dir.path() / "missing", ENOENT}};
  for (const auto& c : cases) {
    int error = 0;
    EXPECT_FALSE(vant::CreateTempFile(c.folder, "TMP", "", &error)) << c.folder;
    EXPECT_EQ(error, c.error) << c.folder;
  }
}

TEST(DiskInfo, FreeSpaceOfAFolderAndOfNothing) {
  Scratch dir;
  uint64_t free = 0, total = 0;
  ASSERT_TRUE(vant::GetFreeSpace(dir.path(), free, total));
  EXPECT_GT(total, 0u);
  EXPECT_LE(free, total);
  EXPECT_FALSE(vant::GetFreeSpace(dir.path() / "no" / "such", free, total));
  EXPECT_EQ(free, 0u);
  EXPECT_EQ(total, 1u);
}

TEST(DiskInfo, ReadOnlyByModeBitsAlsoForRoot) {
  Scratch dir;
  fs::path f = dir.File("f.wav");
  EXPECT_FALSE(vant::IsReadOnlyFile(f));
  ASSERT_TRUE(vant::SetReadOnlyFile(f, true));
  EXPECT_TRUE(vant::IsReadOnlyFile(f));  // whoever runs the test, root included
  ASSERT_TRUE(vant::SetReadOnlyFile(f, false));
  EXPECT_FALSE(vant::IsReadOnlyFile(f));
  EXPECT_FALSE(vant::IsReadOnlyFile(dir.path() / "missing"));
}

// A file held open by a writer (a copy under way) is told from a finished one, and the answer
// does not depend on its size or time.
TEST(DiskInfo, OpenForWritingWhileAWriterHoldsIt) {
  Scratch dir;
  fs::path f = dir.File("f.wav");
  EXPECT_EQ(vant::IsOpenForWriting(f), false);
  {
    std::ofstream writer(f, std::ios::app);
    EXPECT_EQ(vant::IsOpenForWriting(f), true);
    std::ifstream reader(f);  // readers do not count
    EXPECT_EQ(vant::IsOpenForWriting(f), true);
  }
  EXPECT_EQ(vant::IsOpenForWriting(f), false);
  EXPECT_EQ(vant::IsOpenForWriting(dir.path() / "missing"), std::nullopt);
  EXPECT_EQ(vant::IsOpenForWriting(dir.path()), std::nullopt);  // a folder is never a copy
}

// The kernel's word on each file of a folder: written to and still open, closed after writing,
// moved in whole, or gone; a watch on a folder that goes away ends.
TEST(FolderWatch, TellsWritingFromClosedAfterWriting) {
  using State = vant::FolderWatch::WriteState;
  Scratch dir;
  fs::path old_file = dir.File("old.wav");
  std::ofstream(old_file) << "x";
  vant::FolderWatch watch(dir.path());
  ASSERT_TRUE(watch.Active());
  std::ofstream writer(dir.path() / "copy.wav");
  writer << "half" << std::flush;
  fs::path staged = dir.path() / ".partial";
  std::ofstream(staged) << "whole";
  watch.Poll();
  EXPECT_EQ(watch.StateOf("copy.wav"), State::kWriting);
  EXPECT_EQ(watch.StateOf("old.wav"), State::kUnknown);  // untouched since the watch began
  writer << "rest";
  writer.close();
  fs::rename(staged, dir.path() / "moved.wav");
  fs::remove(old_file);
  watch.Poll();
  EXPECT_EQ(watch.StateOf("copy.wav"), State::kClosed);
  EXPECT_EQ(watch.StateOf("moved.wav"), State::kClosed);
  EXPECT_EQ(watch.StateOf(".partial"), State::kUnknown);
  EXPECT_EQ(watch.StateOf("old.wav"), State::kUnknown);
  {
    std::ofstream again(dir.path() / "copy.wav", std::ios::app);
    again << "more" << std::flush;
    watch.Poll();
    EXPECT_EQ(watch.StateOf("copy.wav"), State::kWriting);
  }
  watch.Poll();
  EXPECT_EQ(watch.StateOf("copy.wav"), State::kClosed);
  // A time set by name is no write.
  fs::last_write_time(dir.path() / "copy.wav", fs::file_time_type::clock::now());
  watch.Poll();
  EXPECT_EQ(watch.StateOf("copy.wav"), State::kClosed);

  fs::create_directory(dir.path() / "sub");
  vant::FolderWatch gone(dir.path() / "sub");
  EXPECT_TRUE(gone.Active());
  fs::remove(dir.path() / "sub");
  gone.Poll();
  EXPECT_FALSE(gone.Active());
  EXPECT_FALSE(vant::FolderWatch(dir.path() / "missing").Active());
}

// A new file gets what open(2) would give it under the umask; a replaced one keeps its mode.
TEST(ReplacingFile, NewFilesFollowTheUmaskReplacedOnesKeepTheirMode) {
  Scratch dir;
  struct Case {
    mode_t umask, expected;
  };
  for (const Case c : {Case{077, 0600}, Case{022, 0644}, Case{027, 0640}, Case{0, 0666}}) {
    SCOPED_TRACE(c.umask);
    const mode_t old = ::umask(c.umask);
    const fs::path fresh = dir.path() / ("new" + std::to_string(c.umask));
    vant::ReplacingFile out(fresh);
    const bool committed = out.Write("x", 1) && out.Commit();
    const fs::path kept = dir.File("kept" + std::to_string(c.umask));
    ::chmod(kept.c_str(), 0604);
    vant::ReplacingFile again(kept);
    const bool replaced = again.Write("y", 1) && again.Commit();
    ::umask(old);
    ASSERT_TRUE(committed && replaced);
    struct stat st;
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, c.expected);
    ASSERT_EQ(::stat(kept.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
  }
}

namespace {

using vant::testing::LockedByAnother;

// A process id that was in use a moment ago and is no longer here.
pid_t EndedProcess() {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(0);
  int status;
  ::waitpid(pid, &status, 0);
  return pid;
}

}  // namespace

// A staged file's maker may live in another process namespace, where its process id means
// nothing here: its file stays as long as a live process holds the file's lock, and goes once
// the lock is free.
TEST(TempFiles, AStagedFileStaysWhileALiveProcessHoldsItsLockWhateverItsProcessId) {
  Scratch dir;
  const fs::path staged = dir.File(".out.wav." + std::to_string(EndedProcess()) + ".AbC123.part");
  int locked[2], release[2];
  ASSERT_EQ(::pipe(locked), 0);
  ASSERT_EQ(::pipe(release), 0);
  const pid_t maker = ::fork();  // the save of the other namespace, still writing
  ASSERT_GE(maker, 0);
  if (maker == 0) {
    ::close(release[1]);
    ::close(locked[0]);
    const int fd = ::open(staged.c_str(), O_RDWR);
    char c = ::flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
    if (::write(locked[1], &c, 1) != 1 || ::read(release[0], &c, 1) < 0) ::_exit(1);
    ::_exit(0);
  }
  ::close(locked[1]);
  ::close(release[0]);
  char c = 0;
  ASSERT_EQ(::read(locked[0], &c, 1), 1);
  ASSERT_EQ(c, 'y');
  EXPECT_EQ(vant::RemoveStaleParts(dir.path()), 0);
  EXPECT_TRUE(fs::exists(staged));
  ::close(release[1]);  // the maker ends
  int status;
  ::waitpid(maker, &status, 0);
  ::close(locked[0]);
  EXPECT_EQ(vant::RemoveStaleParts(dir.path()), 1);
  EXPECT_FALSE(fs::exists(staged));

  // Our own writer holds the lock on its staged copy until it is renamed or removed.
  const fs::path target = dir.File("target.txt", "old");
  {
    vant::ReplacingFile out(target);
    ASSERT_TRUE(out.IsOpen());
    EXPECT_TRUE(LockedByAnother(out.Path()));
    ASSERT_TRUE(out.Write("new", 3));
    ASSERT_TRUE(out.Commit());
    EXPECT_FALSE(LockedByAnother(target));
  }
  {
    vant::ReplacingFile abandoned(target);
    ASSERT_TRUE(abandoned.IsOpen());
    EXPECT_TRUE(LockedByAnother(abandoned.Path()));
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

// The staged copy keeps its lock until it has left its name, renamed over the target or removed:
// a cleaner that takes the lock in the moment between the writer's close and its rename would
// remove a live file.
TEST(ReplacingFile, TheStagedCopyIsLockedUntilItsRenameOrRemoval) {
  Scratch dir;
  const fs::path target = dir.File("target.txt", "old");
  vant::testing::StagedLockLayer layer({".part"});
  {
    vant::ReplacingFile out(target);
    ASSERT_TRUE(out.Write("new", 3));
    ASSERT_TRUE(out.Commit());
  }
  {
    vant::ReplacingFile abandoned(target);
    ASSERT_TRUE(abandoned.Write("lost", 4));
  }
  EXPECT_EQ(layer.seen,
            (std::vector<std::string>{"rename *.part: locked", "remove *.part: locked"}));
}
