// Comma-separated tables as people write them, read with libcsv: RFC 4180 quoting (delimiters,
// quotes and line ends inside quoted fields), CRLF or LF line ends, a UTF-8 byte-order mark, an
// optional header row, and the delimiter detected among "," ";" and tab. Blank lines are skipped.
// Every row must have as many fields as the first; a row that does not, bad quoting, an empty
// file or a header without rows is a ToolError naming the file and the row. Rows are numbered as
// records of the file from 1, the header included (as a spreadsheet numbers them).
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace synapsor {

struct CsvOptions {
    char delimiter = 0;  // 0: detected from the first record
    bool header = true;  // false: the columns are named 0, 1, 2, ...
};

struct CsvTable {
    std::string file;  // as given, for messages
    char delimiter = ',';
    std::vector<std::string> names;  // one per column; an empty header cell gets its index
    std::vector<std::vector<std::string>> rows;
    std::vector<long> records;  // the record number in the file of each row

    // The column called name, or given by its 0-based index; nullopt when there is none.
    std::optional<std::size_t> Find(std::string_view name) const;
};

// text is the whole file; file names it in messages.
CsvTable ParseCsv(std::string_view text, const std::string& file, const CsvOptions& options);
// Reads the file ("-" for standard input) and parses it.
CsvTable ReadCsvFile(const std::string& file, const CsvOptions& options, std::istream& stdinStream);

// A cell as a number, or nullopt when it is empty, not a number in full, or not finite
// ("NA", "nan", "inf", "1.5x"). Surrounding blanks are ignored; the locale never is consulted.
std::optional<double> ParseCell(std::string_view cell);

// One CSV field: the text as it is, or quoted by libcsv when it holds the delimiter, a quote,
// a line end or surrounding blanks.
std::string CsvField(std::string_view text, char delimiter = ',');
// A number as the shortest text that reads back as the same double ("0.1", "1e-20").
std::string FormatNumber(double value);
std::string FormatNumber(float value);

}  // namespace synapsor
