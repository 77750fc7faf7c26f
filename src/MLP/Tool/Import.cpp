#include "MLP/Tool/Import.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <iostream>

#include "MLP/Tool/DataSetOutput.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

// Longest label or category word the data set and preparation syntax carries.
constexpr std::size_t kMaxWord = 1000;

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string ColumnList(const CsvTable& table) {
    std::string list;
    for (const std::string& name : table.names)
        list += (list.empty() ? "" : ", ") + name;
    return list;
}

std::size_t Column(const CsvTable& table, const std::string& name) {
    const std::optional<std::size_t> index = table.Find(name);
    if (!index) {
        throw ToolError(table.file + ": no column " + Quoted(name) + " (the columns are " +
                        ColumnList(table) + ")");
    }
    return *index;
}

std::string Trimmed(const std::string& cell) {
    const std::size_t begin = cell.find_first_not_of(" \t");
    if (begin == std::string::npos)
        return std::string();
    return cell.substr(begin, cell.find_last_not_of(" \t") - begin + 1);
}

// Where a table column goes: the preparation column it feeds.
struct Use {
    std::size_t column;
    PrepColumn prep;
};

class Importer {
  public:
    Importer(const CsvTable& table, const ImportOptions& options)
        : table(table), options(options) {}

    ImportResult Run() {
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
        const std::vector<std::size_t> rows = CheckedRows();
        if (rows.empty())
            throw ToolError(table.file + ": no rows left after dropping " +
                            std::to_string(result.dropped) + " rows with missing values");
        std::vector<std::size_t> order = rows;
        if (options.shuffle)
            ShuffleRows(order, options.seed.value_or(0));
        std::size_t cut = order.size();
        if (options.split < 1.0) {
            cut = SplitPoint(order.size(), options.split);
            if (cut == 0 || cut == order.size()) {
                throw ToolError("--split " + FormatNumber(options.split) + " of " +
                                std::to_string(order.size()) + " rows leaves " +
                                (cut == 0 ? "the first" : "the second") + " data set empty");
            }
        }
        const std::vector<std::size_t> train(order.begin(), order.begin() + cut);
        const std::vector<std::size_t> test(order.begin() + cut, order.end());
        if (!options.prep)
            Fit(rows, train);
        for (const Use& use : uses)
            result.prep.columns.push_back(use.prep);
        result.first = Build(train);
        if (!test.empty())
            result.second = Build(test);
        return std::move(result);
    }

  private:
    // The columns and their roles from the options; kinds from the cells.
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
            Use use{take(options.classes, "--classes"), {}};
            use.prep.role = ColumnRole::Target;
            use.prep.categorical = true;
            targets.push_back(use);
        }
        for (const std::string& name : options.targets) {
            Use use{take(name, "--targets"), {}};
            use.prep.role = ColumnRole::Target;
            use.prep.scale =
                options.scale == ColumnScale::None ? ColumnScale::None : ColumnScale::MinMax;
            targets.push_back(use);
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
        for (const std::size_t c : inputs) {
            Use use{c, {}};
            use.prep.categorical = !AnyNumber(c);
            use.prep.scale = use.prep.categorical ? ColumnScale::None : options.scale;
            uses.push_back(use);
        }
        for (Use& use : targets)
            uses.push_back(use);
        for (Use& use : uses)
            use.prep.name = table.names[use.column];
        withTargets = !targets.empty();
    }

    // The columns of a saved preparation, matched by name. Targets may be missing (new data).
    void Adopt(const Preparation& prep) {
        std::size_t targets = 0, found = 0;
        std::string missingTarget;
        for (const PrepColumn& column : prep.columns) {
            std::optional<std::size_t> c;
            for (std::size_t i = 0; i < table.names.size() && !c; ++i) {
                if (table.names[i] == column.name)
                    c = i;
            }
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
            uses.push_back(Use{*c, column});
        }
        if (found != 0 && found != targets) {
            throw ToolError(table.file + ": the target column " + Quoted(missingTarget) +
                            " of the preparation " + options.prepFile +
                            " is missing while other targets are present");
        }
        withTargets = found != 0;
    }

    bool AnyNumber(std::size_t c) const {
        for (const auto& row : table.rows) {
            if (ParseCell(row[c]))
                return true;
        }
        return false;
    }

    // The rows whose used cells all hold what their columns need; bad rows are refused or
    // dropped. An unknown category in a row that is kept is always an error: no preparation can
    // place it. A row dropped for a bad cell needs no place, whichever column comes first, so
    // that a preparation applies to the rows it was fitted on.
    std::vector<std::size_t> CheckedRows() {
        std::vector<std::size_t> rows;
        for (std::size_t r = 0; r < table.rows.size(); ++r) {
            bool good = true;
            const Use* unknown = nullptr;
            for (const Use& use : uses) {
                const std::string& cell = table.rows[r][use.column];
                std::string problem;
                if (use.prep.categorical) {
                    const std::string category = Trimmed(cell);
                    if (category.empty()) {
                        problem = "the cell is empty";
                    } else if (category.size() > kMaxWord) {
                        Fail(r, use,
                             "the category is longer than " + std::to_string(kMaxWord) + " bytes");
                    } else if (options.prep && use.prep.CategoryIndex(category) < 0) {
                        if (!options.dropMissing)
                            FailUnknown(r, use);
                        unknown = unknown ? unknown : &use;
                    }
                } else if (!ParseCell(cell)) {
                    problem = Trimmed(cell).empty() ? std::string("the cell is empty")
                                                    : Quoted(cell) + " is not a finite number";
                }
                if (!problem.empty()) {
                    if (!options.dropMissing)
                        Fail(r, use, problem + " (--missing drop drops such rows)");
                    good = false;
                    break;
                }
            }
            if (label && table.rows[r][*label].size() > kMaxWord)
                Fail(r, Use{*label, {}},
                     "the label is longer than " + std::to_string(kMaxWord) + " bytes");
            if (good && unknown)
                FailUnknown(r, *unknown);
            if (good)
                rows.push_back(r);
            else
                ++result.dropped;
        }
        return rows;
    }

    // Categories from every kept row in file order; scaling constants from the training rows.
    void Fit(const std::vector<std::size_t>& rows, const std::vector<std::size_t>& train) {
        for (Use& use : uses) {
            PrepColumn& p = use.prep;
            if (p.categorical) {
                for (const std::size_t r : rows) {
                    const std::string category = Trimmed(table.rows[r][use.column]);
                    if (p.CategoryIndex(category) < 0)
                        p.categories.push_back(category);
                }
                continue;
            }
            if (p.scale == ColumnScale::None)
                continue;
            double lo = 0, hi = 0, sum = 0;
            for (std::size_t k = 0; k < train.size(); ++k) {
                const double v = *ParseCell(table.rows[train[k]][use.column]);
                lo = k == 0 ? v : std::min(lo, v);
                hi = k == 0 ? v : std::max(hi, v);
                sum += v;
            }
            if (p.scale == ColumnScale::MinMax) {
                p.first = lo;
                p.second = hi;
            } else {
                const double mean = sum / static_cast<double>(train.size());
                double squares = 0;
                for (const std::size_t r : train) {
                    const double d = *ParseCell(table.rows[r][use.column]) - mean;
                    squares += d * d;
                }
                p.first = mean;
                p.second = std::sqrt(squares / static_cast<double>(train.size()));
            }
            if (lo == hi) {
                result.warnings.push_back(
                    "column " + Quoted(p.name) + " is constant (" + FormatNumber(lo) + ") in the " +
                    (train.size() < rows.size() ? "training " : "") + "rows and is mapped to 0");
            }
        }
    }

    std::unique_ptr<Data> Build(const std::vector<std::size_t>& rows) {
        int inputs = 0, outputs = 0;
        for (const Use& use : uses)
            (use.prep.role == ColumnRole::Input ? inputs : outputs) += use.prep.Width();
        auto data = std::make_unique<Data>(static_cast<int>(rows.size()), inputs, outputs,
                                           label.has_value());
        std::vector<double> in(static_cast<std::size_t>(inputs));
        std::vector<double> out(static_cast<std::size_t>(outputs));
        for (const std::size_t r : rows) {
            std::size_t i = 0, o = 0;
            for (const Use& use : uses) {
                std::vector<double>& values = use.prep.role == ColumnRole::Input ? in : out;
                std::size_t& at = use.prep.role == ColumnRole::Input ? i : o;
                const std::string& cell = table.rows[r][use.column];
                if (use.prep.categorical) {
                    const int k = use.prep.CategoryIndex(Trimmed(cell));
                    for (int j = 0; j < use.prep.Width(); ++j)
                        values[at++] = j == k ? 1.0 : 0.0;
                } else {
                    values[at++] = use.prep.Scale(*ParseCell(cell));
                }
            }
            TLabelList labels;
            if (label)
                labels.AddLabel(EncodeWord(table.rows[r][*label]).c_str(), 1.0);
            data->AppendRow(in.data(), out.data(), label ? &labels : nullptr);
        }
        return data;
    }

    [[noreturn]] void FailUnknown(std::size_t row, const Use& use) const {
        Fail(row, use,
             "category " + Quoted(Trimmed(table.rows[row][use.column])) +
                 " does not occur in the preparation " + options.prepFile);
    }

    [[noreturn]] void Fail(std::size_t row, const Use& use, const std::string& message) const {
        throw ToolError(table.file + ", row " + std::to_string(table.records[row]) + ", column " +
                        table.names[use.column] + ": " + message);
    }

    const CsvTable& table;
    const ImportOptions& options;
    std::vector<Use> uses;  // inputs first, then targets, each in data set order
    std::optional<std::size_t> label;
    bool withTargets = false;
    ImportResult result;
};

}  // namespace

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

ImportResult Import(const CsvTable& table, const ImportOptions& options) {
    return Importer(table, options).Run();
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
    std::uint64_t seed = 0;
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

void RunImportCommand(ImportCommand& cmd, const CLI::App& sub) {
    ImportOptions& options = cmd.options;
    options.scale = cmd.scale == "zscore" ? ColumnScale::ZScore
                    : cmd.scale == "none" ? ColumnScale::None
                                          : ColumnScale::MinMax;
    options.dropMissing = cmd.missing == "drop";
    if (sub.count("--seed") > 0)
        options.seed = cmd.seed;
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
    const CsvTable table = ReadCsvFile(cmd.csv, csv, std::cin);
    const ImportResult result = Import(table, options);
    for (const std::string& warning : result.warnings)
        std::cerr << "synapsor-tool: warning: " << warning << std::endl;
    if (result.dropped > 0) {
        std::cerr << "synapsor-tool: dropped " << result.dropped << " of " << table.rows.size()
                  << " rows with a missing or non-numeric value" << std::endl;
    }
    if (!cmd.prepOut.empty()) {
        WriteToolOutput(cmd.prepOut, "preparation file", std::cout,
                        [&](std::ostream& out) { WritePreparation(out, result.prep); });
    }
    WriteDataSetOutput(cmd.output, result.first.get(), nullptr, std::cout);
    if (result.second)
        WriteDataSetOutput(cmd.testOut, result.second.get(), nullptr, std::cout);
    std::cerr << "synapsor-tool: " << result.first->MbrNdxDataRows << " rows to "
              << (cmd.output == "-" ? "standard output" : cmd.output);
    if (result.second)
        std::cerr << ", " << result.second->MbrNdxDataRows << " rows to " << cmd.testOut;
    std::cerr << "; " << result.first->MbrNdxInputs << " inputs, " << result.first->MbrNdxOutputs
              << " outputs per row" << std::endl;
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
                      ->check(CLI::Range(0.0, 1.0));
    auto* testOut = sub->add_option("--test-out", cmd->testOut, "data set file for the rest");
    split->needs(testOut);
    testOut->needs(split);
    sub->add_flag("--shuffle", cmd->options.shuffle, "shuffle the rows before the split");
    sub->add_option("--seed", cmd->seed, "seed of the shuffle (the same on every machine)")
        ->needs(sub->get_option("--shuffle"));
    sub->add_option("--prep-out", cmd->prepOut, "save the preparation to this file");
    auto* prep = sub->add_option("--prep", cmd->prepIn, "apply a saved preparation");
    for (CLI::Option* o : {classes, targets, inputs, scale})
        prep->excludes(o);
    sub->add_option("--label", cmd->options.label, "column carried as each row's label");
    sub->add_option("--delimiter", cmd->delimiter, "field delimiter (default: detected)");
    sub->add_flag("--no-header", cmd->noHeader, "the first row is data; columns are 0, 1, ...");
    sub->add_option("--missing", cmd->missing, "rows with missing values: refuse or drop")
        ->check(CLI::IsMember({"refuse", "drop"}));
    sub->callback([cmd, sub]() { RunImportCommand(*cmd, *sub); });
}

}  // namespace synapsor
