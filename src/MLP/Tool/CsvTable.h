// Comma-separated tables as people write them, read with libcsv: RFC 4180 quoting (delimiters,
// quotes and line ends inside quoted fields), CRLF or LF line ends, a UTF-8 byte-order mark, an
// optional header row, and the delimiter detected among "," ";" and tab. Blank lines are skipped.
// Every row must have as many fields as the first; a row that does not, bad quoting, an empty
// file or a header without rows is a ToolError naming the file and the row. Rows are numbered as
// records of the file from 1, the header included (as a spreadsheet numbers them). Two columns of
// the same name are refused (an empty header cell is named by its index and counts). The file is
// read in pieces (CsvReader): memory holds one record at a time, not the file.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
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
    std::vector<bool> given;         // per column: the header gave its name
    std::vector<std::vector<std::string>> rows;
    std::vector<long> records;  // the record number in the file of each row

    // The column called name, or given by its 0-based index; nullopt when there is none. A name
    // the header gives wins over an index.
    std::optional<std::size_t> Find(std::string_view name) const;
};

// A CSV file read record by record. Feed it the text in pieces of any size, then call Finish.
// onHeader gets the table with its file, delimiter and names (rows empty) before the first row;
// onRow gets the fields of each row and its record number.
class CsvReader {
  public:
    using HeaderFn = std::function<void(const CsvTable& header)>;
    // The views last until the callback returns.
    using RowFn = std::function<void(const std::vector<std::string_view>& fields, long record)>;

    CsvReader(const std::string& file, const CsvOptions& options, HeaderFn onHeader, RowFn onRow);
    ~CsvReader();
    CsvReader(const CsvReader&) = delete;
    CsvReader& operator=(const CsvReader&) = delete;

    void Feed(std::string_view text);
    void Finish();
    // Reads the stream to its end in pieces and finishes.
    void ReadAll(std::istream& in);

    const CsvTable& Header() const { return header; }
    long Rows() const { return rows; }

    struct State;  // the parser's state between the pieces

  private:
    void Start(std::string_view text);
    void Parse(std::string_view text);
    void OnRecord(const std::vector<std::string_view>& fields);

    CsvOptions options;
    HeaderFn onHeader;
    RowFn onRow;
    CsvTable header;
    std::unique_ptr<State> state;
    std::string pending;  // the text before the first line end, held to detect the delimiter
    bool started = false;
    bool bomChecked = false;
    bool headerDone = false;
    long records = 0;  // records parsed, blank lines included
    long rows = 0;
};

// Opens the file ("-": stdinStream) and feeds it to a reader made with these arguments.
void ReadCsvRecords(const std::string& file, const CsvOptions& options, std::istream& stdinStream,
                    const CsvReader::HeaderFn& onHeader, const CsvReader::RowFn& onRow);

// A name or cell for a message: in double quotes, control bytes shown as \n, \r, \t or \xHH, and
// cut after 40 bytes with "..." (a cell may be megabytes long).
std::string QuotedForMessage(std::string_view text);

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
