#include "MLP/Tool/Prune.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <ostream>

#include "FileHandler/ParseTools.h"
#include "MLP/Common/OutputSet.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"
#include "NeuralNets/Layers.h"
#include "NeuralNets/NetworkEditing.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

namespace {

std::string Number(double value) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.6g", value);
    return buffer;
}

// A value as the user wrote it, as far as a double keeps it: the shortest text that reads back
// as the same double (1.0000000001 stays 1.0000000001, where six digits would say 1).
std::string Given(double value) {
    char buffer[64];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, value);
    return ec == std::errc() ? std::string(buffer, end) : Number(value);
}

std::string Padded(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string Weights(int count, const char* kind = "") {
    return std::to_string(count) + " " + kind + (count == 1 ? "weight" : "weights");
}

bool IsPruneable(TBasicConnections* conns) {
    return std::strcmp(conns->GetConnectionsNType(), "Pruneable") == 0;
}

struct Candidate {
    double magnitude;  // NaN weights sort last and are never below a threshold
    TBasicConnections* conns;
    int from;
    int to;
    std::size_t pair;
};

// Every existing weight of one matrix: the trainable ones become candidates, the frozen ones are
// counted.
class TIterateObjCollect : public TIterateObj {
  public:
    TIterateObjCollect(std::vector<Candidate>& out, std::size_t pairIndex)
        : candidates(out), pair(pairIndex) {}
    void Visit() override {
        if (!trainable) {
            frozen += 1;
            return;
        }
        const double magnitude = std::fabs(*weight);
        candidates.push_back(
            {std::isnan(magnitude) ? std::numeric_limits<double>::infinity() : magnitude, conns,
             from, to, pair});
    }

    std::vector<Candidate>& candidates;
    std::size_t pair;
    int frozen = 0;
};

// The existing weights leaving one neuron towards higher layers: the only ones the forward pass
// uses.
class TIterateObjUpwardWeights : public TIterateObj {
  public:
    explicit TIterateObjUpwardWeights(int layer) : sourceLayer(layer) {}
    void Visit() override {
        if (toLayer > sourceLayer)
            targets.push_back({toLayer, to, *weight});
        if (!trainable)
            frozen += 1;
    }
    struct Target {
        int layer;
        int neuron;
        double weight;
    };
    int sourceLayer;
    std::vector<Target> targets;
    int frozen = 0;
};

ActFunction EffectiveFunction(TBasicLayer* layer, int n) {
    return layer->actFn ? layer->actFn : layer->GetNeuron(n)->GetActFunction();
}

bool IsBiasNeuron(TBasicLayer* layer, int n) {
    return EffectiveFunction(layer, n) == ActBias;
}

// The existing weights into one neuron, split into those from bias neurons below it (summed: they
// give the neuron a constant net input) and all others (counted).
class TIterateObjInputs : public TIterateObj {
  public:
    explicit TIterateObjInputs(int layer) : targetLayer(layer) {}
    void Visit() override {
        if (!IsBiasNeuron(fromLayerPtr, from))
            others += 1;
        else if (fromLayer < targetLayer)
            biasNet += *weight;
    }
    int targetLayer;
    int others = 0;
    double biasNet = 0.0;
};

// The output of a neuron whose net input is the constant `net`, or nothing when it cannot be
// computed safely.
std::optional<double> ConstantOutput(TBasicLayer* layer, int n, double net) {
    // Away from the network's input position an input layer outputs zeros and applies nothing.
    if (dynamic_cast<TSimpleInputLayer*>(layer) != nullptr)
        return 0.0;
    const ActFunction fn = EffectiveFunction(layer, n);
    if (fn == nullptr || fn == ActError || fn == ActNull)
        return std::nullopt;
    TBasicNeuron* neuron = layer->GetNeuron(n);
    fn(neuron, net);
    const double value = *neuron->output;
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

// The weight from a bias neuron into (layer, neuron) that can take a constant input over, or
// null. Frozen weights keep their values.
double* FindBiasWeight(TBasicNetwork& network, int layer, int neuron) {
    for (int b = 0; b < layer; ++b) {
        TBasicLayer* from = network.GetLayer(b);
        TBasicConnections* conns = network.GetConnections(b, layer);
        if (!conns->IsConnected())
            continue;
        for (int k = 0; k < from->numNodes; ++k) {
            if (IsBiasNeuron(from, k) && conns->IsValid(k, neuron) && conns->IsTrainable(k, neuron))
                return &conns->GetWeight(k, neuron);
        }
    }
    return nullptr;
}

// A neuron whose only inputs come from bias neurons outputs a constant c. Removing it is exact
// when c is 0; otherwise c times each of its outgoing weights moves into a bias weight of the
// neuron it fed. Returns false (and changes nothing) when the neuron has other inputs, a frozen
// outgoing weight, or feeds a neuron without a bias weight to take its share.
bool FoldConstantNeuron(TBasicNetwork& network, int layer, int neuron) {
    TIterateObjInputs inputs(layer);
    network.IterateNodeInputs(inputs, layer, neuron, FMaskExists);
    if (inputs.others > 0)
        return false;
    const std::optional<double> constant =
        ConstantOutput(network.GetLayer(layer), neuron, inputs.biasNet);
    if (!constant)
        return false;
    if (*constant == 0.0)
        return true;
    TIterateObjUpwardWeights outputs(layer);
    network.IterateNodeOutputs(outputs, layer, neuron, FMaskExists);
    // A frozen weight was meant to stay as it is; the neuron stays with it.
    if (outputs.frozen > 0)
        return false;
    std::vector<double*> biasWeights;
    for (const auto& target : outputs.targets) {
        double* bias = FindBiasWeight(network, target.layer, target.neuron);
        if (bias == nullptr)
            return false;
        biasWeights.push_back(bias);
    }
    for (std::size_t i = 0; i < biasWeights.size(); ++i)
        *biasWeights[i] += *constant * outputs.targets[i].weight;
    return true;
}

int CountOutgoingWeights(TBasicNetwork& network, int layer, int neuron) {
    TIterateObjPruneNode counter;
    network.IterateNodeOutputs(counter, layer, neuron, FMaskExists);
    return counter.counter;
}

}  // namespace

void CheckPruneOptions(const PruneOptions& options) {
    if (options.threshold.has_value() == options.fraction.has_value())
        throw ToolError("give either --threshold or --fraction");
    if (options.threshold && !(*options.threshold >= 0.0))
        throw ToolError("the threshold must be 0 or more, not " + Given(*options.threshold));
    if (options.fraction && !(*options.fraction >= 0.0 && *options.fraction <= 1.0))
        throw ToolError("the fraction must lie between 0 and 1, not " + Given(*options.fraction));
}

std::vector<PairPruneReport> PruneWeights(TBasicNetwork& network, const PruneOptions& options) {
    CheckPruneOptions(options);
    std::vector<PairPruneReport> pairs;
    std::vector<Candidate> candidates;
    bool anyPruneable = false;
    // Candidates are gathered in position order: pairs in matrix order (from-layer outer), then
    // the matrix's own order (to-neuron outer, from-neuron inner). Ties go to the earlier one.
    for (int f = 0; f < network.GetNumLayers(); ++f) {
        for (int t = 0; t < network.GetNumLayers(); ++t) {
            TBasicConnections* conns = network.GetConnections(f, t);
            if (!conns->IsConnected())
                continue;
            PairPruneReport pair;
            pair.from = f;
            pair.to = t;
            pair.type = conns->GetConnectionsNType();
            pair.fullyConnected = !IsPruneable(conns);
            pair.before = conns->GetNumWeights(FMaskExists);
            if (!pair.fullyConnected) {
                anyPruneable = true;
                TIterateObjCollect collect(candidates, pairs.size());
                conns->Iterate(collect, FMaskExists);
                pair.frozenSkipped = collect.frozen;
            }
            pairs.push_back(pair);
        }
    }
    if (!anyPruneable)
        throw ToolError("the network has no pruneable weight matrix, so no weight can be pruned");

    std::size_t count = 0;
    if (options.threshold) {
        // Below the threshold, in position order.
        const auto below = std::stable_partition(
            candidates.begin(), candidates.end(),
            [&](const Candidate& c) { return c.magnitude < *options.threshold; });
        count = static_cast<std::size_t>(below - candidates.begin());
    } else {
        // The small tolerance keeps products such as 0.29 * 100 = 28.999999999999996 at 29.
        const double wanted = std::floor(*options.fraction * candidates.size() + 1e-9);
        count = std::min(candidates.size(), static_cast<std::size_t>(wanted));
        std::stable_sort(
            candidates.begin(), candidates.end(),
            [](const Candidate& a, const Candidate& b) { return a.magnitude < b.magnitude; });
    }
    for (std::size_t i = 0; i < count; ++i) {
        const Candidate& c = candidates[i];
        c.conns->Prune(c.from, c.to);
        pairs[c.pair].pruned += 1;
    }
    return pairs;
}

std::vector<LayerNodeReport> RemoveDeadNeurons(TBasicNetwork& network) {
    const int layers = network.GetNumLayers();
    const int inLayer = network.GetInLayer();
    const int outLayer = network.GetOutLayer();
    // original[L][k]: the position neuron k of layer L had before the first removal.
    std::vector<std::vector<int>> original(static_cast<std::size_t>(layers));
    std::vector<std::vector<int>> removed(static_cast<std::size_t>(layers));
    for (int L = 0; L < layers; ++L)
        for (int k = 0; k < network.GetLayer(L)->numNodes; ++k)
            original[L].push_back(k);
    auto remove = [&](int L, int n) {
        network.DeleteNode(L, n);
        removed[L].push_back(original[L][n]);
        original[L].erase(original[L].begin() + n);
    };
    // Layers from outLayer up are never computed into the output or never edited, like the
    // library's own node pruning; bias neurons are kept even without outgoing weights, which the
    // library's walk would delete.
    auto examined = [&](int L) { return L != inLayer && L < outLayer; };

    for (bool changed = true; changed;) {
        changed = false;
        // Top down: a neuron whose outgoing weights all led into neurons deleted just before goes
        // in the same pass.
        for (int L = outLayer - 1; L >= 0; --L) {
            if (!examined(L))
                continue;
            for (int n = network.GetLayer(L)->numNodes - 1; n >= 0; --n) {
                if (IsBiasNeuron(network.GetLayer(L), n) || CountOutgoingWeights(network, L, n) > 0)
                    continue;
                remove(L, n);
                changed = true;
            }
        }
        // Bottom up: a neuron whose other inputs came from neurons deleted just before becomes
        // constant and goes in the same pass.
        for (int L = 0; L < outLayer; ++L) {
            if (!examined(L))
                continue;
            for (int n = network.GetLayer(L)->numNodes - 1; n >= 0; --n) {
                if (IsBiasNeuron(network.GetLayer(L), n) || !FoldConstantNeuron(network, L, n))
                    continue;
                remove(L, n);
                changed = true;
            }
        }
    }

    std::vector<LayerNodeReport> report;
    for (int L = 0; L < layers; ++L) {
        if (removed[L].empty())
            continue;
        LayerNodeReport entry;
        entry.layer = L;
        entry.removed = removed[L];
        std::sort(entry.removed.begin(), entry.removed.end());
        entry.before = network.GetLayer(L)->numNodes + static_cast<int>(entry.removed.size());
        report.push_back(entry);
        // A layer without neurons keeps no weight matrices of zero cells.
        if (network.GetLayer(L)->numNodes == 0) {
            for (int other = 0; other < layers; ++other) {
                network.Disconnect(L, other);
                if (other != L)
                    network.Disconnect(other, L);
            }
        }
    }
    return report;
}

PruneReport PruneNetwork(TBasicNetwork& network, const PruneOptions& options) {
    PruneReport report;
    report.weightsBefore = network.GetNumWeights(FMaskExists);
    report.neuronsBefore = network.GetNumNeurons();
    report.pairs = PruneWeights(network, options);
    report.nodesKept = options.keepNodes;
    if (!options.keepNodes)
        report.layers = RemoveDeadNeurons(network);
    report.weightsAfter = network.GetNumWeights(FMaskExists);
    report.neuronsAfter = network.GetNumNeurons();
    return report;
}

void WritePruneReport(const PruneReport& report, std::ostream& out) {
    out << "From  To  Type            Weights  Pruned    Left\n";
    for (const PairPruneReport& pair : report.pairs) {
        out << Padded(std::to_string(pair.from), 4) << Padded(std::to_string(pair.to), 4) << "  "
            << pair.type << std::string(pair.type.size() < 14 ? 14 - pair.type.size() : 0, ' ')
            << Padded(std::to_string(pair.before), 9) << Padded(std::to_string(pair.pruned), 8)
            << Padded(std::to_string(pair.before - pair.pruned), 8) << '\n';
    }
    for (const PairPruneReport& pair : report.pairs) {
        const std::string where =
            "Layers " + std::to_string(pair.from) + " -> " + std::to_string(pair.to) + ": ";
        if (pair.fullyConnected)
            out << where << Weights(pair.before)
                << " skipped: a fully connected matrix cannot hold pruned weights\n";
        else if (pair.frozenSkipped > 0)
            out << where << Weights(pair.frozenSkipped, "frozen ")
                << " skipped: frozen weights are never pruned\n";
    }
    if (report.nodesKept) {
        out << "Neurons kept as they are (--keep-nodes)\n";
    } else if (report.layers.empty()) {
        out << "No neuron removed\n";
    } else {
        for (const LayerNodeReport& layer : report.layers) {
            out << "Layer " << layer.layer << ": removed " << layer.removed.size() << " of "
                << layer.before << " neurons (";
            for (std::size_t i = 0; i < layer.removed.size(); ++i)
                out << (i ? ", " : "") << layer.removed[i];
            out << "), " << layer.before - static_cast<int>(layer.removed.size()) << " left\n";
        }
    }
    out << "Weights: " << report.weightsBefore << " before, " << report.weightsAfter << " after\n";
    out << "Neurons: " << report.neuronsBefore << " before, " << report.neuronsAfter << " after\n";
}

void RunPrune(const PruneFiles& files, const PruneOptions& options, std::ostream& out,
              std::ostream& messages) {
    CheckPruneOptions(options);
    std::unique_ptr<TBasicNetwork> network = LoadToolNetwork(files.network);
    PruneReport report;
    try {
        report = PruneNetwork(*network, options);
    } catch (const ToolError& e) {
        throw ToolError(files.network + ": " + e.what());
    }
    FileTools tools;
    OutputSet outputs(out);
    outputs.AddInput(files.network);
    outputs.Add("network file", files.output,
                [&](std::ostream& stream) { tools.WriteNetwork(stream, network.get()); });
    outputs.Commit();
    std::ostream& reportStream = files.output.empty() || files.output == "-" ? messages : out;
    WritePruneReport(report, reportStream);
    reportStream.flush();
}

void AddPruneCommand(CLI::App& app) {
    auto files = std::make_shared<PruneFiles>();
    auto options = std::make_shared<PruneOptions>();
    auto threshold = std::make_shared<double>(0.0);
    auto fraction = std::make_shared<double>(0.0);
    CLI::App* sub = app.add_subcommand(
        "prune", "Prune small weights and the neurons left without use, and write the result");
    sub->add_option("network", files->network, "Network file to prune")->required();
    sub->add_option("-o,--output", files->output, "Network file to write (\"-\": standard output)")
        ->required();
    CLI::Option_group* how = sub->add_option_group("selection", "Which weights to prune");
    CLI::Option* byThreshold =
        how->add_option("--threshold", *threshold, "Prune the weights whose |w| is below T");
    CLI::Option* byFraction = how->add_option(
        "--fraction", *fraction, "Prune the fraction F (0 to 1) of the weights with smallest |w|");
    how->require_option(1);
    sub->add_flag("--keep-nodes", options->keepNodes, "Do not remove neurons");
    sub->callback([=] {
        if (*byThreshold)
            options->threshold = *threshold;
        if (*byFraction)
            options->fraction = *fraction;
        RunPrune(*files, *options, std::cout, std::cerr);
    });
}

}  // namespace synapsor
