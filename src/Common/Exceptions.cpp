#include "Common/Exceptions.h"

#include <string>

namespace synapsor {

TException::TException(const char* msg, const char* knd)
    : message(msg ? msg : ""),
      kind(knd ? knd : ""),
      hasMessage(msg != nullptr),
      hasKind(knd != nullptr) {}

TException::TException(const char* msg, const char* knd, const char* loc,
                       std::shared_ptr<TKQstructure> det)
    : message(msg ? msg : ""),
      kind(knd ? knd : ""),
      details(std::move(det)),
      location(loc ? loc : ""),
      hasMessage(msg != nullptr),
      hasKind(knd != nullptr),
      hasLocation(loc != nullptr) {}

std::string DescribeWhere(const FileToolsError& error) {
    if (!error.openFailure.empty())
        return error.file + ": cannot open: " + error.openFailure;
    if (!error.HasPosition())
        return std::string();
    std::string where = error.file.empty() ? std::string() : error.file + ":";
    where += std::to_string(error.line) + ":" + std::to_string(error.column) + ": " + error.message;
    if (error.atEnd)
        return where + " (found end of file)";
    // A token is printable ASCII on one line, but may be as long as a word can be: a long one is
    // shortened.
    constexpr std::size_t kShown = 40;
    const std::string shown =
        error.token.size() <= kShown ? error.token : error.token.substr(0, kShown) + "...";
    return where + " (found \"" + shown + "\")";
}

}  // namespace synapsor
