// Case-insensitive comparison used for every keyword, key, type name and option word, and the
// edit distance behind every "did you mean" suggestion. Lives in the project namespace so that
// it never collides with the C library's strcasecmp.
#pragma once

#include <cstddef>
#include <string_view>

namespace synapsor {

// Compares upper-cased copies of a and b (std::toupper on every byte) as unsigned bytes.
// Returns -1 when a sorts first, 0 when equal, 1 when b sorts first.
int strcasecmp(const char* a, const char* b);

// Edits (insert, delete, replace a byte, or swap two neighbours) that turn a into b, compared
// exactly as given (the optimal string alignment distance).
std::size_t EditDistance(std::string_view a, std::string_view b);

}  // namespace synapsor
