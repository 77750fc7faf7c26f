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
        {{"prune", "n.wgt", "--fraction", "1.0000000001", "-o", "p.wgt"},
         1,
         "synapsor-tool: the fraction must lie between 0 and 1, not 1.0000000001"},
        {{"prune", "n.wgt", "--threshold", "-1e-300", "-o", "p.wgt"},
         1,
         "synapsor-tool: the threshold must be 0 or more, not -1e-300"},
        {{"evalute", "n.wgt", "new.dat"},
         2,
         "synapsor-tool: unknown subcommand evalute (did you mean evaluate?)"},
        {{"pr", "n.wgt"}, 2, "synapsor-tool: unknown subcommand pr (did you mean prune?)"},
        {{"prnt", "n.wgt"},
         2,
         "synapsor-tool: unknown subcommand prnt (did you mean plot or prune?)"},
        {{"train", "n.wgt"},
         2,
         "synapsor-tool: unknown subcommand train (the subcommands are create, recall, "
         "evaluate, import, export, check, plot, info, prune or sweep)"},
        {{"export", "new.dat", "--scores"}, 2, "synapsor-tool: --scores requires --prep"},
    };
    for (const Case& c : cases) {
        const test::ProgramResult r = Tool(c.args, dir.Path());
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.wgt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("p.wgt")));

    // New data without expected outputs: outputs only.
    const test::ProgramResult r = Tool({"recall", "n.wgt", "new.dat"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(CountLines(r.out), 2);
}

// One value that is not a finite number, in the network or the data, is refused by every
// command that reads it, and by the trainer, with the place of the value.
TEST(ToolCli, NonFiniteNumbersAreRefused) {
    test::TempDir dir;
    const std::string xor_ = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/xor/";
    const std::string net = ReadFile(xor_ + "xor.wgt");
    const std::string data = ReadFile(xor_ + "xor.dat");
    const auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? text : text.replace(at, from.size(), to);
    };
    dir.WriteFile("xor.wgt", net);
    dir.WriteFile("xor.dat", data);
    dir.WriteFile("nan.wgt", replaced(net, "-0.258 T", "nan T"));
    dir.WriteFile("inf.wgt", replaced(net, "[All Gain=1 ]", "[All Gain=inf ]"));
    dir.WriteFile("nan.dat", replaced(data, "   0   1     1", "   0   1     nan"));
    dir.WriteFile("inf.dat", replaced(data, "   1   0     1", "   -inf   0     1"));
    // A linear output with a huge weight overflows although every number is finite.
    ASSERT_EQ(
        Tool({"create", "--layers", "2,1", "--output", "linear", "--seed", "1", "-o", "lin.wgt"},
             dir.Path())
            .status,
        0);
    std::string linear = ReadFile(dir.File("lin.wgt"));
    const std::size_t last = linear.rfind(" T  /* 1 */");
    ASSERT_NE(last, std::string::npos) << linear;
    const std::size_t start = linear.rfind('\n', last) + 1;
    dir.WriteFile("lin.wgt", linear.replace(start, last - start, "1e308"));
    dir.WriteFile("big.dat",
                  "[DataSet] [Rows = 1] [Inputs = 2] [ExpectedOutputs = 1] [Data]\n"
                  "10 10 0\n[~Data] [~DataSet]\n");

    const std::string weight =
        "Network file nan.wgt, weight From = 0, To = 2 (layer 0 to layer 2): nan is not a "
        "finite number";
    const std::string gain =
        "Network file inf.wgt, gain of neuron 0 in layer 2: inf is not a finite number";
    const struct {
        std::vector<std::string> args;
        std::string err;  // the first line of standard error
    } cases[] = {
        {{"recall", "nan.wgt", "xor.dat"}, "synapsor-tool: " + weight},
        {{"evaluate", "nan.wgt", "xor.dat", "--json"}, "synapsor-tool: " + weight},
        {{"info", "nan.wgt"}, "synapsor-tool: " + weight},
        {{"prune", "nan.wgt", "--fraction", "0.5", "-o", "p.wgt"}, "synapsor-tool: " + weight},
        {{"evaluate", "inf.wgt", "xor.dat"}, "synapsor-tool: " + gain},
        {{"evaluate", "xor.wgt", "nan.dat"},
         "synapsor-tool: Data set file nan.dat, row 2, column 3: nan is not a finite number"},
        {{"recall", "xor.wgt", "inf.dat", "-o", "r.dat"},
         "synapsor-tool: Data set file inf.dat, row 3, column 1: -inf is not a finite number"},
        {{"recall", "lin.wgt", "big.dat"},
         "synapsor-tool: Network file lin.wgt gives output 1 of row 1 as inf, not a finite "
         "number"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        const test::ProgramResult r = Tool(c.args, dir.Path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err.substr(0, r.err.find('\n')), c.err);
        EXPECT_EQ(r.out, "");
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("p.wgt")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("r.dat")));

    // The trainer names the weight instead of calling the run diverged.
    dir.WriteFile("nan.par",
                  "WeightFile = nan.wgt\nTrainingFile = xor.dat\nDestinationFile = t.wgt\n"
                  "Epochs = 3\nLearningRate = 0.5\n");
    const test::ProgramResult r = test::RunSynapsor({"nan.par"}, dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, weight + "\n");
    EXPECT_EQ(r.err.find("diverged"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace synapsor
