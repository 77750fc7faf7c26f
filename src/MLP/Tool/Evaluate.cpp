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

void AddClassFigures(Evaluation& e) {
    e.perClass.assign(static_cast<std::size_t>(e.classes), ClassFigures());
    for (int c = 0; c < e.classes; ++c) {
        int predicted = 0;
        for (int a = 0; a < e.classes; ++a) {
            predicted += e.confusion[a][c];
            e.perClass[c].support += e.confusion[c][a];
        }
        const double hits = e.confusion[c][c];
        ClassFigures& f = e.perClass[c];
        f.precision = predicted > 0 ? hits / predicted : 0.0;
        f.recall = f.support > 0 ? hits / f.support : 0.0;
        const double sum = f.precision + f.recall;
        f.f1 = sum > 0.0 ? 2.0 * f.precision * f.recall / sum : 0.0;
    }
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
    e.confusion.assign(static_cast<std::size_t>(e.classes),
                       std::vector<int>(static_cast<std::size_t>(e.classes), 0));
    for (int i = 0; i < table.rows; ++i) {
        const int predicted = PredictedClass(table.Row(i), outputs);
        e.confusion[actual[i]][predicted] += 1;
        e.correct += actual[i] == predicted ? 1 : 0;
    }
    e.accuracy = static_cast<double>(e.correct) / table.rows;
    AddClassFigures(e);
    return e;
}

void PrintEvaluation(std::ostream& console, const Evaluation& e) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << std::setprecision(6);
    out << "rows      " << e.rows << '\n';
    out << "rms       " << e.rms << '\n';
    out << "mse       " << e.mse << '\n';
    out << "mae       " << e.mae << '\n';
    if (e.classification) {
        out << "accuracy  " << e.accuracy << " (" << e.correct << " of " << e.rows << " rows)\n";
        out << "\nconfusion matrix (rows: actual class, columns: predicted class)\n";
        out << std::setw(8) << "";
        for (int c = 0; c < e.classes; ++c)
            out << std::setw(8) << c;
        out << '\n';
        for (int a = 0; a < e.classes; ++a) {
            out << std::setw(8) << a;
            for (int c = 0; c < e.classes; ++c)
                out << std::setw(8) << e.confusion[a][c];
            out << '\n';
        }
        out << "\nclass   precision  recall     f1         support\n";
        for (int c = 0; c < e.classes; ++c) {
            const ClassFigures& f = e.perClass[c];
            out << std::left << std::setw(8) << c << std::setw(11) << f.precision << std::setw(11)
                << f.recall << std::setw(11) << f.f1 << f.support << std::right << '\n';
        }
    }
    console << out.str();
}

nlohmann::ordered_json EvaluationJson(const Evaluation& e) {
    nlohmann::ordered_json j = {{"rows", e.rows}, {"rms", e.rms}, {"mse", e.mse}, {"mae", e.mae}};
    if (!e.classification)
        return j;
    j["accuracy"] = e.accuracy;
    j["classes"] = e.classes;
    j["confusion"] = e.confusion;
    nlohmann::ordered_json perClass = nlohmann::ordered_json::array();
    for (int c = 0; c < e.classes; ++c) {
        const ClassFigures& f = e.perClass[c];
        perClass.push_back({{"class", c},
                            {"precision", f.precision},
                            {"recall", f.recall},
                            {"f1", f.f1},
                            {"support", f.support}});
    }
    j["per_class"] = perClass;
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
    const Evaluation evaluation = EvaluateOutputs(*data, RecallRows(*network, *data));
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
    cmd->add_flag("--json", options->json, "Print the figures as one JSON object");
    cmd->callback([options] { RunEvaluate(*options, std::cout); });
}

}  // namespace synapsor
