#include "MLP/Tool/CsvTable.h"

#include <csv.h>

#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

// libcsv trims blanks around unquoted fields; a tab is a blank only when it is not the delimiter.
int IsBlank(unsigned char c) {
    return c == ' ' || c == '\t';
}
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

struct Collector {
    std::vector<std::string> fields;
    std::vector<std::vector<std::string>> records;
};

void OnField(void* text, std::size_t length, void* data) {
    auto& c = *static_cast<Collector*>(data);
    c.fields.emplace_back(text ? static_cast<const char*>(text) : "", text ? length : 0);
}

void OnRecord(int, void* data) {
    auto& c = *static_cast<Collector*>(data);
    c.records.push_back(std::move(c.fields));
    c.fields.clear();
}

std::string Row(const std::string& file, long record) {
    return file + ", row " + std::to_string(record);
}

}  // namespace

std::optional<std::size_t> CsvTable::Find(std::string_view name) const {
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == name)
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
    if (text.substr(0, 3) == "\xEF\xBB\xBF")
        text.remove_prefix(3);
    CsvTable table;
    table.file = file;
    table.delimiter = options.delimiter != 0 ? options.delimiter : DetectDelimiter(text);

    csv_parser parser;
    if (csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_APPEND_NULL) != 0)
        throw ToolError("out of memory");
    csv_set_delim(&parser, static_cast<unsigned char>(table.delimiter));
    csv_set_space_func(&parser, table.delimiter == '\t' ? IsSpaceOnly : IsBlank);
    Collector collected;
    const std::size_t parsed =
        csv_parse(&parser, text.data(), text.size(), OnField, OnRecord, &collected);
    const bool failed =
        parsed != text.size() || csv_fini(&parser, OnField, OnRecord, &collected) != 0;
    const int code = csv_error(&parser);
    csv_free(&parser);
    if (failed) {
        const long record = static_cast<long>(collected.records.size()) + 1;
        if (code == CSV_EPARSE) {
            throw ToolError(Row(file, record) +
                            ": a quote is out of place (a quoted field must be closed, and quotes "
                            "inside it doubled)");
        }
        throw ToolError(file + ": " + csv_strerror(code));
    }

    auto& records = collected.records;
    if (records.empty())
        throw ToolError(file + ": empty file" + (options.header ? ", no header row" : ""));
    std::size_t first = 0;
    const std::size_t width = records[0].size();
    if (options.header) {
        table.names = std::move(records[0]);
        for (std::size_t i = 0; i < table.names.size(); ++i) {
            if (table.names[i].empty())
                table.names[i] = std::to_string(i);
        }
        first = 1;
    } else {
        for (std::size_t i = 0; i < width; ++i)
            table.names.push_back(std::to_string(i));
    }
    for (std::size_t r = first; r < records.size(); ++r) {
        const long record = static_cast<long>(r) + 1;
        std::vector<std::string>& fields = records[r];
        // A line of blanks only comes through as one empty field.
        if (fields.size() == 1 && fields[0].empty() && width > 1)
            continue;
        if (fields.size() != width) {
            throw ToolError(Row(file, record) + ": " + std::to_string(fields.size()) +
                            (fields.size() == 1 ? " field" : " fields") + ", but " +
                            (options.header ? "the header has " : "row 1 has ") +
                            std::to_string(width));
        }
        table.rows.push_back(std::move(fields));
        table.records.push_back(record);
    }
    if (table.rows.empty())
        throw ToolError(file + ": the header row is followed by no rows");
    return table;
}

CsvTable ReadCsvFile(const std::string& file, const CsvOptions& options,
                     std::istream& stdinStream) {
    std::string text;
    if (file == "-") {
        text.assign(std::istreambuf_iterator<char>(stdinStream), std::istreambuf_iterator<char>());
        return ParseCsv(text, "standard input", options);
    }
    std::error_code ec;
    std::ifstream in;
    // A directory opens as a stream here but cannot be read.
    if (!std::filesystem::is_directory(file, ec))
        in.open(file, std::ios::binary);
    if (!in.is_open())
        throw ToolError("cannot open CSV file " + file);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        throw ToolError("cannot read CSV file " + file);
    return ParseCsv(buffer.str(), file, options);
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
