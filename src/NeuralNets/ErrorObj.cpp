#include "NeuralNets/ErrorObj.h"

#include <cmath>
#include <string>

#include "Common/Exceptions.h"

namespace synapsor {

void TErrorRMSObj::Reset() {
    numPatterns = 0;
    sum = 0.0;
}

void TErrorRMSObj::AddPattern(const double* target, const double* output) {
    for (int k = 0; k < numOutputs; k++) {
        const double diff = target[k] - output[k];
        sum += diff * diff;
    }
    numPatterns += 1;
}

double TErrorRMSObj::GetError() {
    // An error over no patterns or no outputs would be 0/0: report it instead of returning nan.
    if (numPatterns <= 0 || numOutputs <= 0) {
        throw TException(numPatterns <= 0 ? "No patterns to compute the RMS error over"
                                          : "No outputs to compute the RMS error over",
                         "Bad Parameter", "TErrorRMSObj::GetError");
    }
    return std::sqrt(sum / numOutputs / numPatterns);
}

void TErrorRMSObj::AddPenalty(int numWeights, const double* weights, TKQstructure* penalty) {
    sum += CalcPenalty(numWeights, weights, penalty, 1.0);
}

void TErrorCrossEntropyObj::Reset() {
    numPatterns = 0;
    sum = 0.0;
}

void TErrorCrossEntropyObj::AddPattern(const double* target, const double* output) {
    // Outputs are checked before anything is summed, so that a rejected pattern leaves the
    // object unchanged. Outputs of exactly 0 or 1 are handled by rule below; any other output
    // outside (0, 1) lies outside the logarithms' domain.
    for (int k = 0; k < numOutputs; k++) {
        if (!(output[k] >= 0.0 && output[k] <= 1.0)) {
            const std::string message = "Cross-entropy needs outputs between 0 and 1; output " +
                                        std::to_string(k) + " lies outside";
            throw TException(message.c_str(), "Bad Parameter", "TErrorCrossEntropyObj::AddPattern");
        }
    }
    for (int k = 0; k < numOutputs; k++) {
        const double t = target[k];
        const double o = output[k];
        if (o == 1.0) {
            sum += t == 1.0 ? 0.0 : 1000000.0;
        } else if (o == 0.0) {
            // The mirror image of the rule at 1.0: ln(0) is not a number the sum can carry.
            sum += t == 0.0 ? 0.0 : 1000000.0;
        } else {
            sum += -t * std::log(o) - (1.0 - t) * std::log(1.0 - o);
        }
    }
    numPatterns += 1;
}

double TErrorCrossEntropyObj::GetError() {
    return sum;
}

void TErrorCrossEntropyObj::AddPenalty(int numWeights, const double* weights,
                                       TKQstructure* penalty) {
    sum += CalcPenalty(numWeights, weights, penalty, 1.0);
}

}  // namespace synapsor
