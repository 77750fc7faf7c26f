// synapsor-tool create, recall and evaluate run as a user would, with the trainer in between,
// on the bundled iris example; and the messages and exit statuses of bad command lines.
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

test::ProgramResult Tool(const std::vector<std::string>& args, const std::string& dir = "") {
    return test::RunProgram(SYNAPSOR_TOOL_EXE, args, dir);
}

std::string ReadFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountLines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

TEST(ToolCli, CreateTrainEvaluateRecallOnIris) {
    test::TempDir dir;
    std::filesystem::copy_file(std::string(SYNAPSOR_SOURCE_DIR) + "/examples/iris/iris.dat",
                               dir.File("iris.dat"));
    test::ProgramResult r =
        Tool({"create", "--layers", "4,6,3", "--seed", "5", "-o", "start.wgt"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out + r.err, "");

    r = Tool({"evaluate", "start.wgt", "iris.dat", "--json"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json before = nlohmann::json::parse(r.out);

    dir.WriteFile("iris.par",
                  "WeightFile = start.wgt\nTrainingFile = iris.dat\nDestinationFile = "
                  "trained.wgt\nEpochs = 100\nLearningRate = 0.2\nMomentum = 0.5\n");
    r = test::RunSynapsor({"iris.par"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    ASSERT_EQ(CountLines(r.out), 100);

    r = Tool({"evaluate", "trained.wgt", "iris.dat", "--json"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    const nlohmann::json after = nlohmann::json::parse(r.out);
    EXPECT_EQ(after["rows"], 150);
    EXPECT_EQ(after["classes"], 3);
    EXPECT_LT(after["rms"].get<double>(), before["rms"].get<double>());
    EXPECT_GT(after["accuracy"].get<double>(), 0.8);

    r = Tool({"recall", "trained.wgt", "iris.dat"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string csv = r.out;
    EXPECT_EQ(CountLines(csv), 151);
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "row,output_0,output_1,output_2,argmax");

    r = Tool({"recall", "trained.wgt", "iris.dat", "-o", "out.dat", "--csv", "out.csv"},
             dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFile(dir.File("out.csv")), csv);
    // The recall file's first data set is the original one: evaluating on it gives the same.
    r = Tool({"evaluate", "trained.wgt", "out.dat", "--json"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out), after);
}

TEST(ToolCli, BadInputGetsOneLineAndStatus) {
    test::TempDir dir;
    const std::string iris = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/iris/iris.dat";
    const std::string xorData = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/xor/xor.dat";
    ASSERT_EQ(
        Tool({"create", "--layers", "4,3,3", "--seed", "1", "-o", "n.wgt"}, dir.Path()).status, 0);
    dir.WriteFile("new.dat",
                  "[DataSet] [Rows = 1] [Inputs = 4] [ExpectedOutputs = 0] [Data]\n"
                  "0 0 0 0\n[~Data] [~DataSet]\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;  // the first line of standard error
    } cases[] = {
        {{"create", "--layers", "4", "-o", "x.wgt"},
         1,
         "synapsor-tool: --layers \"4\": give at least two sizes, the input and the output "
         "layer"},
        {{"create", "-o", "x.wgt"}, 2, "synapsor-tool: --layers is required"},
        {{"create", "--layers", "4,3", "--type", "mesh", "-o", "x.wgt"},
         2,
         "synapsor-tool: --type: mesh not in {mlp,basic,connected}"},
        {{"evaluate", "n.wgt", xorData},
         1,
         "synapsor-tool: Data set file " + xorData +
             " has 2 inputs per row but the input layer of n.wgt has 4 neurons"},
        {{"recall", "n.wgt", "missing.dat"},
         1,
         "synapsor-tool: Cannot open data set file missing.dat"},
        {{"evaluate", "n.wgt", "new.dat"},
         1,
         "synapsor-tool: Data set file new.dat has no expected outputs to evaluate against"},
    };
    for (const Case& c : cases) {
        const test::ProgramResult r = Tool(c.args, dir.Path());
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.wgt")));

    // New data without expected outputs: outputs only.
    const test::ProgramResult r = Tool({"recall", "n.wgt", "new.dat"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CountLines(r.out), 2);
}

}  // namespace
}  // namespace synapsor
