// The batch pass: blocks of kTrainBlock patterns sharing every load of a weight row, the
// patterns left over one at a time, then one update; see TrainKernel.h. Highway compiles the part
// between HWY_BEFORE_NAMESPACE and HWY_AFTER_NAMESPACE once per vector target (this file
// includes itself through foreach_target.h); the entry points exist once.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "Training/TrainBatch.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <type_traits>

#include "DataObject/Data.h"
#include "Training/TrainPass-inl.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

// ---- batch mode in blocks of kTrainBlock patterns ----
//
// The weights do not change during a batch pass, so the patterns of a block can share every
// load of a weight row. The block's values live in the worker's scratch: per layer outputs and
// error terms pattern by pattern (outB, errB) and the outputs transposed (outT: per neuron the
// block's patterns side by side), which the forward pass of the layer above reads as one vector
// per from-neuron. Each lane still adds its own pattern's products in from-neuron order, and
// each gradient cell takes the patterns' products one after the other in pattern order, so
// every sum is the one the pattern-by-pattern pass forms.

HWY_INLINE double* BlockOut(TTrainWorker& worker, const TLayerPlan& lp) {
    return worker.block.data() + lp.blockAt;
}
HWY_INLINE double* BlockOutT(TTrainWorker& worker, const TLayerPlan& lp) {
    return worker.block.data() + lp.blockAt + kTrainBlock * static_cast<std::size_t>(lp.nodes);
}
HWY_INLINE double* BlockErr(TTrainWorker& worker, const TLayerPlan& lp) {
    return worker.block.data() + lp.blockAt + 2 * kTrainBlock * static_cast<std::size_t>(lp.nodes);
}

inline void TransposeBlock(const double* byPattern, int nodes, double* byNeuron) {
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
void BackBlockPair(const TPairPlan& pp, double* g, const double* delta, const double* outB,
                   double* errB) {
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
            V gv = hn::LoadU(df, g + at);
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
            hn::StoreU(gv, df, g + at);
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
                g[at] += di * outB[p * nFrom + j];
            }
        }
    }
}

// kTrainBlock patterns of a batch pass, already fetched: `targets` holds their outputs one
// after the other, the layers without lower inputs hold their outputs (outB and outT).
void BatchBlock(const TTrainPlan& plan, TTrainWorker& worker, const TLearnParams& p,
                const double* targets, TErrorObj* error, bool last) {
    const std::size_t B = kTrainBlock;
    for (const TLayerPlan& lp : plan.layers) {
        if (lp.numIn == 0)
            continue;
        double* netT = BlockOutT(worker, lp);
        std::fill(netT, netT + B * lp.nodes, 0.0);
        for (std::size_t k = 0; k < lp.numIn; ++k) {
            const TPairPlan& pp = plan.pairs[plan.inPairs[lp.firstIn + k]];
            const double* inT = BlockOutT(worker, plan.layers[pp.fromLayer]);
            if (pp.allExist)
                ForwardBlockPair<false>(pp, inT, netT);
            else
                ForwardBlockPair<true>(pp, inT, netT);
        }
        double* outB = BlockOut(worker, lp);
        double* net = worker.blockNet.data();
        for (std::size_t q = 0; q < B; q++) {
            for (int k = 0; k < lp.nodes; k++)
                net[k] = netT[static_cast<std::size_t>(k) * B + q];
            Activate(plan, lp, net, outB + q * lp.nodes);
        }
        TransposeBlock(outB, lp.nodes, netT);
    }
    for (const TLayerPlan& lp : plan.layers) {
        double* e = BlockErr(worker, lp);
        std::fill(e, e + B * lp.nodes, 0.0);
    }
    const TLayerPlan& out = plan.layers[plan.outLayer];
    const std::size_t nOut = static_cast<std::size_t>(out.nodes);
    for (std::size_t q = 0; q < B; q++) {
        const double* o = BlockOut(worker, out) + q * nOut;
        const double* t = targets + q * nOut;
        double* e = BlockErr(worker, out) + q * nOut;
        if (error != nullptr)
            error->AddPattern(t, o);
        for (std::size_t k = 0; k < nOut; k++)
            e[k] = o[k] - t[k];
    }
    for (int layer = static_cast<int>(plan.layers.size()) - 1; layer >= 0; layer--) {
        const TLayerPlan& lp = plan.layers[layer];
        double* err = BlockErr(worker, lp);
        const double* outB = BlockOut(worker, lp);
        if (!(p.crossEntropy && layer == plan.outLayer)) {
            for (std::size_t q = 0; q < B; q++)
                ApplyDerivative(plan, lp, err + q * lp.nodes, outB + q * lp.nodes);
        }
        for (std::size_t k = lp.numIn; k-- > 0;) {
            const std::size_t pair = plan.inPairs[lp.firstIn + k];
            const TPairPlan& pp = plan.pairs[pair];
            const TLayerPlan& below = plan.layers[pp.fromLayer];
            const double* o = BlockOut(worker, below);
            double* e = BlockErr(worker, below);
            double* g = worker.gradient[pair];
            const bool errors = last || below.numIn > 0;
            if (pp.allTrainable) {
                if (errors)
                    BackBlockPair<false, true>(pp, g, err, o, e);
                else
                    BackBlockPair<false, false>(pp, g, err, o, e);
            } else {
                if (errors)
                    BackBlockPair<true, true>(pp, g, err, o, e);
                else
                    BackBlockPair<true, false>(pp, g, err, o, e);
            }
        }
    }
    if (last) {
        // The block's last pattern is the pass's: the worker keeps its values for publishing.
        for (const TLayerPlan& lp : plan.layers) {
            const double* o = BlockOut(worker, lp) + (B - 1) * lp.nodes;
            const double* e = BlockErr(worker, lp) + (B - 1) * lp.nodes;
            std::copy(o, o + lp.nodes, worker.out.data() + lp.at);
            std::copy(e, e + lp.nodes, worker.err.data() + lp.at);
        }
    }
    worker.holdsLast = last;
}

// A batch share: whole blocks, then the patterns left over one at a time.
void BatchRowsImpl(TTrainPlan& plan, TTrainWorker& worker, const TLearnParams& p, const Data* data,
                   int start, int first, int count, bool last, TErrorObj* error) {
    const int blocks = plan.blockable ? count / static_cast<int>(kTrainBlock) : 0;
    const TLayerPlan& out = plan.layers[plan.outLayer];
    const std::size_t nOut = static_cast<std::size_t>(out.nodes);
    double* targets = worker.blockTarget.data();
    double* input = worker.input.data();
    double* target = worker.target.data();
    int row = data->StepRow(start, first);
    worker.holdsLast = false;
    for (int b = 0; b < blocks; b++) {
        for (std::size_t q = 0; q < kTrainBlock; q++) {
            row = plan.order != nullptr
                      ? plan.order[first + b * static_cast<int>(kTrainBlock) + static_cast<int>(q)]
                      : data->StepRow(row, 1);
            data->GetSelectedRow(row, input, target);
            std::copy(target, target + nOut, targets + q * nOut);
            for (std::size_t i = 0; i < plan.layers.size(); i++) {
                const TLayerPlan& lp = plan.layers[i];
                if (lp.numIn != 0)
                    continue;
                ForwardLayer(plan, worker, i, input);
                const double* o = worker.out.data() + lp.at;
                std::copy(o, o + lp.nodes, BlockOut(worker, lp) + q * lp.nodes);
            }
        }
        for (const TLayerPlan& lp : plan.layers)
            if (lp.numIn == 0)
                TransposeBlock(BlockOut(worker, lp), lp.nodes, BlockOutT(worker, lp));
        const bool lastBlock = last && (b + 1) * static_cast<int>(kTrainBlock) == count;
        BatchBlock(plan, worker, p, targets, error, lastBlock);
    }
    DispatchRule(p, [&](const auto& rule) {
        using Rule = std::decay_t<decltype(rule)>;
        for (int i = blocks * static_cast<int>(kTrainBlock); i < count; i++) {
            row = plan.order != nullptr ? plan.order[first + i] : data->StepRow(row, 1);
            data->GetSelectedRow(row, input, target);
            Pattern<Rule, false>(plan, worker, rule, p, input, target, error,
                                 last && i == count - 1);
        }
    });
}

void BatchUpdateImpl(TTrainPlan& plan, const TLearnParams& p) {
    DispatchRule(p, [&](const auto& ruleIn) {
        auto rule = ruleIn;
        rule.BeginUpdate(++plan.ruleSteps);
        for (const TPairPlan& pp : plan.pairs)
            UpdatePair(rule, p, pp, false);
    });
}

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace synapsor {

HWY_EXPORT(BatchRowsImpl);
HWY_EXPORT(BatchUpdateImpl);

void RunBatchRows(TTrainPlan& plan, TTrainWorker& worker, const TLearnParams& params,
                  const Data* data, int start, int first, int count, bool last, TErrorObj* error) {
    TErrorObj* sum = worker.shared ? error : worker.ownError.get();
    HWY_DYNAMIC_DISPATCH(BatchRowsImpl)(plan, worker, params, data, start, first, count, last, sum);
}

void RunBatchUpdate(TTrainPlan& plan, const TLearnParams& params) {
    HWY_DYNAMIC_DISPATCH(BatchUpdateImpl)(plan, params);
}

}  // namespace synapsor
#endif  // HWY_ONCE
