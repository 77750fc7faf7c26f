// The per-weight visitors of the back-propagation trainer and of the weight penalties. Each walks
// the trained network paired with the trainer's `gradient` copy (and, for momentum, its
// `lastChange` copy): w is *weight, g is *weight2, d is *weight3. They are the general route,
// taken by the trainer's single steps and by epochs over matrices without a storage view; the
// training kernel (TrainKernel.h) performs the same operations in the same order. The update and
// penalty visitors run the per-weight arithmetic of UpdateRule-inl.h (TrainVisitors.cpp), the
// same functions the kernel runs.
#pragma once

#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Connections.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

// One weight's share of back-propagation: the error of from-neuron j in the layer below grows by
// w * delta_i, and the weight's gradient by delta_i * output_j.
class TIterateObj2ErrorsAndDeltas : public TIterateObj2 {
  public:
    void Visit() override {
        const double delta = toValues2[to];
        fromValues2[from] += *weight * delta;
        *weight2 += delta * fromValues[from];
    }
};

// Plain gradient step: w := w - learningRate * g.
class TIterateObj2Update : public TIterateObj2 {
  public:
    explicit TIterateObj2Update(double rate) : learningRate(rate) {}
    void Visit() override;

    double learningRate;
};

// Step with momentum: change := -(learningRate * g) + momentum * d; d := change; w += change.
class TIterateObj3UpdateMomentum : public TIterateObj3 {
  public:
    TIterateObj3UpdateMomentum(double rate, double m) : learningRate(rate), momentum(m) {}
    void Visit() override;

    double learningRate;
    double momentum;
};

// Derivative of the "QUADPENALTY" term (weight elimination plus quadratic decay):
// g := g + 2w * (decayA * beta / (1 + beta * w^2)^2 + decayB).
class TIterateObj2CalcPenaltyTerm : public TIterateObj2 {
  public:
    TIterateObj2CalcPenaltyTerm(double a, double b, double be) : decayA(a), decayB(b), beta(be) {}
    void Visit() override;

    double decayA;
    double decayB;
    double beta;
};

// Derivative of the "LWF" term (learning with forgetting): g := g + sgn(w) * rate * step.
class TIterateObjLWFCalcPenaltyTerm : public TIterateObj2 {
  public:
    TIterateObjLWFCalcPenaltyTerm(double rate, double step)
        : forgettingRate(rate), forgettingStep(step) {}
    void Visit() override;

    double forgettingRate;
    double forgettingStep;
};

}  // namespace synapsor
