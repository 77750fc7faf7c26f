// The README's walkthrough on the bundled wine table, end to end: import, create, check, train,
// plot, evaluate, recall and export, each through the built programs.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
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

// The README's "Validation and early stopping" on the bundled digits: the quoted figures, the
// validation error of the written network as evaluate computes it, the kept epoch as the one of
// the smallest printed validation error, and the two curves of the plot.
TEST(Walkthrough, DigitsWithValidationAndEarlyStopping) {
    test::TempDir dir;
    const std::string digits = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/digits/";
    ASSERT_EQ(Tool({"import", digits + "digits-train.csv", "--classes", "digit", "--scale",
                    "minmax", "--prep-out", "digits.prep", "-o", "train.dat"},
                   dir.Path())
                  .status,
              0);
    for (const char* part : {"validation", "test"}) {
        ASSERT_EQ(Tool({"import", digits + "digits-" + part + ".csv", "--prep", "digits.prep", "-o",
                        std::string(part) + ".dat"},
                       dir.Path())
                      .status,
                  0);
    }
    ASSERT_EQ(
        Tool({"create", "--layers", "64,32,10", "--seed", "7", "-o", "digits.wgt"}, dir.Path())
            .status,
        0);
    dir.WriteFile("digits.par",
                  "WeightFile = digits.wgt\nTrainingFile = train.dat\n"
                  "ValidationFile = validation.dat\nDestinationFile = digits-trained.wgt\n"
                  "Epochs = 500\nAlgorithm = adam\nBatchSize = 32\nLearningRate = 0.01\n"
                  "Shuffle = true\nSeed = 1\nPatience = 10\n");
    test::ProgramResult r = Tool({"check", "digits.par"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.out;
    r = test::RunProgram(SYNAPSOR_EXE, {"digits.par"}, dir.Path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "stopped after epoch 92: no better validation error for 10 epochs; the network of "
              "epoch 82 is written\n");
    EXPECT_EQ(r.out.compare(0, 20, "1 0.329353 0.301221\n"), 0);
    EXPECT_NE(r.out.find("\n82 0.0202642 0.0560252\n"), std::string::npos);
    // The kept epoch has the smallest printed validation error, the earliest on ties.
    std::istringstream lines(r.out);
    long epoch = 0, best = 0;
    double training = 0, validation = 0, lowest = 1e300;
    while (lines >> epoch >> training >> validation) {
        if (validation < lowest) {
            lowest = validation;
            best = epoch;
        }
    }
    EXPECT_EQ(epoch, 92);
    EXPECT_EQ(best, 82);
    dir.WriteFile("log.txt", r.out);
    r = Tool({"evaluate", "digits-trained.wgt", "validation.dat"}, dir.Path());
    EXPECT_NE(r.out.find("rms       0.0560252\n"), std::string::npos) << r.out;
    r = Tool({"evaluate", "digits-trained.wgt", "test.dat"}, dir.Path());
    EXPECT_NE(r.out.find("accuracy  0.973244 (291 of 299 rows)\n"), std::string::npos) << r.out;
    ASSERT_EQ(Tool({"plot", "log.txt", "-o", "curve.svg"}, dir.Path()).status, 0);
    std::ifstream svg(dir.File("curve.svg"));
    const std::string text((std::istreambuf_iterator<char>(svg)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("log.txt (validation)"), std::string::npos);
}

}  // namespace
}  // namespace synapsor
