#include "MLP/Tool/Import.h"

#include <sys/mman.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <unordered_map>

#include "FileHandler/ParseTools.h"
#include "MLP/Common/OutputSet.h"
#include "MLP/Tool/Create.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

// Longest word the data set and preparation syntax carries, as written (percent-encoded): the
// tokenizer refuses longer words when the file is read back.
constexpr std::size_t kMaxWord = 1000;
// The largest magnitude that reads back finite from a data set file, whose values are written
// with 15 significant digits: 1.7976931348623157e308 would be written as 1.79769313486232e+308.
constexpr double kMaxWritable = 1.79769313486231e308;

double Bits(std::uint64_t bits) {
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
std::uint64_t BitsOf(double value) {
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

}  // namespace

char* FormatValue15(char* out, double value) {
    // The library's text, for what the fast way does not cover.
    const auto precise = [&] {
        return std::to_chars(out, out + 32, value, std::chars_format::general, 15).ptr;
    };
    static const double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    const double a = std::fabs(value);
    if (!std::isnormal(a) || a < 1e-8 || a >= 1e15)
        return precise();
    // The value times a power of ten (exact: 10^22 and below are doubles) lies in [1e14, 1e15]
    // when exponent is the value's decimal exponent.
    // The decimal exponent from the binary one (log10(2) = 0.30103); the loop corrects it by one.
    int binary = 0;
    std::frexp(a, &binary);
    int exponent = static_cast<int>(std::floor((binary - 1) * 0.30102999566398120));
    double scaled = 0.0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (14 - exponent < 0 || 14 - exponent > 22)
            return precise();
        scaled = a * kPowers[14 - exponent];
        if (scaled < 1e14)
            --exponent;
        else if (scaled > 1e15)
            ++exponent;
        else
            break;
    }
    if (scaled < 1e14 || scaled > 1e15)
        return precise();
    const double power = kPowers[14 - exponent];
    // scaled is the product rounded; error what the rounding lost, exactly. Above 2^46 a double
    // is a multiple of 1/64, so scaled's distance to the half-way point is 0 or at least 1/64,
    // more than error can be: only an exact half-way product needs error, or the library.
    const double error = std::fma(a, power, -scaled);
    const double whole = std::floor(scaled);
    const double beyondHalf = (scaled - whole) - 0.5;
    bool up = beyondHalf > 0.0;
    if (beyondHalf == 0.0) {
        if (error == 0.0)
            return precise();  // a tie in decimal: left to the library's rule
        up = error > 0.0;
    }
    auto digits = static_cast<std::uint64_t>(whole) + (up ? 1 : 0);
    if (digits == 1000000000000000ULL) {
        digits = 100000000000000ULL;
        ++exponent;
    }
    char text[16];
    std::to_chars(text, text + 15, digits);
    int n = 15;
    while (n > 1 && text[n - 1] == '0')
        --n;
    if (value < 0)
        *out++ = '-';
    if (exponent < -4 || exponent >= 15) {
        *out++ = text[0];
        if (n > 1) {
            *out++ = '.';
            out = std::copy(text + 1, text + n, out);
        }
        *out++ = 'e';
        *out++ = exponent < 0 ? '-' : '+';
        const int magnitude = std::abs(exponent);
        *out++ = static_cast<char>('0' + magnitude / 10);
        *out++ = static_cast<char>('0' + magnitude % 10);
        return out;
    }
    if (exponent < 0) {
        *out++ = '0';
        *out++ = '.';
        out = std::fill_n(out, -exponent - 1, '0');
        return std::copy(text, text + n, out);
    }
    for (int k = 0; k <= exponent; ++k)
        *out++ = k < n ? text[k] : '0';
    if (n > exponent + 1) {
        *out++ = '.';
        out = std::copy(text + exponent + 1, text + n, out);
    }
    return out;
}

namespace {

// A value as the data set writer writes it: 15 significant digits and a blank.
void AppendValue(std::string& line, double value) {
    char text[32];
    char* const end = FormatValue15(text, value);
    line.append(text, end);
    line += ' ';
}

std::string Quoted(std::string_view text) {
    return QuotedForMessage(text);
}

std::string ColumnList(const CsvTable& table) {
    std::string list;
    for (const std::string& name : table.names)
        list += (list.empty() ? "" : ", ") + Quoted(name);
    return list;
}

std::size_t Column(const CsvTable& table, const std::string& name) {
    const std::optional<std::size_t> index = table.Find(name);
    if (!index) {
        throw ToolError(table.file + ": no column " + Quoted(name) + " (the columns are " +
                        ColumnList(table) + "; a column may also be given by its index from 0)");
    }
    return *index;
}

std::string_view Trimmed(std::string_view cell) {
    const std::size_t begin = cell.find_first_not_of(" \t");
    if (begin == std::string_view::npos)
        return std::string_view();
    return cell.substr(begin, cell.find_last_not_of(" \t") - begin + 1);
}

// A cell is kept as one double: the number, or a NaN whose payload says what else it held.
constexpr std::uint64_t kNaN = 0x7FF8000000000000ULL;
constexpr std::uint64_t kEmpty = 1, kNotNumber = 2, kTooLong = 3, kUnknown = 4, kCategory = 16;

double Marked(std::uint64_t mark) {
    return Bits(kNaN | mark);
}
std::uint64_t MarkOf(double cell) {
    return BitsOf(cell) & ~kNaN;
}

struct FreeBlock {
    void operator()(double* block) const { std::free(block); }
};

// Storage for count cells, not cleared, in whole huge pages: the store can take a gigabyte, and
// at 4 KB a page the faults of touching it cost more than a tenth of an import.
double* NewBlock(std::size_t count) {
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    const std::size_t bytes = (count * sizeof(double) + kHugePage - 1) / kHugePage * kHugePage;
    void* block = std::aligned_alloc(kHugePage, bytes);
    if (block == nullptr)
        throw std::bad_alloc();
    madvise(block, bytes, MADV_HUGEPAGE);  // a hint: without it the store is the same
    return static_cast<double*>(block);
}

// Where a table column goes: the preparation column it feeds, and what the pass saw in it.
struct Use {
    explicit Use(std::size_t column, PrepColumn prep = {})
        : column(column), prep(std::move(prep)) {}

    std::size_t column;
    PrepColumn prep;
    bool kindFixed = false;  // the options or the preparation gave the kind
    bool numberSeen = false;
    bool allNumbers = true;                                // every non-empty cell is a number
    bool allIntegers = true;                               // every number is a whole number
    bool overflow = false;                                 // more distinct texts than the limit
    std::unordered_map<std::string, std::uint32_t> index;  // text to category number
    std::vector<std::string> texts;                        // category number to text
    long commaNumbers = 0;     // non-number cells that read as numbers with a decimal comma
    long otherTexts = 0;       // the other non-number, non-empty cells
    std::string firstBad;      // the first non-number cell, quoted for a message
    std::string firstUnknown;  // the first category the preparation does not know, quoted
};

}  // namespace

// One pass over the rows keeps each used cell as a double; the rest works on that store.
class Importer {
  public:
    explicit Importer(const ImportOptions& options) : options(options) {}

    void Header(const CsvTable& header) {
        table = header;
        if (options.decimalComma && header.delimiter == ',') {
            throw ToolError(header.file +
                            ": --decimal-comma reads \",\" as the decimal point, but \",\" "
                            "separates the fields (give --delimiter)");
        }
        if (options.prep)
            Adopt(*options.prep);
        else
            Choose();
        if (!options.label.empty()) {
            label = Column(table, options.label);
            if (withTargets) {
                throw ToolError(
                    "--label " + options.label +
                    ": a data set file carries row labels in place of expected outputs; import "
                    "the rows without their targets (new data) to label them");
            }
        }
        // About 8 MB per block.
        blockRows = std::max<std::size_t>(
            1, (std::size_t{1} << 20) / std::max<std::size_t>(uses.size(), 1));
        for (const Use& use : uses) {
            if (EncodeWord(use.prep.name).size() > kMaxWord) {
                throw ToolError(table.file + ": the name of column " + std::to_string(use.column) +
                                " is longer than " + std::to_string(kMaxWord) +
                                " bytes as written in a preparation (a byte other than a letter, "
                                "digit or one of . _ - takes three)");
            }
        }
    }

    void Row(const std::vector<std::string_view>& fields, long record) {
        records.push_back(record);
        const std::size_t row = records.size() - 1;
        bool problem = false;      // an earlier cell of this row makes it a missing-value row
        if (row % blockRows == 0)  // not cleared: every cell is written before it is read
            blocks.emplace_back(NewBlock(blockRows * uses.size()));
        double* cells = &Cell(row, 0);
        for (std::size_t u = 0; u < uses.size(); ++u)
            cells[u] = Parse(uses[u], fields[uses[u].column], problem);
        if (label) {
            std::string word = EncodeWord(fields[*label]);
            if (word.size() > kMaxWord) {
                longLabels.push_back(row);
                word.clear();
            }
            labels.push_back(std::move(word));
        }
    }

    void Finish(ImportSummary& summary) {
        for (Use& use : uses) {
            if (!use.kindFixed)
                use.prep.categorical = !use.numberSeen;
            if (use.prep.categorical && use.overflow) {
                throw ToolError(table.file + ": column " + Quoted(use.prep.name) +
                                " holds more than " + std::to_string(options.maxCategories) +
                                " different texts (a text column gives one value per category): "
                                "leave it out with --drop, or raise --max-categories");
            }
            if (!use.kindFixed && !use.prep.categorical)
                use.prep.scale = options.scale;
        }
        const std::vector<std::size_t> rows = CheckedRows();
        if (rows.empty()) {
            std::string hint;
            for (const Use& use : uses) {
                if (hint.empty() && !use.prep.categorical && use.numberSeen == false &&
                    use.prep.role == ColumnRole::Target && !options.prep)
                    hint = " (the --targets column " + Quoted(use.prep.name) + " holds no number" +
                           ClassesHint(use) + ")";
            }
            throw ToolError(table.file + ": no rows left after dropping " +
                            std::to_string(dropped) + " rows with missing values" + hint);
        }
        order = rows;
        if (options.shuffle)
            ShuffleRows(order, options.seed.value_or(0));
        cut = order.size();
        if (options.split < 1.0) {
            cut = SplitPoint(order.size(), options.split);
            if (cut == 0 || cut == order.size()) {
                throw ToolError("--split " + FormatNumber(options.split) + " of " +
                                std::to_string(order.size()) + " rows leaves " +
                                (cut == 0 ? "the first" : "the second") + " data set empty");
            }
        }
        const std::vector<std::size_t> train(order.begin(), order.begin() + cut);
        if (!options.prep) {
            Fit(rows, train);
            WarnAboutColumns(rows.size());
        }
        WarnAboutSplit();
        ScaleCells();
        for (const Use& use : uses)
            summary.prep.columns.push_back(use.prep);
        summary.dropped = dropped;
        summary.rowsRead = static_cast<long>(records.size());
        summary.rows[0] = static_cast<long>(cut);
        summary.rows[1] = static_cast<long>(order.size() - cut);
        summary.inputs = summary.prep.Inputs();
        summary.outputs = summary.prep.Outputs();
        summary.warnings.insert(summary.warnings.end(), warnings.begin(), warnings.end());
        summary.labels = label.has_value();
    }

    // Rows [begin, end) of the order as data set rows.
    template <typename Emit>
    void ForEachRow(std::size_t begin, std::size_t end, Emit&& emit) const {
        int inputs = 0, outputs = 0;
        for (const Use& use : uses)
            (use.prep.role == ColumnRole::Input ? inputs : outputs) += use.prep.Width();
        std::vector<double> in(static_cast<std::size_t>(inputs));
        std::vector<double> out(static_cast<std::size_t>(outputs));
        for (std::size_t k = begin; k < end; ++k) {
            const std::size_t r = order[k];
            std::size_t i = 0, o = 0;
            for (std::size_t u = 0; u < uses.size(); ++u) {
                const Use& use = uses[u];
                std::vector<double>& values = use.prep.role == ColumnRole::Input ? in : out;
                std::size_t& at = use.prep.role == ColumnRole::Input ? i : o;
                const double cell = Cell(r, u);
                if (use.prep.categorical) {
                    const std::uint64_t category = MarkOf(cell) - kCategory;
                    for (int j = 0; j < use.prep.Width(); ++j)
                        values[at++] = static_cast<std::uint64_t>(j) == category ? 1.0 : 0.0;
                } else {
                    values[at++] = cell;
                }
            }
            emit(in, out, label ? &labels[r] : nullptr);
        }
    }

    std::size_t Cut() const { return cut; }
    std::size_t Count() const { return order.size(); }

  private:
    // The stored cell of row r and use u. Rows are kept in blocks that are never moved: a growing
    // vector would copy the store each time it doubles.
    double& Cell(std::size_t r, std::size_t u) const {
        return blocks[r / blockRows][(r % blockRows) * uses.size() + u];
    }

    double Parse(Use& use, std::string_view cell, bool& problem) {
        const std::string_view text = Trimmed(cell);
        if (text.empty()) {
            problem = true;
            return Marked(kEmpty);
        }
        if (!use.prep.categorical || !use.kindFixed) {
            if (const std::optional<double> number = Number(text)) {
                use.numberSeen = true;
                if (*number != std::floor(*number))
                    use.allIntegers = false;
                return *number;
            }
        }
        if (use.prep.categorical && use.kindFixed) {
            if (use.allNumbers && !Number(text))
                use.allNumbers = false;
        } else {
            use.allNumbers = false;
            ++(CommaNumber(text) ? use.commaNumbers : use.otherTexts);
            if (use.firstBad.empty())
                use.firstBad = Quoted(cell);
            if (options.prep || use.numberSeen) {
                // A number column of a preparation, or a column known to hold numbers.
                problem = true;
                return Marked(kNotNumber);
            }
        }
        if (EncodeWord(text).size() > kMaxWord)
            return Marked(kTooLong);
        if (options.prep) {
            const auto known = use.index.find(std::string(text));
            if (known != use.index.end())
                return Marked(kCategory + known->second);
            if (use.firstUnknown.empty() && !problem)
                use.firstUnknown = Quoted(text);
            return Marked(kUnknown);
        }
        return Marked(kCategory + Intern(use, text));
    }

    // A cell as a number, with "," read as the decimal point under --decimal-comma.
    std::optional<double> Number(std::string_view text) const {
        if (!options.decimalComma || text.find(',') == std::string_view::npos)
            return ParseCell(text);
        std::string dotted(text);
        for (char& c : dotted) {
            if (c == ',')
                c = '.';
        }
        return ParseCell(dotted);
    }

    // "12,5": a number written with a decimal comma (one comma, digits on both sides).
    static bool CommaNumber(std::string_view text) {
        const std::size_t comma = text.find(',');
        if (comma == std::string_view::npos || comma == 0 || comma + 1 == text.size() ||
            text.find(',', comma + 1) != std::string_view::npos ||
            !std::isdigit(static_cast<unsigned char>(text[comma - 1])) ||
            !std::isdigit(static_cast<unsigned char>(text[comma + 1])))
            return false;
        std::string dotted(text);
        dotted[comma] = '.';
        return ParseCell(dotted).has_value();
    }

    std::uint64_t Intern(Use& use, std::string_view text) {
        if (use.overflow)
            return 0;
        const auto [at, added] =
            use.index.emplace(std::string(text), static_cast<std::uint32_t>(use.texts.size()));
        if (added) {
            if (use.texts.size() >= options.maxCategories) {
                // Counting stops here: the column is refused if it ends up a text column.
                use.overflow = true;
                use.index.clear();
                use.texts.clear();
                return 0;
            }
            use.texts.push_back(at->first);
        }
        return at->second;
    }

    // The columns and their roles from the options; kinds are decided after the pass.
    void Choose() {
        std::vector<bool> taken(table.names.size(), false);
        auto take = [&](const std::string& name, const char* why) {
            const std::size_t c = Column(table, name);
            if (taken[c])
                throw ToolError("column " + Quoted(table.names[c]) + " is used twice (" + why +
                                ")");
            taken[c] = true;
            return c;
        };
        std::vector<Use> targets;
        if (!options.classes.empty()) {
            Use use(take(options.classes, "--classes"));
            use.prep.role = ColumnRole::Target;
            use.prep.categorical = true;
            use.kindFixed = true;
            targets.push_back(std::move(use));
        }
        for (const std::string& name : options.targets) {
            Use use(take(name, "--targets"));
            use.prep.role = ColumnRole::Target;
            use.prep.scale =
                options.scale == ColumnScale::None ? ColumnScale::None : ColumnScale::MinMax;
            use.kindFixed = true;
            targets.push_back(std::move(use));
        }
        if (!options.label.empty())
            take(options.label, "--label");
        for (const std::string& name : options.drop)
            take(name, "--drop");
        std::vector<std::size_t> inputs;
        if (!options.inputs.empty()) {
            for (const std::string& name : options.inputs)
                inputs.push_back(take(name, "--inputs"));
        } else {
            for (std::size_t c = 0; c < table.names.size(); ++c) {
                if (!taken[c])
                    inputs.push_back(c);
            }
        }
        if (inputs.empty())
            throw ToolError(table.file + ": no input columns are left");
        for (const std::size_t c : inputs)
            uses.emplace_back(c);
        for (Use& use : targets)
            uses.push_back(std::move(use));
        for (Use& use : uses)
            use.prep.name = table.names[use.column];
        withTargets = !targets.empty();
    }

    // The columns of a saved preparation, matched by name. Targets may be missing (new data).
    void Adopt(const Preparation& prep) {
        std::size_t targets = 0, found = 0;
        std::string missingTarget;
        for (const PrepColumn& column : prep.columns) {
            const std::optional<std::size_t> c = table.Find(column.name);
            bool dropped = false;
            for (const std::string& name : options.drop)
                dropped = dropped || name == column.name;
            if (column.role == ColumnRole::Target) {
                ++targets;
                if (!c || dropped) {
                    missingTarget = column.name;
                    continue;
                }
                ++found;
            } else if (!c) {
                throw ToolError(table.file + ": no column " + Quoted(column.name) +
                                ", an input of the preparation " + options.prepFile);
            }
            Use use(*c, column);
            use.kindFixed = true;
            for (std::size_t k = 0; k < column.categories.size(); ++k)
                use.index.emplace(column.categories[k], static_cast<std::uint32_t>(k));
            uses.push_back(std::move(use));
        }
        if (found != 0 && found != targets) {
            throw ToolError(table.file + ": the target column " + Quoted(missingTarget) +
                            " of the preparation " + options.prepFile +
                            " is missing while other targets are present");
        }
        withTargets = found != 0;
    }

    // The rows whose used cells all hold what their columns need; bad rows are refused or
    // dropped. An unknown category in a row that is kept is always an error: no preparation can
    // place it. A row dropped for a bad cell needs no place, whichever column comes first, so
    // that a preparation applies to the rows it was fitted on.
    std::vector<std::size_t> CheckedRows() {
        std::vector<std::size_t> rows;
        std::size_t nextLong = 0;
        for (std::size_t r = 0; r < records.size(); ++r) {
            bool good = true;
            const Use* unknown = nullptr;
            for (std::size_t u = 0; u < uses.size(); ++u) {
                const Use& use = uses[u];
                const double cell = Cell(r, u);
                std::string problem;
                if (use.prep.categorical) {
                    const std::uint64_t mark = MarkOf(cell);
                    if (mark == kEmpty) {
                        problem = "the cell is empty";
                    } else if (mark == kTooLong) {
                        Fail(r, use.column,
                             "the category is longer than " + std::to_string(kMaxWord) +
                                 " bytes as written in a data set (a byte other than a letter, "
                                 "digit or one of . _ - takes three)");
                    } else if (mark == kUnknown) {
                        if (!options.dropMissing)
                            FailUnknown(r, use);
                        unknown = unknown ? unknown : &use;
                    }
                } else if (!std::isfinite(cell)) {
                    problem = MarkOf(cell) == kEmpty ? std::string("the cell is empty")
                                                     : use.firstBad + " is not a finite number";
                }
                if (!problem.empty()) {
                    if (!options.dropMissing)
                        Fail(r, use.column, problem + MissingHint(use));
                    good = false;
                    break;
                }
            }
            if (nextLong < longLabels.size() && longLabels[nextLong] == r) {
                ++nextLong;
                Fail(r, *label,
                     "the label is longer than " + std::to_string(kMaxWord) +
                         " bytes as written in a data set (a byte other than a letter, digit or "
                         "one of . _ - takes three)");
            }
            if (good && unknown)
                FailUnknown(r, *unknown);
            if (good)
                rows.push_back(r);
            else
                ++dropped;
        }
        return rows;
    }

    [[noreturn]] void FailUnknown(std::size_t row, const Use& use) const {
        Fail(row, use.column,
             "category " + use.firstUnknown + " does not occur in the preparation " +
                 options.prepFile);
    }

    // The hint on a missing value: dropping such rows does not help when the column holds no
    // number at all, or numbers with a decimal comma.
    std::string MissingHint(const Use& use) const {
        if (use.commaNumbers > 0 && use.otherTexts == 0 && !options.decimalComma)
            return " (numbers with a decimal comma? give --decimal-comma)";
        if (!use.numberSeen && use.prep.role == ColumnRole::Target && !options.prep)
            return " (the --targets column holds no number" + ClassesHint(use) + ")";
        return " (--missing drop drops such rows)";
    }

    // For a target column of texts: the suggestion to make it a class column.
    std::string ClassesHint(const Use& use) const {
        std::string hint;
        if (use.texts.size() == 2)
            hint = ", only " + Quoted(use.texts[0]) + " and " + Quoted(use.texts[1]);
        return hint + "; for classes give --classes " + use.prep.name;
    }

    // Categories in order of first appearance in the kept rows: a category seen only in dropped
    // rows is no category.
    void Renumber(const std::vector<std::size_t>& rows) {
        for (std::size_t u = 0; u < uses.size(); ++u) {
            Use& use = uses[u];
            if (!use.prep.categorical)
                continue;
            std::vector<std::uint32_t> renumbered(use.texts.size(), ~0U);
            for (const std::size_t r : rows) {
                double& cell = Cell(r, u);
                const std::uint64_t k = MarkOf(cell) - kCategory;
                if (renumbered[k] == ~0U) {
                    renumbered[k] = static_cast<std::uint32_t>(use.prep.categories.size());
                    use.prep.categories.push_back(use.texts[k]);
                }
                cell = Marked(kCategory + renumbered[k]);
            }
        }
    }

    // Categories from every kept row in file order; scaling constants from the training rows.
    void Fit(const std::vector<std::size_t>& rows, const std::vector<std::size_t>& train) {
        Renumber(rows);
        // Row by row over all columns at once: the store is row-major, and a pass per column
        // would read all of it once per column. Each column's sums keep the order of the rows.
        const std::size_t n = uses.size();
        std::vector<double> lo(n), hi(n), sum(n), squares(n);
        std::vector<std::size_t> scaled;
        for (std::size_t u = 0; u < n; ++u) {
            if (!uses[u].prep.categorical && uses[u].prep.scale != ColumnScale::None)
                scaled.push_back(u);
        }
        for (std::size_t k = 0; k < train.size(); ++k) {
            const double* cells = &Cell(train[k], 0);
            for (const std::size_t u : scaled) {
                const double v = cells[u];
                lo[u] = k == 0 ? v : std::min(lo[u], v);
                hi[u] = k == 0 ? v : std::max(hi[u], v);
                sum[u] += v;
            }
        }
        const auto count = static_cast<double>(train.size());
        for (const std::size_t r : train) {
            const double* cells = &Cell(r, 0);
            for (const std::size_t u : scaled) {
                if (uses[u].prep.scale != ColumnScale::ZScore)
                    continue;
                const double d = cells[u] - sum[u] / count;
                squares[u] += d * d;
            }
        }
        for (const std::size_t u : scaled) {
            PrepColumn& p = uses[u].prep;
            if (p.scale == ColumnScale::MinMax) {
                p.first = lo[u];
                p.second = hi[u];
            } else {
                p.first = sum[u] / count;
                p.second = std::sqrt(squares[u] / count);
            }
            // A range or deviation beyond the doubles scales every value to 0 or nan.
            if (!std::isfinite(p.second - p.first) || !std::isfinite(p.second)) {
                throw ToolError(table.file + ": column " + Quoted(p.name) +
                                " cannot be scaled with --scale " + ScaleName(p.scale) +
                                ": its values, from " + FormatNumber(lo[u]) + " to " +
                                FormatNumber(hi[u]) + ", lie too far apart");
            }
            if (lo[u] == hi[u]) {
                warnings.push_back("column " + Quoted(p.name) + " is constant (" +
                                   FormatNumber(lo[u]) + ") in the " +
                                   (train.size() < rows.size() ? "training " : "") +
                                   "rows and is mapped to 0");
            }
        }
    }

    // Columns that import as asked but rarely train well: each gets one line, the run goes on.
    void WarnAboutColumns(std::size_t rows) {
        for (std::size_t u = 0; u < uses.size(); ++u) {
            const Use& use = uses[u];
            const PrepColumn& p = use.prep;
            const std::string name = Quoted(p.name);
            const std::string categories = std::to_string(p.categories.size());
            if (p.categorical && !use.kindFixed && use.commaNumbers > 0 && use.otherTexts == 0) {
                Warn("column " + name + " holds numbers with a decimal comma (" + use.firstBad +
                     "), read as text; give --decimal-comma to read them as numbers");
            } else if (p.categorical && p.role == ColumnRole::Input &&
                       (p.categories.size() > 20 ||
                        (p.categories.size() > 2 && p.categories.size() * 10 > rows))) {
                Warn("column " + name + " has " + categories + " categories in " +
                     std::to_string(rows) +
                     " rows, one input each; free text or names train poorly (leave it out with "
                     "--drop " +
                     p.name + ")");
            } else if (p.categorical && p.role == ColumnRole::Target && use.allNumbers &&
                       p.categories.size() > 20) {
                Warn("the --classes column " + name + " holds " + categories +
                     " different numbers, one output each; for a quantity give --targets " +
                     p.name);
            } else if (!p.categorical && p.role == ColumnRole::Input && use.allIntegers &&
                       rows >= 10 && AllDistinct(u)) {
                Warn("column " + name +
                     " holds a different whole number in every row, like an id (leave it out "
                     "with --drop " +
                     p.name + ")");
            }
        }
    }

    bool AllDistinct(std::size_t u) const {
        std::vector<double> values;
        values.reserve(order.size());
        for (const std::size_t r : order)
            values.push_back(Cell(r, u));
        std::sort(values.begin(), values.end());
        return std::adjacent_find(values.begin(), values.end()) == values.end();
    }

    // A split of the rows as they come: a class missing from one part, or rows in the order of
    // their class or target, make a test of rows unlike the training rows.
    void WarnAboutSplit() {
        if (options.shuffle || cut == order.size() || !withTargets)
            return;
        for (std::size_t u = 0; u < uses.size(); ++u) {
            const PrepColumn& p = uses[u].prep;
            if (p.role != ColumnRole::Target)
                continue;
            auto cell = [&](std::size_t k) { return Cell(order[k], u); };
            if (p.categorical) {
                std::vector<char> inFirst(p.categories.size(), 0), inSecond(inFirst);
                for (std::size_t k = 0; k < order.size(); ++k)
                    (k < cut ? inFirst : inSecond)[MarkOf(cell(k)) - kCategory] = 1;
                for (std::size_t c = 0; c < p.categories.size(); ++c) {
                    if (inFirst[c] && inSecond[c])
                        continue;
                    Warn("the split without --shuffle leaves the class " + Quoted(p.categories[c]) +
                         " out of the " + (inFirst[c] ? "test" : "training") +
                         " rows; give --shuffle");
                    return;
                }
            }
            // Rows grouped by class always leave the first class out of the test rows (above).
            if (!p.categorical && Rising(cell)) {
                Warn("the rows are in the order of " + Quoted(p.name) +
                     " and split without --shuffle, so the two parts differ; give --shuffle");
                return;
            }
        }
    }

    // Numbers rising (or falling) all along the rows.
    template <typename Cell>
    bool Rising(Cell&& cell) const {
        bool changes = false, rising = true, falling = true;
        for (std::size_t k = 1; k < order.size(); ++k) {
            const double a = cell(k - 1), b = cell(k);
            changes = changes || a != b;
            rising = rising && !(b < a);
            falling = falling && !(b > a);
        }
        return changes && (rising || falling);
    }

    void Warn(const std::string& message) { warnings.push_back(table.file + ": " + message); }

    // The scaled values in place of the numbers; a value that cannot be written is an error.
    void ScaleCells() {
        for (std::size_t r : order) {
            for (std::size_t u = 0; u < uses.size(); ++u) {
                const PrepColumn& p = uses[u].prep;
                if (p.categorical)
                    continue;
                double& cell = Cell(r, u);
                const double scaled = p.Scale(cell);
                if (!(std::fabs(scaled) <= kMaxWritable)) {
                    Fail(r, uses[u].column,
                         "the value " + FormatNumber(cell) +
                             (p.scale == ColumnScale::None
                                  ? std::string()
                                  : " scales to " + FormatNumber(scaled) + ", which") +
                             " is beyond what a data set file holds (1.79769313486231e+308)");
                }
                cell = scaled;
            }
        }
    }

    [[noreturn]] void Fail(std::size_t row, std::size_t column, const std::string& message) const {
        throw ToolError(table.file + ", row " + std::to_string(records[row]) + ", column " +
                        Quoted(table.names[column]) + ": " + message);
    }

    const ImportOptions& options;
    CsvTable table;         // the header only
    std::vector<Use> uses;  // inputs first, then targets, each in data set order
    std::optional<std::size_t> label;
    bool withTargets = false;
    std::vector<long> records;                                 // per row read: its record number
    std::vector<std::unique_ptr<double[], FreeBlock>> blocks;  // per row: one double per use
    std::size_t blockRows = 1;
    std::vector<std::string> labels;      // per row read, encoded, when a label column is used
    std::vector<std::size_t> longLabels;  // rows whose label is too long, ascending
    std::vector<std::size_t> order;       // kept rows in data set order: the first part, the second
    std::size_t cut = 0;
    long dropped = 0;
    std::vector<std::string> warnings;
};

ImportedTable::ImportedTable(const ImportOptions& options)
    : impl(std::make_unique<Importer>(options)) {}
ImportedTable::~ImportedTable() = default;
ImportedTable::ImportedTable(ImportedTable&&) noexcept = default;

void ImportedTable::Header(const CsvTable& header) {
    impl->Header(header);
}
void ImportedTable::Row(const std::vector<std::string_view>& fields, long record) {
    impl->Row(fields, record);
}
void ImportedTable::Finish() {
    impl->Finish(summary);
}

std::unique_ptr<Data> ImportedTable::BuildData(int part) const {
    const std::size_t begin = part == 0 ? 0 : impl->Cut();
    const std::size_t end = part == 0 ? impl->Cut() : impl->Count();
    auto data = std::make_unique<Data>(static_cast<int>(end - begin), summary.inputs,
                                       summary.outputs, summary.labels);
    impl->ForEachRow(begin, end,
                     [&](const std::vector<double>& in, const std::vector<double>& out,
                         const std::string* word) {
                         TLabelList labels;
                         if (word)
                             labels.AddLabel(word->c_str(), 1.0);
                         data->AppendRow(in.data(), out.data(), word ? &labels : nullptr);
                     });
    return data;
}

void ImportedTable::WriteDataSet(std::ostream& out, int part) const {
    const std::size_t begin = part == 0 ? 0 : impl->Cut();
    const std::size_t end = part == 0 ? impl->Cut() : impl->Count();
    FileTools tools;
    // The layout FileTools::WriteDataSetFile gives a data set with no second part.
    tools.WriteFormatVersion(out);
    tools.WriteBlockStart(out, "DataSet");
    tools.WriteIntegerStatement(out, "Rows", static_cast<std::int32_t>(end - begin));
    tools.WriteIntegerStatement(out, "Inputs", summary.inputs);
    if (summary.labels)
        tools.WriteStringStatement(out, "ExpectedOutputs", "Labels");
    else
        tools.WriteIntegerStatement(out, "ExpectedOutputs", summary.outputs);
    tools.WriteIntegerStatement(out, "GeneratedOutputs", 0);
    tools.WriteIntegerStatement(out, "Error", 0);
    out.put('\n');
    tools.WriteBlockStart(out, "Data");
    std::string line;
    impl->ForEachRow(begin, end,
                     [&](const std::vector<double>& in, const std::vector<double>& values,
                         const std::string* word) {
                         line.clear();
                         for (const double v : in)
                             AppendValue(line, v);
                         line += "  ";
                         for (const double v : values)
                             AppendValue(line, v);
                         if (word) {
                             TLabelList labels;
                             labels.AddLabel(word->c_str(), 1.0);
                             std::ostringstream text;
                             tools.WriteLabelList(text, &labels);
                             line += text.str();
                         }
                         line += '\n';
                         out.write(line.data(), static_cast<std::streamsize>(line.size()));
                     });
    tools.WriteEndTag(out, "Data");
    out.put('\n');
    tools.WriteEndTag(out, "DataSet");
}

ImportedTable ImportCsv(const std::string& file, const CsvOptions& csv,
                        const ImportOptions& options, std::istream& stdinStream) {
    ImportedTable imported(options);
    ReadCsvRecords(
        file, csv, stdinStream, [&](const CsvTable& header) { imported.Header(header); },
        [&](const std::vector<std::string_view>& fields, long record) {
            imported.Row(fields, record);
        });
    imported.Finish();
    return imported;
}

ImportResult Import(const CsvTable& table, const ImportOptions& options) {
    ImportedTable imported(options);
    imported.Header(table);
    for (std::size_t r = 0; r < table.rows.size(); ++r) {
        const std::vector<std::string_view> fields(table.rows[r].begin(), table.rows[r].end());
        imported.Row(fields, table.records[r]);
    }
    imported.Finish();
    ImportResult result;
    result.prep = imported.summary.prep;
    result.dropped = imported.summary.dropped;
    result.warnings = imported.summary.warnings;
    result.first = imported.BuildData(0);
    if (imported.summary.rows[1] > 0)
        result.second = imported.BuildData(1);
    return result;
}

std::uint64_t UniformIndex(std::mt19937_64& rng, std::uint64_t bound) {
    // The largest multiple of bound that fits: values from it up would favour small indices.
    const std::uint64_t limit = std::mt19937_64::max() - std::mt19937_64::max() % bound;
    std::uint64_t x = rng();
    while (x >= limit)
        x = rng();
    return x % bound;
}

void ShuffleRows(std::vector<std::size_t>& rows, std::uint64_t seed) {
    std::mt19937_64 rng(seed);
    for (std::size_t i = rows.size(); i > 1; --i) {
        const std::size_t j = static_cast<std::size_t>(UniformIndex(rng, i));
        std::swap(rows[i - 1], rows[j]);
    }
}

std::size_t SplitPoint(std::size_t rows, double share) {
    return static_cast<std::size_t>(std::floor(share * static_cast<double>(rows) + 0.5));
}

namespace {

struct ImportCommand {
    std::string csv;
    std::string output;
    std::string testOut;
    std::string prepOut;
    std::string prepIn;
    std::string scale = "minmax";
    std::string missing = "refuse";
    std::string delimiter;
    bool noHeader = false;
    std::string seed;
    ImportOptions options;
};

char DelimiterOption(const std::string& text) {
    if (text.empty())
        return 0;
    if (text == "\\t" || text == "tab")
        return '\t';
    if (text.size() != 1 || text == "\"" || text == "\n" || text == "\r")
        throw ToolError("--delimiter must be one character other than a quote or a line end");
    return text[0];
}

// --split names a share of the rows strictly between 0 and 1: 1 (or nan) would leave the test
// set empty and an old --test-out file in place.
std::string SplitShare(const std::string& text) {
    char* end = nullptr;
    const double share = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(share > 0.0 && share < 1.0))
        return "must lie between 0 and 1 (both excluded), not " + text;
    return "";
}

// All or none: the preparation, the data set and the test data set.
void WriteImportOutputs(const ImportCommand& cmd, const ImportedTable& imported) {
    const ImportSummary& result = imported.summary;
    OutputSet outputs(std::cout);
    outputs.AddInput(cmd.csv);
    outputs.AddInput(cmd.prepIn);
    if (!cmd.prepOut.empty()) {
        outputs.Add("preparation file", cmd.prepOut,
                    [&](std::ostream& out) { WritePreparation(out, result.prep); });
    }
    outputs.Add("data set file", cmd.output,
                [&](std::ostream& out) { imported.WriteDataSet(out, 0); });
    if (result.rows[1] > 0) {
        outputs.Add("data set file", cmd.testOut,
                    [&](std::ostream& out) { imported.WriteDataSet(out, 1); });
    }
    outputs.Commit();
}

void RunImportCommand(ImportCommand& cmd, const CLI::App& sub) {
    ImportOptions& options = cmd.options;
    options.scale = cmd.scale == "zscore" ? ColumnScale::ZScore
                    : cmd.scale == "none" ? ColumnScale::None
                                          : ColumnScale::MinMax;
    options.dropMissing = cmd.missing == "drop";
    if (sub.count("--seed") > 0)
        options.seed = ParseSeed(cmd.seed);
    if (options.shuffle && !options.seed) {
        options.seed = std::random_device{}() * 4294967296ULL + std::random_device{}();
        std::cerr << "synapsor-tool: shuffled with seed " << *options.seed << " (give --seed "
                  << *options.seed << " to repeat)" << std::endl;
    }
    Preparation saved;
    if (!cmd.prepIn.empty()) {
        saved = ReadPreparationFile(cmd.prepIn);
        options.prep = &saved;
        options.prepFile = cmd.prepIn;
    }
    CsvOptions csv;
    csv.delimiter = DelimiterOption(cmd.delimiter);
    csv.header = !cmd.noHeader;
    const ImportedTable imported = ImportCsv(cmd.csv, csv, options, std::cin);
    const ImportSummary& result = imported.summary;
    for (const std::string& warning : result.warnings)
        std::cerr << "synapsor-tool: warning: " << warning << std::endl;
    if (result.dropped > 0) {
        std::cerr << "synapsor-tool: dropped " << result.dropped << " of " << result.rowsRead
                  << " rows with a missing or non-numeric value" << std::endl;
    }
    WriteImportOutputs(cmd, imported);
    std::cerr << "synapsor-tool: " << result.rows[0] << " rows to "
              << (cmd.output == "-" ? "standard output" : cmd.output);
    if (result.rows[1] > 0)
        std::cerr << ", " << result.rows[1] << " rows to " << cmd.testOut;
    std::cerr << "; " << result.inputs << " inputs, " << result.outputs << " outputs per row"
              << std::endl;
}

}  // namespace

void AddImportCommand(CLI::App& app) {
    auto cmd = std::make_shared<ImportCommand>();
    CLI::App* sub = app.add_subcommand(
        "import", "Turn a CSV table into data set files, scaling and encoding its columns");
    sub->add_option("csv", cmd->csv, "CSV file (- for standard input)")->required();
    sub->add_option("-o,--output", cmd->output, "data set file to write (- for standard output)")
        ->required();
    auto* classes = sub->add_option("--classes", cmd->options.classes,
                                    "categorical target column: one output per class");
    auto* targets =
        sub->add_option("--targets", cmd->options.targets, "numeric target columns (regression)")
            ->delimiter(',');
    targets->excludes(classes);
    auto* inputs =
        sub->add_option("--inputs", cmd->options.inputs, "input columns (default: all others)")
            ->delimiter(',');
    auto* drop =
        sub->add_option("--drop", cmd->options.drop, "columns to leave out")->delimiter(',');
    inputs->excludes(drop);
    auto* scale = sub->add_option("--scale", cmd->scale, "scaling of numeric inputs")
                      ->check(CLI::IsMember({"minmax", "zscore", "none"}));
    auto* split = sub->add_option("--split", cmd->options.split,
                                  "share of the rows for -o, the rest to --test-out")
                      ->check(SplitShare, "share in (0, 1)");
    auto* testOut = sub->add_option("--test-out", cmd->testOut, "data set file for the rest");
    split->needs(testOut);
    testOut->needs(split);
    sub->add_flag("--shuffle", cmd->options.shuffle, "shuffle the rows before the split");
    sub->add_option("--seed", cmd->seed,
                    "seed of the shuffle, 0 to 2^64 - 1 (the same on every machine)")
        ->needs(sub->get_option("--shuffle"));
    sub->add_option("--prep-out", cmd->prepOut, "save the preparation to this file");
    auto* prep = sub->add_option("--prep", cmd->prepIn, "apply a saved preparation");
    for (CLI::Option* o : {classes, targets, inputs, scale})
        prep->excludes(o);
    sub->add_option("--label", cmd->options.label, "column carried as each row's label");
    sub->add_option("--delimiter", cmd->delimiter, "field delimiter (default: detected)");
    sub->add_flag("--no-header", cmd->noHeader, "the first row is data; columns are 0, 1, ...");
    sub->add_flag(
        "--decimal-comma", cmd->options.decimalComma,
        "read \",\" in number cells as the decimal point (the delimiter may not be \",\")");
    sub->add_option("--max-categories", cmd->options.maxCategories,
                    "most different texts a text column may hold (default 1000)")
        ->check(CLI::Range(std::size_t{1}, std::size_t{1000000000}));
    sub->add_option("--missing", cmd->missing, "rows with missing values: refuse or drop")
        ->check(CLI::IsMember({"refuse", "drop"}));
    sub->callback([cmd, sub]() { RunImportCommand(*cmd, *sub); });
}

}  // namespace synapsor
