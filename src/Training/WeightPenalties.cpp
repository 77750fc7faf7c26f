// Weight penalties: a term depending only on the weights, added to the training error
// (TErrorObj::CalcPenalty) and, as its derivative, to the trainer's accumulated gradient
// (TTrainModule::AddPenaltyGradient and the kernel). The penalty structure's head chooses "NONE",
// "QUADPENALTY" (weight elimination plus quadratic decay) or "LWF" (learning with forgetting).
// The constants of the derivative are computed here only (PenaltyTerms).
#include <string>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "Common/StrCase.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ErrorObj.h"
#include "Training/TrainModule.h"
#include "Training/TrainVisitors.h"
#include "Training/UpdateRule.h"

namespace synapsor {

TPenaltyTerms PenaltyTerms(const TKQstructure* penalty, double rate, int share, int whole,
                           const char* location) {
    TPenaltyTerms t;
    if (penalty == nullptr || strcasecmp(penalty->GetHead(), "NONE") == 0)
        return t;
    if (strcasecmp(penalty->GetHead(), "QUADPENALTY") == 0) {
        const double part = static_cast<double>(share);
        const double all = static_cast<double>(whole);
        t.kind = TPenaltyKind::Quad;
        t.decayA = NumberOr(penalty, "EPSILON1", 0.0) * rate * part / all;
        t.decayB = NumberOr(penalty, "EPSILON2", 0.0) * rate * part / all;
        t.beta = NumberOr(penalty, "BETA", 1.0);
    } else if (strcasecmp(penalty->GetHead(), "LWF") == 0) {
        // The term is added in full at every call, whatever share of a pass the call stands for.
        t.kind = TPenaltyKind::LWF;
        t.forgettingRate = RequiredLWFNumber(penalty, "FORGETTINGRATE", location);
        if (rate == 0.0) {
            // The step F / rate would be infinite and turn every weight into nan.
            throw TException("The LWF weight penalty needs a learning rate other than 0",
                             "Bad Parameter", location);
        }
        t.forgettingStep = t.forgettingRate / rate;
    } else {
        SYN_ASSERT(false);
    }
    return t;
}

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
    if (strcasecmp(head, "QUADPENALTY") != 0 && strcasecmp(head, "LWF") != 0)
        SYN_ASSERT(false);
    const TPenaltyTerms t =
        PenaltyTerms(penalty, rate, numerator, denominator, "TTrainModule::AddPenaltyGradient");
    TIterateObj2CalcPenaltyTerm quad(t.decayA, t.decayB, t.beta);
    TIterateObjLWFCalcPenaltyTerm lwf(t.forgettingRate, t.forgettingStep);
    TIterateObj2& v = t.kind == TPenaltyKind::Quad ? static_cast<TIterateObj2&>(quad) : lwf;
    const int n = network->GetNumLayers();
    for (int f = 0; f < n; f++) {
        for (int to = 0; to < n; to++) {
            TBasicConnections* conns = network->GetConnections(f, to);
            if (!conns->IsConnected())
                continue;
            conns->Iterate2(v, gradient.get(), 0);
        }
    }
}

}  // namespace synapsor
