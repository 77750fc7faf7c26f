#include "NeuralNets/ArcsIterators.h"

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "NeuralNets/ConnectedNetwork.h"

namespace synapsor {
namespace {

using Arc = std::pair<int, int>;  // (from-layer, from-neuron)

// Checks that the iterator stands on a consistent arc and returns it.
Arc Here(TArcsIterator& it) {
    EXPECT_TRUE(it.IsOnArc());
    EXPECT_TRUE(it.HasArc());
    return {it.GetFromLayer(), it.GetFromNode()};
}

void CheckCells(TArcsIterator& it, TBasicNetwork& net) {
    TBasicConnections* c = net.GetConnections(it.GetFromLayer(), it.GetToLayer());
    EXPECT_EQ(it.GetWeight(), &c->GetWeight(it.GetFromNode(), it.GetToNode()));
    EXPECT_EQ(it.GetFromNeuron(), net.GetLayer(it.GetFromLayer())->GetNeuron(it.GetFromNode()));
    EXPECT_EQ(it.GetToNeuron(), net.GetLayer(it.GetToLayer())->GetNeuron(it.GetToNode()));
}

std::vector<Arc> WalkForward(TInAllArcsIterator& it, TBasicNetwork& net) {
    std::vector<Arc> arcs;
    while (it.Next()) {
        CheckCells(it, net);
        arcs.push_back(Here(it));
    }
    EXPECT_FALSE(it.IsOnArc());
    return arcs;
}

std::vector<Arc> AllInto(TConnectedNetwork& net, int toLayer, int toNode) {
    std::unique_ptr<TInAllArcsIterator> it = net.NewInAllArcsIterator();
    it->Start(toLayer, toNode);
    EXPECT_FALSE(it->IsOnArc());
    return WalkForward(*it, net);
}

TEST(ConnectedNetworkTest, BuildsPlainLayersAndFullyConnectedMatrices) {
    const int sizes[3] = {1, 2, 3};
    TConnectedNetwork net(3, sizes);
    EXPECT_STREQ(net.GetTypeName(), "Connected");
    EXPECT_STREQ(net.GetLayer(0)->GetTypeName(), "Simple");
    EXPECT_STREQ(net.GetLayer(1)->GetTypeName(), "Input");
    EXPECT_STREQ(net.GetLayer(2)->GetTypeName(), "Simple");
    EXPECT_EQ(net.GetLayer(2)->numNodes, 3);
    EXPECT_FALSE(net.GetConnections(0, 2)->IsConnected());

    net.Connect(0, 2);
    TBasicConnections* c = net.GetConnections(0, 2);
    EXPECT_STREQ(c->GetConnectionsNType(), "FullyConnected");
    EXPECT_EQ(c->GetWeight(0, 2), 0.0);
    c->GetWeight(0, 2) = 4.0;
    net.Connect(0, 2);  // already connected: same matrix, same weights
    EXPECT_EQ(net.GetConnections(0, 2), c);
    EXPECT_EQ(c->GetWeight(0, 2), 4.0);
    EXPECT_NE(dynamic_cast<TConnInAllArcsIterator*>(net.NewInAllArcsIterator().get()), nullptr);
}

// Layers of 1, 2 and 3 neurons with the pairs (0 to 2) and (1 to 2) connected.
class ArcsIteratorsTest : public ::testing::Test {
  protected:
    ArcsIteratorsTest() : net(3, kSizes) {
        net.Connect(0, 2);
        net.Connect(1, 2);
    }
    static constexpr int kSizes[3] = {1, 2, 3};
    TConnectedNetwork net;
};

TEST_F(ArcsIteratorsTest, AllArcsWalkVisitsConnectedLayersInOrder) {
    EXPECT_EQ(AllInto(net, 2, 1), (std::vector<Arc>{{0, 0}, {1, 0}, {1, 1}}));

    // Started from the neuron itself, with the to-side reported.
    TConnInAllArcsIterator it(&net);
    it.Start(net.GetLayer(2)->GetNeuron(1));
    ASSERT_TRUE(it.Next());
    EXPECT_EQ(it.GetToLayer(), 2);
    EXPECT_EQ(it.GetToNode(), 1);
    EXPECT_FALSE(it.Prev());  // nothing before the first arc
    EXPECT_FALSE(it.IsOnArc());
}

TEST_F(ArcsIteratorsTest, AllArcsWalkSkipsUnconnectedPairsAndEmptyLayers) {
    net.Disconnect(1, 2);
    EXPECT_EQ(AllInto(net, 2, 1), (std::vector<Arc>{{0, 0}}));

    const int sizes[3] = {1, 0, 3};
    TConnectedNetwork empty(3, sizes);
    empty.Connect(0, 2);
    empty.Connect(1, 2);
    EXPECT_EQ(AllInto(empty, 2, 1), (std::vector<Arc>{{0, 0}}));

    // Nothing leads into the input layer.
    EXPECT_TRUE(AllInto(net, 1, 0).empty());
}

TEST_F(ArcsIteratorsTest, AllArcsWalkBackAfterRunningOffTheEnd) {
    TConnInAllArcsIterator it(&net);
    it.Start(2, 1);
    WalkForward(it, net);
    EXPECT_FALSE(it.Next());  // stays past the end
    std::vector<Arc> back;
    while (it.Prev()) {
        CheckCells(it, net);
        back.push_back(Here(it));
    }
    EXPECT_EQ(back, (std::vector<Arc>{{1, 1}, {1, 0}, {0, 0}}));
    ASSERT_TRUE(it.Next());  // and forward again from before the first arc
    EXPECT_EQ(Here(it), Arc(0, 0));
}

TEST_F(ArcsIteratorsTest, InLayerWalkGoesForwardAndBack) {
    const int sizes[3] = {1, 3, 2};
    TConnectedNetwork wide(3, sizes);
    wide.Connect(1, 2);
    TConnInLayerArcsIterator it(&wide);
    EXPECT_FALSE(it.IsOnArc());
    EXPECT_FALSE(it.Next());
    it.Start(2, 1, 1);
    EXPECT_TRUE(it.IsOnArc());
    EXPECT_EQ(it.fromValues, wide.GetLayer(1)->values.data());
    std::vector<int> nodes;
    while (it.Next()) {
        CheckCells(it, wide);
        nodes.push_back(it.GetFromNode());
    }
    EXPECT_EQ(nodes, (std::vector<int>{0, 1, 2}));
    nodes.clear();
    while (it.Prev()) {
        CheckCells(it, wide);
        nodes.push_back(it.GetFromNode());
    }
    EXPECT_EQ(nodes, (std::vector<int>{1, 0}));
    EXPECT_EQ(it.GetFromNode(), 0);  // a refused step stays put
}

TEST_F(ArcsIteratorsTest, WritingThroughTheIteratorChangesRecall) {
    // Bias neuron 1.0 in layer 0, inputs x1, x2 in layer 1, linear outputs in layer 2.
    net.GetLayer(0)->SetActFunction(ActBias);
    net.GetLayer(1)->SetActFunction(ActLinear);
    net.GetLayer(2)->SetActFunction(ActLinear);
    TConnInAllArcsIterator it(&net);
    it.Start(2, 1);
    const double written[3] = {0.5, 2.0, -1.0};  // bias, w1, w2 in walk order
    for (double w : written) {
        ASSERT_TRUE(it.Next());
        *it.GetWeight() = w;
    }
    const double input[2] = {3.0, 4.0};
    double output[3];
    net.Recall(input, output);
    EXPECT_DOUBLE_EQ(output[1], 2.5);  // 0.5 + 2*3 - 1*4
    EXPECT_DOUBLE_EQ(output[0], 0.0);  // other neurons untouched: all weights 0
}

TEST_F(ArcsIteratorsTest, ReservedSlotsAreFatal) {
    TConnInAllArcsIterator all(&net);
    TConnInLayerArcsIterator layer(&net);
    EXPECT_DEATH(all.Reserved7(), "Assertion failed: false");
    EXPECT_DEATH(all.Reserved9(), "Assertion failed: false");
    EXPECT_DEATH(layer.Reserved10(), "Assertion failed: false");
}

}  // namespace
}  // namespace synapsor
