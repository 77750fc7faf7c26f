// check: what the trainer would make of a parameter file, before a long run is started. The file
// is read with the trainer's own reader; the words it skips although they look like settings,
// keys given twice, learning parameters out of their useful range, files that do not exist, and
// everything the trainer would refuse in the network and the data set (with its message) become
// findings with the position in the parameter file they concern.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace synapsor {

struct CheckFinding {
    int line = 1;
    int column = 1;
    bool error = false;  // the trainer would not start (or would fail) because of it
    std::string message;
};

// Findings in order of position. A parameter file that cannot be opened is a ToolError.
std::vector<CheckFinding> CheckParameterFile(const std::string& file);

// "FILE:LINE:COLUMN: warning|error: MESSAGE"
std::string FormatFinding(const std::string& file, const CheckFinding& finding);

}  // namespace synapsor
