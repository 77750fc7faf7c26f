// check and the trainer's warnings: the findings with their exact positions, and the exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include "MLP/Tool/Check.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

const std::string kExamples = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/";

std::string Findings(const std::string& file) {
    std::string text;
    for (const CheckFinding& f : CheckParameterFile(file))
        text += FormatFinding("P", f) + "\n";
    return text;
}

TEST(Check, FindingsWithTheirPositions) {
    test::TempDir dir;
    const std::string iris = kExamples + "iris/iris";
    const std::string xor_ = kExamples + "xor/xor";
    const std::string nan =
        dir.WriteFile("nan.dat",
                      "[DataSet]\n[Rows = 1]\n[Inputs = 2]\n[ExpectedOutputs = 1]\n[Data]\n"
                      "0 nan  1\n[~Data]\n[~DataSet]\n");
    const std::string targets =
        dir.WriteFile("targets.dat",
                      "[DataSet]\n[Rows = 2]\n[Inputs = 2]\n[ExpectedOutputs = 1]\n[Data]\n"
                      "0 1 -0.5\n1 1 25\n[~Data]\n[~DataSet]\n");
    const std::string base = "WeightFile = " + iris + ".wgt\nTrainingFile = " + iris + ".dat\n";
    const std::string destination = "DestinationFile = " + dir.File("out.wgt") + "\n";
    struct Case {
        std::string par;
        std::string findings;
    };
    const Case cases[] = {
        {base + "Epochs = 5\n" + destination, ""},
        {base + "Epochs = 5\n" + destination + "  LearnRate = 0.01\nMomentun : 0.3\n",
         "P:5:3: warning: \"LearnRate\" is not a setting and is ignored (did you mean "
         "LearningRate?)\n"
         "P:6:1: warning: \"Momentun\" is not a setting and is ignored (did you mean Momentum?)\n"},
        {base + "Epochs = 5 LearningRate=0.001\n" + destination + "Epochs = 7\n",
         "P:3:12: warning: \"LearningRate=0.001\" is not a setting and is ignored (did you mean "
         "LearningRate = 0.001?)\n"
         "P:5:1: warning: \"Epochs\" is given again (first on line 3); the later value is used\n"},
        {base + "Epochs = 5\n" + destination + "LearningRate = 20 Momentum =1\n",
         "P:5:16: warning: LearningRate 20 is above 10: training is likely to diverge\n"
         "P:5:29: warning: Momentum 1 is outside [0, 1): the weight changes grow from epoch to "
         "epoch\n"},
        {base + destination, "P:1:1: error: Number of epochs not specified\n"},
        // Each finding at its own place, also where a number runs into the next key.
        {base + "Epochs = 12LearningRate = 20\n" + destination,
         "P:3:10: warning: \"12LearningRate\" is read as 12 for Epochs; the rest, "
         "\"LearningRate\", is read as a word of its own\n"
         "P:3:27: warning: LearningRate 20 is above 10: training is likely to diverge\n"},
        {base + "Epochs = 1e3\nLearningRate = 0,3\n" + destination + "# Momentum = 0.9\n",
         "P:3:10: warning: \"1e3\" is read as 1 for Epochs; the rest, \"e3\", is read as a word "
         "of its own\n"
         "P:4:16: warning: \"0,3\" is read as 0 for LearningRate; the rest, \",3\", is read as "
         "a word of its own\n"
         "P:4:16: warning: LearningRate 0 is not above 0: the weights will not learn\n"
         "P:6:1: warning: the parameter file has no comments: the key Momentum on this line is "
         "read\n"},
        {"WeightFile = " + xor_ + ".wgt\nTrainingFile = " + targets + "\nEpochs = 1\nBatch = on\n" +
             destination,
         "P:2:16: warning: Training file " + targets +
             " holds expected outputs from -0.5 to 25, but the output layer of " + xor_ +
             ".wgt (sigmoid) produces only values in (0, 1): scale the expected outputs into that "
             "range or use a linear output layer\n"
             "P:4:9: warning: \"on\" is not true: Batch stays off (only true switches it on, and "
             "nothing switches it off)\n"},
        {base + "Epochs = many\n",
         "P:3:10: error: Bad value for Epochs: expected an integer, "
         "found many\n"},
        {"WeightFile = " + xor_ + ".wgt\nTrainingFile = " + iris + ".dat\nEpochs = 1\n" +
             destination,
         "P:2:16: error: Training file " + iris +
             ".dat has 4 inputs per row but the input layer "
             "of " +
             xor_ + ".wgt has 2 neurons\n"},
        {"WeightFile = " + xor_ + ".wgt\nTrainingFile = " + nan + "\nEpochs = 1\n" + destination,
         "P:2:16: error: Training file " + nan + ", row 1, column 2: nan is not a finite number\n"},
        {"WeightFile = " + dir.File("none.wgt") + "\nTrainingFile = " + iris +
             ".dat\nEpochs = 1\nDestinationFile = " + dir.File("no/x.wgt") + "\n",
         "P:1:14: error: weight file " + dir.File("none.wgt") +
             " does not exist or is no file (the trainer stops with \"Error on File Open\")\n"
             "P:4:19: error: the directory " +
             dir.File("no") + " of the destination " + dir.File("no/x.wgt") + " does not exist\n"},
        // The destination is claimed as the trainer claims it: a directory, and a directory
        // where nobody, root included, may create a file.
        {base + "Epochs = 1\nDestinationFile = " + dir.Path() + "\n",
         "P:4:19: error: Cannot write network file \"" + dir.Path() + "\": it is a directory\n"},
        {base + "Epochs = 1\nDestinationFile = /proc/x.wgt\n",
         "P:4:19: error: Cannot write network file \"/proc/x.wgt\": " +
             (access("/proc", W_OK) == 0 ? std::string("No such file or directory")
                                         : std::string("Permission denied")) +
             "\n"},
        // The training options: limits and combinations at their values' places, unused keys
        // as warnings, a missing validation file.
        {base + "Epochs = 5\n" + destination +
             "Batch = true BatchSize = 0\nAlgorithm = adam "
             "Momentum = 0.5 Beta2 = 1\n",
         "P:5:26: error: BatchSize must be 1 or more, found 0\n"
         "P:6:29: warning: Momentum is not used by Algorithm adam\n"
         "P:6:41: error: Beta2 must be at least 0 and below 1, found 1\n"},
        {base + "Epochs = 5\n" + destination + "ValidationFile = " + dir.File("v.dat") +
             " Patience = 3\nSeed = 4\n",
         "P:5:18: error: validation file " + dir.File("v.dat") +
             " does not exist or is no file\n"
             "P:6:8: warning: Seed is not used without Shuffle = true\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.par);
        EXPECT_EQ(Findings(dir.WriteFile("p.par", c.par)), c.findings);
    }
}

TEST(Check, ExitStatusAndTheTrainersWarnings) {
    test::TempDir dir;
    const std::string xor_ = kExamples + "xor/xor";
    const std::string good = "WeightFile = " + xor_ + ".wgt\nTrainingFile = " + xor_ +
                             ".dat\nEpochs = 3\nDestinationFile = " + dir.File("t.wgt") + "\n";
    const std::string par = dir.WriteFile("good.par", good);
    test::ProgramResult r = test::RunProgram(SYNAPSOR_TOOL_EXE, {"check", par});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "synapsor-tool: " + par + ": the run would start (0 errors, 0 warnings)\n");
    const test::ProgramResult clean = test::RunProgram(SYNAPSOR_EXE, {par});

    const std::string noisy =
        dir.WriteFile("noisy.par", good + "Verbose = yes\nLearningrate:0.5\n");
    r = test::RunProgram(SYNAPSOR_EXE, {noisy});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, clean.out);  // the run itself is unchanged
    EXPECT_EQ(r.err, "warning: " + noisy +
                         ":5: \"Verbose\" is not a setting and is ignored\n"
                         "warning: " +
                         noisy +
                         ":6: \"Learningrate:0.5\" is not a setting and is "
                         "ignored (did you mean LearningRate : 0.5?)\n");

    const std::string broken = dir.WriteFile("broken.par", "Epochs = 3\n");
    r = test::RunProgram(SYNAPSOR_TOOL_EXE, {"check", broken});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, broken + ":1:1: error: No weight file specified\n");
    EXPECT_EQ(r.err,
              "synapsor-tool: " + broken + ": the run would not start (1 error, 0 warnings)\n");
}

}  // namespace
}  // namespace synapsor
