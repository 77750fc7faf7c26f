// How failures are printed. A complete exception report (message, kind, location) is checked end
// to end in tests/cli/TrainingRunTest.cpp.
#include "MLP/Common/FailureReport.h"

#include <gtest/gtest.h>

#include <new>
#include <sstream>
#include <stdexcept>
#include <string>

#include "KQmessage/KQML.h"

namespace synapsor {

namespace {

template <typename E>
std::string ReportOf(const E& thrown) {
    std::ostringstream out;
    try {
        throw thrown;
    } catch (...) {
        ReportUnexpectedException(out);
    }
    return out.str();
}

TEST(FailureReportTest, UnsetExceptionPartsPrintAsEmptyLines) {
    std::ostringstream out;
    ReportException(out, TException(nullptr, nullptr));
    EXPECT_EQ(out.str(), "\n\n\n");
}

TEST(FailureReportTest, UnexpectedExceptionsAreNamed) {
    EXPECT_EQ(ReportOf(std::bad_alloc()), "Out of memory\n");
    TKQstructure::Error kq{MakeError("type-error")};
    EXPECT_EQ(ReportOf(kq), "Internal error: (error :type type-error)\n");
    EXPECT_EQ(ReportOf(std::runtime_error("broken")), "Internal error: broken\n");
    EXPECT_EQ(ReportOf(42), "Internal error: unknown exception\n");
}

}  // namespace

}  // namespace synapsor
