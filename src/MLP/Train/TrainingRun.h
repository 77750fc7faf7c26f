// The training run: load the network and the data set, install the feature selection, check
// that the data fit the network, train for the given epochs printing "<epoch> <error>" per
// line on standard output, and write the result (see SaveNetwork.h). Called once the settings
// have passed CheckSettings; returns the program's exit status. File errors are reported on
// standard output, TExceptions on standard error (FailureReport.h); both give status 1.
#pragma once

#include "MLP/Common/ParameterFile.h"

namespace synapsor {

int RunTraining(const TrainSettings& settings);

}  // namespace synapsor
