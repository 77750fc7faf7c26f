#include "MLP/Tool/CsvWriter.h"

#include <charconv>

#include "Common/Assert.h"

namespace synapsor {

void CsvWriter::Separate() {
    if (rowStarted)
        out << ',';
    rowStarted = true;
}

void CsvWriter::Field(std::string_view text) {
    Separate();
    if (text.find_first_of(",\"\r\n") == std::string_view::npos) {
        out << text;
        return;
    }
    out << '"';
    for (char c : text) {
        if (c == '"')
            out << '"';
        out << c;
    }
    out << '"';
}

void CsvWriter::Number(double value) {
    Separate();
    char text[64];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    SYN_ASSERT(r.ec == std::errc());
    out.write(text, r.ptr - text);
}

void CsvWriter::Number(long long value) {
    Separate();
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, value);
    SYN_ASSERT(r.ec == std::errc());
    out.write(text, r.ptr - text);
}

void CsvWriter::EndRow() {
    out << '\n';
    rowStarted = false;
}

}  // namespace synapsor
