// The online pass (an update after every pattern) and the forward pass alone; see TrainKernel.h.
// Highway compiles the part between HWY_BEFORE_NAMESPACE and HWY_AFTER_NAMESPACE once per vector
// target (this file includes itself through foreach_target.h); the entry points exist once.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "Training/TrainOnline.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <type_traits>

#include "DataObject/Data.h"
#include "Training/TrainPass-inl.h"

HWY_BEFORE_NAMESPACE();
namespace synapsor {
namespace HWY_NAMESPACE {

void OnlinePassImpl(TTrainPlan& plan, const TLearnParams& p, const Data* data, int start,
                    TErrorObj* error) {
    TTrainWorker& worker = plan.main;
    const int n = data->MbrNdxRows;
    DispatchRule(p, [&](const auto& ruleIn) {
        using Rule = std::decay_t<decltype(ruleIn)>;
        Rule rule = ruleIn;
        int row = start;
        for (int i = 0; i < n; i++) {
            row = plan.order != nullptr ? plan.order[i] : data->StepRow(row, 1);
            data->GetSelectedRow(row, worker.input.data(), worker.target.data());
            rule.BeginUpdate(++plan.ruleSteps);
            Pattern<Rule, true>(plan, worker, rule, p, worker.input.data(), worker.target.data(),
                                error, i == n - 1);
        }
    });
}

void ForwardPassImpl(TTrainPlan& plan, const double* input) {
    Forward(plan, plan.main, input);
}

}  // namespace HWY_NAMESPACE
}  // namespace synapsor
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace synapsor {

HWY_EXPORT(OnlinePassImpl);
HWY_EXPORT(ForwardPassImpl);

void RunOnlinePass(TTrainPlan& plan, const TLearnParams& params, const Data* data, int start,
                   TErrorObj* error) {
    HWY_DYNAMIC_DISPATCH(OnlinePassImpl)(plan, params, data, start, error);
}

void RunForwardPass(TTrainPlan& plan, const double* input) {
    HWY_DYNAMIC_DISPATCH(ForwardPassImpl)(plan, input);
    // As the network's Recall leaves them: every layer's values are the pattern's outputs.
    for (const TLayerPlan& lp : plan.layers) {
        const double* out = plan.main.out.data() + lp.at;
        std::copy(out, out + lp.nodes, lp.values);
    }
}

}  // namespace synapsor
#endif  // HWY_ONCE
