// check and the trainer's warnings: the findings with their exact positions, and the exit status.
#include <gtest/gtest.h>

#include <unistd.h>

#include "MLP/Common/ParameterLint.h"
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
    const std::string base = "WeightFile = " + iris + ".wgt\nTrainingFile = " + iris + ".dat\n";
    const std::string destination = "DestinationFile = " + dir.File("out.wgt") + "\n";
    struct Case {
        std::string par;
        std::string findings;
    };
    const Case cases[] = {
        {base + "Epochs = 5\n" + destination, ""},
        {base + "Epochs = 5\n" + destination + "  LearnRate = 0.01\nMomentun : 0.3\n",
         "P:5:3: warning: \"LearnRate\" is not a setting and is ignored\n"
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
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.par);
        EXPECT_EQ(Findings(dir.WriteFile("p.par", c.par)), c.findings);
    }
}

TEST(Check, NearestKeyAndWords) {
    EXPECT_EQ(NearestParameterKey("epoch"), "Epochs");
    EXPECT_EQ(NearestParameterKey("MOMETNUM"), "Momentum");  // a swap is one edit
    EXPECT_EQ(NearestParameterKey("LearnRate"), "");         // three edits away
    EXPECT_EQ(NearestParameterKey("LWX"), "LWF");
    const auto words = SplitParameterWords("\xEF\xBB\xBFWeightFile =\r\n\tx.wgt");
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0].text, "WeightFile");
    EXPECT_EQ(words[0].column, 1);
    EXPECT_EQ(words[2].line, 2);
    EXPECT_EQ(words[2].column, 2);
    // A value is never taken for a key, and the values of a Features list are skipped.
    const ParameterLintResult r =
        LintParameterText("WeightFile = Momentum #Features = 2 Features = 1 Bogus\nX = 1");
    ASSERT_EQ(r.findings.size(), 1u);
    EXPECT_EQ(r.findings[0].word.text, "X");
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
