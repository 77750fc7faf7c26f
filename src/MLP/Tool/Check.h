// check: what the trainer would make of a parameter file, before a long run is started. The file
// is read with the trainer's own reader, whose notes become warnings (words it skips although they
// look like settings, keys given twice, numbers followed by more text, flag values other than
// true, lines that look commented out) and whose error, placed where reading stopped, an error;
// then learning parameters out of their useful range, files that do not exist, everything the
// trainer would refuse in the network and the data set (with its message), and expected outputs
// the output layer cannot produce become findings at the position in the parameter file they
// concern.
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
