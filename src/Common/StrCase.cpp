#include "Common/StrCase.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace synapsor {

int strcasecmp(const char* a, const char* b) {
    // Compared byte by byte on the fly: the same result as comparing two upper-cased copies,
    // without allocating them.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        const unsigned char x = static_cast<unsigned char>(std::toupper(*p));
        const unsigned char y = static_cast<unsigned char>(std::toupper(*q));
        if (x != y)
            return x < y ? -1 : 1;
        if (x == '\0')
            return 0;
    }
}

std::size_t EditDistance(std::string_view a, std::string_view b) {
    const std::size_t n = a.size(), m = b.size();
    // Three rows of the table: two back for the swap of neighbours.
    std::vector<std::size_t> older(m + 1), prev(m + 1), row(m + 1);
    for (std::size_t j = 0; j <= m; ++j)
        prev[j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        row[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({prev[j] + 1, row[j - 1] + 1, prev[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                row[j] = std::min(row[j], older[j - 2] + 1);
        }
        std::swap(older, prev);
        std::swap(prev, row);
    }
    return prev[m];
}

}  // namespace synapsor
