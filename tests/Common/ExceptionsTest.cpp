#include "Common/Exceptions.h"

#include <gtest/gtest.h>

#include <string>

namespace synapsor {
namespace {

TEST(ExceptionsTest, TExceptionCarriesMessageKindAndLocation) {
    try {
        throw TException("Invalid Data Row", "Bad Parameter", "Data::GetInputRow");
    } catch (const TException& e) {
        EXPECT_STREQ(e.GetMessage(), "Invalid Data Row");
        EXPECT_STREQ(e.GetKind(), "Bad Parameter");
        EXPECT_STREQ(e.GetLocation(), "Data::GetInputRow");
        EXPECT_EQ(e.GetDetails(), nullptr);
    }
}

TEST(ExceptionsTest, UnsetFieldsAreNull) {
    TException none;
    EXPECT_EQ(none.GetMessage(), nullptr);
    EXPECT_EQ(none.GetKind(), nullptr);
    EXPECT_EQ(none.GetLocation(), nullptr);
    TException noKind("m", nullptr);
    EXPECT_STREQ(noKind.GetMessage(), "m");
    EXPECT_EQ(noKind.GetKind(), nullptr);
    EXPECT_EQ(noKind.GetLocation(), nullptr);
}

TEST(ExceptionsTest, CopiesOwnTheirTexts) {
    std::string text = "Null data pointer";
    TException original(text.c_str(), "Null Pointer Parameter", "TQorm::RecallOutputOnly");
    text.assign("overwritten");
    TException copy = original;
    TException assigned;
    assigned = copy;
    EXPECT_STREQ(copy.GetMessage(), "Null data pointer");
    EXPECT_STREQ(assigned.GetLocation(), "TQorm::RecallOutputOnly");
    EXPECT_NE(copy.GetMessage(), original.GetMessage());
}

TEST(ExceptionsTest, FileToolsErrorHasCodeZero) {
    FileToolsError e("Error on File Open");
    EXPECT_EQ(e.message, "Error on File Open");
    EXPECT_EQ(e.stream, nullptr);
    EXPECT_EQ(e.code, 0);
}

TEST(ExceptionsTest, DescribeWhereGivesTheFilePositionAndTokenOrTheOpenFailure) {
    auto error = [](const char* file, long line, long column, std::string token, bool atEnd) {
        FileToolsError e("End Tag expected");
        e.file = file;
        e.line = line;
        e.column = column;
        e.token = std::move(token);
        e.atEnd = atEnd;
        return e;
    };
    EXPECT_EQ(DescribeWhere(error("a.wgt", 1, 1, "", true)),
              "a.wgt:1:1: End Tag expected (found end of file)");
    EXPECT_EQ(DescribeWhere(error("", 2, 5, "y", false)), "2:5: End Tag expected (found \"y\")");
    EXPECT_EQ(DescribeWhere(error("a.dat", 1, 9, std::string(41, 'w'), false)),
              "a.dat:1:9: End Tag expected (found \"" + std::string(40, 'w') + "...\")");
    // No position known: nothing to add.
    EXPECT_EQ(DescribeWhere(error("a.wgt", 0, 0, "x", false)), "");
    FileToolsError open("Error on File Open");
    open.file = "none.wgt";
    open.openFailure = "No such file or directory";
    EXPECT_EQ(DescribeWhere(open), "none.wgt: cannot open: No such file or directory");
}

}  // namespace
}  // namespace synapsor
