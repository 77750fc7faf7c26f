// synapsor-tool create: the generator's file for a fixed seed, the weight ranges, and that every
// kind of created network reads back and trains.
#include <cmath>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "FileHandler/ParseTools.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/ParameterFile.h"
#include "MLP/Common/TrainParams.h"
#include "MLP/Tool/Create.h"
#include "MLP/Tool/ToolSupport.h"
#include "Training/TrainModule.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

CreateOptions Options(std::vector<int> layers, const std::string& type = "mlp", bool bias = true) {
    CreateOptions o;
    o.layers = std::move(layers);
    o.type = type;
    o.bias = bias;
    return o;
}

std::string NetworkText(const CreateOptions& options, std::uint64_t seed) {
    std::unique_ptr<TBasicNetwork> network = BuildNetwork(options, seed);
    FileTools tools;
    std::ostringstream out;
    tools.WriteNetwork(out, network.get());
    return out.str();
}

std::string ReadText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// golden/create-3-4-2-seed42.wgt was written by
//   synapsor-tool create --layers 3,4,2 --seed 42 -o create-3-4-2-seed42.wgt
// and checked by reading it back and training it; it pins the generator, its mapping to
// doubles, the draw order and the layout on every machine.
TEST(Create, FixedSeedGivesTheGoldenFileAndOtherSeedsDiffer) {
    const CreateOptions options = Options({3, 4, 2});
    const std::string golden = SYNAPSOR_TOOL_TEST_DIR "/golden/create-3-4-2-seed42.wgt";
    EXPECT_EQ(NetworkText(options, 42), ReadText(golden));
    EXPECT_NE(NetworkText(options, 43), ReadText(golden));
}

TEST(Create, WithoutSeedReportsTheSeedThatRemakesTheFile) {
    CreateOptions options = Options({2, 2, 1});
    options.file = "-";
    std::ostringstream console, log;
    RunCreate(options, console, log);
    const std::string prefix = "synapsor-tool: create used --seed ";
    ASSERT_EQ(log.str().rfind(prefix, 0), 0u) << log.str();
    EXPECT_EQ(console.str(), NetworkText(options, std::stoull(log.str().substr(prefix.size()))));
}

// Weights into a neuron lie in [-a, a), a = 1/sqrt(weights into it, bias included) for fan-in
// or R for uniform, and reach near a (a wrong scale would leave much of the range empty).
TEST(Create, WeightsStayInTheirRange) {
    CreateOptions uniform = Options({20, 30, 10}, "connected", false);
    uniform.init = "uniform";
    uniform.range = 0.3;
    for (const CreateOptions& o : {Options({20, 30, 10}), Options({20, 30, 10}, "basic", false),
                                   Options({20, 30, 10}, "connected"), uniform}) {
        SCOPED_TRACE(o.type + (o.bias ? " bias" : " no bias"));
        std::unique_ptr<TBasicNetwork> net = BuildNetwork(o, 7);
        for (int to = 2; to < net->GetNumLayers(); ++to) {
            const int fanIn = net->GetLayer(to - 1)->numNodes + (o.bias ? 1 : 0);
            const double a = o.range ? *o.range : 1.0 / std::sqrt(fanIn);
            double largest = 0.0;
            int count = 0;
            for (int from = 0; from < to; ++from) {
                TBasicConnections* conns = net->GetConnections(from, to);
                ASSERT_EQ(conns->IsConnected(), from == to - 1 || (o.bias && from == 0));
                for (int s = 0; conns->IsConnected() && s < net->GetLayer(from)->numNodes; ++s) {
                    for (int d = 0; d < net->GetLayer(to)->numNodes; ++d, ++count) {
                        const double w = conns->GetWeight(s, d);
                        EXPECT_TRUE(-a <= w && w < a) << w;
                        largest = std::max(largest, std::fabs(w));
                    }
                }
            }
            EXPECT_EQ(count, fanIn * net->GetLayer(to)->numNodes);
            EXPECT_GT(largest, 0.9 * a) << "layer " << to;
        }
    }
}

// Every type, with and without bias, with plain and gain functions: the written file reads
// back to the same network, passes the trainer's checks and trains (the error falls).
TEST(Create, EveryNetworkReadsBackAndTrains) {
    test::TempDir dir;
    const std::string xorFile = SYNAPSOR_SOURCE_DIR "/examples/xor/xor.dat";
    const char* functions[][2] = {
        {"sigmoid", "sigmoid"}, {"tanh-gain", "sigmoid-gain"}, {"tanh", "linear"}};
    for (const char* type : {"mlp", "basic", "connected"}) {
        for (bool bias : {true, false}) {
            for (const auto& fns : functions) {
                CreateOptions options = Options({2, 4, 1}, type, bias);
                options.hidden = fns[0];
                options.output = fns[1];
                options.seed = 3;
                options.file = dir.File("net.wgt");
                SCOPED_TRACE(std::string(type) + " " + fns[0] + " " + fns[1] + (bias ? "" : " -"));
                std::ostringstream console, log;
                RunCreate(options, console, log);

                FileTools tools;
                std::unique_ptr<TBasicNetwork> net = LoadNetwork(tools, options.file);
                std::ostringstream again;
                tools.WriteNetwork(again, net.get());
                EXPECT_EQ(again.str(), ReadText(options.file));
                EXPECT_STRCASEEQ(net->GetTypeName(), type);
                CheckTrainable(*net, options.file);
                std::unique_ptr<Data> data = LoadDataSet(tools, xorFile, DataSetRole::Training);
                TBackpropModule trainer(net.get());
                TrainSettings settings;
                settings.LearningRate = 0.1f;
                const std::unique_ptr<TKQstructure> params = BuildParams(settings);
                const double first = trainer.TrainEpoch(data.get(), params.get());
                double last = first;
                for (int epoch = 0; epoch < 50; ++epoch)
                    last = trainer.TrainEpoch(data.get(), params.get());
                EXPECT_LT(last, first);  // false for nan as well
            }
        }
    }
}

TEST(Create, BadOptionsAreNamed) {
    const std::string use =
        "; use one of linear, sigmoid, tanh, linear-gain, sigmoid-gain, tanh-gain";
    const std::string notSize = "\" is not a number of neurons (a whole number of at least 1)";
    const struct {
        std::string layers, hidden, message;
    } cases[] = {
        {"4", "sigmoid", "--layers \"4\": give at least two sizes, the input and the output layer"},
        {"4,,3", "sigmoid",
         "--layers \"4,,3\": size 2 is missing; give the neurons per layer "
         "as in 13,8,3"},
        {"4,0,3", "sigmoid", "--layers \"4,0,3\": \"0" + notSize},
        {"4,3x", "sigmoid", "--layers \"4,3x\": \"3x" + notSize},
        {"4,99999999999", "sigmoid", "--layers \"4,99999999999\": \"99999999999" + notSize},
        {"1048576,2", "sigmoid",
         "--layers: 1048579 neurons and 2097154 weights; a network file "
         "holds at most 1048576 neurons and 33554432 weights"},
        {"4,3", "relu", "--hidden: unknown activation function \"relu\"" + use},
        {"4,3", "bias",
         "--hidden: the activation function \"bias\" cannot be trained through" + use},
    };
    for (const auto& c : cases) {
        try {
            CreateOptions options;
            options.layers = ParseLayerList(c.layers);
            options.hidden = c.hidden;
            BuildNetwork(options, 1);
            ADD_FAILURE() << c.layers << " accepted";
        } catch (const ToolError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_EQ(ParseLayerList(" 13, 8 ,3"), (std::vector<int>{13, 8, 3}));
    EXPECT_EQ(ParseSeed("18446744073709551615"), 18446744073709551615u);
    for (const char* seed : {"18446744073709551616", "-1", "", "1e3"})
        EXPECT_THROW(ParseSeed(seed), ToolError) << seed;
    CreateOptions options = Options({4, 3});
    options.range = 0.2;
    EXPECT_THROW(BuildNetwork(options, 1), ToolError);  // --range without --init uniform
}

}  // namespace
}  // namespace synapsor
