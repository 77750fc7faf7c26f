// synapsor-tool info: what a network file holds. DescribeNetwork gathers the figures (layers with
// their functions and gains, every connected pair of layers with its existing, pruned and frozen
// weights and their magnitudes, the totals); the writers print them as text for people or as a
// JSON object for scripts. Nothing is changed in the network except the layers' cached common
// activation functions.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

struct LayerInfo {
    int index = 0;
    std::string type;  // "Simple", "Input", "Gain"
    std::string role;  // "bias", "input", "hidden", "output", or "unused" above the output
    int neurons = 0;
    std::string function;       // registry name of the common function, or "mixed"
    std::vector<double> gains;  // every neuron's gain; empty when all of them are 1
};

struct ConnectionInfo {
    int from = 0;
    int to = 0;
    std::string type;  // "FullyConnected" or "Pruneable"
    int cells = 0;     // neurons of the from-layer times neurons of the to-layer
    int existing = 0;
    int pruned = 0;  // cells without a connection
    int frozen = 0;  // existing but not trainable
    // Over the existing weights; all 0 when none exists.
    double minAbs = 0.0;
    double maxAbs = 0.0;
    double meanAbs = 0.0;
};

struct NetworkInfo {
    std::string type;
    int inputLayer = 0;
    int outputLayer = 0;
    std::vector<int> biasLayers;  // layers of neurons with the common function "bias"
    std::vector<LayerInfo> layers;
    std::vector<ConnectionInfo> connections;  // connected pairs, from-layer outer, to-layer inner
    int neurons = 0;
    int existing = 0;
    int pruned = 0;
    int frozen = 0;
};

NetworkInfo DescribeNetwork(TBasicNetwork& network);
void WriteInfoText(const NetworkInfo& info, std::ostream& out);
void WriteInfoJson(const NetworkInfo& info, std::ostream& out);

struct InfoOptions {
    std::string network;
    bool json = false;
};
void RunInfo(const InfoOptions& options, std::ostream& out);

}  // namespace synapsor
