// The programs end to end: info and prune on files, with their messages and exit statuses, and
// the structural-learning recipe of the README, whose figures must be the ones its script prints.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/BasicNetwork.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

using test::RunProgram;
using test::TempDir;

std::string ReadText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

nlohmann::json ReadJson(const std::string& file) {
    return nlohmann::json::parse(ReadText(file));
}

test::ProgramResult Tool(const std::vector<std::string>& args, const std::string& dir = "") {
    return RunProgram(SYNAPSOR_TOOL_EXE, args, dir);
}

const std::string kIris = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/iris/";

TEST(InfoPruneCliTest, PrunedNetworkReadsBackAndTrains) {
    TempDir dir;
    const auto pruned =
        Tool({"prune", kIris + "iris.wgt", "-o", dir.File("small.wgt"), "--fraction", "0.5"});
    ASSERT_EQ(pruned.status, 0) << pruned.err;
    EXPECT_EQ(pruned.err, "");
    EXPECT_NE(pruned.out.find("Weights: 43 before, "), std::string::npos) << pruned.out;

    const auto info = Tool({"info", "--json", dir.File("small.wgt")});
    ASSERT_EQ(info.status, 0) << info.err;
    const auto json = nlohmann::json::parse(info.out);
    EXPECT_LE(json["totals"]["existing"].get<int>(), 22);  // 43 - floor(43 / 2)

    dir.WriteFile("small.par", "WeightFile = small.wgt TrainingFile = " + kIris +
                                   "iris.dat DestinationFile = out.wgt Epochs = 3");
    const auto trained = RunProgram(SYNAPSOR_EXE, {"small.par"}, dir.Path());
    EXPECT_EQ(trained.status, 0) << trained.out << trained.err;
    FileTools tools;
    EXPECT_EQ(tools.ReadNetworkFile(dir.File("out.wgt").c_str())->GetNumWeights(FMaskExists),
              json["totals"]["existing"].get<int>());
}

TEST(InfoPruneCliTest, BadInputGetsAMessageAndStatus1) {
    TempDir dir;
    const std::string connected = dir.WriteFile("connected.wgt", R"(
[NeuralNetwork] [NetworkType = Connected]
[NetworkInformation] [NumberOfLayers = 3] [~NetworkInformation]
[Layer = 0] [LayerType = Simple] [NumberOfNeurons = 0] [ActivationFunction = bias] [~Layer]
[Layer = 1] [LayerType = Input] [NumberOfNeurons = 1] [ActivationFunction = linear] [~Layer]
[Layer = 2] [LayerType = Simple] [NumberOfNeurons = 1] [ActivationFunction = sigmoid] [~Layer]
[ConnectionLayer] [LayerFrom = 1] [LayerTo = 2] [ConnectionType = FullyConnected]
[Matrix Weights] 0.001 [~Matrix] [~ConnectionLayer]
[~NeuralNetwork]
)");
    const std::string out = dir.File("out.wgt");
    const std::string iris = kIris + "iris.wgt";
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;  // the first line of standard error
    };
    const std::string no = "synapsor-tool: ";
    // clang-format off
    const Case cases[] = {
        {{"prune", iris, "-o", out, "--threshold", "-0.5"}, 1, no + "the threshold must be 0 or more, not -0.5"},
        {{"prune", iris, "-o", out, "--threshold", "nan"}, 1, no + "the threshold must be 0 or more, not nan"},
        {{"prune", iris, "-o", out, "--fraction", "1.5"}, 1, no + "the fraction must lie between 0 and 1, not 1.5"},
        {{"prune", iris, "-o", out, "--fraction", "-0.1"}, 1, no + "the fraction must lie between 0 and 1, not -0.1"},
        {{"prune", connected, "-o", out, "--threshold", "1"}, 1,
         no + connected + ": the network has no pruneable weight matrix, so no weight can be pruned"},
        {{"prune", iris, "-o", out}, 2, no + "Exactly 1 option from [--threshold,--fraction] is required"},
        {{"info", dir.File("missing.wgt")}, 1, no + dir.File("missing.wgt") + ": Error on File Open"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.err);
        const auto result = Tool(c.args);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.err.substr(0, result.err.find('\n')), c.err);
        EXPECT_EQ(result.out, "");
        EXPECT_FALSE(std::filesystem::exists(out));
    }
}

// Runs the recipe's script and holds the README to the figures it prints: they cannot go stale.
TEST(StructuralLearningRecipeTest, ReadmeQuotesTheScriptAndPruningPaysOff) {
    TempDir dir;
    const std::string build = std::filesystem::path(SYNAPSOR_TOOL_EXE).parent_path().string();
    const auto run = RunProgram(
        "/bin/sh", {std::string(SYNAPSOR_SOURCE_DIR) + "/examples/structural-learning/run.sh",
                    build, dir.File("run")});
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    ASSERT_FALSE(run.out.empty());

    std::string quoted;  // the script's output as an indented block of the README
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);)
        quoted += "    " + line + "\n";
    const std::string readme = ReadText(std::string(SYNAPSOR_SOURCE_DIR) + "/README.md");
    EXPECT_NE(readme.find(quoted), std::string::npos)
        << "README.md must quote the output of examples/structural-learning/run.sh:\n"
        << quoted;

    const auto before = ReadJson(dir.File("run/lwf-info.json"));
    const auto after = ReadJson(dir.File("run/retrained-info.json"));
    EXPECT_LE(2 * after["totals"]["existing"].get<int>(), before["totals"]["existing"].get<int>());
    const double accuracyBefore = ReadJson(dir.File("run/lwf-test.json"))["accuracy"];
    const double accuracyAfter = ReadJson(dir.File("run/retrained-test.json"))["accuracy"];
    EXPECT_GE(accuracyAfter, accuracyBefore - 0.02);
}

}  // namespace
}  // namespace synapsor
