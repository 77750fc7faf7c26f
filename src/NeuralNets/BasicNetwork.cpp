#include "NeuralNets/BasicNetwork.h"

#include <algorithm>

#include "Common/Assert.h"
#include "NeuralNets/ArcsIterators.h"
#include "NeuralNets/PrunedConnections.h"

namespace synapsor {

TBasicNetwork::TBasicNetwork() = default;

TBasicNetwork::TBasicNetwork(int n) {
    Init(n);
}

TBasicNetwork::TBasicNetwork(const TBasicNetwork& x) {
    CopyFrom(x);
}

TBasicNetwork& TBasicNetwork::operator=(const TBasicNetwork& x) {
    if (this == &x)
        return *this;
    DestroyConnections();
    layers.clear();
    fnRegistry.reset();
    CopyFrom(x);
    return *this;
}

TBasicNetwork::~TBasicNetwork() {
    DestroyConnections();
    layers.clear();  // empty slots of a network that was never completed are skipped
    fnRegistry.reset();
}

void TBasicNetwork::Init(int n) {
    SYN_ASSERT(n >= 0);
    DestroyConnections();
    n_layers = n;
    inLayer = 1;
    outLayer = n - 1;
    layers.clear();
    layers.resize(n);  // every slot null until the builder stores a layer
    priv_conns.assign(static_cast<size_t>(n) * n, nullptr);
    for (int to = 0; to < n; ++to)
        for (int from = 0; from < n; ++from)
            priv_conns[static_cast<size_t>(to) * n + from] = new TEmptyConnections(this, from, to);
    IndexRows();
    fnRegistry = std::make_unique<TFnRegistry>();
    fnRegistry->RegisterDefaults();
}

void TBasicNetwork::CopyFrom(const TBasicNetwork& x) {
    n_layers = x.n_layers;
    inLayer = x.inLayer;
    outLayer = x.outLayer;
    layers.clear();
    layers.resize(n_layers);
    for (int i = 0; i < n_layers; ++i)
        if (x.layers[i] != nullptr)
            layers[i].reset(x.layers[i]->Clone(this));
    priv_conns.assign(x.priv_conns.size(), nullptr);
    for (size_t i = 0; i < priv_conns.size(); ++i) {
        // clang-format off
        SYN_ASSERT(x.priv_conns[i] != NULL);
        // clang-format on
        priv_conns[i] = x.priv_conns[i]->Clone(this);
    }
    IndexRows();
    fnRegistry = std::make_unique<TFnRegistry>();
    fnRegistry->RegisterDefaults();
}

void TBasicNetwork::DestroyConnections() {
    for (TBasicConnections* c : priv_conns)
        if (c != nullptr)
            c->Destroy();
    priv_conns.clear();
    priv_conns_index.clear();
}

void TBasicNetwork::IndexRows() {
    priv_conns_index.resize(n_layers);
    for (int t = 0; t < n_layers; ++t)
        priv_conns_index[t] = priv_conns.data() + static_cast<size_t>(t) * n_layers;
}

int TBasicNetwork::GetNumWeights(int maskFilter) {
    int total = 0;
    for (int f = 0; f < n_layers; ++f)
        for (int t = 0; t < n_layers; ++t)
            total += priv_conns_index[t][f]->GetNumWeights(maskFilter);
    return total;
}

int TBasicNetwork::GetWeights(double* buffer, int maskFilter) {
    int total = 0;
    for (int f = 0; f < n_layers; ++f)
        for (int t = 0; t < n_layers; ++t)
            total += priv_conns_index[t][f]->GetWeights(buffer + total, maskFilter);
    return total;
}

int TBasicNetwork::SetWeights(const double* buffer, int maskFilter) {
    int total = 0;
    for (int f = 0; f < n_layers; ++f)
        for (int t = 0; t < n_layers; ++t)
            total += priv_conns_index[t][f]->SetWeights(buffer + total, maskFilter);
    return total;
}

void TBasicNetwork::RandomizeWeights(double lo, double hi) {
    for (int f = 0; f < n_layers; ++f)
        for (int t = 0; t < n_layers; ++t)
            priv_conns_index[t][f]->Randomize(lo, hi);
}

void TBasicNetwork::Connect(int fromLayer, int toLayer) {
    SYN_ASSERT(fromLayer >= 0 && fromLayer < n_layers && toLayer >= 0 && toLayer < n_layers);
    if (priv_conns_index[toLayer][fromLayer]->IsConnected())
        return;
    SYN_ASSERT(layers[fromLayer] != nullptr && layers[toLayer] != nullptr);
    SetConnections(fromLayer, toLayer, new TPrunedConnections(this, fromLayer, toLayer));
}

void TBasicNetwork::Disconnect(int fromLayer, int toLayer) {
    SetConnections(fromLayer, toLayer, new TEmptyConnections(this, fromLayer, toLayer));
    // clang-format off
    SYN_ASSERT(priv_conns_index[toLayer][fromLayer] != NULL);
    // clang-format on
}

void TBasicNetwork::Recall(const double* input, double* output) {
    for (int i = 0; i < n_layers; ++i)
        layers[i]->Propagate(input);
    const TBasicLayer* out = layers[outLayer].get();
    std::copy(out->values.begin(), out->values.begin() + out->numNodes, output);
}

std::unique_ptr<TInAllArcsIterator> TBasicNetwork::NewInAllArcsIterator() {
    SYN_ASSERT(false);
}

int TBasicNetwork::GetNumNeurons() const {
    int total = 0;
    for (const auto& layer : layers)
        total += layer->numNodes;
    return total;
}

TBasicNeuron* TBasicNetwork::GetNeuron(int index) {
    // clang-format off
    SYN_ASSERT(index>=0);
    SYN_ASSERT(index<GetNumNeurons());
    // clang-format on
    int i = 0;
    while (index >= layers[i]->numNodes) {
        index -= layers[i]->numNodes;
        ++i;
    }
    return layers[i]->GetNeuron(index);
}

void TBasicNetwork::SetLayer(int i, TBasicLayer* layer) {
    SYN_ASSERT(i >= 0 && i < n_layers);
    layers[i].reset(layer);
}

void TBasicNetwork::SetConnections(int fromLayer, int toLayer, TBasicConnections* conns) {
    SYN_ASSERT(fromLayer >= 0 && fromLayer < n_layers && toLayer >= 0 && toLayer < n_layers);
    TBasicConnections*& cell = priv_conns_index[toLayer][fromLayer];
    if (cell == conns)
        return;
    if (cell != nullptr)
        cell->Destroy();
    cell = conns;
}

int TBasicNetwork::GetMissingLayer() const {
    for (int i = 0; i < n_layers; ++i)
        if (layers[i] == nullptr)
            return i;
    return -1;
}

}  // namespace synapsor
