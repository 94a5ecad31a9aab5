#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "childprocess.h"
#include "instanceguard.h"
#include "ipcfolder.h"
#include "scopedenv.h"
#include "scratchfolder.h"
#include "windowendpoint.h"
#include "windowlink.h"

using namespace vant::ipc;
using vant::testing::ChildProcess;
using vant::testing::HexBytes;
namespace fs = std::filesystem;

namespace {

const std::string kTitle = "オルネ　広告会社仕様";

// Each test gets its own runtime folder, shared with the programs it starts.
class IpcTest : public ::testing::Test {
 protected:
  void SetUp() override { setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1); }
  void TearDown() override { unsetenv("XDG_RUNTIME_DIR"); }

  std::unique_ptr<ChildProcess> Peer(std::vector<std::string> env = {}) {
    env.push_back("XDG_RUNTIME_DIR=" + runtime_.string());
    return std::make_unique<ChildProcess>(
        std::vector<std::string>{IPC_PEER, "serve", "Orlune", kTitle}, env);
  }

  // Starts a peer and waits until it listens; returns its start-up messages.
  std::unique_ptr<ChildProcess> ReadyPeer(std::vector<std::string>* messages = nullptr,
                                          std::vector<std::string> env = {}) {
    auto p = Peer(std::move(env));
    auto lines = p->ReadUntil("READY");
    EXPECT_FALSE(lines.empty());
    if (!lines.empty()) {
      EXPECT_EQ(lines.back().rfind("READY ", 0), 0u) << lines.back();
    }
    if (messages != nullptr) messages->assign(lines.begin(), lines.end() - 1);
    return p;
  }

  vant::testing::ScratchFolder scratch_{"vant-ipc"};
  const fs::path runtime_ = scratch_.path() / "run";
  const bool made_ = fs::create_directory(runtime_);
  // Where a taken folder name is recorded, for this test and the programs it starts.
  vant::testing::ScopedEnv config_env_{"XDG_CONFIG_HOME", (scratch_.path() / "config").string()};
};

}  // namespace

TEST_F(IpcTest, RuntimeFolderIsPrivateToTheUser) {
  fs::path dir = RuntimeFolder();
  EXPECT_EQ(dir, runtime_ / "vant");
  struct stat st;
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  setenv("XDG_RUNTIME_DIR", (runtime_ / "gone").c_str(), 1);  // no usable runtime dir
  EXPECT_EQ(RuntimeFolder(), fs::path("/tmp/vant-" + std::to_string(geteuid())));
  setenv("XDG_RUNTIME_DIR", runtime_.c_str(), 1);

  chmod(dir.c_str(), 0755);  // loosened by someone: tightened again
  RuntimeFolder();
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  fs::remove(dir);
  fs::create_directory(runtime_ / "elsewhere");
  fs::create_directory_symlink(runtime_ / "elsewhere", dir);  // planted link: not used
  const fs::path instead = RuntimeFolder();
  EXPECT_NE(instead, dir);
  EXPECT_EQ(instead.parent_path(), runtime_);
  EXPECT_FALSE(FindWindowByTitle(kTitle).has_value());
}

// Without a runtime dir both programs fall back to one shared name in the temporary folder. When
// another user (or a link, a file, a folder open to others) has that name, a private folder is
// made beside it and its name kept in this user's configuration folder, where both programs find
// it; the one they found stays theirs while it is private.
TEST(IpcFolder, ATakenSharedNameGivesAPrivateFolderBothProgramsFind) {
  vant::testing::ScratchFolder scratch("vant-ipcfolder");
  const fs::path shared = scratch.path() / "tmp", config = scratch.path() / "config";
  const fs::path fixed = shared / ("vant-" + std::to_string(geteuid()));
  auto isPrivate = [](const fs::path& dir) {
    struct stat st;
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 0777) == 0700;
  };
  struct Case {
    const char* name;
    std::function<void()> plant;
  };
  std::vector<Case> cases = {
      {"a link", [&] { fs::create_directory_symlink(scratch.path(), fixed); }},
      {"a file", [&] { std::ofstream(fixed) << "x"; }},
      {"a folder others may write", [&] {
         fs::create_directory(fixed);
         chmod(fixed.c_str(), 0777);
       }}};
  if (geteuid() == 0) {
    cases.push_back({"another user's folder", [&] {
                       fs::create_directory(fixed);
                       ASSERT_EQ(chown(fixed.c_str(), 65534, 65534), 0);
                     }});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(shared);
    fs::remove_all(config);
    fs::create_directory(shared);
    chmod(shared.c_str(), 01777);
    // Free: the shared name, and nothing recorded.
    EXPECT_EQ(RuntimeFolderIn(shared, config), fixed);
    EXPECT_FALSE(fs::exists(config));
    fs::remove_all(fixed);
    c.plant();
    fs::path first;
    ASSERT_NO_THROW(first = RuntimeFolderIn(shared, config));
    EXPECT_NE(first, fixed);
    EXPECT_EQ(first.parent_path(), shared);
    EXPECT_TRUE(isPrivate(first));
    EXPECT_EQ(RuntimeFolderIn(shared, config), first) << "the other program finds another";
    // The recorded folder stays theirs even when the shared name is free again.
    fs::remove_all(fixed);
    EXPECT_EQ(RuntimeFolderIn(shared, config), first);
    // Gone, or no longer private: another one is made and recorded.
    chmod(first.c_str(), 0770);
    const fs::path second = RuntimeFolderIn(shared, config);
    EXPECT_NE(second, first);
    EXPECT_TRUE(isPrivate(second));
    EXPECT_EQ(RuntimeFolderIn(shared, config), second);
  }
}

// A runtime dir may be a folder all users share (mode 1777). When another user (or a link, a file)
// already has `vant` there, the programs make a private folder of their own beside it and both
// find it, as they do in the temporary folder.
TEST_F(IpcTest, ATakenNameInASharedRuntimeDirGivesAPrivateFolderBothProgramsFind) {
  const fs::path config = scratch_.path() / "config", taken = runtime_ / "vant";
  struct Case {
    const char* name;
    std::function<void()> plant;
  };
  std::vector<Case> cases = {
      {"a link", [&] { fs::create_directory_symlink(scratch_.path() / "config", taken); }},
      {"a file", [&] { std::ofstream(taken) << "x"; }}};
  if (geteuid() == 0) {
    cases.push_back({"another user's folder", [&] {
                       fs::create_directory(taken);
                       ASSERT_EQ(chown(taken.c_str(), 65534, 65534), 0);
                     }});
  }
  chmod(runtime_.c_str(), 01777);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(config);
    fs::remove(taken);
    c.plant();
    fs::path dir;
    ASSERT_NO_THROW(dir = RuntimeFolder());
    EXPECT_EQ(dir.parent_path(), runtime_);
    EXPECT_NE(dir, taken);
    struct stat st;
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 0777) == 0700);
    // The other program, started in the same environment, listens there and is found.
    auto peer = ReadyPeer();
    auto window = FindWindowByTitle(kTitle);
    ASSERT_TRUE(window.has_value());
    EXPECT_EQ(window->socket.parent_path(), dir);
    peer->CloseStdin();
    EXPECT_EQ(peer->ReadUntil("BYE").back(), "BYE");
    EXPECT_EQ(peer->Wait(), 0);
    fs::remove_all(dir);
  }
}

TEST(IpcFrame, PayloadAndHeaderChecks) {
  struct Case {
    std::string bytes;
    bool valid;
  } cases[] = {
      {"/a/b c/", true},
      {"/" + std::string(kMaxPayload - 1, 'x'), true},
      {"/" + std::string(kMaxPayload, 'x'), false},
      {"relative/path", false},
      {"", false},
      {std::string("/a\0b", 4), false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsValidPathPayload(c.bytes), c.valid) << c.bytes.size();

  std::string frame = EncodeFrame(MessageKind::kCopyData, "/x");
  auto h = DecodeFrameHeader(frame);
  ASSERT_TRUE(h);
  EXPECT_EQ(h->kind, 1u);
  EXPECT_EQ(h->length, 2u);
  frame[0] = 'X';
  EXPECT_FALSE(DecodeFrameHeader(frame));
  std::string big = EncodeFrame(MessageKind::kCopyData, std::string(kMaxPayload + 1, '/'));
  EXPECT_FALSE(DecodeFrameHeader(big));  // refused before the bytes are read
}

TEST(IpcFrame, TitlesCompareIgnoringLatinCaseOnly) {
  EXPECT_EQ(TitleKey("Orlune ABC"), TitleKey("orlune abc"));
  EXPECT_NE(TitleKey("ミルダ 広告会社仕様"), TitleKey("ミルダ 放送局仕様"));
  EXPECT_NE(TitleKey("ミルダ 広告会社仕様"), TitleKey("ミルダ　広告会社仕様"));  // full-width blank
  EXPECT_NE(TitleKey("Ａ"), TitleKey("ａ"));  // full-width letters are not folded
}

TEST(InstanceGuard, MarkerIsNamedAfterTheExecutable) {
  EXPECT_EQ(ExecutableName(), "test_platform_ipc");
}

TEST_F(IpcTest, SecondStartBringsTheFirstForwardAndEnds) {
  auto first = ReadyPeer();
  auto second = Peer();
  auto lines = second->ReadUntil("EXIT");
  EXPECT_EQ(lines, (std::vector<std::string>{std::string("MSG ") + kMsgAlreadyRunning, "EXIT 0"}));
  EXPECT_EQ(second->Wait(), 0);
  EXPECT_EQ(first->ReadLine(), "ACTIVATE");
  EXPECT_TRUE(InstanceMarkerExists("Orlune"));  // the first instance is untouched
}

TEST_F(IpcTest, OverrideStartsAnotherInstanceAndClearsTheMarker) {
  auto first = ReadyPeer();
  std::vector<std::string> messages;
  auto second = ReadyPeer(&messages, {"PEER_OVERRIDE=1"});
  EXPECT_EQ(messages, (std::vector<std::string>{std::string("MSG ") + kMsgAlreadyRunning}));
  EXPECT_FALSE(InstanceMarkerExists("Orlune"));
  auto third = ReadyPeer(&messages);
  EXPECT_TRUE(messages.empty());  // starts without a message while both run
}

TEST_F(IpcTest, StartAfterACrashReportsItRunsAndCleansUp) {
  auto crashed = ReadyPeer();
  crashed->Kill();
  auto stale = FindWindowByTitle(kTitle);  // nobody answers: the crashed socket is dropped
  EXPECT_FALSE(stale.has_value());
  EXPECT_TRUE(InstanceMarkerExists("Orlune"));  // like the atom, the marker outlives the crash

  std::vector<std::string> messages;
  auto next = ReadyPeer(&messages);
  EXPECT_EQ(messages, (std::vector<std::string>{std::string("MSG ") + kMsgAbnormalEnd}));
  auto window = FindWindowByTitle(kTitle);
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(SendCopyData(*window, "/media/disc/"), SendResult::kDelivered);
  EXPECT_EQ(next->ReadLine(), "COPY " + HexBytes("/media/disc/"));

  next->CloseStdin();
  EXPECT_EQ(next->ReadUntil("BYE").back(), "BYE");
  EXPECT_EQ(next->Wait(), 0);
  EXPECT_FALSE(InstanceMarkerExists("Orlune"));  // a normal end removes it
  EXPECT_FALSE(fs::exists(window->socket));
  EXPECT_FALSE(FindWindowByTitle(kTitle).has_value());
}

TEST_F(IpcTest, PathsArriveWholeAndExactlyOnce) {
  auto peer = ReadyPeer();
  // Every search knocks at the window; the knocks must not use up its connections.
  for (int i = 0; i < 100; ++i) ASSERT_TRUE(FindWindowByTitle(kTitle).has_value());
  auto window = FindWindowByTitle("オルネ　広告会社仕様");
  ASSERT_TRUE(window.has_value());
  const std::string odd = "/tmp/a b/\"quoted\" 'single'/日本語 ファイル①.wav";
  const std::string longest = "/" + std::string(kMaxPayload - 1, 'p');
  for (const auto& path : {odd, longest}) {
    EXPECT_EQ(SendCopyData(*window, path), SendResult::kDelivered);
    EXPECT_EQ(peer->ReadLine(), "COPY " + HexBytes(path));
  }
  // Refused payloads never reach the handler, whether this side or the receiver checks them.
  EXPECT_EQ(SendCopyData(*window, "relative.wav"), SendResult::kRefused);
  for (const auto& bad : {std::string("relative.wav"), std::string("/a\0b", 4), std::string()}) {
    EXPECT_EQ(SendFrame(*window, MessageKind::kCopyData, bad, kSendBound), SendResult::kRefused);
  }
  EXPECT_EQ(
      SendFrame(*window, MessageKind::kCopyData, "/" + std::string(kMaxPayload, 'x'), kSendBound),
      SendResult::kRefused);
  peer->CloseStdin();
  EXPECT_EQ(peer->ReadUntil("BYE"), std::vector<std::string>{"BYE"});
}

TEST_F(IpcTest, HungReceiverMakesTheSenderGiveUp) {
  auto peer = ReadyPeer(nullptr, {"PEER_HANG=1"});
  auto window = FindWindowByTitle(kTitle);
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(SendCopyData(*window, "/x/", std::chrono::milliseconds(200)), SendResult::kTimeout);
  EXPECT_TRUE(IsWindow(*window));  // busy is still alive
  peer->CloseStdin();              // the receiver comes back and handles the message once
  EXPECT_EQ(peer->ReadUntil("BYE"), (std::vector<std::string>{"COPY " + HexBytes("/x/"), "BYE"}));
}

TEST_F(IpcTest, NoReceiver) {
  EXPECT_FALSE(FindWindowByTitle("ミルダ 広告会社仕様").has_value());
  EXPECT_FALSE(FindWindowByTitle("").has_value());
  WindowRef gone{RuntimeFolder() / (TitleKey(kTitle) + ".1.1")};
  EXPECT_FALSE(IsWindow(gone));
  EXPECT_EQ(SendCopyData(gone, "/x/"), SendResult::kNoReceiver);
}

namespace {
int g_argc = 1;
char g_arg0[] = "test";
char* g_argv[] = {g_arg0, nullptr};
}  // namespace

TEST_F(IpcTest, MessagesAreHandledOnTheGuiThread) {
  QCoreApplication app(g_argc, g_argv);
  WindowEndpoint endpoint;
  EXPECT_TRUE(endpoint.GetSocket().empty());
  ASSERT_TRUE(endpoint.SetTitle(kTitle));
  std::vector<std::string> got;
  std::thread::id handler_thread;
  endpoint.OnCopyData = [&](const std::string& p) {
    got.push_back(p);
    handler_thread = std::this_thread::get_id();
  };
  auto window = FindWindowByTitle(kTitle);
  ASSERT_TRUE(window.has_value());
  EXPECT_EQ(window->socket, endpoint.GetSocket());

  // From the GUI thread itself: handled at once, as a window procedure would be.
  EXPECT_EQ(SendCopyData(*window, "/same/thread/"), SendResult::kDelivered);
  // From another thread: handled by the event loop of the GUI thread.
  // The GUI thread runs its events until the sender has its answer (no call crosses into Qt from
  // the sender, whose library is not instrumented for the thread checker).
  std::atomic<int> result{-1};
  std::thread sender([&] { result = static_cast<int>(SendCopyData(*window, "/other/thread/")); });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (result.load() < 0 && std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  sender.join();
  EXPECT_EQ(result.load(), static_cast<int>(SendResult::kDelivered));
  EXPECT_EQ(got, (std::vector<std::string>{"/same/thread/", "/other/thread/"}));
  EXPECT_EQ(handler_thread, std::this_thread::get_id());

  // Of two windows with one title the newer answers.
  std::vector<std::unique_ptr<WindowEndpoint>> more;
  for (int i = 0; i < 12; ++i) more.push_back(std::make_unique<WindowEndpoint>(kTitle));
  EXPECT_EQ(FindWindowByTitle(kTitle)->socket, more.back()->GetSocket());
  more.clear();
  EXPECT_EQ(FindWindowByTitle(kTitle)->socket, endpoint.GetSocket());

  // A new title moves the socket; the old one is gone. Latin letters match in any case.
  ASSERT_TRUE(endpoint.SetTitle("Dessan ミルダ"));
  EXPECT_FALSE(FindWindowByTitle(kTitle).has_value());
  EXPECT_TRUE(FindWindowByTitle("DESSAN ミルダ").has_value());
  EXPECT_FALSE(FindWindowByTitle("Dessan ミルダ ").has_value());
}

TEST_F(IpcTest, SenderGivingUpWhileTheHandlerRunsANestedLoop) {
  QCoreApplication app(g_argc, g_argv);
  WindowEndpoint endpoint(kTitle);
  QEventLoop* nested = nullptr;
  bool sender_done = false;
  int handled = 0;
  endpoint.OnCopyData = [&](const std::string&) {
    ++handled;
    QEventLoop loop;  // as a message box shown by the handler would run one
    nested = &loop;
    if (!sender_done) loop.exec();
    nested = nullptr;
    QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
  };
  auto window = FindWindowByTitle(kTitle);
  ASSERT_TRUE(window.has_value());
  std::atomic<int> result{-1};
  std::atomic<bool> gave_up{false};
  std::thread sender([&] {
    result = static_cast<int>(SendCopyData(*window, "/x/", std::chrono::milliseconds(200)));
    gave_up = true;
  });
  // The GUI thread looks for the sender's end itself, inside the nested loop: a functor posted
  // from the sender would reach it through the toolkit's own locks, which the thread sanitizer
  // does not see, and be reported as a race.
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    if (!gave_up || sender_done) return;
    sender_done = true;
    if (nested != nullptr) nested->quit();
  });
  watch.start(1);
  app.exec();
  sender.join();
  EXPECT_EQ(result.load(), static_cast<int>(SendResult::kTimeout));
  EXPECT_EQ(handled, 1);
  // The endpoint still serves the next message.
  EXPECT_EQ(SendCopyData(*window, "/y/"), SendResult::kDelivered);
  EXPECT_EQ(handled, 2);
}
