// The per-weight arithmetic of an update, written once for every route: the penalty's gradient
// term and the update rules' steps, as functions of Highway vectors. The kernel calls them on
// full vectors and, for the weights left over, on one-lane vectors; the visitor route
// (TrainVisitors.cpp) calls the one-lane forms. Each lane is one weight on its own, and a
// one-lane operation rounds exactly as the plain scalar one, so every route gives the same bits
// on every vector target. No multiply and add may be fused (-ffp-contract=off, no MulAdd).
//
// An update rule is a small type built from the pass's TLearnParams:
//   static constexpr std::size_t kStateArrays;  // 0 .. kMaxRuleState per-weight arrays
//   bool UsesState() const;                     // false: the state arrays are not read or written
//   template <class D> Vec<D> Step(D d, Vec<D> w, Vec<D> g, Vec<D>* state) const;
// Step returns the new weight from the weight w and its complete gradient g (error and penalty
// terms), updating state[0 .. kStateArrays). Online the kernel calls it as soon as a weight has
// passed its error down (the pattern's gradient is then complete for that weight); in batch, once
// per pass over the pass's summed gradient. DispatchRule calls a functor with the rule of a pass,
// so the choice of rule is made once per pass, outside every loop. A new rule's type goes in a
// -inl.h file of its own with the same per-target include guard, included here ahead of
// DispatchRule.

// Per-target include guard, as Highway's own -inl.h files do.
#if defined(SYNAPSOR_TRAINING_UPDATERULE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SYNAPSOR_TRAINING_UPDATERULE_INL_H_
#undef SYNAPSOR_TRAINING_UPDATERULE_INL_H_
#else
#define SYNAPSOR_TRAINING_UPDATERULE_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "Training/UpdateRule.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

// g plus the derivative of the penalty at w.
// "QUADPENALTY" (weight elimination plus quadratic decay): g + 2w * (A * beta / (1 + beta w^2)^2 +
// B). "LWF" (learning with forgetting): g + sgn(w) * rate * step.
template <class D>
HWY_INLINE hn::Vec<D> AddPenalty(D d, const TPenaltyTerms& t, hn::Vec<D> w, hn::Vec<D> g) {
    if (t.kind == TPenaltyKind::Quad) {
        const auto q = hn::Add(hn::Set(d, 1.0), hn::Mul(hn::Set(d, t.beta), hn::Mul(w, w)));
        const auto aBeta = hn::Set(d, t.decayA * t.beta);
        const auto factor = hn::Add(hn::Div(aBeta, hn::Mul(q, q)), hn::Set(d, t.decayB));
        return hn::Add(g, hn::Mul(hn::Mul(hn::Set(d, 2.0), w), factor));
    }
    if (t.kind == TPenaltyKind::LWF) {
        const auto zero = hn::Zero(d);
        const auto sgn = hn::IfThenElse(hn::Lt(w, zero), hn::Set(d, -1.0),
                                        hn::IfThenElseZero(hn::Gt(w, zero), hn::Set(d, 1.0)));
        const auto term =
            hn::Mul(hn::Mul(sgn, hn::Set(d, t.forgettingRate)), hn::Set(d, t.forgettingStep));
        return hn::Add(g, term);
    }
    return g;
}

// Back-propagation with momentum: change := -(rate * g) + momentum * lastChange;
// lastChange := change; w := w + change. Without momentum the plain step w := w - rate * g, which
// leaves the last change as it is.
struct TBackpropRule {
    static constexpr std::size_t kStateArrays = 1;

    explicit TBackpropRule(const TLearnParams& p) : rate(p.learningRate), momentum(p.momentum) {}
    TBackpropRule(double learningRate, double m) : rate(learningRate), momentum(m) {}

    bool UsesState() const { return momentum != 0.0; }
    // Called once before every update with the update's number (from 1): rules with per-run
    // scalars (Adam's bias corrections) set them here.
    void BeginUpdate(std::uint64_t /*step*/) {}

    template <class D>
    HWY_INLINE hn::Vec<D> Step(D d, hn::Vec<D> w, hn::Vec<D> g, hn::Vec<D>* state) const {
        if (momentum == 0.0)
            return hn::Sub(w, hn::Mul(hn::Set(d, rate), g));
        const auto change =
            hn::Add(hn::Neg(hn::Mul(hn::Set(d, rate), g)), hn::Mul(hn::Set(d, momentum), state[0]));
        state[0] = change;
        return hn::Add(w, change);
    }

    double rate;
    double momentum;
};

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#include "Training/AdamRule-inl.h"
#include "Training/RpropRule-inl.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

// Calls f(rule) with the rule the pass's parameters name.
template <class F>
HWY_INLINE void DispatchRule(const TLearnParams& p, F&& f) {
    switch (p.rule) {
        case TUpdateRuleKind::Backprop:
            f(TBackpropRule(p));
            break;
        case TUpdateRuleKind::Rprop:
            f(TRpropRule(p));
            break;
        case TUpdateRuleKind::Adam:
            f(TAdamRule(p));
            break;
    }
}

// ---- one weight at a time ----

using D1 = hn::CappedTag<double, 1>;

HWY_INLINE double AddPenaltyOne(const TPenaltyTerms& t, double w, double g) {
    const D1 d;
    return hn::GetLane(AddPenalty(d, t, hn::Set(d, w), hn::Set(d, g)));
}

// The rule's step for the single weight *w with state cells state[k][0].
template <class Rule>
HWY_INLINE void StepOne(const Rule& rule, double* w, double g, double* const* state) {
    const D1 d;
    hn::Vec<D1> s[kMaxRuleState];
    const bool uses = rule.UsesState();
    for (std::size_t k = 0; k < Rule::kStateArrays; k++)
        s[k] = uses ? hn::Set(d, *state[k]) : hn::Zero(d);
    *w = hn::GetLane(rule.Step(d, hn::Set(d, *w), hn::Set(d, g), s));
    if (uses)
        for (std::size_t k = 0; k < Rule::kStateArrays; k++)
            *state[k] = hn::GetLane(s[k]);
}

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#endif  // include guard
