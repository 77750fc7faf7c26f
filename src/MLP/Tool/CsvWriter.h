// Writes comma-separated values one field at a time: a field holding a comma, a quote or a line
// break is quoted with its quotes doubled, so any text survives a CSV reader; numbers are
// written in the shortest form that reads back to the same double, whatever the locale.
#pragma once

#include <ostream>
#include <string_view>

namespace synapsor {

class CsvWriter {
  public:
    explicit CsvWriter(std::ostream& out) : out(out) {}

    void Field(std::string_view text);
    void Number(double value);
    void Number(long long value);
    // Ends the line; the next field starts a new row.
    void EndRow();

  private:
    void Separate();

    std::ostream& out;
    bool rowStarted = false;
};

}  // namespace synapsor
