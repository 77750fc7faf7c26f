// Plan building, workers and the pass's outline; see TrainKernel.h. The vector code is in
// TrainOnline.cpp and TrainBatch.cpp.
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <typeinfo>

#include "Common/Assert.h"
#include "DataObject/Data.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/ErrorObj.h"
#include "NeuralNets/Layers.h"
#include "Training/TrainKernel.h"
#include "Training/UpdateRule-inl.h"

namespace synapsor {

std::size_t RuleStateArrays(TUpdateRuleKind rule) {
    // The rule types know their own count; they are compiled here for the baseline target.
    TLearnParams p;
    p.rule = rule;
    std::size_t arrays = 0;
    HWY_NAMESPACE::DispatchRule(
        p, [&arrays](const auto& r) { arrays = std::decay_t<decltype(r)>::kStateArrays; });
    return arrays;
}

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

// The network's input layer of the input type: its Propagate copies the inputs, nothing else.
bool CopiesInput(TBasicLayer* layer, int index, int inLayer) {
    return index == inLayer && typeid(*layer) == typeid(TSimpleInputLayer);
}

// The rule's state arrays after the first: held by the plan, zero at the start.
void AllocateRuleState(TTrainPlan* plan) {
    const std::size_t arrays = RuleStateArrays(plan->rule);
    plan->ruleState.assign(arrays > 1 ? (arrays - 1) * plan->weights : 0, 0.0);
    plan->ruleSteps = 0;
    for (TPairPlan& pp : plan->pairs) {
        for (std::size_t k = 1; k < arrays; k++)
            pp.state[k] = plan->ruleState.data() + (k - 1) * plan->weights + pp.gradientAt;
    }
}

// Everything a plan is built from, as numbers: the networks' layers (objects, kinds, sizes,
// value storage, functions, gains) and connected matrices (storage, shape, type); the mask bytes
// go to `masks`. Two equal signatures give equal plans.
void Signature(TBasicNetwork* network, TBasicNetwork* gradient, TBasicNetwork* lastChange,
               bool crossEntropy, TUpdateRuleKind rule, std::vector<std::uintptr_t>* sig,
               std::vector<unsigned char>* masks) {
    sig->clear();
    masks->clear();
    auto put = [sig](std::uintptr_t x) { sig->push_back(x); };
    auto ptr = [&put](const void* p) { put(reinterpret_cast<std::uintptr_t>(p)); };
    auto num = [&put](double x) {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &x, sizeof bits);
        put(static_cast<std::uintptr_t>(bits));
    };
    const int n = network->GetNumLayers();
    put(crossEntropy ? 1 : 0);
    put(static_cast<std::uintptr_t>(rule));
    put(static_cast<std::uintptr_t>(n));
    put(static_cast<std::uintptr_t>(gradient->GetNumLayers()));
    put(static_cast<std::uintptr_t>(lastChange->GetNumLayers()));
    put(static_cast<std::uintptr_t>(network->GetInLayer()));
    put(static_cast<std::uintptr_t>(network->GetOutLayer()));
    for (TBasicNetwork* net : {network, gradient}) {
        for (int i = 0; i < std::min(n, net->GetNumLayers()); i++) {
            TBasicLayer* layer = net->GetLayer(i);
            ptr(layer);
            ptr(typeid(*layer).name());
            put(static_cast<std::uintptr_t>(layer->numNodes));
            ptr(layer->values.data());
            put(layer->values.size());
            const ActFunction fn = layer->GetActFunction();
            ptr(reinterpret_cast<const void*>(fn));
            if (UsesGain(fn)) {
                for (int k = 0; k < layer->numNodes; k++)
                    num(layer->GetNeuron(k)->GetGain());
            }
        }
    }
    // The copies matter only where the network is connected: the plan reads nothing else.
    for (int from = 0; from < n; from++) {
        for (int to = 0; to < n; to++) {
            const bool connected = network->GetConnections(from, to)->IsConnected();
            put(connected ? 1 : 0);
            if (!connected)
                continue;
            for (TBasicNetwork* net : {network, gradient, lastChange}) {
                if (from >= net->GetNumLayers() || to >= net->GetNumLayers())
                    continue;
                TBasicConnections* c = net->GetConnections(from, to);
                const TWeightStorage s = c->GetStorage();
                ptr(c);
                ptr(c->GetConnectionsNType());
                ptr(s.weights);
                ptr(s.masks);
                put(static_cast<std::uintptr_t>(s.nFrom));
                put(static_cast<std::uintptr_t>(s.nTo));
                if (net == network && s.masks != nullptr && s.weights != nullptr)
                    masks->insert(masks->end(), s.masks,
                                  s.masks + static_cast<std::size_t>(s.nFrom) * s.nTo);
            }
        }
    }
}

}  // namespace

bool BuildTrainPlan(TBasicNetwork* network, TBasicNetwork* gradient, TBasicNetwork* lastChange,
                    bool crossEntropy, TTrainPlan* plan, TUpdateRuleKind rule) {
    const int n = network->GetNumLayers();
    if (gradient->GetNumLayers() != n || lastChange->GetNumLayers() != n)
        return false;
    plan->layers.clear();
    plan->pairs.clear();
    plan->inPairs.clear();
    plan->updateOnly.clear();
    plan->gains.clear();
    plan->existsT.clear();
    plan->actGains.clear();
    plan->signature.clear();
    plan->rule = rule;
    plan->workerSafe = true;
    plan->weights = 0;
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
            pp.state[0] = s3.weights;
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
            pp.gradientAt = plan->weights;
            plan->weights += count;
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
        lp.values = layer->values.data();
        lp.errValues = errLayer->values.data();
        lp.errSize = errLayer->values.size();
        const ActFunction fn = errLayer->GetActFunction();
        if (fn == nullptr)
            return false;
        if (CommonForward(layer, i, plan->inLayer)) {
            lp.mode = TForwardMode::Compute;
            const ActFunction own = layer->GetActFunction();
            lp.activation = own != nullptr ? GetActivationKind(own) : TActivationKind::Other;
            if (lp.activation == TActivationKind::Other)
                plan->workerSafe = false;  // the neurons write the network's values
            lp.actGains = plan->actGains.size();
            if (UsesGain(own)) {
                for (int k = 0; k < lp.nodes; k++)
                    plan->actGains.push_back(layer->GetNeuron(k)->GetGain());
            }
        } else {
            lp.mode = CopiesInput(layer, i, plan->inLayer) ? TForwardMode::CopyInput
                                                           : TForwardMode::Layer;
            if (lp.mode == TForwardMode::Layer)
                plan->workerSafe = false;
        }
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
        // A layer of its own kind reads its lower layers' values from the network, which the
        // workers no longer write: such networks take the general route.
        if (lp.numIn > 0 && lp.mode != TForwardMode::Compute)
            return false;
        plan->layers.push_back(lp);
    }
    // The pairs' order in inPairs is from-layer ascending because pairs are from-layer outer.
    // Every layer fed by weights computes itself, so batch passes can run in blocks.
    plan->blockable = true;
    std::size_t at = 0;
    std::size_t blockAt = 0;
    std::size_t widest = 0;
    for (TLayerPlan& lp : plan->layers) {
        lp.at = at;
        at += static_cast<std::size_t>(lp.nodes);
        lp.blockAt = blockAt;
        blockAt += 3 * kTrainBlock * static_cast<std::size_t>(lp.nodes);
        widest = std::max(widest, static_cast<std::size_t>(lp.nodes));
    }
    plan->values = at;
    plan->blockSize = blockAt;
    plan->widest = widest;
    AllocateRuleState(plan);
    plan->main.out.assign(plan->values, 0.0);
    plan->main.err.assign(plan->values, 0.0);
    Signature(network, gradient, lastChange, crossEntropy, rule, &plan->signature, &plan->maskCopy);
    // The checks of later epochs fill these: room now, so that they allocate nothing.
    plan->scratchSignature.reserve(plan->signature.size());
    plan->scratchMasks.reserve(plan->maskCopy.size());
    return true;
}

bool PlanStillFits(TBasicNetwork* network, TBasicNetwork* gradient, TBasicNetwork* lastChange,
                   bool crossEntropy, TUpdateRuleKind rule, TTrainPlan* plan) {
    if (plan->signature.empty())
        return false;
    Signature(network, gradient, lastChange, crossEntropy, rule, &plan->scratchSignature,
              &plan->scratchMasks);
    return plan->scratchSignature == plan->signature && plan->scratchMasks == plan->maskCopy;
}

void SetUpWorker(const TTrainPlan& plan, int inputs, int outputs, bool shared,
                 const TErrorObj* error, TTrainWorker* worker) {
    worker->out.resize(plan.values);
    worker->err.resize(plan.values);
    worker->block.resize(plan.blockSize);
    worker->blockNet.resize(plan.widest);
    worker->blockTarget.resize(kTrainBlock * static_cast<std::size_t>(outputs));
    worker->input.resize(static_cast<std::size_t>(inputs));
    worker->target.resize(static_cast<std::size_t>(outputs));
    worker->shared = shared;
    worker->gradient.resize(plan.pairs.size());
    worker->holdsLast = false;
    if (shared) {
        for (std::size_t k = 0; k < plan.pairs.size(); k++)
            worker->gradient[k] = plan.pairs[k].g;
        return;
    }
    // One cell more than the gradient: where a chunk of a parallel pass puts its error sum.
    worker->ownGradient.assign(plan.weights + 1, 0.0);
    for (std::size_t k = 0; k < plan.pairs.size(); k++)
        worker->gradient[k] = worker->ownGradient.data() + plan.pairs[k].gradientAt;
    if (error != nullptr) {
        worker->ownError = error->NewEmpty();
    }
}

void MergeWorker(const TTrainPlan& plan, const TTrainWorker& worker, TErrorObj* error) {
    SYN_ASSERT(!worker.shared);
    for (const TPairPlan& pp : plan.pairs) {
        const double* own = worker.ownGradient.data() + pp.gradientAt;
        const std::size_t count = static_cast<std::size_t>(pp.nFrom) * pp.nTo;
        for (std::size_t i = 0; i < count; i++)
            if (pp.masks == nullptr || (pp.masks[i] & FMaskAll) == FMaskAll)
                pp.g[i] = pp.g[i] + own[i];
    }
    if (error != nullptr && worker.ownError != nullptr)
        error->Merge(*worker.ownError);
}

void PublishLastPattern(const TTrainPlan& plan, const TTrainWorker& worker) {
    for (const TLayerPlan& lp : plan.layers) {
        const double* out = worker.out.data() + lp.at;
        const double* err = worker.err.data() + lp.at;
        std::copy(out, out + lp.nodes, lp.values);
        std::fill(lp.errValues, lp.errValues + lp.errSize, 0.0);
        std::copy(err, err + lp.nodes, lp.errValues);
    }
}

namespace {

// Zeroes the trainable cells of the gradient copy before a batch or a group adds into it.
void ClearGradient(const TTrainPlan& plan) {
    for (const TPairPlan& pp : plan.pairs) {
        const std::size_t count = static_cast<std::size_t>(pp.nFrom) * pp.nTo;
        for (std::size_t i = 0; i < count; ++i)
            if (pp.masks == nullptr || (pp.masks[i] & FMaskAll) == FMaskAll)
                pp.g[i] = 0.0;
    }
}

}  // namespace

void RunTrainEpoch(TTrainPlan& plan, const TLearnParams& params, Data* data, TErrorObj* error) {
    const int n = data->MbrNdxRows;
    const int start = data->MbrNdxCurrent;
    if (params.batchSize > 0) {
        // Groups of batchSize patterns, each a batch pass of its own; the last group's penalty
        // share differs when it is smaller.
        TLearnParams last = params;
        last.penalty = params.lastPenalty;
        for (int first = 0; first < n; first += params.batchSize) {
            const int count = std::min(params.batchSize, n - first);
            const bool isLast = first + count == n;
            ClearGradient(plan);
            RunBatchRows(plan, plan.main, params, data, start, first, count, isLast, error);
            RunBatchUpdate(plan, isLast ? last : params);
        }
        PublishLastPattern(plan, plan.main);
    } else if (params.batch) {
        ClearGradient(plan);
        RunBatchRows(plan, plan.main, params, data, start, 0, n, true, error);
        PublishLastPattern(plan, plan.main);
        RunBatchUpdate(plan, params);
    } else {
        RunOnlinePass(plan, params, data, start, error);
        PublishLastPattern(plan, plan.main);
    }
    // Where reading the pass's rows one after the other through the cursor would leave it.
    data->MbrNdxCurrent = data->StepRow(start, n);
}

}  // namespace synapsor
