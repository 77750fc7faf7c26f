// Parser for the text form of TKQstructure: "(head :keyword value ...)" with nested values, or
// a single word for a leaf. Malformed text is a programming error of whoever built the text, so
// it is a fatal internal check, not an exception. The cursor advances past what was parsed.
#pragma once

#include <memory>
#include <string>

#include "KQmessage/KQML.h"

namespace synapsor {

// Skips bytes outside 0x21..0x7E, then returns one special character as its own token, or the
// longest run of printable non-special bytes (a ':' inside a started word belongs to it).
// Returns the empty text at the end of the text.
std::string NextKQToken(const char*& cursor, const char* specials);

// Parses one structure. Nesting deeper than kMaxKQDepth is rejected as malformed text.
std::unique_ptr<TKQstructure> ParseStructure(const char*& cursor);
// ParseStructure, after which only whitespace may remain.
std::unique_ptr<TKQstructure> ParseMessage(const char*& cursor);

constexpr int kMaxKQDepth = 1000;

}  // namespace synapsor
