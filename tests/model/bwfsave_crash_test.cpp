// A save killed with SIGKILL at any moment: afterwards the target or its backup holds a whole
// file, never neither. The save runs in a child process (savecrash_driver) that the test holds
// before a chosen file operation, lets run on, and kills at once.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>

#include "bwfsave.h"
#include "savetest.h"
#include "scratchfolder.h"

extern char** environ;

namespace fs = std::filesystem;
using vb::Bytes;

namespace {

struct SaveRun {
  fs::path folder, source, target, temp;
};

SaveRun Prepare(const fs::path& root, const Bytes& source, const Bytes& target) {
  SaveRun r{root / "run", root / "run/source.wav", root / "run/out.wav", root / "run/tmp"};
  fs::remove_all(r.folder);
  fs::create_directories(r.temp);
  st::WriteBytes(r.source, source);
  st::WriteBytes(r.target, target);
  return r;
}

int HighFd(int fd) {
  const int high = fcntl(fd, F_DUPFD_CLOEXEC, 10);
  close(fd);
  return high;
}

// Starts the driver, lets it pass `hold` file operations (all of them when negative), then lets
// it run free and kills it. Returns the number of operations it passed.
int SaveAndKill(const SaveRun& r, int hold) {
  int status[2], ack[2];
  if (pipe(status) != 0 || pipe(ack) != 0) return -1;
  for (int* fd : {&status[0], &status[1], &ack[0], &ack[1]}) *fd = HighFd(*fd);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, status[1], 3);
  posix_spawn_file_actions_adddup2(&actions, ack[0], 4);
  const std::string a1 = r.source.string(), a2 = r.target.string(), a3 = r.temp.string();
  char* argv[] = {const_cast<char*>(SAVECRASH_DRIVER), const_cast<char*>(a1.c_str()),
                  const_cast<char*>(a2.c_str()), const_cast<char*>(a3.c_str()), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, SAVECRASH_DRIVER, &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(status[1]);
  close(ack[0]);
  int passed = 0;
  char c;
  if (spawned == 0) {
    while ((hold < 0 || passed < hold) && read(status[0], &c, 1) == 1) {
      if (write(ack[1], "x", 1) != 1) break;
      ++passed;
    }
    if (hold >= 0 && read(status[0], &c, 1) == 1) {
      close(ack[1]);  // the driver runs on from here
      ack[1] = -1;
      kill(pid, SIGKILL);
    }
    int ws;
    waitpid(pid, &ws, 0);
  }
  close(status[0]);
  if (ack[1] >= 0) close(ack[1]);
  return spawned == 0 ? passed : -1;
}

// A process id that was in use a moment ago and is no longer: a child that has ended.
pid_t EndedProcess() {
  pid_t pid = -1;
  char* argv[] = {const_cast<char*>("true"), nullptr};
  if (posix_spawnp(&pid, "true", nullptr, nullptr, argv, environ) != 0) return -1;
  int ws;
  waitpid(pid, &ws, 0);
  return pid;
}

// The files of a folder with their bytes.
std::map<fs::path, Bytes> Files(const fs::path& folder) {
  std::map<fs::path, Bytes> out;
  for (const auto& e : fs::directory_iterator(folder)) {
    if (e.is_regular_file()) out[e.path()] = st::ReadBytes(e.path());
  }
  return out;
}

// The old targets that saves set aside beside the target (".out.wav.PID.XXXXXX.bak").
std::vector<fs::path> Backups(const SaveRun& r) {
  std::vector<fs::path> out;
  for (const auto& [p, bytes] : Files(r.folder)) {
    const std::string n = p.filename().string();
    if (n.starts_with(".out.wav.") && n.ends_with(".bak")) out.push_back(p);
  }
  return out;
}

// What killed saves leave: staged copies and backups beside the target, new files in the
// temporary folder.
std::vector<fs::path> Leftovers(const SaveRun& r) {
  std::vector<fs::path> out = Backups(r);
  for (const auto& [p, bytes] : Files(r.folder)) {
    const std::string n = p.filename().string();
    if (n.starts_with(".") && n.ends_with(".part")) out.push_back(p);
  }
  for (const auto& [p, bytes] : Files(r.temp)) {
    if (p.filename().string().starts_with("vant-save-")) out.push_back(p);
  }
  return out;
}

// A driver killed while the test writes to it must not end the test too.
struct IgnoreBrokenPipes {
  IgnoreBrokenPipes() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old);
  }
  ~IgnoreBrokenPipes() { sigaction(SIGPIPE, &old, nullptr); }
  struct sigaction old {};
};

bool Readable(const fs::path& p) {
  TBWFChunck m(p, TBWFChunck::kKeepOpen);
  return m.CheckFormat() == 0;
}

}  // namespace

TEST(BwfSaveCrash, KilledAtAnyMomentTheTargetOrItsBackupIsWhole) {
  IgnoreBrokenPipes ignoring;
  vant::testing::ScratchFolder root("vant-crash");
  const Bytes source = vb::Build(vb::FullVantChunks(1536 * 1024));
  const Bytes old_target = vb::Build({vb::Fmt(), vb::Data(5000, 0x22)});

  // A save left alone gives the new file and passes every operation.
  SaveRun r = Prepare(root.path(), source, old_target);
  const int ops = SaveAndKill(r, -1);
  ASSERT_GT(ops, 10);
  const Bytes saved = st::ReadBytes(r.target);
  ASSERT_NE(saved, old_target);
  ASSERT_TRUE(Backups(r).empty());

  // Held before every operation in turn, and then at random ones, and killed a moment later.
  std::mt19937 random(5);
  int old_seen = 0, new_seen = 0;
  for (int i = 0; i < ops + 60; ++i) {
    const int hold = i <= ops ? i : static_cast<int>(random() % (ops + 1));
    SCOPED_TRACE(hold);
    r = Prepare(root.path(), source, old_target);
    ASSERT_GE(SaveAndKill(r, hold), 0);
    const std::vector<fs::path> backups = Backups(r);
    ASSERT_LE(backups.size(), 1u);
    Bytes now = old_target;
    if (fs::exists(r.target)) {
      now = st::ReadBytes(r.target);
      EXPECT_TRUE(now == old_target || now == saved) << "the target is a torn file";
      (now == old_target ? old_seen : new_seen)++;
      EXPECT_TRUE(Readable(r.target));
    } else {
      ASSERT_EQ(backups.size(), 1u) << "neither the target nor its backup";
      EXPECT_EQ(st::ReadBytes(backups[0]), old_target);
      EXPECT_TRUE(Readable(backups[0]));
    }
    // The next save or start puts a lone backup back under the target's name, and removes one
    // that a finished save left.
    RecoverSaveBackups(r.folder);
    EXPECT_TRUE(Backups(r).empty());
    EXPECT_EQ(st::ReadBytes(r.target), now);
  }
  EXPECT_GT(old_seen, 0);
  EXPECT_GT(new_seen, 0);
}

// Saves killed at every step leave staged copies and new files behind; the next save into the
// folder and the next start of the converter remove them, and only them: files of the same shape
// that a live process made, or that carry no maker, and everything else of the user's stay.
TEST(BwfSaveCrash, LeftoversOfKilledSavesAreRemovedByTheNextSaveAndStart) {
  IgnoreBrokenPipes ignoring;
  vant::testing::ScratchFolder root("vant-crash");
  const Bytes source = vb::Build(vb::FullVantChunks(256 * 1024));
  SaveRun r = Prepare(root.path(), source, vb::Build({vb::Fmt(), vb::Data(5000, 0x22)}));
  const int ops = SaveAndKill(r, -1);
  ASSERT_GT(ops, 10);
  auto staged = [&] {
    const std::vector<fs::path> left = Leftovers(r);
    return std::count_if(left.begin(), left.end(),
                         [&](const fs::path& p) { return p.parent_path() == r.folder; });
  };
  int kills_that_left_a_copy = 0;
  for (int hold = 0; hold <= ops; ++hold) {
    ASSERT_GE(SaveAndKill(r, hold), 0);
    if (staged() > 0) ++kills_that_left_a_copy;
  }
  EXPECT_GT(kills_that_left_a_copy, 0);
  // The last kill leaves a staged copy for the next save to find.
  for (int hold = ops; hold >= 0 && staged() == 0; --hold) ASSERT_GE(SaveAndKill(r, hold), 0);
  const std::vector<fs::path> left = Leftovers(r);
  ASSERT_GT(staged(), 0);
  ASSERT_GT(left.size(), static_cast<size_t>(staged()))
      << "no new file left in the temporary folder";

  const std::string ended = std::to_string(EndedProcess()), live = std::to_string(getpid());
  for (const std::string& name :
       std::vector<std::string>{".out.wav.AbC123.part", ".out.wav." + live + ".AbC123.part",
                                ".." + ended + ".AbC123.part", "out.wav." + ended + ".AbC123.part",
                                ".out.wav." + ended + ".AbC12.part",
                                ".out.wav." + ended + ".AbC123.partial", "notes.txt"}) {
    st::WriteBytes(r.folder / name, Bytes{'m', 'i', 'n', 'e'});
  }
  fs::create_symlink(r.folder / "notes.txt", r.folder / (".notes.txt." + ended + ".AbC123.part"));
  for (const std::string& name : std::vector<std::string>{
           "vant-save-AbC123.tmp", "vant-save-" + live + ".AbC123.tmp",
           "my-vant-save-" + ended + ".AbC123.tmp", "vant-save-0" + ended + ".AbC123.tmp"}) {
    st::WriteBytes(r.temp / name, Bytes{'m', 'i', 'n', 'e'});
  }
  std::map<fs::path, Bytes> kept = Files(r.folder);
  kept.merge(Files(r.temp));
  for (const fs::path& p : left) kept.erase(p);
  kept.erase(r.target);

  ASSERT_GT(SaveAndKill(r, -1), 0);
  EXPECT_TRUE(Readable(r.target));
  RemoveStaleSaveTemps(r.temp);  // what the converter does when it starts
  std::map<fs::path, Bytes> now = Files(r.folder);
  now.merge(Files(r.temp));
  now.erase(r.target);
  auto names = [](const std::map<fs::path, Bytes>& files) {
    std::vector<std::string> out;
    for (const auto& [p, bytes] : files) out.push_back(p.filename().string());
    return out;
  };
  EXPECT_EQ(names(now), names(kept));
  EXPECT_TRUE(now == kept) << "a file of the user's was changed";
  EXPECT_TRUE(fs::is_symlink(r.folder / (".notes.txt." + ended + ".AbC123.part")));
}

// Only a backup of a killed save is dealt with: one whose maker is gone and whose lock is free,
// named as the save names it. A backup whose target is missing goes back under its name; one whose
// target stands is removed; everything else of the user's stays as it is.
TEST(BwfSaveCrash, BackupsOfKilledSavesAreRestoredOrRemoved) {
  vant::testing::ScratchFolder root("vant-backups");
  const fs::path dir = root.path();
  const std::string ended = std::to_string(EndedProcess()), live = std::to_string(getpid());
  auto put = [&](const std::string& name, const char* text) {
    st::WriteBytes(dir / name, Bytes(text, text + std::strlen(text)));
  };
  put(".lone.wav." + ended + ".AbC123.bak", "old lone");
  put("kept.wav", "new kept");
  put(".kept.wav." + ended + ".AbC123.bak", "old kept");
  put(".alive.wav." + live + ".AbC123.bak", "a save still running");
  put(".held.wav." + ended + ".AbC123.bak", "held by a live process elsewhere");
  put("mine.wav~", "the user's");
  put(".mine.wav." + ended + ".AbC123.part", "a staged copy, not a backup");
  const int held = ::open((dir / (".held.wav." + ended + ".AbC123.bak")).c_str(), O_RDONLY);
  ASSERT_EQ(::flock(held, LOCK_EX), 0);

  EXPECT_EQ(RecoverSaveBackups(dir), 2);
  ::close(held);
  std::map<std::string, std::string> now;
  for (const auto& [p, bytes] : Files(dir)) {
    now[p.filename().string()] = std::string(bytes.begin(), bytes.end());
  }
  const std::map<std::string, std::string> expected = {
      {"lone.wav", "old lone"},
      {"kept.wav", "new kept"},
      {".alive.wav." + live + ".AbC123.bak", "a save still running"},
      {".held.wav." + ended + ".AbC123.bak", "held by a live process elsewhere"},
      {"mine.wav~", "the user's"},
      {".mine.wav." + ended + ".AbC123.part", "a staged copy, not a backup"},
  };
  EXPECT_EQ(now, expected);
}
