// Rprop as an update rule (see UpdateRule-inl.h), in the variant without weight-backtracking:
// every weight has its own step size; the step grows by kRpropIncrease while the gradient keeps
// its sign and shrinks by kRpropDecrease when the sign changes, within [kRpropMinStep,
// kRpropMaxStep]. After a change of sign the weight stays where it is and its gradient counts as
// zero for the next comparison. Per-weight state: 0 the change applied (as the trainer's
// `lastChange` shows it), 1 the gradient remembered for the next comparison, 2 the step size
// (0 until the weight's first update, which starts from the first step).

#if defined(SYNAPSOR_TRAINING_RPROPRULE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SYNAPSOR_TRAINING_RPROPRULE_INL_H_
#undef SYNAPSOR_TRAINING_RPROPRULE_INL_H_
#else
#define SYNAPSOR_TRAINING_RPROPRULE_INL_H_
#endif

#include <hwy/highway.h>

#include <cstddef>
#include <cstdint>

#include "Training/UpdateRule.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

struct TRpropRule {
    static constexpr std::size_t kStateArrays = 3;

    explicit TRpropRule(const TLearnParams& p) : firstStep(p.rpropFirstStep) {}

    bool UsesState() const { return true; }
    void BeginUpdate(std::uint64_t /*step*/) {}

    // prod = previous * g; step = (stored step or the first step), times kRpropIncrease
    // (at most kRpropMaxStep) when prod > 0, times kRpropDecrease (at least kRpropMinStep) and
    // g := 0 when prod < 0; change = -sign(g) * step; w + change.
    template <class D>
    HWY_INLINE hn::Vec<D> Step(D d, hn::Vec<D> w, hn::Vec<D> g, hn::Vec<D>* state) const {
        const auto zero = hn::Zero(d);
        const auto prod = hn::Mul(state[1], g);
        const auto stored = state[2];
        auto step = hn::IfThenElse(hn::Eq(stored, zero), hn::Set(d, firstStep), stored);
        const auto grow = hn::Gt(prod, zero);
        const auto shrink = hn::Lt(prod, zero);
        step = hn::IfThenElse(
            grow, hn::Min(hn::Mul(step, hn::Set(d, kRpropIncrease)), hn::Set(d, kRpropMaxStep)),
            step);
        step = hn::IfThenElse(
            shrink, hn::Max(hn::Mul(step, hn::Set(d, kRpropDecrease)), hn::Set(d, kRpropMinStep)),
            step);
        const auto gKept = hn::IfThenElse(shrink, zero, g);
        const auto change = hn::IfThenElse(hn::Gt(gKept, zero), hn::Neg(step),
                                           hn::IfThenElseZero(hn::Lt(gKept, zero), step));
        state[0] = change;
        state[1] = gKept;
        state[2] = step;
        return hn::Add(w, change);
    }

    double firstStep;
};

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#endif  // include guard
