// The update and penalty visitors of TrainVisitors.h, one weight at a time through the one-lane
// forms of the kernel's per-weight arithmetic (compiled here for the baseline vector target; a
// one-lane operation rounds as the scalar one on every target).
#include "Training/TrainVisitors.h"

#include <hwy/highway.h>

#include "Training/UpdateRule-inl.h"

namespace synapsor {

namespace hwy_ops = HWY_NAMESPACE;

void TIterateObj2Update::Visit() {
    hwy_ops::StepOne(hwy_ops::TBackpropRule(learningRate, 0.0), weight, *weight2, nullptr);
}

void TIterateObj3UpdateMomentum::Visit() {
    double* state[kMaxRuleState] = {weight3};
    hwy_ops::StepOne(hwy_ops::TBackpropRule(learningRate, momentum), weight, *weight2, state);
}

void TIterateObj2CalcPenaltyTerm::Visit() {
    TPenaltyTerms t;
    t.kind = TPenaltyKind::Quad;
    t.decayA = decayA;
    t.decayB = decayB;
    t.beta = beta;
    *weight2 = hwy_ops::AddPenaltyOne(t, *weight, *weight2);
}

void TIterateObjLWFCalcPenaltyTerm::Visit() {
    TPenaltyTerms t;
    t.kind = TPenaltyKind::LWF;
    t.forgettingRate = forgettingRate;
    t.forgettingStep = forgettingStep;
    *weight2 = hwy_ops::AddPenaltyOne(t, *weight, *weight2);
}

}  // namespace synapsor
