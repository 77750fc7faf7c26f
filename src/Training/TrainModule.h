// The back-propagation trainer. A TBackpropModule is bound to one network for its whole life
// (it does not own it) and keeps two private structural copies of it: `gradient` (layer values =
// error terms of the current pattern, weights = accumulated gradient) and `lastChange` (weights =
// the last change applied, for momentum). TrainEpoch makes one pass over a data set with the
// learning parameters of a keyword/value structure (read anew whenever the structure changes),
// and returns the pass's error. Weights that do not exist or are frozen (mask filter 0) are neither
// changed nor carry error back. Bad input (a data set that does not fit the network, no rows, an
// incomplete "LWF" penalty) throws TException before the first pattern; inconsistent networks and
// unknown option words are fatal internal checks. An epoch of a TBackpropModule runs in the
// training kernel whenever the networks allow it, with the same numbers as the single steps below.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "KQmessage/KQML.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/ErrorObj.h"
#include "NeuralNets/Visitors.h"
#include "Training/TrainKernel.h"

namespace synapsor {

class Data;
class TKQstructure;
struct TParallelRun;
struct TParallelSetup;

// Error function passed to TrainPattern and BackPropagate.
enum ErrorFunctionKind { MeanSquaredError = 0, CrossEntropy = 1 };

class TTrainModule {
  public:
    // Copies `network` twice (gradient, lastChange) and zeroes the copies' weights.
    explicit TTrainModule(TBasicNetwork* network);
    virtual ~TTrainModule();
    TTrainModule(const TTrainModule&) = delete;
    TTrainModule& operator=(const TTrainModule&) = delete;

    // Passes until the error falls below "THRESHOLD" or *epochs passes ran; on an early stop the
    // zero-based index of the last pass is stored into *epochs.
    virtual double TrainToThreshold(Data* data, TKQstructure* params, int* epochs);
    virtual void UpdateWeights(TKQstructure* params);  // fatal internal check in the base
    // One pass over the data set (its row capacity). Inserts "WEIGHTPENALTY" "NONE" into
    // `params` when absent. Throws TException ("Bad Parameter", "TTrainModule::TrainEpoch") when
    // the data set's delivered inputs or its outputs do not fit the network, when it holds no
    // rows, or when an "LWF" penalty lacks "FORGETTINGRATE" or "LEARNINGRATE" or the pass's
    // learning rate is 0; nothing has changed then.
    virtual double TrainEpoch(Data* data, TKQstructure* params);
    virtual void TrainPattern(const double* input, const double* target, int errorFunction,
                              TErrorObj* error);
    virtual void ApplyWeightChanges(double learningRate, double momentum);
    virtual void BackPropagate(int errorFunction);

    void ClearErrors();
    void ComputeOutputErrors(const double* input, const double* target, TErrorObj* error);
    void BackPropagateLayer(int layer, int errorFunction);
    // Adds the penalty's derivative to the gradient copy's weights (numerator / denominator is
    // the share of a pass one call stands for; "LWF" ignores it). An "LWF" penalty without
    // "FORGETTINGRATE", or with rate 0, throws TException; any head other than "QUADPENALTY" and
    // "LWF" is a fatal internal check.
    void AddPenaltyGradient(TKQstructure* penalty, int numerator, int denominator, double rate);

    // The order of the next passes: position i of a pass takes the row positions[i] + 1 places
    // after the cursor (a permutation of 0 .. rows - 1 of the data set's row capacity); empty:
    // the held order. The trainer reads "ALGORITHM" (BACKPROP, RPROP, ADAM), "BATCHSIZE",
    // "BETA1", "BETA2" and "EPSILON" besides the keys above; Rprop without "BATCHSIZE" runs on
    // whole passes, and Rprop and Adam need a network the kernel can take (TException otherwise).
    void SetPassOrder(std::vector<int> positions) { passOrder = std::move(positions); }

    // Splits the batch passes (batch mode, or groups of "BATCHSIZE") that follow over
    // setup.threads threads and, with setup.processes > 1, over processes (ParallelPass.h): the
    // rows are cut into fixed chunks whose sums are added reproducibly, so the results are the
    // same bits for any number of threads and processes, though not those of a pass without
    // SetParallel. An online pass with more than one thread or process, a network the training
    // kernel cannot take, and a shuffled pass over several processes throw TException.
    void SetParallel(const TParallelSetup& setup);

    TBasicNetwork* network;
    std::unique_ptr<TBasicNetwork> lastChange;
    std::unique_ptr<TBasicNetwork> gradient;

  protected:
    // True when UpdateWeights is the plain back-propagation step (with momentum); TrainEpoch
    // then runs the whole pass in the training kernel (TrainKernel.h) instead of calling
    // TrainPattern, AddPenaltyGradient and UpdateWeights per pattern. A class that changes
    // UpdateWeights must answer false.
    virtual bool UsesBackpropUpdate() const { return false; }

  private:
    // Throws what AddPenaltyGradient and CalcPenalty would throw for `penalty`, before a pass.
    static void CheckPenalty(TKQstructure* penalty, double rate);
    void CheckData(Data* data, int* deliveredInputs);

    // Reused by every pattern and pass: no allocation per pattern.
    std::vector<double> outputBuffer;
    std::vector<double> inputBuffer;
    std::vector<double> targetBuffer;
    std::vector<double> weightBuffer;
    std::vector<int> passOrder;
    std::vector<int> orderRows;
    TTrainPlan plan;
    // The parameters as the last epoch read them, kept while the structure stays the same.
    struct TEpochParams {
        bool valid = false;
        const TKQstructure* source = nullptr;
        TKQstructure copy;
        bool batch = false;
        TUpdateRuleKind rule = TUpdateRuleKind::Backprop;
        int batchSize = 0;
        int errorFunction = 0;
        double penaltyRate = 0.0;
        bool usePenalty = false;
        int rows = -1;  // the row count `learn` was made for
        TLearnParams learn;
    } epochParams;
    std::unique_ptr<TErrorObj> rmsError;
    std::unique_ptr<TErrorObj> crossEntropyError;
    std::unique_ptr<TParallelRun> parallel;
};

class TBackpropModule : public TTrainModule {
  public:
    explicit TBackpropModule(TBasicNetwork* network) : TTrainModule(network) {}
    // Reads "LEARNINGRATE" and "MOMENTUM" (0.0 when absent) and applies the changes.
    void UpdateWeights(TKQstructure* params) override;

  protected:
    bool UsesBackpropUpdate() const override { return true; }
};

}  // namespace synapsor
