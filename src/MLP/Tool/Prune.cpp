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
