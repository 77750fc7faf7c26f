// The order in which a shuffled pass visits its rows, the same on every machine and standard
// library: std::mt19937_64 seeded with the seed, and our own mapping of its output to a
// permutation (std::uniform_int_distribution maps differently from library to library).
// Every pass starts from the order 0, 1, ..., n - 1 and runs Fisher-Yates from the last index
// down: for i = n - 1 .. 1, j = Below(i + 1), swap positions i and j. Below(r) takes a 64-bit
// draw x and forms the 128-bit product x * r; when its low half is below (2^64 - r) mod r the
// draw is rejected and another taken, else j is the high half (Lemire's method: every j in
// [0, r) is equally likely). Successive passes continue the same generator.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace synapsor {

class TRowShuffle {
  public:
    explicit TRowShuffle(std::uint64_t seed) : engine(seed) {}

    // A uniform number in [0, range), range >= 1.
    std::uint64_t Below(std::uint64_t range);

    // The next pass's order of n rows into *order (resized to n).
    void NextOrder(int n, std::vector<int>* order);

  private:
    std::mt19937_64 engine;
};

}  // namespace synapsor
