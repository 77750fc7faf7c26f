#include "MLP/Tool/Export.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <memory>
#include <ostream>
#include <vector>

#include "FileHandler/Filer.h"
#include "MLP/Common/OutputSet.h"
#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

// Fifteen significant digits, as the data set file keeps them: a value that went through scaling
// and back (1064.9999999999995) shows as the table had it (1065).
std::string Exported(double value) {
    char text[32];
    const auto [ptr, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::general, 15);
    return ec == std::errc() ? std::string(text, ptr) : FormatNumber(value);
}

// A value scaled back into a column's units carries the error of its 15 stored digits times the
// column's spread: digits below spread * 1e-14 are noise (479.99999999999950 for 480) and are
// rounded away.
std::string InUnits(double value, const PrepColumn& column) {
    const double spread = column.scale == ColumnScale::MinMax   ? column.second - column.first
                          : column.scale == ColumnScale::ZScore ? 10.0 * column.second
                                                                : 0.0;
    if (!(spread > 0.0) || !std::isfinite(spread) || !std::isfinite(value))
        return Exported(value);
    const int decimals = std::max(0, 14 - static_cast<int>(std::floor(std::log10(spread))));
    if (decimals > 30)
        return Exported(value);
    char text[400];
    const auto [ptr, ec] =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    if (ec != std::errc())
        return Exported(value);
    std::string s(text, ptr);
    if (s.find('.') != std::string::npos) {
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
            s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

// The text of a row's label list: names (as import encoded them) and values other than 1.
std::string LabelText(const Data& data, int row) {
    TLabelList* list = nullptr;
    const_cast<Data&>(data).GetLabels(row, &list);
    std::string text;
    if (list == nullptr)
        return text;
    for (const TLabel& label : list->labels) {
        text += (text.empty() ? "" : " ") + DecodeWord(label.name);
        if (label.value != 1.0)
            text += "=" + FormatNumber(label.value);
    }
    return text;
}

// One part of a row (inputs, expected outputs, generated outputs or errors) and how to show it.
struct Part {
    const Data* data = nullptr;
    bool outputs = false;  // the data set's outputs, else its inputs
    int count = 0;
    ColumnRole role = ColumnRole::Input;  // which preparation columns describe it
    enum Show { Value, Difference } show = Value;
    std::string plainName;  // without a preparation: name + 1-based index
    std::string suffix;     // with one: appended to the column names
    bool scores = false;    // a text column's output per category follows its class name
};

double Get(const Part& part, int row, int col) {
    double v = 0.0;
    if (part.outputs)
        part.data->GetOutputDatum(row, col, v);
    else
        part.data->GetInputDatum(row, col, v);
    return v;
}

class Exporter {
  public:
    Exporter(const Data* first, const Data* second, const Preparation* prep,
             const std::string& file, bool scores)
        : prep(prep), file(file) {
        const Data* any = first ? first : second;
        rows = any->MbrNdxDataRows;
        if (first) {
            labels.push_back(first);
            Add({first, false, first->MbrNdxInputs, ColumnRole::Input, Part::Value, "input", ""});
            Add({first, true, first->MbrNdxOutputs, ColumnRole::Target, Part::Value, "target", ""});
        }
        if (second) {
            labels.push_back(second);
            Add({second, false, second->MbrNdxInputs, ColumnRole::Target, Part::Value, "output",
                 "_predicted", scores});
            Add({second, true, second->MbrNdxOutputs, ColumnRole::Target, Part::Difference, "error",
                 "_error"});
        }
    }

    void Write(std::ostream& out) {
        std::vector<std::string> header;
        for (std::size_t k = 0; k < labels.size(); ++k) {
            if (labels[k]->MbrBlnLabels)
                header.push_back(k == 0 ? "label" : "label2");
        }
        for (const Part& part : parts) {
            if (!prep) {
                for (int c = 0; c < part.count; ++c)
                    header.push_back(part.plainName + std::to_string(c + 1));
                continue;
            }
            for (const PrepColumn& column : prep->columns) {
                if (column.role == part.role && Shown(part, column))
                    header.push_back(column.name + part.suffix);
                if (column.role == part.role && column.categorical && part.scores) {
                    for (const std::string& category : column.categories)
                        header.push_back(column.name + "_score_" + category);
                }
            }
        }
        Line(out, header);
        for (int i = 0; i < rows; ++i) {
            std::vector<std::string> cells;
            for (const Data* data : labels) {
                if (data->MbrBlnLabels)
                    cells.push_back(LabelText(*data, Slot(*data, i)));
            }
            for (const Part& part : parts)
                Cells(part, Slot(*part.data, i), cells);
            Line(out, cells);
        }
    }

  private:
    void Add(const Part& part) {
        if (part.count == 0)
            return;
        if (prep) {
            const int width = part.role == ColumnRole::Input ? prep->Inputs() : prep->Outputs();
            if (part.count != width) {
                throw ToolError(file + " has " + std::to_string(part.count) + " " + part.plainName +
                                " values per row, but the preparation describes " +
                                std::to_string(width));
            }
        }
        parts.push_back(part);
    }

    // Errors of a category mean nothing in the table's terms: only numbers get an error column.
    static bool Shown(const Part& part, const PrepColumn& column) {
        return part.show == Part::Value || !column.categorical;
    }

    static int Slot(const Data& data, int i) { return (data.GetFirst() + i) % data.MbrNdxRows; }

    void Cells(const Part& part, int row, std::vector<std::string>& cells) const {
        if (!prep) {
            for (int c = 0; c < part.count; ++c)
                cells.push_back(Exported(Get(part, row, c)));
            return;
        }
        int at = 0;
        for (const PrepColumn& column : prep->columns) {
            if (column.role != part.role)
                continue;
            if (column.categorical) {
                int best = 0;
                for (int j = 1; j < column.Width(); ++j) {
                    if (Get(part, row, at + j) > Get(part, row, at + best))
                        best = j;
                }
                if (Shown(part, column))
                    cells.push_back(column.categories[static_cast<std::size_t>(best)]);
                for (int j = 0; part.scores && j < column.Width(); ++j)
                    cells.push_back(Exported(Get(part, row, at + j)));
            } else {
                const double v = Get(part, row, at);
                cells.push_back(InUnits(
                    part.show == Part::Value ? column.Unscale(v) : column.UnscaleDifference(v),
                    column));
            }
            at += column.Width();
        }
    }

    static void Line(std::ostream& out, const std::vector<std::string>& cells) {
        for (std::size_t k = 0; k < cells.size(); ++k)
            out << (k ? "," : "") << CsvField(cells[k]);
        out << '\n';
    }

    const Preparation* prep;
    const std::string& file;
    int rows = 0;
    std::vector<const Data*> labels;
    std::vector<Part> parts;
};

}  // namespace

void ExportCsv(std::ostream& out, const Data* first, const Data* second, const Preparation* prep,
               const std::string& dataFile, bool scores) {
    Exporter(first, second, prep, dataFile, scores).Write(out);
}

void AddExportCommand(CLI::App& app) {
    struct Options {
        std::string data, prep, output;
        bool scores = false;
    };
    auto o = std::make_shared<Options>();
    CLI::App* sub = app.add_subcommand(
        "export", "Write a data set file (also a recall's results) as a CSV table");
    sub->add_option("data-set", o->data, "data set file")->required();
    CLI::Option* prepOption = sub->add_option(
        "--prep", o->prep, "preparation of import: original units, column and class names");
    sub->add_flag("--scores", o->scores,
                  "after each predicted class, the network's output for every class")
        ->needs(prepOption);
    sub->add_option("-o,--output", o->output, "CSV file to write (default: standard output)");
    sub->callback([o]() {
        Preparation prep;
        if (!o->prep.empty())
            prep = ReadPreparationFile(o->prep);
        FileTools tools;
        std::unique_ptr<Data> first, second;
        std::int32_t code = FileTools::SUCCESS;
        try {
            code = tools.ReadDataSetFile(o->data.c_str(), first, second);
        } catch (const FileTools::Error& e) {
            throw ToolError(o->data + ": " + e.message);
        }
        if (code == FileTools::FILE_OPEN_FAILED)
            throw ToolError("Cannot open data set file " + o->data);
        if (!first && !second)
            throw ToolError("Data set file " + o->data + " holds no values");
        if (o->scores && !second) {
            throw ToolError("Data set file " + o->data +
                            " holds no network outputs to give scores of (recall -o writes them)");
        }
        OutputSet outputs(std::cout);
        outputs.AddInput(o->data);
        outputs.AddInput(o->prep);
        outputs.Add("CSV file", o->output, [&](std::ostream& out) {
            ExportCsv(out, first.get(), second.get(), o->prep.empty() ? nullptr : &prep, o->data,
                      o->scores);
        });
        outputs.Commit();
    });
}

}  // namespace synapsor
