#include "NeuralNets/ConnectedNetwork.h"

#include "Common/Assert.h"
#include "NeuralNets/ArcsIterators.h"
#include "NeuralNets/ConnectedConnections.h"

namespace synapsor {

TConnectedNetwork::TConnectedNetwork(int n_layers) : TBasicNetwork(n_layers) {}

TConnectedNetwork::TConnectedNetwork(int n_layers, const int* sizes) : TBasicNetwork(n_layers) {
    SYN_ASSERT(sizes != nullptr);
    for (int i = 0; i < n_layers; ++i) {
        SYN_ASSERT(sizes[i] >= 0);
        if (i == inLayer)
            SetLayer(i, new TSimpleInputLayer(this, i, sizes[i]));
        else
            SetLayer(i, new TSimpleLayer(this, i, sizes[i]));
    }
}

void TConnectedNetwork::Connect(int fromLayer, int toLayer) {
    SYN_ASSERT(fromLayer >= 0 && fromLayer < n_layers);
    SYN_ASSERT(toLayer >= 0 && toLayer < n_layers);
    if (GetConnections(fromLayer, toLayer)->IsConnected())
        return;
    SetConnections(fromLayer, toLayer, new TConnectedConnections(this, fromLayer, toLayer));
}

std::unique_ptr<TInAllArcsIterator> TConnectedNetwork::NewInAllArcsIterator() {
    return std::make_unique<TConnInAllArcsIterator>(this);
}

}  // namespace synapsor
