#include "Common/Assert.h"

#include <cstdio>
#include <cstdlib>

namespace synapsor {

void AssertionFailed(const char* expr, const char* file, int line) {
    std::fflush(stdout);
    std::fprintf(stderr, "Assertion failed: %s, file %s, line %d\n", expr, file, line);
    std::fflush(stderr);
    std::abort();
}

}  // namespace synapsor
