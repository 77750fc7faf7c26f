// The shuffled order is part of what a parameter file means: the same seed must give the same
// orders on every machine and standard library.
#include "Training/RowShuffle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace synapsor {
namespace {

TEST(RowShuffle, TheFirstOrdersOfASeedArePinned) {
    TRowShuffle shuffle(42);
    const std::vector<int> kOrders[] = {
        {3, 4, 1, 2, 9, 8, 0, 6, 5, 7},
        {1, 8, 2, 5, 6, 9, 7, 4, 0, 3},
        {7, 6, 3, 4, 8, 2, 1, 5, 9, 0},
    };
    std::vector<int> order;
    for (const std::vector<int>& expected : kOrders) {
        shuffle.NextOrder(10, &order);
        EXPECT_EQ(order, expected);
    }
}

// Fisher-Yates from the last index down, each j the high half of draw * (i + 1): the mapping
// written out once more over the generator itself (no draw of these sizes is rejected).
TEST(RowShuffle, TheMappingIsTheDocumentedOne) {
    for (std::uint64_t seed : {0u, 1u, 2026u}) {
        std::mt19937_64 engine(seed);
        std::vector<int> expected(37);
        for (int i = 0; i < 37; i++)
            expected[static_cast<std::size_t>(i)] = i;
        for (int i = 36; i > 0; i--) {
            // The high half of x * r for r < 2^32, from 32-bit halves of x.
            const std::uint64_t x = engine();
            const std::uint64_t r = static_cast<std::uint64_t>(i + 1);
            const std::uint64_t high = ((x >> 32) * r + (((x & 0xffffffffu) * r) >> 32)) >> 32;
            std::swap(expected[static_cast<std::size_t>(i)], expected[high]);
        }
        TRowShuffle shuffle(seed);
        std::vector<int> order;
        shuffle.NextOrder(37, &order);
        EXPECT_EQ(order, expected) << "seed " << seed;
    }
}

// Every row once per pass; every draw below its range, also for ranges that reject draws.
TEST(RowShuffle, EveryRowOncePerPassAndDrawsInRange) {
    TRowShuffle shuffle(9);
    std::vector<int> order;
    for (int n : {1, 2, 3, 1000}) {
        for (int pass = 0; pass < 3; pass++) {
            shuffle.NextOrder(n, &order);
            std::vector<int> sorted = order;
            std::sort(sorted.begin(), sorted.end());
            for (int i = 0; i < n; i++)
                ASSERT_EQ(sorted[static_cast<std::size_t>(i)], i) << n;
        }
    }
    const std::uint64_t kRanges[] = {1, 3, (std::uint64_t{1} << 63) + 1, ~std::uint64_t{0}};
    for (std::uint64_t range : kRanges)
        for (int k = 0; k < 200; k++)
            ASSERT_LT(shuffle.Below(range), range);
}

}  // namespace
}  // namespace synapsor
