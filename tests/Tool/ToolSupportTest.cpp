// The tool's one-line messages for faults in a network or data set file name the place as
// FILE:LINE:COLUMN: MESSAGE; faults without a place keep the file name in front.
#include <gtest/gtest.h>

#include <string>

#include "MLP/Tool/ToolSupport.h"
#include "cli/TempDir.h"
#include "cli/TrainingFiles.h"

namespace synapsor {
namespace {

template <typename Load>
std::string ToolMessage(Load load) {
    try {
        load();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "no error";
}

TEST(ToolSupportTest, FileFaultsNameTheirPlace) {
    test::TempDir dir;
    std::string net = test::LinearNetwork(1, 1, 0.5);
    net.replace(net.find("[Layer = 1]"), 11, "[Layer = x]");
    const std::string badNet = dir.WriteFile("bad.wgt", net);
    const std::string badData = dir.WriteFile("bad.dat",
                                              "[DataSet]\n[Rows = 1]\n[Inputs = 1]\n"
                                              "[Data]\n1 2\n[~Data]\n[~DataSet]\n");
    const std::string none = dir.File("none.wgt");
    EXPECT_EQ(ToolMessage([&] { LoadToolNetwork(badNet); }), badNet + ":12:10: integer-expected");
    EXPECT_EQ(ToolMessage([&] { LoadToolDataSet(badData); }), badData + ":5:3: End Tag expected");
    EXPECT_EQ(ToolMessage([&] { LoadToolNetwork(none); }), none + ": Error on File Open");
}

}  // namespace
}  // namespace synapsor
