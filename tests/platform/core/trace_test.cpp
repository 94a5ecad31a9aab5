#include "trace.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(Trace, CaptureSeesLinesFromAnyCall) {
  vant::TraceCapture capture;
  vant::Trace("one");
  vant::TraceF("%08X[%12d] : %s", 12u, 34, "fmt ");
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "0000000C[          34] : fmt ");
}

// While nobody listens (no capture, VANT_TRACE unset) a line is not even formatted: %n would
// store how many characters it had produced.
TEST(Trace, OffCostsNoFormatting) {
  if (std::getenv("VANT_TRACE") != nullptr) GTEST_SKIP() << "tracing to stderr is on";
  int formatted = -1;
  vant::TraceF("abc%n", &formatted);
  EXPECT_EQ(formatted, -1);
  EXPECT_FALSE(vant::TraceOn());
  vant::TraceCapture capture;
  EXPECT_TRUE(vant::TraceOn());
  vant::TraceF("abc%n", &formatted);
  EXPECT_EQ(formatted, 3);
  EXPECT_EQ(capture.Lines(), std::vector<std::string>{"abc"});
}
