#include "MLP/Tool/CsvTable.h"

#include <csv.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <new>

#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

// libcsv trims blanks around unquoted fields; a tab is a blank only when it is not the delimiter.
int IsSpaceOnly(unsigned char c) {
    return c == ' ';
}

// The delimiter used most often outside quotes in the first record; "," when none occurs.
char DetectDelimiter(std::string_view text) {
    const char candidates[] = {',', ';', '\t'};
    std::size_t counts[3] = {0, 0, 0};
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && (c == '\n' || c == '\r')) {
            break;
        } else if (!quoted) {
            for (int k = 0; k < 3; ++k)
                counts[k] += c == candidates[k];
        }
    }
    int best = 0;
    for (int k = 1; k < 3; ++k) {
        if (counts[k] > counts[best])
            best = k;
    }
    return candidates[best];
}

// Fields of the record being parsed, one after the other in one buffer that is reused: no
// string per field. The reader gets views of them when the record ends.
struct Fields {
    std::string text;
    std::vector<std::size_t> ends;
    std::vector<std::string_view> views;
    std::function<void(const std::vector<std::string_view>&)> onRecord;
};

void OnField(void* text, std::size_t length, void* data) {
    auto& f = *static_cast<Fields*>(data);
    if (text != nullptr)
        f.text.append(static_cast<const char*>(text), length);
    f.ends.push_back(f.text.size());
}

void OnRecordEnd(int, void* data) {
    auto& f = *static_cast<Fields*>(data);
    f.views.clear();
    std::size_t begin = 0;
    for (const std::size_t end : f.ends) {
        f.views.emplace_back(f.text.data() + begin, end - begin);
        begin = end;
    }
    f.onRecord(f.views);
    f.text.clear();
    f.ends.clear();
}

std::string Row(const std::string& file, long record) {
    return file + ", row " + std::to_string(record);
}

// The position of the first line end outside quotes, or npos.
std::size_t FirstLineEnd(std::string_view text) {
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '"')
            quoted = !quoted;
        else if (!quoted && (text[i] == '\n' || text[i] == '\r'))
            return i;
    }
    return std::string_view::npos;
}

}  // namespace

struct CsvReader::State {
    csv_parser parser;
    Fields fields;
};

CsvReader::CsvReader(const std::string& file, const CsvOptions& options, HeaderFn onHeader,
                     RowFn onRow)
    : options(options), onHeader(std::move(onHeader)), onRow(std::move(onRow)) {
    header.file = file;
}

CsvReader::~CsvReader() {
    if (started)
        csv_free(&state->parser);
}

void CsvReader::Feed(std::string_view text) {
    if (!bomChecked) {
        // The mark may arrive split over pieces: hold the first three bytes.
        pending.append(text);
        if (pending.size() < 3 &&
            std::string_view("\xEF\xBB\xBF").substr(0, pending.size()) == pending)
            return;
        bomChecked = true;
        if (pending.compare(0, 3, "\xEF\xBB\xBF") == 0)
            pending.erase(0, 3);
        const std::string first = std::move(pending);
        pending.clear();
        Feed(first);
        return;
    }
    if (started) {
        Parse(text);
        return;
    }
    // The delimiter is detected from the first record: hold the text until its line end.
    pending.append(text);
    if (options.delimiter != 0 || FirstLineEnd(pending) != std::string_view::npos) {
        const std::string first = std::move(pending);
        pending.clear();
        Start(first);
    }
}

void CsvReader::Start(std::string_view text) {
    header.delimiter = options.delimiter != 0 ? options.delimiter : DetectDelimiter(text);
    state = std::make_unique<State>();
    if (csv_init(&state->parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0)
        throw std::bad_alloc();
    started = true;
    csv_set_delim(&state->parser, static_cast<unsigned char>(header.delimiter));
    // libcsv's own test (space or tab) is inlined; a function is called for every byte.
    if (header.delimiter == '\t')
        csv_set_space_func(&state->parser, IsSpaceOnly);
    state->fields.onRecord = [this](const std::vector<std::string_view>& f) { OnRecord(f); };
    Parse(text);
}

void CsvReader::Parse(std::string_view text) {
    if (text.empty())
        return;
    const std::size_t parsed =
        csv_parse(&state->parser, text.data(), text.size(), OnField, OnRecordEnd, &state->fields);
    if (parsed != text.size()) {
        if (csv_error(&state->parser) == CSV_EPARSE) {
            throw ToolError(Row(header.file, records + 1) +
                            ": a quote is out of place (a quoted field must be closed, and quotes "
                            "inside it doubled)");
        }
        throw ToolError(header.file + ": " + csv_strerror(csv_error(&state->parser)));
    }
}

void CsvReader::ReadAll(std::istream& in) {
    std::vector<char> buffer(std::size_t{1} << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        Feed(std::string_view(buffer.data(), static_cast<std::size_t>(in.gcount())));
    }
    if (in.bad())
        throw ToolError("cannot read CSV file " + header.file);
    Finish();
}

void CsvReader::Finish() {
    bomChecked = true;  // a part of the mark alone is text
    if (!started) {
        const std::string first = std::move(pending);
        pending.clear();
        Start(first);
    }
    if (csv_fini(&state->parser, OnField, OnRecordEnd, &state->fields) != 0) {
        if (csv_error(&state->parser) == CSV_EPARSE) {
            throw ToolError(Row(header.file, records + 1) +
                            ": a quote is out of place (a quoted field must be closed, and quotes "
                            "inside it doubled)");
        }
        throw ToolError(header.file + ": " + csv_strerror(csv_error(&state->parser)));
    }
    if (records == 0)
        throw ToolError(header.file + ": empty file" + (options.header ? ", no header row" : ""));
    if (rows == 0)
        throw ToolError(header.file + ": the header row is followed by no rows");
}

void CsvReader::OnRecord(const std::vector<std::string_view>& fields) {
    const long record = ++records;
    if (!headerDone) {
        headerDone = true;
        const std::size_t width = fields.size();
        if (options.header) {
            header.names.assign(fields.begin(), fields.end());
            header.given.assign(width, true);
            for (std::size_t i = 0; i < width; ++i) {
                if (header.names[i].empty()) {
                    header.names[i] = std::to_string(i);
                    header.given[i] = false;
                }
            }
            for (std::size_t i = 0; i < width; ++i) {
                for (std::size_t j = i + 1; j < width; ++j) {
                    if (header.names[i] != header.names[j])
                        continue;
                    throw ToolError(header.file + ": the header names two columns " +
                                    QuotedForMessage(header.names[i]) + " (columns " +
                                    std::to_string(i) + " and " + std::to_string(j) + " from 0" +
                                    (header.given[i] && header.given[j]
                                         ? ""
                                         : "; an empty header cell is named by its index") +
                                    "): rename one");
                }
            }
        } else {
            for (std::size_t i = 0; i < width; ++i)
                header.names.push_back(std::to_string(i));
            header.given.assign(width, false);
        }
        if (onHeader)
            onHeader(header);
        if (options.header)
            return;
    }
    const std::size_t width = header.names.size();
    // A line of blanks only comes through as one empty field.
    if (fields.size() == 1 && fields[0].empty() && width > 1)
        return;
    if (fields.size() != width) {
        throw ToolError(Row(header.file, record) + ": " + std::to_string(fields.size()) +
                        (fields.size() == 1 ? " field" : " fields") + ", but " +
                        (options.header ? "the header has " : "row 1 has ") +
                        std::to_string(width));
    }
    ++rows;
    onRow(fields, record);
}

std::optional<std::size_t> CsvTable::Find(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name && (i >= given.size() || given[i]))
            return i;
    }
    std::size_t index = 0;
    const char* end = name.data() + name.size();
    const auto [ptr, ec] = std::from_chars(name.data(), end, index);
    if (!name.empty() && ec == std::errc() && ptr == end && index < names.size())
        return index;
    return std::nullopt;
}

CsvTable ParseCsv(std::string_view text, const std::string& file, const CsvOptions& options) {
    CsvTable table;
    CsvReader reader(
        file, options, [&](const CsvTable& header) { table = header; },
        [&](const std::vector<std::string_view>& fields, long record) {
            table.rows.emplace_back(fields.begin(), fields.end());
            table.records.push_back(record);
        });
    reader.Feed(text);
    reader.Finish();
    return table;
}

void ReadCsvRecords(const std::string& file, const CsvOptions& options, std::istream& stdinStream,
                    const CsvReader::HeaderFn& onHeader, const CsvReader::RowFn& onRow) {
    if (file == "-") {
        CsvReader reader("standard input", options, onHeader, onRow);
        reader.ReadAll(stdinStream);
        return;
    }
    std::error_code ec;
    std::ifstream in;
    // A directory opens as a stream here but cannot be read.
    if (!std::filesystem::is_directory(file, ec))
        in.open(file, std::ios::binary);
    if (!in.is_open())
        throw ToolError("cannot open CSV file " + file);
    CsvReader reader(file, options, onHeader, onRow);
    reader.ReadAll(in);
}

CsvTable ReadCsvFile(const std::string& file, const CsvOptions& options,
                     std::istream& stdinStream) {
    CsvTable table;
    ReadCsvRecords(
        file, options, stdinStream, [&](const CsvTable& header) { table = header; },
        [&](const std::vector<std::string_view>& fields, long record) {
            table.rows.emplace_back(fields.begin(), fields.end());
            table.records.push_back(record);
        });
    return table;
}

std::string QuotedForMessage(std::string_view text) {
    constexpr std::size_t kShown = 40;
    std::size_t shown = std::min(text.size(), kShown);
    // Cut before a UTF-8 continuation byte, not inside a character.
    while (shown < text.size() && shown > 0 &&
           (static_cast<unsigned char>(text[shown]) & 0xC0) == 0x80)
        --shown;
    static const char kHex[] = "0123456789ABCDEF";
    std::string quoted = "\"";
    for (const char ch : text.substr(0, shown)) {
        const auto c = static_cast<unsigned char>(ch);
        if (ch == '\n') {
            quoted += "\\n";
        } else if (ch == '\r') {
            quoted += "\\r";
        } else if (ch == '\t') {
            quoted += "\\t";
        } else if (c < 32 || c == 127) {
            quoted += "\\x";
            quoted += kHex[c >> 4];
            quoted += kHex[c & 15];
        } else {
            quoted += ch;
        }
    }
    return quoted + (shown < text.size() ? "...\"" : "\"");
}

std::optional<double> ParseCell(std::string_view cell) {
    while (!cell.empty() && (cell.front() == ' ' || cell.front() == '\t'))
        cell.remove_prefix(1);
    while (!cell.empty() && (cell.back() == ' ' || cell.back() == '\t'))
        cell.remove_suffix(1);
    if (!cell.empty() && cell.front() == '+')
        cell.remove_prefix(1);
    if (cell.empty())
        return std::nullopt;
    double value = 0.0;
    const char* end = cell.data() + cell.size();
    const auto [ptr, ec] = std::from_chars(cell.data(), end, value);
    if (ec != std::errc() || ptr != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::string CsvField(std::string_view text, char delimiter) {
    // libcsv trims blanks around unquoted fields when reading: keep them inside quotes.
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    bool plain = text.empty() || (!blank(text.front()) && !blank(text.back()));
    for (const char c : text) {
        if (c == delimiter || c == '"' || c == '\n' || c == '\r')
            plain = false;
    }
    if (plain)
        return std::string(text);
    std::string quoted(text.size() * 2 + 2, '\0');
    quoted.resize(csv_write(quoted.data(), quoted.size(), text.data(), text.size()));
    return quoted;
}

std::string FormatNumber(double value) {
    char text[32];
    const auto [ptr, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, ptr) : std::string("nan");
}

std::string FormatNumber(float value) {
    char text[32];
    const auto [ptr, ec] = std::to_chars(text, text + sizeof text, value);
    return ec == std::errc() ? std::string(text, ptr) : std::string("nan");
}

}  // namespace synapsor
