// The training kernel: the per-weight work of a back-propagation epoch (forward pass, output
// errors, derivatives, error back-propagation, gradient, weight penalties, update) over a plan
// of raw spans into the trained network and the trainer's `gradient` and `lastChange` copies.
// The plan is built at the start of every epoch and holds no ownership of the networks, which
// must outlive it and keep their shape while it is used. Every floating-point operation is the
// one the visitor route performs, in the same order; vector lanes only ever cover independent
// sums, so results are bit-for-bit those of the plain loops on every instruction set. The code
// is compiled for several vector targets (Google Highway) and picks the widest at run time.
#pragma once

#include <cstddef>
#include <vector>

#include "NeuralNets/ActFunctions.h"

namespace synapsor {

class Data;
class TBasicLayer;
class TBasicNetwork;
class TErrorObj;

enum class TPenaltyKind { None, Quad, LWF };

// The learning parameters of one epoch, parsed once from the parameter structure.
struct TLearnParams {
    bool batch = false;
    bool crossEntropy = false;
    double learningRate = 0.0;
    double momentum = 0.0;
    TPenaltyKind penalty = TPenaltyKind::None;
    // "QUADPENALTY": decayA and decayB already carry the rate and the share of a pass.
    double decayA = 0.0;
    double decayB = 0.0;
    double beta = 1.0;
    // "LWF"
    double forgettingRate = 0.0;
    double forgettingStep = 0.0;
};

// One connected pair of layers: row-major weights (nTo rows of nFrom) of the network and the
// cells at the same positions in the two copies.
struct TPairPlan {
    int fromLayer = 0;
    int toLayer = 0;
    int nFrom = 0;
    int nTo = 0;
    double* w = nullptr;
    double* g = nullptr;
    double* d = nullptr;
    const unsigned char* masks = nullptr;  // null when every weight exists and is trainable
    bool allExist = true;                  // the forward pass needs no mask
    bool allTrainable = true;              // back-propagation and update need no mask
    // Offset into TTrainPlan::existsT of this pair's existence flags laid out for the forward
    // pass: groups of four rows, then from-neurons, then the four rows (0 or 1 per byte).
    std::size_t existsT = 0;
};

struct TLayerPlan {
    TBasicLayer* layer = nullptr;  // of the trained network
    int nodes = 0;
    double* out = nullptr;  // the network's layer values
    double* err = nullptr;  // the gradient copy's layer values (error terms)
    std::size_t errSize = 0;
    // False: the layer computes itself (Propagate), as the network's Recall would.
    bool kernelForward = false;
    TDerivativeKind derivative = TDerivativeKind::None;
    std::size_t gains = 0;  // offset into TTrainPlan::gains (gain layers)
    // Connected incoming pairs from lower layers, in increasing from-layer order.
    std::size_t firstIn = 0;
    std::size_t numIn = 0;
    std::size_t blockAt = 0;  // offset into TTrainPlan::block (batch blocks)
};

// Patterns per block in a batch pass.
constexpr std::size_t kTrainBlock = 8;

struct TTrainPlan {
    std::vector<TLayerPlan> layers;
    std::vector<TPairPlan> pairs;         // every connected pair, from-layer outer, to-layer inner
    std::vector<std::size_t> inPairs;     // per layer the indices of its incoming lower pairs
    std::vector<std::size_t> updateOnly;  // pairs that back-propagation never visits
    std::vector<double> gains;
    std::vector<unsigned char> existsT;
    int inLayer = 0;
    int outLayer = 0;
    // Batch blocks: per layer outputs, outputs transposed and error terms of kTrainBlock
    // patterns; one net input vector; the block's targets.
    bool blockable = false;
    std::vector<double> block;
    std::vector<double> blockNet;
    std::vector<double> blockTarget;
};

// Fills `plan` for training `network` with its two copies; reuses the plan's storage. Returns
// false when some part of the networks has no storage view, differs in shape or matrix type
// between the three networks, or would stop the trainer with a fatal check (a layer without a
// common function, cross-entropy without sigmoid outputs, a connected layer whose function has
// no derivative): the caller then takes the general route, which behaves as it always did.
bool BuildTrainPlan(TBasicNetwork* network, TBasicNetwork* gradient, TBasicNetwork* lastChange,
                    bool crossEntropy, TTrainPlan* plan);

// One pass over `data` (its row capacity), as the trainer's epoch: online, an update after
// every pattern; batch, one after the pass. Adds each pattern to `error`. `input` and `target`
// are buffers of the data set's delivered inputs and its outputs.
void RunTrainEpoch(TTrainPlan& plan, const TLearnParams& params, Data* data, double* input,
                   double* target, TErrorObj* error);

// The forward pass alone, as the network's Recall without the final copy of the outputs.
void RunForwardPass(TTrainPlan& plan, const double* input);

}  // namespace synapsor
