// What the desktop gives the programs when they start: its language does not change how they read
// and write numbers; its X server is reached without a wait on every paint.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "scratchfolder.h"
#include "ui_canvas.h"

namespace {

TEST(DesktopLocale, NumbersKeepTheirPointUnderACommaDesktop) {
  vant::testing::ScratchFolder folder;
  const auto source = folder.path() / "comma.src";
  std::ofstream(source) << "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\n"
                           "grouping 3;3\nEND LC_NUMERIC\n";
  const std::string command = "localedef -c -i " + source.string() + " -f ANSI_X3.4-1968 " +
                              (folder.path() / "xx_COMMA").string() + " >/dev/null 2>&1";
  if (std::system(command.c_str()) == -1) GTEST_SKIP() << "no localedef";
  setenv("LOCPATH", folder.path().c_str(), 1);
  setenv("LC_NUMERIC", "xx_COMMA", 1);
  if (std::setlocale(LC_NUMERIC, "xx_COMMA") == nullptr) GTEST_SKIP() << "no comma locale here";
  std::setlocale(LC_NUMERIC, "C");
  // The toolkit takes the desktop's locale when it starts (each test runs in its own process).
  vant::EnsureGuiApplication();
  char text[16];
  std::snprintf(text, sizeof text, "%.1f", 12.5);
  EXPECT_STREQ(text, "12.5");
  EXPECT_EQ(std::strtod("12.5", nullptr), 12.5);
}

// Window pictures reach an X server without waiting for it on every paint, unless the user
// chose otherwise.
TEST(DesktopConnection, PicturesTravelInTheRequestsUnlessTheUserChose) {
  setenv("QT_XCB_NO_MITSHM", "0", 1);
  vant::SetDisplayDefaults();
  EXPECT_STREQ(std::getenv("QT_XCB_NO_MITSHM"), "0");
  unsetenv("QT_XCB_NO_MITSHM");
  vant::EnsureGuiApplication();
  ASSERT_NE(std::getenv("QT_XCB_NO_MITSHM"), nullptr);
  EXPECT_STREQ(std::getenv("QT_XCB_NO_MITSHM"), "1");
}

}  // namespace
