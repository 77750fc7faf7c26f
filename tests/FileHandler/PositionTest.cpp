// Where reading stopped: every fault in a network or data set text carries the 1-based line and
// byte column of the token found there and that token, or the end of the input. Lines are
// counted over comments and line ends of any kind; a byte-order mark takes no column.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "cli/TempDir.h"
#include "cli/TrainingFiles.h"

namespace synapsor {
namespace {

// "MESSAGE @LINE:COLUMN TOKEN" (TOKEN <end> at the end of the input), or "no error".
std::string Where(const FileTools::Error& e) {
    return e.message + " @" + std::to_string(e.line) + ":" + std::to_string(e.column) + " " +
           (e.atEnd ? std::string("<end>") : e.token);
}

std::string NetworkFault(const std::string& text) {
    FileTools tools;
    std::istringstream in(text);
    try {
        tools.ReadNetwork(in);
    } catch (const FileTools::Error& e) {
        return Where(e);
    }
    return "no error";
}

std::string Edited(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

std::string CrLf(const std::string& text) {
    std::string out;
    for (const char c : text)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out;
}

TEST(PositionTest, NetworkFaultsPointAtTheTokenFound) {
    // Lines of the file: 2 [NetworkType = Basic], 12 [Layer = 1], 13 its LayerType, 15 its end tag,
    // 26 the matrix value.
    const std::string net = test::LinearNetwork(1, 1, 0.5);
    const struct {
        std::string text;
        std::string where;
    } cases[] = {
        {Edited(net, "[NetworkType = Basic]", "[Network = Basic]"),
         "[NETWORKTYPE = <string>] expectedNetwork @2:2 Network"},
        {Edited(net, "0.5 \n", "0.5  /* a\n /* b */\n"),
         "Unexpected end of file during comment @26:6 /*"},
        {Edited(net, "0.5 \n", "/* two\nlines */ 0.5 x\n"), "End Tag expected @27:14 x"},
        {Edited(net, "[~Layer]\n[Layer = 2]", "[~Lay]\n[Layer = 2]"),
         "Unexpected End Tag @15:3 Lay"},
        {Edited(net, "0.5 \n", ""), "Token Expected @26:1 [~Matrix]"},
        {"\xEF\xBB\xBF[Network]", "[NEURALNETWORK] expected @1:2 Network"},
        {"[NeuralNetwork] " + std::string(FileTools::kScratchSize + 1, 'w'),
         "Word too long @1:17 " + std::string(FileTools::kScratchSize, 'w')},
        {CrLf(Edited(net, "[Layer = 1]", "[Layer = x]")), "integer-expected @12:10 x"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(NetworkFault(c.text), c.where) << c.text;
}

TEST(PositionTest, DataSetFaultsPointAtTheTokenFoundAndNameTheFile) {
    // Lines: 3 [Inputs = 1], 4 [ExpectedOutputs = 1], 5 [Data], 6 and 7 the rows.
    const std::string data = test::DataSet(1, 1, {{1, 1}, {2, 0.5}});
    const struct {
        std::string text;
        std::string where;
    } cases[] = {
        {Edited(data, "2 0.5", "2 0.5 0.7"), "End Tag expected @7:7 0.7"},
        {Edited(data, "[Rows = 2]\n", ""), "[Rows = <integer>] missing in header @4:2 Data"},
        {Edited(Edited(data, "[ExpectedOutputs = 1]", "[ExpectedOutputs = Labels]"), "2 0.5",
                "2 [a] 3 b"),
         "Label list expected: '[' missing @6:3 1"},
        {Edited(Edited(data, "[ExpectedOutputs = 1]", "[ExpectedOutputs = Labels]"), "1 1 \n2 0.5",
                "1 /* x */ [a] 2 [b = c]"),
         "number-expected @6:22 c"},
    };
    test::TempDir dir;
    FileTools tools;
    for (const auto& c : cases) {
        const std::string file = dir.WriteFile("d.dat", c.text);
        std::unique_ptr<Data> first, second;
        try {
            tools.ReadDataSetFile(file.c_str(), first, second);
            ADD_FAILURE() << "no error: " << c.text;
        } catch (const FileTools::Error& e) {
            EXPECT_EQ(Where(e), c.where) << c.text;
            EXPECT_EQ(e.file, file);
        }
    }
}

}  // namespace
}  // namespace synapsor
