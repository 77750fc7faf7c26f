// synapsor-tool sweep end to end: its table against the same runs made one by one with the
// trainer and scored with evaluate, the table whatever the number of threads, the best setting's
// files, and bad sweep files refused before any run.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Tool/SweepTestFiles.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

using test::CsvRows;
using test::ReadFile;
using test::RegressionData;
using test::WithoutSeconds;

test::ProgramResult Tool(const std::vector<std::string>& args, const std::string& dir) {
    return test::RunProgram(SYNAPSOR_TOOL_EXE, args, dir);
}

TEST(SweepCli, TableEqualsTheTrainersRunsOneByOneWhateverTheThreads) {
    test::TempDir dir;
    dir.WriteFile("r.dat", RegressionData());
    dir.WriteFile("v.dat", RegressionData());
    dir.WriteFile("base.par", "TrainingFile = r.dat\nEpochs = 30\nMomentum = 0.5\n");
    dir.WriteFile("r.sweep",
                  "Parameters = base.par\nValidationFile = v.dat\nLearningRate = 0.1 0.7\n"
                  "Batch = false true\nHidden = 3 4,2\nSeeds = 1 2\n");
    test::ProgramResult one = Tool(
        {"sweep", "r.sweep", "-j", "1", "--csv", "one.csv", "--refit", "refit.wgt"}, dir.Path());
    ASSERT_EQ(one.status, 0) << one.err;
    test::ProgramResult three =
        Tool({"sweep", "r.sweep", "-j", "3", "--csv", "three.csv", "--best", "b3.par"}, dir.Path());
    ASSERT_EQ(three.status, 0) << three.err;
    const std::string table = ReadFile(dir.File("one.csv"));
    EXPECT_EQ(WithoutSeconds(table), WithoutSeconds(ReadFile(dir.File("three.csv"))));
    EXPECT_NE(one.out.find("best: "), std::string::npos) << one.out;

    // Each setting again: create's network from each seed, the trainer, evaluate's RMS.
    const auto rows = CsvRows(table);
    ASSERT_EQ(rows.size(), 9u);
    EXPECT_EQ(rows[0][0] + rows[0][1] + rows[0][2] + rows[0][3] + rows[0][4],
              "rankLearningRateBatchHiddenrms");
    for (std::size_t r = 1; r < rows.size(); ++r) {
        const std::string layers = "2," + rows[r][3] + ",1";
        double sum = 0.0;
        for (const char* seed : {"1", "2"}) {
            ASSERT_EQ(
                Tool({"create", "--layers", layers, "--seed", seed, "-o", "s.wgt"}, dir.Path())
                    .status,
                0);
            dir.WriteFile("run.par",
                          "WeightFile = s.wgt\nTrainingFile = r.dat\nEpochs = 30\n"
                          "Momentum = 0.5\nLearningRate = " +
                              rows[r][1] + "\nBatch = " + rows[r][2] +
                              "\nDestinationFile = t.wgt\n");
            ASSERT_EQ(test::RunSynapsor({"run.par"}, dir.Path()).status, 0);
            const test::ProgramResult e =
                Tool({"evaluate", "t.wgt", "v.dat", "--json"}, dir.Path());
            ASSERT_EQ(e.status, 0) << e.err;
            sum += nlohmann::json::parse(e.out)["rms"].get<double>();
        }
        // evaluate reads the network as the trainer wrote it, with 15 digits per weight.
        EXPECT_NEAR(std::stod(rows[r][4]), sum / 2.0, 1e-12 * sum) << "row " << r;
    }

    // The best setting's parameter file makes the trainer write, over --refit's network, the
    // same network again.
    ASSERT_TRUE(std::filesystem::exists(dir.File("best.start.wgt")));
    const std::string refit = ReadFile(dir.File("refit.wgt"));
    ASSERT_NE(refit, "");
    const test::ProgramResult again = test::RunSynapsor({"best.par"}, dir.Path());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(ReadFile(dir.File("refit.wgt")), refit);
}

// A setting with Threads trains as Synapsor does with Threads (chunked sums, here of 600 rows in
// three chunks), which is not what the plain order of the same setting gives.
TEST(SweepCli, ThreadsSettingsTrainAsTheTrainerDoesWithThreads) {
    test::TempDir dir;
    std::ostringstream rows;
    rows << "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 600]\n[Inputs = 2]\n"
            "[ExpectedOutputs = 1]\n[Data]\n";
    for (int i = 0; i < 600; ++i) {
        const double a = (i % 25) / 24.0, b = (i / 25) / 23.0;
        rows << a << ' ' << b << ' ' << 0.2 + 0.5 * a * b + 0.1 * std::sin(3.0 * a) << '\n';
    }
    rows << "[~Data]\n[~DataSet]\n";
    dir.WriteFile("r.dat", rows.str());
    dir.WriteFile("base.par", "TrainingFile = r.dat\nEpochs = 20\nBatch = true\nMomentum = 0.5\n");
    const std::string sweep =
        "Parameters = base.par\nValidationFile = r.dat\nLearningRate = 0.3\n"
        "Hidden = 4\nSeeds = 1\n";
    dir.WriteFile("threads.sweep", sweep + "Threads = 1 3\n");
    dir.WriteFile("plain.sweep", sweep);
    const test::ProgramResult threads =
        Tool({"sweep", "threads.sweep", "--csv", "t.csv", "--refit", "threads.wgt"}, dir.Path());
    ASSERT_EQ(threads.status, 0) << threads.err;
    const auto table = CsvRows(ReadFile(dir.File("t.csv")));
    ASSERT_EQ(table.size(), 3u);
    const std::size_t rms = static_cast<std::size_t>(
        std::find(table[0].begin(), table[0].end(), "rms") - table[0].begin());
    ASSERT_LT(rms, table[0].size());
    EXPECT_EQ(table[1][rms], table[2][rms]) << "the thread count changed a score";
    const std::string refit = ReadFile(dir.File("threads.wgt"));
    ASSERT_EQ(test::RunSynapsor({"best.par"}, dir.Path()).status, 0);
    EXPECT_EQ(ReadFile(dir.File("threads.wgt")), refit);
    ASSERT_EQ(Tool({"sweep", "plain.sweep", "--refit", "plain.wgt"}, dir.Path()).status, 0);
    EXPECT_NE(ReadFile(dir.File("plain.wgt")), refit);
}

TEST(SweepCli, FoldsOnIrisScoreAccuracyTheSameOnOneOrThreeThreads) {
    test::TempDir dir;
    std::filesystem::copy_file(std::string(SYNAPSOR_SOURCE_DIR) + "/examples/iris/iris.dat",
                               dir.File("iris.dat"));
    dir.WriteFile("iris.sweep",
                  "TrainingFile = iris.dat\nEpochs = 10\nFolds = 3\n"
                  "LearningRate = 0.2 0.5\nHidden = 4\nSeeds = 1 2\n");
    std::string tables[2];
    int k = 0;
    for (const char* jobs : {"1", "3"}) {
        const test::ProgramResult r =
            Tool({"sweep", "iris.sweep", "-j", jobs, "--csv", "t.csv"}, dir.Path());
        ASSERT_EQ(r.status, 0) << r.err;
        tables[k++] = WithoutSeconds(ReadFile(dir.File("t.csv")));
    }
    EXPECT_EQ(tables[0], tables[1]);
    const auto rows = CsvRows(tables[0]);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][3], "accuracy");
    EXPECT_EQ(rows[1][5], "6");  // 2 seeds x 3 folds
    EXPECT_GT(std::stod(rows[1][3]), 0.3);
    EXPECT_NE(ReadFile(dir.File("best.par")).find("LearningRate = "), std::string::npos);
}

TEST(SweepCli, BadSweepFilesFailBeforeAnyRun) {
    test::TempDir dir;
    dir.WriteFile("r.dat", RegressionData());
    dir.WriteFile("empty.dat",
                  "[FormatVersion = 1.0]\n[DataSet]\n[Rows = 0]\n[Inputs = 2]\n"
                  "[ExpectedOutputs = 1]\n[Data]\n[~Data]\n[~DataSet]\n");
    dir.WriteFile("on.par", "Batch = true\n");
    dir.WriteFile("bad.par", "Epochs = 5\nLearningRate = fast\n");
    dir.WriteFile("v.par", "ValidationFile = r.dat\n");
    const std::string head = "Folds = 3\nEpochs = 5\nHidden = 2\n";
    struct Case {
        std::string setup;
        std::string message;
    } cases[] = {
        {head + "TrainingFile = r.dat\nLernrate = 0.1\n",
         "synapsor-tool: s.sweep:5:1: unknown key \"Lernrate\"; did you mean LearningRate?\n"},
        {head + "TrainingFile = r.dat\nMomentum = 0.5 x\n", "synapsor-tool: s.sweep:5:16: "},
        {head + "TrainingFile = missing.dat\n", "synapsor-tool: s.sweep:4:16: "},
        {head + "TrainingFile = empty.dat\n", "synapsor-tool: s.sweep:4:16: "},
        {head, "synapsor-tool: s.sweep: No training file specified\n"},
        {"Folds = 30\nEpochs = 5\nHidden = 2\nTrainingFile = r.dat\n",
         "synapsor-tool: s.sweep:1:9: Folds = 30, but the training file r.dat holds 24 rows\n"},
        {head + "TrainingFile = r.dat\n#Features = 2\nFeatures = 1 9\n",
         "synapsor-tool: s.sweep:6:12: Invalid Input Feature 9: input columns are 0 .. 1\n"},
        // What only the training run does around the epochs is refused, not silently skipped.
        {head + "TrainingFile = r.dat\nShuffle = true\n",
         "synapsor-tool: s.sweep:5:11: sweep does not run Shuffle of the training run yet"},
        {head + "TrainingFile = r.dat\nParameters = v.par\n",
         "synapsor-tool: s.sweep: sweep does not run ValidationFile of the training run yet"},
    };
    for (const Case& c : cases) {
        dir.WriteFile("s.sweep", c.setup);
        const test::ProgramResult r = Tool({"sweep", "s.sweep", "-j", "2"}, dir.Path());
        EXPECT_EQ(r.status, 1) << c.setup;
        EXPECT_EQ(r.err.substr(0, c.message.size()), c.message) << c.setup << r.err;
        EXPECT_EQ(r.out, "") << c.setup;
        EXPECT_FALSE(std::filesystem::exists(dir.File("sweep.csv"))) << c.setup;
    }
}

// The README shows the table of the bundled iris sweep; all but the seconds must be this build's.
TEST(SweepCli, ReadmeQuotesTheIrisTable) {
    test::TempDir dir;
    const std::string iris = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/iris/";
    std::filesystem::copy_file(iris + "iris.dat", dir.File("iris.dat"));
    std::filesystem::copy_file(iris + "iris.sweep", dir.File("iris.sweep"));
    const test::ProgramResult r =
        Tool({"sweep", "iris.sweep", "--refit", "iris-best.wgt"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string readme = ReadFile(std::string(SYNAPSOR_SOURCE_DIR) + "/README.md");
    std::istringstream lines(r.out);
    std::string line;
    int quoted = 0;
    while (std::getline(lines, line)) {
        // Up to the seconds, the last column of a table line.
        const std::string kept = line.rfind("best:", 0) == 0
                                     ? line
                                     : line.substr(0, line.find_last_not_of("0123456789.") + 1);
        EXPECT_NE(readme.find("\n    " + kept), std::string::npos) << line;
        ++quoted;
    }
    EXPECT_EQ(quoted, 20);
}

// An interrupt stops handing out runs, lets the one in flight finish, writes the table of the
// finished runs marked incomplete and ends with 128 + the signal.
TEST(SweepCli, AnInterruptWritesTheTableOfTheFinishedRuns) {
    test::TempDir dir;
    dir.WriteFile("r.dat", RegressionData());
    dir.WriteFile("long.sweep",
                  "TrainingFile = r.dat\nValidationFile = r.dat\nEpochs = 4000\n"
                  "LearningRate = 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1\n"
                  "Hidden = 4\nSeeds = 1 2 3 4 5 6 7 8 9 10\n");
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        const pid_t pid = test::StartWithOutput(
            dir.Path(), {SYNAPSOR_TOOL_EXE, "sweep", "long.sweep", "-j", "2"});
        ASSERT_NE(pid, 0);
        // The runs have started once the sweep holds the signals back (the mask the kernel
        // shows for the process); a little later some are in flight.
        for (int i = 0; i < 2000 && !test::HoldsSignalsBack(pid); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        kill(pid, signal);
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        ASSERT_TRUE(WIFEXITED(wstatus));
        EXPECT_EQ(WEXITSTATUS(wstatus), 128 + signal);
        EXPECT_EQ(ReadFile(dir.File("out.txt")).rfind("incomplete: ", 0), 0u)
            << ReadFile(dir.File("out.txt"));
        const auto rows = CsvRows(ReadFile(dir.File("sweep.csv")));
        ASSERT_EQ(rows.size(), 11u);
        int finished = 0;
        for (std::size_t r = 1; r < rows.size(); ++r)
            finished += std::stoi(rows[r][6]);
        EXPECT_GT(finished, 0);
        EXPECT_LT(finished, 100);
        EXPECT_FALSE(std::filesystem::exists(dir.File("best.par")));
    }
}

}  // namespace
}  // namespace synapsor
