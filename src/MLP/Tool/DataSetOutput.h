// A data set file written through the data set writer to a file (atomically) or to standard
// output ("-"). The writer works on file names, so the text is made in a private temporary file
// first and then copied to its destination.
#pragma once

#include <iosfwd>
#include <string>

#include "DataObject/Data.h"

namespace synapsor {

// The file's text, written to out.
void WriteDataSetText(std::ostream& out, Data* first, Data* second);
void WriteDataSetOutput(const std::string& file, Data* first, Data* second, std::ostream& console);

}  // namespace synapsor
