// No input file may end the program on a signal (a fatal internal check, an uncaught exception,
// a crash): the example's parameter, network and data set files, each cut short at many points,
// must give exit status 0, or 1 with a message.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace test {

namespace {

std::string Example(const std::string& name) {
    std::ifstream in(std::string(SYNAPSOR_SOURCE_DIR) + "/examples/xor/" + name, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_FALSE(text.empty()) << name;
    return text;
}

// The XOR example in a temporary directory, trained for two epochs.
class MalformedFilesTest : public ::testing::Test {
  protected:
    MalformedFilesTest() {
        dir.WriteFile("xor.par", kParameters);
        dir.WriteFile("xor.wgt", Example("xor.wgt"));
        dir.WriteFile("xor.dat", Example("xor.dat"));
    }

    // Writes every prefix of text whose length is a multiple of step (and the whole text) to
    // name, runs the program on each, and requires an orderly end.
    void RunPrefixes(const std::string& name, const std::string& text, std::size_t step) {
        for (std::size_t n = 0;; n = std::min(n + step, text.size())) {
            dir.WriteFile(name, text.substr(0, n));
            const ProgramResult r = RunSynapsor({"xor.par"}, dir.Path());
            const std::string where = name + " cut after " + std::to_string(n) + " bytes";
            ASSERT_TRUE(r.status == 0 || r.status == 1) << where << ": status " << r.status << "\n"
                                                        << r.err;
            if (r.status == 1) {
                ASSERT_FALSE(r.out.empty() && r.err.empty()) << where << ": no message";
            }
            if (n == text.size())
                break;
        }
    }

    static constexpr const char* kParameters =
        "WeightFile = xor.wgt TrainingFile = xor.dat DestinationFile = out.wgt\n"
        "Epochs = 2 LearningRate = 0.5 Momentum = 0.9 Batch = true LWF = true\n"
        "#Features = 2 Features = 1 0\n";
    TempDir dir;
};

TEST_F(MalformedFilesTest, UntouchedExampleTrains) {
    const ProgramResult r = RunSynapsor({"xor.par"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out.rfind("1 ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("\n2 "), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST_F(MalformedFilesTest, TruncatedParameterFileEndsInAnOrderlyWay) {
    RunPrefixes("xor.par", kParameters, 1);
}

TEST_F(MalformedFilesTest, TruncatedNetworkFileEndsInAnOrderlyWay) {
    RunPrefixes("xor.wgt", Example("xor.wgt"), 5);
}

TEST_F(MalformedFilesTest, TruncatedDataSetFileEndsInAnOrderlyWay) {
    RunPrefixes("xor.dat", Example("xor.dat"), 1);
}

}  // namespace

}  // namespace test
}  // namespace synapsor
