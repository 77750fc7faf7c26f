#include <gtest/gtest.h>

#include <string>

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

TEST(StartUpTest, UsageNeedsExactlyOneArgument) {
    ExpectFailure(RunSynapsor({}), "Usage: Synapsor parameter.file\n");
    ExpectFailure(RunSynapsor({"a.par", "b.par"}), "Usage: Synapsor parameter.file\n");
}

TEST(StartUpTest, UnopenableParameterFile) {
    TempDir dir;
    ExpectFailure(RunSynapsor({"missing.par"}, dir.Path()),
                  "Cannot open parameter file missing.par\n");
    ExpectFailure(RunSynapsor({dir.Path()}), "Cannot open parameter file " + dir.Path() + "\n");
}

TEST(StartUpTest, ChecksReportTheFirstMissingSetting) {
    TempDir dir;
    ExpectFailure(RunSynapsor({dir.WriteFile("a.par", "WeightFile=a.wgt\n")}),
                  "No weight file specified\n");
    ExpectFailure(RunSynapsor({dir.WriteFile("b.par", "WeightFile = a.wgt\n")}),
                  "No training file specified\n");
    ExpectFailure(
        RunSynapsor({dir.WriteFile("c.par", "WeightFile = a.wgt\nTrainingFile = t.dat\n")}),
        "Number of epochs not specified\n");
}

TEST(StartUpTest, ReaderErrorsStopBeforeTheChecks) {
    TempDir dir;
    ExpectFailure(RunSynapsor({dir.WriteFile("p.par", "Epochs = many\n")}),
                  "Bad value for Epochs: expected an integer, found many\n");
    ExpectFailure(RunSynapsor({dir.WriteFile("q.par", "#Features = 2\nFeatures = 1\n")}),
                  "Features list ends after 1 of 2 column numbers\n");
}

TEST(StartUpTest, EveryReaderMessageEndsTheProgram) {
    TempDir dir;
    const std::string longWord(300, 'w');
    const std::string shown = std::string(40, 'w') + "...";
    const struct {
        const char* text;
        std::string err;
    } cases[] = {
        {"LearningRate = fast", "Bad value for LearningRate: expected a number, found fast\n"},
        {"Momentum = 1e99", "Bad value for Momentum: expected a number, found 1e99\n"},
        {"ForgettingRate = x", "Bad value for ForgettingRate: expected a number, found x\n"},
        {"Epochs = 4294967296", "Bad value for Epochs: expected an integer, found 4294967296\n"},
        {"#Features = -1", "Bad value for #Features: expected a count of 0 or more, found -1\n"},
        {"#Features = 2 Features = 0 x",
         "Bad value for Features: expected a column number, found x\n"},
        {"#Features = 2 Epochs = 3", "#Features is 2 but no Features list follows\n"},
        {"WeightFile = a.wgt TrainingFile =",
         "Missing value for TrainingFile at end of parameter "
         "file\n"},
        {"Batch = truetruetruetrue",
         "Value for Batch longer than 15 characters: truetruetruetrue\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ExpectFailure(RunSynapsor({dir.WriteFile("p.par", c.text)}), c.err);
    }
    ExpectFailure(RunSynapsor({dir.WriteFile("p.par", "WeightFile = " + longWord)}),
                  "File name for WeightFile longer than 255 characters: " + shown + "\n");
    ExpectFailure(RunSynapsor({dir.WriteFile("p.par", longWord)}),
                  "Parameter file word longer than 255 characters: " + shown + "\n");
    // Reading this file fails in the operating system (its first page is not mapped).
    ExpectFailure(RunSynapsor({"/proc/self/mem"}), "Read error in parameter file\n");
}

}  // namespace

}  // namespace test
}  // namespace synapsor
