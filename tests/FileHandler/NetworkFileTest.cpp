#include "ErrorMessage.h"
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

std::string Repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
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
        return MessageOf([&] { Read(text); });
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
}

TEST_F(NetworkFileTest, GainIsGivenPerLayerOrCarriedBetweenNeurons) {
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

    // An Input layer never applies its function, so "null" is allowed there.
    net = Read(
        Mutated("[NumberOfNeurons = 2]", "[NumberOfNeurons = 2]\n[All ActivationFunction = null]"));
    EXPECT_EQ(net->GetLayer(1)->GetActFunction(), ActNull);
}

TEST_F(NetworkFileTest, UnusualButValidTextIsRead) {
    const std::string texts[] = {
        std::string(kMinimal) + "/* trained */\n",
        // Nine columns, the most a matrix may have.
        Mutated(kPrunedMatrix,
                "[Matrix Weights TrainableInfo Weights Weights Weights Weights Weights Weights "
                "TrainableInfo]\n0.5 T 1 1 1 1 1 1 T  - - - - - - - - -  -1 F -1 -1 -1 -1 -1 -1 "
                "F\n[~Matrix]"),
        // Any word stands in the trainable column of a connection that does not exist.
        Mutated("0.5 T  - -", "0.5 t  - x")};
    for (const std::string& text : texts)
        EXPECT_NE(Read(text), nullptr) << text;
}

TEST_F(NetworkFileTest, MalformedFilesAreRejected) {
    const auto neurons = [](const std::string& items) {
        return Mutated(kLayer2Functions, "[Gain = 1]\n[Neurons]\n" + items + "[~Neurons]");
    };
    const auto weightList = [](const std::string& entry) {
        return Mutated(kPrunedMatrix, "[WeightList]\n" + entry + "\n[~WeightList]");
    };
    const std::string ok = "[Neuron = 0 ActivationFunction = sigmoid-gain]\n";
    const std::string incomplete = neurons(ok);
    const std::string count = "[NumberOfLayers = 3]";
    const std::string layer2 = "[LayerType = Gain]\n[NumberOfNeurons = 3]";
    const std::string columns = "[Matrix Weights TrainableInfo]";
    const std::string connection =
        "[ConnectionLayer]\n[LayerFrom = 0]\n[LayerTo = 2]\n[ConnectionType = Pruneable]\n";
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        // Header.
        {Mutated(count + "\n", ""), "Must specify number of layers"},
        {Mutated(count, count + "[Layers = 3]"), "Unknown keyword"},
        {Mutated(count, "[NumberOfLayers = 3 x]"), "Too complicated statement"},
        {Mutated("= Basic]", "= Perceptron]"), "Unknown network type"},
        {Mutated(count, count + "[NumberOfInputs = 3]"), "wrong number inputs in header"},
        {Mutated(count, count + "[NumberOfOutputs = 2]"), "wrong number outputs in header"},
        {Mutated(count, count + "[InputLayer = 3]"),
         "InputLayer = 3 must be a layer index below NumberOfLayers = 3"},
        {Mutated(count, count + "[OutputLayer = 3]"),
         "OutputLayer = 3 must be a layer index below NumberOfLayers = 3"},
        {Mutated(count, "[NumberOfLayers = 4]"), "Layer 3 is not defined (NumberOfLayers = 4)"},
        {Mutated(count, "[NumberOfLayers = 1001]"),
         "NumberOfLayers = 1001 exceeds the limit of 1000 layers"},
        {Mutated("[NetworkType = Basic]\n", ""),
         "[NETWORKTYPE = <string>] expectedNetworkInformation"},
        {Mutated("[NeuralNetwork]", "[Network]"), "[NEURALNETWORK] expected"},
        {std::string(kMinimal) + "[Layer = 1]", "End Tag expected"},
        {std::string(kMinimal) + "3.5", "End Tag expected"},
        // Layer statements.
        {Mutated("[Gain = 2]", "[ALL]"), "[ALL] is incomplete statment"},
        {Mutated("[Gain = 2]", "[ALL LayerType]"), "Required syntax is [ALL <keyword>=<val>]"},
        {Mutated("[Gain = 2]", "[ALL Gain = 2 x = 1]"), "Too complicated statement"},
        {Mutated("[NumberOfNeurons = 3]", "[NumberOfNeurons = 3 x]"), "Too complicated statement"},
        {Mutated("[Gain = 2]\n", ""), "Incomplete Layer information"},
        {Mutated("= Gain]", "= Hidden]"), "Unknown layer type"},
        {Mutated("[LayerType = Input]\n", ""), "Layer 1 needs both LayerType and NumberOfNeurons"},
        {Mutated(layer2, "[Gain = 2]\n" + layer2),
         "Unknown keyword or neuron parameter \"Gain\" before LayerType and NumberOfNeurons in "
         "layer 2"},
        {Mutated("[Gain = 2]", "[Slope = 2]"),
         "Unknown keyword or neuron parameter \"Slope\" in layer 2"},
        {Mutated("sigmoid-gain", "sigmoid-gian"),
         "Unknown activation function \"sigmoid-gian\" in layer 2"},
        {Mutated("[NumberOfNeurons = 3]", "[NumberOfNeurons = -3]"),
         "NumberOfNeurons = -3 is negative in layer 2"},
        {Mutated(layer2, layer2 + "\n[NumberOfNeurons = 4]"),
         "NumberOfNeurons changed after the layer was created in layer 2"},
        {Mutated("[Layer = 2]", "[Layer = 3]"), "Layer index 3 is outside 0 to 2"},
        // A Simple or Gain layer applies its functions in every forward pass.
        {Mutated("= sigmoid-gain]", "= null]"),
         "Activation function \"null\" cannot compute neuron 0 of layer 2"},
        {Mutated("= sigmoid-gain]", "= error]"),
         "Activation function \"error\" cannot compute neuron 0 of layer 2"},
        {Mutated("[ActivationFunction = bias]\n", ""),
         "No activation function defined for layer 0"},
        {Mutated("= bias]", "= sigmoid-gain]"),
         "Activation function \"sigmoid-gain\" needs a Gain layer; layer 0 is of type Simple"},
        // Neurons blocks.
        {neurons(ok + ok), "repeated neuron"},
        {incomplete, "Neuron not defined"},
        // The statement after the neurons block is read before the block is found incomplete.
        {incomplete.substr(0, incomplete.find("[~Neurons]") + 10), "Unexpected end of file"},
        {neurons("[Neuron = 0 Gain = 1]\n"), "No activation function defined"},
        {neurons("[Neuron = 0 Gain]\n"), "Equals clause expected in neuron parameter"},
        {neurons("[Neuron = 3]\n"), "Neuron index 3 is outside 0 to 2 in layer 2"},
        {neurons("[Neuron = -1]\n"), "Neuron index -1 is outside 0 to 2 in layer 2"},
        {neurons("[Neuron = 0 Slope = 1]\n"),
         "Unknown neuron parameter \"Slope\" of neuron 0 in layer 2"},
        {neurons("[Neuron = 0 ActivationFunction = cosine]\n"),
         "Unknown activation function \"cosine\" in layer 2"},
        // Connection blocks.
        {Mutated("[~NeuralNetwork]", connection + "[~ConnectionLayer]\n[~NeuralNetwork]"),
         "Connections already defined"},
        {Mutated("[LayerTo = 2]", "[LayerTo = 3]"),
         "Connections from layer 0 to layer 3 name a layer outside 0 to 2"},
        {Mutated("[ConnectionType = Pruneable]\n", ""),
         "Insufficient information to construct layer"},
        {Mutated("= Pruneable]", "= Sparse]"), "Insufficient information to construct layer"},
        {Mutated("[LayerTo = 2]", "[LayerTo = 2]\n[Weight = 1]"), "Unknown keyword in connections"},
        // Matrices.
        {Mutated(columns, "[Matrix Weights TrainableInfo" + Repeated(" Weights", 8) + "]"),
         "A matrix has at most 9 columns"},
        {Mutated(columns, "[Matrix Weights=1 TrainableInfo]"),
         "Keyword expected in matrix parameter"},
        {Mutated(columns, "[Matrix Weights Flags]"), "Unknown matrix attribute"},
        {Mutated("-1 F", "-1"), "Token Expected"},
        {Mutated("0.5 T", "abc T"), "number-expected"},
        {Mutated("0.5 T", "0.5 X"),
         "TrainableInfo must be T or F for an existing connection, found \"X\" at From = 0, To = "
         "0 (layer 0 to layer 2)"},
        {Mutated("4 5 6", "4 - 6"),
         "A FullyConnected matrix cannot leave out a connection (\"-\") at From = 1, To = 1 "
         "(layer 1 to layer 2)"},
        {Mutated(kFullMatrix,
                 "[Matrix Weights TrainableInfo]\n1 T 2 T 3 T\n4 T 5 F 6 T\n[~Matrix]"),
         "A FullyConnected matrix cannot hold untrainable weights (\"F\") at From = 1, To = 1 "
         "(layer 1 to layer 2)"},
        // Weight lists.
        {weightList("[From = 0 Weight = 1]"), "Insufficient information in weights list"},
        {weightList("[From = 0 To = 1 Bias = 1]"), "Unknown keyword in weights list"},
        {weightList("[From = 1 To = 0]"),
         "Weight list entry outside layers of 1 and 3 neurons at From = 1, To = 0 (layer 0 to "
         "layer 2)"},
        {Mutated(kFullMatrix, "[WeightList]\n[From = 0 To = 0 UnTrainable]\n[~WeightList]"),
         "A FullyConnected matrix cannot hold untrainable weights (UnTrainable) at From = 0, To = "
         "0 (layer 1 to layer 2)"}};
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf(c.text), c.message) << c.text;
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

    // An unknown word is printed before the error is raised.
    testing::internal::CaptureStdout();
    const std::string message =
        ErrorOf(Mutated(kPrunedMatrix, "[WeightList]\n[From = 0 To = 1 Frozen]\n[~WeightList]"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Frozen\n");
    EXPECT_EQ(message, "Unknown keyword in weights list");
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
// Regression: a network whose training diverged (inf and nan weights) was written but could not
// be read back.
TEST_F(NetworkFileTest, NonFiniteWeightsReadBackAsWritten) {
    auto net = Read(kMinimal);
    net->GetConnections(1, 2)->GetWeight(0, 1) = HUGE_VAL;
    net->GetConnections(1, 2)->GetWeight(1, 2) = -HUGE_VAL;
    net->GetConnections(0, 2)->GetWeight(0, 0) = std::nan("");
    const std::string text = Write(*net);
    auto again = Read(text);
    EXPECT_EQ(again->GetConnections(1, 2)->GetWeight(0, 1), HUGE_VAL);
    EXPECT_EQ(again->GetConnections(1, 2)->GetWeight(1, 2), -HUGE_VAL);
    EXPECT_TRUE(std::isnan(again->GetConnections(0, 2)->GetWeight(0, 0)));
    EXPECT_EQ(Write(*again), text);
}

TEST_F(NetworkFileTest, MLPWithBiasLayerZeroKeepsItsBiasFlag) {
    auto net = Read(Write(*SmallMLP()));
    EXPECT_TRUE(dynamic_cast<TMLPNetwork&>(*net).hasBias);
    auto noBias = Read(Mutated("[BiasLayer = 0]\n", "", Write(*SmallMLP())));
    EXPECT_FALSE(dynamic_cast<TMLPNetwork&>(*noBias).hasBias);
}

// Bias layers of more than one neuron and missing layers cannot be described in the format.
TEST_F(NetworkFileTest, WriterRefusesNetworksItCannotDescribe) {
    TBasicNetwork net(2);
    net.SetLayer(0, new TSimpleLayer(&net, 0, 2));
    EXPECT_EQ(MessageOf([&] { Write(net); }), "Cannot write the network: layer 1 is missing");
    net.SetLayer(1, new TSimpleInputLayer(&net, 1, 1));
    net.GetLayer(0)->SetActFunction(ActBias);
    EXPECT_EQ(MessageOf([&] { Write(net); }), "Illegal number of bias nodes");
}

// Regression: a bias layer of two neurons was read (and trained) but could not be written back.
TEST_F(NetworkFileTest, BiasLayerOfSeveralNeuronsIsRefusedOnReading) {
    EXPECT_EQ(ErrorOf(Mutated("[NumberOfNeurons = 1]", "[NumberOfNeurons = 2]")),
              "Illegal number of bias nodes: layer 0 has 2 bias neurons, a bias layer has one");
    // Bias neurons beside neurons of other functions make no bias layer.
    const std::string mixed =
        "[Gain = 2]\n[Neurons]\n[Neuron = 0 ActivationFunction = bias]\n"
        "[Neuron = 1 ActivationFunction = bias]\n"
        "[Neuron = 2 ActivationFunction = tanh]\n[~Neurons]";
    EXPECT_EQ(ErrorOf(Mutated(kLayer2Functions, mixed)), "no error");
}

// Regression: an MLP file of one layer ended the program on a fatal internal check.
TEST_F(NetworkFileTest, MLPOfOneLayerIsRefused) {
    const std::string one =
        "[NeuralNetwork][NetworkType = MLP][NetworkInformation][NumberOfLayers = 1]"
        "[InputLayer = 0][~NetworkInformation][Layer = 0][LayerType = Input]"
        "[NumberOfNeurons = 1][~Layer][~NeuralNetwork]";
    EXPECT_EQ(ErrorOf(one),
              "NumberOfLayers = 1 is too few for an MLP network, which has at least 2 layers");
    // The same single layer is a valid Basic network.
    EXPECT_EQ(ErrorOf(Mutated("= MLP]", "= Basic]", one)), "no error");
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

TEST_F(NetworkFileTest, WriteNetworkFileReportsFilesThatCannotBeWritten) {
    auto net = Read(kMinimal);
    const std::string path = testing::TempDir() + "synapsor-network-file-test.wgt";
    tools.WriteNetworkFile(path.c_str(), net.get());
    EXPECT_EQ(Write(*tools.ReadNetworkFile(path.c_str())), Write(*net));
    std::remove(path.c_str());

    EXPECT_EQ(MessageOf([&] { tools.WriteNetworkFile("no-such-dir/out.wgt", net.get()); }),
              "Cannot create network file \"no-such-dir/out.wgt\"");
    if (!std::ifstream("/dev/full").is_open())
        GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(MessageOf([&] { tools.WriteNetworkFile("/dev/full", net.get()); }),
              "Error writing network file \"/dev/full\"");
}

}  // namespace
}  // namespace synapsor
