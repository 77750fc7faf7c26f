#include "MLP/Tool/Recall.h"

#include <cmath>
#include <iostream>

#include "Common/Assert.h"
#include "FileHandler/Filer.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/OutputSet.h"
#include "MLP/Tool/CsvWriter.h"
#include "MLP/Tool/DataSetOutput.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

int HeldRow(const Data& data, int i) {
    return (data.GetFirst() + i) % data.MbrNdxRows;
}

RecallTable RecallRows(TBasicNetwork& network, const Data& data) {
    RecallTable table;
    table.rows = data.MbrNdxDataRows;
    table.outputs = network.GetLayer(network.GetOutLayer())->numNodes;
    const int inputs = network.GetLayer(network.GetInLayer())->numNodes;
    SYN_ASSERT(data.MbrNdxInputs == inputs);
    table.values.resize(static_cast<std::size_t>(table.rows) * table.outputs);
    std::vector<double> input(static_cast<std::size_t>(inputs));
    for (int i = 0; i < table.rows; ++i) {
        if (inputs > 0)
            data.GetInputRow(HeldRow(data, i), input.data());
        network.Recall(input.data(),
                       table.values.data() + static_cast<std::size_t>(i) * table.outputs);
    }
    return table;
}

void CheckFiniteRows(const Data& data, const std::string& dataFile) {
    const std::string nonFinite = FindNonFinite(data, dataFile, DataSetRole::Input);
    if (!nonFinite.empty())
        throw ToolError(nonFinite);
}

void CheckFiniteOutputs(const RecallTable& table, const std::string& networkFile) {
    for (int i = 0; i < table.rows; ++i) {
        const double* output = table.Row(i);
        for (int k = 0; k < table.outputs; ++k) {
            if (!std::isfinite(output[k])) {
                throw ToolError("Network file " + networkFile + " gives output " +
                                std::to_string(k + 1) + " of row " + std::to_string(i + 1) +
                                " as " +
                                (std::isnan(output[k]) ? "nan"
                                 : output[k] < 0       ? "-inf"
                                                       : "inf") +
                                ", not a finite number");
            }
        }
    }
}

int ArgMax(const double* values, int count) {
    int best = 0;
    for (int k = 1; k < count; ++k) {
        if (values[k] > values[best])
            best = k;
    }
    return best;
}

std::unique_ptr<Data> MakeResultDataSet(const Data& data, const RecallTable& table) {
    const bool withErrors = data.MbrNdxOutputs > 0;
    SYN_ASSERT(!withErrors || data.MbrNdxOutputs == table.outputs);
    auto result =
        std::make_unique<Data>(table.rows, table.outputs, withErrors ? table.outputs : 0, false);
    std::vector<double> target(static_cast<std::size_t>(table.outputs));
    std::vector<double> error(static_cast<std::size_t>(table.outputs));
    for (int i = 0; i < table.rows; ++i) {
        const double* output = table.Row(i);
        if (withErrors) {
            data.GetOutputRow(HeldRow(data, i), target.data());
            for (int k = 0; k < table.outputs; ++k)
                error[k] = output[k] - target[k];
        }
        result->AppendRow(output, withErrors ? error.data() : nullptr, nullptr);
    }
    return result;
}

void WriteRecallDataSet(std::ostream& out, Data& data, const RecallTable& table) {
    std::unique_ptr<Data> result = MakeResultDataSet(data, table);
    WriteDataSetText(out, &data, result.get());
}

void WriteRecallCsv(std::ostream& out, const RecallTable& table) {
    CsvWriter csv(out);
    const bool argmax = table.outputs >= 2;
    csv.Field("row");
    for (int k = 0; k < table.outputs; ++k)
        csv.Field("output_" + std::to_string(k));
    if (argmax)
        csv.Field("argmax");
    csv.EndRow();
    for (int i = 0; i < table.rows; ++i) {
        const double* output = table.Row(i);
        csv.Number(static_cast<long long>(i) + 1);
        for (int k = 0; k < table.outputs; ++k)
            csv.Number(output[k]);
        if (argmax)
            csv.Number(static_cast<long long>(ArgMax(output, table.outputs)));
        csv.EndRow();
    }
}

void RunRecall(const RecallOptions& options, std::ostream& console) {
    std::unique_ptr<TBasicNetwork> network = LoadToolNetwork(options.networkFile);
    std::unique_ptr<Data> data = LoadToolDataSet(options.dataFile);
    CheckToolFit(*data, *network, options.dataFile, options.networkFile);
    CheckFiniteRows(*data, options.dataFile);
    const RecallTable table = RecallRows(*network, *data);
    CheckFiniteOutputs(table, options.networkFile);
    OutputSet outputs(console);
    outputs.AddInput(options.networkFile);
    outputs.AddInput(options.dataFile);
    if (!options.dataSetOutput.empty()) {
        outputs.Add("data set file", options.dataSetOutput,
                    [&](std::ostream& out) { WriteRecallDataSet(out, *data, table); });
    }
    if (!options.csvOutput.empty() || options.dataSetOutput.empty()) {
        outputs.Add("CSV file", options.csvOutput,
                    [&](std::ostream& out) { WriteRecallCsv(out, table); });
    }
    outputs.Commit();
}

void AddRecallCommand(CLI::App& app) {
    auto options = std::make_shared<RecallOptions>();
    CLI::App* cmd = app.add_subcommand(
        "recall", "Run every row of a data set through a network and write the outputs");
    cmd->add_option("network", options->networkFile, "Network file")->required();
    cmd->add_option("data", options->dataFile, "Data set file (expected outputs optional)")
        ->required();
    cmd->add_option("-o,--output", options->dataSetOutput,
                    "Write a data set file: the rows unchanged plus the outputs and errors as "
                    "its second data set");
    cmd->add_option("--csv", options->csvOutput,
                    "Write the outputs as CSV to this file (the default, to standard output)");
    cmd->callback([options] { RunRecall(*options, std::cout); });
}

}  // namespace synapsor
