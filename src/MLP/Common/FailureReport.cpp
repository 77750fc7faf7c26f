#include "MLP/Common/FailureReport.h"

#include <exception>
#include <new>
#include <ostream>
#include <string>

#include "KQmessage/KQML.h"

namespace synapsor {

namespace {

const char* OrEmpty(const char* text) {
    return text ? text : "";
}

}  // namespace

void ReportFileError(std::ostream& out, const FileToolsError& error) {
    out << error.message << std::endl;
}

void ReportFileErrorPlace(std::ostream& out, const FileToolsError& error) {
    const std::string where = DescribeWhere(error);
    if (!where.empty())
        out << where << std::endl;
}

void ReportException(std::ostream& out, const TException& error) {
    out << OrEmpty(error.GetMessage()) << '\n'
        << OrEmpty(error.GetKind()) << '\n'
        << OrEmpty(error.GetLocation()) << std::endl;
}

void ReportUnexpectedException(std::ostream& out) {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        out << "Out of memory" << std::endl;
    } catch (const TKQstructure::Error& e) {
        out << "Internal error: " << (e.report ? e.report->ToText() : std::string("(error)"))
            << std::endl;
    } catch (const std::exception& e) {
        out << "Internal error: " << e.what() << std::endl;
    } catch (...) {
        out << "Internal error: unknown exception" << std::endl;
    }
}

}  // namespace synapsor
