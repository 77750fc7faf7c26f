#include "NeuralNets/BasicNetwork.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "CoreTestNets.h"
#include "NeuralNets/ArcsIterators.h"
#include "NeuralNets/PrunedConnections.h"

namespace synapsor {
namespace {

// Bias b = 0.5, input weights w1 = 2, w2 = -3, one linear output.
std::unique_ptr<TBasicNetwork> MakeBiasInputOutput() {
    auto net = MakeLinearNet({1, 2, 1});
    Link(*net, 0, 2, {0.5});
    Link(*net, 1, 2, {2.0, -3.0});
    return net;
}

TEST(BasicNetworkTest, FrameOfANewNetwork) {
    auto net = MakeLinearNet({1, 2, 3});
    EXPECT_STREQ(net->GetTypeName(), "Basic");
    EXPECT_EQ(net->GetNumLayers(), 3);
    EXPECT_EQ(net->GetInLayer(), 1);
    EXPECT_EQ(net->GetOutLayer(), 2);
    EXPECT_EQ(net->GetNumWeights(FMaskExists), 0);
    EXPECT_EQ(net->GetMissingLayer(), -1);
    for (int t = 0; t < 3; ++t) {
        for (int f = 0; f < 3; ++f) {
            TBasicConnections* c = net->GetConnections(f, t);
            EXPECT_EQ(c, net->priv_conns[t * 3 + f]);
            EXPECT_FALSE(c->IsConnected());
            EXPECT_EQ(c->GetFromLayer(), f);
            EXPECT_EQ(c->GetToLayer(), t);
            EXPECT_EQ(c->network, net.get());
        }
    }
    EXPECT_EQ(net->priv_conns_index[2], net->priv_conns.data() + 6);
    EXPECT_EQ(net->GetFnRegistry()->GetFunction("tanh"), ActTanh);
}

TEST(BasicNetworkTest, ConnectKeepsAnExistingMatrixDisconnectReplacesIt) {
    auto net = MakeLinearNet({2, 2, 3});
    net->Connect(0, 2);
    TBasicConnections* first = net->GetConnections(0, 2);
    EXPECT_STREQ(first->GetConnectionsNType(), "Pruneable");
    EXPECT_EQ(net->GetNumWeights(FMaskExists), 6);
    first->GetWeight(1, 2) = 4.0;
    net->Connect(0, 2);
    EXPECT_EQ(net->GetConnections(0, 2), first);
    EXPECT_EQ(first->GetWeight(1, 2), 4.0);

    net->Disconnect(0, 2);
    EXPECT_FALSE(net->GetConnections(0, 2)->IsConnected());
    net->Connect(0, 2);
    std::vector<double> w(6, -1.0);
    net->GetWeights(w.data(), FMaskExists);
    EXPECT_EQ(w, std::vector<double>(6, 0.0));
}

TEST(BasicNetworkTest, WeightsComeInMatrixOrder) {
    auto net = MakeLinearNet({1, 3, 2});
    net->Connect(1, 2);
    net->Connect(0, 2);
    const double w[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(net->SetWeights(w, FMaskExists), 8);
    // The pair leaving layer 0 comes first, then the six weights of 1 -> 2 (to-major).
    EXPECT_EQ(net->GetConnections(0, 2)->GetWeight(0, 1), 2.0);
    EXPECT_EQ(net->GetConnections(1, 2)->GetWeight(0, 0), 3.0);
    EXPECT_EQ(net->GetConnections(1, 2)->GetWeight(0, 1), 6.0);
    std::vector<double> back(8);
    EXPECT_EQ(net->GetWeights(back.data(), FMaskExists), 8);
    EXPECT_EQ(back, std::vector<double>(w, w + 8));

    net->GetConnections(1, 2)->SetUntrainable(2, 1);
    EXPECT_EQ(net->GetNumWeights(0), 7);
    const double trainable[7] = {-1, -2, -3, -4, -5, -6, -7};
    EXPECT_EQ(net->SetWeights(trainable, 0), 7);
    net->GetWeights(back.data(), FMaskExists);
    EXPECT_EQ(back, (std::vector<double>{-1, -2, -3, -4, -5, -6, -7, 8}));

    // Random numbers are consumed in the same order.
    std::srand(2);
    std::vector<double> expected;
    for (int k = 0; k < 7; ++k)
        expected.push_back(RandomWeight(-1, 1));
    expected.push_back(8);
    std::srand(2);
    net->RandomizeWeights(-1, 1);
    net->GetWeights(back.data(), FMaskExists);
    EXPECT_EQ(back, expected);
}

TEST(BasicNetworkTest, RecallOfBiasAndInputs) {
    auto net = MakeBiasInputOutput();
    testing::internal::CaptureStderr();
    // 0.5 + 2 * 1.5 + (-3) * 0.25 = 2.75
    EXPECT_EQ(RecallOf(*net, {1.5, 0.25}), std::vector<double>{2.75});
    // 0.5 + 2 * (-1) + (-3) * 2 = -7.5
    EXPECT_EQ(RecallOf(*net, {-1.0, 2.0}), std::vector<double>{-7.5});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(net->GetLayer(0)->values, std::vector<double>{1.0});
    EXPECT_EQ(net->GetLayer(1)->values, (std::vector<double>{-1.0, 2.0}));

    // The input layer copies raw inputs even with a squashing function set on it.
    net->GetLayer(1)->SetActFunction(ActSigmoid);
    EXPECT_EQ(RecallOf(*net, {1.5, 0.25}), std::vector<double>{2.75});
}

// Sums run per to-neuron from-neurons ascending into a fresh double, and the per-matrix sums are
// added lower layers first. Each case uses 1e16, where adding 1 is lost, so another order would
// give another result.
TEST(BasicNetworkTest, RecallKeepsTheSummationOrder) {
    // Layers: bias, 3 inputs, 1 hidden (copy of input 0), 1 output.
    auto net = MakeLinearNet({1, 3, 1, 1});
    Link(*net, 1, 2, {1, 0, 0});
    TBasicConnections* bias = Link(*net, 0, 3);
    // Within one matrix: (1 + 1e16) - 1e16 = 0; from the top down it would be 1.
    TBasicConnections* in = Link(*net, 1, 3, {1.0, 1e16, -1e16});
    TBasicConnections* hidden = Link(*net, 2, 3);
    const std::vector<double> ones = {1.0, 1.0, 1.0};
    EXPECT_EQ(RecallOf(*net, ones), std::vector<double>{0.0});

    // Each matrix sums on its own: 1 + (1e16 - 1e16) = 1; one running sum would give 0.
    bias->GetWeight(0, 0) = 1.0;
    in->GetWeight(0, 0) = 0.0;
    EXPECT_EQ(RecallOf(*net, ones), std::vector<double>{1.0});

    // Lower layers first: (1 + 1e16) + (-1e16) = 0; the other way round it would be 1.
    in->GetWeight(1, 0) = 1e16;
    in->GetWeight(2, 0) = 0.0;
    hidden->GetWeight(0, 0) = -1e16;
    EXPECT_EQ(RecallOf(*net, ones), std::vector<double>{0.0});
}

TEST(BasicNetworkTest, DownwardAndSelfConnectionsAreNeverUsed) {
    auto net = MakeLinearNet({1, 1, 1, 1});
    Link(*net, 1, 3, {1.0});
    Link(*net, 3, 2, {5.0});
    Link(*net, 2, 2, {7.0});
    Link(*net, 2, 1, {9.0});
    EXPECT_EQ(RecallOf(*net, {3.0}), std::vector<double>{3.0});
    EXPECT_EQ(net->GetLayer(2)->values, std::vector<double>{0.0});
    EXPECT_EQ(net->GetLayer(1)->values, std::vector<double>{3.0});
}

TEST(BasicNetworkTest, LayersOfTheWrongKindAtTheInputPositionWarn) {
    // A plain linear layer at inLayer: inputs plus the weighted outputs of layer 0.
    TBasicNetwork net(3);
    net.SetLayer(0, new TSimpleLayer(&net, 0, 1));
    net.GetLayer(0)->SetActFunction(ActBias);
    net.SetLayer(1, new TSimpleLayer(&net, 1, 2));
    net.GetLayer(1)->SetActFunction(ActLinear);
    net.SetLayer(2, new TSimpleInputLayer(&net, 2, 2));
    Link(net, 0, 1, {0.0, 0.5});
    Link(net, 1, 2, {1.0, 0.0, 0.0, 0.0});

    testing::internal::CaptureStderr();
    double y[2] = {-1.0, -1.0};
    const double x[2] = {1.0, 2.0};
    net.Recall(x, y);
    net.Recall(x, y);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "!Warning: changed input layer (TSimpleLayer)\n"
              "!Warning: changed input layer (TSimpleInputLayer)\n"
              "!Warning: changed input layer (TSimpleLayer)\n"
              "!Warning: changed input layer (TSimpleInputLayer)\n");
    EXPECT_EQ(net.GetLayer(1)->values, (std::vector<double>{1.0, 2.5}));
    EXPECT_EQ(y[0], 0.0);  // an input layer elsewhere outputs zeros
    EXPECT_EQ(y[1], 0.0);

    // A gain layer at inLayer prints the same text.
    net.SetLayer(1, new TGainLayer(&net, 1, 2, 2.0));
    net.GetLayer(1)->SetActFunction(ActLinearGain);
    testing::internal::CaptureStderr();
    net.Recall(x, y);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.substr(0, err.find('\n') + 1), "!Warning: changed input layer (TSimpleLayer)\n");
    EXPECT_EQ(net.GetLayer(1)->values, (std::vector<double>{2.0, 5.0}));  // 2 * (x + bias)
}

TEST(BasicNetworkTest, NeuronsAreNumberedAcrossLayers) {
    auto net = MakeLinearNet({2, 3, 1});
    EXPECT_EQ(net->GetNumNeurons(), 6);
    EXPECT_EQ(net->GetNeuron(1), net->GetLayer(0)->GetNeuron(1));
    EXPECT_EQ(net->GetNeuron(2), net->GetLayer(1)->GetNeuron(0));
    EXPECT_EQ(net->GetNeuron(5), net->GetLayer(2)->GetNeuron(0));
    EXPECT_DEATH(net->GetNeuron(-1), "Assertion failed: index>=0");
    EXPECT_DEATH(net->GetNeuron(6), "Assertion failed: index<GetNumNeurons\\(\\)");
    EXPECT_DEATH(net->NewInAllArcsIterator(), "Assertion failed: false");
}

TEST(BasicNetworkTest, CopyRecallsTheSameAndStaysIndependent) {
    auto net = MakeBiasInputOutput();
    net->GetConnections(1, 2)->Prune(1, 0);
    net->GetLayer(2)->SetActFunction(ActSigmoid);
    TBasicNetwork copy(*net);
    EXPECT_EQ(RecallOf(copy, {1.5, 0.25}), RecallOf(*net, {1.5, 0.25}));
    EXPECT_EQ(copy.GetNumWeights(FMaskExists), 2);
    EXPECT_NE(copy.GetFnRegistry(), net->GetFnRegistry());
    for (int i = 0; i < 3; ++i) {
        EXPECT_NE(copy.GetLayer(i), net->GetLayer(i));
        EXPECT_EQ(copy.GetLayer(i)->network, &copy);
        EXPECT_STREQ(copy.GetLayer(i)->GetTypeName(), net->GetLayer(i)->GetTypeName());
    }
    EXPECT_EQ(copy.GetConnections(1, 2)->network, &copy);
    EXPECT_STREQ(copy.GetConnections(1, 2)->GetConnectionsNType(), "Pruneable");

    copy.GetConnections(0, 2)->GetWeight(0, 0) = 100.0;
    copy.Disconnect(1, 2);
    EXPECT_EQ(net->GetConnections(0, 2)->GetWeight(0, 0), 0.5);
    EXPECT_TRUE(net->GetConnections(1, 2)->IsConnected());

    // Assignment builds the same deep copy; assigning to itself changes nothing.
    TBasicNetwork assigned(*MakeLinearNet({1, 1}));
    assigned = *net;
    EXPECT_EQ(assigned.GetNumLayers(), 3);
    EXPECT_EQ(RecallOf(assigned, {-2.0, 4.0}), RecallOf(*net, {-2.0, 4.0}));
    EXPECT_EQ(assigned.GetConnections(1, 2)->network, &assigned);
    TBasicNetwork& self = assigned;
    assigned = self;
    EXPECT_EQ(RecallOf(assigned, {-2.0, 4.0}), RecallOf(*net, {-2.0, 4.0}));
}

TEST(BasicNetworkTest, AnUnfinishedNetworkCanBeCopiedAndDestroyed) {
    auto net = std::make_unique<TBasicNetwork>(4);
    EXPECT_EQ(net->GetMissingLayer(), 0);
    net->SetLayer(0, new TSimpleLayer(net.get(), 0, 1));
    net->SetLayer(1, new TSimpleInputLayer(net.get(), 1, 2));
    net->Connect(0, 1);
    EXPECT_EQ(net->GetMissingLayer(), 2);
    TBasicNetwork copy(*net);
    EXPECT_EQ(copy.GetMissingLayer(), 2);
    EXPECT_EQ(copy.GetLayer(3), nullptr);
    EXPECT_EQ(copy.GetConnections(0, 1)->GetNumWeights(FMaskExists), 2);
    net.reset();  // destroying skips the empty slots

    copy.SetLayer(1, new TSimpleInputLayer(&copy, 1, 2));  // replaces and frees the old one
    copy.SetLayer(2, new TSimpleLayer(&copy, 2, 1));
    copy.SetLayer(3, new TSimpleLayer(&copy, 3, 1));
    EXPECT_EQ(copy.GetMissingLayer(), -1);
}

}  // namespace
}  // namespace synapsor
