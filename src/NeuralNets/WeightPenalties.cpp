// Weight penalties: a term depending only on the weights, added to the training error
// (TErrorObj::CalcPenalty) and, as its derivative, to the trainer's accumulated gradient
// (TTrainModule::AddPenaltyGradient). The penalty structure's head chooses "NONE", "QUADPENALTY"
// (weight elimination plus quadratic decay) or "LWF" (learning with forgetting).
#include <cmath>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "Common/StrCase.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ErrorObj.h"
#include "NeuralNets/TrainModule.h"
#include "NeuralNets/TrainVisitors.h"

namespace synapsor {

namespace {

double NumberOr(const TKQstructure* s, const char* keyword, double absent) {
    const TKQstructure* v = s->FindValue(keyword);
    return v ? ToNumber(v->GetHead()) : absent;
}

// An "LWF" structure must name its rates: there is no sensible default for how fast to forget.
double RequiredLWFNumber(const TKQstructure* penalty, const char* keyword, const char* location) {
    const TKQstructure* v = penalty->FindValue(keyword);
    if (v == nullptr) {
        const std::string message = std::string("The LWF weight penalty needs ") + keyword;
        throw TException(message.c_str(), "Bad Parameter", location);
    }
    return ToNumber(v->GetHead());
}

}  // namespace

void TTrainModule::CheckPenalty(TKQstructure* penalty, double rate) {
    if (strcasecmp(penalty->GetHead(), "LWF") != 0)
        return;
    const char* location = "TTrainModule::TrainEpoch";
    RequiredLWFNumber(penalty, "FORGETTINGRATE", location);
    RequiredLWFNumber(penalty, "LEARNINGRATE", location);
    if (rate == 0.0) {
        throw TException("The LWF weight penalty needs a learning rate other than 0",
                         "Bad Parameter", location);
    }
}

void TTrainModule::AddPenaltyGradient(TKQstructure* penalty, int numerator, int denominator,
                                      double rate) {
    const char* head = penalty->GetHead();
    const int n = network->GetNumLayers();
    if (strcasecmp(head, "QUADPENALTY") == 0) {
        const double share = static_cast<double>(numerator);
        const double whole = static_cast<double>(denominator);
        const double decayA = NumberOr(penalty, "EPSILON1", 0.0) * rate * share / whole;
        const double decayB = NumberOr(penalty, "EPSILON2", 0.0) * rate * share / whole;
        const double beta = NumberOr(penalty, "BETA", 1.0);
        TIterateObj2CalcPenaltyTerm v(decayA, decayB, beta);
        for (int f = 0; f < n; f++) {
            for (int t = 0; t < n; t++) {
                TBasicConnections* conns = network->GetConnections(f, t);
                if (!conns->IsConnected())
                    continue;
                conns->Iterate2(v, gradient.get(), 0);
            }
        }
    } else if (strcasecmp(head, "LWF") == 0) {
        // The term is added in full at every call, whatever share of a pass the call stands for.
        const double forgettingRate =
            RequiredLWFNumber(penalty, "FORGETTINGRATE", "TTrainModule::AddPenaltyGradient");
        if (rate == 0.0) {
            // The step F / rate would be infinite and turn every weight into nan.
            throw TException("The LWF weight penalty needs a learning rate other than 0",
                             "Bad Parameter", "TTrainModule::AddPenaltyGradient");
        }
        const double forgettingStep = forgettingRate / rate;
        TIterateObjLWFCalcPenaltyTerm v(forgettingRate, forgettingStep);
        for (int f = 0; f < n; f++) {
            for (int t = 0; t < n; t++) {
                TBasicConnections* conns = network->GetConnections(f, t);
                if (!conns->IsConnected())
                    continue;
                conns->Iterate2(v, gradient.get(), 0);
            }
        }
    } else {
        SYN_ASSERT(false);
    }
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
