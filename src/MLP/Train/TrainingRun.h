// The training run: load the network and the data set, install the feature selection, check
// that the data fit the network, train for the given epochs printing "<epoch> <error>" per
// line on standard output, and write the result (see SaveNetwork.h). Called once the settings
// have passed CheckSettings; returns the program's exit status. File errors are reported on
// standard output, followed by the line that says where on standard error; TExceptions on
// standard error (FailureReport.h). Data holding nan or inf is refused before the first epoch,
// and a run whose error or weights stop being finite numbers stops after that epoch's line, each
// with one line on standard error. Every failure gives status 1 and leaves the destination as it
// was; the temporary file beside it exists from before the first epoch until the end.
// Warnings that do not stop the run go to warn, with the key of the setting they concern:
// expected outputs the output layer cannot produce ("TrainingFile", before the first epoch) and
// a training error whose printed digits stay the same for kStallEpochs epochs in a row
// ("Epochs", once per run, not when the error is 0).
#pragma once

#include <functional>
#include <string>

#include "MLP/Common/ParameterFile.h"

namespace synapsor {

using TrainingWarning = std::function<void(const char* key, const std::string& message)>;

constexpr int kStallEpochs = 50;

int RunTraining(const TrainSettings& settings, const TrainingWarning& warn = {});

}  // namespace synapsor
