#include "ErrorMessage.h"
#include "FileHandler/Filer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace synapsor {
namespace {

// A valid file of two rows, two inputs and one expected output; tests mutate its tokens.
const char* const kTwoRows =
    "[FormatVersion = 1.0]\n"
    "/* training data */\n"
    "[DataSet]\n"
    "[Rows = 2]\n"
    "[Inputs = 2]\n"
    "[ExpectedOutputs = 1]\n"
    "[Data]\n"
    "0.5 1 -2\n"
    "3,4e-1 5\n"
    "[~Data]\n"
    "[~DataSet]\n";

class FilerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        // The process id keeps test runs of several build trees on one machine apart.
        path = ::testing::TempDir() + "filer_" + std::to_string(getpid()) + "_" + info->name() +
               ".dat";
        std::remove(path.c_str());
    }
    void TearDown() override { std::remove(path.c_str()); }

    void WriteText(const std::string& text) { std::ofstream(path, std::ios::binary) << text; }
    std::string ReadText() {
        std::ifstream in(path, std::ios::binary);
        std::stringstream all;
        all << in.rdbuf();
        return all.str();
    }
    // kTwoRows with the first occurrence of from replaced by to.
    static std::string TwoRowsWith(const std::string& from, const std::string& to) {
        std::string text = kTwoRows;
        const std::size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return text.replace(at, from.size(), to);
    }
    // Reads text as a data set file; returns the message of the error raised, if any.
    std::string ReadError(const std::string& text) {
        WriteText(text);
        try {
            tools.ReadDataSetFile(path.c_str(), first, second);
        } catch (const FileTools::Error& e) {
            EXPECT_NE(e.stream, nullptr);
            return e.message;
        }
        return "no error";
    }
    std::string Probe(const std::string& text) {
        WriteText(text);
        return tools.ProbeFileHeader(path.c_str())->ToText();
    }
    static double In(Data& d, int row, int col) {
        double v = 0.0;
        d.GetInputDatum(row, col, v);
        return v;
    }
    static double Out(Data& d, int row, int col) {
        double v = 0.0;
        d.GetOutputDatum(row, col, v);
        return v;
    }
    static const TLabelList& Labels(Data& d, int row) {
        TLabelList* list = nullptr;
        d.GetLabels(row, &list);
        return *list;
    }

    FileTools tools;
    std::string path;
    std::unique_ptr<Data> first, second;
};

TEST_F(FilerTest, LoadsRowsOfNumbers) {
    WriteText(kTwoRows);
    ASSERT_EQ(tools.LoadDataSet(path.c_str(), first), FileTools::SUCCESS);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->MbrNdxRows, 2);
    EXPECT_EQ(first->MbrNdxDataRows, 2);
    EXPECT_EQ(first->MbrNdxInputs, 2);
    EXPECT_EQ(first->MbrNdxOutputs, 1);
    EXPECT_FALSE(first->MbrBlnLabels);
    EXPECT_EQ(first->MbrNdxCurrent, 0);
    EXPECT_EQ(In(*first, 0, 0), 0.5);
    EXPECT_EQ(In(*first, 0, 1), 1.0);
    EXPECT_EQ(Out(*first, 0, 0), -2.0);
    EXPECT_EQ(In(*first, 1, 0), 3.0);  // "3,4e-1": the comma separates two values
    EXPECT_EQ(In(*first, 1, 1), 0.4);
    EXPECT_EQ(Out(*first, 1, 0), 5.0);
}

TEST_F(FilerTest, LoadDataSetAnswers) {
    EXPECT_EQ(tools.LoadDataSet((path + ".missing").c_str(), first), FileTools::FILE_OPEN_FAILED);
    // A second data set (here: one error value per row) is refused, the first is still handed
    // back.
    WriteText(
        TwoRowsWith("[Data]\n0.5 1 -2\n3,4e-1 5", "[Error = 1]\n[Data]\n0.5 1 -2 7 3 .4 5 8"));
    EXPECT_EQ(tools.LoadDataSet(path.c_str(), first), FileTools::FORMAT_ERROR);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Out(*first, 1, 0), 5.0);
}

TEST_F(FilerTest, HeaderOrderAndRows) {
    // Rows may stand anywhere; the last one counts.
    WriteText(TwoRowsWith("[Rows = 2]\n[Inputs = 2]\n[ExpectedOutputs = 1]",
                          "[Rows = 9][Inputs = 2][ExpectedOutputs = 1][Error = 0][Rows = 2]"));
    ASSERT_EQ(tools.ReadDataSetFile(path.c_str(), first, second), FileTools::SUCCESS);
    EXPECT_EQ(first->MbrNdxRows, 2);
    EXPECT_EQ(second, nullptr);
    // A count below -1 counts as 0: the rows then hold three inputs each.
    WriteText(
        TwoRowsWith("[Inputs = 2]\n[ExpectedOutputs = 1]", "[Inputs = 3]\n[ExpectedOutputs = -4]"));
    ASSERT_EQ(tools.ReadDataSetFile(path.c_str(), first, second), FileTools::SUCCESS);
    EXPECT_EQ(first->MbrNdxOutputs, 0);
    EXPECT_EQ(In(*first, 0, 2), -2.0);
    EXPECT_EQ(In(*first, 1, 2), 5.0);
}

TEST_F(FilerTest, MalformedFilesAreRejected) {
    const std::string counts = "[Inputs = 2]\n[ExpectedOutputs = 1]";
    const std::string lastRow = "3,4e-1 5\n[~Data]\n[~DataSet]\n";
    const struct {
        std::string text;
        const char* message;
    } cases[] = {
        {TwoRowsWith("[Inputs = 2]", "[Inputs = Labels]"), "No labels in inputs"},
        {TwoRowsWith("[Rows = 2]", "[Rows = labels]"), "No labels in inputs"},
        {TwoRowsWith("[Rows = 2]", "[Rows = -1]"), "No labels in inputs"},
        {TwoRowsWith("[Inputs = 2]", "[Error = LABELS]"), "No labels in inputs"},
        {TwoRowsWith("[Rows = 2]", "[Rows = two]"), "integer-expected"},
        {TwoRowsWith("[Rows = 2]", "[Rows = 4294967298]"), "integer-out-of-range"},
        // Out of order, repeated, unknown or open header statements end the header early.
        {TwoRowsWith(counts, "[ExpectedOutputs = 1]\n[Inputs = 2]"), "[DATA] expected"},
        {TwoRowsWith(counts, "[Inputs = 2][Inputs = 2][ExpectedOutputs = 1]"), "[DATA] expected"},
        {TwoRowsWith("[Inputs = 2]", "[Columns = 2]"), "[DATA] expected"},
        {TwoRowsWith("[Inputs = 2]", "[Inputs = 2 x]"), "[DATA] expected"},
        {TwoRowsWith("[Rows = 2]\n", ""), "[Rows = <integer>] missing in header"},
        {TwoRowsWith("[DataSet]", "[DataSets]"), "[DATASET] expected"},
        {TwoRowsWith("[FormatVersion = 1.0]", "[FormatVersion = 2]"), "Illegal Format Version"},
        // Rows and the end of the file.
        {TwoRowsWith("3,4e-1", "[5 4e-1"), "Token (number) expected"},
        {TwoRowsWith("3,4e-1", "x 4e-1"), "number-expected"},
        {TwoRowsWith("3,4e-1", "1e999 4e-1"), "number-out-of-range"},
        {TwoRowsWith(lastRow, "3 0.4"), "Unexpected end of file"},
        {TwoRowsWith("[~Data]\n", "6\n[~Data]"), "End Tag expected"},
        {TwoRowsWith("[~Data]\n", ""), "Unexpected End Tag"},
        {std::string(kTwoRows) + "trailing", "End Tag expected"},
        {std::string(kTwoRows) + "[~DataSet]", "End tag outside any block"},
        {TwoRowsWith("5\n", "5 ] \n"), "Unexpected ']' where a statement should begin"}};
    for (const auto& c : cases)
        EXPECT_EQ(ReadError(c.text), c.message) << c.text;

    // The data set built before the fault stays with the caller.
    ReadError(TwoRowsWith("3,4e-1", "x"));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->MbrNdxDataRows, 1);
}

TEST_F(FilerTest, ReadDataSetHeaderReportsTheStatementThatEndedIt) {
    std::istringstream in("[Error = 3][rows=4][Inputs = 1][Data]");
    std::int32_t i, e, g, err, rows;
    Statement last;
    EXPECT_EQ(tools.ReadDataSetHeader(in, i, e, g, err, rows, last), FileTools::FORMAT_ERROR);
    EXPECT_EQ(last.keyword, "Inputs");
    EXPECT_EQ(err, 3);
    EXPECT_EQ(rows, 4);
    in.str("[GeneratedOutputs = labels][Data]");
    EXPECT_EQ(tools.ReadDataSetHeader(in, i, e, g, err, rows, last), FileTools::SUCCESS);
    EXPECT_EQ(last.kind, StatementKind::Tag);
    EXPECT_EQ(g, -1);
    EXPECT_EQ(rows, -1);
}

TEST_F(FilerTest, RowCountsBeyondTheFileAreRefusedBeforeAllocating) {
    const char* message = "[Rows] in header exceeds the values in the file";
    EXPECT_EQ(ReadError(TwoRowsWith("[Rows = 2]", "[Rows = 2000000000]")), message);
    EXPECT_EQ(ReadError(TwoRowsWith("[Inputs = 2]", "[Inputs = 2000000000]")), message);
    EXPECT_EQ(
        ReadError("[DataSet][Rows = 99][ExpectedOutputs = Labels][Data] [a] [~Data][~DataSet]"),
        message);
    // Rows of nothing read nothing and build no data set.
    WriteText("[DataSet][Rows = 2000000000][Data][~Data][~DataSet]");
    EXPECT_EQ(tools.ReadDataSetFile(path.c_str(), first, second), FileTools::SUCCESS);
    EXPECT_EQ(first, nullptr);
    EXPECT_EQ(second, nullptr);
}

// Regression: zero rows with a column count near 2^31 allocated a row buffer of that many values.
TEST_F(FilerTest, ZeroRowsWithHugeColumnCountsAllocateNothing) {
    WriteText(
        "[DataSet][Rows = 0][Inputs = 2147483647][ExpectedOutputs = 2147483647]"
        "[GeneratedOutputs = 2147483647][Error = 2147483647][Data][~Data][~DataSet]");
    ASSERT_EQ(tools.ReadDataSetFile(path.c_str(), first, second), FileTools::SUCCESS);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->MbrNdxDataRows, 0);
    EXPECT_EQ(first->MbrNdxInputs, 2147483647);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->MbrNdxDataRows, 0);
    long offset = 0;
    EXPECT_EQ(tools.ReadDataSetChunk(path.c_str(), offset, 0, first, second), FileTools::SUCCESS);
    EXPECT_EQ(first->MbrNdxDataRows, 0);
}

// Regression: a pipe skipped the row count check, and a huge count ended the program on a
// fatal internal check when the data set could not be allocated.
TEST_F(FilerTest, PipesAreCheckedLikeFiles) {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    auto readThroughPipe = [&](const std::string& text) {
        std::thread writer([&] { std::ofstream(path, std::ios::binary) << text; });
        std::string message = "no error";
        try {
            tools.ReadDataSetFile(path.c_str(), first, second);
        } catch (const FileTools::Error& e) {
            message = e.message;
        }
        writer.join();
        return message;
    };
    EXPECT_EQ(readThroughPipe(TwoRowsWith("[Rows = 2]", "[Rows = 2000000000]")),
              "[Rows] in header exceeds the values in the file");
    ASSERT_EQ(readThroughPipe(kTwoRows), "no error");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->MbrNdxDataRows, 2);
    EXPECT_EQ(Out(*first, 1, 0), 5.0);
}

// Values are parsed in place from the file's buffer; a pipe takes the tokenizer's route. Both
// must give the same bits, also for words that straddle the end of a buffer block (1 MB), next
// to comments, commas and brackets, and the same message for a bad word.
TEST_F(FilerTest, InPlaceValuesEqualTheTokenizersOnesAcrossBufferBlocks) {
    const char* const forms[] = {"0.1",     "-2",        "+3.25e-3", "1e-05",
                                 "0x1.8p3", "inf",       "-nan",     "123456789012345.678",
                                 "7,",      "/* c */ 4", "5 /*x*/"};
    const int rows = 16000, inputs = 19;  // ten pairs of values per row
    std::string text = "[DataSet]\n[Rows = " + std::to_string(rows) +
                       "]\n[Inputs = " + std::to_string(inputs) +
                       "]\n[ExpectedOutputs = 1]\n[Data]\n";
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < 10; c++)
            text += std::string(forms[(r * 7 + c * 3) % 11]) + (c % 4 == 0 ? "\t" : " ") +
                    std::to_string(r % 97) + "." + std::to_string(c) + "\n";
    }
    text += "[~Data]\n[~DataSet]\n";
    ASSERT_GT(text.size(), 3u << 19);  // more than one block
    ASSERT_EQ(ReadError(text), "no error");
    std::unique_ptr<Data> inPlace = std::move(first);
    std::remove(path.c_str());
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    std::thread writer([&] { std::ofstream(path, std::ios::binary) << text; });
    tools.ReadDataSetFile(path.c_str(), first, second);
    writer.join();
    ASSERT_NE(first, nullptr);
    for (int r = 0; r < rows; r++) {
        for (int c = 0; c < inputs; c++) {
            const double a = In(*inPlace, r, c), b = In(*first, r, c);
            ASSERT_EQ(std::memcmp(&a, &b, sizeof a), 0) << r << " " << c;
        }
    }
    std::remove(path.c_str());
    EXPECT_EQ(ReadError(text.replace(text.rfind("5 /*x*/"), 1, "q5")), "number-expected");
}

// The read buffer is sized to the file below 1 MB: files whose size falls on either side of the
// smallest buffer and of the largest one read the same values, and a bad last value is found.
TEST_F(FilerTest, FileSizesAroundTheReadBufferReadAlike) {
    const std::string head = "[DataSet]\n[Rows = 1]\n[Inputs = 1]\n[ExpectedOutputs = 1]\n[Data]\n";
    const std::string tail = " 0.25\n[~Data]\n[~DataSet]";
    for (const std::size_t size :
         {std::size_t{4095}, std::size_t{4096}, std::size_t{4097}, (std::size_t{1} << 20) - 1,
          std::size_t{1} << 20, (std::size_t{1} << 20) + 1}) {
        // A comment pads the file to size; the last value ends where the buffer may end.
        const std::size_t fill = size - head.size() - tail.size() - std::string("/**/7").size();
        const std::string text = head + "/*" + std::string(fill, '.') + "*/7" + tail;
        ASSERT_EQ(text.size(), size);
        ASSERT_EQ(ReadError(text), "no error") << size;
        EXPECT_EQ(In(*first, 0, 0), 7.0) << size;
        EXPECT_EQ(Out(*first, 0, 0), 0.25) << size;
        std::string bad = text;
        EXPECT_EQ(ReadError(bad.replace(bad.rfind("0.25"), 1, "q")), "number-expected") << size;
    }
}

TEST_F(FilerTest, LabelLists) {
    auto read = [&](const std::string& text) {
        std::istringstream in(text);
        return tools.ReadLabelList(in);
    };
    EXPECT_EQ(read("[]").numLabels(), 0);
    EXPECT_EQ(read(" [ ] ").numLabels(), 0);
    const TLabelList one = read("[a]");
    ASSERT_EQ(one.numLabels(), 1);
    EXPECT_EQ(one.labels[0].name, "a");
    EXPECT_EQ(one.labels[0].value, 1.0);
    const TLabelList three = read("/* before */ [a b=0.5, c]");
    ASSERT_EQ(three.numLabels(), 3);
    EXPECT_EQ(three.labels[1].name, "b");
    EXPECT_EQ(three.labels[1].value, 0.5);
    EXPECT_EQ(three.labels[2].name, "c");
    EXPECT_EQ(three.labels[2].value, 1.0);
    const TLabelList summed = read("[a a = 0.5]");
    ASSERT_EQ(summed.numLabels(), 1);
    EXPECT_EQ(summed.labels[0].value, 1.5);  // 1.0 + 0.5

    auto error = [&](const std::string& text) { return MessageOf([&] { read(text); }); };
    EXPECT_EQ(error("a]"), "Label list expected: '[' missing");
    EXPECT_EQ(error("/ [a]"), "Label list expected: '[' missing");
    EXPECT_EQ(error(" "), "Unexpected end of file in label list");
    EXPECT_EQ(error("[a b"), "Unexpected end of file in label list");
    EXPECT_EQ(error("["), "Unexpected end of file in label list");
    EXPECT_EQ(error("[a = ]"), "Unexpected special character");
    EXPECT_EQ(error("[a = x]"), "number-expected");
    EXPECT_EQ(error("/* open"), "Unexpected end of file during comment");
}

TEST_F(FilerTest, WritesATwoRowDataSet) {
    Data data(2, 2, 1, false);
    const double r0[] = {0, 1}, o0[] = {1};
    const double r1[] = {0.5, 1e-5}, o1[] = {123456789.123456789};
    data.AppendRow(r0, o0, nullptr);
    data.AppendRow(r1, o1, nullptr);
    ASSERT_EQ(tools.WriteDataSetFile(path.c_str(), &data, nullptr), FileTools::SUCCESS);
    EXPECT_EQ(ReadText(),
              "[FormatVersion = 1.0]\n\n"
              "[DataSet]\n"
              "[Rows = 2]\n"
              "[Inputs = 2]\n"
              "[ExpectedOutputs = 1]\n"
              "[GeneratedOutputs = 0]\n"
              "[Error = 0]\n"
              "\n"
              "[Data]\n"
              "0 1   1 \n"
              "0.5 1e-05   123456789.123457 \n"  // 15 significant digits
              "[~Data]\n"
              "\n"
              "[~DataSet]\n");

    ASSERT_EQ(tools.LoadDataSet(path.c_str(), first), FileTools::SUCCESS);
    EXPECT_EQ(In(*first, 1, 0), 0.5);
    EXPECT_EQ(In(*first, 1, 1), 1e-5);
    EXPECT_EQ(Out(*first, 1, 0), 123456789.123457);
    // Writing what was read gives the same text again.
    const std::string text = ReadText();
    ASSERT_EQ(tools.WriteDataSetFile(path.c_str(), first.get(), nullptr), FileTools::SUCCESS);
    EXPECT_EQ(ReadText(), text);
}

TEST_F(FilerTest, WritesLabelledRows) {
    Data data(1, 1, 0, true);
    TLabelList labels("a", 1.0);
    labels.AddLabel("beta", 0.25);
    const double in[] = {0.5};
    data.AppendRow(in, nullptr, &labels);
    ASSERT_EQ(tools.WriteDataSetFile(path.c_str(), &data, nullptr), FileTools::SUCCESS);
    const std::string text = ReadText();
    EXPECT_NE(text.find("[ExpectedOutputs = Labels]\n"), std::string::npos);
    EXPECT_NE(text.find("\n0.5   [a beta=0.250000000 ] \n"), std::string::npos);

    std::ostringstream out;
    tools.WriteLabelList(out, nullptr);
    tools.WriteLabelList(out, &labels);
    EXPECT_EQ(out.str(), "[] [a beta=0.250000000 ] ");
}

// Regression: with two data sets and labels the label lists were written between the values,
// where the reader does not look, so the written data could not be read back.
TEST_F(FilerTest, TwoDataSetsWithLabelsReadBack) {
    Data inputs(2, 1, 0, true), results(2, 0, 1, true);
    const double x0[] = {1}, x1[] = {-1}, e0[] = {0.25}, e1[] = {0.75};
    const TLabelList cat("cat", 1.0), dog("dog", 1.0), two("x", 2.0), none;
    inputs.AppendRow(x0, nullptr, &cat);
    inputs.AppendRow(x1, nullptr, &dog);
    results.AppendRow(nullptr, e0, &two);
    results.AppendRow(nullptr, e1, &none);
    ASSERT_EQ(tools.WriteDataSetFile(path.c_str(), &inputs, &results), FileTools::SUCCESS);
    // inputs, two spaces, [no outputs], two spaces, [no generated outputs], two spaces, errors,
    // then both label lists.
    EXPECT_NE(ReadText().find("\n1       0.25 [cat ] [x=2.000000000 ] \n"), std::string::npos);
    EXPECT_NE(ReadText().find("[ExpectedOutputs = Labels]\n[GeneratedOutputs = Labels]\n"),
              std::string::npos);

    ASSERT_EQ(tools.ReadDataSetFile(path.c_str(), first, second), FileTools::SUCCESS);
    EXPECT_EQ(In(*first, 1, 0), -1.0);
    EXPECT_EQ(Labels(*first, 1).labels.at(0).name, "dog");
    EXPECT_EQ(Out(*second, 0, 0), 0.25);
    EXPECT_EQ(Out(*second, 1, 0), 0.75);
    EXPECT_EQ(Labels(*second, 0).labels.at(0).value, 2.0);
    EXPECT_EQ(Labels(*second, 1).numLabels(), 0);
}

TEST_F(FilerTest, WrappedDataSetIsWrittenOldestFirst) {
    Data ring(2, 1, 0, false);
    for (double v : {1.0, 2.0, 3.0})
        ring.AppendRow(&v, nullptr, nullptr);  // 3 overwrites 1
    ASSERT_EQ(tools.WriteDataSetRows(path.c_str(), &ring, nullptr), FileTools::SUCCESS);
    EXPECT_EQ(ReadText(), "2   \n3   \n");
}

TEST_F(FilerTest, DataMismatchWritesNothing) {
    Data three(3, 1, 1, false), four(4, 1, 1, false);
    const double v[] = {1};
    for (int i = 0; i < 3; ++i)
        three.AppendRow(v, v, nullptr);
    for (int i = 0; i < 4; ++i)
        four.AppendRow(v, v, nullptr);
    EXPECT_EQ(tools.WriteDataSetFile(path.c_str(), &three, &four), FileTools::DATA_MISMATCH);
    EXPECT_EQ(tools.WriteDataSetFile(path.c_str(), nullptr, nullptr), FileTools::DATA_MISMATCH);
    EXPECT_EQ(tools.WriteDataSetRows(path.c_str(), &three, &four), FileTools::DATA_MISMATCH);
    EXPECT_EQ(tools.WriteDataSetHeader(path.c_str(), 1, 1, 0, 0, -1), FileTools::DATA_MISMATCH);
    EXPECT_FALSE(std::ifstream(path).is_open());
}

TEST_F(FilerTest, WriteFailuresAreReported) {
    Data data(1, 1, 0, false);
    const double v[] = {1};
    data.AppendRow(v, nullptr, nullptr);
    const std::string unwritable = ::testing::TempDir() + "no/such/dir/out.dat";
    for (const std::string& file : {unwritable, std::string("/dev/full")}) {
        if (file == "/dev/full" && !std::ifstream(file).is_open())
            continue;
        EXPECT_EQ(tools.WriteDataSetFile(file.c_str(), &data, nullptr),
                  FileTools::FILE_WRITE_FAILED)
            << file;
        EXPECT_EQ(tools.WriteDataSetHeader(file.c_str(), 1, 0, 0, 0, 1),
                  FileTools::FILE_WRITE_FAILED);
        EXPECT_EQ(tools.WriteDataSetRows(file.c_str(), &data, nullptr),
                  FileTools::FILE_WRITE_FAILED);
        EXPECT_EQ(tools.WriteDataSetTrailer(file.c_str()), FileTools::FILE_WRITE_FAILED);
    }
}

TEST_F(FilerTest, ChunksResumeAtTheReturnedOffset) {
    WriteText(
        "[DataSet][Rows = 5][Inputs = 1][ExpectedOutputs = labels][Error = 1][Data]\n"
        "10 0.1 [a]\n11 0.2 [b]\n12 0.3 []\n13 0.4 [c=3]\n14 0.5 [d]\n[~Data][~DataSet]\n");
    long offset = 0;
    ASSERT_EQ(tools.ReadDataSetChunk(path.c_str(), offset, 2, first, second), FileTools::SUCCESS);
    EXPECT_EQ(first->MbrNdxRows, 2);
    EXPECT_EQ(In(*first, 1, 0), 11.0);
    EXPECT_EQ(Labels(*first, 1).labels.at(0).name, "b");
    EXPECT_EQ(Out(*second, 1, 0), 0.2);
    EXPECT_EQ(offset, 22);  // "\n10 0.1 [a]\n11 0.2 [b]": the list's "]" ends the row

    ASSERT_EQ(tools.ReadDataSetChunk(path.c_str(), offset, 2, first, second), FileTools::SUCCESS);
    EXPECT_EQ(In(*first, 0, 0), 12.0);
    EXPECT_EQ(Labels(*first, 1).labels.at(0).value, 3.0);
    EXPECT_EQ(Out(*second, 1, 0), 0.4);

    ASSERT_EQ(tools.LoadDataSetChunk(path.c_str(), offset, 1, first), FileTools::SUCCESS);
    EXPECT_EQ(first->MbrNdxRows, 1);
    EXPECT_EQ(In(*first, 0, 0), 14.0);
    // There is no sixth row: the next value read is the end tag.
    EXPECT_EQ(MessageOf([&] { tools.LoadDataSetChunk(path.c_str(), offset, 1, first); }),
              "Token (number) expected");
    offset = 0;
    EXPECT_THROW(tools.LoadDataSetChunk(path.c_str(), offset, 100000, first), FileTools::Error);
    EXPECT_EQ(tools.LoadDataSetChunk("/nonexistent/x", offset, 1, first),
              FileTools::FILE_OPEN_FAILED);
}

TEST_F(FilerTest, SelectedRowsAreKeptInFileOrderAndNoOthers) {
    // Five rows (labels on both data sets) and a fault after the third: a selection that ends
    // before the fault reads without it, one that reaches it or the end tag fails.
    const std::string fault = "13 0.4 [c=3]";
    const std::string text =
        "[DataSet][Rows = 5][Inputs = 1][ExpectedOutputs = labels][GeneratedOutputs = labels]"
        "[Error = 1][Data]\n"
        "10 0.1 [a] [x]\n11 0.2 [b] []\n12 0.3 [] [y]\n" +
        fault + " [z]\n14 0.5 [d] [w]\n[~Data][~DataSet]\n";
    struct Case {
        std::vector<int> keep;
        bool readsTheFault;
    };
    const Case cases[] = {
        {{0, 1, 2, 3, 4}, false}, {{}, false},     {{4}, false},
        {{1, 3}, false},          {{0, 2}, false}, {{2}, false},
    };
    for (const bool broken : {false, true}) {
        WriteText(broken ? std::string(text).replace(text.find(fault), fault.size(), "13 x [c=3]")
                         : text);
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::PrintToString(c.keep) + (broken ? " broken" : ""));
            std::int32_t rows = -1;
            const FileTools::TRowSelector select = [&](std::int32_t n) {
                rows = n;
                return c.keep;
            };
            const bool fails = broken && !c.keep.empty() && c.keep.back() >= 3;
            if (fails) {
                EXPECT_THROW(tools.ReadDataSetRows(path.c_str(), select, first, second),
                             FileTools::Error);
                continue;
            }
            ASSERT_EQ(tools.ReadDataSetRows(path.c_str(), select, first, second),
                      FileTools::SUCCESS);
            EXPECT_EQ(rows, 5);
            ASSERT_NE(first, nullptr);
            ASSERT_NE(second, nullptr);
            ASSERT_EQ(first->MbrNdxRows, static_cast<int>(c.keep.size()));
            ASSERT_EQ(first->MbrNdxDataRows, static_cast<int>(c.keep.size()));
            ASSERT_EQ(second->MbrNdxDataRows, static_cast<int>(c.keep.size()));
            for (std::size_t i = 0; i < c.keep.size(); ++i) {
                const int row = static_cast<int>(i);
                EXPECT_EQ(In(*first, row, 0), 10.0 + c.keep[i]);
                const double errors[] = {0.1, 0.2, 0.3, 0.4, 0.5};
                EXPECT_EQ(Out(*second, row, 0), errors[c.keep[i]]);
                const char* names[] = {"a", "b", "", "c", "d"};
                const TLabelList& labels = Labels(*first, row);
                EXPECT_EQ(labels.labels.empty() ? "" : labels.labels.at(0).name, names[c.keep[i]]);
            }
        }
    }
    // No selection: every row, and the fault is found as ReadDataSetFile finds it.
    std::int32_t rows = -1;
    EXPECT_THROW(tools.ReadDataSetRows(path.c_str(), {}, first, second, &rows), FileTools::Error);
    EXPECT_EQ(rows, 5);
}

TEST_F(FilerTest, ProbeAnswers) {
    EXPECT_EQ(Probe(kTwoRows),
              "(data :rows 2 :inputs 2 :actual-outputs 1 :calc-outputs 0 :errors 0)");
    EXPECT_EQ(Probe("[DataSet][ExpectedOutputs = Labels][GeneratedOutputs=3][Rows=4][Data]"),
              "(data :rows 4 :inputs 0 :actual-outputs -1 :calc-outputs 3 :errors 0)");
    EXPECT_EQ(Probe("[FormatVersion = 1.0][NeuralNetwork][NetworkType = MLP]"), "network");
    EXPECT_EQ(Probe("[network]"), "network");
    EXPECT_EQ(Probe("[Weights]"), "(error :type unknown-header :header Weights)");
    EXPECT_EQ(Probe("[DataSet][Inputs = 1][Inputs = 1][Rows = 1][Data]"),
              "(error :type bad-header)");
    EXPECT_EQ(Probe("[DataSet][Inputs = 1][Data]"), "(error :type bad-header)");
    EXPECT_EQ(tools.ProbeFileHeader((path + ".missing").c_str())->ToText(),
              "(error :type file-read-error)");
    WriteText("DataSet");
    EXPECT_EQ(MessageOf([&] { tools.ProbeFileHeader(path.c_str()); }), "start of block expected");
}

// The shape checks run in order: the first data set's, the row counts, the second's.
TEST(FilerDeathTest, WritersCheckTheShapeInOrder) {
    FileTools tools;
    const std::string path =
        ::testing::TempDir() + "filer_shape_death_" + std::to_string(getpid()) + ".dat";
    const double v[] = {1};
    Data labelledWithOutputs(1, 1, 1, true), threeRows(3, 1, 0, false);
    Data labelledWithInputs(1, 1, 1, true);
    labelledWithOutputs.AppendRow(v, v, nullptr);
    labelledWithInputs.AppendRow(v, v, nullptr);
    for (int i = 0; i < 3; ++i)
        threeRows.AppendRow(v, nullptr, nullptr);
    EXPECT_EQ(tools.WriteDataSetFile(path.c_str(), &threeRows, &labelledWithInputs),
              FileTools::DATA_MISMATCH);
    EXPECT_DEATH(tools.WriteDataSetRows(path.c_str(), &labelledWithOutputs, &threeRows),
                 "Assertion failed: LngExpectedOutputs == 0");
    EXPECT_DEATH(tools.WriteDataSetRows(path.c_str(), nullptr, &labelledWithInputs),
                 "Assertion failed: LngCalculatedOutputs == 0");
    std::remove(path.c_str());
}

}  // namespace
}  // namespace synapsor
