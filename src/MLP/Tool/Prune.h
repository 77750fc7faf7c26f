// synapsor-tool prune: makes a trained network smaller. PruneWeights removes the existing,
// trainable weights of pruneable matrices whose magnitude is below a threshold, or a fraction of
// them with the smallest magnitudes (ties go by position, so the result is always the same);
// frozen weights and fully connected matrices are left as they are and reported. RemoveDeadNeurons
// then deletes the hidden neurons that contribute nothing, until none is left; input, output and
// bias neurons always stay. Bad options and a network without a pruneable matrix throw ToolError
// before anything changes.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

struct PruneOptions {
    std::optional<double> threshold;  // prune |w| < threshold
    std::optional<double> fraction;   // or this fraction of the candidates, smallest |w| first
    bool keepNodes = false;
};

struct PairPruneReport {
    int from = 0;
    int to = 0;
    std::string type;
    bool fullyConnected = false;  // skipped as a whole: such a matrix cannot hold a pruned weight
    int before = 0;               // existing weights before pruning
    int pruned = 0;
    int frozenSkipped = 0;  // frozen weights that were not considered
};

struct LayerNodeReport {
    int layer = 0;
    int before = 0;
    std::vector<int> removed;  // positions the removed neurons had before any removal, ascending
};

struct PruneReport {
    std::vector<PairPruneReport> pairs;
    std::vector<LayerNodeReport> layers;  // only layers that lost neurons
    int weightsBefore = 0;
    int weightsAfter = 0;
    int neuronsBefore = 0;
    int neuronsAfter = 0;
    bool nodesKept = false;
};

// Checks the options (exactly one of threshold and fraction, threshold not below 0, fraction in
// [0, 1]); throws ToolError with the reason.
void CheckPruneOptions(const PruneOptions& options);
// One entry per connected pair, in matrix order. Throws ToolError when the network has no
// pruneable matrix.
std::vector<PairPruneReport> PruneWeights(TBasicNetwork& network, const PruneOptions& options);
// Deletes, repeatedly until nothing changes, every hidden neuron without an outgoing weight and
// every hidden neuron without incoming weights other than from bias neurons, whose output is then
// a constant: such a neuron goes when that constant is 0, or when it can be folded into bias
// weights (every neuron it feeds has an existing, trainable weight from a bias neuron); otherwise
// it stays. The outputs change only by rounding, and not at all for the first kind.
// Layers left without neurons are disconnected. Returns the layers that lost neurons.
std::vector<LayerNodeReport> RemoveDeadNeurons(TBasicNetwork& network);
PruneReport PruneNetwork(TBasicNetwork& network, const PruneOptions& options);
void WritePruneReport(const PruneReport& report, std::ostream& out);

struct PruneFiles {
    std::string network;
    std::string output;
};
// Loads, prunes, writes the result through the network writer (atomically; "-" is standard
// output, and the report then goes to `messages`) and prints the report on `out`.
void RunPrune(const PruneFiles& files, const PruneOptions& options, std::ostream& out,
              std::ostream& messages);

}  // namespace synapsor
