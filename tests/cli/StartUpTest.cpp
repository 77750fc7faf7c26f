#include <gtest/gtest.h>

#include <string>

#include "Common/Version.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace test {

namespace {

void ExpectFailure(const ProgramResult& r, const std::string& err) {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, err);
}

TEST(StartUpTest, UsageAndUnopenableParameterFiles) {
    TempDir dir;
    ExpectFailure(RunSynapsor({}), "Usage: Synapsor parameter.file\n");
    ExpectFailure(RunSynapsor({"a.par", "b.par"}), "Usage: Synapsor parameter.file\n");
    ExpectFailure(RunSynapsor({"missing.par"}, dir.Path()),
                  "Cannot open parameter file missing.par\n");
    ExpectFailure(RunSynapsor({dir.Path()}), "Cannot open parameter file " + dir.Path() + "\n");
    // Reading this file fails in the operating system (its first page is not mapped).
    ExpectFailure(RunSynapsor({"/proc/self/mem"}), "Read error in parameter file\n");
}

// Without a file of that name, --help and --version are options; with one, it is read.
TEST(StartUpTest, HelpAndVersion) {
    TempDir dir;
    const ProgramResult help = RunSynapsor({"--help"}, dir.Path());
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: Synapsor parameter.file\nTrains a multi-layer perceptron", 0),
              0u);
    EXPECT_NE(help.out.find("synapsor-tool check"), std::string::npos);
    EXPECT_EQ(help.err, "");
    const ProgramResult version = RunSynapsor({"--version"}, dir.Path());
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("Synapsor ") + kVersion + "\n");
    EXPECT_EQ(version.err, "");
    dir.WriteFile("--help", "Epochs = 3\n");
    ExpectFailure(RunSynapsor({"--help"}, dir.Path()), "No weight file specified\n");
    ExpectFailure(RunSynapsor({"--help", "x"}, dir.Path()), "Usage: Synapsor parameter.file\n");
}

// Reader messages come first, then the checks for the first missing setting.
TEST(StartUpTest, EveryParameterMessageEndsTheProgram) {
    TempDir dir;
    const std::string longWord(300, 'w');
    const std::string shown = std::string(40, 'w') + "...";
    // A reader error is followed by the line that says where it is: PAR:LINE:COLUMN: MESSAGE.
    const struct {
        std::string text;
        std::string err;
        std::string where;
    } cases[] = {
        {"Epochs = many", "Bad value for Epochs: expected an integer, found many", "1:10"},
        {"Epochs = 4294967296", "Bad value for Epochs: expected an integer, found 4294967296",
         "1:10"},
        {"LearningRate = fast", "Bad value for LearningRate: expected a number, found fast",
         "1:16"},
        {"Momentum = 1e99", "Bad value for Momentum: expected a number, found 1e99", "1:12"},
        {"ForgettingRate = x", "Bad value for ForgettingRate: expected a number, found x", "1:18"},
        {"#Features = two", "Bad value for #Features: expected an integer, found two", "1:13"},
        {"#Features = -1", "Bad value for #Features: expected a count of 0 or more, found -1",
         "1:13"},
        // A key in the list is read as a column number.
        {"#Features = 2 Features = 1 Epochs = 3",
         "Bad value for Features: expected a column number, found Epochs", "1:28"},
        {"#Features = 2 Epochs = 3", "#Features is 2 but no Features list follows", "1:1"},
        {"#Features = 2\nFeatures = 1\n", "Features list ends after 1 of 2 column numbers", "2:1"},
        {"WeightFile = a.wgt TrainingFile =",
         "Missing value for TrainingFile at end of parameter file", "1:20"},
        {"Batch = truetruetruetrue", "Value for Batch longer than 15 characters: truetruetruetrue",
         "1:9"},
        {"LWF = truetruetruetrue", "Value for LWF longer than 15 characters: truetruetruetrue",
         "1:7"},
        {"WeightFile = " + longWord,
         "File name for WeightFile longer than 255 characters: " + shown, "1:14"},
        {longWord, "Parameter file word longer than 255 characters: " + shown, "1:1"},
        // A key glued to its separator is an unknown word, named in a warning before the check.
        {"WeightFile=a.wgt\n",
         "warning: @:1: \"WeightFile=a.wgt\" is not a setting and is ignored (did you mean "
         "WeightFile = a.wgt?)\nNo weight file specified",
         ""},
        {"WeightFile = a.wgt\n", "No training file specified", ""},
        {"WeightFile = a.wgt\nTrainingFile = t.dat\n", "Number of epochs not specified", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 50));
        const std::string par = dir.WriteFile("p.par", c.text);
        std::string err = c.err;
        if (err.find('@') != std::string::npos)
            err.replace(err.find('@'), 1, par);
        if (!c.where.empty())
            err += "\n" + par + ":" + c.where + ": " + c.err;
        ExpectFailure(RunSynapsor({par}), err + "\n");
    }
}

}  // namespace

}  // namespace test
}  // namespace synapsor
