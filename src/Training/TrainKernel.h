// The training kernel: the per-weight work of a back-propagation epoch (forward pass, output
// errors, derivatives, error back-propagation, gradient, weight penalties, update) over a plan
// of raw spans into the trained network, the trainer's `gradient` copy and the update rule's
// state. The plan holds no ownership of the networks, which must outlive it; it stays valid
// while PlanStillFits says so (the trainer keeps it from epoch to epoch). Every floating-point
// operation is the one the visitor route performs, in the same order; vector lanes only ever
// cover independent sums, so results are bit-for-bit those of the plain loops on every
// instruction set. The code is compiled for several vector targets (Google Highway) and picks
// the widest at run time.
//
// Everything a pass writes besides the weights, the gradient and the rule's state lives in a
// worker (TTrainWorker): the outputs and error terms of the patterns in flight, the batch block,
// the net inputs, the row buffers, and for a batch share a partial gradient and error sum. Rows
// are read by index. A batch pass can thus be split over workers, each over its own rows, and
// their sums merged afterwards (RunBatchRows, MergeWorker); the trainer uses one worker, which
// adds straight into the gradient copy and gives today's numbers.
//
// The files: UpdateRule-inl.h (per-weight arithmetic), TrainPass-inl.h (forward pass and one
// pattern's back-propagation), TrainOnline.cpp, TrainBatch.cpp, TrainPlan.cpp (plan, workers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/ErrorObj.h"
#include "Training/UpdateRule.h"

namespace synapsor {

class Data;
class TBasicLayer;
class TBasicNetwork;

// One connected pair of layers: row-major weights (nTo rows of nFrom) of the network and the
// cells at the same positions in the gradient copy and the rule's state arrays.
struct TPairPlan {
    int fromLayer = 0;
    int toLayer = 0;
    int nFrom = 0;
    int nTo = 0;
    double* w = nullptr;
    double* g = nullptr;  // the gradient copy's weights
    double* state[kMaxRuleState] = {};
    const unsigned char* masks = nullptr;  // null when every weight exists and is trainable
    bool allExist = true;                  // the forward pass needs no mask
    bool allTrainable = true;              // back-propagation and update need no mask
    // Offset into TTrainPlan::existsT of this pair's existence flags laid out for the forward
    // pass: groups of four rows, then from-neurons, then the four rows (0 or 1 per byte).
    std::size_t existsT = 0;
    std::size_t gradientAt = 0;  // offset of the pair in a worker's own partial gradient
};

// How a layer's outputs are formed.
enum class TForwardMode {
    Compute,    // zero, add the lower layers' net inputs, activate
    CopyInput,  // the network's input layer of the input type: the inputs as they are
    Layer       // the layer's own Propagate, writing the network's storage (no lower inputs)
};

struct TLayerPlan {
    TBasicLayer* layer = nullptr;  // of the trained network
    int nodes = 0;
    double* values = nullptr;     // the network's layer values (the last pattern's, after a pass)
    double* errValues = nullptr;  // the gradient copy's layer values (error terms)
    std::size_t errSize = 0;
    TForwardMode mode = TForwardMode::Compute;
    // Other: activated through the layer's neurons, which write the network's storage.
    TActivationKind activation = TActivationKind::Other;
    TDerivativeKind derivative = TDerivativeKind::None;
    std::size_t gains = 0;     // offset into TTrainPlan::gains (derivative gains)
    std::size_t actGains = 0;  // offset into TTrainPlan::actGains (activation gains)
    // Connected incoming pairs from lower layers, in increasing from-layer order.
    std::size_t firstIn = 0;
    std::size_t numIn = 0;
    std::size_t at = 0;       // offset into a worker's outputs and error terms
    std::size_t blockAt = 0;  // offset into a worker's batch block
};

// Patterns per block in a batch pass.
constexpr std::size_t kTrainBlock = 8;

struct TTrainPlan;

// The scratch of one worker; see the file comment. Set up by SetUpWorker, reused from pass to
// pass without allocation.
struct TTrainWorker {
    std::vector<double> out;  // per layer at TLayerPlan::at: the pattern in flight
    std::vector<double> err;
    // Batch blocks: per layer outputs, outputs transposed and error terms of kTrainBlock
    // patterns; one net input vector; the block's targets.
    std::vector<double> block;
    std::vector<double> blockNet;
    std::vector<double> blockTarget;
    std::vector<double> input;   // one row's delivered inputs
    std::vector<double> target;  // one row's outputs
    // Per pair where this worker adds its gradient: the gradient copy (shared = true) or its
    // own partial gradient.
    bool shared = true;
    std::vector<double> ownGradient;
    std::vector<double*> gradient;
    // The partial error sum of an own worker (a fresh object of the pass's error's kind).
    std::unique_ptr<TErrorObj> ownError;
    // The last pattern this worker took: true once its out and err hold a pass's last pattern.
    bool holdsLast = false;
};

struct TTrainPlan {
    std::vector<TLayerPlan> layers;
    std::vector<TPairPlan> pairs;         // every connected pair, from-layer outer, to-layer inner
    std::vector<std::size_t> inPairs;     // per layer the indices of its incoming lower pairs
    std::vector<std::size_t> updateOnly;  // pairs that back-propagation never visits
    std::vector<double> gains;
    std::vector<double> actGains;
    std::vector<unsigned char> existsT;
    std::vector<double> ruleState;  // the rule's state arrays after the first
    // The updates made under this plan: the rule's step counter (Adam's t), 0 when built.
    std::uint64_t ruleSteps = 0;
    // When set, pattern i of a pass reads row order[i] instead of the row i + 1 places after the
    // cursor (a shuffled pass; the caller keeps the array alive during the pass).
    const int* order = nullptr;
    TUpdateRuleKind rule = TUpdateRuleKind::Backprop;
    int inLayer = 0;
    int outLayer = 0;
    std::size_t values = 0;     // outputs (and error terms) per pattern over all layers
    std::size_t blockSize = 0;  // a worker's batch block
    std::size_t widest = 0;
    std::size_t weights = 0;  // gradient cells over all pairs
    // Batch passes run in blocks (every layer fed by weights computes itself).
    bool blockable = false;
    // True when no layer writes the network's storage during a pass, so several workers may run
    // side by side.
    bool workerSafe = true;
    // What the plan was built from, to tell whether it still fits (PlanStillFits).
    std::vector<std::uintptr_t> signature;
    std::vector<unsigned char> maskCopy;
    std::vector<std::uintptr_t> scratchSignature;
    std::vector<unsigned char> scratchMasks;
    // The trainer's worker.
    TTrainWorker main;
};

// Fills `plan` for training `network` with its two copies under `rule`; reuses the plan's
// storage. Returns false when some part of the networks has no storage view, differs in shape
// or matrix type between the three networks, or would stop the trainer with a fatal check (a
// layer without a common function, cross-entropy without sigmoid outputs, a connected layer
// whose function has no derivative), or has a layer of its own kind fed by lower layers: the
// caller then takes the general route, which behaves as it always did. The rule's state arrays
// after the first start at 0.
bool BuildTrainPlan(TBasicNetwork* network, TBasicNetwork* gradient, TBasicNetwork* lastChange,
                    bool crossEntropy, TTrainPlan* plan,
                    TUpdateRuleKind rule = TUpdateRuleKind::Backprop);

// True when `plan` was built by BuildTrainPlan from these networks, `crossEntropy` and `rule`
// and nothing it depends on has changed since: the layers, matrices and their storage, masks,
// functions and gains. Allocates nothing once it has run once.
bool PlanStillFits(TBasicNetwork* network, TBasicNetwork* gradient, TBasicNetwork* lastChange,
                   bool crossEntropy, TUpdateRuleKind rule, TTrainPlan* plan);

// Sizes a worker's scratch for `plan` and rows of `inputs` delivered inputs and `outputs`
// outputs. shared: the worker adds into the gradient copy and the error the pass is given;
// otherwise into its own zeroed partial gradient and a fresh error object like `error`.
void SetUpWorker(const TTrainPlan& plan, int inputs, int outputs, bool shared,
                 const TErrorObj* error, TTrainWorker* worker);

// One pass over `data` (its row capacity), as the trainer's epoch: online, an update after
// every pattern; batch, one after the pass; with params.batchSize > 0, one after every
// batchSize patterns (the last group may be smaller), each group run as a batch pass over its
// rows with the penalty terms of its share. Adds each pattern to `error`. Pattern i of the pass
// is the held row i + 1 places after the cursor; the cursor is left on the pass's last row, as
// reading the rows one after the other through it would.
void RunTrainEpoch(TTrainPlan& plan, const TLearnParams& params, Data* data, TErrorObj* error);

// The online pass alone (RunTrainEpoch without batch): pattern i reads row StepRow(start, i + 1).
void RunOnlinePass(TTrainPlan& plan, const TLearnParams& params, const Data* data, int start,
                   TErrorObj* error);

// A batch share: the gradient sums and the error of patterns first .. first + count - 1 of a
// pass starting after row `start`, added into the worker's gradient and error. Reads the
// weights; writes nothing shared unless the worker is the shared one. `last`: the share ends
// with the pass's last pattern.
void RunBatchRows(TTrainPlan& plan, TTrainWorker& worker, const TLearnParams& params,
                  const Data* data, int start, int first, int count, bool last, TErrorObj* error);

// Adds an own worker's partial gradient into the gradient copy (trainable cells only) and its
// partial error into `error`. Call once per worker, in the order the shares should be summed.
void MergeWorker(const TTrainPlan& plan, const TTrainWorker& worker, TErrorObj* error);

// After a pass: the network's layer values become the last pattern's outputs and the gradient
// copy's layer values its error terms, from the worker that took it.
void PublishLastPattern(const TTrainPlan& plan, const TTrainWorker& worker);

// The penalty and the rule's update of every trainable weight over the gradient copy, as a
// batch pass ends.
void RunBatchUpdate(TTrainPlan& plan, const TLearnParams& params);

// The forward pass alone, as the network's Recall without the final copy of the outputs.
void RunForwardPass(TTrainPlan& plan, const double* input);

}  // namespace synapsor
