// The recoverable error types of the system, thrown by value and caught by reference.
//  - TException: a bad row, column or pointer handed to the data set or the perceptron
//    (message, kind such as "Bad Parameter", location written Class::Operation).
//  - FileToolsError (known to callers as FileTools::Error): unreadable or malformed file text.
// TKQstructure::Error lives with the keyword/value structure it reports in.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>

namespace synapsor {

class TKQstructure;

class TException {
  public:
    TException() = default;
    // kind may be null: the exception then has no kind.
    TException(const char* message, const char* kind);
    // Every raise in the system uses this form; details is usually null. Copies of the exception
    // share the details structure.
    TException(const char* message, const char* kind, const char* location,
               std::shared_ptr<TKQstructure> details = nullptr);

    // Null when the field was never set.
    const char* GetMessage() const { return hasMessage ? message.c_str() : nullptr; }
    const char* GetKind() const { return hasKind ? kind.c_str() : nullptr; }
    const char* GetLocation() const { return hasLocation ? location.c_str() : nullptr; }
    const TKQstructure* GetDetails() const { return details.get(); }

  private:
    std::string message;
    std::string kind;
    std::shared_ptr<TKQstructure> details;
    std::string location;
    bool hasMessage = false;
    bool hasKind = false;
    bool hasLocation = false;
};

struct FileToolsError {
    FileToolsError(std::string msg, std::istream* in = nullptr, int c = 0)
        : message(std::move(msg)), stream(in), code(c) {}

    bool HasPosition() const { return line > 0; }

    std::string message;             // what went wrong, a fixed English text
    std::istream* stream = nullptr;  // the stream being read when the error arose, may be null
    int code = 0;                    // 0 at every raise

    // Where reading stopped, filled in by the readers when they know it: the file (empty for a
    // stream read without a name), the 1-based line and byte column of the token found there
    // (line 0: no position), and that token, or atEnd when the input ended there instead.
    std::string file;
    long line = 0;
    long column = 0;
    std::string token;
    bool atEnd = false;
    // Why the file could not be opened (the system's reason); empty when it was opened.
    std::string openFailure;
};

// The line that tells a user (and an editor) where a file error is:
// "FILE:LINE:COLUMN: MESSAGE (found "TOKEN")", with "(found end of file)" at the end of the
// input, or "FILE: cannot open: REASON". Empty when the error knows neither.
std::string DescribeWhere(const FileToolsError& error);

}  // namespace synapsor
