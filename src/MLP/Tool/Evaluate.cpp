#include "MLP/Tool/Evaluate.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <iostream>
#include <locale>
#include <set>
#include <sstream>

#include "Common/Assert.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"
#include "NeuralNets/ErrorObj.h"

namespace synapsor {

namespace {

int PredictedClass(const double* output, int outputs) {
    if (outputs == 1)
        return output[0] >= 0.5 ? 1 : 0;
    return ArgMax(output, outputs);
}

struct ClassCounts {
    int correct = 0;
    std::vector<std::vector<int>> confusion;
    std::vector<ClassFigures> perClass;
};

// The per-class figures come from counts per class, so that many classes cost memory in
// proportion to their number; the matrix is kept only up to the limit.
ClassCounts CountClasses(const std::vector<int>& actual, const std::vector<int>& predicted,
                         int classes) {
    ClassCounts counts;
    const auto n = static_cast<std::size_t>(classes);
    if (classes <= kMostClassesInMatrix)
        counts.confusion.assign(n, std::vector<int>(n, 0));
    std::vector<int> predictedCount(n, 0), hits(n, 0);
    counts.perClass.assign(n, ClassFigures());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const int a = actual[i], p = predicted[i];
        counts.perClass[a].support += 1;
        predictedCount[p] += 1;
        if (a == p) {
            hits[a] += 1;
            counts.correct += 1;
        }
        if (!counts.confusion.empty())
            counts.confusion[a][p] += 1;
    }
    for (std::size_t c = 0; c < n; ++c) {
        ClassFigures& f = counts.perClass[c];
        const double hit = hits[c];
        f.precision = predictedCount[c] > 0 ? hit / predictedCount[c] : 0.0;
        f.recall = f.support > 0 ? hit / f.support : 0.0;
        const double sum = f.precision + f.recall;
        f.f1 = sum > 0.0 ? 2.0 * f.precision * f.recall / sum : 0.0;
    }
    return counts;
}

int ArgMaxOf(const std::vector<double>& values, int at, int width) {
    return ArgMax(values.data() + at, width);
}

std::string ClassName(const std::vector<std::string>& names, int c) {
    return names.empty() ? std::to_string(c) : names[static_cast<std::size_t>(c)];
}

// The confusion matrix (or a line saying why it is left out) and the per-class table.
void PrintClasses(std::ostream& out, const std::vector<std::string>& names, int classes,
                  const std::vector<std::vector<int>>& confusion,
                  const std::vector<ClassFigures>& perClass) {
    int width = 8;
    for (const std::string& name : names)
        width = std::max(width, static_cast<int>(name.size()) + 2);
    if (confusion.empty()) {
        out << "\nconfusion matrix left out: " << classes << " classes (more than "
            << kMostClassesInMatrix << ")\n";
    } else {
        out << "\nconfusion matrix (rows: actual class, columns: predicted class)\n";
        out << std::setw(width) << "";
        for (int c = 0; c < classes; ++c)
            out << std::setw(width) << ClassName(names, c);
        out << '\n';
        for (int a = 0; a < classes; ++a) {
            out << std::setw(width) << ClassName(names, a);
            for (int c = 0; c < classes; ++c)
                out << std::setw(width) << confusion[a][c];
            out << '\n';
        }
    }
    out << '\n'
        << std::left << std::setw(width) << "class"
        << "precision  recall     f1         support\n";
    for (int c = 0; c < classes; ++c) {
        const ClassFigures& f = perClass[c];
        out << std::setw(width) << ClassName(names, c) << std::setw(11) << f.precision
            << std::setw(11) << f.recall << std::setw(11) << f.f1 << f.support << '\n';
    }
    out << std::right;
}

nlohmann::ordered_json ClassesJson(const std::vector<std::string>& names, int classes,
                                   const std::vector<std::vector<int>>& confusion,
                                   const std::vector<ClassFigures>& perClass) {
    nlohmann::ordered_json j;
    if (names.empty())
        j["classes"] = classes;
    else
        j["classes"] = names;
    if (!confusion.empty())
        j["confusion"] = confusion;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (int c = 0; c < classes; ++c) {
        const ClassFigures& f = perClass[c];
        nlohmann::ordered_json entry;
        if (names.empty())
            entry["class"] = c;
        else
            entry["class"] = names[static_cast<std::size_t>(c)];
        entry["precision"] = f.precision;
        entry["recall"] = f.recall;
        entry["f1"] = f.f1;
        entry["support"] = f.support;
        list.push_back(entry);
    }
    j["per_class"] = list;
    return j;
}

}  // namespace

std::vector<int> TargetClasses(const Data& data) {
    const int outputs = data.MbrNdxOutputs;
    const int rows = data.MbrNdxDataRows;
    std::vector<double> target(static_cast<std::size_t>(outputs));
    std::set<double> values;
    for (int i = 0; i < rows && values.size() <= 2; ++i) {
        data.GetOutputRow(HeldRow(data, i), target.data());
        values.insert(target.begin(), target.end());
    }
    std::vector<int> classes;
    if (outputs == 1) {
        if (values.size() > 2 || !std::all_of(values.begin(), values.end(),
                                              [](double v) { return v == 0.0 || v == 1.0; })) {
            return classes;
        }
    } else if (values.size() != 2) {
        return classes;
    }
    const double high = outputs == 1 ? 1.0 : *values.rbegin();
    for (int i = 0; i < rows; ++i) {
        data.GetOutputRow(HeldRow(data, i), target.data());
        int cls = outputs == 1 ? static_cast<int>(target[0] == high) : -1;
        if (outputs > 1) {
            for (int k = 0; k < outputs; ++k) {
                if (target[k] != high)
                    continue;
                if (cls >= 0)
                    return {};  // two high targets: not one class per row
                cls = k;
            }
            if (cls < 0)
                return {};
        }
        classes.push_back(cls);
    }
    return classes;
}

Evaluation EvaluateOutputs(const Data& data, const RecallTable& table) {
    SYN_ASSERT(data.MbrNdxOutputs == table.outputs && data.MbrNdxDataRows == table.rows);
    Evaluation e;
    e.rows = table.rows;
    const int outputs = table.outputs;
    TErrorRMSObj rms(outputs);
    double squared = 0.0;
    double absolute = 0.0;
    std::vector<double> target(static_cast<std::size_t>(outputs));
    for (int i = 0; i < table.rows; ++i) {
        data.GetOutputRow(HeldRow(data, i), target.data());
        const double* output = table.Row(i);
        rms.AddPattern(target.data(), output);
        for (int k = 0; k < outputs; ++k) {
            const double d = output[k] - target[k];
            squared += d * d;
            absolute += std::fabs(d);
        }
    }
    const double cells = static_cast<double>(table.rows) * outputs;
    e.rms = rms.GetError();
    e.mse = squared / cells;
    e.mae = absolute / cells;

    const std::vector<int> actual = TargetClasses(data);
    if (actual.empty())
        return e;
    e.classification = true;
    e.classes = outputs == 1 ? 2 : outputs;
    std::vector<int> predicted(static_cast<std::size_t>(table.rows));
    for (int i = 0; i < table.rows; ++i)
        predicted[i] = PredictedClass(table.Row(i), outputs);
    ClassCounts counts = CountClasses(actual, predicted, e.classes);
    e.correct = counts.correct;
    e.confusion = std::move(counts.confusion);
    e.perClass = std::move(counts.perClass);
    e.accuracy = static_cast<double>(e.correct) / table.rows;
    return e;
}

std::vector<ColumnEvaluation> EvaluateColumns(const Data& data, const RecallTable& table,
                                              const Preparation& prep) {
    SYN_ASSERT(prep.Outputs() == table.outputs && data.MbrNdxOutputs == table.outputs);
    const int rows = table.rows;
    std::vector<std::vector<double>> targets(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        targets[i].resize(static_cast<std::size_t>(table.outputs));
        data.GetOutputRow(HeldRow(data, i), targets[i].data());
    }
    std::vector<ColumnEvaluation> columns;
    int at = 0;
    for (const PrepColumn& column : prep.columns) {
        if (column.role != ColumnRole::Target)
            continue;
        ColumnEvaluation c;
        c.name = column.name;
        c.classification = column.categorical;
        if (column.categorical && column.Width() == 0)
            continue;  // a text column without categories gives no output to judge
        if (column.categorical) {
            const int width = column.Width();
            std::vector<int> actual(static_cast<std::size_t>(rows)), predicted(actual.size());
            for (int i = 0; i < rows; ++i) {
                actual[i] = ArgMaxOf(targets[i], at, width);
                predicted[i] = ArgMax(table.Row(i) + at, width);
            }
            ClassCounts counts = CountClasses(actual, predicted, width);
            c.classNames = column.categories;
            c.correct = counts.correct;
            c.accuracy = static_cast<double>(counts.correct) / rows;
            c.confusion = std::move(counts.confusion);
            c.perClass = std::move(counts.perClass);
        } else {
            double sum = 0.0;
            for (int i = 0; i < rows; ++i)
                sum += column.Unscale(targets[i][at]);
            const double mean = sum / rows;
            double squared = 0.0, absolute = 0.0, spread = 0.0;
            for (int i = 0; i < rows; ++i) {
                const double target = column.Unscale(targets[i][at]);
                const double d = column.Unscale(table.Row(i)[at]) - target;
                squared += d * d;
                absolute += std::fabs(d);
                spread += (target - mean) * (target - mean);
            }
            c.rms = std::sqrt(squared / rows);
            c.mae = absolute / rows;
            c.r2Defined = spread > 0.0;
            c.r2 = c.r2Defined ? 1.0 - squared / spread : 0.0;
        }
        columns.push_back(std::move(c));
        at += column.Width();
    }
    return columns;
}

void PrintEvaluation(std::ostream& console, const Evaluation& e) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::setprecision(6);
    out << "rows      " << e.rows << '\n';
    out << "rms       " << e.rms << '\n';
    out << "mse       " << e.mse << '\n';
    out << "mae       " << e.mae << '\n';
    if (e.classification && e.columns.empty()) {
        out << "accuracy  " << e.accuracy << " (" << e.correct << " of " << e.rows << " rows)\n";
        PrintClasses(out, {}, e.classes, e.confusion, e.perClass);
    }
    for (const ColumnEvaluation& c : e.columns) {
        out << "\ntarget " << c.name << '\n';
        if (c.classification) {
            out << "accuracy  " << c.accuracy << " (" << c.correct << " of " << e.rows
                << " rows)\n";
            PrintClasses(out, c.classNames, static_cast<int>(c.classNames.size()), c.confusion,
                         c.perClass);
            continue;
        }
        out << "rms       " << c.rms << " (in the table's units)\n";
        out << "mae       " << c.mae << '\n';
        if (c.r2Defined)
            out << "r2        " << c.r2 << '\n';
        else
            out << "r2        none: the targets do not vary\n";
    }
    console << out.str();
}

nlohmann::ordered_json EvaluationJson(const Evaluation& e) {
    nlohmann::ordered_json j = {{"rows", e.rows}, {"rms", e.rms}, {"mse", e.mse}, {"mae", e.mae}};
    if (e.classification && e.columns.empty()) {
        j["accuracy"] = e.accuracy;
        j.update(ClassesJson({}, e.classes, e.confusion, e.perClass));
    }
    if (e.columns.empty())
        return j;
    nlohmann::ordered_json columns = nlohmann::ordered_json::array();
    for (const ColumnEvaluation& c : e.columns) {
        nlohmann::ordered_json column = {{"name", c.name}};
        if (c.classification) {
            column["accuracy"] = c.accuracy;
            column["correct"] = c.correct;
            column.update(ClassesJson(c.classNames, static_cast<int>(c.classNames.size()),
                                      c.confusion, c.perClass));
        } else {
            column["rms"] = c.rms;
            column["mae"] = c.mae;
            column["r2"] = c.r2Defined ? nlohmann::ordered_json(c.r2) : nlohmann::ordered_json();
        }
        columns.push_back(column);
    }
    j["targets"] = columns;
    return j;
}

void RunEvaluate(const EvaluateOptions& options, std::ostream& console) {
    std::unique_ptr<TBasicNetwork> network = LoadToolNetwork(options.networkFile);
    std::unique_ptr<Data> data = LoadToolDataSet(options.dataFile);
    CheckToolFit(*data, *network, options.dataFile, options.networkFile);
    if (data->MbrNdxOutputs == 0) {
        throw ToolError("Data set file " + options.dataFile +
                        " has no expected outputs to evaluate against");
    }
    Preparation prep;
    if (!options.prepFile.empty()) {
        prep = ReadPreparationFile(options.prepFile);
        if (prep.Inputs() != data->MbrNdxInputs) {
            throw ToolError("Data set file " + options.dataFile + " has " +
                            std::to_string(data->MbrNdxInputs) +
                            " inputs per row, but the preparation " + options.prepFile +
                            " describes " + std::to_string(prep.Inputs()));
        }
        if (prep.Outputs() != data->MbrNdxOutputs) {
            throw ToolError("Data set file " + options.dataFile + " has " +
                            std::to_string(data->MbrNdxOutputs) +
                            " expected outputs per row, but the preparation " + options.prepFile +
                            " describes " + std::to_string(prep.Outputs()));
        }
    }
    CheckFiniteRows(*data, options.dataFile);
    const RecallTable table = RecallRows(*network, *data);
    CheckFiniteOutputs(table, options.networkFile);
    Evaluation evaluation = EvaluateOutputs(*data, table);
    if (!options.prepFile.empty())
        evaluation.columns = EvaluateColumns(*data, table, prep);
    if (options.json) {
        console << EvaluationJson(evaluation).dump(2) << '\n';
    } else {
        PrintEvaluation(console, evaluation);
    }
    console.flush();
    if (!console)
        throw ToolError("cannot write to standard output");
}

void AddEvaluateCommand(CLI::App& app) {
    auto options = std::make_shared<EvaluateOptions>();
    CLI::App* cmd = app.add_subcommand(
        "evaluate", "Compare a network's outputs with a data set's expected outputs");
    cmd->add_option("network", options->networkFile, "Network file")->required();
    cmd->add_option("data", options->dataFile, "Data set file with expected outputs")->required();
    cmd->add_option("--prep", options->prepFile,
                    "Preparation of import: errors in the table's units and classes by name, "
                    "per target column");
    cmd->add_flag("--json", options->json, "Print the figures as one JSON object");
    cmd->callback([options] { RunEvaluate(*options, std::cout); });
}

}  // namespace synapsor
