#include "KQmessage/KQParse.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace synapsor {

namespace {

std::string Reparse(const char* text) {
    const char* s = text;
    return ParseMessage(s)->ToText();
}

TEST(KQParseTest, TokensSplitOnSpecialsButColonsStayInsideWords) {
    const char* s = " \t(head :key a:b)\x7F\x80";
    std::vector<std::string> tokens;
    for (int k = 0; k < 8; ++k)
        tokens.push_back(NextKQToken(s, "():"));
    EXPECT_EQ(tokens, (std::vector<std::string>{"(", "head", ":", "key", "a:b", ")", "", ""}));
}

TEST(KQParseTest, PrintedStructuresParseBack) {
    const char* text =
        "(Params :LearningRate 0.500000 :WeightPenalty (LWF :ForgettingRate 0.005000) :batch "
        "true)";
    EXPECT_EQ(Reparse(text), text);
    EXPECT_EQ(Reparse("(x)"), "x");
    EXPECT_EQ(Reparse("  leaf \n"), "leaf");
    EXPECT_EQ(Reparse("(x :a 1 :A 2)"), "(x :a 2)");  // a repeated keyword replaces
}

TEST(KQParseTest, ParseStructureAdvancesPastOneStructure) {
    const char* s = "(a :k v) (b)";
    EXPECT_EQ(ParseStructure(s)->ToText(), "(a :k v)");
    EXPECT_EQ(ParseStructure(s)->ToText(), "b");
    EXPECT_EQ(*s, '\0');
}

TEST(KQParseDeathTest, MalformedTextIsFatal) {
    const char* const special = "special character unexpected\nAssertion failed";
    const char* const unclosed = "Assertion failed: \\*s == '\\)'";
    for (const char* text : {"", ")", "(:k v)", "(x :k"})
        EXPECT_DEATH(Reparse(text), special) << text;
    for (const char* text : {"(x k v)", "(x :k v"})
        EXPECT_DEATH(Reparse(text), unclosed) << text;
    EXPECT_DEATH(Reparse("x y"), "Assertion failed: \\*s == '\\\\0'");
    TKQstructure spaced("x");
    spaced.SetString("file", "my file");  // a leaf with a space does not parse back
    EXPECT_DEATH(Reparse(spaced.ToText().c_str()), unclosed);
}

TEST(KQParseDeathTest, HostileNestingStopsBeforeTheStackOverflows) {
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "(a :k ";
    EXPECT_DEATH(Reparse(deep.c_str()), "Assertion failed: depth < kMaxKQDepth");
    std::string ok;
    for (int i = 0; i < 100; ++i)
        ok += "(a :k ";
    ok += "v" + std::string(100, ')');
    EXPECT_EQ(Reparse(ok.c_str()), ok);
}

}  // namespace

}  // namespace synapsor
