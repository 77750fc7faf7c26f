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

TEST(StartUpTest, CompleteSettingsReachTheTrainingRun) {
    TempDir dir;
    const std::string par =
        dir.WriteFile("ok.par", "WeightFile = a.wgt\nTrainingFile = t.dat\nEpochs = -1\n");
    ExpectFailure(RunSynapsor({par}), "Training run not available yet\n");
}

}  // namespace

}  // namespace test
}  // namespace synapsor
