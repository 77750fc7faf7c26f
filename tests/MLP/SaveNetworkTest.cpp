#include "MLP/Train/SaveNetwork.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "FileHandler/NetworkFile.h"
#include "NeuralNets/MLPNetwork.h"
#include "cli/TempDir.h"

namespace synapsor {

namespace {

using test::TempDir;

std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Entries(const TempDir& dir) {
    int n = 0;
    for (auto it = std::filesystem::directory_iterator(dir.Path());
         it != std::filesystem::directory_iterator(); ++it) {
        ++n;
    }
    return n;
}

std::string SaveError(FileTools& tools, const std::string& file, TBasicNetwork& net) {
    try {
        SaveNetworkFile(tools, file, net);
    } catch (const FileTools::Error& e) {
        return e.message;
    }
    return "(no error)";
}

class SaveNetworkTest : public ::testing::Test {
  protected:
    SaveNetworkTest() : net(2, sizes, true) { net.RandomizeWeights(-1.0, 1.0); }
    const int sizes[2] = {2, 1};
    TMLPNetwork net;
    FileTools tools;
    TempDir dir;
};

TEST_F(SaveNetworkTest, WritesWhatTheWriterWritesAndLeavesNoTemporaryFile) {
    const std::string file = dir.File("out.wgt");
    SaveNetworkFile(tools, file, net);
    const std::string direct = dir.File("direct.wgt");
    tools.WriteNetworkFile(direct.c_str(), &net);
    EXPECT_EQ(Contents(file), Contents(direct));
    EXPECT_EQ(Entries(dir), 2);
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
    EXPECT_EQ(SaveError(tools, file, holes), "Cannot write the network: layer 0 is missing");
    EXPECT_EQ(Contents(file), "old");
    EXPECT_EQ(Entries(dir), 1);
}

TEST_F(SaveNetworkTest, UnwritablePlacesNameTheDestinationAndTheReason) {
    EXPECT_EQ(SaveError(tools, dir.File("none/out.wgt"), net), "Cannot write network file \"" +
                                                                   dir.File("none/out.wgt") +
                                                                   "\": No such file or directory");
    EXPECT_EQ(SaveError(tools, dir.Path(), net),
              "Cannot write network file \"" + dir.Path() + "\": it is a directory");
    EXPECT_EQ(Entries(dir), 0);
}

TEST_F(SaveNetworkTest, LongDestinationNamesStillFitTheTemporaryName) {
    const std::string file = dir.File(std::string(250, 'n'));
    SaveNetworkFile(tools, file, net);
    EXPECT_TRUE(std::filesystem::exists(file));
    EXPECT_EQ(Entries(dir), 1);
}

}  // namespace

}  // namespace synapsor
