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

TEST(StrCaseTest, EditDistanceCountsSwapsOfNeighboursAsOneEdit) {
    struct Case {
        const char* a;
        const char* b;
        std::size_t edits;
    };
    const Case cases[] = {
        {"", "", 0},
        {"", "abc", 3},
        {"abc", "", 3},
        {"Epochs", "Epochs", 0},
        {"Epohcs", "Epochs", 1},  // one swap of neighbours
        {"Epoch", "Epochs", 1},
        {"Epocks", "Epochs", 1},
        {"evalute", "evaluate", 1},
        {"ca", "abc", 3},  // no swap and then insert across the swapped pair
        {"kitten", "sitting", 3},
        {"LEARNRATE", "LEARNINGRATE", 3},
        {"epochs", "EPOCHS", 6},
    };
    for (const Case& c : cases)
        EXPECT_EQ(EditDistance(c.a, c.b), c.edits) << c.a << " -> " << c.b;
}

}  // namespace
}  // namespace synapsor
