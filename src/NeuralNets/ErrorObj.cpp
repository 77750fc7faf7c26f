#include "NeuralNets/ErrorObj.h"

#include <cmath>
#include <string>
#include <typeinfo>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "Common/StrCase.h"
#include "KQmessage/KQML.h"

namespace synapsor {

double RequiredLWFNumber(const TKQstructure* penalty, const char* keyword, const char* location) {
    const TKQstructure* v = penalty->FindValue(keyword);
    if (v == nullptr) {
        const std::string message = std::string("The LWF weight penalty needs ") + keyword;
        throw TException(message.c_str(), "Bad Parameter", location);
    }
    return ToNumber(v->GetHead());
}

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

void TErrorObj::Merge(const TErrorObj& /*other*/) {
    SYN_ASSERT(false);
}

void TErrorRMSObj::Merge(const TErrorObj& other) {
    SYN_ASSERT(typeid(other) == typeid(TErrorRMSObj) && other.numOutputs == numOutputs);
    sum += static_cast<const TErrorRMSObj&>(other).sum;
    numPatterns += other.numPatterns;
}

void TErrorObj::AddPatternSum(double /*patternSum*/, int /*patterns*/) {
    SYN_ASSERT(false);
}

double TErrorObj::PatternSum() const {
    SYN_ASSERT(false);
    return 0.0;
}

void TErrorRMSObj::AddPatternSum(double patternSum, int patterns) {
    sum += patternSum;
    numPatterns += patterns;
}

void TErrorCrossEntropyObj::AddPatternSum(double patternSum, int patterns) {
    sum += patternSum;
    numPatterns += patterns;
}

std::unique_ptr<TErrorObj> TErrorRMSObj::NewEmpty() const {
    return std::make_unique<TErrorRMSObj>(numOutputs);
}

void TErrorCrossEntropyObj::Merge(const TErrorObj& other) {
    SYN_ASSERT(typeid(other) == typeid(TErrorCrossEntropyObj) && other.numOutputs == numOutputs);
    sum += static_cast<const TErrorCrossEntropyObj&>(other).sum;
    numPatterns += other.numPatterns;
}

std::unique_ptr<TErrorObj> TErrorCrossEntropyObj::NewEmpty() const {
    return std::make_unique<TErrorCrossEntropyObj>(numOutputs);
}

double TErrorObj::CalcPenalty(int numWeights, const double* weights, TKQstructure* penalty,
                              double scale) {
    if (penalty == nullptr || strcasecmp(penalty->GetHead(), "NONE") == 0)
        return 0.0;
    if (strcasecmp(penalty->GetHead(), "QUADPENALTY") == 0) {
        const double epsilon1 = NumberOr(penalty, "EPSILON1", 0.0);
        const double epsilon2 = NumberOr(penalty, "EPSILON2", 0.0);
        const double beta = NumberOr(penalty, "BETA", 1.0);
        double sum = 0.0;
        for (int i = 0; i < numWeights; i++) {
            const double w2 = weights[i] * weights[i];
            sum += scale * (epsilon1 * beta * w2 / (beta * w2 + 1.0) + epsilon2 * w2);
        }
        return sum;
    }
    if (strcasecmp(penalty->GetHead(), "LWF") == 0) {
        const double forgettingRate =
            RequiredLWFNumber(penalty, "FORGETTINGRATE", "TErrorObj::CalcPenalty");
        const double rate = RequiredLWFNumber(penalty, "LEARNINGRATE", "TErrorObj::CalcPenalty");
        double sum = 0.0;
        for (int i = 0; i < numWeights; i++)
            sum += std::fabs(weights[i]);
        return rate * forgettingRate * sum;
    }
    SYN_ASSERT(false);
    return 0.0;
}

}  // namespace synapsor
