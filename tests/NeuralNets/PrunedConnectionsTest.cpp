#include "NeuralNets/PrunedConnections.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "CoreTestNets.h"

namespace synapsor {
namespace {

// Layer 1 (3 input neurons) feeds layer 2 (2 neurons) through a pruneable matrix whose weight
// (from, to) is 1 + from + 3 * to: to 0 gets 1 2 3, to 1 gets 4 5 6.
class PrunedConnectionsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        net = MakeLinearNet({1, 3, 2});
        net->Connect(1, 2);
        c = dynamic_cast<TPrunedConnections*>(net->GetConnections(1, 2));
        ASSERT_NE(c, nullptr);
        const double w[6] = {1, 2, 3, 4, 5, 6};
        ASSERT_EQ(c->SetWeights(w, FMaskExists), 6);
        net->GetLayer(1)->values = {0.5, -1.0, 2.0};
    }
    std::vector<double> Weights(int filter) {
        std::vector<double> out(c->GetNumWeights(filter));
        EXPECT_EQ(c->GetWeights(out.data(), filter), static_cast<int>(out.size()));
        return out;
    }
    std::vector<double> NetInputs() {
        std::vector<double> sums(2, 1.0);  // added to, not overwritten
        c->AddNetInputs(sums.data());
        return sums;
    }
    std::vector<int> Flags() {
        std::vector<int> out;
        for (int to = 0; to < c->NumTo(); ++to)
            for (int from = 0; from < c->NumFrom(); ++from)
                out.push_back(c->GetFlags(from, to));
        return out;
    }

    std::unique_ptr<TBasicNetwork> net;
    TPrunedConnections* c = nullptr;
};

TEST_F(PrunedConnectionsTest, NewMatrixAndStorageOrder) {
    TPrunedConnections fresh(net.get(), 0, 2);
    EXPECT_EQ(fresh.array_weights, std::vector<double>(2, 0.0));
    EXPECT_EQ(fresh.GetFlags(0, 1), FMaskAll);
    EXPECT_STREQ(c->GetConnectionsNType(), "Pruneable");
    EXPECT_EQ(c->GetConnectionsNType(), fresh.GetConnectionsNType());
    EXPECT_EQ(c->GetWeight(2, 0), 3.0);
    EXPECT_EQ(c->GetWeight(0, 1), 4.0);
    const TWeightStorage s = c->GetStorage();
    EXPECT_EQ(s.nFrom, 3);
    EXPECT_EQ(s.nTo, 2);
    EXPECT_EQ(s.weights[1 * 3 + 2], 6.0);
    EXPECT_EQ(s.masks[4], FMaskAll);
    // 1*0.5 + 2*(-1) + 3*2 = 4.5 and 4*0.5 + 5*(-1) + 6*2 = 9, each plus the preset 1.
    EXPECT_EQ(NetInputs(), (std::vector<double>{5.5, 10.0}));
}

TEST_F(PrunedConnectionsTest, PruningRemovesAWeightEverywhere) {
    c->Prune(0, 1);
    EXPECT_FALSE(c->IsValid(0, 1));
    EXPECT_FALSE(c->IsTrainable(0, 1));
    EXPECT_EQ(c->GetWeight(0, 1), 0.0);
    EXPECT_EQ(c->GetNumWeights(FMaskExists), 5);
    EXPECT_EQ(Weights(FMaskExists), (std::vector<double>{1, 2, 3, 5, 6}));
    c->GetWeight(0, 1) = 100.0;  // a stale value behind a pruned flag is still ignored
    EXPECT_EQ(NetInputs(), (std::vector<double>{5.5, 8.0}));  // 1 + (-5 + 12)

    c->SetTrainable(0, 1);  // no effect on a missing connection
    EXPECT_EQ(c->GetFlags(0, 1), 0);
    c->Unprune(0, 1);
    EXPECT_EQ(c->GetFlags(0, 1), FMaskAll);
    EXPECT_EQ(c->GetWeight(0, 1), 0.0);
}

TEST_F(PrunedConnectionsTest, FrozenWeightsExistButDoNotTrain) {
    c->SetUntrainable(1, 0);
    EXPECT_TRUE(c->IsValid(1, 0));
    EXPECT_FALSE(c->IsTrainable(1, 0));
    EXPECT_EQ(c->GetNumWeights(FMaskExists), 6);
    EXPECT_EQ(c->GetNumWeights(0), 5);
    EXPECT_EQ(c->GetNumWeights(FMaskAll), 5);
    EXPECT_EQ(Weights(0), (std::vector<double>{1, 3, 4, 5, 6}));
    EXPECT_EQ(NetInputs(), (std::vector<double>{5.5, 10.0}));  // still summed

    c->Unprune(1, 0);  // existing: stays frozen
    EXPECT_EQ(c->GetFlags(1, 0), FMaskExists);
    c->Prune(2, 1);
    EXPECT_EQ(NumbersDrawn([&] { c->Randomize(0.5, 0.5); }), 0);
    EXPECT_EQ(c->array_weights, (std::vector<double>{0.5, 2.0, 0.5, 0.5, 0.5, 0.0}));

    // Drawn in storage order, skipping the frozen and the pruned weight.
    std::srand(23);
    const double a = RandomWeight(-1, 1), b = RandomWeight(-1, 1), d = RandomWeight(-1, 1),
                 e = RandomWeight(-1, 1);
    std::srand(23);
    c->Randomize(-1, 1);
    EXPECT_EQ(c->array_weights, (std::vector<double>{a, 2.0, b, d, e, 0.0}));

    c->SetTrainable(1, 0);
    EXPECT_EQ(c->GetFlags(1, 0), FMaskAll);
}

TEST_F(PrunedConnectionsTest, VisitsHonourFlagsAndDirections) {
    c->Prune(0, 1);
    c->SetUntrainable(0, 0);
    TVisitLog out0;
    c->IterateFrom(out0, 0, FMaskExists);
    EXPECT_EQ(out0.Get(&TVisit::to), std::vector<int>{0});
    EXPECT_EQ(out0.Get(&TVisit::from), std::vector<int>{0});
    EXPECT_EQ(out0.Get(&TVisit::trainable), std::vector<bool>{false});
    EXPECT_EQ(out0.fromLayer, 1);
    EXPECT_EQ(out0.toLayer, 2);
    EXPECT_EQ(out0.conns, c);
    EXPECT_EQ(out0.fromValues, net->GetLayer(1)->values.data());

    TVisitLog out1;
    c->IterateFrom(out1, 1, 0);
    EXPECT_EQ(out1.Get(&TVisit::to), (std::vector<int>{0, 1}));

    TVisitLog into1;
    c->IterateTo(into1, 1, FMaskExists);
    EXPECT_EQ(into1.Get(&TVisit::from), (std::vector<int>{1, 2}));

    TVisitLog all;
    c->Iterate(all, 0);
    EXPECT_EQ(all.Get(&TVisit::from), (std::vector<int>{1, 2, 1, 2}));
    EXPECT_EQ(all.Get(&TVisit::to), (std::vector<int>{0, 0, 1, 1}));
}

TEST_F(PrunedConnectionsTest, FlagArraysFollowTheVisitingOrder) {
    c->Prune(0, 1);
    c->SetUntrainable(1, 0);
    EXPECT_EQ(c->GetAllFlags(), (std::vector<char>{3, 1, 3, 3, 3}));
    const unsigned char flags[5] = {3, 3, 0, 1, 3};
    c->SetAllFlags(flags);
    EXPECT_EQ(Flags(), (std::vector<int>{3, 3, 0, 0, 1, 3}));
    c->SetAllUntrainable();
    EXPECT_EQ(Flags(), (std::vector<int>{1, 1, 0, 0, 1, 1}));
    c->SetFlags(0, 1, 2);  // stored unchecked
    EXPECT_EQ(c->GetFlags(0, 1), 2);

    for (int to = 0; to < 2; ++to)
        for (int from = 0; from < 3; ++from)
            c->Prune(from, to);
    EXPECT_TRUE(c->GetAllFlags().empty());
}

TEST_F(PrunedConnectionsTest, CloneIsDeep) {
    c->Prune(2, 1);
    TBasicConnections* copy = c->Clone(net.get());
    EXPECT_EQ(copy->GetFromLayer(), 1);
    EXPECT_EQ(copy->GetToLayer(), 2);
    EXPECT_EQ(copy->GetFlags(2, 1), 0);
    EXPECT_EQ(copy->GetWeight(1, 1), 5.0);
    copy->GetWeight(1, 1) = -5.0;
    copy->Prune(0, 0);
    EXPECT_EQ(c->GetWeight(1, 1), 5.0);
    EXPECT_TRUE(c->IsValid(0, 0));
    copy->Destroy();
}

TEST_F(PrunedConnectionsTest, ResizingMovesWeightsAndFlagsTogether) {
    c->SetUntrainable(1, 0);
    c->Prune(2, 1);
    TBasicLayer* in = net->GetLayer(1);

    // A detached from-neuron at 1: a column of missing connections, nothing drawn.
    in->InsertNode(1);
    in->numNodes = 4;
    EXPECT_EQ(NumbersDrawn([&] { c->InsertFromNeuron(1, -1, 1, false); }), 0);
    EXPECT_EQ(c->array_weights, (std::vector<double>{1, 0, 2, 3, 4, 0, 5, 0}));
    EXPECT_EQ(Flags(), (std::vector<int>{3, 0, 1, 3, 3, 0, 3, 0}));

    // An attached to-neuron at 0: drawn for from = 0 .. 3, even when lo == hi.
    TBasicLayer* out = net->GetLayer(2);
    out->InsertNode(0);
    out->numNodes = 3;
    EXPECT_EQ(NumbersDrawn([&] { c->InsertToNeuron(0, 0.25, 0.25, true); }), 4);
    EXPECT_EQ(c->array_weights,
              (std::vector<double>{0.25, 0.25, 0.25, 0.25, 1, 0, 2, 3, 4, 0, 5, 0}));
    EXPECT_EQ(Flags(), (std::vector<int>{3, 3, 3, 3, 3, 0, 1, 3, 3, 0, 3, 0}));

    // Removing both again restores the original matrix.
    out->DeleteNode(0);
    out->numNodes = 2;
    c->RemoveToNeuron(0);
    in->DeleteNode(1);
    in->numNodes = 3;
    c->RemoveFromNeuron(1);
    EXPECT_EQ(c->array_weights, (std::vector<double>{1, 2, 3, 4, 5, 0}));
    EXPECT_EQ(Flags(), (std::vector<int>{3, 1, 3, 3, 3, 0}));
    in->values = {0.5, -1.0, 2.0};                             // the insertion had cleared them
    EXPECT_EQ(NetInputs(), (std::vector<double>{5.5, -2.0}));  // 1 + (4*0.5 + 5*(-1))
}

// Regression: a self-connection's two resize calls each see the layer's new size; the second
// must still start from the shape the first one left.
TEST_F(PrunedConnectionsTest, SelfConnectionResizesBothSides) {
    net->Connect(2, 2);
    TBasicConnections* self = net->GetConnections(2, 2);
    const double w[4] = {1, 2, 3, 4};
    self->SetWeights(w, FMaskExists);
    TBasicLayer* layer = net->GetLayer(2);
    layer->InsertNode(1);
    layer->numNodes = 3;
    self->InsertFromNeuron(1, 0, 0, false);
    self->InsertToNeuron(1, 0, 0, false);
    TWeightStorage s = self->GetStorage();
    ASSERT_EQ(s.nFrom, 3);
    ASSERT_EQ(s.nTo, 3);
    EXPECT_EQ(std::vector<double>(s.weights, s.weights + 9),
              (std::vector<double>{1, 0, 2, 0, 0, 0, 3, 0, 4}));
    EXPECT_EQ(self->GetNumWeights(FMaskExists), 4);

    layer->DeleteNode(1);
    layer->numNodes = 2;
    self->RemoveFromNeuron(1);
    self->RemoveToNeuron(1);
    s = self->GetStorage();
    EXPECT_EQ(std::vector<double>(s.weights, s.weights + 4), (std::vector<double>{1, 2, 3, 4}));
}

TEST_F(PrunedConnectionsTest, ShapeOutOfStepWithTheLayersIsFatal) {
    net->GetLayer(1)->numNodes = 4;  // resized without telling the matrix
    std::vector<double> sums(2, 0.0);
    EXPECT_DEATH(c->AddNetInputs(sums.data()), "Assertion failed: storedFrom == NumFrom\\(\\)");
    net->GetLayer(1)->numNodes = 3;
}

}  // namespace
}  // namespace synapsor
