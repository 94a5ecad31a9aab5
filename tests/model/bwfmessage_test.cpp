#include "bwfmessage.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "bwfchunk.h"
#include "childprocess.h"
#include "notifyrecorder.h"
#include "scratchfolder.h"
#include "vantbuilder.h"

namespace fs = std::filesystem;
using vant::testing::ChildProcess;
using vant::testing::HexBytes;

namespace {

// The programs run as separate processes with their own runtime folder; a stub program writes
// its arguments into a FIFO that the test reads.
class MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
    fifo_ = dir_ / "args.fifo";
    ASSERT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
    setenv("VANT_STUB_FIFO", fifo_.c_str(), 1);
    fs::create_directory(dir_ / "bin");
    stub_ = dir_ / "bin" / "stub viewer";
    std::ofstream(stub_) << "#!/bin/sh\n"
                            "{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; "
                            "echo END; } > \"$VANT_STUB_FIFO\"\n";
    chmod(stub_.c_str(), 0755);
    // A file with blanks, quotes and Japanese in its path.
    fs::create_directory(dir_ / "a b \"c\"");
    file_ = dir_ / "a b \"c\"" / "日本語 'CM'.pdf";
    std::ofstream(file_) << "%PDF";
  }
  void TearDown() override {
    unsetenv("XDG_RUNTIME_DIR");
    unsetenv("VANT_STUB_FIFO");
  }

  std::unique_ptr<ChildProcess> Program(const std::string& name, const std::string& title) {
    auto p = std::make_unique<ChildProcess>(
        std::vector<std::string>{IPC_PEER, "serve", name, title},
        std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir_.string()});
    auto lines = p->ReadUntil("READY");
    EXPECT_TRUE(!lines.empty() && lines.back().rfind("READY", 0) == 0);
    return p;
  }

  // The stub's arguments, one per line, up to its END line.
  std::vector<std::string> StubArguments() {
    int fd = open(fifo_.c_str(), O_RDWR | O_CLOEXEC);  // never blocks, and never sees a hang-up
    std::string got;
    while (got.find("END\n") == std::string::npos) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 30000) <= 0) break;  // fail-safe only
      char buf[4096];
      ssize_t n = read(fd, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    std::vector<std::string> lines;
    for (size_t i = 0, nl; (nl = got.find('\n', i)) != std::string::npos; i = nl + 1) {
      lines.push_back(got.substr(i, nl - i));
    }
    return lines;
  }

  vant::testing::ScratchFolder scratch_{"vant-msg"};
  const fs::path dir_ = scratch_.path();
  fs::path fifo_, stub_, file_;
};

}  // namespace

TEST(Editions, TitlesAndPrograms) {
  EXPECT_EQ(ViewerTitle(ecAdAgency), "ミルダ 広告会社仕様");
  EXPECT_EQ(ConverterTitle(ecAdAgency), "オルネ　広告会社仕様");
  EXPECT_EQ(ConverterProgram(ecAdAgency), "Orlune");
  EXPECT_EQ(ViewerTitle(ecPostProduction), "ミルダ ポストプロダクション仕様");
  EXPECT_EQ(ConverterTitle(ecBroadcaster), "オルネ　放送局仕様");
  EXPECT_EQ(ConverterProgram(ecPostProduction), "Pallin");
  for (int other : {0, 4, -1}) {
    EXPECT_EQ(ViewerTitle(other), "");
    EXPECT_EQ(ConverterTitle(other), "");
    EXPECT_EQ(ConverterProgram(other), "");
  }
}

TEST_F(MessageTest, ViewerLearnsTheFolderOfTheOpenedFileOnce) {
  auto viewer = Program("Dessan", "ミルダ 広告会社仕様");
  auto broadcaster = Program("Dessan3", "ミルダ 放送局仕様");
  vb::TempFile wav(vb::Build({vb::Fmt(), vb::Data(4)}));
  TBWFChunck chunk(wav.path(), TBWFChunck::kKeepOpen);
  const std::string folder = wav.path().parent_path().string() + "/";

  EXPECT_TRUE(NotifyViewer(chunk, ecAdAgency));
  EXPECT_EQ(viewer->ReadLine(), "COPY " + HexBytes(folder));
  EXPECT_FALSE(NotifyViewer(chunk, 9));  // no title, nothing sent
  // A window that no longer answers gives way to the search by title.
  EXPECT_TRUE(NotifyViewer(chunk, ecAdAgency, vant::ipc::WindowRef{dir_ / "gone"}));
  EXPECT_EQ(viewer->ReadLine(), "COPY " + HexBytes(folder));
  // A file opened by a bare name lies in the current folder, not in the root.
  EXPECT_TRUE(NotifyViewer(TBWFChunck("bare-name.wav", 0), ecAdAgency));
  EXPECT_EQ(viewer->ReadLine(), "COPY " + HexBytes(fs::current_path().string() + "/"));

  viewer->CloseStdin();
  broadcaster->CloseStdin();
  EXPECT_EQ(viewer->ReadUntil("BYE"), std::vector<std::string>{"BYE"});
  EXPECT_EQ(broadcaster->ReadUntil("BYE"), std::vector<std::string>{"BYE"});  // never notified
  EXPECT_FALSE(NotifyViewer(chunk, ecAdAgency));  // no viewer: nothing reported
}

TEST_F(MessageTest, RunningProgramGetsTheFileWhole) {
  NotifyRecorder notes;
  auto converter = Program("Orlune", "オルネ　広告会社仕様");
  EXPECT_TRUE(
      OpenWithApplication((dir_ / "no-such-program").string(), file_, "オルネ　広告会社仕様"));
  EXPECT_EQ(converter->ReadLine(), "ACTIVATE");
  EXPECT_EQ(converter->ReadLine(), "COPY " + HexBytes(file_.string()));
  EXPECT_TRUE(notes.lines.empty());
}

TEST_F(MessageTest, ProgramStartsWithTheFileAsItsOnlyArgument) {
  NotifyRecorder notes;
  // No window with the title: the program starts, by full path or found in PATH.
  EXPECT_TRUE(OpenWithApplication(stub_.string(), file_, "オルネ　広告会社仕様"));
  EXPECT_EQ(StubArguments(), (std::vector<std::string>{"1", file_.string(), "END"}));
  const std::string path = std::getenv("PATH");
  setenv("PATH", ((dir_ / "bin").string() + ":" + path).c_str(), 1);
  EXPECT_TRUE(OpenWithApplication("stub viewer", file_, ""));
  setenv("PATH", path.c_str(), 1);
  EXPECT_EQ(StubArguments(), (std::vector<std::string>{"1", file_.string(), "END"}));
  EXPECT_TRUE(notes.lines.empty());
}

TEST_F(MessageTest, EachFailureShowsItsMessage) {
  const fs::path text = dir_ / "bin" / "notes.txt";
  std::ofstream(text) << "not a program";
  const fs::path garbage = dir_ / "bin" / "garbage";
  std::ofstream(garbage) << std::string("\x7F\x01\x02\x03garbage", 11);
  chmod(garbage.c_str(), 0755);
  struct Case {
    std::string program;
    fs::path file;
    const char* message;
  } cases[] = {
      {stub_.string(), dir_ / "missing.pdf", kMsgShowFileMissing},
      {"", file_, kMsgNoApplication},
      {(dir_ / "bin" / "missing").string(), file_, kMsgStartFileNotFound},
      {(dir_ / "no-folder" / "prog").string(), file_, kMsgStartPathNotFound},
      {"vant-no-such-program-anywhere", file_, kMsgStartFileNotFound},
      {garbage.string(), file_, kMsgStartBadFormat},
      {text.string(), file_, kMsgStartOther},  // not executable
  };
  for (const auto& c : cases) {
    NotifyRecorder notes;
    EXPECT_FALSE(OpenWithApplication(c.program, c.file, ""));
    EXPECT_EQ(notes.lines, std::vector<std::string>{std::string("P:") + c.message}) << c.program;
  }
}
