// The command line of a training program (Synapsor, synapsor-mpi): "PROGRAM parameter.file",
// or "--help" and "--version" (printed on standard output with status 0 when no file of that
// name exists). It reads the parameter file, names what the reader noted on standard error,
// refuses settings that fail CheckSettings or CheckTrainingOptions with the place of the key's
// value, and hands the settings to `run` with a warning function that names the line of a key.
// Usage and parameter errors go to standard error with exit status 1. A process that is not the
// lead of a shared run prints nothing and returns the same status as the lead.
#pragma once

#include <functional>
#include <vector>

#include "MLP/Common/ParameterFile.h"
#include "MLP/Train/TrainingRun.h"

namespace synapsor {

struct TTrainProgram {
    const char* name = "Synapsor";  // as --version prints it
    const char* usage = "";         // the usage line
    const char* help = "";          // what --help prints after it
    bool lead = true;
    // The program's own limits, checked after CheckTrainingOptions and reported the same way.
    std::function<std::vector<SettingProblem>(const TrainSettings&)> checks;
    std::function<int(const TrainSettings&, const TrainingWarning&)> run;
};

int RunTrainProgram(int argc, char** argv, const TTrainProgram& program);

}  // namespace synapsor
