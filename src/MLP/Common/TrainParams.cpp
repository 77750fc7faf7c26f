#include "MLP/Common/TrainParams.h"

namespace synapsor {

std::unique_ptr<TKQstructure> BuildParams(const TrainSettings& settings) {
    // The settings are single-precision; each is widened to double and written with six
    // decimals, so 0.005f reaches the trainer as 0.005000.
    auto params = std::make_unique<TKQstructure>("Params");
    params->SetNumber("LearningRate", static_cast<double>(settings.LearningRate));
    params->SetNumber("Momentum", static_cast<double>(settings.Momentum));
    if (settings.LWF) {
        auto penalty = std::make_unique<TKQstructure>("LWF");
        penalty->SetNumber("ForgettingRate", static_cast<double>(settings.ForgettingRate));
        penalty->SetNumber("LearningRate", static_cast<double>(settings.LearningRate));
        params->SetValue("WeightPenalty", std::move(penalty));
    }
    if (settings.Batch)
        params->SetString("batch", "true");
    return params;
}

}  // namespace synapsor
