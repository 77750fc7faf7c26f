#include "Training/TrainModule.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "Common/StrCase.h"
#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ErrorObj.h"
#include "Training/ParallelRun.h"
#include "Training/TrainKernel.h"
#include "Training/TrainVisitors.h"
#include "Training/UpdateRule.h"

namespace synapsor {

namespace {

const char* const kTrainEpoch = "TTrainModule::TrainEpoch";

// The update rule "ALGORITHM" names ("BACKPROP" when absent); any other word is a fatal internal
// check (the driver writes only these three).
TUpdateRuleKind RuleOf(const TKQstructure* params) {
    const TKQstructure* word = params->FindValue("ALGORITHM");
    if (word == nullptr || strcasecmp(word->GetHead(), "BACKPROP") == 0)
        return TUpdateRuleKind::Backprop;
    if (strcasecmp(word->GetHead(), "RPROP") == 0)
        return TUpdateRuleKind::Rprop;
    SYN_ASSERT(strcasecmp(word->GetHead(), "ADAM") == 0);
    return TUpdateRuleKind::Adam;
}

// The epoch's learning parameters, read once. The penalty's constants follow AddPenaltyGradient:
// every update adds the share (its patterns) / (the pass's patterns) of the "QUADPENALTY" term,
// so an online pass adds 1/n per pattern, a batch pass all of it once, a group of B patterns B/n;
// "LWF" adds its full term at every update.
TLearnParams ParseLearnParams(const TKQstructure* params, const TKQstructure* penalty,
                              bool usePenalty, bool batch, int errorFunction, double penaltyRate,
                              int rows) {
    TLearnParams p;
    p.batch = batch;
    p.crossEntropy = errorFunction == CrossEntropy;
    p.rule = RuleOf(params);
    const bool adam = p.rule == TUpdateRuleKind::Adam;
    p.learningRate = NumberOr(params, "LEARNINGRATE", adam ? 0.001 : 0.0);
    p.momentum = NumberOr(params, "MOMENTUM", 0.0);
    p.batchSize = static_cast<int>(NumberOr(params, "BATCHSIZE", 0.0));
    p.rpropFirstStep = NumberOr(params, "LEARNINGRATE", 0.1);
    p.beta1 = NumberOr(params, "BETA1", 0.9);
    p.beta2 = NumberOr(params, "BETA2", 0.999);
    p.epsilon = NumberOr(params, "EPSILON", 1e-8);
    if (usePenalty) {
        int share = batch ? rows : 1;
        int lastShare = share;
        if (p.batchSize > 0) {
            share = std::min(p.batchSize, rows);
            lastShare = rows - (rows - 1) / share * share;
        }
        p.penalty = PenaltyTerms(penalty, penaltyRate, share, rows, kTrainEpoch);
        p.lastPenalty = PenaltyTerms(penalty, penaltyRate, lastShare, rows, kTrainEpoch);
    }
    return p;
}

// True when the two structures hold the same words in the same places, compared byte for byte.
bool SameStructure(const TKQstructure& a, const TKQstructure& b) {
    if (std::strcmp(a.GetHead(), b.GetHead()) != 0 || a.GetCount() != b.GetCount())
        return false;
    for (int i = 0; i < a.GetCount(); i++) {
        if (std::strcmp(a.GetKeyword(i), b.GetKeyword(i)) != 0 ||
            !SameStructure(*a.GetEntryValue(i), *b.GetEntryValue(i)))
            return false;
    }
    return true;
}

}  // namespace

TTrainModule::TTrainModule(TBasicNetwork* net) : network(net) {
    if (net == nullptr) {
        throw TException("Null network pointer", "Bad Parameter", "TTrainModule::TTrainModule");
    }
    gradient = std::make_unique<TBasicNetwork>(*network);
    gradient->RandomizeWeights(0.0, 0.0);
    lastChange = std::make_unique<TBasicNetwork>(*network);
    lastChange->RandomizeWeights(0.0, 0.0);
}

TTrainModule::~TTrainModule() = default;

void TTrainModule::SetParallel(const TParallelSetup& setup) {
    parallel = std::make_unique<TParallelRun>(setup);
}

double TTrainModule::TrainToThreshold(Data* data, TKQstructure* params, int* epochs) {
    if (params == nullptr || epochs == nullptr) {
        throw TException("Null parameter or epoch count pointer", "Bad Parameter",
                         "TTrainModule::TrainToThreshold");
    }
    const double threshold = NumberOr(params, "THRESHOLD", 0.0);
    double result = 0.0;
    for (int i = 0; i < *epochs; i++) {
        result = TrainEpoch(data, params);
        if (result < threshold) {
            *epochs = i;
            return result;
        }
    }
    return result;
}

void TTrainModule::UpdateWeights(TKQstructure* /*params*/) {
    SYN_ASSERT(false);
}

void TTrainModule::CheckData(Data* data, int* deliveredInputs) {
    if (data == nullptr)
        throw TException("Null data pointer", "Bad Parameter", kTrainEpoch);
    // A process of a pass split over several may hold none of its rows.
    const bool mayBeEmpty = parallel && parallel->setup.processes > 1;
    if (!mayBeEmpty && (data->MbrNdxRows <= 0 || data->MbrNdxDataRows <= 0)) {
        throw TException("The training data set holds no rows", "Bad Parameter", kTrainEpoch);
    }
    int selected = 0;
    std::unique_ptr<int[]> cols;
    data->GetInputFeatures(&selected, &cols);
    const int delivered = selected > 0 ? selected : data->MbrNdxInputs;
    const int inputNodes = network->GetLayer(network->GetInLayer())->numNodes;
    if (delivered != inputNodes) {
        const std::string message = "The data set delivers " + std::to_string(delivered) +
                                    (selected > 0 ? " selected inputs" : " inputs") +
                                    " per row but the network's input layer has " +
                                    std::to_string(inputNodes) + " neurons";
        throw TException(message.c_str(), "Bad Parameter", kTrainEpoch);
    }
    const int outputNodes = network->GetLayer(network->GetOutLayer())->numNodes;
    if (data->MbrNdxOutputs != outputNodes) {
        const std::string message = "The data set has " + std::to_string(data->MbrNdxOutputs) +
                                    " outputs per row but the network's output layer has " +
                                    std::to_string(outputNodes) + " neurons";
        throw TException(message.c_str(), "Bad Parameter", kTrainEpoch);
    }
    *deliveredInputs = delivered;
}

double TTrainModule::TrainEpoch(Data* data, TKQstructure* params) {
    if (params == nullptr)
        throw TException("Null parameter pointer", "Bad Parameter", kTrainEpoch);
    // The parameters are read anew only when their structure differs from the last epoch's; an
    // unchanged structure passed every check below before.
    const bool known = epochParams.valid && epochParams.source == params &&
                       SameStructure(*params, epochParams.copy);
    if (!known) {
        const TKQstructure* batchValue = params->FindValue("BATCH");
        epochParams.batch = batchValue != nullptr && strcasecmp(batchValue->GetHead(), "TRUE") == 0;
        epochParams.rule = RuleOf(params);
        epochParams.batchSize = static_cast<int>(NumberOr(params, "BATCHSIZE", 0.0));
        // Rprop compares whole-pass gradients: without groups it runs on whole passes.
        if (epochParams.rule == TUpdateRuleKind::Rprop && epochParams.batchSize <= 0)
            epochParams.batch = true;
        epochParams.errorFunction = MeanSquaredError;
        if (const TKQstructure* word = params->FindValue("ERRORFUNCTION")) {
            if (strcasecmp(word->GetHead(), "CROSSENTROPY") == 0) {
                epochParams.errorFunction = CrossEntropy;
            } else if (strcasecmp(word->GetHead(), "MEANSQUAREDERROR") != 0) {
                SYN_ASSERT(false);  // the driver only ever writes the two words above
            }
        }
        epochParams.penaltyRate = NumberOr(params, "LEARNINGRATE", 1.0);
    }
    const bool batch = epochParams.batch;
    const int errorFunction = epochParams.errorFunction;
    const double penaltyRate = epochParams.penaltyRate;

    // Everything that can be rejected is checked before the structure or the network changes.
    int deliveredInputs = 0;
    CheckData(data, &deliveredInputs);
    // Split over processes, this process may hold no rows of the pass at all.
    const bool acrossProcesses = parallel && parallel->setup.processes > 1;
    TKQstructure* penalty = params->FindValue("WEIGHTPENALTY");
    if (!known) {
        epochParams.valid = false;
        if (penalty != nullptr)
            CheckPenalty(penalty, penaltyRate);
        if (penalty == nullptr) {
            params->SetValue("WEIGHTPENALTY", std::make_unique<TKQstructure>("NONE"));
            penalty = params->FindValue("WEIGHTPENALTY");
        }
        epochParams.usePenalty = strcasecmp(penalty->GetHead(), "NONE") != 0;
        epochParams.copy = *params;
        epochParams.source = params;
        epochParams.rows = -1;
        epochParams.valid = true;
    }
    const bool usePenalty = epochParams.usePenalty;

    TErrorObj* error = nullptr;
    if (errorFunction == MeanSquaredError) {
        if (!rmsError || rmsError->numOutputs != data->MbrNdxOutputs)
            rmsError = std::make_unique<TErrorRMSObj>(data->MbrNdxOutputs);
        error = rmsError.get();
    } else {
        if (!crossEntropyError || crossEntropyError->numOutputs != data->MbrNdxOutputs)
            crossEntropyError = std::make_unique<TErrorCrossEntropyObj>(data->MbrNdxOutputs);
        error = crossEntropyError.get();
    }
    error->Reset();

    data->MbrNdxCurrent = data->MbrNdxLast;
    // The pass's patterns: over all processes when it is split over several.
    const int n = acrossProcesses ? parallel->setup.passRows : data->MbrNdxRows;
    const TUpdateRuleKind rule = epochParams.rule;
    const int batchSize = epochParams.batchSize;
    bool kernel = false;
    if (UsesBackpropUpdate()) {
        const bool crossEntropy = errorFunction == CrossEntropy;
        kernel =
            PlanStillFits(network, gradient.get(), lastChange.get(), crossEntropy, rule, &plan) ||
            BuildTrainPlan(network, gradient.get(), lastChange.get(), crossEntropy, &plan, rule);
    }
    if (!kernel && rule != TUpdateRuleKind::Backprop) {
        throw TException("Rprop and Adam train only networks of plain layers", "Bad Parameter",
                         kTrainEpoch);
    }
    const bool split = parallel && (parallel->setup.threads > 1 || acrossProcesses);
    const bool batchPass = batch || batchSize > 0;
    if (split && !batchPass) {
        throw TException(
            "Online training updates the weights after every pattern and runs on "
            "one thread: training on several threads or processes needs batch "
            "training (batch mode or BatchSize)",
            "Bad Parameter", kTrainEpoch);
    }
    if (parallel && batchPass && !(kernel && plan.workerSafe)) {
        throw TException(
            "Training on several threads or processes takes only networks of plain "
            "layers",
            "Bad Parameter", kTrainEpoch);
    }
    if (acrossProcesses && !passOrder.empty()) {
        throw TException("A shuffled pass needs every row in one process", "Bad Parameter",
                         kTrainEpoch);
    }
    // A shuffled pass: position i of the pass reads the row passOrder[i] + 1 places after the
    // cursor.
    const bool shuffled = !passOrder.empty();
    if (shuffled) {
        SYN_ASSERT(static_cast<int>(passOrder.size()) == n);
        orderRows.resize(passOrder.size());
        for (std::size_t i = 0; i < passOrder.size(); i++)
            orderRows[i] = data->StepRow(data->MbrNdxCurrent, passOrder[i] + 1);
    }
    if (kernel) {
        if (epochParams.rows != n) {
            epochParams.learn =
                ParseLearnParams(params, penalty, usePenalty, batch, errorFunction, penaltyRate, n);
            epochParams.rows = n;
        }
        SetUpWorker(plan, deliveredInputs, data->MbrNdxOutputs, true, error, &plan.main);
        plan.order = shuffled ? orderRows.data() : nullptr;
        if (parallel && batchPass)
            RunParallelEpoch(plan, *parallel, epochParams.learn, data, n, error);
        else
            RunTrainEpoch(plan, epochParams.learn, data, error);
        plan.order = nullptr;
    } else {
        inputBuffer.resize(static_cast<std::size_t>(deliveredInputs));
        targetBuffer.resize(static_cast<std::size_t>(data->MbrNdxOutputs));
        double* input = inputBuffer.data();
        double* target = targetBuffer.data();
        const int start = data->MbrNdxCurrent;
        auto next = [&](int i) {
            if (shuffled)
                data->GetSelectedRow(orderRows[static_cast<std::size_t>(i)], input, target);
            else
                data->GetNext(input, target, nullptr);
        };
        if (batchSize > 0) {
            for (int first = 0; first < n; first += batchSize) {
                const int count = std::min(batchSize, n - first);
                gradient->RandomizeWeights(0.0, 0.0);
                for (int i = first; i < first + count; i++) {
                    next(i);
                    TrainPattern(input, target, errorFunction, error);
                }
                if (usePenalty)
                    AddPenaltyGradient(penalty, count, n, penaltyRate);
                UpdateWeights(params);
            }
        } else if (batch) {
            gradient->RandomizeWeights(0.0, 0.0);
            for (int i = 0; i < n; i++) {
                next(i);
                TrainPattern(input, target, errorFunction, error);
            }
            if (usePenalty)
                AddPenaltyGradient(penalty, n, n, penaltyRate);
            UpdateWeights(params);
        } else {
            for (int i = 0; i < n; i++) {
                gradient->RandomizeWeights(0.0, 0.0);
                next(i);
                TrainPattern(input, target, errorFunction, error);
                if (usePenalty)
                    AddPenaltyGradient(penalty, 1, n, penaltyRate);
                UpdateWeights(params);
            }
        }
        if (shuffled)
            data->MbrNdxCurrent = data->StepRow(start, n);
    }

    if (usePenalty) {
        const int count = network->GetNumWeights(0);
        weightBuffer.resize(static_cast<std::size_t>(count));
        network->GetWeights(weightBuffer.data(), 0);
        error->AddPenalty(count, weightBuffer.data(), penalty);
    }
    return error->GetError();
}

void TTrainModule::TrainPattern(const double* input, const double* target, int errorFunction,
                                TErrorObj* error) {
    ClearErrors();
    ComputeOutputErrors(input, target, error);
    BackPropagate(errorFunction);
}

void TTrainModule::ClearErrors() {
    const int n = gradient->GetNumLayers();
    for (int i = 0; i < n; i++) {
        std::vector<double>& values = gradient->GetLayer(i)->values;
        std::fill(values.begin(), values.end(), 0.0);
    }
}

void TTrainModule::ComputeOutputErrors(const double* input, const double* target,
                                       TErrorObj* error) {
    const int outLayer = network->GetOutLayer();
    const int numOut = network->GetLayer(outLayer)->numNodes;
    outputBuffer.resize(static_cast<std::size_t>(numOut));
    double* output = outputBuffer.data();
    network->Recall(input, output);
    if (error != nullptr)
        error->AddPattern(target, output);
    double* e = gradient->GetLayer(outLayer)->values.data();
    for (int k = 0; k < numOut; k++)
        e[k] = output[k] - target[k];
}

void TTrainModule::BackPropagate(int errorFunction) {
    for (int layer = network->GetNumLayers() - 1; layer >= 0; layer--) {
        BackPropagateLayer(layer, errorFunction);
    }
}

void TTrainModule::BackPropagateLayer(int layer, int errorFunction) {
    TBasicLayer* errLayer = gradient->GetLayer(layer);
    ActFunction fn = errLayer->GetActFunction();
    // clang-format off
    SYN_ASSERT(fn!= NULL);
    // clang-format on

    double* e = errLayer->values.data();
    const double* o = network->GetLayer(layer)->values.data();
    const int nodes = errLayer->numNodes;
    if (errorFunction == CrossEntropy && layer == network->GetOutLayer()) {
        // With cross-entropy and sigmoid outputs, output - target already is the delta.
        SYN_ASSERT(fn == ActSigmoid);
    } else {
        const TDerivativeKind kind = GetDerivativeKind(fn);
        MultiplyByDerivative(kind, e, o, nodes,
                             [errLayer](int k) { return errLayer->GetNeuron(k)->GetGain(); });
        // No derivative known: the layer cannot pass errors further down.
        if (kind == TDerivativeKind::None)
            fn = ActError;
    }

    TIterateObj2ErrorsAndDeltas visitor;
    for (int from = layer - 1; from >= 0; from--) {
        TBasicConnections* conns = network->GetConnections(from, layer);
        if (!conns->IsConnected())
            continue;
        SYN_ASSERT(fn != ActError);
        conns->Iterate2(visitor, gradient.get(), 0);
    }
}

void TTrainModule::ApplyWeightChanges(double learningRate, double momentum) {
    const int n = network->GetNumLayers();
    TIterateObj2Update update(learningRate);
    TIterateObj3UpdateMomentum withMomentum(learningRate, momentum);
    for (int from = 0; from < n; from++) {
        for (int to = 0; to < n; to++) {
            TBasicConnections* conns = network->GetConnections(from, to);
            if (!conns->IsConnected())
                continue;
            if (momentum == 0.0) {
                conns->Iterate2(update, gradient.get(), 0);
            } else {
                conns->Iterate3(withMomentum, gradient.get(), lastChange.get(), 0);
            }
        }
    }
}

void TBackpropModule::UpdateWeights(TKQstructure* params) {
    const double learningRate = NumberOr(params, "LEARNINGRATE", 0.0);
    const double momentum = NumberOr(params, "MOMENTUM", 0.0);
    ApplyWeightChanges(learningRate, momentum);
}

}  // namespace synapsor
