// The learning parameters of a pass and the update rules that use them. An update rule turns a
// weight's complete gradient (the error's, plus the penalty's term) into the weight's new value,
// keeping whatever per-weight state it needs in arrays laid out like the weights. Its per-weight
// arithmetic lives in UpdateRule-inl.h, which every training route includes; this header holds
// what the rest of the trainer needs to know about the rules without vector code.
#pragma once

#include <cstddef>

namespace synapsor {

class TKQstructure;

// The rules, one per update algorithm. Registering one: an enumerator here, and its type (in a
// file of its own, included by UpdateRule-inl.h) in a case of DispatchRule (UpdateRule-inl.h).
// Backprop: gradient descent with momentum. Rprop: sign-based steps with per-weight step sizes,
// without weight-backtracking. Adam: moment estimates with bias correction.
enum class TUpdateRuleKind { Backprop, Rprop, Adam };

// The most per-weight state arrays a rule may keep.
constexpr std::size_t kMaxRuleState = 3;

// How many per-weight state arrays `rule` keeps (its type's kStateArrays). The first is the
// trainer's `lastChange` copy (so back-propagation with momentum keeps showing its last change
// there); the others are held by the training plan.
std::size_t RuleStateArrays(TUpdateRuleKind rule);

enum class TPenaltyKind { None, Quad, LWF };

// The constants of a penalty's gradient term for one call of the penalty.
struct TPenaltyTerms {
    TPenaltyKind kind = TPenaltyKind::None;
    // "QUADPENALTY": decayA and decayB already carry the rate and the share of a pass.
    double decayA = 0.0;
    double decayB = 0.0;
    double beta = 1.0;
    // "LWF"
    double forgettingRate = 0.0;
    double forgettingStep = 0.0;
};

// The terms of `penalty` (head "NONE", "QUADPENALTY" or "LWF"; null means none) for a call that
// stands for share / whole of a pass with learning rate `rate`: "QUADPENALTY" scales its decays
// by rate * share / whole, "LWF" adds its term in full whatever the share. An "LWF" penalty
// without "FORGETTINGRATE", or with rate 0, throws TException ("Bad Parameter", `location`).
// The one place the constants are computed, for the kernel and the visitor route alike.
TPenaltyTerms PenaltyTerms(const TKQstructure* penalty, double rate, int share, int whole,
                           const char* location);

// The learning parameters of one pass, parsed once from the parameter structure.
struct TLearnParams {
    bool batch = false;
    bool crossEntropy = false;
    TUpdateRuleKind rule = TUpdateRuleKind::Backprop;
    double learningRate = 0.0;
    double momentum = 0.0;
    // The penalty terms of one update: online one pattern's, batch the pass's, with mini-batches
    // a full group's (lastPenalty: the pass's last group, which may be smaller).
    TPenaltyTerms penalty;
    // Rows per update in a pass; 0: one update per pattern (online) or per pass (batch).
    int batchSize = 0;
    TPenaltyTerms lastPenalty;
    // Rprop: the first step of every weight. Adam: its decay rates and the denominator's guard.
    double rpropFirstStep = 0.1;
    double beta1 = 0.9;
    double beta2 = 0.999;
    double epsilon = 1e-8;
};

// Rprop's fixed constants: step growth after a kept sign, shrink after a change, and bounds.
constexpr double kRpropIncrease = 1.2;
constexpr double kRpropDecrease = 0.5;
constexpr double kRpropMinStep = 1e-6;
constexpr double kRpropMaxStep = 50.0;

}  // namespace synapsor
