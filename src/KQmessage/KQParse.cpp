#include "KQmessage/KQParse.h"

#include <cstring>
#include <iostream>

#include "Common/Assert.h"

namespace synapsor {

namespace {

bool Printable(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return u >= 0x21 && u <= 0x7E;
}

bool IsSpecial(char c, const char* specials) {
    return c != '\0' && std::strchr(specials, c) != nullptr;
}

// A head or keyword must be a real word, not a special character or nothing.
void CheckWord(const std::string& token) {
    const bool ok = !token.empty() && token[0] != '(' && token[0] != ')' && token[0] != ':';
    if (!ok) {
        std::cerr << "special character unexpected" << std::endl;
        SYN_ASSERT(!token.empty() && token[0] != '(' && token[0] != ')' && token[0] != ':');
    }
}

std::unique_ptr<TKQstructure> ParseAt(const char*& cursor, int depth) {
    // Each level costs a stack frame; bounding the depth keeps hostile text from overflowing it.
    SYN_ASSERT(depth < kMaxKQDepth);
    std::string token = NextKQToken(cursor, "():");
    if (token != "(") {
        CheckWord(token);
        return std::make_unique<TKQstructure>(token.c_str());
    }
    token = NextKQToken(cursor, "():");
    CheckWord(token);
    auto result = std::make_unique<TKQstructure>(token.c_str());
    for (;;) {
        token = NextKQToken(cursor, "():");
        if (token == ")")
            break;
        if (token != ":") {
            const char* s = token.c_str();
            SYN_ASSERT(*s == ')');
        }
        const std::string keyword = NextKQToken(cursor, "():");
        CheckWord(keyword);
        result->SetValue(keyword.c_str(), ParseAt(cursor, depth + 1));
    }
    return result;
}

}  // namespace

std::string NextKQToken(const char*& s, const char* specials) {
    while (*s != '\0' && !Printable(*s))
        ++s;
    if (*s == '\0')
        return std::string();
    if (IsSpecial(*s, specials))
        return std::string(1, *s++);
    const char* start = s;
    while (Printable(*s) && (!IsSpecial(*s, specials) || *s == ':'))
        ++s;
    return std::string(start, s);
}

std::unique_ptr<TKQstructure> ParseStructure(const char*& cursor) {
    return ParseAt(cursor, 0);
}

std::unique_ptr<TKQstructure> ParseMessage(const char*& cursor) {
    auto result = ParseStructure(cursor);
    const std::string rest = NextKQToken(cursor, "");
    const char* s = rest.c_str();
    SYN_ASSERT(*s == '\0');
    return result;
}

}  // namespace synapsor
