// The forward pass and one pattern's back-propagation over a plan and a worker (TrainKernel.h),
// shared by the online pass and the batch pass's patterns left over after its blocks. Included
// once per vector target by TrainOnline.cpp and TrainBatch.cpp.
//
// The exactness argument, loop by loop:
// - forward pass: the net input of a to-neuron is a sum over its from-neurons in increasing
//   order; the lanes of a vector hold four different to-neurons (rows transposed in registers),
//   each lane adding its own products in that order.
// - back-propagation: the error of from-neuron j grows by w(j, i) * delta_i for i in increasing
//   order; the lanes hold different from-neurons j, the rows are walked in order.
// - gradient, penalty and update touch each weight alone; lanes hold different weights.
// Masked lanes keep their old value (a select), so a pruned or frozen weight adds nothing, not
// even a zero. No multiply-add is fused (-ffp-contract=off, no MulAdd).

#if defined(SYNAPSOR_TRAINING_TRAINPASS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef SYNAPSOR_TRAINING_TRAINPASS_INL_H_
#undef SYNAPSOR_TRAINING_TRAINPASS_INL_H_
#else
#define SYNAPSOR_TRAINING_TRAINPASS_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "NeuralNets/Connections.h"
#include "NeuralNets/ErrorObj.h"
#include "NeuralNets/Layers.h"
#include "Training/TrainKernel.h"
#include "Training/UpdateRule-inl.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<double>;
using D4 = hn::CappedTag<double, 4>;

// The trainable lanes of row-major mask bytes.
HWY_INLINE auto TrainableMask(const unsigned char* m) {
    const DF df;
    const hn::Rebind<uint8_t, DF> d8;
    const hn::Rebind<uint32_t, DF> d32;
    const hn::RebindToUnsigned<DF> d64;
    const auto bytes = hn::PromoteTo(d64, hn::PromoteTo(d32, hn::LoadU(d8, m)));
    const auto all = hn::Set(d64, static_cast<uint64_t>(FMaskAll));
    return hn::RebindMask(df, hn::Eq(hn::And(bytes, all), all));
}

// ---- forward pass ----

// Net inputs of one row, the plain way (rows left over after the groups of four).
HWY_INLINE double RowSum(const TPairPlan& pp, int to, const double* in) {
    const double* w = pp.w + static_cast<std::size_t>(to) * pp.nFrom;
    double sum = 0.0;
    if (pp.allExist) {
        for (int from = 0; from < pp.nFrom; ++from)
            sum += w[from] * in[from];
    } else {
        const unsigned char* m = pp.masks + static_cast<std::size_t>(to) * pp.nFrom;
        for (int from = 0; from < pp.nFrom; ++from)
            if (m[from] & FMaskExists)
                sum += w[from] * in[from];
    }
    return sum;
}

// Sums of K groups of four rows starting at row i0 into net[i0 .. i0 + 4K). The rows are
// transposed through a small tile so that each lane of a four-lane accumulator is one row.
// `rows` below 4 (only with K == 1 and no mask) sums a last, partial group: the missing rows
// repeat the last row and their sums are dropped.
template <int K, bool kMasked>
HWY_INLINE void ForwardGroups(const TPairPlan& pp, const unsigned char* existsT, int i0,
                              const double* in, double* net, int rows = 4) {
    const DF df;
    const D4 d4;
    const std::size_t N = hn::Lanes(df);
    const std::size_t N4 = hn::Lanes(d4);
    const std::size_t parts = 4 / N4;  // four-lane accumulators are 1, 2 or 4 vectors
    const std::size_t nFrom = static_cast<std::size_t>(pp.nFrom);
    HWY_ALIGN double tile[K * 4 * HWY_MAX_BYTES / sizeof(double)];
    using V4 = hn::Vec<D4>;
    V4 acc[K][4];
    for (int g = 0; g < K; ++g)
        for (std::size_t k = 0; k < parts; ++k)
            acc[g][k] = hn::Zero(d4);
    const hn::Rebind<uint8_t, D4> d8;
    const hn::Rebind<uint32_t, D4> d32;
    const hn::RebindToUnsigned<D4> d64;

    auto accumulate = [&](std::size_t j, std::size_t count) {
        for (std::size_t jj = 0; jj < count; ++jj) {
            const V4 x = hn::Set(d4, in[j + jj]);
            for (int g = 0; g < K; ++g) {
                const double* t = tile + static_cast<std::size_t>(g) * 4 * N + 4 * jj;
                for (std::size_t k = 0; k < parts; ++k) {
                    const V4 p = hn::Mul(hn::LoadU(d4, t + k * N4), x);
                    if (kMasked) {
                        const std::size_t group = static_cast<std::size_t>(i0) / 4 + g;
                        const unsigned char* e = existsT + (group * nFrom + j + jj) * 4 + k * N4;
                        const auto bits = hn::PromoteTo(d64, hn::PromoteTo(d32, hn::LoadU(d8, e)));
                        const auto m = hn::RebindMask(d4, hn::Ne(bits, hn::Zero(d64)));
                        acc[g][k] = hn::IfThenElse(m, hn::Add(acc[g][k], p), acc[g][k]);
                    } else {
                        acc[g][k] = hn::Add(acc[g][k], p);
                    }
                }
            }
        }
    };

    std::size_t j = 0;
    for (; j + N <= nFrom; j += N) {
        for (int g = 0; g < K; ++g) {
            const double* w = pp.w + static_cast<std::size_t>(i0 + 4 * g) * nFrom + j;
            const std::size_t r1 = rows > 1 ? nFrom : 0;
            const std::size_t r2 = rows > 2 ? 2 * nFrom : r1;
            const std::size_t r3 = rows > 3 ? 3 * nFrom : r2;
            hn::StoreInterleaved4(hn::LoadU(df, w), hn::LoadU(df, w + r1), hn::LoadU(df, w + r2),
                                  hn::LoadU(df, w + r3), df,
                                  tile + static_cast<std::size_t>(g) * 4 * N);
        }
        accumulate(j, N);
    }
    if (j < nFrom) {
        const std::size_t rest = nFrom - j;
        for (int g = 0; g < K; ++g) {
            for (std::size_t jj = 0; jj < rest; ++jj)
                for (std::size_t r = 0; r < 4; ++r) {
                    const int row = i0 + 4 * g + std::min(static_cast<int>(r), rows - 1);
                    tile[static_cast<std::size_t>(g) * 4 * N + 4 * jj + r] =
                        pp.w[static_cast<std::size_t>(row) * nFrom + j + jj];
                }
        }
        accumulate(j, rest);
    }
    HWY_ALIGN double sums[4];
    for (int g = 0; g < K; ++g) {
        for (std::size_t k = 0; k < parts; ++k)
            hn::Store(acc[g][k], d4, sums + k * N4);
        for (int r = 0; r < rows; ++r)
            net[i0 + 4 * g + r] += sums[r];
    }
}

template <bool kMasked>
HWY_INLINE void ForwardPairImpl(const TPairPlan& pp, const unsigned char* existsT, const double* in,
                                double* net) {
    int i = 0;
    for (; i + 16 <= pp.nTo; i += 16)
        ForwardGroups<4, kMasked>(pp, existsT, i, in, net);
    for (; i + 4 <= pp.nTo; i += 4)
        ForwardGroups<1, kMasked>(pp, existsT, i, in, net);
    if (!kMasked && i < pp.nTo) {
        ForwardGroups<1, false>(pp, existsT, i, in, net, pp.nTo - i);
        return;
    }
    for (; i < pp.nTo; ++i)
        net[i] += RowSum(pp, i, in);
}

inline void ForwardPair(const TTrainPlan& plan, const TPairPlan& pp, const double* in,
                        double* net) {
    if (pp.allExist)
        ForwardPairImpl<false>(pp, nullptr, in, net);
    else
        ForwardPairImpl<true>(pp, plan.existsT.data() + pp.existsT, in, net);
}

// out := the layer's function of net (the two may be the same cells). A function without a span
// form runs through the layer's neurons, which write the network's values; those are copied.
inline void Activate(const TTrainPlan& plan, const TLayerPlan& lp, const double* net, double* out) {
    const double* gain = plan.actGains.data() + lp.actGains;
    if (!ActivateSpan(lp.activation, net, out, lp.nodes, [gain](int k) { return gain[k]; })) {
        lp.layer->Activate(net);
        std::copy(lp.values, lp.values + lp.nodes, out);
    }
}

// The outputs of layer `index` for one pattern into the worker, its lower layers already done.
inline void ForwardLayer(const TTrainPlan& plan, TTrainWorker& worker, std::size_t index,
                         const double* input) {
    const TLayerPlan& lp = plan.layers[index];
    double* out = worker.out.data() + lp.at;
    switch (lp.mode) {
        case TForwardMode::CopyInput:
            std::copy(input, input + lp.nodes, out);
            return;
        case TForwardMode::Layer:
            lp.layer->Propagate(input);
            std::copy(lp.values, lp.values + lp.nodes, out);
            return;
        case TForwardMode::Compute:
            break;
    }
    std::fill(out, out + lp.nodes, 0.0);
    for (std::size_t k = 0; k < lp.numIn; ++k) {
        const TPairPlan& pp = plan.pairs[plan.inPairs[lp.firstIn + k]];
        ForwardPair(plan, pp, worker.out.data() + plan.layers[pp.fromLayer].at, out);
    }
    Activate(plan, lp, out, out);
}

inline void Forward(const TTrainPlan& plan, TTrainWorker& worker, const double* input) {
    for (std::size_t i = 0; i < plan.layers.size(); ++i)
        ForwardLayer(plan, worker, i, input);
}

// ---- back-propagation, gradient and update ----

// The derivative multiplied into a layer's error terms.
inline void ApplyDerivative(const TTrainPlan& plan, const TLayerPlan& lp, double* e,
                            const double* o) {
    const double* gain = plan.gains.data() + lp.gains;
    MultiplyByDerivative(lp.derivative, e, o, lp.nodes, [gain](int k) { return gain[k]; });
}

// One pair's share of back-propagation for the current pattern into the gradient cells `g`.
// Online (kOnline) the gradient cell is the pattern's alone and the weight is updated by the
// rule at once, after its old value has carried the error down; batch adds to the gradient of
// the pass. Without kErrors the errors of the layer below are not summed: nothing reads them
// before the next pattern clears them (see Pattern). Online, without kStoreG the pattern's
// gradient is not written: the next pattern overwrites every trainable cell before anything
// reads it, so only the last pattern's gradient is kept, as the gradient copy shows after the
// pass.
template <class Rule, bool kOnline, bool kMasked, bool kErrors, bool kStoreG>
void BackPairImpl(const Rule& ruleIn, const TLearnParams& p, const TPairPlan& pp, double* gBase,
                  const double* delta, const double* outBelow, double* errBelow) {
    // Local copies: the stores below go through double pointers, which could alias the
    // parameters' fields; copies let the compiler keep the constants in registers.
    const Rule rule = ruleIn;
    const TPenaltyTerms penalty = p.penalty;
    const DF df;
    const std::size_t N = hn::Lanes(df);
    const std::size_t nFrom = static_cast<std::size_t>(pp.nFrom);
    const bool uses = rule.UsesState();
    const auto zero = hn::Zero(df);
    using V = hn::Vec<DF>;
    for (int i = 0; i < pp.nTo; ++i) {
        const std::size_t row = static_cast<std::size_t>(i) * nFrom;
        double* w = pp.w + row;
        double* g = gBase + row;
        const unsigned char* m = kMasked ? pp.masks + row : nullptr;
        // The state rows in locals: pp's pointers would otherwise be reloaded after every store.
        double* st[kMaxRuleState] = {};
        for (std::size_t k = 0; k < Rule::kStateArrays; k++)
            st[k] = pp.state[k] + row;
        const double di = delta[i];
        const auto dv = hn::Set(df, di);
        std::size_t j = 0;
        for (; j + N <= nFrom; j += N) {
            const auto wv = hn::LoadU(df, w + j);
            const auto ov = hn::LoadU(df, outBelow + j);
            const auto ev = kErrors ? hn::LoadU(df, errBelow + j) : zero;
            const auto gOld = (!kOnline || kStoreG) ? hn::LoadU(df, g + j) : zero;
            auto eNew = kErrors ? hn::Add(ev, hn::Mul(wv, dv)) : zero;
            auto gNew = hn::Add(kOnline ? zero : gOld, hn::Mul(dv, ov));
            if (kOnline) {
                gNew = AddPenalty(df, penalty, wv, gNew);
                V s[kMaxRuleState];
                V sOld[kMaxRuleState];
                for (std::size_t k = 0; k < Rule::kStateArrays; k++)
                    s[k] = sOld[k] = uses ? hn::LoadU(df, st[k] + j) : zero;
                auto wNew = rule.Step(df, wv, gNew, s);
                if (kMasked) {
                    const auto mk = TrainableMask(m + j);
                    wNew = hn::IfThenElse(mk, wNew, wv);
                    eNew = hn::IfThenElse(mk, eNew, ev);
                    gNew = hn::IfThenElse(mk, gNew, gOld);
                    for (std::size_t k = 0; k < Rule::kStateArrays; k++)
                        s[k] = hn::IfThenElse(mk, s[k], sOld[k]);
                }
                if (uses)
                    for (std::size_t k = 0; k < Rule::kStateArrays; k++)
                        hn::StoreU(s[k], df, st[k] + j);
                hn::StoreU(wNew, df, w + j);
            } else if (kMasked) {
                const auto mk = TrainableMask(m + j);
                eNew = hn::IfThenElse(mk, eNew, ev);
                gNew = hn::IfThenElse(mk, gNew, gOld);
            }
            if (kErrors)
                hn::StoreU(eNew, df, errBelow + j);
            if (kStoreG)
                hn::StoreU(gNew, df, g + j);
        }
        for (; j < nFrom; ++j) {
            if (kMasked && (m[j] & FMaskAll) != FMaskAll)
                continue;
            if (kErrors)
                errBelow[j] += w[j] * di;
            if (kOnline) {
                double gj = 0.0;
                gj += di * outBelow[j];
                gj = AddPenaltyOne(penalty, w[j], gj);
                if (kStoreG)
                    g[j] = gj;
                double* state[kMaxRuleState] = {};
                for (std::size_t k = 0; k < Rule::kStateArrays; k++)
                    state[k] = st[k] + j;
                StepOne(rule, &w[j], gj, state);
            } else {
                g[j] += di * outBelow[j];
            }
        }
    }
}

template <class Rule, bool kOnline, bool kStoreG>
void BackPairMasks(const Rule& rule, const TLearnParams& p, const TPairPlan& pp, double* g,
                   const double* delta, const double* outBelow, double* errBelow, bool errors) {
    if (pp.allTrainable) {
        if (errors)
            BackPairImpl<Rule, kOnline, false, true, kStoreG>(rule, p, pp, g, delta, outBelow,
                                                              errBelow);
        else
            BackPairImpl<Rule, kOnline, false, false, kStoreG>(rule, p, pp, g, delta, outBelow,
                                                               errBelow);
    } else {
        if (errors)
            BackPairImpl<Rule, kOnline, true, true, kStoreG>(rule, p, pp, g, delta, outBelow,
                                                             errBelow);
        else
            BackPairImpl<Rule, kOnline, true, false, kStoreG>(rule, p, pp, g, delta, outBelow,
                                                              errBelow);
    }
}

template <class Rule, bool kOnline>
void BackPair(const Rule& rule, const TLearnParams& p, const TPairPlan& pp, double* g,
              const double* delta, const double* outBelow, double* errBelow, bool errors,
              bool last) {
    if (kOnline && !last)
        BackPairMasks<Rule, true, false>(rule, p, pp, g, delta, outBelow, errBelow, errors);
    else
        BackPairMasks<Rule, kOnline, true>(rule, p, pp, g, delta, outBelow, errBelow, errors);
}

// Penalty and the rule's update of every trainable weight of a pair over the gradient copy;
// `zeroFirst` starts each gradient cell at 0 (online, for pairs back-propagation does not
// visit).
template <class Rule, bool kMasked>
void UpdatePairImpl(const Rule& ruleIn, const TLearnParams& p, const TPairPlan& pp,
                    bool zeroFirst) {
    const Rule rule = ruleIn;  // kept in registers, as in BackPairImpl
    const TPenaltyTerms penalty = p.penalty;
    const DF df;
    const std::size_t N = hn::Lanes(df);
    const std::size_t count = static_cast<std::size_t>(pp.nFrom) * pp.nTo;
    const bool uses = rule.UsesState();
    // Locals: the pair's pointers would otherwise be reloaded after every store.
    double* const w = pp.w;
    double* const g = pp.g;
    const unsigned char* const masks = pp.masks;
    double* st[kMaxRuleState] = {};
    for (std::size_t k = 0; k < Rule::kStateArrays; k++)
        st[k] = pp.state[k];
    using V = hn::Vec<DF>;
    std::size_t i = 0;
    for (; i + N <= count; i += N) {
        const auto wv = hn::LoadU(df, w + i);
        const auto gOld = hn::LoadU(df, g + i);
        const auto gv = AddPenalty(df, penalty, wv, zeroFirst ? hn::Zero(df) : gOld);
        V s[kMaxRuleState];
        V sOld[kMaxRuleState];
        for (std::size_t k = 0; k < Rule::kStateArrays; k++)
            s[k] = sOld[k] = uses ? hn::LoadU(df, st[k] + i) : hn::Zero(df);
        const auto wNew = rule.Step(df, wv, gv, s);
        if (kMasked) {
            const auto mk = TrainableMask(masks + i);
            hn::StoreU(hn::IfThenElse(mk, wNew, wv), df, w + i);
            hn::StoreU(hn::IfThenElse(mk, gv, gOld), df, g + i);
            if (uses)
                for (std::size_t k = 0; k < Rule::kStateArrays; k++)
                    hn::StoreU(hn::IfThenElse(mk, s[k], sOld[k]), df, st[k] + i);
        } else {
            hn::StoreU(wNew, df, w + i);
            hn::StoreU(gv, df, g + i);
            if (uses)
                for (std::size_t k = 0; k < Rule::kStateArrays; k++)
                    hn::StoreU(s[k], df, st[k] + i);
        }
    }
    for (; i < count; ++i) {
        if (kMasked && (masks[i] & FMaskAll) != FMaskAll)
            continue;
        const double gi = AddPenaltyOne(penalty, w[i], zeroFirst ? 0.0 : g[i]);
        g[i] = gi;
        double* state[kMaxRuleState] = {};
        for (std::size_t k = 0; k < Rule::kStateArrays; k++)
            state[k] = st[k] + i;
        StepOne(rule, &w[i], gi, state);
    }
}

template <class Rule>
void UpdatePair(const Rule& rule, const TLearnParams& p, const TPairPlan& pp, bool zeroFirst) {
    if (pp.allTrainable)
        UpdatePairImpl<Rule, false>(rule, p, pp, zeroFirst);
    else
        UpdatePairImpl<Rule, true>(rule, p, pp, zeroFirst);
}

// One pattern in the worker: clear the error terms, forward, output errors, then
// back-propagation layer by layer from the top; online each pair's weights are updated by the
// rule as soon as they have passed the error down, batch adds to the worker's gradient. The error
// terms of a layer that passes nothing further down are only summed for the last pattern, the
// one whose error terms the gradient copy shows after the pass.
template <class Rule, bool kOnline>
void Pattern(const TTrainPlan& plan, TTrainWorker& worker, const Rule& rule, const TLearnParams& p,
             const double* input, const double* target, TErrorObj* error, bool last) {
    std::fill(worker.err.begin(), worker.err.end(), 0.0);
    Forward(plan, worker, input);
    const TLayerPlan& out = plan.layers[plan.outLayer];
    const double* o = worker.out.data() + out.at;
    double* e = worker.err.data() + out.at;
    if (error != nullptr)
        error->AddPattern(target, o);
    for (int k = 0; k < out.nodes; k++)
        e[k] = o[k] - target[k];
    for (int layer = static_cast<int>(plan.layers.size()) - 1; layer >= 0; layer--) {
        const TLayerPlan& lp = plan.layers[layer];
        double* err = worker.err.data() + lp.at;
        if (!(p.crossEntropy && layer == plan.outLayer))
            ApplyDerivative(plan, lp, err, worker.out.data() + lp.at);
        for (std::size_t k = lp.numIn; k-- > 0;) {
            const std::size_t pair = plan.inPairs[lp.firstIn + k];
            const TPairPlan& pp = plan.pairs[pair];
            const TLayerPlan& below = plan.layers[pp.fromLayer];
            double* g = kOnline ? pp.g : worker.gradient[pair];
            BackPair<Rule, kOnline>(rule, p, pp, g, err, worker.out.data() + below.at,
                                    worker.err.data() + below.at, last || below.numIn > 0, last);
        }
    }
    if (kOnline) {
        for (std::size_t k : plan.updateOnly)
            UpdatePair(rule, p, plan.pairs[k], true);
    }
    worker.holdsLast = last;
}

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#endif  // include guard
