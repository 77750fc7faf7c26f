#include "Common/Assert.h"

#include <gtest/gtest.h>

namespace synapsor {
namespace {

TEST(AssertDeathTest, FailedCheckPrintsExpressionFileAndLineThenAborts) {
    int n = 3;
    EXPECT_DEATH(SYN_ASSERT(n == 4),
                 "^Assertion failed: n == 4, file .*AssertTest\\.cpp, line [0-9]+\n");
}

TEST(AssertTest, PassingCheckDoesNothing) {
    int calls = 0;
    SYN_ASSERT(++calls == 1);  // the expression is evaluated exactly once
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace synapsor
