#include "MLP/Tool/Preparation.h"

#include <cmath>
#include <fstream>
#include <istream>
#include <map>
#include <ostream>

#include "Common/StrCase.h"
#include "FileHandler/ParseTools.h"
#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

bool NeedsEscape(unsigned char c) {
    return c <= 32 || c >= 127 || c == ',' || c == '%' ||
           std::string_view("[]/*=<>").find(static_cast<char>(c)) != std::string_view::npos;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool Same(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}

class PrepReader {
  public:
    PrepReader(std::istream& in, const std::string& file) : in(in), file(file) {}

    Preparation Read() {
        Preparation prep;
        Statement st = tools.ReadStatement({}, in);
        const std::string block = tools.ExpectBlockStart(st, in, "PREPARATION");
        for (;;) {
            st = tools.ReadStatement(block, in);
            if (st.kind == StatementKind::EndOfBlock)
                break;
            if (st.kind != StatementKind::Tag || !Same(st.keyword, "Column"))
                Fail("[Column] expected, found " + Found(st));
            prep.columns.push_back(ReadColumn(st));
        }
        tools.ExpectEndTag(tools.ReadStatement({}, in), in);
        if (prep.Inputs() == 0)
            Fail("the preparation has no input columns");
        return prep;
    }

  private:
    PrepColumn ReadColumn(const Statement& start) {
        const std::string block = tools.ExpectBlockStart(start, in, "COLUMN");
        PrepColumn column;
        // Every field but Category appears exactly once: a second one would silently win.
        std::map<std::string, int> seen;
        for (;;) {
            const Statement st = tools.ReadStatement(block, in);
            if (st.kind == StatementKind::EndOfBlock)
                break;
            if (st.kind != StatementKind::Assignment || st.open)
                Fail("[NAME = VALUE] expected in a column, found " + Found(st));
            const std::string& key = st.keyword;
            const std::string field = Canonical(key);
            if (field.empty())
                Fail("unknown statement [" + key + "] in a column");
            if (field != "Category" && seen[field]++ > 0)
                Fail(Which(column) + " has [" + field + "] twice");
            if (field == "Name") {
                column.name = DecodeWord(st.value);
            } else if (field == "Role") {
                if (Same(st.value, "input")) {
                    column.role = ColumnRole::Input;
                } else if (Same(st.value, "target")) {
                    column.role = ColumnRole::Target;
                } else {
                    Fail("Role must be input or target, found " + st.value);
                }
            } else if (field == "Type") {
                if (!Same(st.value, "number") && !Same(st.value, "category"))
                    Fail("Type must be number or category, found " + st.value);
                column.categorical = Same(st.value, "category");
            } else if (field == "Scale") {
                if (Same(st.value, "none")) {
                    column.scale = ColumnScale::None;
                } else if (Same(st.value, "minmax")) {
                    column.scale = ColumnScale::MinMax;
                } else if (Same(st.value, "zscore")) {
                    column.scale = ColumnScale::ZScore;
                } else {
                    Fail("Scale must be none, minmax or zscore, found " + st.value);
                }
            } else if (field == "Min" || field == "Mean") {
                column.first = Finite(st);
            } else if (field == "Max" || field == "Deviation") {
                column.second = Finite(st);
            } else {
                std::string category = DecodeWord(st.value);
                if (column.CategoryIndex(category) >= 0)
                    Fail(Which(column) + " lists the category \"" + category + "\" twice");
                column.categories.push_back(std::move(category));
            }
        }
        const std::string which = Which(column);
        if (seen["Name"] == 0 || seen["Type"] == 0)
            Fail(which + " lacks its Name or Type");
        if (seen["Role"] == 0)
            Fail(which + " lacks its [Role]");
        if (column.categorical) {
            if (column.categories.empty())
                Fail(which + " of Type category lists no Category");
            for (const char* field : {"Scale", "Min", "Max", "Mean", "Deviation"}) {
                if (seen[field] > 0)
                    Fail(which + " of Type category has a [" + field + "]");
            }
            return column;
        }
        if (!column.categories.empty())
            Fail(which + " of Type number lists a Category");
        if (seen["Scale"] == 0)
            Fail(which + " lacks its [Scale]");
        const bool minmax = column.scale == ColumnScale::MinMax;
        const bool zscore = column.scale == ColumnScale::ZScore;
        const int minMax = seen["Min"] + seen["Max"],
                  meanDeviation = seen["Mean"] + seen["Deviation"];
        if ((minmax && minMax != 2) || (zscore && meanDeviation != 2))
            Fail(which + " lacks its scaling constants");
        if ((!minmax && minMax > 0) || (!zscore && meanDeviation > 0)) {
            Fail(which + " of Scale " + ScaleName(column.scale) +
                 " has scaling constants of another scale");
        }
        if (zscore && column.second < 0.0)
            Fail(which + " has a negative Deviation");
        if (minmax && column.second < column.first)
            Fail(which + " has a Max below its Min");
        // A range or deviation that scales to values too large to write is refused here, not
        // when the data set is half written.
        if (minmax && !std::isfinite(column.second - column.first))
            Fail(which + " has a range from Min to Max too wide to scale");
        return column;
    }

    static std::string Canonical(const std::string& key) {
        for (const char* field :
             {"Name", "Role", "Type", "Scale", "Min", "Max", "Mean", "Deviation", "Category"}) {
            if (Same(key, field))
                return field;
        }
        return std::string();
    }

    static std::string Which(const PrepColumn& column) {
        return column.name.empty() ? std::string("a column")
                                   : "column " + QuotedForMessage(column.name);
    }

    double Finite(const Statement& st) {
        const double value = tools.ParseNumber(in, st.value);
        if (!std::isfinite(value))
            Fail("[" + st.keyword + "] is not a finite number");
        return value;
    }

    static std::string Found(const Statement& st) {
        if (st.kind == StatementKind::Token)
            return "\"" + st.keyword + "\"";
        return "[" + st.keyword + (st.kind == StatementKind::Assignment ? " = " + st.value : "") +
               "]";
    }

    [[noreturn]] void Fail(const std::string& message) { throw ToolError(file + ": " + message); }

    std::istream& in;
    const std::string& file;
    FileTools tools;
};

}  // namespace

int PrepColumn::CategoryIndex(std::string_view category) const {
    for (std::size_t i = 0; i < categories.size(); ++i) {
        if (categories[i] == category)
            return static_cast<int>(i);
    }
    return -1;
}

double PrepColumn::Scale(double value) const {
    switch (scale) {
        case ColumnScale::MinMax:
            return second > first ? (value - first) / (second - first) : 0.0;
        case ColumnScale::ZScore:
            return second > 0.0 ? (value - first) / second : 0.0;
        case ColumnScale::None:
            break;
    }
    return value;
}

double PrepColumn::Unscale(double scaled) const {
    switch (scale) {
        case ColumnScale::MinMax:
            return second > first ? scaled * (second - first) + first : first;
        case ColumnScale::ZScore:
            return second > 0.0 ? scaled * second + first : first;
        case ColumnScale::None:
            break;
    }
    return scaled;
}

double PrepColumn::UnscaleDifference(double scaled) const {
    switch (scale) {
        case ColumnScale::MinMax:
            return scaled * (second - first);
        case ColumnScale::ZScore:
            return scaled * second;
        case ColumnScale::None:
            break;
    }
    return scaled;
}

int Preparation::Inputs() const {
    int n = 0;
    for (const PrepColumn& c : columns)
        n += c.role == ColumnRole::Input ? c.Width() : 0;
    return n;
}

int Preparation::Outputs() const {
    int n = 0;
    for (const PrepColumn& c : columns)
        n += c.role == ColumnRole::Target ? c.Width() : 0;
    return n;
}

bool Preparation::HasTargets() const {
    return Outputs() > 0;
}

const char* ScaleName(ColumnScale scale) {
    switch (scale) {
        case ColumnScale::MinMax:
            return "minmax";
        case ColumnScale::ZScore:
            return "zscore";
        case ColumnScale::None:
            break;
    }
    return "none";
}

void WritePreparation(std::ostream& out, const Preparation& prep) {
    FileTools tools;
    tools.WriteFormatVersion(out);
    tools.WriteBlockStart(out, "Preparation");
    for (const PrepColumn& c : prep.columns) {
        tools.WriteBlockStart(out, "Column");
        tools.WriteStringStatement(out, "Name", EncodeWord(c.name));
        tools.WriteStringStatement(out, "Role", c.role == ColumnRole::Input ? "input" : "target");
        tools.WriteStringStatement(out, "Type", c.categorical ? "category" : "number");
        if (c.categorical) {
            for (const std::string& category : c.categories)
                tools.WriteStringStatement(out, "Category", EncodeWord(category));
        } else {
            tools.WriteStringStatement(out, "Scale", ScaleName(c.scale));
            // Shortest texts that read back as the same doubles: scaling is repeated exactly.
            if (c.scale == ColumnScale::MinMax) {
                tools.WriteStringStatement(out, "Min", FormatNumber(c.first));
                tools.WriteStringStatement(out, "Max", FormatNumber(c.second));
            } else if (c.scale == ColumnScale::ZScore) {
                tools.WriteStringStatement(out, "Mean", FormatNumber(c.first));
                tools.WriteStringStatement(out, "Deviation", FormatNumber(c.second));
            }
        }
        tools.WriteEndTag(out, "Column");
    }
    tools.WriteEndTag(out, "Preparation");
}

Preparation ReadPreparation(std::istream& in, const std::string& file) {
    try {
        return PrepReader(in, file).Read();
    } catch (const FileTools::Error& e) {
        throw ToolError(file + ": " + e.message);
    }
}

Preparation ReadPreparationFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in.is_open())
        throw ToolError("cannot open preparation file " + file);
    return ReadPreparation(in, file);
}

std::string EncodeWord(std::string_view text) {
    if (text.empty())
        return "%";
    static const char kHex[] = "0123456789ABCDEF";
    std::string word;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (NeedsEscape(c)) {
            word += '%';
            word += kHex[c >> 4];
            word += kHex[c & 15];
        } else {
            word += ch;
        }
    }
    return word;
}

std::string DecodeWord(std::string_view word) {
    if (word == "%")
        return std::string();
    std::string text;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 2 < word.size() && HexDigit(word[i + 1]) >= 0 &&
            HexDigit(word[i + 2]) >= 0) {
            text += static_cast<char>(HexDigit(word[i + 1]) * 16 + HexDigit(word[i + 2]));
            i += 2;
        } else {
            text += word[i];
        }
    }
    return text;
}

}  // namespace synapsor
