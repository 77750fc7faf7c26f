#include "ErrorMessage.h"
#include "FileHandler/ParseTools.h"

#include <gtest/gtest.h>

#include <cmath>

#include <functional>
#include <locale>
#include <sstream>
#include <string>
#include <vector>

namespace synapsor {
namespace {

using K = StatementKind;

std::string Repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

const std::string kLongest(FileTools::kScratchSize, 'w');

class ParseToolsTest : public ::testing::Test {
  protected:
    void Open(const std::string& text) {
        in.str(text);
        in.clear();
    }
    Statement Read(std::string_view blockdef = {}, bool continuation = false) {
        return tools.ReadStatement(blockdef, in, continuation);
    }
    Statement ReadFrom(const std::string& text, std::string_view blockdef = {}) {
        Open(text);
        return Read(blockdef);
    }
    void ExpectNext(K kind, const std::string& keyword, const std::string& value, bool open,
                    std::string_view blockdef = {}, bool continuation = false) {
        const Statement st = Read(blockdef, continuation);
        EXPECT_EQ(st.kind, kind) << keyword;
        EXPECT_EQ(st.keyword, keyword);
        EXPECT_EQ(st.value, value) << keyword;
        EXPECT_EQ(st.open, open) << keyword;
    }
    std::vector<std::string> Tokens(const std::string& text) {
        Open(text);
        std::vector<std::string> all;
        for (std::string t = tools.NextToken(in); !t.empty(); t = tools.NextToken(in))
            all.push_back(t);
        return all;
    }
    // The message of the error raised while reading statements until the input ends.
    std::string ErrorOf(const std::string& text, std::string_view blockdef = {}) {
        Open(text);
        try {
            while (Read(blockdef).kind != K::EndOfBlock) {
            }
        } catch (const FileTools::Error& e) {
            EXPECT_EQ(e.stream, &in);
            EXPECT_EQ(e.code, 0);
            return e.message;
        }
        return "no error";
    }

    FileTools tools;
    std::istringstream in;
};

TEST_F(ParseToolsTest, TokenizerSplitsOnSeparatorsAndSpecials) {
    using V = std::vector<std::string>;
    const struct {
        std::string text;
        V tokens;
    } cases[] = {{"1,2,3", {"1", "2", "3"}},
                 {"[~Layer]", {"[~", "Layer", "]"}},
                 {"[ ~Layer]", {"[", "~Layer", "]"}},
                 {"a=b<c>d/e*f", {"a", "=", "b", "<", "c", ">", "d", "/", "e", "*", "f"}},
                 {"-0.25 1e-5\tT\nF", {"-0.25", "1e-5", "T", "F"}},
                 // Bytes 127 to 255 and 0 separate like spaces: a word never contains them.
                 {"ab\x7f"
                  "cd\x80"
                  "ef\xff"
                  "gh\xc3\xa9ij",
                  {"ab", "cd", "ef", "gh", "ij"}},
                 {std::string("x\0y", 3), {"x", "y"}},
                 {" \n,, ", {}},
                 {"a/*1*//*2*/b", {"a", "b"}}};
    for (const auto& c : cases)
        EXPECT_EQ(Tokens(c.text), c.tokens) << c.text;
}

TEST_F(ParseToolsTest, SingleStatements) {
    const std::string nested = Repeated("/*", 200000) + Repeated(" */", 200000);
    const struct {
        std::string text;
        K kind;
        std::string keyword, value;
        bool open;
    } cases[] = {{"/* a /* b */ c */ [X]", K::Tag, "X", "", false},  // comments nest
                 {"/**/x", K::Token, "x", "", false},
                 {nested + " w", K::Token, "w", "", false},  // deep nesting needs no stack
                 // A comment may stand between "[" and the keyword, and after "=".
                 {"[ /*k*/ A = /*v*/ B]", K::Assignment, "A", "B", false},
                 {"[A=B]", K::Assignment, "A", "B", false},
                 {"[ A = B ]", K::Assignment, "A", "B", false},
                 {"[a,=,b]", K::Assignment, "a", "b", false},
                 {"[A\n=\tB\n]", K::Assignment, "A", "B", false},
                 {kLongest + "]", K::Token, kLongest, "", false},
                 {"[FormatVersion = 1.0 x]", K::Assignment, "FormatVersion", "1.0", true},
                 {Repeated("[FormatVersion=1]", 100000) + "[Z]", K::Tag, "Z", "", false},
                 // A bracket cut off after its keyword or value is returned open.
                 {"[Name", K::Tag, "Name", "", true},
                 {" /* c */ ", K::EndOfBlock, "", "", false}};
    for (const auto& c : cases) {
        Open(c.text);
        ExpectNext(c.kind, c.keyword, c.value, c.open);
    }
}

TEST_F(ParseToolsTest, StatementSequences) {
    Open("[Neuron = 3 ActivationFunction = sigmoid-gain Gain = 0.5] [ALL Gain = 2] [Matrix a b]");
    ExpectNext(K::Assignment, "Neuron", "3", true, "Neurons");
    ExpectNext(K::Assignment, "ActivationFunction", "sigmoid-gain", true, "Neurons", true);
    ExpectNext(K::Assignment, "Gain", "0.5", false, "Neurons", true);
    ExpectNext(K::Tag, "ALL", "", true, "Layer");
    ExpectNext(K::Assignment, "Gain", "2", false, "Layer", true);
    ExpectNext(K::Tag, "Matrix", "", true);
    ExpectNext(K::Tag, "a", "", true, {}, true);
    ExpectNext(K::Tag, "b", "", false, {}, true);
    ExpectNext(K::EndOfBlock, "", "", false);

    Open("[Layer] 0.5 x [ ~Layer] [~LAYER]");
    ExpectNext(K::Tag, "Layer", "", false);
    ExpectNext(K::Token, "0.5", "", false, "Layer");
    ExpectNext(K::Token, "x", "", false, "Layer");
    ExpectNext(K::Tag, "~Layer", "", false, "Layer");
    ExpectNext(K::EndOfBlock, "", "", false, "layer");
    ExpectNext(K::EndOfBlock, "", "", false);

    // Format-version lines are skipped wherever they stand, but are ordinary items inside an
    // open bracket.
    Open(
        "[FormatVersion = 1.0] [A] [formatversion = 0.5] 7 [FORMATVERSION=1]"
        "[X FormatVersion = 9]");
    ExpectNext(K::Tag, "A", "", false);
    ExpectNext(K::Token, "7", "", false, "A");
    ExpectNext(K::Tag, "X", "", true);
    ExpectNext(K::Assignment, "FormatVersion", "9", false, {}, true);

    // The read after a bracket cut off by the end of input meets that end.
    Open("[Name = v  ");
    ExpectNext(K::Assignment, "Name", "v", true);
    ExpectNext(K::EndOfBlock, "", "", false);

    // A statement read into a reused one is refilled completely.
    Open("[A = B] 5");
    Statement st;
    tools.ReadStatement({}, in, false, st);
    tools.ReadStatement({}, in, false, st);
    EXPECT_EQ(st.kind, K::Token);
    EXPECT_EQ(st.keyword, "5");
    EXPECT_EQ(st.value, "");
    tools.ReadStatement({}, in, false, st);
    EXPECT_EQ(st.kind, K::EndOfBlock);
    EXPECT_EQ(st.keyword, "");
}

TEST_F(ParseToolsTest, MalformedText) {
    const struct {
        std::string text;
        std::string blockdef;
        const char* message;
    } cases[] = {
        {"[X] /* open /* inner */ still open", "", "Unexpected end of file during comment"},
        {"/*", "", "Unexpected end of file during comment"},
        {Repeated("/*", 200000), "", "Unexpected end of file during comment"},
        {kLongest + "w", "", "Word too long"},
        {"[A = " + kLongest + "ww]", "", "Word too long"},
        {"[FormatVersion = 1.01]", "", "Illegal Format Version"},
        {"[FormatVersion = x]", "", "number-expected"},
        {"1 2", "Data", "Unexpected end of file"},
        {"[", "", "Unexpected end of file"},
        {"[Name =", "", "Unexpected end of file"},
        {"[Name = ]", "", "Unexpected special character"},
        {"[= x]", "", "Unexpected special character"},
        {"[[x]", "", "Unexpected special character"},
        {"[A = [~B]", "", "Unexpected special character"},
        {"[X ] ]", "", "Unexpected ']' where a statement should begin"},
        {"[~Data]", "DataSet", "Unexpected End Tag"},
        {"[~DataSet x", "DataSet", "Expected ']'"},
        {"[~Data", "Data", "Expected ']'"},
        {"[~DataSet]", "", "End tag outside any block"}};
    for (const auto& c : cases)
        EXPECT_EQ(ErrorOf(c.text, c.blockdef), c.message) << c.text.substr(0, 40);

    // A caller that continues a closed bracket meets the "]" as its keyword.
    Open("[A] ]");
    Read();
    EXPECT_EQ(MessageOf([&] { Read({}, true); }), "Unexpected special character");
}

TEST_F(ParseToolsTest, TypedReadersAcceptMatchingStatementsWithoutRegardToCase) {
    EXPECT_EQ(tools.ExpectBlockStart(ReadFrom("[NeuralNetwork]"), in, "NEURALNETWORK"),
              "NeuralNetwork");
    EXPECT_EQ(tools.ExpectBlockStart(ReadFrom("[Anything more]"), in), "Anything");
    EXPECT_EQ(tools.ExpectStringStatement(ReadFrom("[networktype = MLP]"), in, "NETWORKTYPE"),
              "MLP");
    EXPECT_EQ(tools.ExpectIntegerStatement(ReadFrom("[Rows = -12]"), in, "ROWS"), -12);
    EXPECT_DOUBLE_EQ(tools.ExpectNumberStatement(ReadFrom("[Gain = 2.5e1]"), in, "GAIN"), 25.0);
    EXPECT_DOUBLE_EQ(tools.ExpectNumberToken(ReadFrom("-0.125"), in), -0.125);
    tools.ExpectEndTag(ReadFrom("[~Block]", "block"), in);
}

TEST_F(ParseToolsTest, TypedReaderRejections) {
    using Check = std::function<void(const Statement&)>;
    const Check blockStart = [&](const Statement& st) { tools.ExpectBlockStart(st, in, "DATA"); };
    const Check anyBlock = [&](const Statement& st) { tools.ExpectBlockStart(st, in); };
    const Check string = [&](const Statement& st) { tools.ExpectStringStatement(st, in, "Type"); };
    const Check integer = [&](const Statement& st) {
        tools.ExpectIntegerStatement(st, in, "Rows");
    };
    const Check number = [&](const Statement& st) { tools.ExpectNumberStatement(st, in, "Gain"); };
    const Check token = [&](const Statement& st) { tools.ExpectNumberToken(st, in); };
    const Check endTag = [&](const Statement& st) { tools.ExpectEndTag(st, in); };
    const struct {
        const char* text;
        const Check& check;
        const char* message;
    } cases[] = {{"[Dat]", blockStart, "[DATA] expected"},
                 {"[Data = 1]", blockStart, "[DATA] expected"},
                 {"Data", anyBlock, "start of block expected"},
                 {"[Kind = MLP]", string, "[Type = <string>] expectedKind"},
                 {"word", string, "[Type = <string>] expectedword"},
                 {"[~Block]", string, "[Type = <string>] expected"},
                 {"[Rows]", integer, "[Rows = <integer>] expected"},
                 {"[Rows = x]", integer, "integer-expected"},
                 {"[Gain 1]", number, "[Gain = <number>] expected"},
                 {"[Gain = y]", number, "number-expected"},
                 {"[X]", token, "Token (number) expected"},
                 {"abc", token, "number-expected"},
                 {"1", endTag, "End Tag expected"}};
    for (const auto& c : cases) {
        const Statement st = ReadFrom(c.text, "Block");
        try {
            c.check(st);
            ADD_FAILURE() << c.text;
        } catch (const FileTools::Error& e) {
            EXPECT_EQ(e.message, c.message) << c.text;
            EXPECT_EQ(e.stream, &in);
        }
    }
}

TEST_F(ParseToolsTest, ParseIntegerReadsALeadingDecimal) {
    EXPECT_EQ(tools.ParseInteger(in, "-7"), -7);
    EXPECT_EQ(tools.ParseInteger(in, " +42"), 42);
    EXPECT_EQ(tools.ParseInteger(in, "12abc"), 12);
    EXPECT_EQ(tools.ParseInteger(in, "1.5"), 1);
    EXPECT_EQ(tools.ParseInteger(in, "2147483647"), 2147483647);
    EXPECT_EQ(tools.ParseInteger(in, "-2147483648"), -2147483647 - 1);
    EXPECT_EQ(tools.ParseInteger(in, "000000000000000000000000000000012"), 12);
    for (const char* bad : {"", "abc", "-", "+-1", " x1", ".5"})
        EXPECT_EQ(MessageOf([&] { tools.ParseInteger(in, bad); }), "integer-expected") << bad;
    for (const char* big : {"2147483648", "-2147483649", "99999999999999999999999"})
        EXPECT_EQ(MessageOf([&] { tools.ParseInteger(in, big); }), "integer-out-of-range") << big;
}

TEST_F(ParseToolsTest, ParseNumberReadsALeadingNumber) {
    EXPECT_EQ(tools.ParseNumber(in, "1e-3"), 0.001);
    EXPECT_EQ(tools.ParseNumber(in, "-0.25"), -0.25);
    EXPECT_EQ(tools.ParseNumber(in, "+.5"), 0.5);
    EXPECT_EQ(tools.ParseNumber(in, "12abc"), 12.0);
    EXPECT_EQ(tools.ParseNumber(in, "3e"), 3.0);
    EXPECT_EQ(tools.ParseNumber(in, "1.7976931348623157e308"), 1.7976931348623157e308);
    // Full double precision, not the single precision of "%f": 0.1 is not 0.1f.
    EXPECT_EQ(tools.ParseNumber(in, "0.1"), 0.1);
    // Too small to represent: zero, as the C library gives it.
    EXPECT_EQ(tools.ParseNumber(in, "1e-400"), 0.0);
    EXPECT_EQ(tools.ParseNumber(in, "0.000000000000000000000000000001e-380"), 0.0);
    // Hexadecimal numbers as the C library reads them.
    EXPECT_EQ(tools.ParseNumber(in, "0x10"), 16.0);
    EXPECT_EQ(tools.ParseNumber(in, "-0X1.8p1"), -3.0);
    EXPECT_EQ(tools.ParseNumber(in, "0x.8"), 0.5);
    EXPECT_EQ(tools.ParseNumber(in, "0x1p-2000"), 0.0);
    for (const char* bad : {"", "abc", "-", "--5", "+-5", ".", "e5", "0x", "0xg", "0x-1"})
        EXPECT_EQ(MessageOf([&] { tools.ParseNumber(in, bad); }), "number-expected") << bad;
    for (const char* big :
         {"1e309", "-1e400", "100000000000000000000e300", "0x1p2000", "0x1000p1022"})
        EXPECT_EQ(MessageOf([&] { tools.ParseNumber(in, big); }), "number-out-of-range") << big;
}

// Regression: a network whose training diverged was written with inf and nan weights that the
// reader then refused, so the trained network could not be read back.
TEST_F(ParseToolsTest, ParseNumberReadsTheWordsTheWriterUsesForNonFiniteValues) {
    EXPECT_EQ(tools.ParseNumber(in, "inf"), HUGE_VAL);
    EXPECT_EQ(tools.ParseNumber(in, "-INF"), -HUGE_VAL);
    EXPECT_EQ(tools.ParseNumber(in, "Infinity"), HUGE_VAL);
    EXPECT_TRUE(std::isnan(tools.ParseNumber(in, "nan")));
    EXPECT_TRUE(std::signbit(tools.ParseNumber(in, "-nan")));
}

class WriterTest : public ::testing::Test {
  protected:
    FileTools tools;
    std::ostringstream out;
};

TEST_F(WriterTest, BracketedStatements) {
    tools.WriteFormatVersion(out);
    tools.WriteBlockStart(out, "DataSet");
    tools.WriteStringStatement(out, "ExpectedOutputs", "Labels");
    tools.WriteIntegerStatement(out, "Rows", -2147483647 - 1);
    tools.WriteNumberStatement(out, "Name", 0.5, 9);
    tools.WriteNumberStatement(out, "Neg", -1.0 / 3.0, 2);
    tools.WriteNumberStatement(out, "Zero", 2.5, 0);
    tools.WriteStatement(K::Token, "0.25", "ignored", out, true);
    tools.WriteNewLine(out);
    tools.WriteEndTag(out, "");
    tools.WriteEndTag(out, "DataSet");
    EXPECT_EQ(out.str(),
              "[FormatVersion = 1.0]\n\n"
              "[DataSet]\n"
              "[ExpectedOutputs = Labels]\n"
              "[Rows = -2147483648]\n"
              "[Name = 0.500000000]\n"
              "[Neg = -0.33]\n"
              "[Zero = 2]\n"  // 2.5 rounds to even, as "%.0f" does
              "0.25 \n"
              "[~DataSet]\n");
}

TEST_F(WriterTest, BareStatementsHaveNoLineEnd) {
    tools.WriteBlockStart(out, "ALL", false);
    tools.WriteNumberStatement(out, "Name", 0.5, 9, false);
    tools.WriteIntegerStatement(out, "From", 3, false);
    tools.WriteStringStatement(out, "Fn", "sigmoid", false);
    tools.WriteStatement(K::Token, "T", {}, out, false);
    tools.WriteStatement(K::EndOfBlock, {}, {}, out, false);
    EXPECT_EQ(out.str(), "ALL Name=0.500000000 From=3 Fn=sigmoid T ");
}

TEST_F(WriterTest, HugeNumbersAreWrittenInFull) {
    tools.WriteNumberStatement(out, "W", -1e300, 3, false);
    EXPECT_EQ(out.str().size(), std::string("W=-1").size() + 300 + 4 + 1);
    EXPECT_EQ(out.str().substr(0, 8), "W=-10000");
}

TEST_F(WriterTest, LineEndsFlush) {
    struct CountingBuf : std::stringbuf {
        int syncs = 0;
        int sync() override { return ++syncs, 0; }
    } buf;
    std::ostream stream(&buf);
    tools.WriteBlockStart(stream, "A", false);
    EXPECT_EQ(buf.syncs, 0);
    tools.WriteBlockStart(stream, "A");
    EXPECT_EQ(buf.syncs, 1);
    tools.WriteFormatVersion(stream);
    EXPECT_EQ(buf.syncs, 3);
}

TEST_F(WriterTest, NumberTextIgnoresTheLocale) {
    struct Comma : std::numpunct<char> {
        char do_decimal_point() const override { return ','; }
        std::string do_grouping() const override { return "\3"; }
    };
    const std::locale comma(std::locale::classic(), new Comma);
    const std::locale previous = std::locale::global(comma);
    out.imbue(comma);
    tools.WriteNumberStatement(out, "N", 1234.5, 1);
    tools.WriteIntegerStatement(out, "I", 1234567);
    std::locale::global(previous);
    EXPECT_EQ(out.str(), "[N = 1234.5]\n[I = 1234567]\n");
}

TEST(WriterDeathTest, ImpossibleStatementsAreFatal) {
    FileTools tools;
    std::ostringstream out;
    EXPECT_DEATH(tools.WriteStatement(K::FormatVersionLine, {}, {}, out, false),
                 "Assertion failed: bracket");
    EXPECT_DEATH(tools.WriteStatement(K::EndOfBlock, "X", {}, out, false),
                 "Assertion failed: bracket");
    EXPECT_DEATH(tools.WriteStatement(static_cast<K>(4), "X", {}, out, true),
                 "Assertion failed: .*unknown statement kind");
}

}  // namespace
}  // namespace synapsor
