// info and prune on small hand-built networks: the report's figures, which weights pruning
// takes (ties included) and what it leaves alone. Removing dead neurons is tested with the
// library's node pruning (tests/NeuralNets/NetworkEditingTest.cpp).
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

}  // namespace
}  // namespace synapsor
