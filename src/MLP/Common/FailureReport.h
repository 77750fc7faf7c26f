// How the driver reports a failure that ends the run. A file error is its message on one line
// (the driver writes it to standard output); a TException is its message, kind and location,
// one line each (standard error); anything else escaping the run is one line naming what went
// wrong (standard error). A field that was never set prints as an empty line.
#pragma once

#include <iosfwd>

#include "Common/Exceptions.h"

namespace synapsor {

void ReportFileError(std::ostream& out, const FileToolsError& error);
// The line that says where a file error is (DescribeWhere), when the error knows it; nothing
// otherwise. The driver writes it to standard error after the message.
void ReportFileErrorPlace(std::ostream& out, const FileToolsError& error);
void ReportException(std::ostream& out, const TException& error);
// Call only inside a catch block: names the exception being handled (std::bad_alloc, a
// TKQstructure::Error, any std::exception or an unknown type).
void ReportUnexpectedException(std::ostream& out);

}  // namespace synapsor
