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
#include "MLP/Tool/ToolSupport.h"

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

const char kFullyConnectedNetwork[] = R"(
[NeuralNetwork] [NetworkType = Connected]
[NetworkInformation] [NumberOfLayers = 3] [~NetworkInformation]
[Layer = 0] [LayerType = Simple] [NumberOfNeurons = 1] [ActivationFunction = bias] [~Layer]
[Layer = 1] [LayerType = Input] [NumberOfNeurons = 1] [ActivationFunction = linear] [~Layer]
[Layer = 2] [LayerType = Simple] [NumberOfNeurons = 1] [ActivationFunction = sigmoid] [~Layer]
[ConnectionLayer] [LayerFrom = 1] [LayerTo = 2] [ConnectionType = FullyConnected]
[Matrix Weights] 0.001 [~Matrix] [~ConnectionLayer]
[~NeuralNetwork]
)";

std::unique_ptr<TBasicNetwork> Read(const std::string& text) {
    std::istringstream in(text);
    FileTools tools;
    return tools.ReadNetwork(in);
}

// An MLP with bias, the given layer sizes and weight (f, t) of every pair set to a distinct
// value, so that every neuron matters until weights are pruned.
std::unique_ptr<TBasicNetwork> Chain(const std::vector<int>& sizes) {
    std::ostringstream text;
    const int layers = static_cast<int>(sizes.size()) + 1;
    text << "[NeuralNetwork] [NetworkType = MLP] [NetworkInformation] [NumberOfLayers = " << layers
         << "] [~NetworkInformation]\n"
         << "[Layer = 0] [LayerType = Simple] [NumberOfNeurons = 1] "
            "[ActivationFunction = bias] [~Layer]\n";
    for (int L = 1; L < layers; ++L)
        text << "[Layer = " << L << "] [LayerType = " << (L == 1 ? "Input" : "Gain")
             << "] [NumberOfNeurons = " << sizes[L - 1]
             << "] [ActivationFunction = " << (L == 1 ? "linear" : "sigmoid") << "]"
             << (L == 1 ? "" : " [Gain = 1]") << " [~Layer]\n";
    double w = 0.1;
    for (int t = 2; t < layers; ++t) {
        for (int f : {0, t - 1}) {
            text << "[ConnectionLayer] [LayerFrom = " << f << "] [LayerTo = " << t
                 << "] [ConnectionType = Pruneable] [WeightList]\n";
            const int nFrom = f == 0 ? 1 : sizes[f - 1];
            for (int i = 0; i < nFrom; ++i)
                for (int j = 0; j < sizes[t - 1]; ++j, w = -w * 1.1 + 0.03)
                    text << "[From = " << i << " To = " << j << " Weight = " << w << "]\n";
            text << "[~WeightList] [~ConnectionLayer]\n";
        }
    }
    text << "[~NeuralNetwork]\n";
    return Read(text.str());
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

    struct Row {
        int from, to, existing, pruned, frozen;
        double minAbs, maxAbs, meanAbs;
    };
    const Row rows[] = {{0, 2, 3, 0, 1, 0.1, 0.3, 0.2},
                        {0, 3, 1, 0, 0, 0.05, 0.05, 0.05},
                        {1, 2, 5, 1, 1, 0.05, 1.5, 0.47},  // (0.5+0.05+1.5+0.05+0.25)/5
                        {2, 3, 3, 0, 0, 0.4, 0.8, 0.6}};
    ASSERT_EQ(info.connections.size(), 4u);
    for (std::size_t i = 0; i < 4; ++i) {
        const ConnectionInfo& c = info.connections[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(c.from, rows[i].from);
        EXPECT_EQ(c.to, rows[i].to);
        EXPECT_EQ(c.existing, rows[i].existing);
        EXPECT_EQ(c.pruned, rows[i].pruned);
        EXPECT_EQ(c.frozen, rows[i].frozen);
        EXPECT_DOUBLE_EQ(c.minAbs, rows[i].minAbs);
        EXPECT_DOUBLE_EQ(c.maxAbs, rows[i].maxAbs);
        EXPECT_DOUBLE_EQ(c.meanAbs, rows[i].meanAbs);
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
    EXPECT_EQ(parsed["connections"][2]["pruned"], 1);

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
    auto threshold = [](double t) {
        PruneOptions o;
        o.threshold = t;
        return o;
    };
    auto fraction = [](double f) {
        PruneOptions o;
        o.fraction = f;
        return o;
    };
    const Case cases[] = {
        {"below 0.1, strictly", threshold(0.1), {0, 1, 2, 0}, {true, true, true}},
        {"threshold 0", threshold(0.0), {0, 0, 0, 0}, {false, false, false}},
        {"two of seven: the tie goes by position",
         fraction(2.0 / 7.0),
         {0, 1, 1, 0},
         {true, true, false}},
        {"half of seven rounds down", fraction(0.5), {0, 1, 2, 0}, {true, true, true}},
        {"all", fraction(1.0), {2, 1, 4, 0}, {true, true, true}},
    };
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

TEST(PruneWeightsTest, BadOptionsAndNetworksWithoutPruneableMatrices) {
    auto threshold = [](double t) {
        PruneOptions o;
        o.threshold = t;
        return o;
    };
    auto fraction = [](double f) {
        PruneOptions o;
        o.fraction = f;
        return o;
    };
    const std::pair<PruneOptions, std::string> cases[] = {
        {threshold(-0.01), "the threshold must be 0 or more, not -0.01"},
        {threshold(std::nan("")), "the threshold must be 0 or more, not nan"},
        {fraction(-0.5), "the fraction must lie between 0 and 1, not -0.5"},
        {fraction(1.01), "the fraction must lie between 0 and 1, not 1.01"},
        {PruneOptions(), "give either --threshold or --fraction"},
    };
    for (const auto& [options, message] : cases) {
        auto net = Read(kMixedNetwork);
        try {
            PruneWeights(*net, options);
            ADD_FAILURE() << message;
        } catch (const ToolError& e) {
            EXPECT_EQ(e.what(), message);
        }
        EXPECT_EQ(net->GetNumWeights(FMaskExists), 12);
    }
    auto net = Read(kFullyConnectedNetwork);
    EXPECT_THROW(
        {
            try {
                PruneWeights(*net, threshold(1.0));
            } catch (const ToolError& e) {
                EXPECT_STREQ(e.what(),
                             "the network has no pruneable weight matrix, so no weight can be "
                             "pruned");
                throw;
            }
        },
        ToolError);
}

TEST(RemoveDeadNeuronsTest, NeuronWithoutOutgoingWeightsGoesAndOutputsStay) {
    auto net = Chain({2, 4, 2});
    PruneOutgoing(*net, 2, 2);
    auto original = std::make_unique<TBasicNetwork>(*net);
    const auto report = RemoveDeadNeurons(*net);
    ASSERT_EQ(report.size(), 1u);
    EXPECT_EQ(report[0].layer, 2);
    EXPECT_EQ(report[0].removed, std::vector<int>{2});
    EXPECT_EQ(net->GetLayer(2)->numNodes, 3);
    EXPECT_EQ(net->CheckConsistency(), "");
    for (const auto& input : Grid())
        EXPECT_EQ(Outputs(*net, input), Outputs(*original, input));
}

TEST(RemoveDeadNeuronsTest, ChainsAcrossTwoLayers) {
    // Layers: bias 0, inputs 1 (2), hidden 2 (3), hidden 3 (3), outputs 4 (1).
    struct Case {
        const char* name;
        void (*cut)(TBasicNetwork&);
        std::vector<int> removed2, removed3;
        bool exact;  // false: a constant output moved into bias weights, rounding may differ
    };
    const Case cases[] = {
        {"neuron 1 of layer 3 feeds nothing, neuron 0 of layer 2 fed only it",
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
             for (int k = 0; k < 2; ++k)
                 n.GetConnections(1, 2)->Prune(k, 2);
             for (int k = 0; k < 2; ++k)
                 n.GetConnections(2, 3)->Prune(k, 0);
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
        const auto report = RemoveDeadNeurons(*net);
        ASSERT_EQ(report.size(), 2u);
        EXPECT_EQ(report[0].removed, c.removed2);
        EXPECT_EQ(report[1].removed, c.removed3);
        EXPECT_EQ(net->GetLayer(0)->numNodes, 1);  // the bias neuron always stays
        EXPECT_EQ(net->CheckConsistency(), "");
        for (const auto& input : Grid()) {
            const auto got = Outputs(*net, input);
            const auto want = Outputs(*original, input);
            if (c.exact)
                EXPECT_EQ(got, want);
            else
                EXPECT_NEAR(got[0], want[0], 1e-12);
        }
    }
}

TEST(RemoveDeadNeuronsTest, ConstantNeuronStaysWhenItsOutputCannotMove) {
    const std::pair<const char*, void (*)(TBasicNetwork&)> cases[] = {
        {"the output has no bias weight",
         [](TBasicNetwork& n) { n.GetConnections(0, 3)->Prune(0, 0); }},
        {"its outgoing weight is frozen",
         [](TBasicNetwork& n) { n.GetConnections(2, 3)->SetUntrainable(0, 0); }},
    };
    for (const auto& [name, cut] : cases) {
        SCOPED_TRACE(name);
        auto net = Chain({2, 2, 1});
        PruneIncoming(*net, 2, 0);  // sigmoid of 0: a constant 0.5
        cut(*net);
        EXPECT_TRUE(RemoveDeadNeurons(*net).empty());
        EXPECT_EQ(net->GetLayer(2)->numNodes, 2);
    }
}

TEST(RemoveDeadNeuronsTest, BiasNeuronWithoutOutgoingWeightsStays) {
    auto net = Chain({2, 2, 1});
    PruneOutgoing(*net, 0, 0);
    EXPECT_TRUE(RemoveDeadNeurons(*net).empty());
    EXPECT_EQ(net->GetNumNeurons(), 6);
}

}  // namespace
}  // namespace synapsor
