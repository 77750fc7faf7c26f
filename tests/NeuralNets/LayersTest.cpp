#include "NeuralNets/Layers.h"

#include <gtest/gtest.h>

#include <memory>

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {
namespace {

// Neuron i of `layer` belongs to it and writes into values[i].
void ExpectAttached(TBasicLayer& layer, int count) {
    ASSERT_GE(static_cast<int>(layer.values.size()), count);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(layer.GetNeuron(i)->layer, &layer) << i;
        EXPECT_EQ(layer.GetNeuron(i)->output, &layer.values[i]) << i;
    }
}

TEST(LayersTest, ConstructionSetsNeuronsAndTypeNames) {
    TSimpleLayer simple(nullptr, 3, 4);
    EXPECT_STREQ(simple.GetTypeName(), "Simple");
    EXPECT_EQ(simple.values, std::vector<double>(4, 0.0));
    ExpectAttached(simple, 4);
    EXPECT_EQ(simple.nodes[2].layerNum, 3);
    EXPECT_EQ(simple.nodes[2].nodeNum, 2);
    EXPECT_EQ(simple.nodes[2].actFn, ActError);
    EXPECT_EQ(simple.actFn, nullptr);
    EXPECT_EQ(simple.numDimensions, 0);

    TGainLayer gain(nullptr, 2, 2, 1.5);
    EXPECT_STREQ(gain.GetTypeName(), "Gain");
    EXPECT_EQ(gain.nodes[1].gain, 1.5);
    ExpectAttached(gain, 2);

    TSimpleInputLayer input(nullptr, 1, 3);
    EXPECT_STREQ(input.GetTypeName(), "Input");
    EXPECT_EQ(input.actFn, ActLinear);
    EXPECT_EQ(input.nodes[2].actFn, ActLinear);
}

TEST(LayersTest, CommonFunctionIsCachedAndReset) {
    TSimpleLayer empty(nullptr, 1, 0);
    EXPECT_EQ(empty.GetActFunction(), ActNull);
    EXPECT_EQ(empty.actFn, ActNull);
    empty.InsertNode(0);  // inherits the cached common function
    EXPECT_EQ(empty.nodes[0].actFn, ActNull);

    TSimpleLayer layer(nullptr, 1, 3);
    layer.nodes[0].SetActFunction(ActTanh);
    layer.nodes[1].SetActFunction(ActTanh);
    layer.nodes[2].SetActFunction(ActLinear);
    EXPECT_EQ(layer.GetActFunction(), nullptr);
    EXPECT_EQ(layer.actFn, nullptr);
    layer.nodes[2].SetActFunction(ActTanh);
    EXPECT_EQ(layer.GetActFunction(), ActTanh);
    EXPECT_EQ(layer.actFn, ActTanh);  // cached
    layer.SetActFunction(ActLinear);
    EXPECT_EQ(layer.GetActFunction(), ActLinear);
    EXPECT_EQ(layer.nodes[1].actFn, ActLinear);
}

TEST(LayersTest, ActivateUsesTheCommonOrEachNeuronsFunction) {
    TGainLayer layer(nullptr, 2, 3, 2.0);
    layer.nodes[0].SetActFunction(ActLinear);
    layer.nodes[1].SetActFunction(ActLinearGain);
    layer.nodes[2].SetActFunction(ActBias);
    const double net[3] = {1.5, 1.5, 1.5};
    layer.Activate(net);
    EXPECT_EQ(layer.values, (std::vector<double>{1.5, 3.0, 1.0}));

    // In place, with the common function: gain 2 times the net input.
    layer.SetActFunction(ActLinearGain);
    layer.values = {1.0, -2.0, 0.25};
    layer.Activate(layer.values.data());
    EXPECT_EQ(layer.values, (std::vector<double>{2.0, -4.0, 0.5}));
}

TEST(LayersTest, DimensionsAreCopiedAndCleared) {
    TSimpleLayer layer(nullptr, 1, 2);
    const int dims[2] = {3, 7};
    layer.SetDimensions(2, dims);
    int out[2] = {0, 0};
    layer.GetDimensions(out);
    EXPECT_EQ(out[0], 3);
    EXPECT_EQ(out[1], 7);
    layer.SetDimensions(0, nullptr);
    EXPECT_EQ(layer.numDimensions, 0);
    layer.GetDimensions(nullptr);  // nothing to copy, nothing read
}

TEST(LayersTest, CloneCopiesFunctionsGainsAndDimensionsButNotValues) {
    TGainLayer layer(nullptr, 2, 3, 1.0);
    layer.SetActFunction(ActSigmoidGain);
    layer.nodes[1].gain = 0.5;
    layer.nodes[2].gain = 3.0;
    const int dims[1] = {3};
    layer.SetDimensions(1, dims);
    layer.values = {9.0, 8.0, 7.0};
    TBasicNetwork owner;
    TBasicNetwork* net = &owner;

    std::unique_ptr<TBasicLayer> clone(layer.Clone(net));
    auto* c = dynamic_cast<TGainLayer*>(clone.get());
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->network, net);
    EXPECT_EQ(c->layerNum, 2);
    EXPECT_EQ(c->values, std::vector<double>(3, 0.0));
    EXPECT_EQ(c->actFn, ActSigmoidGain);
    EXPECT_EQ(c->dimensions, std::vector<int>{3});
    ExpectAttached(*c, 3);
    EXPECT_EQ(c->nodes[1].gain, 0.5);
    EXPECT_EQ(c->nodes[2].gain, 3.0);
    EXPECT_EQ(c->nodes[2].actFn, ActSigmoidGain);
    EXPECT_EQ(c->nodes[2].nodeNum, 2);

    TSimpleInputLayer input(nullptr, 1, 2);
    input.nodes[0].SetActFunction(ActTanh);
    std::unique_ptr<TBasicLayer> inputClone(input.Clone(nullptr));
    EXPECT_STREQ(inputClone->GetTypeName(), "Input");
    EXPECT_EQ(inputClone->actFn, nullptr);  // the source had lost its common function
    EXPECT_EQ(inputClone->GetNeuron(0)->actFn, ActTanh);
    EXPECT_EQ(inputClone->GetNeuron(1)->actFn, ActLinear);
}

TEST(LayersTest, DeleteNodeKeepsTheOthersInOrder) {
    TGainLayer layer(nullptr, 2, 3, 1.0);
    layer.nodes[0].gain = 10.0;
    layer.nodes[2].gain = 30.0;
    layer.nodes[2].SetActFunction(ActTanhGain);
    layer.DeleteNode(1);
    layer.numNodes = 2;  // the network adjusts the count afterwards
    ASSERT_EQ(layer.nodes.size(), 2u);
    ExpectAttached(layer, 2);
    EXPECT_EQ(layer.nodes[0].gain, 10.0);
    EXPECT_EQ(layer.nodes[1].gain, 30.0);
    EXPECT_EQ(layer.nodes[1].actFn, ActTanhGain);
    EXPECT_EQ(layer.nodes[1].nodeNum, 2);  // not renumbered
}

TEST(LayersTest, InsertNodeOpensASlotWithTheNewNeuronRules) {
    TGainLayer layer(nullptr, 4, 2, 2.0);
    layer.nodes[1].SetActFunction(ActTanhGain);
    layer.InsertNode(0);
    layer.numNodes = 3;
    ASSERT_EQ(layer.nodes.size(), 3u);
    EXPECT_EQ(layer.values.size(), 3u);
    ExpectAttached(layer, 3);
    EXPECT_EQ(layer.nodes[0].gain, 2.0);
    EXPECT_EQ(layer.nodes[0].actFn, ActError);  // no common function known
    EXPECT_EQ(layer.nodes[0].layerNum, 4);
    EXPECT_EQ(layer.nodes[0].nodeNum, 0);
    EXPECT_EQ(layer.nodes[2].actFn, ActTanhGain);
    EXPECT_EQ(layer.nodes[2].nodeNum, 1);

    TSimpleLayer simple(nullptr, 1, 2);
    simple.SetActFunction(ActSigmoid);
    simple.InsertNode(2);
    simple.numNodes = 3;
    ExpectAttached(simple, 3);
    EXPECT_EQ(simple.nodes[2].actFn, ActSigmoid);
    EXPECT_EQ(simple.nodes[2].nodeNum, 2);

    TGainLayer empty(nullptr, 1, 0, 5.0);
    empty.InsertNode(0);
    EXPECT_EQ(empty.nodes[0].gain, 1.0);
}

// A layer class that brings no InsertNode of its own.
class TBareLayer : public TBasicLayer {
  public:
    TBareLayer() : TBasicLayer(nullptr, 0, 1) {}
    TBasicNeuron* GetNeuron(int) override { return &neuron; }
    const char* GetTypeName() const override { return "Bare"; }
    TBasicLayer* Clone(TBasicNetwork*) const override { return nullptr; }
    void DeleteNode(int) override {}
    TBasicNeuron neuron;
};

TEST(LayersDeathTest, InsertNodeWithoutAnImplementationIsFatal) {
    TBareLayer bare;
    EXPECT_DEATH(bare.InsertNode(0), "Assertion failed: false, file .*Layers");
    const int dims[1] = {1};
    bare.SetDimensions(1, dims);
    EXPECT_DEATH(bare.GetDimensions(nullptr), "Assertion failed: parameters != NULL");
}

}  // namespace
}  // namespace synapsor
