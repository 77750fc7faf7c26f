#include "NeuralNets/Visitors.h"

#include <gtest/gtest.h>

#include <vector>

#include "CoreTestNets.h"

namespace synapsor {
namespace {

struct TPairRecorder : TIterateObj2 {
    void Visit() override {
        ASSERT_NE(weight, weight2);
        pairs.push_back({fromLayer, toLayer, from, to, *weight, *weight2, trainable});
        EXPECT_EQ(fromValues2, fromLayerPtr2->values.data());
        EXPECT_EQ(toLayerPtr2->layerNum, toLayer);
    }
    struct TPair {
        int fl, tl, from, to;
        double w, w2;
        bool trainable;
    };
    std::vector<TPair> pairs;
};

struct TTripleSum : TIterateObj3 {
    void Visit() override {
        *weight = *weight2 + *weight3;
        count += 1;
    }
    int count = 0;
};

// Drives a paired visitor the way the trainer does: from-layers outer, to-layers inner.
template <class TVisit>
void ForEachConnected(TBasicNetwork& net, TVisit visit) {
    for (int f = 0; f < net.GetNumLayers(); ++f)
        for (int t = 0; t < net.GetNumLayers(); ++t)
            if (net.GetConnections(f, t)->IsConnected())
                visit(net.GetConnections(f, t));
}

// 1 bias, 2 inputs, 1 output; weights b = 0.5 (0 -> 2), w = 1, 2 (1 -> 2).
std::unique_ptr<TBasicNetwork> MakeNet() {
    auto net = MakeLinearNet({1, 2, 1});
    Link(*net, 0, 2, {0.5});
    Link(*net, 1, 2, {1.0, 2.0});
    return net;
}

TEST(VisitorsTest, PairedVisitOfANetworkAndItsCopy) {
    auto net = MakeNet();
    net->GetConnections(1, 2)->SetUntrainable(0, 0);
    TBasicNetwork copy(*net);
    const double tenfold[3] = {5.0, 10.0, 20.0};
    copy.SetWeights(tenfold, FMaskExists);

    TPairRecorder v;
    ForEachConnected(*net, [&](TBasicConnections* c) { c->Iterate2(v, &copy, FMaskExists); });
    ASSERT_EQ(v.pairs.size(), 3u);
    EXPECT_EQ(v.pairs[0].fl, 0);
    EXPECT_EQ(v.pairs[0].w, 0.5);
    EXPECT_EQ(v.pairs[0].w2, 5.0);
    EXPECT_EQ(v.pairs[1].fl, 1);
    EXPECT_EQ(v.pairs[1].from, 0);
    EXPECT_FALSE(v.pairs[1].trainable);
    EXPECT_EQ(v.pairs[2].from, 1);
    EXPECT_EQ(v.pairs[2].w2, 20.0);
    EXPECT_TRUE(v.pairs[2].trainable);
    EXPECT_EQ(v.conns, net->GetConnections(1, 2));
    EXPECT_EQ(v.conns2, copy.GetConnections(1, 2));

    // Filter 0 skips the frozen weight.
    TPairRecorder trainableOnly;
    net->GetConnections(1, 2)->Iterate2(trainableOnly, &copy, 0);
    ASSERT_EQ(trainableOnly.pairs.size(), 1u);
    EXPECT_EQ(trainableOnly.pairs[0].from, 1);
}

TEST(VisitorsTest, TripleVisitWritesThroughTheFirstNetwork) {
    auto net = MakeNet();
    TBasicNetwork second(*net);
    TBasicNetwork third(*net);
    const double add[3] = {1.0, 2.0, 3.0};
    third.SetWeights(add, FMaskExists);
    TTripleSum v;
    ForEachConnected(*net, [&](TBasicConnections* c) { c->Iterate3(v, &second, &third, 0); });
    EXPECT_EQ(v.count, 3);
    double w[3];
    net->GetWeights(w, FMaskExists);
    EXPECT_EQ(std::vector<double>(w, w + 3), (std::vector<double>{1.5, 3.0, 5.0}));
    second.GetWeights(w, FMaskExists);
    EXPECT_EQ(std::vector<double>(w, w + 3), (std::vector<double>{0.5, 1.0, 2.0}));
}

TEST(VisitorsDeathTest, DifferentlyTypedMatricesCannotBePaired) {
    auto net = MakeNet();
    TBasicNetwork other(*net);
    other.SetConnections(1, 2, new TDenseTestConnections(&other, 1, 2));
    TPairRecorder v;
    EXPECT_DEATH(net->GetConnections(1, 2)->Iterate2(v, &other, 0),
                 "Assertion failed: conn1 -> GetConnectionsNType\\(\\) == conn2 -> "
                 "GetConnectionsNType\\(\\), file .*Visitors");
    TTripleSum v3;
    EXPECT_DEATH(net->GetConnections(1, 2)->Iterate3(v3, net.get(), &other, 0),
                 "Assertion failed: conn1 -> GetConnectionsNType\\(\\) == conn3 -> ");
    // The second network is the differently typed one: the check still holds both ways.
    EXPECT_DEATH(other.GetConnections(1, 2)->Iterate2(v, net.get(), 0),
                 "conn1 -> GetConnectionsNType\\(\\) == conn2");
}

}  // namespace
}  // namespace synapsor
