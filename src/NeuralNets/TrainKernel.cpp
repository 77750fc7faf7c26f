// The training kernel; see TrainKernel.h. Highway compiles the part between HWY_BEFORE_NAMESPACE
// and HWY_AFTER_NAMESPACE once per vector target (this file includes itself through
// foreach_target.h); the plan builder and the dispatching entry points exist once.
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
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "NeuralNets/TrainKernel.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <typeinfo>

#include "Common/Assert.h"
#include "DataObject/Data.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/ErrorObj.h"
#include "NeuralNets/Layers.h"
#include "NeuralNets/TrainKernel.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;

using DF = hn::ScalableTag<double>;
using D4 = hn::CappedTag<double, 4>;

// ---- per-weight arithmetic, written once for scalars and vectors ----

// The penalty derivative added to a gradient cell.
HWY_INLINE double PenaltyScalar(const TLearnParams& p, double w, double g) {
    if (p.penalty == TPenaltyKind::Quad) {
        const double d = 1.0 + p.beta * (w * w);
        return g + 2.0 * w * (p.decayA * p.beta / (d * d) + p.decayB);
    }
    if (p.penalty == TPenaltyKind::LWF) {
        const double sgn = w < 0.0 ? -1.0 : (w > 0.0 ? 1.0 : 0.0);
        return g + sgn * p.forgettingRate * p.forgettingStep;
    }
    return g;
}

// Update of one weight; `d` is the last change (momentum only).
HWY_INLINE void UpdateScalar(const TLearnParams& p, double& w, double g, double& d) {
    if (p.momentum == 0.0) {
        w = w - p.learningRate * g;
    } else {
        const double change = -(p.learningRate * g) + p.momentum * d;
        d = change;
        w = w + change;
    }
}

template <class V>
HWY_INLINE V PenaltyVec(const TLearnParams& p, V w, V g) {
    const DF df;
    if (p.penalty == TPenaltyKind::Quad) {
        const V d = hn::Add(hn::Set(df, 1.0), hn::Mul(hn::Set(df, p.beta), hn::Mul(w, w)));
        const V aBeta = hn::Set(df, p.decayA * p.beta);
        const V factor = hn::Add(hn::Div(aBeta, hn::Mul(d, d)), hn::Set(df, p.decayB));
        return hn::Add(g, hn::Mul(hn::Mul(hn::Set(df, 2.0), w), factor));
    }
    if (p.penalty == TPenaltyKind::LWF) {
        const V zero = hn::Zero(df);
        const V sgn = hn::IfThenElse(hn::Lt(w, zero), hn::Set(df, -1.0),
                                     hn::IfThenElseZero(hn::Gt(w, zero), hn::Set(df, 1.0)));
        const V term =
            hn::Mul(hn::Mul(sgn, hn::Set(df, p.forgettingRate)), hn::Set(df, p.forgettingStep));
        return hn::Add(g, term);
    }
    return g;
}

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

void ForwardPair(const TTrainPlan& plan, const TPairPlan& pp, const double* in, double* net) {
    if (pp.allExist)
        ForwardPairImpl<false>(pp, nullptr, in, net);
    else
        ForwardPairImpl<true>(pp, plan.existsT.data() + pp.existsT, in, net);
}

void Forward(TTrainPlan& plan, const double* input) {
    for (TLayerPlan& lp : plan.layers) {
        if (!lp.kernelForward) {
            lp.layer->Propagate(input);
            continue;
        }
        std::fill(lp.out, lp.out + lp.nodes, 0.0);
        for (std::size_t k = 0; k < lp.numIn; ++k) {
            const TPairPlan& pp = plan.pairs[plan.inPairs[lp.firstIn + k]];
            ForwardPair(plan, pp, plan.layers[pp.fromLayer].out, lp.out);
        }
        lp.layer->Activate(lp.out);
    }
}

// ---- back-propagation, gradient and update ----

// The derivative multiplied into a layer's error terms.
void ApplyDerivative(const TTrainPlan& plan, const TLayerPlan& lp, double* e, const double* o) {
    const double* gain = plan.gains.data() + lp.gains;
    MultiplyByDerivative(lp.derivative, e, o, lp.nodes, [gain](int k) { return gain[k]; });
}

// One pair's share of back-propagation for the current pattern. Online (kOnline) the gradient
// cell is the pattern's alone and the weight is updated at once, after its old value has
// carried the error down; batch adds to the gradient of the pass.
// Without kErrors the errors of the layer below are not summed: nothing reads them before the
// next pattern clears them (see Pattern). Online, without kStoreG the pattern's gradient is not
// written: the next pattern overwrites every trainable cell before anything reads it, so only
// the last pattern's gradient is kept, as the gradient copy shows after the pass.
template <bool kOnline, bool kMasked, bool kErrors, bool kStoreG = true>
void BackPairImpl(const TLearnParams& p, const TPairPlan& pp, const double* delta,
                  const double* outBelow, double* errBelow) {
    const DF df;
    const std::size_t N = hn::Lanes(df);
    const std::size_t nFrom = static_cast<std::size_t>(pp.nFrom);
    const bool momentum = p.momentum != 0.0;
    const auto lr = hn::Set(df, p.learningRate);
    const auto mom = hn::Set(df, p.momentum);
    const auto zero = hn::Zero(df);
    for (int i = 0; i < pp.nTo; ++i) {
        const std::size_t row = static_cast<std::size_t>(i) * nFrom;
        double* w = pp.w + row;
        double* g = pp.g + row;
        double* d = pp.d + row;
        const unsigned char* m = kMasked ? pp.masks + row : nullptr;
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
                gNew = PenaltyVec(p, wv, gNew);
                auto wNew = wv;
                if (momentum) {
                    const auto dOld = hn::LoadU(df, d + j);
                    const auto change = hn::Add(hn::Neg(hn::Mul(lr, gNew)), hn::Mul(mom, dOld));
                    wNew = hn::Add(wv, change);
                    if (kMasked) {
                        hn::StoreU(hn::IfThenElse(TrainableMask(m + j), change, dOld), df, d + j);
                    } else {
                        hn::StoreU(change, df, d + j);
                    }
                } else {
                    wNew = hn::Sub(wv, hn::Mul(lr, gNew));
                }
                if (kMasked) {
                    const auto mk = TrainableMask(m + j);
                    wNew = hn::IfThenElse(mk, wNew, wv);
                    eNew = hn::IfThenElse(mk, eNew, ev);
                    gNew = hn::IfThenElse(mk, gNew, gOld);
                }
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
                gj = PenaltyScalar(p, w[j], gj);
                if (kStoreG)
                    g[j] = gj;
                UpdateScalar(p, w[j], gj, d[j]);
            } else {
                g[j] += di * outBelow[j];
            }
        }
    }
}

template <bool kOnline, bool kStoreG>
void BackPairMasks(const TLearnParams& p, const TPairPlan& pp, const double* delta,
                   const double* outBelow, double* errBelow, bool errors) {
    if (pp.allTrainable) {
        if (errors)
            BackPairImpl<kOnline, false, true, kStoreG>(p, pp, delta, outBelow, errBelow);
        else
            BackPairImpl<kOnline, false, false, kStoreG>(p, pp, delta, outBelow, errBelow);
    } else {
        if (errors)
            BackPairImpl<kOnline, true, true, kStoreG>(p, pp, delta, outBelow, errBelow);
        else
            BackPairImpl<kOnline, true, false, kStoreG>(p, pp, delta, outBelow, errBelow);
    }
}

template <bool kOnline>
void BackPair(const TLearnParams& p, const TPairPlan& pp, const double* delta,
              const double* outBelow, double* errBelow, bool errors, bool last) {
    if (kOnline && !last)
        BackPairMasks<true, false>(p, pp, delta, outBelow, errBelow, errors);
    else
        BackPairMasks<kOnline, true>(p, pp, delta, outBelow, errBelow, errors);
}

// Penalty and update of every trainable weight of a pair; `zeroFirst` starts each gradient cell
// at 0 (online, for pairs back-propagation does not visit).
template <bool kMasked>
void UpdatePairImpl(const TLearnParams& p, const TPairPlan& pp, bool zeroFirst) {
    const DF df;
    const std::size_t N = hn::Lanes(df);
    const std::size_t count = static_cast<std::size_t>(pp.nFrom) * pp.nTo;
    const bool momentum = p.momentum != 0.0;
    const auto lr = hn::Set(df, p.learningRate);
    const auto mom = hn::Set(df, p.momentum);
    std::size_t i = 0;
    for (; i + N <= count; i += N) {
        const auto wv = hn::LoadU(df, pp.w + i);
        const auto gOld = hn::LoadU(df, pp.g + i);
        const auto dOld = hn::LoadU(df, pp.d + i);
        const auto gv = PenaltyVec(p, wv, zeroFirst ? hn::Zero(df) : gOld);
        auto wNew = wv;
        auto dNew = dOld;
        if (momentum) {
            dNew = hn::Add(hn::Neg(hn::Mul(lr, gv)), hn::Mul(mom, dOld));
            wNew = hn::Add(wv, dNew);
        } else {
            wNew = hn::Sub(wv, hn::Mul(lr, gv));
        }
        if (kMasked) {
            const auto mk = TrainableMask(pp.masks + i);
            hn::StoreU(hn::IfThenElse(mk, wNew, wv), df, pp.w + i);
            hn::StoreU(hn::IfThenElse(mk, gv, gOld), df, pp.g + i);
            hn::StoreU(hn::IfThenElse(mk, dNew, dOld), df, pp.d + i);
        } else {
            hn::StoreU(wNew, df, pp.w + i);
            hn::StoreU(gv, df, pp.g + i);
            hn::StoreU(dNew, df, pp.d + i);
        }
    }
    for (; i < count; ++i) {
        if (kMasked && (pp.masks[i] & FMaskAll) != FMaskAll)
            continue;
        const double g = PenaltyScalar(p, pp.w[i], zeroFirst ? 0.0 : pp.g[i]);
        pp.g[i] = g;
        UpdateScalar(p, pp.w[i], g, pp.d[i]);
    }
}

void UpdatePair(const TLearnParams& p, const TPairPlan& pp, bool zeroFirst) {
    if (pp.allTrainable)
        UpdatePairImpl<false>(p, pp, zeroFirst);
    else
        UpdatePairImpl<true>(p, pp, zeroFirst);
}

// Clear the error terms, forward, output errors, then back-propagation layer by layer from the
// top; online each pair's weights are updated as soon as they have passed the error down. The
// error terms of a layer that passes nothing further down are only summed for the last pattern,
// the one whose error terms the gradient copy shows after the pass.
template <bool kOnline>
void Pattern(TTrainPlan& plan, const TLearnParams& p, const double* input, const double* target,
             TErrorObj* error, bool last) {
    for (TLayerPlan& lp : plan.layers)
        std::fill(lp.err, lp.err + lp.errSize, 0.0);
    Forward(plan, input);
    TLayerPlan& out = plan.layers[plan.outLayer];
    if (error != nullptr)
        error->AddPattern(target, out.out);
    for (int k = 0; k < out.nodes; k++)
        out.err[k] = out.out[k] - target[k];
    for (int layer = static_cast<int>(plan.layers.size()) - 1; layer >= 0; layer--) {
        const TLayerPlan& lp = plan.layers[layer];
        if (!(p.crossEntropy && layer == plan.outLayer))
            ApplyDerivative(plan, lp, lp.err, lp.out);
        for (std::size_t k = lp.numIn; k-- > 0;) {
            const TPairPlan& pp = plan.pairs[plan.inPairs[lp.firstIn + k]];
            const TLayerPlan& below = plan.layers[pp.fromLayer];
            BackPair<kOnline>(p, pp, lp.err, below.out, below.err, last || below.numIn > 0, last);
        }
    }
    if (kOnline) {
        for (std::size_t k : plan.updateOnly)
            UpdatePair(p, plan.pairs[k], true);
    }
}

// ---- batch mode in blocks of kTrainBlock patterns ----
//
// The weights do not change during a batch pass, so the patterns of a block can share every
// load of a weight row. The block's values live in the plan's scratch: per layer outputs and
// error terms pattern by pattern (outB, errB) and the outputs transposed (outT: per neuron the
// block's patterns side by side), which the forward pass of the layer above reads as one vector
// per from-neuron. Each lane still adds its own pattern's products in from-neuron order, and
// each gradient cell takes the patterns' products one after the other in pattern order, so
// every sum is the one the pattern-by-pattern pass forms.

HWY_INLINE double* BlockOut(TTrainPlan& plan, const TLayerPlan& lp) {
    return plan.block.data() + lp.blockAt;
}
HWY_INLINE double* BlockOutT(TTrainPlan& plan, const TLayerPlan& lp) {
    return plan.block.data() + lp.blockAt + kTrainBlock * static_cast<std::size_t>(lp.nodes);
}
HWY_INLINE double* BlockErr(TTrainPlan& plan, const TLayerPlan& lp) {
    return plan.block.data() + lp.blockAt + 2 * kTrainBlock * static_cast<std::size_t>(lp.nodes);
}

void TransposeBlock(const double* byPattern, int nodes, double* byNeuron) {
    for (std::size_t p = 0; p < kTrainBlock; p++)
        for (int k = 0; k < nodes; k++)
            byNeuron[static_cast<std::size_t>(k) * kTrainBlock + p] =
                byPattern[p * static_cast<std::size_t>(nodes) + k];
}

// Net inputs of a block: netT[to][p] += sum over from of w(from, to) * inT[from][p], four rows
// at a time; each row sum starts at zero and is added to the net input at the end, as the
// pattern-by-pattern pass does.
template <bool kMasked>
void ForwardBlockPair(const TPairPlan& pp, const double* inT, double* netT) {
    const DF df;
    constexpr std::size_t kMaxV = kTrainBlock;
    const std::size_t N = hn::Lanes(df);
    const std::size_t nv = kTrainBlock / N;
    const std::size_t nFrom = static_cast<std::size_t>(pp.nFrom);
    using V = hn::Vec<DF>;
    int i = 0;
    for (; i + 4 <= pp.nTo; i += 4) {
        V acc[4][kMaxV];
        for (int r = 0; r < 4; r++)
            for (std::size_t v = 0; v < nv; v++)
                acc[r][v] = hn::Zero(df);
        const double* w = pp.w + static_cast<std::size_t>(i) * nFrom;
        const unsigned char* m = kMasked ? pp.masks + static_cast<std::size_t>(i) * nFrom : nullptr;
        for (std::size_t j = 0; j < nFrom; j++) {
            const double* x = inT + j * kTrainBlock;
            for (int r = 0; r < 4; r++) {
                if (kMasked && !(m[r * nFrom + j] & FMaskExists))
                    continue;
                const V wv = hn::Set(df, w[r * nFrom + j]);
                for (std::size_t v = 0; v < nv; v++)
                    acc[r][v] = hn::Add(acc[r][v], hn::Mul(wv, hn::LoadU(df, x + v * N)));
            }
        }
        for (int r = 0; r < 4; r++) {
            double* net = netT + static_cast<std::size_t>(i + r) * kTrainBlock;
            for (std::size_t v = 0; v < nv; v++)
                hn::StoreU(hn::Add(hn::LoadU(df, net + v * N), acc[r][v]), df, net + v * N);
        }
    }
    for (; i < pp.nTo; i++) {
        V acc[kMaxV];
        for (std::size_t v = 0; v < nv; v++)
            acc[v] = hn::Zero(df);
        const double* w = pp.w + static_cast<std::size_t>(i) * nFrom;
        const unsigned char* m = kMasked ? pp.masks + static_cast<std::size_t>(i) * nFrom : nullptr;
        for (std::size_t j = 0; j < nFrom; j++) {
            if (kMasked && !(m[j] & FMaskExists))
                continue;
            const V wv = hn::Set(df, w[j]);
            for (std::size_t v = 0; v < nv; v++)
                acc[v] = hn::Add(acc[v], hn::Mul(wv, hn::LoadU(df, inT + j * kTrainBlock + v * N)));
        }
        double* net = netT + static_cast<std::size_t>(i) * kTrainBlock;
        for (std::size_t v = 0; v < nv; v++)
            hn::StoreU(hn::Add(hn::LoadU(df, net + v * N), acc[v]), df, net + v * N);
    }
}

// One pair's back-propagation for a block: the lanes hold from-neurons; per group of lanes the
// block's outputs and error terms below stay in registers while the rows are walked in order,
// and each gradient cell is loaded and stored once per block.
template <bool kMasked, bool kErrors>
void BackBlockPair(const TPairPlan& pp, const double* delta, const double* outB, double* errB) {
    const DF df;
    const std::size_t N = hn::Lanes(df);
    const std::size_t nFrom = static_cast<std::size_t>(pp.nFrom);
    const std::size_t nTo = static_cast<std::size_t>(pp.nTo);
    using V = hn::Vec<DF>;
    std::size_t j = 0;
    for (; j + N <= nFrom; j += N) {
        V o[kTrainBlock];
        V e[kTrainBlock];
        for (std::size_t p = 0; p < kTrainBlock; p++) {
            o[p] = hn::LoadU(df, outB + p * nFrom + j);
            e[p] = kErrors ? hn::LoadU(df, errB + p * nFrom + j) : hn::Zero(df);
        }
        for (std::size_t i = 0; i < nTo; i++) {
            const std::size_t at = i * nFrom + j;
            const V wv = hn::LoadU(df, pp.w + at);
            V gv = hn::LoadU(df, pp.g + at);
            if (kMasked) {
                const auto mk = TrainableMask(pp.masks + at);
                for (std::size_t p = 0; p < kTrainBlock; p++) {
                    const V dv = hn::Set(df, delta[p * nTo + i]);
                    if (kErrors)
                        e[p] = hn::IfThenElse(mk, hn::Add(e[p], hn::Mul(wv, dv)), e[p]);
                    gv = hn::IfThenElse(mk, hn::Add(gv, hn::Mul(dv, o[p])), gv);
                }
            } else {
                for (std::size_t p = 0; p < kTrainBlock; p++) {
                    const V dv = hn::Set(df, delta[p * nTo + i]);
                    if (kErrors)
                        e[p] = hn::Add(e[p], hn::Mul(wv, dv));
                    gv = hn::Add(gv, hn::Mul(dv, o[p]));
                }
            }
            hn::StoreU(gv, df, pp.g + at);
        }
        if (kErrors) {
            for (std::size_t p = 0; p < kTrainBlock; p++)
                hn::StoreU(e[p], df, errB + p * nFrom + j);
        }
    }
    for (; j < nFrom; j++) {
        for (std::size_t i = 0; i < nTo; i++) {
            const std::size_t at = i * nFrom + j;
            if (kMasked && (pp.masks[at] & FMaskAll) != FMaskAll)
                continue;
            for (std::size_t p = 0; p < kTrainBlock; p++) {
                const double di = delta[p * nTo + i];
                if (kErrors)
                    errB[p * nFrom + j] += pp.w[at] * di;
                pp.g[at] += di * outB[p * nFrom + j];
            }
        }
    }
}

// kTrainBlock patterns of a batch pass, already fetched: `targets` holds their outputs one
// after the other. The lower layers' values were set pattern by pattern (Propagate) into outB.
void BatchBlock(TTrainPlan& plan, const TLearnParams& p, const double* targets, TErrorObj* error,
                bool last) {
    const std::size_t B = kTrainBlock;
    for (TLayerPlan& lp : plan.layers) {
        if (lp.numIn == 0)
            continue;
        double* netT = BlockOutT(plan, lp);
        std::fill(netT, netT + B * lp.nodes, 0.0);
        for (std::size_t k = 0; k < lp.numIn; ++k) {
            const TPairPlan& pp = plan.pairs[plan.inPairs[lp.firstIn + k]];
            const double* inT = BlockOutT(plan, plan.layers[pp.fromLayer]);
            if (pp.allExist)
                ForwardBlockPair<false>(pp, inT, netT);
            else
                ForwardBlockPair<true>(pp, inT, netT);
        }
        double* outB = BlockOut(plan, lp);
        double* net = plan.blockNet.data();
        for (std::size_t q = 0; q < B; q++) {
            for (int k = 0; k < lp.nodes; k++)
                net[k] = netT[static_cast<std::size_t>(k) * B + q];
            lp.layer->Activate(net);
            std::copy(lp.out, lp.out + lp.nodes, outB + q * lp.nodes);
        }
        TransposeBlock(outB, lp.nodes, netT);
    }
    for (TLayerPlan& lp : plan.layers) {
        double* e = BlockErr(plan, lp);
        std::fill(e, e + B * lp.nodes, 0.0);
    }
    TLayerPlan& out = plan.layers[plan.outLayer];
    const std::size_t nOut = static_cast<std::size_t>(out.nodes);
    for (std::size_t q = 0; q < B; q++) {
        const double* o = BlockOut(plan, out) + q * nOut;
        const double* t = targets + q * nOut;
        double* e = BlockErr(plan, out) + q * nOut;
        if (error != nullptr)
            error->AddPattern(t, o);
        for (std::size_t k = 0; k < nOut; k++)
            e[k] = o[k] - t[k];
    }
    for (int layer = static_cast<int>(plan.layers.size()) - 1; layer >= 0; layer--) {
        const TLayerPlan& lp = plan.layers[layer];
        double* err = BlockErr(plan, lp);
        const double* outB = BlockOut(plan, lp);
        if (!(p.crossEntropy && layer == plan.outLayer)) {
            for (std::size_t q = 0; q < B; q++)
                ApplyDerivative(plan, lp, err + q * lp.nodes, outB + q * lp.nodes);
        }
        for (std::size_t k = lp.numIn; k-- > 0;) {
            const TPairPlan& pp = plan.pairs[plan.inPairs[lp.firstIn + k]];
            const TLayerPlan& below = plan.layers[pp.fromLayer];
            const double* o = BlockOut(plan, below);
            double* e = BlockErr(plan, below);
            const bool errors = last || below.numIn > 0;
            if (pp.allTrainable) {
                if (errors)
                    BackBlockPair<false, true>(pp, err, o, e);
                else
                    BackBlockPair<false, false>(pp, err, o, e);
            } else {
                if (errors)
                    BackBlockPair<true, true>(pp, err, o, e);
                else
                    BackBlockPair<true, false>(pp, err, o, e);
            }
        }
    }
    if (last) {
        // The gradient copy shows the error terms of the pass's last pattern.
        for (TLayerPlan& lp : plan.layers) {
            std::fill(lp.err, lp.err + lp.errSize, 0.0);
            const double* e = BlockErr(plan, lp) + (B - 1) * lp.nodes;
            std::copy(e, e + lp.nodes, lp.err);
        }
    }
}

// The batch pass: whole blocks, then the patterns left over one at a time.
void BatchPass(TTrainPlan& plan, const TLearnParams& p, Data* data, double* input, double* target,
               TErrorObj* error) {
    const int n = data->MbrNdxRows;
    const int blocks = plan.blockable ? n / static_cast<int>(kTrainBlock) : 0;
    TLayerPlan& out = plan.layers[plan.outLayer];
    const std::size_t nOut = static_cast<std::size_t>(out.nodes);
    double* targets = plan.blockTarget.data();
    for (int b = 0; b < blocks; b++) {
        for (std::size_t q = 0; q < kTrainBlock; q++) {
            data->GetNext(input, target, nullptr);
            std::copy(target, target + nOut, targets + q * nOut);
            for (TLayerPlan& lp : plan.layers) {
                if (lp.numIn != 0)
                    continue;
                if (lp.kernelForward) {
                    std::fill(lp.out, lp.out + lp.nodes, 0.0);
                    lp.layer->Activate(lp.out);
                } else {
                    lp.layer->Propagate(input);
                }
                std::copy(lp.out, lp.out + lp.nodes, BlockOut(plan, lp) + q * lp.nodes);
            }
        }
        for (TLayerPlan& lp : plan.layers)
            if (lp.numIn == 0)
                TransposeBlock(BlockOut(plan, lp), lp.nodes, BlockOutT(plan, lp));
        const bool last = (b + 1) * static_cast<int>(kTrainBlock) == n;
        BatchBlock(plan, p, targets, error, last);
    }
    for (int i = blocks * static_cast<int>(kTrainBlock); i < n; i++) {
        data->GetNext(input, target, nullptr);
        Pattern<false>(plan, p, input, target, error, i == n - 1);
    }
}

void TrainEpochImpl(TTrainPlan& plan, const TLearnParams& p, Data* data, double* input,
                    double* target, TErrorObj* error) {
    const int n = data->MbrNdxRows;
    if (p.batch) {
        for (const TPairPlan& pp : plan.pairs) {
            const std::size_t count = static_cast<std::size_t>(pp.nFrom) * pp.nTo;
            for (std::size_t i = 0; i < count; ++i)
                if (pp.masks == nullptr || (pp.masks[i] & FMaskAll) == FMaskAll)
                    pp.g[i] = 0.0;
        }
        BatchPass(plan, p, data, input, target, error);
        for (const TPairPlan& pp : plan.pairs)
            UpdatePair(p, pp, false);
    } else {
        for (int i = 0; i < n; i++) {
            data->GetNext(input, target, nullptr);
            Pattern<true>(plan, p, input, target, error, i == n - 1);
        }
    }
}

void ForwardPassImpl(TTrainPlan& plan, const double* input) {
    Forward(plan, input);
}

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace synapsor {

HWY_EXPORT(TrainEpochImpl);
HWY_EXPORT(ForwardPassImpl);

namespace {

bool SameView(const TWeightStorage& a, const TWeightStorage& b) {
    return b.weights != nullptr && a.nFrom == b.nFrom && a.nTo == b.nTo;
}

// Layers whose forward step is the common one: zero (the input layer copies instead), add the
// lower layers' net inputs, activate.
bool CommonForward(TBasicLayer* layer, int index, int inLayer) {
    return index != inLayer &&
           (typeid(*layer) == typeid(TSimpleLayer) || typeid(*layer) == typeid(TGainLayer));
}

}  // namespace

bool BuildTrainPlan(TBasicNetwork* network, TBasicNetwork* gradient, TBasicNetwork* lastChange,
                    bool crossEntropy, TTrainPlan* plan) {
    const int n = network->GetNumLayers();
    if (gradient->GetNumLayers() != n || lastChange->GetNumLayers() != n)
        return false;
    plan->layers.clear();
    plan->pairs.clear();
    plan->inPairs.clear();
    plan->updateOnly.clear();
    plan->gains.clear();
    plan->existsT.clear();
    plan->inLayer = network->GetInLayer();
    plan->outLayer = network->GetOutLayer();

    for (int from = 0; from < n; from++) {
        for (int to = 0; to < n; to++) {
            TBasicConnections* c = network->GetConnections(from, to);
            if (!c->IsConnected())
                continue;
            TBasicConnections* c2 = gradient->GetConnections(from, to);
            TBasicConnections* c3 = lastChange->GetConnections(from, to);
            const TWeightStorage s = c->GetStorage();
            const TWeightStorage s2 = c2->GetStorage();
            const TWeightStorage s3 = c3->GetStorage();
            const char* type = c->GetConnectionsNType();
            if (s.weights == nullptr || !SameView(s, s2) || !SameView(s, s3) ||
                type != c2->GetConnectionsNType() || type != c3->GetConnectionsNType() ||
                s.nFrom != network->GetLayer(from)->numNodes ||
                s.nTo != network->GetLayer(to)->numNodes) {
                return false;
            }
            TPairPlan pp;
            pp.fromLayer = from;
            pp.toLayer = to;
            pp.nFrom = s.nFrom;
            pp.nTo = s.nTo;
            pp.w = s.weights;
            pp.g = s2.weights;
            pp.d = s3.weights;
            pp.masks = s.masks;
            const std::size_t count = static_cast<std::size_t>(s.nFrom) * s.nTo;
            if (s.masks != nullptr) {
                for (std::size_t i = 0; i < count; i++) {
                    pp.allExist = pp.allExist && (s.masks[i] & FMaskExists) != 0;
                    pp.allTrainable = pp.allTrainable && (s.masks[i] & FMaskAll) == FMaskAll;
                }
            }
            if (pp.allTrainable)
                pp.masks = nullptr;
            if (!pp.allExist) {
                // Groups of four rows, then from-neurons, then the four rows; rows past the
                // last whole group are summed the plain way and need no entry.
                pp.existsT = plan->existsT.size();
                const int groups = s.nTo / 4;
                for (int grp = 0; grp < groups; grp++)
                    for (int j = 0; j < s.nFrom; j++)
                        for (int r = 0; r < 4; r++) {
                            const std::size_t at =
                                static_cast<std::size_t>(grp * 4 + r) * s.nFrom + j;
                            plan->existsT.push_back((s.masks[at] & FMaskExists) ? 1 : 0);
                        }
            }
            if (from >= to)
                plan->updateOnly.push_back(plan->pairs.size());
            plan->pairs.push_back(pp);
        }
    }

    for (int i = 0; i < n; i++) {
        TBasicLayer* layer = network->GetLayer(i);
        TBasicLayer* errLayer = gradient->GetLayer(i);
        if (errLayer->numNodes != layer->numNodes)
            return false;
        TLayerPlan lp;
        lp.layer = layer;
        lp.nodes = layer->numNodes;
        lp.out = layer->values.data();
        lp.err = errLayer->values.data();
        lp.errSize = errLayer->values.size();
        lp.kernelForward = CommonForward(layer, i, plan->inLayer);
        const ActFunction fn = errLayer->GetActFunction();
        if (fn == nullptr)
            return false;
        lp.derivative = GetDerivativeKind(fn);
        if (crossEntropy && i == plan->outLayer) {
            if (fn != ActSigmoid)
                return false;
        }
        lp.gains = plan->gains.size();
        if (lp.derivative == TDerivativeKind::LinearGain ||
            lp.derivative == TDerivativeKind::SigmoidGain ||
            lp.derivative == TDerivativeKind::TanhGain) {
            for (int k = 0; k < lp.nodes; k++)
                plan->gains.push_back(errLayer->GetNeuron(k)->GetGain());
        }
        lp.firstIn = plan->inPairs.size();
        for (std::size_t k = 0; k < plan->pairs.size(); k++) {
            if (plan->pairs[k].toLayer == i && plan->pairs[k].fromLayer < i)
                plan->inPairs.push_back(k);
        }
        lp.numIn = plan->inPairs.size() - lp.firstIn;
        // A layer that cannot pass errors down but is fed by weights stops the general route.
        const bool passesDown =
            lp.derivative != TDerivativeKind::None || (crossEntropy && i == plan->outLayer);
        if (lp.numIn > 0 && !passesDown)
            return false;
        plan->layers.push_back(lp);
    }
    // The pairs' order in inPairs is from-layer ascending because pairs are from-layer outer.
    // Batch blocks need every layer fed by weights to compute itself in the kernel; the others
    // are set pattern by pattern. The scratch keeps its storage from epoch to epoch.
    plan->blockable = true;
    std::size_t at = 0;
    std::size_t widest = 0;
    for (TLayerPlan& lp : plan->layers) {
        if (lp.numIn > 0 && !lp.kernelForward)
            plan->blockable = false;
        lp.blockAt = at;
        at += 3 * kTrainBlock * static_cast<std::size_t>(lp.nodes);
        widest = std::max(widest, static_cast<std::size_t>(lp.nodes));
    }
    if (plan->blockable) {
        plan->block.resize(at);
        plan->blockNet.resize(widest);
        plan->blockTarget.resize(kTrainBlock * plan->layers[plan->outLayer].nodes);
    }
    return true;
}

void RunTrainEpoch(TTrainPlan& plan, const TLearnParams& params, Data* data, double* input,
                   double* target, TErrorObj* error) {
    HWY_DYNAMIC_DISPATCH(TrainEpochImpl)(plan, params, data, input, target, error);
}

void RunForwardPass(TTrainPlan& plan, const double* input) {
    HWY_DYNAMIC_DISPATCH(ForwardPassImpl)(plan, input);
}

}  // namespace synapsor
#endif  // HWY_ONCE
