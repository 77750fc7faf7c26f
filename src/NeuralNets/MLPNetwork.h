// TMLPNetwork ("MLP"): the multi-layer perceptron. Layer 0 is reserved for an optional bias
// neuron, layer 1 is the input layer and the higher layers are sigmoid gain layers connected in a
// chain, each from the layer below and, with a bias, from layer 0. Every connection is a
// pruneable matrix; weights start at 0.
#pragma once

#include <memory>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

class Data;
class TErrorObj;

class TMLPNetwork : public TBasicNetwork {
public:
    // The full network for numLayers real layers of sizes[0 .. numLayers-1] (sizes[0] inputs).
    TMLPNetwork(int numLayers, const int* sizes, bool hasBias);
    // Init(numLayers + 1) only; the caller (the network file reader) creates layers and
    // connections.
    TMLPNetwork(int numLayers, bool hasBias);

    const char* GetTypeName() const override { return "MLP"; }

    // Every row of `in` (its row capacity) with its inputs and the network's outputs.
    std::unique_ptr<Data> RecallData(Data* in);
    // The network's outputs only, one row per stored row of `in`; a null `in` raises TException
    // ("Null data pointer", "Null Pointer Parameter", "TQorm::RecallOutputOnly").
    void RecallOutputOnly(Data* in, std::unique_ptr<Data>* out);
    // Adds every row (row capacity) to `error`, which is not reset first; returns GetError().
    double ComputeError(Data* in, TErrorObj* error);

    bool hasBias;
};

}  // namespace synapsor
