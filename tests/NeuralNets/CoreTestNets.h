// Small networks for the core tests: layer 0 is one bias neuron, layer 1 an input layer, the
// layers above plain layers with linear neurons. No pair is connected.
#pragma once

#include <cstdlib>
#include <memory>
#include <vector>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

// How many numbers `call` draws from rand(): it runs from a fixed seed, and the number drawn next
// is looked up in the sequence from that seed (more than 64 draws count as 65).
template <class Call>
int NumbersDrawn(Call call) {
    std::srand(1234);
    call();
    const int next = std::rand();
    std::srand(1234);
    int k = 0;
    while (k <= 64 && std::rand() != next)
        ++k;
    return k;
}

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

// A weight matrix of a class of its own: every weight exists, no flags, and it keeps the
// visitor routes of TBasicConnections (counting, copying, AddNetInputs through IterateTo).
class TDenseTestConnections : public TBasicConnections {
  public:
    TDenseTestConnections(TBasicNetwork* owner, int from, int to)
        : TBasicConnections(owner, from, to), w(NumFrom() * NumTo(), 0.0) {}

    double& GetWeight(int from, int to) override { return w[to * NumFrom() + from]; }
    bool IsValid(int, int) override { return true; }
    void IterateTo(TIterateObj& v, int to, int) override {
        Bind(v);
        for (int from = 0; from < NumFrom(); ++from)
            VisitOne(v, from, to);
    }
    void IterateFrom(TIterateObj& v, int from, int) override {
        Bind(v);
        for (int to = 0; to < NumTo(); ++to)
            VisitOne(v, from, to);
    }
    void Iterate(TIterateObj& v, int) override {
        Bind(v);
        for (int to = 0; to < NumTo(); ++to)
            for (int from = 0; from < NumFrom(); ++from)
                VisitOne(v, from, to);
    }
    void Iterate2(TIterateObj2& v, TBasicNetwork* second, int) override {
        v.Bind(network, second, fromLayer, toLayer);
    }
    void Iterate3(TIterateObj3& v, TBasicNetwork* second, TBasicNetwork* third, int) override {
        v.Bind(network, second, third, fromLayer, toLayer);
    }
    const char* GetConnectionsNType() const override {
        static const char kType[] = "DenseTest";
        return kType;
    }
    void Destroy() override { delete this; }
    TBasicConnections* Clone(TBasicNetwork* owner) override {
        auto* x = new TDenseTestConnections(owner, fromLayer, toLayer);
        x->w = w;
        return x;
    }
    void RemoveFromNeuron(int) override {}
    void RemoveToNeuron(int) override {}

    std::vector<double> w;

  private:
    void Bind(TIterateObj& v) { v.Bind(network->GetLayer(fromLayer), network->GetLayer(toLayer)); }
    void VisitOne(TIterateObj& v, int from, int to) {
        v.from = from;
        v.to = to;
        v.weight = &GetWeight(from, to);
        v.trainable = true;
        v.Visit();
    }
};

}  // namespace synapsor
