// Small networks for the core tests: layer 0 is one bias neuron, layer 1 an input layer, the
// layers above plain layers with linear neurons. No pair is connected.
#pragma once

#include <memory>
#include <vector>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

inline std::unique_ptr<TBasicNetwork> MakeLinearNet(const std::vector<int>& sizes) {
    const int n = static_cast<int>(sizes.size());
    auto net = std::make_unique<TBasicNetwork>(n);
    for (int i = 0; i < n; ++i) {
        TBasicLayer* layer = nullptr;
        if (i == 1) {
            layer = new TSimpleInputLayer(net.get(), i, sizes[i]);
        } else {
            layer = new TSimpleLayer(net.get(), i, sizes[i]);
            layer->SetActFunction(i == 0 ? ActBias : ActLinear);
        }
        net->SetLayer(i, layer);
    }
    return net;
}

}  // namespace synapsor
