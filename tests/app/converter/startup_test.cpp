// The converter's start-up in processes of their own: the single-instance guard as a person
// meets it when starting the program twice.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>

#include "bwfmainaa.h"
#include "childprocess.h"
#include "instanceguard.h"
#include "scratchfolder.h"

namespace {

using vant::testing::ChildProcess;
using vant::testing::ScratchFolder;

class StartupTest : public ::testing::Test {
 protected:
  std::unique_ptr<ChildProcess> Start(bool override_held = false) {
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{ORLUNE_TESTHOST},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + runtime_.path().string(),
                                 "XDG_CONFIG_HOME=" + config_.path().string(),
                                 std::string("ORLUNE_OVERRIDE=") + (override_held ? "1" : "0")});
  }
  // The messages shown until the program is ready or ends, and how it went on.
  static std::vector<std::string> UntilReadyOrExit(ChildProcess& p) {
    std::vector<std::string> lines;
    while (auto line = p.ReadLine()) {
      lines.push_back(*line);
      if (*line == "ready" || line->rfind("exit", 0) == 0) break;
    }
    return lines;
  }
  // The start-up's boxes carry the program's title, as every box before the main window does.
  static std::string Message(const char* text) {
    return std::string("message: [") + TVANTMainAA::kTitle + "] " + text;
  }

  ScratchFolder runtime_{"orlune-run"};
  ScratchFolder config_{"orlune-cfg"};
};

TEST_F(StartupTest, SecondStartGivesWayUnlessShiftIsHeld) {
  auto first = Start();
  ASSERT_EQ(UntilReadyOrExit(*first), std::vector<std::string>{"ready"});

  auto second = Start();
  EXPECT_EQ(UntilReadyOrExit(*second),
            (std::vector<std::string>{Message(vant::ipc::kMsgAlreadyRunning), "exit 0"}));
  EXPECT_EQ(second->Wait(), 0);

  // Held Shift: the message, then a second instance that removed the marker, so a third start
  // runs without any message while both run.
  auto forced = Start(true);
  EXPECT_EQ(UntilReadyOrExit(*forced),
            (std::vector<std::string>{Message(vant::ipc::kMsgAlreadyRunning), "ready"}));
  auto third = Start();
  EXPECT_EQ(UntilReadyOrExit(*third), std::vector<std::string>{"ready"});

  for (auto* p : {first.get(), forced.get(), third.get()}) {
    p->CloseStdin();
    EXPECT_EQ(p->ReadLine(), "exit 0");
    EXPECT_EQ(p->Wait(), 0);
  }
}

TEST_F(StartupTest, StartAfterAnAbnormalEndWarnsAndRuns) {
  auto crashed = Start();
  ASSERT_EQ(UntilReadyOrExit(*crashed), std::vector<std::string>{"ready"});
  crashed->Kill();

  auto next = Start();
  EXPECT_EQ(UntilReadyOrExit(*next),
            (std::vector<std::string>{Message(vant::ipc::kMsgAbnormalEnd), "ready"}));
  next->CloseStdin();
  EXPECT_EQ(next->ReadLine(), "exit 0");
  EXPECT_EQ(next->Wait(), 0);

  // That run ended normally and removed the marker: the next start is quiet.
  auto quiet = Start();
  EXPECT_EQ(UntilReadyOrExit(*quiet), std::vector<std::string>{"ready"});
}

// A save or a wave write killed with the program leaves its new file in the temporary folder;
// the next start removes it, and only it.
TEST_F(StartupTest, AStartRemovesWhatKilledSavesLeft) {
  ScratchFolder temp{"orlune-tmp"};
  auto crashed = Start();
  ASSERT_EQ(UntilReadyOrExit(*crashed), std::vector<std::string>{"ready"});
  const std::string dead = std::to_string(crashed->Pid()), live = std::to_string(getpid());
  crashed->Kill();
  const std::vector<std::string> left{"vant-save-" + dead + ".AbC123.tmp",
                                      "w" + dead + ".AbC123.tmp"};
  const std::vector<std::string> kept{"vant-save-AbC123.tmp", "vant-save-" + live + ".AbC123.tmp",
                                      "notes-" + dead + ".AbC123.tmp", "wAbC123.tmp",
                                      "w" + live + ".AbC123.tmp"};
  for (const auto& names : {left, kept}) {
    for (const auto& n : names) std::ofstream(temp.path() / n) << "x";
  }
  ChildProcess next({ORLUNE_TESTHOST}, {"XDG_RUNTIME_DIR=" + runtime_.path().string(),
                                        "XDG_CONFIG_HOME=" + config_.path().string(),
                                        "TMPDIR=" + temp.path().string()});
  ASSERT_EQ(UntilReadyOrExit(next).back(), "ready");
  std::vector<std::string> now;
  for (const auto& e : std::filesystem::directory_iterator(temp.path())) {
    now.push_back(e.path().filename().string());
  }
  std::sort(now.begin(), now.end());
  std::vector<std::string> want = kept;
  std::sort(want.begin(), want.end());
  EXPECT_EQ(now, want);
  next.CloseStdin();
  EXPECT_EQ(next.ReadLine(), "exit 0");
  EXPECT_EQ(next.Wait(), 0);
}

// A save killed between its two renames leaves the old file under its backup's name and no file
// under the target's; a start with that file puts the backup back first.
TEST_F(StartupTest, AStartWithAFilePutsALoneBackupOfAKilledSaveBack) {
  ScratchFolder folder{"orlune-backup"};
  auto crashed = Start();
  ASSERT_EQ(UntilReadyOrExit(*crashed), std::vector<std::string>{"ready"});
  const std::string dead = std::to_string(crashed->Pid());
  crashed->Kill();
  // The old file: a short 48 kHz stereo wave, which the converter opens without a word.
  const std::string old(
      "RIFF\x28\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xbb\0\0"
      "\0\xee\x02\0\x04\0\x10\0data\x04\0\0\0\x01\x02\x03\x04",
      48);
  std::ofstream(folder.path() / (".out.wav." + dead + ".AbC123.bak"), std::ios::binary) << old;
  const std::string target = (folder.path() / "out.wav").string();
  ChildProcess next({ORLUNE_TESTHOST, target}, {"XDG_RUNTIME_DIR=" + runtime_.path().string(),
                                                "XDG_CONFIG_HOME=" + config_.path().string(),
                                                "TMPDIR=" + folder.path().string()});
  ASSERT_EQ(UntilReadyOrExit(next).back(), "ready");
  std::string text;
  std::getline(std::ifstream(target, std::ios::binary), text, '\x7f');
  EXPECT_EQ(text, old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder.path()), {}), 1);
  next.CloseStdin();
  EXPECT_EQ(next.ReadLine(), "exit 0");
  EXPECT_EQ(next.Wait(), 0);
}

TEST_F(StartupTest, ANormalExitLeavesNoSocketBehind) {
  auto p = Start();
  ASSERT_EQ(UntilReadyOrExit(*p), std::vector<std::string>{"ready"});
  p->CloseStdin();
  EXPECT_EQ(p->ReadLine(), "exit 0");
  EXPECT_EQ(p->Wait(), 0);
  std::vector<std::string> left;
  for (const auto& e : std::filesystem::recursive_directory_iterator(runtime_.path())) {
    if (!e.is_directory()) left.push_back(e.path().filename().string());
  }
  EXPECT_TRUE(left.empty()) << testing::PrintToString(left);
}

TEST_F(StartupTest, MarkerThatCannotBeMadeEndsWithMinusOne) {
  // A runtime folder where nothing can be made leaves no place for the marker. Root may write
  // anywhere, so there the folder is made read-only by a mount in a private namespace.
  ScratchFolder blocked{"orlune-blocked"};
  std::vector<std::string> argv{ORLUNE_TESTHOST};
  if (geteuid() == 0) {
    if (std::system("unshare -m --propagation private true 2>/dev/null") != 0)
      GTEST_SKIP() << "no private mount namespace here";
    argv = {"/usr/bin/unshare",
            "-m",
            "--propagation",
            "private",
            "sh",
            "-c",
            "mount --bind \"$0\" \"$0\" && mount -o remount,ro,bind \"$0\" && exec \"$1\"",
            blocked.path().string(),
            ORLUNE_TESTHOST};
  } else {
    chmod(blocked.path().c_str(), 0555);
  }
  ChildProcess p(
      argv, {"XDG_RUNTIME_DIR=" + blocked.path().string(),
             "XDG_CONFIG_HOME=" + config_.path().string(), "TMPDIR=" + blocked.path().string()});
  const auto lines = UntilReadyOrExit(p);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(), "exit -1");
  EXPECT_NE(std::find(lines.begin(), lines.end(), Message(vant::ipc::kMsgCannotStart)),
            lines.end());
  EXPECT_EQ(p.Wait(), 255);
}

}  // namespace
