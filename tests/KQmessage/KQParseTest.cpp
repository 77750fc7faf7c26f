#include "KQmessage/KQParse.h"

#include <gtest/gtest.h>

#include <string>

namespace synapsor {

namespace {

std::string Reparse(const char* text) {
    const char* s = text;
    return ParseMessage(s)->ToText();
}

TEST(KQParseTest, TokensSplitOnSpecialsButColonsStayInsideWords) {
    const char* s = " \t(head :key a:b)\x7F\x80";
    EXPECT_EQ(NextKQToken(s, "():"), "(");
    EXPECT_EQ(NextKQToken(s, "():"), "head");
    EXPECT_EQ(NextKQToken(s, "():"), ":");
    EXPECT_EQ(NextKQToken(s, "():"), "key");
    EXPECT_EQ(NextKQToken(s, "():"), "a:b");
    EXPECT_EQ(NextKQToken(s, "():"), ")");
    EXPECT_EQ(NextKQToken(s, "():"), "");
    EXPECT_EQ(NextKQToken(s, "():"), "");
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

TEST(KQParseDeathTest, LeafWithSpaceDoesNotRoundTrip) {
    TKQstructure s("x");
    s.SetString("file", "my file");
    EXPECT_DEATH(Reparse(s.ToText().c_str()), "Assertion failed: \\*s == '\\)'");
}

TEST(KQParseDeathTest, MalformedTextIsFatal) {
    EXPECT_DEATH(Reparse(""), "special character unexpected\nAssertion failed");
    EXPECT_DEATH(Reparse(")"), "special character unexpected\nAssertion failed");
    EXPECT_DEATH(Reparse("(:k v)"), "special character unexpected\nAssertion failed");
    EXPECT_DEATH(Reparse("(x :k"), "special character unexpected\nAssertion failed");
    EXPECT_DEATH(Reparse("(x k v)"), "Assertion failed: \\*s == '\\)'");
    EXPECT_DEATH(Reparse("(x :k v"), "Assertion failed: \\*s == '\\)'");
    EXPECT_DEATH(Reparse("x y"), "Assertion failed: \\*s == '\\\\0'");
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
