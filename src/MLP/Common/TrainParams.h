// The learning parameters handed to the trainer: a "Params" structure with "LearningRate" and
// "Momentum", a "WeightPenalty" (LWF :ForgettingRate :LearningRate) when forgetting is on, and
// "batch" true in batch mode; with Algorithm rprop or adam "Algorithm" and the rate as given
// ("%.17g"; absent when not given, for the rule's own default), with adam "Beta1", "Beta2" and
// "Epsilon" ("%.17g"), and "BatchSize" when given. The caller owns the returned structure.
#pragma once

#include <memory>

#include "KQmessage/KQML.h"
#include "MLP/Common/ParameterFile.h"

namespace synapsor {

std::unique_ptr<TKQstructure> BuildParams(const TrainSettings& settings);

}  // namespace synapsor
