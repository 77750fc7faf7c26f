// The README's walkthrough on the bundled wine table, end to end: import, create, check, train,
// plot, evaluate, recall and export, each through the built programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

test::ProgramResult Tool(const std::vector<std::string>& args, const std::string& dir) {
    return test::RunProgram(SYNAPSOR_TOOL_EXE, args, dir);
}

TEST(Walkthrough, WineFromCsvToAnswers) {
    test::TempDir dir;
    const std::string wine = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/wine/";
    for (const char* name : {"wine.csv", "new-wines.csv"})
        std::filesystem::copy_file(wine + name, dir.File(name));
    test::ProgramResult r = Tool({"import", "wine.csv", "--classes", "cultivar", "--shuffle",
                                  "--seed", "7", "--split", "0.8", "-o", "wine-train.dat",
                                  "--test-out", "wine-test.dat", "--prep-out", "wine-prep.txt"},
                                 dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "synapsor-tool: 138 rows to wine-train.dat, 34 rows to wine-test.dat; 13 "
              "inputs, 3 outputs per row\n");
    ASSERT_EQ(
        Tool({"create", "--layers", "13,8,3", "--seed", "1", "-o", "wine.wgt"}, dir.Path()).status,
        0);
    dir.WriteFile("wine.par",
                  "WeightFile = wine.wgt\nTrainingFile = wine-train.dat\n"
                  "DestinationFile = wine-trained.wgt\nEpochs = 200\n"
                  "LearningRate = 0.2\nMomentum = 0.5\n");
    r = Tool({"check", "wine.par"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.out;
    r = test::RunProgram(SYNAPSOR_EXE, {"wine.par"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    dir.WriteFile("wine.log", r.out);
    EXPECT_EQ(Tool({"plot", "wine.log", "--log-y", "-o", "wine.svg"}, dir.Path()).status, 0);
    r = Tool({"evaluate", "wine-trained.wgt", "wine-test.dat", "--prep", "wine-prep.txt"},
             dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\ntarget cultivar\naccuracy  0.970588 (33 of 34 rows)\n\n"
                         "confusion matrix (rows: actual class, columns: predicted class)\n"
                         "           class_0  class_1  class_2\n"
                         "  class_0       11        0        0\n"
                         "  class_1        1       12        0\n"
                         "  class_2        0        0       10\n"),
              std::string::npos)
        << r.out;

    ASSERT_EQ(Tool({"import", "new-wines.csv", "--prep", "wine-prep.txt", "--label", "sample", "-o",
                    "new.dat"},
                   dir.Path())
                  .status,
              0);
    ASSERT_EQ(
        Tool({"recall", "wine-trained.wgt", "new.dat", "-o", "new-out.dat"}, dir.Path()).status, 0);
    r = Tool({"export", "new-out.dat", "--prep", "wine-prep.txt"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    // Each line: the label, the 13 measurements as new-wines.csv gave them, the answer. The six
    // wines are of these cultivars (examples/wine/README.md).
    std::ifstream given(dir.File("new-wines.csv"));
    std::istringstream out(r.out);
    std::string in, line;
    std::getline(given, in);
    std::getline(out, line);
    for (const char* cultivar :
         {"class_0", "class_0", "class_1", "class_1", "class_1", "class_2"}) {
        ASSERT_TRUE(std::getline(given, in) && std::getline(out, line));
        EXPECT_EQ(line, in + "," + cultivar);
    }
}

}  // namespace
}  // namespace synapsor
