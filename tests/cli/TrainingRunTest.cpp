#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>

#include "FileHandler/NetworkFile.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"
#include "cli/TrainingFiles.h"

namespace synapsor {
namespace test {

namespace {

// One training problem in a temporary directory: a one-weight linear network (out = w * in,
// w = 0.5) and two rows (in 1, target 1) and (in 2, target 0.5).
class TrainingRunTest : public ::testing::Test {
  protected:
    TrainingRunTest() {
        dir.WriteFile("net.wgt", LinearNetwork(1, 1, 0.5));
        dir.WriteFile("train.dat", DataSet(1, 1, {{1, 1}, {2, 0.5}}));
    }

    // Runs Synapsor in the directory on a parameter file naming net.wgt, train.dat and out.wgt
    // (unless `settings` names others: later keys win), with the given further settings.
    ProgramResult Run(const std::string& settings) {
        dir.WriteFile("p.par",
                      "WeightFile = net.wgt TrainingFile = train.dat "
                      "DestinationFile = out.wgt LearningRate = 0.25 Momentum = 0.5\n" +
                          settings);
        return RunSynapsor({"p.par"}, dir.Path());
    }

    // The single weight of a network file written by the run.
    double WrittenWeight(const std::string& name) {
        FileTools tools;
        std::unique_ptr<TBasicNetwork> net = tools.ReadNetworkFile(dir.File(name).c_str());
        return net->GetConnections(1, 2)->GetWeight(0, 0);
    }

    std::set<std::string> Files() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
            names.insert(e.path().filename().string());
        return names;
    }

    TempDir dir;
};

TEST_F(TrainingRunTest, ThreeEpochsPrintTheHandComputedErrors) {
    // Online steps, change = -0.25 * (o - t) * x + 0.5 * last change, error = sqrt(sum / 2):
    // epoch 1: row 1 o = 0.5, sq 0.25, change 0.125, w 0.625; row 2 o = 1.25, sq 0.5625,
    //          change -0.375 + 0.0625 = -0.3125, w 0.3125; sqrt(0.8125 / 2) = 0.637377.
    // epoch 2: o = 0.3125 (sq 0.47265625), change 0.015625, w 0.328125; o = 0.65625
    //          (sq 0.0244140625), change -0.078125 + 0.0078125, w 0.2578125; 0.498533.
    // epoch 3: o = 0.2578125 (sq 0.55084228515625), change 0.150390625, w 0.408203125;
    //          o = 0.81640625 (sq 0.1001129150390625), change -0.158203125 + 0.0751953125,
    //          w 0.3251953125; sqrt(0.65095520019531 / 2) = 0.570506.
    const ProgramResult r = Run("Epochs = 3");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1 0.637377\n2 0.498533\n3 0.570506\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(WrittenWeight("out.wgt"), 0.3251953125);
    // The temporary file the network went through is gone.
    EXPECT_EQ(Files(), (std::set<std::string>{"net.wgt", "train.dat", "p.par", "out.wgt"}));
}

// Warnings about the data and the course of the run name the parameter file's line of the key
// they concern; the run goes on and prints what it prints without them.
TEST_F(TrainingRunTest, WarningsAboutTargetsAndAnErrorThatStaysTheSame) {
    const std::string sigmoid = "[ActivationFunction = sigmoid]";
    const std::string tanh = "[ActivationFunction = tanh]";
    const std::string stall =
        "warning: p.par:2: the training error has stayed at 0.5 for 50 epochs (epochs 1 to 50): "
        "the network is not learning; saturated units, a learning rate too large or expected "
        "outputs out of the output layer's range are the usual causes\n";
    const struct {
        std::string activation;
        std::vector<std::vector<double>> rows;
        std::string settings;
        std::string err;
    } cases[] = {
        {sigmoid, {{1, 1}, {2, 0}}, "Epochs = 2", ""},  // the usual class targets
        {sigmoid,
         {{1, 2}, {2, 0.5}},
         "Epochs = 2",
         "warning: p.par:2: Training file t.dat holds expected outputs from 0.5 to 2, but the "
         "output layer of net.wgt (sigmoid) produces only values in (0, 1): scale the expected "
         "outputs into that range or use a linear output layer\n"},
        {tanh, {{1, -1}, {2, 0.5}}, "Epochs = 2", ""},
        {tanh,
         {{1, -3}, {2, 0.5}},
         "Epochs = 2",
         "warning: p.par:2: Training file t.dat holds expected outputs from -3 to 0.5, but the "
         "output layer of net.wgt (tanh) produces only values in (-1, 1): scale the expected "
         "outputs into that range or use a linear output layer\n"},
        // A learning rate of 0 keeps the error at 0.5; one warning, however long the run.
        {"", {{1, 1}, {2, 0.5}}, "LearningRate = 0 Epochs = 49", ""},
        {"", {{1, 1}, {2, 0.5}}, "LearningRate = 0 Epochs = 50", stall},
        {"", {{1, 1}, {2, 0.5}}, "LearningRate = 0 Epochs = 120", stall},
        {"", {{1, 0.5}, {2, 1}}, "LearningRate = 0 Epochs = 60", ""},  // an error of 0 is no stall
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        dir.WriteFile("net.wgt", c.activation.empty() ? LinearNetwork(1, 1, 0.5)
                                                      : LinearNetwork(1, 1, 0.5, 3, c.activation));
        dir.WriteFile("t.dat", DataSet(1, 1, c.rows));
        const ProgramResult r = Run("TrainingFile = t.dat " + c.settings);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, c.err);
        const std::size_t epochs = std::stoul(c.settings.substr(c.settings.rfind('=') + 1));
        EXPECT_EQ(static_cast<std::size_t>(std::count(r.out.begin(), r.out.end(), '\n')), epochs);
    }
}

// The training options on the one-weight problem, with hand-computed numbers. A validation file
// of the one row (1, 1) has the error |w - 1| after each epoch; the online weights are those of
// ThreeEpochsPrintTheHandComputedErrors: 0.3125, 0.2578125, 0.3251953125.
TEST_F(TrainingRunTest, OptionsGiveTheHandComputedRuns) {
    dir.WriteFile("val.dat", DataSet(1, 1, {{1, 1}}));
    const struct {
        std::string settings;
        std::string out;
        std::string err;
        double weight;
    } kCases[] = {
        {"Epochs = 3 ValidationFile = val.dat",
         "1 0.637377 0.6875\n2 0.498533 0.742188\n3 0.570506 0.674805\n", "", 0.3251953125},
        // Epoch 2 is no better than epoch 1: the run stops and writes epoch 1's network.
        {"Epochs = 3 ValidationFile = val.dat Patience = 1",
         "1 0.637377 0.6875\n2 0.498533 0.742188\n",
         "stopped after epoch 2: no better validation error for 1 epoch; the network of epoch 1 "
         "is written\n",
         0.3125},
        {"Epochs = 2 ValidationFile = val.dat", "1 0.637377 0.6875\n2 0.498533 0.742188\n",
         "the network of epoch 1 is written: it has the lowest validation error\n", 0.3125},
        {"Epochs = 2 ValidationFile = val.dat KeepBest = false",
         "1 0.637377 0.6875\n2 0.498533 0.742188\n", "", 0.2578125},
        // Groups of one row are the online run.
        {"Epochs = 3 BatchSize = 1", "1 0.637377\n2 0.498533\n3 0.570506\n", "", 0.3251953125},
        // Rprop on whole passes, first step 0.25: the pass's gradient 0.5 moves w to 0.25; then
        // -0.75 changes sign (step 0.125, no move), -0.75 again (w 0.375), -0.125 (step 0.15,
        // w 0.525). Errors at w = 0.5, 0.25, 0.25, 0.375.
        {"Epochs = 4 Algorithm = rprop", "1 0.5\n2 0.53033\n3 0.53033\n4 0.475986\n",
         "warning: p.par:1: Momentum is not used by Algorithm rprop\n", 0.525},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.settings);
        const ProgramResult r = Run(c.settings);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(WrittenWeight("out.wgt"), c.weight);
    }
}

// Adam online, rate 0.25, first steps by hand: g = -0.5 gives m = -0.05, v = 0.00025 and the step
// 0.25 * 0.5 / (0.5 + 1e-8); then g = 2 * (2 w - 0.5) (about 2) with corrections 0.19 and
// 0.001999.
TEST_F(TrainingRunTest, AdamTakesItsHandComputedFirstSteps) {
    const ProgramResult r = Run("Epochs = 1 Algorithm = adam");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1 0.790569\n");
    EXPECT_EQ(r.err, "warning: p.par:1: Momentum is not used by Algorithm adam\n");
    const double w1 = 0.5 + 0.25 * 0.5 / (0.5 + 1e-8);
    const double g = 2.0 * (2.0 * w1 - 0.5);
    const double m = 0.9 * -0.05 + 0.1 * g;
    const double v = 0.999 * 0.00025 + 0.001 * (g * g);
    const double w2 = w1 - 0.25 * (m / 0.19) / (std::sqrt(v / 0.001999) + 1e-8);
    EXPECT_NEAR(WrittenWeight("out.wgt"), w2, 1e-12);
    EXPECT_NEAR(w2, 0.610124122938155, 1e-12);
}

// A shuffled run repeats itself with its seed, and a seed drawn is printed so it can be given.
TEST_F(TrainingRunTest, ShuffledRunsRepeatWithTheirSeed) {
    const ProgramResult first = Run("Epochs = 20 Shuffle = true Seed = 5");
    const ProgramResult again = Run("Epochs = 20 Shuffle = true Seed = 5");
    EXPECT_EQ(first.status, 0);
    EXPECT_EQ(first.out, again.out);
    EXPECT_NE(first.out, Run("Epochs = 20").out) << "some pass took row 2 first";
    const ProgramResult drawn = Run("Epochs = 20 Shuffle = true");
    const std::string prefix = "shuffling with Seed = ";
    ASSERT_EQ(drawn.err.compare(0, prefix.size(), prefix), 0) << drawn.err;
    const std::string seed =
        drawn.err.substr(prefix.size(), drawn.err.find(' ', prefix.size()) - prefix.size());
    EXPECT_EQ(Run("Epochs = 20 Shuffle = true Seed = " + seed).out, drawn.out);
}

// Limits and combinations stop the run before its first epoch, with the place of the value.
TEST_F(TrainingRunTest, OptionErrorsStopTheRunWithTheirPlace) {
    const ProgramResult r = Run("Epochs = 3 Batch = true\nBatchSize = 4");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string message =
        "Batch = true cannot be combined with BatchSize: BatchSize already says how many rows "
        "make an update (drop one of them)";
    EXPECT_EQ(r.err, message + "\np.par:3:13: " + message + "\n");
    EXPECT_EQ(Files().count("out.wgt"), 0u);
}

TEST_F(TrainingRunTest, ErrorsAreNarrowedToSinglePrecisionInGeneralFormat) {
    // One row with input 2, so the output is 2 * 0.5 = 1 and the error |target - 1|; a learning
    // rate of 0 keeps it so. The double 0.2222225 lies just below the halfway point and prints
    // as 0.222222; the float nearest to it lies above and prints as 0.222223.
    // Exponent form below 0.0001 and from 1000000 up.
    const struct {
        double target;
        const char* error;
    } cases[] = {{0.7777775, "0.222223"}, {1.00001, "1e-05"}, {1234568, "1.23457e+06"}};
    for (const auto& c : cases) {
        dir.WriteFile("one.dat", DataSet(1, 1, {{2, c.target}}));
        EXPECT_EQ(Run("Epochs = 2 LearningRate = 0 Momentum = 0 TrainingFile = one.dat").out,
                  std::string("1 ") + c.error + "\n2 " + c.error + "\n");
    }
}

TEST_F(TrainingRunTest, NegativeEpochsRunNoEpochButReplaceTheDestination) {
    dir.WriteFile("out.wgt", "old text");
    const ProgramResult r = Run("Epochs = -2");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(WrittenWeight("out.wgt"), 0.5);
}

TEST_F(TrainingRunTest, DefaultDestinationIsTrainedWgtInTheWorkingDirectory) {
    dir.WriteFile("p.par", "WeightFile = net.wgt TrainingFile = train.dat Epochs = -1\n");
    EXPECT_EQ(RunSynapsor({"p.par"}, dir.Path()).status, 0);
    EXPECT_EQ(WrittenWeight("trained.wgt"), 0.5);
}

TEST_F(TrainingRunTest, SelectedColumnsAndASecondDataSetTrainAsTheFirstRun) {
    // Column 1 of (9, 1) and (9, 2) is the one input: the hand-computed run of the first test.
    dir.WriteFile("wide.dat", DataSet(2, 1, {{9, 1, 1}, {9, 2, 0.5}}));
    EXPECT_EQ(Run("Epochs = 1 TrainingFile = wide.dat #Features = 1 Features = 1").out,
              "1 0.637377\n");
    // Generated outputs and errors after each row are ignored.
    dir.WriteFile("both.dat", DataSet(1, 1, {{1, 1, 7, 8}, {2, 0.5, 7, 8}},
                                      "[GeneratedOutputs = 1]\n[Error = 1]\n"));
    const ProgramResult r = Run("Epochs = 1 TrainingFile = both.dat");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1 0.637377\n");
}

// Every refused run ends with status 1 and one message on one stream, writes no destination and
// leaves no temporary file behind. File errors go to standard output, followed on standard error
// by the place of the fault where one is known; refusals of the data or the network go to
// standard error with their kind and location (kFit: the fit checks').
TEST_F(TrainingRunTest, RefusedRunsReportOnOneStreamAndLeaveNothingBehind) {
    enum Stream { kOut, kErr, kFit };
    std::set<std::string> files = Files();
    files.insert("p.par");
    std::filesystem::create_directory(dir.File("sub"));
    files.insert("sub");
    const struct {
        std::string file;  // written first, unless empty
        std::string text;
        std::string settings;
        Stream stream;
        std::string message;
        std::string place;  // standard error after a file error
    } cases[] = {
        // The training file is missing too: only the weight file's message appears.
        {"", "", "Epochs = 1 WeightFile = none.wgt TrainingFile = none.dat", kOut,
         "Error on File Open", "none.wgt: cannot open: No such file or directory\n"},
        {"", "", "Epochs = 1 WeightFile = .", kOut, "Error on File Open",
         ".: cannot open: Is a directory\n"},
        // Regression: a training file that could not be opened ended the program with an abort.
        {"", "", "Epochs = 1 TrainingFile = none.dat", kOut, "Cannot open training file none.dat",
         "none.dat: cannot open: No such file or directory\n"},
        {"", "", "Epochs = 1 TrainingFile = .", kOut, "Cannot open training file .",
         ".: cannot open: Is a directory\n"},
        {"bad.dat",
         "[DataSet]\n[Rows = 1]\n[Inputs = 1]\n[ExpectedOutputs = 1]\n[Data]\n1 x\n[~Data]\n"
         "[~DataSet]\n",
         "Epochs = 1 TrainingFile = bad.dat", kOut, "number-expected",
         "bad.dat:6:3: number-expected (found \"x\")\n"},
        {"holes.wgt", LinearNetwork(1, 1, 0.5, 4), "Epochs = 1 WeightFile = holes.wgt", kOut,
         "Layer 3 is not defined (NumberOfLayers = 4)",
         "holes.wgt:21:2: Layer 3 is not defined (NumberOfLayers = 4) (found "
         "\"ConnectionLayer\")\n"},
        {"outputs-only.dat",
         "[DataSet]\n[Rows = 1]\n[GeneratedOutputs = 1]\n[Data]\n1\n[~Data]\n[~DataSet]\n",
         "Epochs = 1 TrainingFile = outputs-only.dat", kOut,
         "Training file outputs-only.dat holds no inputs or expected outputs to train on", ""},
        // Found before the first epoch.
        {"", "", "Epochs = 1 DestinationFile = no/such/dir/out.wgt", kOut,
         "Cannot write network file \"no/such/dir/out.wgt\": No such file or directory", ""},
        {"", "", "Epochs = -1 DestinationFile = sub", kOut,
         "Cannot write network file \"sub\": it is a directory", ""},
        {"wide.dat", DataSet(2, 1, {{9, 1, 1}}), "Epochs = 1 TrainingFile = wide.dat", kFit,
         "Training file wide.dat has 2 inputs per row but the input layer of net.wgt has 1 "
         "neurons",
         ""},
        // Two selected columns of the wide set: still one too many.
        {"", "", "Epochs = 1 TrainingFile = wide.dat #Features = 2 Features = 1 0", kFit,
         "Training file wide.dat has 2 selected input columns but the input layer of net.wgt "
         "has 1 neurons",
         ""},
        {"", "", "Epochs = 1 TrainingFile = wide.dat #Features = 1 Features = 2", kErr,
         "Invalid Input Feature 2: input columns are 0 .. 1\nBad Parameter\n"
         "Data::SetInputFeatures",
         ""},
        {"two-out.dat", DataSet(1, 2, {{1, 2, 3}}), "Epochs = -1 TrainingFile = two-out.dat", kFit,
         "Training file two-out.dat has 2 expected outputs per row but the output layer of "
         "net.wgt has 1 neurons",
         ""},
        {"empty.dat", DataSet(1, 1, {}), "Epochs = -1 TrainingFile = empty.dat", kFit,
         "Training file empty.dat holds no rows", ""},
        // Regression: a layer of mixed activation functions, or one without a derivative above
        // weights, ended the program on a fatal internal check in the trainer.
        {"mixed.wgt",
         LinearNetwork(1, 2, 0.5, 3,
                       "[Neurons][Neuron = 0 ActivationFunction = linear]"
                       "[Neuron = 1 ActivationFunction = tanh][~Neurons]"),
         "Epochs = 1 WeightFile = mixed.wgt TrainingFile = two-out.dat", kFit,
         "Layer 2 of mixed.wgt mixes activation functions: training needs one per layer", ""},
        {"saturated.wgt", LinearNetwork(1, 1, 0.5, 3, "[ActivationFunction = saturated-linear]"),
         "Epochs = -1 WeightFile = saturated.wgt", kFit,
         "Layer 2 of saturated.wgt has incoming weights and the activation function "
         "\"saturated-linear\", which training cannot pass errors through",
         ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        if (!c.file.empty()) {
            dir.WriteFile(c.file, c.text);
            files.insert(c.file);
        }
        const ProgramResult r = Run(c.settings);
        const std::string where = c.stream == kFit ? "\nBad Parameter\nTrainingRun::CheckFit" : "";
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(c.stream == kOut ? r.out : r.err, c.message + where + "\n");
        EXPECT_EQ(c.stream == kOut ? r.err : r.out, c.place);
        EXPECT_FALSE(std::filesystem::exists(dir.File("out.wgt")));
    }
    EXPECT_EQ(Files(), files);
    EXPECT_TRUE(std::filesystem::is_empty(dir.File("sub")));
}

std::string ReadText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The bundled examples on threads: every thread count prints and writes the same bytes, close to
// (but not necessarily the bits of) the run without Threads.
TEST(ThreadsRun, EveryThreadCountPrintsAndWritesTheSameBytes) {
    struct Case {
        const char* example;
        const char* settings;
    };
    const Case cases[] = {
        {"xor", "Epochs = 200 Batch = true LearningRate = 2 Momentum = 0.8"},
        {"iris", "Epochs = 40 Batch = true LWF = true"},
        {"iris", "Epochs = 40 BatchSize = 32 Algorithm = adam LearningRate = 0.01"},
        {"iris", "Epochs = 40 Algorithm = rprop"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.example) + ": " + c.settings);
        TempDir dir;
        const std::string example = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/" + c.example;
        dir.WriteFile("net.wgt", ReadText(example + "/" + c.example + ".wgt"));
        dir.WriteFile("train.dat", ReadText(example + "/" + c.example + ".dat"));
        const auto run = [&](const std::string& threads) {
            dir.WriteFile("p.par",
                          "WeightFile = net.wgt TrainingFile = train.dat "
                          "DestinationFile = out.wgt " +
                              std::string(c.settings) + "\n" + threads);
            ProgramResult r = RunSynapsor({"p.par"}, dir.Path());
            EXPECT_EQ(r.status, 0) << r.err;
            return std::make_pair(r.out, ReadText(dir.File("out.wgt")));
        };
        const auto one = run("Threads = 1");
        ASSERT_FALSE(one.first.empty());
        for (const char* threads : {"Threads = 2", "Threads = 3", "Threads = 8", "Threads = 0"}) {
            SCOPED_TRACE(threads);
            const auto got = run(threads);
            EXPECT_EQ(got.first, one.first);
            EXPECT_EQ(got.second, one.second);
        }
        // The plain run differs at most in the last printed digits.
        std::istringstream plain(run("").first);
        std::istringstream split(one.first);
        long long epoch = 0;
        long long splitEpoch = 0;
        double plainError = 0.0;
        double splitError = 0.0;
        int lines = 0;
        while (plain >> epoch >> plainError && split >> splitEpoch >> splitError) {
            EXPECT_EQ(splitEpoch, epoch);
            EXPECT_NEAR(splitError, plainError, 1e-5 * plainError + 1e-12) << "epoch " << epoch;
            lines++;
        }
        EXPECT_GE(lines, 40);
    }
}

TEST_F(TrainingRunTest, OnlineRunsRefuseMoreThanOneThread) {
    const ProgramResult r = Run("Epochs = 3\nThreads = 2");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string message =
        "Threads needs batch training (Batch = true or BatchSize): online training updates the "
        "weights after every row, one row after the other, on one thread";
    EXPECT_EQ(r.err, message + "\np.par:3:11: " + message + "\n");
    const ProgramResult alone = Run("Epochs = 3\nThreads = 1");
    EXPECT_EQ(alone.status, 0);
    EXPECT_EQ(alone.out, Run("Epochs = 3").out);
    EXPECT_NE(alone.err.find("Threads is not used by online training"), std::string::npos)
        << alone.err;
}
}  // namespace

}  // namespace test
}  // namespace synapsor
