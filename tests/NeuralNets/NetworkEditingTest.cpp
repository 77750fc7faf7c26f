// Structural editing of networks: neuron and layer insertion and deletion, node pruning, the
// visits over one neuron's weights, the consistency check and the removal of dead neurons. Every
// edit is followed by CheckConsistency() and, where the network can run, by a forward pass checked
// by hand.
#include "NeuralNets/NetworkEditing.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "CoreTestNets.h"
#include "NeuralNets/ConnectedNetwork.h"
#include "NeuralNets/MLPNetwork.h"

namespace synapsor {
namespace {

TBasicLayer* Simple(TBasicNetwork& net, int i, int n) {
    auto* layer = new TSimpleLayer(&net, i, n);
    layer->SetActFunction(ActLinear);
    return layer;
}

TWeightStorage Shape(TBasicNetwork& net, int f, int t) {
    return net.GetConnections(f, t)->GetStorage();
}

// bias(1) -> input(2) -> hidden(4, linear) -> output(1, linear), bias feeding hidden and output.
// The weight from hidden neuron 2 to the output is pruned, so neuron 2 feeds nothing.
// For x = (1, 2): h = (0.1+1, 0.2+2, 0.3+2+2, 0.4-1+1) = (1.1, 2.2, 4.3, 0.4);
// out = 0.25 + 1*1.1 + 0.5*2.2 + 2*0.4 = 3.25.
std::unique_ptr<TBasicNetwork> HiddenNet() {
    auto net = MakeLinearNet({1, 2, 4, 1});
    Link(*net, 0, 2, {0.1, 0.2, 0.3, 0.4});
    Link(*net, 1, 2, {1, 0, 0, 1, 2, 1, -1, 0.5});
    Link(*net, 2, 3, {1, 0.5, 0, 2})->Prune(2, 0);
    Link(*net, 0, 3, {0.25});
    return net;
}

// bias(1) -> input(2) -> output(1) with bias weight b and input weights 2, -1.
std::unique_ptr<TBasicNetwork> FlatNet(double b) {
    auto net = MakeLinearNet({1, 2, 1});
    Link(*net, 0, 2, {b});
    Link(*net, 1, 2, {2, -1});
    return net;
}

TEST(NetworkEditingTest, ConsistencyCheckNamesWhatIsWrong) {
    auto net = HiddenNet();
    EXPECT_EQ(net->CheckConsistency(), "");
    net->GetConnections(0, 2)->fromLayer = 1;
    EXPECT_EQ(net->CheckConsistency(), "connection (0, 2) is numbered (1, 2)");
    net->GetConnections(0, 2)->fromLayer = 0;
    net->GetLayer(1)->layerNum = 5;
    EXPECT_EQ(net->CheckConsistency(), "layer 1 has layerNum 5");
    net->GetLayer(1)->layerNum = 1;
    net->GetLayer(2)->numNodes = 3;
    EXPECT_EQ(net->CheckConsistency(),
              "connection (0, 2) is 1 x 4 between layers of 1 and 3 neurons");
    net->GetLayer(2)->numNodes = 4;
    EXPECT_EQ(net->CheckConsistency(), "");
}

TEST(NetworkEditingTest, NodeVisitsSeeEveryExistingWeightOfOneNeuron) {
    auto net = HiddenNet();
    auto cells = [](const TVisitLog& log) {
        std::vector<std::vector<int>> out;
        for (const TVisit& v : log.seen)
            out.push_back({v.fromLayer, v.toLayer, v.from, v.to});
        return out;
    };
    TVisitLog in;
    net->IterateNodeInputs(in, 3, 0, FMaskExists);  // bias first, then hidden; 2 is pruned
    EXPECT_EQ(cells(in), (std::vector<std::vector<int>>{
                             {0, 3, 0, 0}, {2, 3, 0, 0}, {2, 3, 1, 0}, {2, 3, 3, 0}}));
    TVisitLog out;
    net->IterateNodeOutputs(out, 0, 0, FMaskExists);  // bias to hidden 0..3, then to output
    EXPECT_EQ(cells(out),
              (std::vector<std::vector<int>>{
                  {0, 2, 0, 0}, {0, 2, 0, 1}, {0, 2, 0, 2}, {0, 2, 0, 3}, {0, 3, 0, 0}}));
}

TEST(NetworkEditingTest, PruneNodesDeletesOnlyTheHiddenNeuronThatFeedsNothing) {
    auto net = HiddenNet();
    EXPECT_DOUBLE_EQ(RecallOf(*net, {1, 2})[0], 3.25);
    EXPECT_EQ(net->PruneNodes(), 1);
    EXPECT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetLayer(2)->numNodes, 3);
    EXPECT_EQ(net->GetLayer(0)->numNodes, 1);
    EXPECT_EQ(Shape(*net, 1, 2).nTo, 3);
    EXPECT_EQ(Shape(*net, 0, 2).nTo, 3);
    EXPECT_EQ(Shape(*net, 2, 3).nFrom, 3);
    // Former neuron 3 moved down to 2 with its weights; the survivor kept its own nodeNum.
    EXPECT_EQ(W(*net, 1, 2, 0, 2), -1);
    EXPECT_EQ(W(*net, 1, 2, 1, 2), 0.5);
    EXPECT_EQ(W(*net, 2, 3, 2, 0), 2);
    EXPECT_EQ(net->GetLayer(2)->GetNeuron(2)->nodeNum, 3);
    EXPECT_DOUBLE_EQ(RecallOf(*net, {1, 2})[0], 3.25);  // neuron 2 contributed nothing
    EXPECT_EQ(net->PruneNodes(), 0);
}

TEST(NetworkEditingTest, PruneNodesLeavesAFullyConnectedNetworkAlone) {
    const int sizes[] = {1, 2, 3, 1};
    TConnectedNetwork net(4, sizes);
    net.GetLayer(0)->SetActFunction(ActBias);
    net.GetLayer(2)->SetActFunction(ActLinear);
    net.GetLayer(3)->SetActFunction(ActLinear);
    for (auto [f, t] : {std::pair{0, 2}, {1, 2}, {2, 3}, {0, 3}})
        net.Connect(f, t);
    net.RandomizeWeights(-1, 1);
    std::vector<double> before(net.GetNumWeights(FMaskExists)), after(before.size());
    net.GetWeights(before.data(), FMaskExists);
    const double y = RecallOf(net, {0.3, -0.7})[0];

    EXPECT_EQ(net.PruneNodes(), 0);
    EXPECT_EQ(net.CheckConsistency(), "");
    ASSERT_EQ(net.GetNumWeights(FMaskExists), 13);  // 3 + 6 + 3 + 1
    net.GetWeights(after.data(), FMaskExists);
    EXPECT_EQ(after, before);
    EXPECT_EQ(RecallOf(net, {0.3, -0.7})[0], y);

    // A neuron inserted into and deleted from the fully connected hidden layer leaves the
    // former weights where they were.
    net.InsertNode(2, 1, -1, 1, true);
    EXPECT_EQ(net.CheckConsistency(), "");
    EXPECT_EQ(net.GetNumWeights(FMaskExists), 17);  // 3 more in, 1 more out
    net.DeleteNode(2, 1);
    EXPECT_EQ(net.CheckConsistency(), "");
    net.GetWeights(after.data(), FMaskExists);
    EXPECT_EQ(after, before);
}

TEST(NetworkEditingTest, PruneNodesDeletesALoneBiasNeuronWithoutOutgoingWeights) {
    auto net = FlatNet(0.5);  // with the bias weight pruned, out = 2*3 - 1*1 = 5
    net->GetConnections(0, 2)->Prune(0, 0);
    EXPECT_EQ(net->PruneNodes(), 1);
    EXPECT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetLayer(0)->numNodes, 0);
    EXPECT_EQ(Shape(*net, 0, 2).nFrom, 0);
    EXPECT_DOUBLE_EQ(RecallOf(*net, {3, 1})[0], 5);
}

TEST(NetworkEditingTest, PruneNodesCascadesDownwardsInOneCall) {
    // input x -> A(2) -> B(2) -> out; only A0->B1, A1->B0, B0->out and bias->out exist.
    // B1 feeds nothing, so A0 (feeding only B1) goes too. For x = 2: A = (2, 4),
    // B = (4*4, 3*2) = (16, 6), out = 1 + 0.5*16 = 9, before and after.
    auto net = MakeLinearNet({1, 1, 2, 2, 1});
    Link(*net, 1, 2, {1, 2});
    TBasicConnections* ab = Link(*net, 2, 3, {0, 4, 3, 0});
    ab->Prune(0, 0);
    ab->Prune(1, 1);
    Link(*net, 3, 4, {0.5, 0})->Prune(1, 0);
    Link(*net, 0, 4, {1});
    EXPECT_DOUBLE_EQ(RecallOf(*net, {2})[0], 9);

    EXPECT_EQ(net->PruneNodes(), 2);
    EXPECT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetLayer(2)->numNodes, 1);
    EXPECT_EQ(net->GetLayer(3)->numNodes, 1);
    EXPECT_EQ(W(*net, 1, 2, 0, 0), 2);  // the former A1
    EXPECT_EQ(W(*net, 2, 3, 0, 0), 4);  // A1 -> B0
    EXPECT_DOUBLE_EQ(RecallOf(*net, {2})[0], 9);
}

TEST(NetworkEditingTest, InsertNodeAtZeroShiftsWeightsAndDrawsNewOnesInRange) {
    auto net = HiddenNet();
    net->Connect(2, 2);  // a self-connection grows in both directions
    W(*net, 2, 2, 1, 3) = 7;
    const double lo = -0.5, hi = 0.5;

    net->InsertNode(2, 0, lo, hi, true);
    ASSERT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetLayer(2)->numNodes, 5);
    EXPECT_EQ(Shape(*net, 2, 2).nFrom, 5);
    EXPECT_EQ(Shape(*net, 2, 2).nTo, 5);
    EXPECT_EQ(W(*net, 2, 2, 2, 4), 7);
    EXPECT_EQ(W(*net, 1, 2, 0, 3), 2);                       // old (0, 2)
    EXPECT_EQ(W(*net, 1, 2, 1, 4), 0.5);                     // old (1, 3)
    EXPECT_EQ(W(*net, 0, 2, 0, 1), 0.1);                     // old (0, 0)
    EXPECT_EQ(W(*net, 2, 3, 2, 0), 0.5);                     // old (1, 0)
    EXPECT_FALSE(net->GetConnections(2, 3)->IsValid(3, 0));  // the pruned weight moved too
    for (double w :
         {W(*net, 0, 2, 0, 0), W(*net, 1, 2, 0, 0), W(*net, 1, 2, 1, 0), W(*net, 2, 3, 0, 0)}) {
        EXPECT_GE(w, lo);
        EXPECT_LT(w, hi);
    }
    EXPECT_EQ(net->GetConnections(2, 3)->GetFlags(0, 0), FMaskAll);

    // The new neuron takes the layer's function (linear): with bias 1 and input weights 1, 1
    // it outputs 1 + 1 + 2 = 4 for x = (1, 2), adding 0.5*4 to the former 3.25.
    W(*net, 0, 2, 0, 0) = W(*net, 1, 2, 0, 0) = W(*net, 1, 2, 1, 0) = 1;
    W(*net, 2, 3, 0, 0) = 0.5;
    EXPECT_DOUBLE_EQ(RecallOf(*net, {1, 2})[0], 5.25);
    net->DeleteNode(2, 0);
    EXPECT_EQ(net->CheckConsistency(), "");
    EXPECT_DOUBLE_EQ(RecallOf(*net, {1, 2})[0], 3.25);
}

TEST(NetworkEditingTest, InsertLayerMovesLayersConnectionsAndInOutLayer) {
    auto net = FlatNet(0.5);  // out = 0.5 + 2*3 - 1*1 = 5.5 for x = (3, 1)
    TBasicConnections* biasToOut = net->GetConnections(0, 2);

    net->InsertLayer(0, Simple(*net, 7, 2));
    ASSERT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetNumLayers(), 4);
    EXPECT_EQ(net->GetInLayer(), 2);
    EXPECT_EQ(net->GetOutLayer(), 3);
    for (int i = 0; i < 4; ++i) {
        EXPECT_STREQ(net->GetConnections(0, i)->GetConnectionsNType(), "Empty");
        EXPECT_STREQ(net->GetConnections(i, 0)->GetConnectionsNType(), "Empty");
    }
    EXPECT_EQ(net->GetConnections(1, 3), biasToOut);
    EXPECT_EQ(W(*net, 2, 3, 0, 0), 2);
    EXPECT_EQ(net->GetLayer(3)->GetNeuron(0)->layerNum, 2);  // neurons keep their own number
    EXPECT_DOUBLE_EQ(RecallOf(*net, {3, 1})[0], 5.5);

    // A hidden layer between input and output, then wired in: h = 2*3 + 1 = 7,
    // out = 0.5 + 2*3 - 1 + 0.1*7 = 6.2. Appending a layer leaves inLayer and outLayer.
    net->InsertLayer(3, Simple(*net, 3, 1));
    ASSERT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetOutLayer(), 4);
    Link(*net, 2, 3, {2, 1});
    Link(*net, 3, 4, {0.1});
    EXPECT_DOUBLE_EQ(RecallOf(*net, {3, 1})[0], 6.2);
    net->InsertLayer(5, Simple(*net, 5, 3));
    EXPECT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetInLayer(), 2);
    EXPECT_EQ(net->GetOutLayer(), 4);
    EXPECT_DOUBLE_EQ(RecallOf(*net, {3, 1})[0], 6.2);
}

TEST(NetworkEditingTest, DeleteLayerRenumbersWhatRemains) {
    auto net = HiddenNet();
    TBasicConnections* biasToOut = net->GetConnections(0, 3);
    net->DeleteLayer(2);  // the hidden layer and its four matrices go
    ASSERT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetNumLayers(), 3);
    EXPECT_EQ(net->GetOutLayer(), 2);
    EXPECT_EQ(net->GetConnections(0, 2), biasToOut);
    EXPECT_EQ(net->GetLayer(2)->GetNeuron(0)->layerNum, 3);
    EXPECT_DOUBLE_EQ(RecallOf(*net, {1, 2})[0], 0.25);

    // Deleting below the input layer moves both indices down: out = 2*1 - 1*2 = 0.
    Link(*net, 1, 2, {2, -1});
    net->DeleteLayer(0);
    ASSERT_EQ(net->CheckConsistency(), "");
    EXPECT_EQ(net->GetInLayer(), 0);
    EXPECT_EQ(net->GetOutLayer(), 1);
    EXPECT_EQ(W(*net, 0, 1, 1, 0), -1);
    EXPECT_DOUBLE_EQ(RecallOf(*net, {1, 2})[0], 0);
}

TEST(NetworkEditingDeathTest, InputAndOutputLayersAndBadIndicesAreFatal) {
    auto owner = HiddenNet();
    TBasicNetwork& net = *owner;
    EXPECT_DEATH(net.DeleteLayer(1), "Assertion failed: LayerNum!=inLayer, file .*NetworkEditing");
    EXPECT_DEATH(net.DeleteLayer(3), "Assertion failed: LayerNum!=outLayer");
    EXPECT_DEATH(net.DeleteNode(3, 0), "Assertion failed: LayerNum!=outLayer");
    EXPECT_DEATH(net.DeleteNode(1, 0), "Assertion failed: LayerNum!=inLayer");
    EXPECT_DEATH(net.InsertNode(1, 0, 0, 1, true), "Assertion failed: LayerNum!=inLayer");
    EXPECT_DEATH(net.InsertNode(-1, 0, 0, 1, true), "Assertion failed: LayerNum>=0");
    EXPECT_DEATH(net.InsertNode(4, 0, 0, 1, true), "Assertion failed: LayerNum<numLayers");
    EXPECT_DEATH(net.InsertNode(2, -1, 0, 1, true), "Assertion failed: node>=0");
    EXPECT_DEATH(net.InsertNode(2, 9, 0, 1, true), "Assertion failed: node<=GetNumNeurons\\(\\)");
    EXPECT_DEATH(net.DeleteNode(2, 8), "Assertion failed: node<GetNumNeurons\\(\\)");
    // Inside the network's total but past the layer's end.
    EXPECT_DEATH(net.InsertNode(2, 5, 0, 1, true), "Assertion failed: node<=layer->numNodes");
    EXPECT_DEATH(net.DeleteNode(2, 4), "Assertion failed: node<layer->numNodes");
    EXPECT_DEATH(net.DeleteLayer(4), "Assertion failed: LayerNum<numLayers");
    EXPECT_DEATH(net.InsertLayer(5, Simple(net, 5, 1)), "Assertion failed: LayerNum<=numLayers");
    auto other = HiddenNet();
    EXPECT_DEATH(net.InsertLayer(2, Simple(*other, 2, 1)),
                 "Assertion failed: layer->network==this");
}

// An MLP with bias and the given layer sizes, every weight a distinct value, so that every neuron
// matters until weights are pruned.
std::unique_ptr<TBasicNetwork> Chain(std::vector<int> sizes) {
    auto net = std::make_unique<TMLPNetwork>(static_cast<int>(sizes.size()), sizes.data(), true);
    std::vector<double> weights(static_cast<std::size_t>(net->GetNumWeights(FMaskExists)));
    for (std::size_t i = 0; i < weights.size(); ++i)
        weights[i] = (i % 2 ? -0.3 : 0.4) + 0.05 * static_cast<double>(i);
    net->SetWeights(weights.data(), FMaskExists);
    return net;
}

std::vector<double> Outputs(TBasicNetwork& net, const std::vector<double>& input) {
    std::vector<double> out(static_cast<std::size_t>(net.GetLayer(net.GetOutLayer())->numNodes));
    net.Recall(input.data(), out.data());
    return out;
}

// Inputs over [-2, 2] in both dimensions, corners included.
std::vector<std::vector<double>> Grid() {
    std::vector<std::vector<double>> inputs;
    for (int i = 0; i <= 8; ++i)
        for (int j = 0; j <= 8; ++j)
            inputs.push_back({-2.0 + 0.5 * i, -2.0 + 0.5 * j});
    return inputs;
}

void PruneOutgoing(TBasicNetwork& net, int layer, int neuron) {
    for (int t = 0; t < net.GetNumLayers(); ++t)
        for (int k = 0; k < net.GetLayer(t)->numNodes; ++k)
            if (net.GetConnections(layer, t)->IsConnected())
                net.GetConnections(layer, t)->Prune(neuron, k);
}

void PruneIncoming(TBasicNetwork& net, int layer, int neuron) {
    for (int f = 0; f < net.GetNumLayers(); ++f)
        for (int k = 0; k < net.GetLayer(f)->numNodes; ++k)
            if (net.GetConnections(f, layer)->IsConnected())
                net.GetConnections(f, layer)->Prune(k, neuron);
}

// Removing dead neurons leaves every output as it was: exactly for a neuron without outgoing
// weights (it contributed nothing), up to rounding for a constant one moved into bias weights.
TEST(RemoveDeadNeuronsTest, DeadNeuronsAndChainsAcrossTwoLayersGoAndOutputsStay) {
    // Layers: bias 0, inputs 1 (2), hidden 2 (3), hidden 3 (3), outputs 4 (1).
    struct Case {
        const char* name;
        void (*cut)(TBasicNetwork&);
        std::vector<int> removed2, removed3;
        bool exact;
    };
    const Case cases[] = {
        {"neuron 1 of layer 3 feeds nothing",
         [](TBasicNetwork& n) { PruneOutgoing(n, 3, 1); },
         {},
         {1},
         true},
        {"and neuron 0 of layer 2 fed only it",
         [](TBasicNetwork& n) {
             PruneOutgoing(n, 3, 1);
             n.GetConnections(2, 3)->Prune(0, 0);
             n.GetConnections(2, 3)->Prune(0, 2);
         },
         {0},
         {1},
         true},
        {"neuron 2 of layer 2 keeps only its bias input, then neuron 0 of layer 3 only had it",
         [](TBasicNetwork& n) {
             for (int k = 0; k < 2; ++k) {
                 n.GetConnections(1, 2)->Prune(k, 2);
                 n.GetConnections(2, 3)->Prune(k, 0);
             }
         },
         {2},
         {0},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto net = Chain({2, 3, 3, 1});
        c.cut(*net);
        auto original = std::make_unique<TBasicNetwork>(*net);
        std::vector<int> removed[5];
        for (const LayerNodeReport& layer : RemoveDeadNeurons(*net))
            removed[layer.layer] = layer.removed;
        EXPECT_EQ(removed[2], c.removed2);
        EXPECT_EQ(removed[3], c.removed3);
        EXPECT_EQ(net->GetLayer(3)->numNodes, 3 - static_cast<int>(c.removed3.size()));
        EXPECT_EQ(net->CheckConsistency(), "");
        for (const auto& input : Grid()) {
            if (c.exact)
                EXPECT_EQ(Outputs(*net, input), Outputs(*original, input));
            else
                EXPECT_NEAR(Outputs(*net, input)[0], Outputs(*original, input)[0], 1e-12);
        }
    }
}

TEST(RemoveDeadNeuronsTest, NeuronsThatMustStay) {
    const std::pair<const char*, void (*)(TBasicNetwork&)> cases[] = {
        {"a bias neuron without outgoing weights",
         [](TBasicNetwork& n) { PruneOutgoing(n, 0, 0); }},
        // Hidden neuron 0 without inputs outputs sigmoid(0) = 0.5 ...
        {"a constant neuron feeding an output without bias weight",
         [](TBasicNetwork& n) {
             PruneIncoming(n, 2, 0);
             n.GetConnections(0, 3)->Prune(0, 0);
         }},
        {"a constant neuron with a frozen outgoing weight",
         [](TBasicNetwork& n) {
             PruneIncoming(n, 2, 0);
             n.GetConnections(2, 3)->SetUntrainable(0, 0);
         }},
    };
    for (const auto& [name, cut] : cases) {
        SCOPED_TRACE(name);
        auto net = Chain({2, 2, 1});
        cut(*net);
        EXPECT_TRUE(RemoveDeadNeurons(*net).empty());
        EXPECT_EQ(net->GetNumNeurons(), 6);
    }
}

}  // namespace
}  // namespace synapsor
