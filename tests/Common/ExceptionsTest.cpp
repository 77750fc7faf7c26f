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

}  // namespace
}  // namespace synapsor
