// synapsor-tool create: a new network with random starting weights that the trainer reads as it
// is. The layers are the input layer, the hidden layers and the output layer, each fully
// connected to the next, and a bias neuron (layer 0) connected to every computed layer unless
// the bias is turned off. The same seed gives the same network, and the same file, everywhere.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

struct CreateOptions {
    std::vector<int> layers;         // neurons per layer, input layer first
    std::string hidden = "sigmoid";  // registry name of the hidden layers' function
    std::string output = "sigmoid";  // registry name of the output layer's function
    bool bias = true;
    std::string type = "mlp";     // "mlp", "basic" or "connected"
    std::string init = "fan-in";  // "fan-in" or "uniform"
    std::optional<double> range;  // uniform only: weights from [-range, range); 0.5 when absent
    std::optional<std::uint64_t> seed;
    std::string file;  // destination; "-" for standard output
};

// "13,8,3" as sizes; throws ToolError naming what is wrong (a size that is not a positive whole
// number, fewer than two sizes).
std::vector<int> ParseLayerList(const std::string& text);

// A seed of 0 to 2^64 - 1, written in decimal; anything else throws ToolError.
std::uint64_t ParseSeed(const std::string& text);

// The network the options describe, its weights drawn from the generator seeded with seed.
// Throws ToolError for unusable options (unknown or untrainable function, bad sizes or range).
std::unique_ptr<TBasicNetwork> BuildNetwork(const CreateOptions& options, std::uint64_t seed);

// Builds the network and writes it to options.file (or `console`). Without a seed in the options
// a fresh one is drawn and reported on `log`, so the file can be made again.
void RunCreate(const CreateOptions& options, std::ostream& console, std::ostream& log);

}  // namespace synapsor
