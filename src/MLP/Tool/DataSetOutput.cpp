#include "MLP/Tool/DataSetOutput.h"

#include <ostream>

#include "FileHandler/Filer.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

void WriteDataSetText(std::ostream& out, Data* first, Data* second) {
    FileTools tools;
    const std::int32_t code = tools.WriteDataSet(out, first, second);
    // A failed stream is reported by whoever owns it, with the reason the system gave.
    if (code != FileTools::SUCCESS && code != FileTools::FILE_WRITE_FAILED)
        throw ToolError("cannot write a data set: its parts do not fit together");
}

void WriteDataSetOutput(const std::string& file, Data* first, Data* second, std::ostream& console) {
    WriteToolOutput(file, "data set file", console,
                    [&](std::ostream& out) { WriteDataSetText(out, first, second); });
}

}  // namespace synapsor
