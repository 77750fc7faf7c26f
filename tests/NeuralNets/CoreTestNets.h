// Shared test helpers: small linear networks (layer 0 one bias neuron, layer 1 an input layer,
// the layers above plain linear layers, no pair connected), a weight visitor log, expected
// exceptions and a counter of random numbers drawn.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "Common/Exceptions.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Visitors.h"

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

// Connects f -> t and, if given, sets its weights in storage order (all from-neurons of to-neuron 0
// first). Returns the matrix.
inline TBasicConnections* Link(TBasicNetwork& net, int f, int t,
                               const std::vector<double>& w = {}) {
    net.Connect(f, t);
    TBasicConnections* c = net.GetConnections(f, t);
    if (!w.empty()) {
        EXPECT_EQ(c->SetWeights(w.data(), FMaskExists), static_cast<int>(w.size()));
    }
    return c;
}

inline double& W(TBasicNetwork& net, int f, int t, int from, int to) {
    return net.GetConnections(f, t)->GetWeight(from, to);
}

// The outputs of a forward pass, preset to -99 so that an unwritten output shows.
inline std::vector<double> RecallOf(TBasicNetwork& net, const std::vector<double>& x) {
    std::vector<double> y(net.GetLayer(net.GetOutLayer())->numNodes, -99.0);
    net.Recall(x.data(), y.data());
    return y;
}

// Calls visit(f, t, from, to) for every cell of every connected matrix, pairs and cells in order.
template <class Visit>
void ForEachCell(TBasicNetwork& net, Visit visit) {
    for (int f = 0; f < net.GetNumLayers(); f++)
        for (int t = 0; t < net.GetNumLayers(); t++)
            if (TBasicConnections* c = net.GetConnections(f, t); c->IsConnected())
                for (int to = 0; to < c->NumTo(); to++)
                    for (int from = 0; from < c->NumFrom(); from++)
                        visit(f, t, from, to);
}

// `call` must throw a TException with exactly this message, location and kind.
template <class Call>
void ExpectThrown(Call call, const char* message, const char* location,
                  const char* kind = "Bad Parameter") {
    try {
        call();
        ADD_FAILURE() << "no exception; expected " << message;
    } catch (const TException& e) {
        EXPECT_STREQ(e.GetMessage(), message);
        EXPECT_STREQ(e.GetKind(), kind);
        EXPECT_STREQ(e.GetLocation(), location);
    }
}

struct TVisit {
    int fromLayer, toLayer, from, to;
    double w;
    bool trainable;
};

// Logs every visit; each must point at the cell of the bound matrix that it names.
struct TVisitLog : TIterateObj {
    void Visit() override {
        EXPECT_EQ(weight, &conns->GetWeight(from, to));
        seen.push_back({fromLayer, toLayer, from, to, *weight, trainable});
    }
    // One field of every visit, e.g. Get(&TVisit::from).
    template <class T>
    std::vector<T> Get(T TVisit::*field) const {
        std::vector<T> out;
        for (const TVisit& v : seen)
            out.push_back(v.*field);
        return out;
    }
    std::vector<TVisit> seen;
};

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
