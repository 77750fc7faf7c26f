// The training run: load network and data set, train for the given epochs, write the result.
// Called once the settings have passed CheckSettings; returns the program's exit status.
#pragma once

#include "MLP/Train/ParameterFile.h"

namespace synapsor {

int RunTraining(const TrainSettings& settings);

}  // namespace synapsor
