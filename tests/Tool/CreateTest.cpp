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
#include "NeuralNets/TrainModule.h"
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
TEST(Create, FixedSeedGivesTheGoldenFile) {
    test::TempDir dir;
    CreateOptions options = Options({3, 4, 2});
    options.seed = 42;
    options.file = dir.File("net.wgt");
    std::ostringstream console, log;
    RunCreate(options, console, log);
    EXPECT_EQ(ReadText(options.file),
              ReadText(std::string(SYNAPSOR_TOOL_TEST_DIR) + "/golden/create-3-4-2-seed42.wgt"));
    EXPECT_EQ(log.str(), "");  // a given seed is not reported again
}

TEST(Create, SeedsDifferAndRepeat) {
    const CreateOptions options = Options({5, 3, 2});
    EXPECT_EQ(NetworkText(options, 1), NetworkText(options, 1));
    EXPECT_NE(NetworkText(options, 1), NetworkText(options, 2));
}

TEST(Create, WithoutSeedReportsTheSeedThatRemakesTheFile) {
    CreateOptions options = Options({2, 2, 1});
    options.file = "-";
    std::ostringstream console, log;
    RunCreate(options, console, log);
    const std::string prefix = "synapsor-tool: create used --seed ";
    ASSERT_EQ(log.str().rfind(prefix, 0), 0u) << log.str();
    const std::uint64_t seed = std::stoull(log.str().substr(prefix.size()));
    EXPECT_EQ(console.str(), NetworkText(options, seed));
}

// Weights into every neuron lie in [-a, a), a = 1/sqrt(weights into it) for fan-in, R for
// uniform, and spread over the range (a wrong scale would leave most of it empty).
TEST(Create, WeightsStayInTheirRange) {
    struct Case {
        CreateOptions options;
        double range;  // 0: fan-in
    };
    std::vector<Case> cases;
    cases.push_back({Options({20, 30, 10}), 0.0});
    cases.push_back({Options({20, 30, 10}, "basic", false), 0.0});
    cases.push_back({Options({20, 30, 10}, "connected"), 0.0});
    CreateOptions uniform = Options({20, 30, 10}, "connected", false);
    uniform.init = "uniform";
    uniform.range = 0.3;
    cases.push_back({uniform, 0.3});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.type + (c.options.bias ? " bias" : " no bias"));
        std::unique_ptr<TBasicNetwork> net = BuildNetwork(c.options, 7);
        const bool bias = c.options.bias;
        for (int to = 2; to < net->GetNumLayers(); ++to) {
            const int fanIn = net->GetLayer(to - 1)->numNodes + (bias ? 1 : 0);
            const double a = c.range > 0.0 ? c.range : 1.0 / std::sqrt(fanIn);
            double largest = 0.0;
            int count = 0;
            for (int from = 0; from < to; ++from) {
                TBasicConnections* conns = net->GetConnections(from, to);
                const bool expected = from == to - 1 || (bias && from == 0);
                ASSERT_EQ(conns->IsConnected(), expected) << from << " to " << to;
                if (!expected)
                    continue;
                for (int s = 0; s < net->GetLayer(from)->numNodes; ++s) {
                    for (int d = 0; d < net->GetLayer(to)->numNodes; ++d) {
                        const double w = conns->GetWeight(s, d);
                        EXPECT_GE(w, -a);
                        EXPECT_LT(w, a);
                        largest = std::max(largest, std::fabs(w));
                        ++count;
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
    const std::string dataFile =
        dir.WriteFile("xor.dat",
                      "[DataSet] [Rows = 4] [Inputs = 2] [ExpectedOutputs = 1] [Data]\n"
                      "0 0  0\n0 1  1\n1 0  1\n1 1  0\n[~Data] [~DataSet]\n");
    const char* types[] = {"mlp", "basic", "connected"};
    const char* functions[][2] = {
        {"sigmoid", "sigmoid"}, {"tanh-gain", "sigmoid-gain"}, {"tanh", "linear"}};
    for (const char* type : types) {
        for (bool bias : {true, false}) {
            for (const auto& fns : functions) {
                CreateOptions options = Options({2, 4, 1}, type, bias);
                options.hidden = fns[0];
                options.output = fns[1];
                options.seed = 3;
                options.file = dir.File("net.wgt");
                SCOPED_TRACE(std::string(type) + " " + fns[0] + " " + fns[1] +
                             (bias ? " bias" : ""));
                std::ostringstream console, log;
                RunCreate(options, console, log);

                FileTools tools;
                std::unique_ptr<TBasicNetwork> net = LoadNetwork(tools, options.file);
                std::ostringstream again;
                tools.WriteNetwork(again, net.get());
                EXPECT_EQ(again.str(), ReadText(options.file));
                EXPECT_STRCASEEQ(net->GetTypeName(), type);
                EXPECT_EQ(net->GetLayer(0)->numNodes, bias ? 1 : 0);
                std::unique_ptr<Data> data = LoadDataSet(tools, dataFile, DataSetRole::Training);
                FitCheck fit;
                CheckFit(*data, *net, fit);
                CheckTrainable(*net, options.file);

                TBackpropModule trainer(net.get());
                TrainSettings settings;
                settings.LearningRate = 0.1f;
                const std::unique_ptr<TKQstructure> params = BuildParams(settings);
                const double first = trainer.TrainEpoch(data.get(), params.get());
                double last = first;
                for (int epoch = 0; epoch < 50; ++epoch)
                    last = trainer.TrainEpoch(data.get(), params.get());
                EXPECT_TRUE(std::isfinite(last));
                EXPECT_LT(last, first);
            }
        }
    }
}

TEST(Create, BadOptionsAreNamed) {
    struct Case {
        std::string layers;
        std::string hidden, init;
        std::optional<double> range;
        std::string message;
    };
    const std::string functions =
        "use one of linear, sigmoid, tanh, linear-gain, sigmoid-gain, tanh-gain";
    const Case cases[] = {
        {"4",
         "sigmoid",
         "fan-in",
         {},
         "--layers \"4\": give at least two sizes, the input and the output layer"},
        {"",
         "sigmoid",
         "fan-in",
         {},
         "--layers \"\": size 1 is missing; give the neurons per layer as in 13,8,3"},
        {"4,,3",
         "sigmoid",
         "fan-in",
         {},
         "--layers \"4,,3\": size 2 is missing; give the neurons per layer as in 13,8,3"},
        {"4,0,3",
         "sigmoid",
         "fan-in",
         {},
         "--layers \"4,0,3\": \"0\" is not a number of neurons (a whole number of at least 1)"},
        {"4,-2",
         "sigmoid",
         "fan-in",
         {},
         "--layers \"4,-2\": \"-2\" is not a number of neurons (a whole number of at least 1)"},
        {"4,3x",
         "sigmoid",
         "fan-in",
         {},
         "--layers \"4,3x\": \"3x\" is not a number of neurons (a whole number of at least 1)"},
        {"4,99999999999",
         "sigmoid",
         "fan-in",
         {},
         "--layers \"4,99999999999\": \"99999999999\" is not a number of neurons (a whole "
         "number of at least 1)"},
        {"1048576,2",
         "sigmoid",
         "fan-in",
         {},
         "--layers: 1048579 neurons and 2097154 weights; a network file holds at most 1048576 "
         "neurons and 33554432 weights"},
        {"4,3",
         "sigmoidal",
         "fan-in",
         {},
         "--hidden: unknown activation function \"sigmoidal\"; " + functions},
        {"4,3",
         "saturated-linear",
         "fan-in",
         {},
         "--hidden: the activation function \"saturated-linear\" cannot be trained through; " +
             functions},
        {"4,3", "sigmoid", "fan-in", 0.2, "--range applies to --init uniform only"},
        {"4,3", "sigmoid", "uniform", -1.0, "--range -1: give a finite number above 0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.layers);
        try {
            CreateOptions options;
            options.layers = ParseLayerList(c.layers);
            options.hidden = c.hidden;
            options.init = c.init;
            options.range = c.range;
            BuildNetwork(options, 1);
            ADD_FAILURE() << "accepted";
        } catch (const ToolError& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_EQ(ParseLayerList(" 13, 8 ,3"), (std::vector<int>{13, 8, 3}));
}

}  // namespace
}  // namespace synapsor
