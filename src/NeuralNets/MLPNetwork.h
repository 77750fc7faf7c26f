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

    // The three passes below walk the rows `in` holds, oldest first, and leave its cursor on the
    // newest. A data set whose rows deliver another number of inputs than the input layer has
    // neurons raises TException ("Bad Parameter"); `in` must not be null (fatal internal check)
    // unless stated otherwise.

    // A new data set of `in`'s row capacity holding every row's inputs and the network's outputs.
    std::unique_ptr<Data> RecallData(Data* in);
    // The network's outputs only, one row per held row of `in`, in a new data set stored into
    // *out before the first row is recalled; a null `in` raises TException ("Null data pointer",
    // "Null Pointer Parameter", "TQorm::RecallOutputOnly").
    void RecallOutputOnly(Data* in, std::unique_ptr<Data>* out);
    // Adds every row to `error`, which is not reset first; returns GetError(). The data set's
    // targets and the error object's outputs must match the output layer ("Bad Parameter").
    double ComputeError(Data* in, TErrorObj* error);

    bool hasBias;

  private:
    void CheckInputs(const Data& in, const char* location) const;
};

}  // namespace synapsor
