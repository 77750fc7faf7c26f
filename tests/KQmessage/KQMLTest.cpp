#include "KQmessage/KQML.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <clocale>
#include <functional>
#include <string>

namespace synapsor {

namespace {

// Runs f, which must throw TKQstructure::Error, and returns the report's text form.
std::string ReportOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const TKQstructure::Error& e) {
        EXPECT_NE(e.report, nullptr);
        return e.report ? e.report->ToText() : "";
    }
    ADD_FAILURE() << "no TKQstructure::Error thrown";
    return "";
}

TEST(KQMLTest, ConstructorsSetHeadAndDefaultCapacity) {
    TKQstructure none;
    EXPECT_STREQ(none.GetHead(), "unknown");
    EXPECT_EQ(none.GetCapacity(), 16);
    EXPECT_EQ(none.GetCount(), 0);
    TKQstructure named("Params");
    EXPECT_STREQ(named.GetHead(), "Params");
    EXPECT_TRUE(named.IsLeaf());
    EXPECT_EQ(named.ToText(), "Params");
}

TEST(KQMLTest, SetValueReplacesCaseInsensitivelyAndKeepsFirstKeyword) {
    TKQstructure s("x");
    s.SetString("Alpha", "1");
    s.SetString("beta", "2");
    s.SetString("ALPHA", "3");
    EXPECT_EQ(s.GetCount(), 2);
    EXPECT_STREQ(s.GetKeyword(0), "Alpha");
    EXPECT_STREQ(s.FindValue("alpha")->GetHead(), "3");
    EXPECT_EQ(s.FindValue("gamma"), nullptr);
    EXPECT_EQ(s.ToText(), "(x :Alpha 3 :beta 2)");
    testing::internal::CaptureStdout();
    s.PrintLine();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "(x :Alpha 3 :beta 2)\n");
}

TEST(KQMLTest, CapacityGrowsFrom16To32AndCopiesShrinkToCount) {
    TKQstructure s("x");
    for (int i = 0; i < 16; ++i)
        s.SetInteger(("k" + std::to_string(i)).c_str(), i);
    EXPECT_EQ(s.GetCapacity(), 16);
    s.SetInteger("k16", 16);  // the 17th entry
    EXPECT_EQ(s.GetCapacity(), 32);
    EXPECT_EQ(s.GetCount(), 17);

    TKQstructure three("y");
    three.SetString("a", "1");
    three.SetString("b", "2");
    three.SetString("c", "3");
    TKQstructure copy(three);
    EXPECT_EQ(copy.GetCapacity(), 3);
    copy.SetString("d", "4");
    EXPECT_EQ(copy.GetCapacity(), 16);  // max(2*3, 16)

    TKQstructure empty(TKQstructure("z"));
    TKQstructure emptyCopy(empty);
    EXPECT_EQ(emptyCopy.GetCapacity(), 0);
    emptyCopy.SetString("a", "1");
    EXPECT_EQ(emptyCopy.GetCapacity(), 16);
}

TEST(KQMLTest, CopiesAreDeepAndSelfAssignmentIsHarmless) {
    TKQstructure inner("in");
    inner.SetString("k", "v");
    TKQstructure outer("out");
    outer.SetValue("nested", new TKQstructure(inner));
    TKQstructure copy(outer);
    outer.GetValue("nested")->SetString("k", "changed");
    EXPECT_EQ(copy.ToText(), "(out :nested (in :k v))");

    TKQstructure target("t");
    target.SetString("old", "1");
    target = copy;
    EXPECT_EQ(target.ToText(), "(out :nested (in :k v))");
    EXPECT_EQ(target.GetCapacity(), 1);
    TKQstructure& alias = target;
    target = alias;
    EXPECT_EQ(target.ToText(), "(out :nested (in :k v))");
}

TEST(KQMLTest, RemoveValueMovesLastEntryIntoTheGap) {
    TKQstructure s("x");
    s.SetString("a", "1");
    s.SetString("b", "2");
    s.SetString("c", "3");
    s.RemoveValue("A");
    EXPECT_EQ(s.ToText(), "(x :c 3 :b 2)");
    s.RemoveValue("missing");
    EXPECT_EQ(s.GetCount(), 2);
    s.RemoveValue("b");
    s.RemoveValue("c");
    EXPECT_TRUE(s.IsLeaf());
    EXPECT_EQ(s.GetCapacity(), 16);
}

// The text SetNumber stores for x.
std::string NumberText(double x) {
    TKQstructure s("x");
    s.SetNumber("v", x);
    return s.GetValue("v")->GetHead();
}

TEST(KQMLTest, NumberTextsKeepSixDecimalsAndEveryDigit) {
    EXPECT_EQ(NumberText(0.5), "0.500000");
    EXPECT_EQ(NumberText(0.0000001), "0.000000");  // below half a millionth: written as zero
    EXPECT_EQ(NumberText(-2.25), "-2.250000");
    const std::string huge = NumberText(1e300);
    EXPECT_EQ(huge.size(), 301u + 7u);  // 301 integer digits, point, six decimals
    EXPECT_EQ(huge.substr(huge.size() - 7), ".000000");
    EXPECT_EQ(ToNumber(huge.c_str()), 1e300);
    const std::string max = NumberText(DBL_MAX);
    EXPECT_EQ(max.size(), 309u + 7u);
    EXPECT_EQ(ToNumber(max.c_str()), DBL_MAX);
    TKQstructure s("x");
    s.SetInteger("big", -9223372036854775807L - 1);
    s.SetBoolean("on", true);
    s.SetBoolean("off", false);
    EXPECT_EQ(s.ToText(), "(x :big -9223372036854775808 :on true :off false)");
}

TEST(KQMLTest, NumberTextIgnoresTheUserLocale) {
    const char* german = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
    EXPECT_EQ(NumberText(0.25), "0.250000");
    EXPECT_EQ(ToNumber("0.75"), 0.75);
    std::setlocale(LC_NUMERIC, "C");
    if (german == nullptr)
        GTEST_SKIP() << "de_DE locale not installed; checked in C only";
}

TEST(KQMLTest, ConversionsReadLeadingNumberAndIgnoreTheRest) {
    EXPECT_EQ(ToInteger("  42"), 42);
    EXPECT_EQ(ToInteger("-7xyz"), -7);
    EXPECT_EQ(ToNumber("12abc"), 12.0);
    EXPECT_EQ(ToNumber(" 2.5e1"), 25.0);
    EXPECT_EQ(ScanInteger("3"), 3);
    EXPECT_EQ(ScanNumber("0.125"), 0.125);
    EXPECT_TRUE(ToBoolean("true"));
    EXPECT_TRUE(ToBoolean("True"));
    EXPECT_TRUE(ToBoolean("TRUE"));
    EXPECT_FALSE(ToBoolean("fAlSe"));
}

TEST(KQMLTest, FailedConversionsAndRequiredLookupsCarryExactReports) {
    EXPECT_EQ(ReportOf([] { ToInteger("abc"); }),
              "(error :type invalid-message :integer-expected abc)");
    EXPECT_EQ(ReportOf([] { ToNumber("abc"); }),
              "(error :type invalid-message :number-expected abc)");
    EXPECT_EQ(ReportOf([] { ToNumber(""); }), "(error :type invalid-message :number-expected )");
    EXPECT_EQ(ReportOf([] { ToBoolean("yes"); }), "(error :type type-error :expected boolean)");
    TKQstructure s("Params");
    s.SetString("Error", "CrossEntropy");
    EXPECT_STREQ(s.GetRequiredValue("error")->GetHead(), "CrossEntropy");
    EXPECT_NO_THROW(s.CheckValue("ERROR", "crossentropy"));
    EXPECT_NO_THROW(s.CheckValue("Error", ""));
    const std::string missing = "(error :type invalid-message :expected Momentum)";
    EXPECT_EQ(ReportOf([&] { s.GetRequiredValue("Momentum"); }), missing);
    EXPECT_EQ(ReportOf([&] { s.CheckValue("Momentum", ""); }), missing);
    EXPECT_EQ(ReportOf([&] { s.CheckValue("Error", "RMS"); }),
              "(error :type invalid-message :tag Error :expected-value RMS)");
}

TEST(KQMLTest, JoinWordsSkipsTheProgramName) {
    const char* argv[] = {"Synapsor", "a", "bc"};
    EXPECT_EQ(JoinWords(3, argv), "a bc ");
    EXPECT_EQ(JoinWords(1, argv), "");
}

TEST(KQMLDeathTest, MissingValueAndNullValueAreFatal) {
    TKQstructure s("x");
    EXPECT_DEATH(s.GetValue("absent"), "Assertion failed: value != NULL");
    EXPECT_DEATH(s.SetValue("k", static_cast<TKQstructure*>(nullptr)),
                 "Assertion failed: newval != NULL");
    EXPECT_DEATH(ScanInteger("x"), "Assertion failed: err == 1");
    EXPECT_DEATH(ScanNumber("x"), "Assertion failed: err == 1");
}

}  // namespace

}  // namespace synapsor
