#include "trace.h"

#include <gtest/gtest.h>

TEST(Trace, CaptureSeesLinesFromAnyCall) {
  vant::TraceCapture capture;
  vant::Trace("one");
  vant::TraceF("%08X[%12d] : %s", 12u, 34, "fmt ");
  auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[1], "0000000C[          34] : fmt ");
}
