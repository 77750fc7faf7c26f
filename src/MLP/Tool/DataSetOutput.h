// A data set file written through the data set writer straight to a stream: the temporary file
// beside the destination (OutputSet, MLP/Common/OutputSet.h) or standard output ("-").
#pragma once

#include <iosfwd>
#include <string>

#include "DataObject/Data.h"

namespace synapsor {

// The file's text, written to out.
void WriteDataSetText(std::ostream& out, Data* first, Data* second);
void WriteDataSetOutput(const std::string& file, Data* first, Data* second, std::ostream& console);

}  // namespace synapsor
