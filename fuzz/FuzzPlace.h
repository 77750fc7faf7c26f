// The place a reader gives for a fault must point into the text it read: FUZZ_CHECK that the
// error has a line and column within the text, and that the token it names stands there (the
// end of the text for atEnd). A UTF-8 byte-order mark at the start takes no column.
#pragma once

#include <string>
#include <string_view>

#include "FileHandler/ParseTools.h"
#include "FuzzSupport.h"

namespace synapsor {
namespace fuzz {

inline void CheckPlace(const FileTools::Error& e, std::string_view text) {
    FUZZ_CHECK(e.HasPosition());
    FUZZ_CHECK(!DescribeWhere(e).empty());
    FUZZ_CHECK(e.column >= 1);
    std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;  // of line e.line
    for (long line = 1; line < e.line; ++line) {
        start = text.find('\n', start);
        FUZZ_CHECK(start != std::string_view::npos);
        ++start;
    }
    const std::size_t at = start + static_cast<std::size_t>(e.column - 1);
    const std::size_t lineEnd = text.find('\n', start);
    FUZZ_CHECK(at <= (lineEnd == std::string_view::npos ? text.size() : lineEnd));
    if (e.atEnd) {
        FUZZ_CHECK(at == text.size());
        return;
    }
    // An end tag is named as "[~Name]" whatever its spacing and case in the text.
    const std::string_view expected =
        e.token.rfind("[~", 0) == 0 ? std::string_view("[~") : std::string_view(e.token);
    FUZZ_CHECK(text.substr(at, expected.size()) == expected);
}

}  // namespace fuzz
}  // namespace synapsor
