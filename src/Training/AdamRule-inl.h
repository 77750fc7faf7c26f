// Adam as an update rule (see UpdateRule-inl.h), with bias correction. The step counter t counts
// the updates of the run (the plan keeps it); BeginUpdate takes t once per update and computes
// the corrections 1 - beta1^t and 1 - beta2^t, so the per-weight step stays free of powers.
// Per-weight state: 0 the change applied (as the trainer's `lastChange` shows it), 1 the first
// moment m, 2 the second moment v.

#if defined(SYNAPSOR_TRAINING_ADAMRULE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SYNAPSOR_TRAINING_ADAMRULE_INL_H_
#undef SYNAPSOR_TRAINING_ADAMRULE_INL_H_
#else
#define SYNAPSOR_TRAINING_ADAMRULE_INL_H_
#endif

#include <hwy/highway.h>

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "Training/UpdateRule.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

struct TAdamRule {
    static constexpr std::size_t kStateArrays = 3;

    explicit TAdamRule(const TLearnParams& p)
        : rate(p.learningRate), beta1(p.beta1), beta2(p.beta2), epsilon(p.epsilon) {}

    bool UsesState() const { return true; }
    void BeginUpdate(std::uint64_t t) {
        const double steps = static_cast<double>(t);
        correction1 = 1.0 - std::pow(beta1, steps);
        correction2 = 1.0 - std::pow(beta2, steps);
    }

    // m = beta1 * m + (1 - beta1) * g; v = beta2 * v + (1 - beta2) * (g * g);
    // change = -((rate * (m / correction1)) / (sqrt(v / correction2) + epsilon)); w + change.
    template <class D>
    HWY_INLINE hn::Vec<D> Step(D d, hn::Vec<D> w, hn::Vec<D> g, hn::Vec<D>* state) const {
        const auto m =
            hn::Add(hn::Mul(hn::Set(d, beta1), state[1]), hn::Mul(hn::Set(d, 1.0 - beta1), g));
        const auto v = hn::Add(hn::Mul(hn::Set(d, beta2), state[2]),
                               hn::Mul(hn::Set(d, 1.0 - beta2), hn::Mul(g, g)));
        const auto mHat = hn::Div(m, hn::Set(d, correction1));
        const auto vHat = hn::Div(v, hn::Set(d, correction2));
        const auto change = hn::Neg(
            hn::Div(hn::Mul(hn::Set(d, rate), mHat), hn::Add(hn::Sqrt(vHat), hn::Set(d, epsilon))));
        state[0] = change;
        state[1] = m;
        state[2] = v;
        return hn::Add(w, change);
    }

    double rate;
    double beta1;
    double beta2;
    double epsilon;
    double correction1 = 1.0;
    double correction2 = 1.0;
};

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#endif  // include guard
