#include "Common/StrCase.h"

#include <gtest/gtest.h>

namespace synapsor {
namespace {

TEST(StrCaseTest, EqualWithoutRegardToCase) {
    EXPECT_EQ(strcasecmp("WeightFile", "weightfile"), 0);
    EXPECT_EQ(strcasecmp("", ""), 0);
    EXPECT_EQ(strcasecmp("#Features", "#FEATURES"), 0);
}

TEST(StrCaseTest, OrdersUpperCasedBytes) {
    EXPECT_EQ(strcasecmp("abc", "abd"), -1);
    EXPECT_EQ(strcasecmp("ABD", "abc"), 1);
    EXPECT_EQ(strcasecmp("ab", "abc"), -1);  // a prefix sorts first
    EXPECT_EQ(strcasecmp("abc", "ab"), 1);
    // '_' (0x5F) lies between the upper- and lower-case letters: the upper-cased copies decide.
    EXPECT_EQ(strcasecmp("a_", "aa"), 1);
}

TEST(StrCaseTest, HighBytesCompareUnsigned) {
    EXPECT_EQ(strcasecmp("\xC3", "z"), 1);
    EXPECT_EQ(strcasecmp("z", "\xC3"), -1);
}

}  // namespace
}  // namespace synapsor
