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
#include "Training/TrainKernel.h"
#include "Training/TrainVisitors.h"
#include "Training/UpdateRule.h"

namespace synapsor {

namespace {

const char* const kTrainEpoch = "TTrainModule::TrainEpoch";

// The number stored under `keyword` (compared without regard to case), or `absent`.
double NumberOr(const TKQstructure* params, const char* keyword, double absent) {
    const TKQstructure* v = params->FindValue(keyword);
    return v ? ToNumber(v->GetHead()) : absent;
}

// The epoch's learning parameters, read once. The penalty's constants follow AddPenaltyGradient:
// an online pass adds 1/n of the "QUADPENALTY" term per pattern, a batch pass all of it once.
TLearnParams ParseLearnParams(const TKQstructure* params, const TKQstructure* penalty,
                              bool usePenalty, bool batch, int errorFunction, double penaltyRate,
                              int rows) {
    TLearnParams p;
    p.batch = batch;
    p.crossEntropy = errorFunction == CrossEntropy;
    p.learningRate = NumberOr(params, "LEARNINGRATE", 0.0);
    p.momentum = NumberOr(params, "MOMENTUM", 0.0);
    if (usePenalty)
        p.penalty = PenaltyTerms(penalty, penaltyRate, batch ? rows : 1, rows, kTrainEpoch);
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
    if (data->MbrNdxRows <= 0 || data->MbrNdxDataRows <= 0) {
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
    const int n = data->MbrNdxRows;
    bool kernel = false;
    if (UsesBackpropUpdate()) {
        const bool crossEntropy = errorFunction == CrossEntropy;
        kernel = PlanStillFits(network, gradient.get(), lastChange.get(), crossEntropy,
                               TUpdateRuleKind::Backprop, &plan) ||
                 BuildTrainPlan(network, gradient.get(), lastChange.get(), crossEntropy, &plan);
    }
    if (kernel) {
        if (epochParams.rows != n) {
            epochParams.learn =
                ParseLearnParams(params, penalty, usePenalty, batch, errorFunction, penaltyRate, n);
            epochParams.rows = n;
        }
        SetUpWorker(plan, deliveredInputs, data->MbrNdxOutputs, true, error, &plan.main);
        RunTrainEpoch(plan, epochParams.learn, data, error);
    } else {
        inputBuffer.resize(static_cast<std::size_t>(deliveredInputs));
        targetBuffer.resize(static_cast<std::size_t>(data->MbrNdxOutputs));
        double* input = inputBuffer.data();
        double* target = targetBuffer.data();
        if (batch) {
            gradient->RandomizeWeights(0.0, 0.0);
            for (int i = 0; i < n; i++) {
                data->GetNext(input, target, nullptr);
                TrainPattern(input, target, errorFunction, error);
            }
            if (usePenalty)
                AddPenaltyGradient(penalty, n, n, penaltyRate);
            UpdateWeights(params);
        } else {
            for (int i = 0; i < n; i++) {
                gradient->RandomizeWeights(0.0, 0.0);
                data->GetNext(input, target, nullptr);
                TrainPattern(input, target, errorFunction, error);
                if (usePenalty)
                    AddPenaltyGradient(penalty, 1, n, penaltyRate);
                UpdateWeights(params);
            }
        }
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
