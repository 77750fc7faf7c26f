// TConnectedNetwork ("Connected"): a network whose Connect creates fully connected weight
// matrices, and which hands out iterators over all arcs into one neuron.
#pragma once

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

class TConnectedNetwork : public TBasicNetwork {
  public:
    TConnectedNetwork() = default;  // no set-up: a derived class calls Init
    // Init(n_layers) only; the caller fills the layers.
    explicit TConnectedNetwork(int n_layers);
    // A TSimpleInputLayer at inLayer (1) and TSimpleLayers elsewhere, of sizes[i] neurons; no
    // pair connected and no function set.
    TConnectedNetwork(int n_layers, const int* sizes);

    void Connect(int fromLayer, int toLayer) override;
    const char* GetTypeName() const override { return "Connected"; }
    std::unique_ptr<TInAllArcsIterator> NewInAllArcsIterator() override;
};

}  // namespace synapsor
