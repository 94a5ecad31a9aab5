#include "progstart.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tempfiles.h"

namespace fs = std::filesystem;
using vant::ChildProcess;

TEST(ProgStart, ArgumentsArriveIntactWithoutAShell) {
  ChildProcess child;
  // $1 must arrive as one argument with its blank, quote and '$' untouched.
  ASSERT_EQ(
      child.Start({"/bin/sh", "-c", "test \"$1\" = 'a b\"$HOME' && exit 7", "sh", "a b\"$HOME"}),
      vant::kStartOk);
  ASSERT_TRUE(child.WaitFor(60000));
  EXPECT_EQ(child.ExitCode(), 7);
}

TEST(ProgStart, FailuresMapToResultCodes) {
  auto dir = *vant::CreateTempFile(vant::TempFolder(), "spawn-");
  fs::remove(dir);
  fs::create_directories(dir);
  std::ofstream(dir / "data.txt") << "not a program";
  std::ofstream(dir / "garbage") << "\x7f\x01\x02\x03 garbage";
  fs::permissions(dir / "garbage", fs::perms::owner_all);
  const struct {
    std::string program;
    vant::StartResult result;
  } cases[] = {
      {(dir / "missing").string(), vant::kStartFileNotFound},
      {(dir / "nofolder" / "prog").string(), vant::kStartPathNotFound},
      {(dir / "data.txt" / "prog").string(), vant::kStartPathNotFound},
      {(dir / "data.txt").string(), vant::kStartAccessDenied},
      {(dir / "garbage").string(), vant::kStartBadFormat},
      {"no-such-program-in-path-xyz", vant::kStartFileNotFound},
  };
  for (const auto& c : cases) {
    ChildProcess child;
    EXPECT_EQ(child.Start({c.program}), c.result) << c.program;
    EXPECT_FALSE(child.IsRunning());
  }
  fs::remove_all(dir);
}

TEST(ProgStart, BoundedWaitThenKill) {
  ChildProcess child;
  ASSERT_EQ(child.Start({"sleep", "600"}), vant::kStartOk);
  EXPECT_FALSE(child.WaitFor(0));
  EXPECT_TRUE(child.IsRunning());
  child.Kill();
  EXPECT_FALSE(child.IsRunning());
  EXPECT_EQ(child.ExitCode(), 128 + 9);
}

TEST(ProgStart, SplitCommandLine) {
  using V = std::vector<std::string>;
  const std::pair<std::string, V> cases[] = {
      {"prog \"C:/a b/c.pdf\"", V{"prog", "C:/a b/c.pdf"}},
      {"  a   b ", V{"a", "b"}},
      {"a \"\" b", V{"a", "", "b"}},
      {"", V{}},
  };
  for (const auto& [line, want] : cases) EXPECT_EQ(vant::SplitCommandLine(line), want) << line;
}
