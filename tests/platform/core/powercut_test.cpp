// Power cuts replayed at every point of a writer's file operations. The first table holds the
// orders of syncs that leave a window, each next to the order that closes it, so the replay is
// shown to find each window and a writer that reopens one fails; then the settings store.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "filelayer.h"
#include "powercut.h"
#include "scratchfolder.h"
#include "settingsstore.h"

namespace fs = std::filesystem;
using vant::testing::DiskBytes;
using vant::testing::PowerCutRecorder;
using vant::testing::PowerCutReplay;

namespace {

DiskBytes Text(const std::string& s) { return DiskBytes(s.begin(), s.end()); }

void Put(const fs::path& p, const std::string& s) {
  vant::FileLayer& io = vant::GetFileLayer();
  const int fd = io.Open(p, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(io.Write(fd, s.data(), s.size()));
  io.Close(fd);
}

// A new file written beside `target` and moved over it; the flags leave out one step each.
void ReplaceBeside(const fs::path& target, const std::string& s, bool sync_data,
                   bool backup = false, bool sync_before_removal = true) {
  vant::FileLayer& io = vant::GetFileLayer();
  fs::path part;
  const int fd = io.CreateTemp(target.parent_path(), ".part", "", part);
  ASSERT_GE(fd, 0);
  ASSERT_TRUE(io.Write(fd, s.data(), s.size()));
  if (sync_data) io.Fsync(fd);
  io.Close(fd);
  const fs::path kept = target.parent_path() / ("." + target.filename().string() + ".1.AbC123.bak");
  if (backup) {
    ASSERT_EQ(io.Rename(target, kept, true), 0);
  }
  ASSERT_EQ(io.Rename(part, target, false), 0);
  if (sync_before_removal) io.SyncFolder(target.parent_path());
  if (backup) io.Remove(kept);
  io.SyncFolder(target.parent_path());
}

}  // namespace

TEST(PowerCut, WindowsOfTheSyncOrderAreFoundAndClosed) {
  struct Case {
    const char* name;
    std::function<void(const fs::path& target)> write;
    bool window;
  };
  const Case cases[] = {
      {"data not synced before the rename: the target may come up empty",
       [](const fs::path& t) { ReplaceBeside(t, "new", false); }, true},
      {"data synced, then the rename, then the folder",
       [](const fs::path& t) { ReplaceBeside(t, "new", true); }, false},
      {"the backup removed before the renames are durable: neither may be left",
       [](const fs::path& t) { ReplaceBeside(t, "new", true, true, false); }, true},
      {"the renames durable before the backup is removed",
       [](const fs::path& t) { ReplaceBeside(t, "new", true, true, true); }, false},
      {"written in place: a torn file",
       [](const fs::path& t) {
         Put(t, "new");
         vant::GetFileLayer().SyncFolder(t.parent_path());
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vant::testing::ScratchFolder dir("vant-cut");
    const fs::path target = dir.path() / "file";
    Put(target, "old");
    PowerCutRecorder recorder(dir.path());
    c.write(target);
    PowerCutReplay replay(recorder);
    const auto faults =
        replay.Run(vant::testing::TargetNames(target, true),
                   vant::testing::ReplacedWhole(target, Text("old"), Text("new"), true));
    EXPECT_EQ(!faults.empty(), c.window) << testing::PrintToString(faults);
    EXPECT_GT(replay.States(), replay.Ops().size());
  }
}

// A folder made for a file must itself be durable before the file is, or a later cut takes the
// folder and every file written into it since.
TEST(PowerCut, FoldersMadeForAFileAreSynced) {
  for (bool sync_parents : {false, true}) {
    SCOPED_TRACE(sync_parents);
    vant::testing::ScratchFolder dir("vant-cut");
    const fs::path folder = dir.path() / "a" / "b";
    const fs::path target = folder / "file";
    PowerCutRecorder recorder(dir.path());
    if (sync_parents) {
      ASSERT_EQ(vant::MakeFolders(folder), 0);
    } else {
      ASSERT_EQ(vant::GetFileLayer().MakeFolder(dir.path() / "a"), 0);
      ASSERT_EQ(vant::GetFileLayer().MakeFolder(folder), 0);
    }
    ReplaceBeside(target, "first", true);
    const size_t first_done = recorder.Ops().size();
    ReplaceBeside(target, "second", true);
    PowerCutReplay replay(recorder);
    const auto faults =
        replay.Run(vant::testing::TargetNames(target), [&](const vant::testing::DiskState& s) {
          const auto now = s.Read(target);
          if (!now) return s.Cut() < first_done ? "" : "the first file is lost";
          return *now == Text("first") || *now == Text("second") ? "" : "torn";
        });
    EXPECT_EQ(faults.empty(), sync_parents) << testing::PrintToString(faults);
  }
}

// Each write of the settings store, the first into folders it makes: after any cut the store
// holds the values before that write or after it, and after the last write reported success,
// its values.
TEST(PowerCut, SettingsStoreWrites) {
  vant::testing::ScratchFolder dir("vant-cut");
  const fs::path file = dir.path() / "config" / "QORA" / "VANTCM.conf";
  PowerCutRecorder recorder(dir.path());
  vant::SettingsStore store(file);
  std::vector<size_t> ends{0};
  std::vector<DiskBytes> contents;
  for (int i = 0; i < 3; ++i) {
    ASSERT_TRUE(store.SetString("WorkValue10" + std::to_string(i), "value " + std::to_string(i)));
    ends.push_back(recorder.Ops().size());
    std::ifstream in(file, std::ios::binary);
    contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
  }
  const auto faults = vant::testing::Prove(
      recorder, vant::testing::TargetNames(file), [&](const vant::testing::DiskState& s) {
        const auto now = s.Read(file);
        // Writes before the cut are all kept; the one cut short may be in or out.
        size_t done = 0;
        while (done + 1 < ends.size() && ends[done + 1] <= s.Cut()) ++done;
        if (s.AfterSuccess()) done = contents.size();  // the last write reported success
        if (!now) return done == 0 ? "" : "the store is lost";
        for (size_t w = done == 0 ? 0 : done - 1; w < contents.size() && w <= done; ++w) {
          if (*now == contents[w]) return "";
        }
        return "the store is torn or older than its last whole write";
      });
  EXPECT_TRUE(faults.empty()) << testing::PrintToString(faults);
}
