#include "MLP/Tool/Info.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <ostream>

#include <nlohmann/json.hpp>

#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"
#include "NeuralNets/Layers.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

namespace {

// Magnitudes of the existing weights of one matrix and how many of them are frozen.
class TIterateObjWeightStats : public TIterateObj {
  public:
    void Visit() override {
        const double magnitude = std::fabs(*weight);
        if (count == 0 || magnitude < minAbs)
            minAbs = magnitude;
        maxAbs = std::max(maxAbs, magnitude);
        sumAbs += magnitude;
        count += 1;
        if (!trainable)
            frozen += 1;
    }

    int count = 0;
    int frozen = 0;
    double minAbs = 0.0;
    double maxAbs = 0.0;
    double sumAbs = 0.0;
};

std::string Number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

std::string Padded(const std::string& text, std::size_t width, bool right) {
    if (text.size() >= width)
        return text;
    const std::string pad(width - text.size(), ' ');
    return right ? pad + text : text + pad;
}

std::string LayerRole(TBasicNetwork& network, int index, ActFunction fn, int neurons) {
    if (index == network.GetInLayer())
        return "input";
    if (index == network.GetOutLayer())
        return "output";
    if (fn == ActBias && neurons > 0)
        return "bias";
    return index > network.GetOutLayer() ? "unused" : "hidden";
}

// "2" when every gain is the same, else the range "0.5 to 2".
std::string GainsText(const std::vector<double>& gains) {
    if (gains.empty())
        return "";
    const auto [lo, hi] = std::minmax_element(gains.begin(), gains.end());
    if (*lo == *hi)
        return Number(*lo);
    return Number(*lo) + " to " + Number(*hi);
}

}  // namespace

NetworkInfo DescribeNetwork(TBasicNetwork& network) {
    NetworkInfo info;
    info.type = network.GetTypeName();
    info.inputLayer = network.GetInLayer();
    info.outputLayer = network.GetOutLayer();
    const TFnRegistry& registry = *network.GetFnRegistry();

    for (int i = 0; i < network.GetNumLayers(); ++i) {
        TBasicLayer* layer = network.GetLayer(i);
        LayerInfo entry;
        entry.index = i;
        entry.type = layer->GetTypeName();
        entry.neurons = layer->numNodes;
        const ActFunction fn = layer->GetActFunction();
        entry.function = fn ? registry.GetName(fn) : "mixed";
        entry.role = LayerRole(network, i, fn, entry.neurons);
        if (fn == ActBias && entry.neurons > 0)
            info.biasLayers.push_back(i);
        bool allOne = true;
        for (int n = 0; n < layer->numNodes; ++n) {
            entry.gains.push_back(layer->GetNeuron(n)->GetGain());
            allOne = allOne && entry.gains.back() == 1.0;
        }
        if (allOne)
            entry.gains.clear();
        info.neurons += entry.neurons;
        info.layers.push_back(entry);
    }

    // Matrix order: the order in which the trainer and the file writer walk the pairs.
    for (int f = 0; f < network.GetNumLayers(); ++f) {
        for (int t = 0; t < network.GetNumLayers(); ++t) {
            TBasicConnections* conns = network.GetConnections(f, t);
            if (!conns->IsConnected())
                continue;
            TIterateObjWeightStats stats;
            conns->Iterate(stats, FMaskExists);
            ConnectionInfo entry;
            entry.from = f;
            entry.to = t;
            entry.type = conns->GetConnectionsNType();
            entry.cells = conns->NumFrom() * conns->NumTo();
            entry.existing = stats.count;
            entry.pruned = entry.cells - stats.count;
            entry.frozen = stats.frozen;
            entry.minAbs = stats.minAbs;
            entry.maxAbs = stats.maxAbs;
            entry.meanAbs = stats.count > 0 ? stats.sumAbs / stats.count : 0.0;
            info.existing += entry.existing;
            info.pruned += entry.pruned;
            info.frozen += entry.frozen;
            info.connections.push_back(entry);
        }
    }
    return info;
}

void WriteInfoText(const NetworkInfo& info, std::ostream& out) {
    const auto& layers = info.layers;
    auto neuronsOf = [&](int index) { return std::to_string(layers[index].neurons); };
    out << "Network type: " << info.type << '\n';
    out << "Input layer:  " << info.inputLayer << " (" << neuronsOf(info.inputLayer)
        << " neurons)\n";
    out << "Output layer: " << info.outputLayer << " (" << neuronsOf(info.outputLayer)
        << " neurons)\n";
    out << "Bias layer:   ";
    if (info.biasLayers.empty())
        out << "none";
    for (std::size_t i = 0; i < info.biasLayers.size(); ++i)
        out << (i ? ", " : "") << info.biasLayers[i];
    out << '\n';

    out << "\nLayer  Type    Role    Neurons  Function          Gain\n";
    for (const LayerInfo& layer : layers) {
        out << Padded(std::to_string(layer.index), 5, true) << "  " << Padded(layer.type, 6, false)
            << "  " << Padded(layer.role, 6, false) << "  "
            << Padded(std::to_string(layer.neurons), 7, true) << "  ";
        const std::string gains = GainsText(layer.gains);
        out << (gains.empty() ? layer.function : Padded(layer.function, 16, false) + "  " + gains)
            << '\n';
    }

    out << "\nFrom  To  Type            Weights  Pruned  Frozen  Min |w|       Max |w|       "
           "Mean |w|\n";
    if (info.connections.empty())
        out << "(no connected layers)\n";
    for (const ConnectionInfo& c : info.connections) {
        out << Padded(std::to_string(c.from), 4, true) << Padded(std::to_string(c.to), 4, true)
            << "  " << Padded(c.type, 14, false) << Padded(std::to_string(c.existing), 9, true)
            << Padded(std::to_string(c.pruned), 8, true)
            << Padded(std::to_string(c.frozen), 8, true) << "  ";
        if (c.existing == 0)
            out << "-             -             -";
        else
            out << Padded(Number(c.minAbs), 12, false) << "  "
                << Padded(Number(c.maxAbs), 12, false) << "  " << Number(c.meanAbs);
        out << '\n';
    }

    out << "\nTotal: " << layers.size() << " layers, " << info.neurons << " neurons, "
        << info.existing << " weights (" << info.existing - info.frozen << " trainable, "
        << info.frozen << " frozen), " << info.pruned << " pruned\n";
}

void WriteInfoJson(const NetworkInfo& info, std::ostream& out) {
    nlohmann::ordered_json root;
    root["type"] = info.type;
    root["input_layer"] = info.inputLayer;
    root["output_layer"] = info.outputLayer;
    root["bias_layers"] = info.biasLayers;
    nlohmann::ordered_json layers = nlohmann::ordered_json::array();
    for (const LayerInfo& layer : info.layers) {
        nlohmann::ordered_json entry;
        entry["index"] = layer.index;
        entry["type"] = layer.type;
        entry["role"] = layer.role;
        entry["neurons"] = layer.neurons;
        entry["function"] = layer.function;
        if (!layer.gains.empty())
            entry["gains"] = layer.gains;
        layers.push_back(entry);
    }
    root["layers"] = layers;
    nlohmann::ordered_json connections = nlohmann::ordered_json::array();
    for (const ConnectionInfo& c : info.connections) {
        nlohmann::ordered_json entry;
        entry["from"] = c.from;
        entry["to"] = c.to;
        entry["type"] = c.type;
        entry["cells"] = c.cells;
        entry["existing"] = c.existing;
        entry["pruned"] = c.pruned;
        entry["frozen"] = c.frozen;
        if (c.existing > 0) {
            entry["min_abs"] = c.minAbs;
            entry["max_abs"] = c.maxAbs;
            entry["mean_abs"] = c.meanAbs;
        } else {
            entry["min_abs"] = nullptr;
            entry["max_abs"] = nullptr;
            entry["mean_abs"] = nullptr;
        }
        connections.push_back(entry);
    }
    root["connections"] = connections;
    nlohmann::ordered_json totals;
    totals["layers"] = info.layers.size();
    totals["neurons"] = info.neurons;
    totals["existing"] = info.existing;
    totals["trainable"] = info.existing - info.frozen;
    totals["frozen"] = info.frozen;
    totals["pruned"] = info.pruned;
    root["totals"] = totals;
    out << root.dump(2) << '\n';
}

void RunInfo(const InfoOptions& options, std::ostream& out) {
    std::unique_ptr<TBasicNetwork> network = LoadToolNetwork(options.network);
    const NetworkInfo info = DescribeNetwork(*network);
    if (options.json)
        WriteInfoJson(info, out);
    else
        WriteInfoText(info, out);
    out.flush();
    if (!out)
        throw ToolError("cannot write the report to standard output");
}

void AddInfoCommand(CLI::App& app) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* sub = app.add_subcommand(
        "info", "Describe a network file: layers, functions, weights left, pruned and frozen");
    sub->add_option("network", options->network, "Network file")->required();
    sub->add_flag("--json", options->json, "Write the report as one JSON object");
    sub->callback([options] { RunInfo(*options, std::cout); });
}

}  // namespace synapsor
