#include "MLP/Common/TrainParams.h"

#include <cstdio>

namespace synapsor {

namespace {

// The new options reach the trainer as read: seventeen significant digits give back the very
// double (six decimals would turn Epsilon = 1e-8 into 0).
void SetExact(TKQstructure& params, const char* key, double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%.17g", value);
    params.SetString(key, text);
}

}  // namespace

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
    // Only what the file gave: without the new keys the structure is as it always was.
    if (settings.Algorithm != "backprop") {
        params->SetString("Algorithm", settings.Algorithm.c_str());
        // The rate as the float holds it, not cut to six decimals (Adam's rates are small).
        if (settings.IsGiven("LearningRate"))
            SetExact(*params, "LearningRate", static_cast<double>(settings.LearningRate));
        else
            params->RemoveValue("LearningRate");
    }
    if (settings.Algorithm == "adam") {
        SetExact(*params, "Beta1", settings.Beta1);
        SetExact(*params, "Beta2", settings.Beta2);
        SetExact(*params, "Epsilon", settings.Epsilon);
    }
    if (settings.BatchSize > 0)
        params->SetInteger("BatchSize", settings.BatchSize);
    return params;
}

}  // namespace synapsor
