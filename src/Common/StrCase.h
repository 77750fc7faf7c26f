// Case-insensitive comparison used for every keyword, key, type name and option word.
// Lives in the project namespace so that it never collides with the C library's strcasecmp.
#pragma once

namespace synapsor {

// Compares upper-cased copies of a and b (std::toupper on every byte) as unsigned bytes.
// Returns -1 when a sorts first, 0 when equal, 1 when b sorts first.
int strcasecmp(const char* a, const char* b);

}  // namespace synapsor
