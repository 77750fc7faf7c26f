// FileTools: the reader and writer of the bracketed-block text syntax shared by the network file
// and the data set file. The tokenizer splits the text into words, the one-character specials of
// "[]/*=<>" and the end-tag opener "[~"; nested /* */ comments are skipped. ReadStatement groups
// tokens into statements ([Name], [Name = Value], [~Name], bare words) and the typed readers check
// their shape. Every fault in the text is thrown as FileTools::Error carrying the stream and,
// where the reader knows it, the position (line, column, token) where reading stopped.
// A FileTools object owns its tokenizer (scratch buffer and the position of its reading); one
// object serves one stream at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iosfwd>
#include <memory>
#include <streambuf>
#include <string>
#include <string_view>
#include <vector>

#include "Common/Exceptions.h"

namespace synapsor {

class Data;
class TBasicNetwork;
class TKQstructure;
class TLabelList;

enum class StatementKind : int {
    EndOfBlock = 0,         // [~Name] of the open block, or the end of input at top level
    Token = 1,              // a bare word
    Tag = 2,                // [Name] or, with open, [Name followed by more items
    Assignment = 3,         // [Name = Value] or, with open, [Name = Value followed by more items
    FormatVersionLine = 5,  // written only: "[FormatVersion = 1.0]"
};

struct Statement {
    StatementKind kind = StatementKind::EndOfBlock;
    std::string keyword;  // the name after "[", or the bare word of a Token; empty when none
    std::string value;    // the word after "=" of an Assignment; empty otherwise
    bool open = false;    // the bracket was not closed: more items follow in the same bracket
};

// A file buffer whose unread bytes the data set reader may scan in place (FileTools::
// ReadPlainNumber); otherwise an ordinary std::filebuf.
class TScanFileBuf : public std::filebuf {
  public:
    const char* Next() const { return gptr(); }
    const char* End() const { return egptr(); }
    void Skip(std::ptrdiff_t n) { gbump(static_cast<int>(n)); }
};

class FileTools {
  public:
    using Error = FileToolsError;

    // Longest word the tokenizer accepts; a longer one is rejected with "Word too long".
    static constexpr int kScratchSize = 1028;

    // Return codes of the data set file operations.
    static constexpr std::int32_t SUCCESS = 0;
    static constexpr std::int32_t FILE_OPEN_FAILED = -81;
    static constexpr std::int32_t FORMAT_ERROR = -82;
    static constexpr std::int32_t DATA_MISMATCH = -83;
    static constexpr std::int32_t FILE_WRITE_FAILED = -84;

    FileTools();
    ~FileTools();
    FileTools(FileTools&&) noexcept;
    FileTools& operator=(FileTools&&) noexcept;

    // --- Tokenizer and statement reader (ParseTools.cpp) ---

    // Starts counting lines and columns afresh for the text in `in` and skips a UTF-8 byte-order
    // mark at its start. The file readers call it; the tokenizer also starts afresh by itself
    // when it is handed another stream than before.
    void BeginText(std::istream& in);
    // The position of the stream is no longer known (it was moved by seeking): errors from here
    // on carry none, until the next BeginText.
    void ForgetPosition();
    // Gives an error raised without a position the position of the statement read last: its
    // keyword, its bare word, or the end tag or end of input it met. Errors that the tokenizer and
    // the typed readers raise carry their position already.
    void Locate(Error& error) const;

    // The next token; empty at the end of input. Comments are skipped.
    std::string NextToken(std::istream& in);
    // The stream is positioned just after "/*"; leaves it after the matching "*/".
    void SkipComment(std::istream& in);

    // Reads one statement. blockdef names the open block (empty at top level) and is matched by
    // the end tag. With continuation set the opening "[" (or the previous item of the same
    // bracket) has been consumed and the next keyword of that bracket is read. Format-version
    // lines are checked and skipped.
    Statement ReadStatement(std::string_view blockdef, std::istream& in, bool continuation = false);
    // The same, refilling out so that a loop over many statements reuses its text buffers.
    // blockdef must not refer to out's own text.
    void ReadStatement(std::string_view blockdef, std::istream& in, bool continuation,
                       Statement& out);

    // Requires a Tag whose keyword equals name (any Tag when name is empty); returns the keyword,
    // which the caller passes on as blockdef of the block's statements.
    std::string ExpectBlockStart(const Statement& st, std::istream& in, std::string_view name = {});
    void ExpectEndTag(const Statement& st, std::istream& in);
    // Require an Assignment with the given keyword and convert its value.
    std::string ExpectStringStatement(const Statement& st, std::istream& in, std::string_view name);
    std::int32_t ExpectIntegerStatement(const Statement& st, std::istream& in,
                                        std::string_view name);
    double ExpectNumberStatement(const Statement& st, std::istream& in, std::string_view name);
    // Requires a bare Token and converts it.
    double ExpectNumberToken(const Statement& st, std::istream& in);

    // Decimal integer at the start of text (leading white space and sign allowed, the rest
    // ignored). "integer-expected" when there is none, "integer-out-of-range" beyond 32 bits.
    std::int32_t ParseInteger(std::istream& in, std::string_view text);
    // Decimal or hexadecimal ("0x1.8p3") number at the start of text, converted independently of
    // the locale (the rest ignored). "number-expected" when there is none, "number-out-of-range"
    // when its digits do not fit a finite double; values too small to represent become zero.
    // The words "inf", "infinity" and "nan" (any case, signed) are read as such.
    double ParseNumber(std::istream& in, std::string_view text);
    // The quick way to the next value of a Data block: `buf` is `in`'s buffer. When the next
    // statement is a plain word lying wholly in the buffer, parses it as
    // ExpectNumberToken(ReadStatement(...)) would, leaving the stream where that would, and
    // returns true. Otherwise consumes nothing and returns false.
    bool ReadPlainNumber(TScanFileBuf& buf, std::istream& in, double& value);

    // --- Statement writers (ParseTools.cpp) ---
    // bracket false writes the bare inline form used inside a bracket (no line end). Every line
    // end flushes the stream. Numbers are written independently of the locale.

    void WriteStatement(StatementKind kind, std::string_view keyword, std::string_view value,
                        std::ostream& out, bool bracket);
    void WriteFormatVersion(std::ostream& out);
    void WriteBlockStart(std::ostream& out, std::string_view name, bool bracket = true);
    // Writes nothing when name is empty.
    void WriteEndTag(std::ostream& out, std::string_view name);
    void WriteStringStatement(std::ostream& out, std::string_view name, std::string_view value,
                              bool bracket = true);
    void WriteIntegerStatement(std::ostream& out, std::string_view name, std::int32_t value,
                               bool bracket = true);
    // The value in fixed notation with precision digits after the point.
    void WriteNumberStatement(std::ostream& out, std::string_view name, double value, int precision,
                              bool bracket = true);
    void WriteNewLine(std::ostream& out);

    // --- Network files (NetworkFile.cpp, see NetworkFile.h) ---

    // The network described by the file or stream; the caller owns it. error, when given, is
    // released on entry and never filled. Faults in the text throw Error.
    std::unique_ptr<TBasicNetwork> ReadNetworkFile(const char* file, TKQstructure* error = nullptr);
    std::unique_ptr<TBasicNetwork> ReadNetwork(std::istream& in, TKQstructure* error = nullptr);
    // Writes network in the network file format; error is treated as by the readers. A file that
    // cannot be created or written throws Error.
    void WriteNetworkFile(const char* file, TBasicNetwork* network, TKQstructure* error = nullptr);
    void WriteNetwork(std::ostream& out, TBasicNetwork* network, TKQstructure* error = nullptr);

    // --- Data set files (Filer.cpp; include FileHandler/Filer.h to use them) ---
    // Readers hand new data sets to the caller through the unique_ptr outputs; a data set is
    // stored there as soon as it is created, so it stays with the caller when an error is thrown.
    // The error structure arguments are accepted for compatibility and released unread.

    std::int32_t LoadDataSet(const char* file, std::unique_ptr<Data>& out);
    std::int32_t ReadDataSetFile(const char* file, std::unique_ptr<Data>& first,
                                 std::unique_ptr<Data>& second,
                                 std::unique_ptr<TKQstructure> error = nullptr);
    // Which rows of a data set file to keep, told the row count of the file's header: positions
    // from 0 in file order, ascending, each below that count.
    using TRowSelector = std::function<std::vector<int>(std::int32_t rows)>;
    // As LoadDataSet and ReadDataSetFile, keeping only the rows `select` names (all when it is
    // empty), in file order: the data sets hold that many rows and no more. Reading stops after
    // the last selected row unless it is the file's last, so a fault further on is not seen.
    // fileRows, when given, receives the header's row count once the header is read.
    std::int32_t LoadDataSetRows(const char* file, const TRowSelector& select,
                                 std::unique_ptr<Data>& out, std::int32_t* fileRows = nullptr);
    std::int32_t ReadDataSetRows(const char* file, const TRowSelector& select,
                                 std::unique_ptr<Data>& first, std::unique_ptr<Data>& second,
                                 std::int32_t* fileRows = nullptr);
    // Reads the header statements after the DataSet tag. last receives the statement that ended
    // the header. Counts given as "Labels" are -1; rows stays -1 when no Rows statement is read.
    std::int32_t ReadDataSetHeader(std::istream& in, std::int32_t& inputs,
                                   std::int32_t& expectedOutputs, std::int32_t& generatedOutputs,
                                   std::int32_t& errors, std::int32_t& rows, Statement& last);
    TLabelList ReadLabelList(std::istream& in);
    // offset is the byte position of the first row to read, counted from just after the Data
    // tag; on success it is moved past the rows read. count must not exceed the rows left.
    std::int32_t LoadDataSetChunk(const char* file, long& offset, std::int32_t count,
                                  std::unique_ptr<Data>& first);
    std::int32_t ReadDataSetChunk(const char* file, long& offset, std::int32_t count,
                                  std::unique_ptr<Data>& first, std::unique_ptr<Data>& second);

    // The writers return FILE_WRITE_FAILED when the file cannot be created or written. The rows
    // of a data set are written oldest first.
    std::int32_t WriteDataSetFile(const char* file, Data* first, Data* second,
                                  std::unique_ptr<TKQstructure> error = nullptr);
    std::int32_t WriteDataSetHeader(const char* file, std::int32_t inputs,
                                    std::int32_t expectedOutputs, std::int32_t generatedOutputs,
                                    std::int32_t errors, std::int32_t rows);
    std::int32_t WriteDataSetRows(const char* file, Data* first, Data* second,
                                  std::unique_ptr<TKQstructure> error = nullptr);
    std::int32_t WriteDataSetTrailer(const char* file);
    // The same text written to a stream the caller opened (a file, a pipe, standard output);
    // FILE_WRITE_FAILED when the stream fails.
    std::int32_t WriteDataSet(std::ostream& out, Data* first, Data* second);
    std::int32_t WriteDataSetHeader(std::ostream& out, std::int32_t inputs,
                                    std::int32_t expectedOutputs, std::int32_t generatedOutputs,
                                    std::int32_t errors, std::int32_t rows);
    std::int32_t WriteDataSetRows(std::ostream& out, Data* first, Data* second);
    std::int32_t WriteDataSetTrailer(std::ostream& out);
    // A null list is written as an empty one.
    void WriteLabelList(std::ostream& out, const TLabelList* list);
    // (data :rows R :inputs I :actual-outputs O :calc-outputs G :errors E), (network), or an
    // error report (file-read-error, bad-header, or unknown-header with :header NAME).
    std::unique_ptr<TKQstructure> ProbeFileHeader(const char* file);

  private:
    // The tokenizer's reading state: its scratch buffer, the reading position and where the last
    // token and statement began (FileHandler/Tokenizer.h, private to this module).
    struct Tokenizer;
    std::unique_ptr<Tokenizer> tokenizer;
};

// The system's reason why file cannot be opened for reading, as strerror gives it ("No such file
// or directory", "Permission denied", "Is a directory").
std::string OpenFailureReason(const char* file);

}  // namespace synapsor
