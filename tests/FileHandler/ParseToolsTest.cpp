#include "FileHandler/ParseTools.h"

#include <gtest/gtest.h>

#include <locale>
#include <sstream>
#include <string>
#include <vector>

namespace synapsor {
namespace {

using K = StatementKind;

class ParseToolsTest : public ::testing::Test {
  protected:
    // Starts reading the given text.
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
    std::vector<std::string> Tokens(const std::string& text) {
        Open(text);
        std::vector<std::string> all;
        for (std::string t = tools.NextToken(in); !t.empty(); t = tools.NextToken(in)) {
            all.push_back(t);
        }
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

void ExpectStatement(const Statement& st, K kind, const std::string& keyword,
                     const std::string& value, bool open) {
    EXPECT_EQ(st.kind, kind);
    EXPECT_EQ(st.keyword, keyword);
    EXPECT_EQ(st.value, value);
    EXPECT_EQ(st.open, open);
}

TEST_F(ParseToolsTest, TokenizerSplitsOnSeparatorsAndSpecials) {
    using V = std::vector<std::string>;
    EXPECT_EQ(Tokens("1,2,3"), (V{"1", "2", "3"}));
    EXPECT_EQ(Tokens("[~Layer]"), (V{"[~", "Layer", "]"}));
    EXPECT_EQ(Tokens("[ ~Layer]"), (V{"[", "~Layer", "]"}));
    EXPECT_EQ(Tokens("a=b<c>d/e*f"), (V{"a", "=", "b", "<", "c", ">", "d", "/", "e", "*", "f"}));
    EXPECT_EQ(Tokens("-0.25 1e-5\tT\nF"), (V{"-0.25", "1e-5", "T", "F"}));
    // Bytes 127 to 255 separate like spaces: a word never contains them.
    EXPECT_EQ(Tokens("ab\x7f"
                     "cd\x80"
                     "ef\xff"
                     "gh\xc3\xa9ij"),
              (V{"ab", "cd", "ef", "gh", "ij"}));
    EXPECT_EQ(Tokens(std::string("x\0y", 3)), (V{"x", "y"}));
    EXPECT_EQ(Tokens(" \n,, "), V{});
}

TEST_F(ParseToolsTest, CommentsNestAndAreSkipped) {
    ExpectStatement(ReadFrom("/* a /* b */ c */ [X]"), K::Tag, "X", "", false);
    ExpectStatement(ReadFrom("/**/x"), K::Token, "x", "", false);
    EXPECT_EQ(Tokens("a/*1*//*2*/b"), (std::vector<std::string>{"a", "b"}));
    // A comment may stand between "[" and the keyword, and after "=".
    ExpectStatement(ReadFrom("[ /*k*/ A = /*v*/ B]"), K::Assignment, "A", "B", false);
    EXPECT_EQ(ErrorOf("[X] /* open /* inner */ still open"),
              "Unexpected end of file during comment");
    EXPECT_EQ(ErrorOf("/*"), "Unexpected end of file during comment");
}

TEST_F(ParseToolsTest, DeepCommentNestingNeedsNoStack) {
    const int depth = 200000;
    std::string text;
    for (int i = 0; i < depth; ++i)
        text += "/*";
    EXPECT_EQ(ErrorOf(text), "Unexpected end of file during comment");
    for (int i = 0; i < depth; ++i)
        text += " */";
    ExpectStatement(ReadFrom(text + " w"), K::Token, "w", "", false);
}

TEST_F(ParseToolsTest, WordsUpToTheScratchSizeAreAccepted) {
    const std::string longest(FileTools::kScratchSize, 'w');
    ExpectStatement(ReadFrom(longest + "]"), K::Token, longest, "", false);
    EXPECT_EQ(ErrorOf(longest + "w"), "Word too long");
    EXPECT_EQ(ErrorOf("[A = " + longest + "ww]"), "Word too long");
}

TEST_F(ParseToolsTest, AssignmentSpellings) {
    for (const char* text : {"[A=B]", "[ A = B ]", "[a,=,b]", "[A\n=\tB\n]"}) {
        const Statement st = ReadFrom(text);
        EXPECT_EQ(st.kind, K::Assignment) << text;
        EXPECT_EQ(strcasecmp(st.keyword.c_str(), "a"), 0) << text;
        EXPECT_EQ(strcasecmp(st.value.c_str(), "b"), 0) << text;
        EXPECT_FALSE(st.open) << text;
    }
}

TEST_F(ParseToolsTest, OpenBracketsAreReadItemByItemInContinuation) {
    Open("[Neuron = 3 ActivationFunction = sigmoid-gain Gain = 0.5] [ALL Gain = 2] [Matrix a b]");
    ExpectStatement(Read("Neurons"), K::Assignment, "Neuron", "3", true);
    ExpectStatement(Read("Neurons", true), K::Assignment, "ActivationFunction", "sigmoid-gain",
                    true);
    ExpectStatement(Read("Neurons", true), K::Assignment, "Gain", "0.5", false);
    ExpectStatement(Read("Layer"), K::Tag, "ALL", "", true);
    ExpectStatement(Read("Layer", true), K::Assignment, "Gain", "2", false);
    ExpectStatement(Read(), K::Tag, "Matrix", "", true);
    ExpectStatement(Read({}, true), K::Tag, "a", "", true);
    ExpectStatement(Read({}, true), K::Tag, "b", "", false);
    ExpectStatement(Read(), K::EndOfBlock, "", "", false);
}

TEST_F(ParseToolsTest, TagsTokensAndEndTags) {
    Open("[Layer] 0.5 x [ ~Layer] [~LAYER]");
    ExpectStatement(Read(), K::Tag, "Layer", "", false);
    ExpectStatement(Read("Layer"), K::Token, "0.5", "", false);
    ExpectStatement(Read("Layer"), K::Token, "x", "", false);
    ExpectStatement(Read("Layer"), K::Tag, "~Layer", "", false);
    ExpectStatement(Read("layer"), K::EndOfBlock, "", "", false);
    ExpectStatement(Read(), K::EndOfBlock, "", "", false);
}

TEST_F(ParseToolsTest, FormatVersionLineIsSkippedWherever) {
    Open("[FormatVersion = 1.0] [A] [formatversion = 0.5] 7 [FORMATVERSION=1]");
    ExpectStatement(Read(), K::Tag, "A", "", false);
    ExpectStatement(Read("A"), K::Token, "7", "", false);
    ExpectStatement(Read(), K::EndOfBlock, "", "", false);

    EXPECT_EQ(ErrorOf("[FormatVersion = 1.01]"), "Illegal Format Version");
    EXPECT_EQ(ErrorOf("[FormatVersion = x]"), "number-expected");
    ExpectStatement(ReadFrom("[FormatVersion = 1.0 x]"), K::Assignment, "FormatVersion", "1.0",
                    true);
    // Inside an open bracket it is an ordinary item.
    Open("[X FormatVersion = 9]");
    Read();
    ExpectStatement(Read({}, true), K::Assignment, "FormatVersion", "9", false);
    // Many lines in a row are skipped one after the other.
    std::string many;
    for (int i = 0; i < 100000; ++i)
        many += "[FormatVersion=1]";
    ExpectStatement(ReadFrom(many + "[Z]"), K::Tag, "Z", "", false);
}

TEST_F(ParseToolsTest, EndOfInput) {
    ExpectStatement(ReadFrom(" /* c */ "), K::EndOfBlock, "", "", false);
    EXPECT_EQ(ErrorOf("1 2", "Data"), "Unexpected end of file");
    EXPECT_EQ(ErrorOf("["), "Unexpected end of file");
    EXPECT_EQ(ErrorOf("[Name ="), "Unexpected end of file");
    EXPECT_EQ(ErrorOf("[~Data", "Data"), "Expected ']'");
    // A bracket cut off after its keyword or value is returned open.
    ExpectStatement(ReadFrom("[Name"), K::Tag, "Name", "", true);
    ExpectStatement(ReadFrom("[Name = v  "), K::Assignment, "Name", "v", true);
    ExpectStatement(Read(), K::EndOfBlock, "", "", false);
}

TEST_F(ParseToolsTest, MalformedStatements) {
    EXPECT_EQ(ErrorOf("[Name = ]"), "Unexpected special character");
    EXPECT_EQ(ErrorOf("[= x]"), "Unexpected special character");
    EXPECT_EQ(ErrorOf("[[x]"), "Unexpected special character");
    EXPECT_EQ(ErrorOf("[A = [~B]"), "Unexpected special character");
    EXPECT_EQ(ErrorOf("[X ] ]"), "Unexpected ']' where a statement should begin");
    EXPECT_EQ(ErrorOf("[~Data]", "DataSet"), "Unexpected End Tag");
    EXPECT_EQ(ErrorOf("[~DataSet x", "DataSet"), "Expected ']'");
    EXPECT_EQ(ErrorOf("[~DataSet]"), "End tag outside any block");
    Open("[A] ]");  // a caller that continues a closed bracket meets the "]" as its keyword
    Read();
    try {
        Read({}, true);
        FAIL() << "no error";
    } catch (const FileTools::Error& e) {
        EXPECT_EQ(e.message, "Unexpected special character");  // "]" read as a keyword
    }
}

TEST_F(ParseToolsTest, ReusedStatementIsRefilledCompletely) {
    Open("[A = B] 5");
    Statement st;
    tools.ReadStatement({}, in, false, st);
    tools.ReadStatement({}, in, false, st);
    ExpectStatement(st, K::Token, "5", "", false);
    tools.ReadStatement({}, in, false, st);
    ExpectStatement(st, K::EndOfBlock, "", "", false);
}

class TypedReaderTest : public ParseToolsTest {
  protected:
    // The message raised by check on the first statement of text.
    template <typename Check>
    std::string Rejects(const std::string& text, Check check) {
        const Statement st = ReadFrom(text, "Block");
        try {
            check(st);
        } catch (const FileTools::Error& e) {
            EXPECT_EQ(e.stream, &in);
            return e.message;
        }
        return "no error";
    }
};

TEST_F(TypedReaderTest, AcceptMatchingStatementsWithoutRegardToCase) {
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

TEST_F(TypedReaderTest, RejectionMessages) {
    auto blockStart = [&](const Statement& st) { tools.ExpectBlockStart(st, in, "DATA"); };
    auto anyBlock = [&](const Statement& st) { tools.ExpectBlockStart(st, in); };
    auto string = [&](const Statement& st) { tools.ExpectStringStatement(st, in, "Type"); };
    auto integer = [&](const Statement& st) { tools.ExpectIntegerStatement(st, in, "Rows"); };
    auto number = [&](const Statement& st) { tools.ExpectNumberStatement(st, in, "Gain"); };
    auto token = [&](const Statement& st) { tools.ExpectNumberToken(st, in); };
    auto endTag = [&](const Statement& st) { tools.ExpectEndTag(st, in); };

    EXPECT_EQ(Rejects("[Dat]", blockStart), "[DATA] expected");
    EXPECT_EQ(Rejects("[Data = 1]", blockStart), "[DATA] expected");
    EXPECT_EQ(Rejects("Data", anyBlock), "start of block expected");
    EXPECT_EQ(Rejects("[Kind = MLP]", string), "[Type = <string>] expectedKind");
    EXPECT_EQ(Rejects("word", string), "[Type = <string>] expectedword");
    EXPECT_EQ(Rejects("[~Block]", string), "[Type = <string>] expected");
    EXPECT_EQ(Rejects("[Rows]", integer), "[Rows = <integer>] expected");
    EXPECT_EQ(Rejects("[Rows = x]", integer), "integer-expected");
    EXPECT_EQ(Rejects("[Gain 1]", number), "[Gain = <number>] expected");
    EXPECT_EQ(Rejects("[Gain = y]", number), "number-expected");
    EXPECT_EQ(Rejects("[X]", token), "Token (number) expected");
    EXPECT_EQ(Rejects("abc", token), "number-expected");
    EXPECT_EQ(Rejects("1", endTag), "End Tag expected");
}

TEST_F(ParseToolsTest, ParseIntegerReadsALeadingDecimal) {
    EXPECT_EQ(tools.ParseInteger(in, "-7"), -7);
    EXPECT_EQ(tools.ParseInteger(in, " +42"), 42);
    EXPECT_EQ(tools.ParseInteger(in, "12abc"), 12);
    EXPECT_EQ(tools.ParseInteger(in, "1.5"), 1);
    EXPECT_EQ(tools.ParseInteger(in, "2147483647"), 2147483647);
    EXPECT_EQ(tools.ParseInteger(in, "-2147483648"), -2147483647 - 1);
    EXPECT_EQ(tools.ParseInteger(in, "000000000000000000000000000000012"), 12);
    for (const char* bad : {"", "abc", "-", "+-1", " x1", ".5"}) {
        EXPECT_THROW(tools.ParseInteger(in, bad), FileTools::Error) << bad;
    }
    for (const char* big : {"2147483648", "-2147483649", "99999999999999999999999"}) {
        try {
            tools.ParseInteger(in, big);
            ADD_FAILURE() << big;
        } catch (const FileTools::Error& e) {
            EXPECT_EQ(e.message, "integer-out-of-range") << big;
        }
    }
}

TEST_F(ParseToolsTest, ParseNumberReadsALeadingDecimal) {
    EXPECT_DOUBLE_EQ(tools.ParseNumber(in, "1e-3"), 0.001);
    EXPECT_DOUBLE_EQ(tools.ParseNumber(in, "-0.25"), -0.25);
    EXPECT_DOUBLE_EQ(tools.ParseNumber(in, "+.5"), 0.5);
    EXPECT_DOUBLE_EQ(tools.ParseNumber(in, "12abc"), 12.0);
    EXPECT_DOUBLE_EQ(tools.ParseNumber(in, "3e"), 3.0);
    EXPECT_DOUBLE_EQ(tools.ParseNumber(in, "1.7976931348623157e308"), 1.7976931348623157e308);
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
    for (const char* bad : {"", "abc", "-", "--5", "+-5", ".", "e5", "0x", "0xg", "0x-1"}) {
        try {
            tools.ParseNumber(in, bad);
            ADD_FAILURE() << bad;
        } catch (const FileTools::Error& e) {
            EXPECT_EQ(e.message, "number-expected") << bad;
        }
    }
    for (const char* big : {"1e309", "-1e400", "100000000000000000000e300", "inf", "nan",
                            "0x1p2000", "0x1000p1022"}) {
        try {
            tools.ParseNumber(in, big);
            ADD_FAILURE() << big;
        } catch (const FileTools::Error& e) {
            EXPECT_EQ(e.message, "number-out-of-range") << big;
        }
    }
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

TEST_F(WriterTest, WrittenStatementsReadBack) {
    tools.WriteFormatVersion(out);
    tools.WriteBlockStart(out, "Layer");
    out << "[";  // a bare item list is bracketed by its caller
    tools.WriteBlockStart(out, "ALL", false);
    tools.WriteNumberStatement(out, "Gain", 0.75, 3, false);
    out << "]";
    tools.WriteNewLine(out);
    tools.WriteIntegerStatement(out, "Size", 4);
    tools.WriteEndTag(out, "Layer");
    std::istringstream in(out.str());
    ExpectStatement(tools.ReadStatement({}, in), K::Tag, "Layer", "", false);
    ExpectStatement(tools.ReadStatement("Layer", in), K::Tag, "ALL", "", true);
    ExpectStatement(tools.ReadStatement("Layer", in, true), K::Assignment, "Gain", "0.750", false);
    ExpectStatement(tools.ReadStatement("Layer", in), K::Assignment, "Size", "4", false);
    ExpectStatement(tools.ReadStatement("Layer", in), K::EndOfBlock, "", "", false);
    ExpectStatement(tools.ReadStatement({}, in), K::EndOfBlock, "", "", false);
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
