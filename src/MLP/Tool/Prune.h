// synapsor-tool prune: makes a trained network smaller. PruneWeights removes the existing,
// trainable weights of pruneable matrices whose magnitude is below a threshold, or a fraction of
// them with the smallest magnitudes (ties go by position, so the result is always the same);
// frozen weights and fully connected matrices are left as they are and reported. The library's
// RemoveDeadNeurons (NetworkEditing.h) then deletes the hidden neurons that contribute nothing,
// until none is left; input, output and bias neurons always stay. Bad options and a network without
// a pruneable matrix throw ToolError before anything changes.
#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/NetworkEditing.h"

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
