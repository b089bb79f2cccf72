// Assertions stay on in every build type (this one too, NDEBUG or not) and
// name the condition that failed; running out of memory ends with status 1.
#include <gtest/gtest.h>

#include "framework/core/kel_assert.h"

namespace {

int checked_half(int even) {
  KEL_ASSERT(even % 2 == 0);
  return even / 2;
}

TEST(KelAssertDeathTest, StopsWithTheConditionText) {
  EXPECT_EQ(checked_half(4), 2);
  EXPECT_DEATH(checked_half(3), "checked_half: Assertion `even % 2 == 0' failed.");
}

TEST(KelAssertDeathTest, OutOfMemoryNamesItsSiteAndExitsWithOne) {
  EXPECT_EXIT(kel_out_of_memory(42), ::testing::ExitedWithCode(1), "line 42: No more memory for allocating data\n");
}

}  // namespace
