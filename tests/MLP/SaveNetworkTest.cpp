// Saving through a temporary file. Unwritable destinations are checked end to end in
// tests/cli/TrainingRunTest.cpp.
#include "MLP/Common/SaveNetwork.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/MLPNetwork.h"
#include "cli/TempDir.h"

namespace synapsor {

namespace {

std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class SaveNetworkTest : public ::testing::Test {
  protected:
    SaveNetworkTest() : net(2, sizes, true) { net.RandomizeWeights(-1.0, 1.0); }

    // The number of entries in the directory: a temporary file left behind shows here.
    int Entries() const {
        const std::filesystem::directory_iterator it(dir.Path());
        return static_cast<int>(std::distance(begin(it), end(it)));
    }

    const int sizes[2] = {2, 1};
    TMLPNetwork net;
    FileTools tools;
    test::TempDir dir;
};

TEST_F(SaveNetworkTest, WritesWhatTheWriterWritesAndLeavesNoTemporaryFile) {
    const std::string file = dir.File("out.wgt");
    SaveNetworkFile(tools, file, net);
    const std::string direct = dir.File("direct.wgt");
    tools.WriteNetworkFile(direct.c_str(), &net);
    EXPECT_EQ(Contents(file), Contents(direct));
    EXPECT_EQ(Entries(), 2);
}

TEST_F(SaveNetworkTest, ReplacementKeepsThePermissionsOfTheFileItReplaces) {
    const std::string file = dir.WriteFile("out.wgt", "old");
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    SaveNetworkFile(tools, file, net);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_NE(Contents(file), "old");
}

TEST_F(SaveNetworkTest, FailedWriteKeepsTheOldDestination) {
    const std::string file = dir.WriteFile("out.wgt", "old");
    TBasicNetwork holes(3);  // no layer defined: the writer refuses it halfway
    try {
        SaveNetworkFile(tools, file, holes);
        ADD_FAILURE() << "no error";
    } catch (const FileTools::Error& e) {
        EXPECT_EQ(e.message, "Cannot write the network: layer 0 is missing");
    }
    EXPECT_EQ(Contents(file), "old");
    EXPECT_EQ(Entries(), 1);
}

TEST_F(SaveNetworkTest, LongDestinationNamesStillFitTheTemporaryName) {
    const std::string file = dir.File(std::string(250, 'n'));
    SaveNetworkFile(tools, file, net);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(Entries(), 1);
}

}  // namespace

}  // namespace synapsor
