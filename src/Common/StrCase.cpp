#include "Common/StrCase.h"

#include <cctype>

namespace synapsor {

int strcasecmp(const char* a, const char* b) {
    // Compared byte by byte on the fly: the same result as comparing two upper-cased copies,
    // without allocating them.
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b);
    for (;; ++p, ++q) {
        const unsigned char x = static_cast<unsigned char>(std::toupper(*p));
        const unsigned char y = static_cast<unsigned char>(std::toupper(*q));
        if (x != y) return x < y ? -1 : 1;
        if (x == '\0') return 0;
    }
}

}  // namespace synapsor
