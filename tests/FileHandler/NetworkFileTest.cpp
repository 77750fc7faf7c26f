#include "FileHandler/NetworkFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

#include "NeuralNets/ConnectedNetwork.h"
#include "NeuralNets/MLPNetwork.h"

namespace synapsor {
namespace {

// Bias layer 0 (one neuron), input layer 1 (two neurons), gain layer 2 (three sigmoid-gain
// neurons, gain 2). 0->2 pruneable: (0,0) = 0.5 trainable, (0,1) absent, (0,2) = -1 frozen.
// 1->2 fully connected with the weights 1..6 in reading order.
const char kMinimal[] = R"([NeuralNetwork]
[NetworkType = Basic]
[NetworkInformation]
[NumberOfLayers = 3]
[~NetworkInformation]
[Layer = 0]
[LayerType = Simple]
[NumberOfNeurons = 1]
[ActivationFunction = bias]
[~Layer]
[Layer = 1]
[LayerType = Input]
[NumberOfNeurons = 2]
[~Layer]
[Layer = 2]
[LayerType = Gain]
[NumberOfNeurons = 3]
[ActivationFunction = sigmoid-gain]
[Gain = 2]
[~Layer]
[ConnectionLayer]
[LayerFrom = 0]
[LayerTo = 2]
[ConnectionType = Pruneable]
[Matrix Weights TrainableInfo]
0.5 T  - -  -1 F
[~Matrix]
[~ConnectionLayer]
[ConnectionLayer]
[LayerFrom = 1]
[LayerTo = 2]
[ConnectionType = FullyConnected]
[Attributes UnPrunable UnFreezable]
[Matrix Weights]
1 2 3
4 5 6
[~Matrix]
[~ConnectionLayer]
[~NeuralNetwork]
)";

const char kPrunedMatrix[] = "[Matrix Weights TrainableInfo]\n0.5 T  - -  -1 F\n[~Matrix]";
const char kFullMatrix[] = "[Matrix Weights]\n1 2 3\n4 5 6\n[~Matrix]";
const char kLayer2Functions[] = "[ActivationFunction = sigmoid-gain]\n[Gain = 2]";

double Sigmoid(double x) {
    return 1.0 / (1.0 + std::exp(-x));
}

double GainOf(TBasicNetwork& net, int layer, int neuron) {
    return dynamic_cast<TGainNeuron&>(*net.GetLayer(layer)->GetNeuron(neuron)).gain;
}

// Decimal comma and digit grouping: a locale that would garble numbers written through it.
struct CommaNumbers : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

class NetworkFileTest : public ::testing::Test {
  protected:
    std::unique_ptr<TBasicNetwork> Read(const std::string& text) {
        std::istringstream in(text);
        return tools.ReadNetwork(in);
    }
    // The message of the error that reading text raises.
    std::string ErrorOf(const std::string& text) {
        try {
            Read(text);
        } catch (const FileTools::Error& e) {
            return e.message;
        }
        ADD_FAILURE() << "read without error";
        return {};
    }
    // text with the first occurrence of from replaced by to.
    static std::string Mutated(const std::string& from, const std::string& to,
                               std::string text = kMinimal) {
        const std::size_t pos = text.find(from);
        EXPECT_NE(pos, std::string::npos) << from;
        if (pos != std::string::npos)
            text.replace(pos, from.size(), to);
        return text;
    }
    std::string Write(TBasicNetwork& net) {
        std::ostringstream out;
        out.imbue(std::locale(std::locale::classic(), new CommaNumbers));
        tools.WriteNetwork(out, &net);
        return out.str();
    }
    std::string WriteError(TBasicNetwork& net) {
        try {
            Write(net);
        } catch (const FileTools::Error& e) {
            return e.message;
        }
        ADD_FAILURE() << "written without error";
        return {};
    }

    FileTools tools;
};

// --- Reading ---

TEST_F(NetworkFileTest, MinimalFileBuildsTheWholeNetwork) {
    auto net = Read(kMinimal);
    EXPECT_STREQ(net->GetTypeName(), "Basic");
    ASSERT_EQ(net->GetNumLayers(), 3);
    EXPECT_EQ(net->inLayer, 1);
    EXPECT_EQ(net->outLayer, 2);
    EXPECT_STREQ(net->GetLayer(1)->GetTypeName(), "Input");
    EXPECT_EQ(net->GetLayer(0)->GetActFunction(), ActBias);
    EXPECT_EQ(net->GetLayer(2)->GetActFunction(), ActSigmoidGain);
    for (int n = 0; n < 3; ++n)
        EXPECT_EQ(GainOf(*net, 2, n), 2.0);

    TBasicConnections& bias = *net->GetConnections(0, 2);
    EXPECT_STREQ(bias.GetConnectionsNType(), "Pruneable");
    EXPECT_EQ(bias.GetWeight(0, 0), 0.5);
    EXPECT_TRUE(bias.IsTrainable(0, 0));
    EXPECT_FALSE(bias.IsValid(0, 1));  // "-" in both columns
    EXPECT_EQ(bias.GetWeight(0, 2), -1.0);
    EXPECT_FALSE(bias.IsTrainable(0, 2));

    // Six tokens of a 2-to-3 matrix: source outer, destination inner.
    TBasicConnections& full = *net->GetConnections(1, 2);
    EXPECT_STREQ(full.GetConnectionsNType(), "FullyConnected");
    const double expected[2][3] = {{1, 2, 3}, {4, 5, 6}};
    for (int f = 0; f < 2; ++f) {
        for (int t = 0; t < 3; ++t)
            EXPECT_EQ(full.GetWeight(f, t), expected[f][t]);
    }

    // The read network computes: inputs (1, 0.5), gain 2.
    const double input[2] = {1.0, 0.5};
    double output[3];
    net->Recall(input, output);
    EXPECT_NEAR(output[0], Sigmoid(2 * (0.5 + 1 * 1 + 4 * 0.5)), 1e-15);
    EXPECT_NEAR(output[1], Sigmoid(2 * (2 * 1 + 5 * 0.5)), 1e-15);
    EXPECT_NEAR(output[2], Sigmoid(2 * (-1 + 3 * 1 + 6 * 0.5)), 1e-15);
}

TEST_F(NetworkFileTest, KeywordsMatchInAnyCase) {
    const std::string original = Write(*Read(kMinimal));
    for (int (*change)(int) : {::tolower, ::toupper}) {
        std::string text = kMinimal;
        std::transform(text.begin(), text.end(), text.begin(), change);
        auto net = Read(text);
        EXPECT_EQ(Write(*net), original);
    }
    std::string lower = kMinimal;
    std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
    auto mlp = Read(Mutated("[networktype = basic]", "[networktype = mlp]", lower));
    EXPECT_NE(dynamic_cast<TMLPNetwork*>(mlp.get()), nullptr);
}

TEST_F(NetworkFileTest, AllBracketMeansThePlainStatement) {
    const std::string plain = Write(*Read(kMinimal));
    EXPECT_EQ(Write(*Read(Mutated("[ActivationFunction = sigmoid-gain]",
                                  "[ALL ActivationFunction = sigmoid-gain]"))),
              plain);
    EXPECT_EQ(Write(*Read(Mutated("[Gain = 2]", "[All Gain = 2]"))), plain);
    EXPECT_EQ(ErrorOf(Mutated("[Gain = 2]", "[ALL]")), "[ALL] is incomplete statment");
    EXPECT_EQ(ErrorOf(Mutated("[Gain = 2]", "[ALL LayerType]")),
              "Required syntax is [ALL <keyword>=<val>]");
    EXPECT_EQ(ErrorOf(Mutated("[Gain = 2]", "[ALL Gain = 2 x = 1]")), "Too complicated statement");
}

TEST_F(NetworkFileTest, GainIsGivenPerLayerOrCarriedBetweenNeurons) {
    EXPECT_EQ(ErrorOf(Mutated("[Gain = 2]\n", "")), "Incomplete Layer information");

    // Neuron 1 takes the layer's gain, neuron 2 the gain neuron 0 gave last. Neuron 2's own
    // function is checked but the layer's function applies.
    auto net = Read(Mutated(kLayer2Functions,
                            "[Gain = 2]\n[ActivationFunction = sigmoid-gain]\n[Neurons]\n"
                            "[Neuron = 1]\n[Neuron = 0 Gain = 0.5]\n"
                            "[Neuron = 2 ActivationFunction = tanh]\n[~Neurons]"));
    EXPECT_EQ(GainOf(*net, 2, 0), 0.5);
    EXPECT_EQ(GainOf(*net, 2, 1), 2.0);
    EXPECT_EQ(GainOf(*net, 2, 2), 0.5);
    EXPECT_EQ(net->GetLayer(2)->GetActFunction(), ActSigmoidGain);

    // Without a layer function every neuron names its own.
    net = Read(Mutated(kLayer2Functions,
                       "[Neurons]\n[Neuron = 0 ActivationFunction = tanh-gain Gain = 3]\n"
                       "[Neuron = 1 ActivationFunction = linear-gain]\n"
                       "[Neuron = 2 ActivationFunction = sigmoid]\n[~Neurons]"));
    EXPECT_EQ(net->GetLayer(2)->GetNeuron(0)->GetActFunction(), ActTanhGain);
    EXPECT_EQ(net->GetLayer(2)->GetNeuron(2)->GetActFunction(), ActSigmoid);
    EXPECT_EQ(GainOf(*net, 2, 2), 3.0);
    EXPECT_EQ(net->GetLayer(2)->GetActFunction(), nullptr);
}

TEST_F(NetworkFileTest, NeuronsBlockErrors) {
    const auto withNeurons = [](const std::string& neurons) {
        return Mutated(kLayer2Functions, "[Gain = 1]\n[Neurons]\n" + neurons + "[~Neurons]");
    };
    const std::string ok = "[Neuron = 0 ActivationFunction = sigmoid-gain]\n";
    EXPECT_EQ(ErrorOf(withNeurons(ok + ok)), "repeated neuron");
    EXPECT_EQ(ErrorOf(withNeurons(ok)), "Neuron not defined");
    // The statement after the neurons block is read before the block is found incomplete.
    const std::string cut = withNeurons(ok);
    EXPECT_EQ(ErrorOf(cut.substr(0, cut.find("[~Neurons]") + 10)), "Unexpected end of file");
    EXPECT_EQ(ErrorOf(withNeurons("[Neuron = 0 Gain = 1]\n")), "No activation function defined");
    EXPECT_EQ(ErrorOf(withNeurons("[Neuron = 0 Gain]\n")),
              "Equals clause expected in neuron parameter");
    EXPECT_EQ(ErrorOf(withNeurons("[Neuron = 3]\n")),
              "Neuron index 3 is outside 0 to 2 in layer 2");
    EXPECT_EQ(ErrorOf(withNeurons("[Neuron = -1]\n")),
              "Neuron index -1 is outside 0 to 2 in layer 2");
    EXPECT_EQ(ErrorOf(withNeurons("[Neuron = 0 Slope = 1]\n")),
              "Unknown neuron parameter \"Slope\" of neuron 0 in layer 2");
    EXPECT_EQ(ErrorOf(withNeurons("[Neuron = 0 ActivationFunction = cosine]\n")),
              "Unknown activation function \"cosine\" in layer 2");
}

TEST_F(NetworkFileTest, LayerBlockErrors) {
    const std::string layer2 = "[LayerType = Gain]\n[NumberOfNeurons = 3]";
    EXPECT_EQ(ErrorOf(Mutated("= Gain]", "= Hidden]")), "Unknown layer type");
    EXPECT_EQ(ErrorOf(Mutated("[LayerType = Input]\n", "")),
              "Layer 1 needs both LayerType and NumberOfNeurons");
    EXPECT_EQ(ErrorOf(Mutated(layer2, "[Gain = 2]\n" + layer2)),
              "Unknown keyword or neuron parameter \"Gain\" before LayerType and NumberOfNeurons "
              "in layer 2");
    EXPECT_EQ(ErrorOf(Mutated("[Gain = 2]", "[Slope = 2]")),
              "Unknown keyword or neuron parameter \"Slope\" in layer 2");
    EXPECT_EQ(ErrorOf(Mutated("sigmoid-gain", "sigmoid-gian")),
              "Unknown activation function \"sigmoid-gian\" in layer 2");
    EXPECT_EQ(ErrorOf(Mutated("[NumberOfNeurons = 3]", "[NumberOfNeurons = -3]")),
              "NumberOfNeurons = -3 is negative in layer 2");
    EXPECT_EQ(ErrorOf(Mutated(layer2, layer2 + "\n[NumberOfNeurons = 4]")),
              "NumberOfNeurons changed after the layer was created in layer 2");
    EXPECT_EQ(ErrorOf(Mutated("[NumberOfNeurons = 3]", "[NumberOfNeurons = 3 x]")),
              "Too complicated statement");
    EXPECT_EQ(ErrorOf(Mutated("[Layer = 2]", "[Layer = 3]")), "Layer index 3 is outside 0 to 2");
}

// A Simple or Gain layer applies its functions in every forward pass; an Input layer never does.
TEST_F(NetworkFileTest, LayersThatCannotBeComputedAreRejected) {
    EXPECT_EQ(ErrorOf(Mutated("= sigmoid-gain]", "= null]")),
              "Activation function \"null\" cannot compute neuron 0 of layer 2");
    EXPECT_EQ(ErrorOf(Mutated("= sigmoid-gain]", "= error]")),
              "Activation function \"error\" cannot compute neuron 0 of layer 2");
    EXPECT_EQ(ErrorOf(Mutated("[ActivationFunction = bias]\n", "")),
              "No activation function defined for layer 0");
    EXPECT_EQ(ErrorOf(Mutated("= bias]", "= sigmoid-gain]")),
              "Activation function \"sigmoid-gain\" needs a Gain layer; layer 0 is of type Simple");
    auto net = Read(
        Mutated("[NumberOfNeurons = 2]", "[NumberOfNeurons = 2]\n[All ActivationFunction = null]"));
    EXPECT_EQ(net->GetLayer(1)->GetActFunction(), ActNull);
}

TEST_F(NetworkFileTest, HeaderErrors) {
    const std::string count = "[NumberOfLayers = 3]";
    EXPECT_EQ(ErrorOf(Mutated(count + "\n", "")), "Must specify number of layers");
    EXPECT_EQ(ErrorOf(Mutated(count, count + "[Layers = 3]")), "Unknown keyword");
    EXPECT_EQ(ErrorOf(Mutated(count, "[NumberOfLayers = 3 x]")), "Too complicated statement");
    EXPECT_EQ(ErrorOf(Mutated("= Basic]", "= Perceptron]")), "Unknown network type");
    EXPECT_EQ(ErrorOf(Mutated(count, count + "[NumberOfInputs = 3]")),
              "wrong number inputs in header");
    EXPECT_EQ(ErrorOf(Mutated(count, count + "[NumberOfOutputs = 2]")),
              "wrong number outputs in header");
    EXPECT_EQ(ErrorOf(Mutated(count, count + "[InputLayer = 3]")),
              "InputLayer = 3 must be a layer index below NumberOfLayers = 3");
    EXPECT_EQ(ErrorOf(Mutated(count, count + "[OutputLayer = 3]")),
              "OutputLayer = 3 must be a layer index below NumberOfLayers = 3");
    EXPECT_EQ(ErrorOf(Mutated(count, "[NumberOfLayers = 4]")),
              "Layer 3 is not defined (NumberOfLayers = 4)");
    EXPECT_EQ(ErrorOf(Mutated(count, "[NumberOfLayers = 1001]")),
              "NumberOfLayers = 1001 exceeds the limit of 1000 layers");
    EXPECT_EQ(ErrorOf(Mutated("[NetworkType = Basic]\n", "")),
              "[NETWORKTYPE = <string>] expectedNetworkInformation");
    EXPECT_EQ(ErrorOf(Mutated("[NeuralNetwork]", "[Network]")), "[NEURALNETWORK] expected");
}

TEST_F(NetworkFileTest, NothingButCommentsMayFollowTheEndTag) {
    EXPECT_NE(Read(std::string(kMinimal) + "/* trained */\n"), nullptr);
    EXPECT_EQ(ErrorOf(std::string(kMinimal) + "[Layer = 1]"), "End Tag expected");
    EXPECT_EQ(ErrorOf(std::string(kMinimal) + "3.5"), "End Tag expected");
}

TEST_F(NetworkFileTest, ConnectionBlockErrors) {
    const std::string block =
        "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 2]\n[ConnectionType = Pruneable]\n";
    EXPECT_EQ(ErrorOf(Mutated("[~NeuralNetwork]", block + "[~ConnectionLayer]\n[~NeuralNetwork]")),
              "Connections already defined");
    EXPECT_EQ(ErrorOf(Mutated("[LayerTo = 2]", "[LayerTo = 3]")),
              "Connections from layer 0 to layer 3 name a layer outside 0 to 2");
    EXPECT_EQ(ErrorOf(Mutated("[ConnectionType = Pruneable]\n", "")),
              "Insufficient information to construct layer");
    EXPECT_EQ(ErrorOf(Mutated("= Pruneable]", "= Sparse]")),
              "Insufficient information to construct layer");
    EXPECT_EQ(ErrorOf(Mutated("[LayerTo = 2]", "[LayerTo = 2]\n[Weight = 1]")),
              "Unknown keyword in connections");
}

TEST_F(NetworkFileTest, MatrixErrors) {
    const std::string columns = "[Matrix Weights TrainableInfo]";
    EXPECT_EQ(ErrorOf(Mutated(columns,
                              "[Matrix Weights TrainableInfo Weights Weights Weights "
                              "Weights Weights Weights Weights Weights]")),
              "A matrix has at most 9 columns");
    EXPECT_NE(Read(Mutated(kPrunedMatrix,
                           "[Matrix Weights TrainableInfo Weights Weights Weights Weights Weights "
                           "Weights TrainableInfo]\n0.5 T 1 1 1 1 1 1 T  - - - - - - - - -  "
                           "-1 F -1 -1 -1 -1 -1 -1 F\n[~Matrix]")),
              nullptr);
    EXPECT_EQ(ErrorOf(Mutated(columns, "[Matrix Weights=1 TrainableInfo]")),
              "Keyword expected in matrix parameter");
    EXPECT_EQ(ErrorOf(Mutated(columns, "[Matrix Weights Flags]")), "Unknown matrix attribute");
    EXPECT_EQ(ErrorOf(Mutated("-1 F", "-1")), "Token Expected");
    EXPECT_EQ(ErrorOf(Mutated("0.5 T", "abc T")), "number-expected");
    EXPECT_EQ(ErrorOf(Mutated("0.5 T", "0.5 X")),
              "TrainableInfo must be T or F for an existing connection, found \"X\" at From = 0, "
              "To = 0 (layer 0 to layer 2)");
    EXPECT_NE(Read(Mutated("0.5 T  - -", "0.5 t  - x")), nullptr);  // any word where none exists
    EXPECT_EQ(ErrorOf(Mutated("4 5 6", "4 - 6")),
              "A FullyConnected matrix cannot leave out a connection (\"-\") at From = 1, To = 1 "
              "(layer 1 to layer 2)");
    EXPECT_EQ(
        ErrorOf(Mutated(kFullMatrix,
                        "[Matrix Weights TrainableInfo]\n1 T 2 T 3 T\n4 T 5 F 6 T\n[~Matrix]")),
        "A FullyConnected matrix cannot hold untrainable weights (\"F\") at From = 1, To = 1 "
        "(layer 1 to layer 2)");
}

TEST_F(NetworkFileTest, WeightListCreatesExactlyTheListedConnections) {
    auto net = Read(Mutated(kPrunedMatrix,
                            "[WeightList]\n[From = 0 To = 2 Weight = -0.125 UnTrainable]\n"
                            "[To = 1 From = 0]\n[~WeightList]"));
    TBasicConnections& conns = *net->GetConnections(0, 2);
    EXPECT_EQ(conns.GetNumWeights(FMaskExists), 2);
    EXPECT_FALSE(conns.IsValid(0, 0));
    EXPECT_EQ(conns.GetWeight(0, 1), 0.0);
    EXPECT_TRUE(conns.IsTrainable(0, 1));
    EXPECT_EQ(conns.GetWeight(0, 2), -0.125);
    EXPECT_FALSE(conns.IsTrainable(0, 2));
}

TEST_F(NetworkFileTest, WeightListErrors) {
    const auto list = [](const std::string& entry) {
        return Mutated(kPrunedMatrix, "[WeightList]\n" + entry + "\n[~WeightList]");
    };
    EXPECT_EQ(ErrorOf(list("[From = 0 Weight = 1]")), "Insufficient information in weights list");
    EXPECT_EQ(ErrorOf(list("[From = 0 To = 1 Bias = 1]")), "Unknown keyword in weights list");
    EXPECT_EQ(ErrorOf(list("[From = 1 To = 0]")),
              "Weight list entry outside layers of 1 and 3 neurons at From = 1, To = 0 (layer 0 "
              "to layer 2)");
    testing::internal::CaptureStdout();
    const std::string message = ErrorOf(list("[From = 0 To = 1 Frozen]"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frozen\n");
    EXPECT_EQ(message, "Unknown keyword in weights list");
    EXPECT_EQ(ErrorOf(Mutated(kFullMatrix,
                              "[WeightList]\n[From = 0 To = 0 UnTrainable]\n"
                              "[~WeightList]")),
              "A FullyConnected matrix cannot hold untrainable weights (UnTrainable) at From = 0, "
              "To = 0 (layer 1 to layer 2)");
}

TEST_F(NetworkFileTest, ReadNetworkFileReportsAFileThatCannotBeOpened) {
    try {
        tools.ReadNetworkFile("no-such-dir/network.wgt");
        ADD_FAILURE() << "opened";
    } catch (const FileTools::Error& e) {
        EXPECT_EQ(e.message, "Error on File Open");
        EXPECT_EQ(e.stream, nullptr);  // the file stream is gone once the error leaves
    }
}

// --- Writing ---

// Connected: bias, two inputs, two neurons with different functions, fully connected.
std::unique_ptr<TBasicNetwork> SmallConnected() {
    const int sizes[3] = {1, 2, 2};
    auto net = std::make_unique<TConnectedNetwork>(3, sizes);
    net->GetLayer(0)->SetActFunction(ActBias);
    net->GetLayer(2)->GetNeuron(0)->SetActFunction(ActSigmoid);
    net->GetLayer(2)->GetNeuron(1)->SetActFunction(ActTanh);
    net->Connect(0, 2);
    net->Connect(1, 2);
    net->GetConnections(0, 2)->GetWeight(0, 0) = 0.25;
    net->GetConnections(0, 2)->GetWeight(0, 1) = -0.5;
    TBasicConnections& c = *net->GetConnections(1, 2);
    c.GetWeight(0, 0) = 1.0 / 3.0;
    c.GetWeight(0, 1) = 2.0 / 3.0;
    c.GetWeight(1, 0) = -1e-7;
    c.GetWeight(1, 1) = 12345.678901234567;
    return net;
}

// MLP 2-3-1 with bias; one hidden gain differs, a sparse bias matrix becomes a weight list.
std::unique_ptr<TMLPNetwork> SmallMLP() {
    const int sizes[3] = {2, 3, 1};
    auto net = std::make_unique<TMLPNetwork>(3, sizes, true);
    dynamic_cast<TGainNeuron&>(*net->GetLayer(2)->GetNeuron(1)).gain = 1.5;
    TBasicConnections& in = *net->GetConnections(1, 2);
    in.GetWeight(0, 0) = 0.5;
    in.GetWeight(0, 1) = -0.25;
    in.GetWeight(0, 2) = 1.0 / 7.0;
    in.GetWeight(1, 0) = 2.0 / 3.0;
    in.Prune(1, 1);
    in.GetWeight(1, 2) = -3.0;
    in.SetUntrainable(1, 2);
    TBasicConnections& bias = *net->GetConnections(0, 2);
    bias.Prune(0, 0);
    bias.Prune(0, 1);
    bias.GetWeight(0, 2) = 0.125;
    TBasicConnections& out = *net->GetConnections(2, 3);
    out.GetWeight(0, 0) = 1.5;
    out.GetWeight(1, 0) = -2.5;
    out.GetWeight(2, 0) = 0.75;
    net->GetConnections(0, 3)->GetWeight(0, 0) = -0.0625;
    return net;
}

std::string GoldenPath(const std::string& name) {
    return std::string(SYNAPSOR_NETFILE_GOLDEN) + "/" + name;
}

// Compares with the golden file; SYNAPSOR_UPDATE_GOLDEN=1 rewrites it instead (see golden/).
void ExpectGolden(const std::string& name, const std::string& text) {
    if (std::getenv("SYNAPSOR_UPDATE_GOLDEN") != nullptr) {
        std::ofstream(GoldenPath(name), std::ios::binary) << text;
        return;
    }
    std::ifstream in(GoldenPath(name), std::ios::binary);
    ASSERT_TRUE(in.is_open()) << GoldenPath(name);
    std::stringstream golden;
    golden << in.rdbuf();
    EXPECT_EQ(text, golden.str()) << name;
}

TEST_F(NetworkFileTest, WriterOutputMatchesGoldenFilesAndReadsBackToTheSameText) {
    auto basic = Read(kMinimal);
    auto connected = SmallConnected();
    auto mlp = SmallMLP();
    const std::pair<const char*, TBasicNetwork*> cases[] = {
        {"basic.wgt", basic.get()}, {"connected.wgt", connected.get()}, {"mlp.wgt", mlp.get()}};
    for (const auto& [name, net] : cases) {
        const std::string text = Write(*net);
        ExpectGolden(name, text);
        auto again = Read(text);
        EXPECT_STREQ(again->GetTypeName(), net->GetTypeName());
        EXPECT_EQ(Write(*again), text) << name;
    }
}

// The writer names the bias layer 0; reading that back used to clear the MLP's bias flag.
TEST_F(NetworkFileTest, MLPWithBiasLayerZeroKeepsItsBiasFlag) {
    auto net = Read(Write(*SmallMLP()));
    EXPECT_TRUE(dynamic_cast<TMLPNetwork&>(*net).hasBias);
    auto noBias = Read(Mutated("[BiasLayer = 0]\n", "", Write(*SmallMLP())));
    EXPECT_FALSE(dynamic_cast<TMLPNetwork&>(*noBias).hasBias);
}

TEST_F(NetworkFileTest, BiasLayerLineAndItsError) {
    EXPECT_NE(Write(*Read(kMinimal))
                  .find("[NumberOfOutputs = 3]\n[BiasLayer = 0]\n[~NetworkInformation]\n"),
              std::string::npos);
    TBasicNetwork net(2);
    net.SetLayer(0, new TSimpleLayer(&net, 0, 2));
    net.SetLayer(1, new TSimpleInputLayer(&net, 1, 1));
    net.GetLayer(0)->SetActFunction(ActBias);
    EXPECT_EQ(WriteError(net), "Illegal number of bias nodes");
}

TEST_F(NetworkFileTest, WeightListBelow35PercentOfTheConnections) {
    TBasicNetwork net(2);
    net.inLayer = 0;
    net.SetLayer(0, new TSimpleInputLayer(&net, 0, 10));
    net.SetLayer(1, new TSimpleLayer(&net, 1, 10));
    net.GetLayer(1)->SetActFunction(ActLinear);
    net.Connect(0, 1);
    TBasicConnections& conns = *net.GetConnections(0, 1);
    for (int k = 0; k < 65; ++k)
        conns.Prune(k % 10, k / 10);
    std::string text = Write(net);  // 35 of 100: not below 0.35 * 100
    EXPECT_NE(text.find("[Matrix Weights TrainableInfo ]\n"), std::string::npos);
    EXPECT_EQ(text.find("[WeightList]"), std::string::npos);

    conns.Prune(5, 6);
    text = Write(net);  // 34 of 100
    EXPECT_EQ(text.find("[Matrix"), std::string::npos);
    EXPECT_NE(text.find("[WeightList]\n[From=6 To=6 Weight=0.000000000000000 Trainable ]\n"),
              std::string::npos);
    int entries = 0;
    for (std::size_t p = text.find("[From="); p != std::string::npos;
         p = text.find("[From=", p + 1))
        ++entries;
    EXPECT_EQ(entries, 34);
}

TEST_F(NetworkFileTest, MatrixLayoutAndAttributes) {
    const std::string text = Write(*Read(kMinimal));
    const std::string sp19(19, ' ');
    // Fully connected: heads in 13 then 21 characters, weights in 20 plus a space.
    const std::string full =
        "[ConnectionType = FullyConnected]\n[Attributes UnPrunable UnFreezable ]\n"
        "[Matrix Weights ]\n/* To->" +
        std::string(12, ' ') + "0" + std::string(20, ' ') + "1" + std::string(20, ' ') +
        "2  From */\n" + sp19 + "1 " + sp19 + "2 " + sp19 + "3  /* 0 */\n" + sp19 + "4 " + sp19 +
        "5 " + sp19 + "6  /* 1 */\n[~Matrix]\n";
    EXPECT_NE(text.find(full), std::string::npos) << text;
    // Pruneable: heads in 15 then 23 characters, a flag column after every weight.
    const std::string pruned =
        "[Attributes Pruneable Freezable ]\n[Matrix Weights TrainableInfo ]\n"
        "/* To->" +
        std::string(14, ' ') + "0" + std::string(22, ' ') + "1" + std::string(22, ' ') +
        "2  From */\n" + std::string(17, ' ') + "0.5 T " + sp19 + "- - " + std::string(18, ' ') +
        "-1 F  /* 0 */\n";
    EXPECT_NE(text.find(pruned), std::string::npos) << text;
}

TEST_F(NetworkFileTest, NumbersAreWrittenInFullWhateverTheLocale) {
    auto net = Read(kMinimal);
    dynamic_cast<TGainLayer&>(*net->GetLayer(2)).SetGain(1000.25);
    net->GetConnections(0, 2)->Prune(0, 0);  // 1 of 3 left: a weight list
    net->GetConnections(0, 2)->GetWeight(0, 2) = -12345.5;
    net->GetConnections(1, 2)->GetWeight(0, 0) = 2.0 / 3.0;
    net->GetConnections(1, 2)->GetWeight(0, 1) = 1e-7;
    const std::string text = Write(*net);  // through a stream with a decimal comma
    EXPECT_NE(text.find("[All Gain=1000.250000000000000 ]\n"), std::string::npos);
    EXPECT_NE(text.find("[From=0 To=2 Weight=-12345.500000000000000 UnTrainable ]\n"),
              std::string::npos);
    EXPECT_NE(text.find("   0.666666666666667                1e-07 "), std::string::npos);

    // Read back, every weight equals its printed digits.
    auto again = Read(text);
    EXPECT_EQ(again->GetConnections(1, 2)->GetWeight(0, 0), 0.666666666666667);
    EXPECT_EQ(again->GetConnections(1, 2)->GetWeight(0, 1), 1e-7);
    EXPECT_EQ(again->GetConnections(0, 2)->GetWeight(0, 2), -12345.5);
    EXPECT_EQ(GainOf(*again, 2, 1), 1000.25);
}

TEST_F(NetworkFileTest, WriteReadKeepsWeightsTo15SignificantDigits) {
    auto net = SmallConnected();
    auto again = Read(Write(*net));
    for (int f = 0; f < 2; ++f) {
        for (int t = 0; t < 2; ++t) {
            char digits[40];
            std::snprintf(digits, sizeof digits, "%.15g",
                          net->GetConnections(1, 2)->GetWeight(f, t));
            EXPECT_EQ(again->GetConnections(1, 2)->GetWeight(f, t), std::strtod(digits, nullptr))
                << digits;
        }
    }
    EXPECT_EQ(again->GetLayer(2)->GetNeuron(1)->GetActFunction(), ActTanh);
}

TEST_F(NetworkFileTest, WriteNetworkFileReportsFilesThatCannotBeWritten) {
    auto net = Read(kMinimal);
    const std::string path = testing::TempDir() + "synapsor-network-file-test.wgt";
    tools.WriteNetworkFile(path.c_str(), net.get());
    EXPECT_EQ(Write(*tools.ReadNetworkFile(path.c_str())), Write(*net));
    std::remove(path.c_str());

    try {
        tools.WriteNetworkFile("no-such-dir/out.wgt", net.get());
        ADD_FAILURE() << "created";
    } catch (const FileTools::Error& e) {
        EXPECT_EQ(e.message, "Cannot create network file \"no-such-dir/out.wgt\"");
    }
    if (!std::ifstream("/dev/full").is_open())
        GTEST_SKIP() << "no /dev/full";
    try {
        tools.WriteNetworkFile("/dev/full", net.get());
        ADD_FAILURE() << "written";
    } catch (const FileTools::Error& e) {
        EXPECT_EQ(e.message, "Error writing network file \"/dev/full\"");
    }
}

TEST_F(NetworkFileTest, WriterRefusesANetworkWithAMissingLayer) {
    TBasicNetwork net(2);
    net.SetLayer(0, new TSimpleInputLayer(&net, 0, 1));
    EXPECT_EQ(WriteError(net), "Cannot write the network: layer 1 is missing");
}

}  // namespace
}  // namespace synapsor
