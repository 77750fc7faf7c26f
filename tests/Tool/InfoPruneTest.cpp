// info and prune on small hand-built networks: the report's figures, which weights pruning
// takes (ties included), what it leaves alone, and that removing dead neurons leaves the
// network's outputs as they were.
#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileHandler/ParseTools.h"
#include "MLP/Tool/Info.h"
#include "MLP/Tool/Prune.h"
#include "NeuralNets/MLPNetwork.h"

namespace synapsor {
namespace {

// Bias 0, inputs 1 (2), hidden 2 (3 gain neurons, three functions, gains 2, 1, 0.5), output 3.
// (0 -> 2) holds a frozen weight; (1 -> 2) a pruned and a frozen one; (2 -> 3) is fully
// connected.
const char kMixedNetwork[] = R"(
[NeuralNetwork] [NetworkType = Basic]
[NetworkInformation] [NumberOfLayers = 4] [~NetworkInformation]
[Layer = 0] [LayerType = Simple] [NumberOfNeurons = 1] [ActivationFunction = bias] [~Layer]
[Layer = 1] [LayerType = Input] [NumberOfNeurons = 2] [ActivationFunction = linear] [~Layer]
[Layer = 2] [LayerType = Gain] [NumberOfNeurons = 3]
[Neurons]
[Neuron = 0 ActivationFunction = sigmoid-gain Gain = 2]
[Neuron = 1 ActivationFunction = tanh Gain = 1]
[Neuron = 2 ActivationFunction = linear-gain Gain = 0.5]
[~Neurons] [~Layer]
[Layer = 3] [LayerType = Gain] [NumberOfNeurons = 1] [ActivationFunction = sigmoid] [Gain = 1]
[~Layer]
[ConnectionLayer] [LayerFrom = 0] [LayerTo = 2] [ConnectionType = Pruneable]
[Matrix Weights TrainableInfo] 0.1 T -0.2 T 0.3 F [~Matrix] [~ConnectionLayer]
[ConnectionLayer] [LayerFrom = 0] [LayerTo = 3] [ConnectionType = Pruneable]
[Matrix Weights TrainableInfo] 0.05 T [~Matrix] [~ConnectionLayer]
[ConnectionLayer] [LayerFrom = 1] [LayerTo = 2] [ConnectionType = Pruneable]
[Matrix Weights TrainableInfo] 0.5 T - - -0.05 T   0.05 T 1.5 F -0.25 T [~Matrix]
[~ConnectionLayer]
[ConnectionLayer] [LayerFrom = 2] [LayerTo = 3] [ConnectionType = FullyConnected]
[Matrix Weights] 0.4 -0.6 0.8 [~Matrix] [~ConnectionLayer]
[~NeuralNetwork]
)";

std::unique_ptr<TBasicNetwork> Read(const std::string& text) {
    std::istringstream in(text);
    FileTools tools;
    return tools.ReadNetwork(in);
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

TEST(InfoTest, FiguresOfAMixedNetwork) {
    auto net = Read(kMixedNetwork);
    const NetworkInfo info = DescribeNetwork(*net);
    EXPECT_EQ(info.type, "Basic");
    EXPECT_EQ(info.biasLayers, std::vector<int>{0});
    EXPECT_EQ(info.layers[2].function, "mixed");
    EXPECT_EQ(info.layers[2].gains, (std::vector<double>{2.0, 1.0, 0.5}));
    EXPECT_TRUE(info.layers[3].gains.empty());  // all 1
    EXPECT_EQ(info.layers[0].role + info.layers[1].role + info.layers[2].role + info.layers[3].role,
              "biasinputhiddenoutput");

    const std::vector<std::vector<double>> rows = {
        // from, to, existing, pruned, frozen, min |w|, max |w|, mean |w|
        {0, 2, 3, 0, 1, 0.1, 0.3, 0.2},
        {0, 3, 1, 0, 0, 0.05, 0.05, 0.05},
        {1, 2, 5, 1, 1, 0.05, 1.5, 0.47},  // (0.5 + 0.05 + 1.5 + 0.05 + 0.25) / 5
        {2, 3, 3, 0, 0, 0.4, 0.8, 0.6}};
    ASSERT_EQ(info.connections.size(), rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ConnectionInfo& c = info.connections[i];
        const std::vector<double> got = {1.0 * c.from,   1.0 * c.to,     1.0 * c.existing,
                                         1.0 * c.pruned, 1.0 * c.frozen, c.minAbs,
                                         c.maxAbs,       c.meanAbs};
        for (std::size_t k = 0; k < got.size(); ++k)
            EXPECT_NEAR(got[k], rows[i][k], 1e-12) << "row " << i << ", column " << k;
    }
    EXPECT_EQ(info.connections[3].type, "FullyConnected");
    EXPECT_EQ(info.neurons, 7);
    EXPECT_EQ(info.existing, 12);
    EXPECT_EQ(info.pruned, 1);
    EXPECT_EQ(info.frozen, 2);

    std::ostringstream json;
    WriteInfoJson(info, json);
    const auto parsed = nlohmann::json::parse(json.str());
    EXPECT_EQ(parsed["layers"][2]["gains"], nlohmann::json::parse("[2.0, 1.0, 0.5]"));
    EXPECT_FALSE(parsed["layers"][3].contains("gains"));
    EXPECT_EQ(parsed["totals"]["trainable"], 10);

    std::ostringstream text;
    WriteInfoText(info, text);
    EXPECT_NE(text.str().find("    2  Gain    hidden        3  mixed             0.5 to 2\n"),
              std::string::npos)
        << text.str();
    EXPECT_NE(text.str().find("Total: 4 layers, 7 neurons, 12 weights (10 trainable, 2 frozen), "
                              "1 pruned\n"),
              std::string::npos);
}

// Trainable candidates in position order: (0->2) 0->0 0.1, 0->1 0.2; (0->3) 0.05;
// (1->2) 0->0 0.5, 1->0 0.05, 0->2 0.05, 1->2 0.25. The three 0.05 weights tie.
TEST(PruneWeightsTest, ThresholdAndFractionTakeTheSmallestEarliestFirst) {
    struct Case {
        const char* name;
        PruneOptions options;
        std::vector<int> prunedPerPair;  // (0,2), (0,3), (1,2), (2,3)
        bool ties[3];                    // pruned: (0->3) 0->0, (1->2) 1->0, (1->2) 0->2
    };
    // clang-format off
    const Case cases[] = {
        {"below 0.1, strictly", PruneOptions{0.1, {}}, {0, 1, 2, 0}, {true, true, true}},
        {"threshold 0", PruneOptions{0.0, {}}, {0, 0, 0, 0}, {false, false, false}},
        {"two of seven: the tie goes by position", PruneOptions{{}, 2.0 / 7.0}, {0, 1, 1, 0},
         {true, true, false}},
        {"half of seven rounds down", PruneOptions{{}, 0.5}, {0, 1, 2, 0}, {true, true, true}},
        {"all", PruneOptions{{}, 1.0}, {2, 1, 4, 0}, {true, true, true}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto net = Read(kMixedNetwork);
        const auto pairs = PruneWeights(*net, c.options);
        ASSERT_EQ(pairs.size(), 4u);
        for (std::size_t i = 0; i < 4; ++i)
            EXPECT_EQ(pairs[i].pruned, c.prunedPerPair[i]) << "pair " << i;
        EXPECT_EQ(!net->GetConnections(0, 3)->IsValid(0, 0), c.ties[0]);
        EXPECT_EQ(!net->GetConnections(1, 2)->IsValid(1, 0), c.ties[1]);
        EXPECT_EQ(!net->GetConnections(1, 2)->IsValid(0, 2), c.ties[2]);
        // Frozen and fully connected weights keep their values whatever was asked.
        EXPECT_EQ(net->GetConnections(0, 2)->GetWeight(0, 2), 0.3);
        EXPECT_EQ(net->GetConnections(1, 2)->GetWeight(1, 1), 1.5);
        EXPECT_TRUE(net->GetConnections(1, 2)->IsValid(1, 1));
        const double fullyConnected[] = {0.4, -0.6, 0.8};
        for (int k = 0; k < 3; ++k)
            EXPECT_EQ(net->GetConnections(2, 3)->GetWeight(k, 0), fullyConnected[k]);
        EXPECT_EQ(pairs[0].frozenSkipped + pairs[2].frozenSkipped, 2);
        EXPECT_TRUE(pairs[3].fullyConnected);
    }
}

TEST(PruneWeightsTest, SkippedWeightsAreReported) {
    auto net = Read(kMixedNetwork);
    PruneOptions options;
    options.fraction = 1.0;
    options.keepNodes = true;
    std::ostringstream out;
    WritePruneReport(PruneNetwork(*net, options), out);
    EXPECT_NE(out.str().find("Layers 0 -> 2: 1 frozen weight skipped: frozen weights are never "
                             "pruned\n"),
              std::string::npos)
        << out.str();
    EXPECT_NE(out.str().find("Layers 2 -> 3: 3 weights skipped: a fully connected matrix cannot "
                             "hold pruned weights\n"),
              std::string::npos);
    EXPECT_NE(out.str().find("Weights: 12 before, 5 after\n"), std::string::npos);
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
