#include <gtest/gtest.h>

#include <cstdlib>

// CI runs this with VANT_FORCE_FAILURE set to prove that ./test.sh reports a failing test.
TEST(TestScript, FailsOnlyWhenAsked) {
  if (std::getenv("VANT_FORCE_FAILURE")) FAIL() << "a failure was asked for";
}
