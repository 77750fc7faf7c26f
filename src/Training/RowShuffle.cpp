#include "Training/RowShuffle.h"

#include <numeric>
#include <utility>

namespace synapsor {

namespace {

__extension__ typedef unsigned __int128 Wide;

}  // namespace

std::uint64_t TRowShuffle::Below(std::uint64_t range) {
    Wide product = static_cast<Wide>(engine()) * range;
    auto low = static_cast<std::uint64_t>(product);
    if (low < range) {
        const std::uint64_t threshold = (0 - range) % range;
        while (low < threshold) {
            product = static_cast<Wide>(engine()) * range;
            low = static_cast<std::uint64_t>(product);
        }
    }
    return static_cast<std::uint64_t>(product >> 64);
}

void TRowShuffle::NextOrder(int n, std::vector<int>* order) {
    order->resize(static_cast<std::size_t>(n));
    std::iota(order->begin(), order->end(), 0);
    for (int i = n - 1; i > 0; i--) {
        const auto j = static_cast<std::size_t>(Below(static_cast<std::uint64_t>(i) + 1));
        std::swap((*order)[static_cast<std::size_t>(i)], (*order)[j]);
    }
}

}  // namespace synapsor
