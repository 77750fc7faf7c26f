// The per-weight visitors of the back-propagation trainer and of the weight penalties. Each walks
// the trained network paired with the trainer's `gradient` copy (and, for momentum, its
// `lastChange` copy): w is *weight, g is *weight2, d is *weight3. The trainer runs them over
// matrices that offer no storage view; over the others it runs direct loops that call the same
// static Step functions, so both routes give bit-identical results.
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
        Step(*weight, *weight2, toValues2[to], fromValues2[from], fromValues[from]);
    }
    static void Step(double w, double& g, double delta, double& errorBelow, double outputBelow) {
        errorBelow += w * delta;
        g += delta * outputBelow;
    }
};

// Plain gradient step: w := w - learningRate * g.
class TIterateObj2Update : public TIterateObj2 {
  public:
    explicit TIterateObj2Update(double rate) : learningRate(rate) {}
    void Visit() override { Step(*weight, *weight2, learningRate); }
    static void Step(double& w, double g, double learningRate) { w = w - learningRate * g; }

    double learningRate;
};

// Step with momentum: change := -(learningRate * g) + momentum * d; d := change; w += change.
class TIterateObj3UpdateMomentum : public TIterateObj3 {
  public:
    TIterateObj3UpdateMomentum(double rate, double m) : learningRate(rate), momentum(m) {}
    void Visit() override { Step(*weight, *weight2, *weight3, learningRate, momentum); }
    static void Step(double& w, double g, double& d, double learningRate, double momentum) {
        const double change = -(learningRate * g) + momentum * d;
        d = change;
        w = w + change;
    }

    double learningRate;
    double momentum;
};

// Derivative of the "QUADPENALTY" term (weight elimination plus quadratic decay):
// g := g + 2w * (decayA * beta / (1 + beta * w^2)^2 + decayB).
class TIterateObj2CalcPenaltyTerm : public TIterateObj2 {
  public:
    TIterateObj2CalcPenaltyTerm(double a, double b, double be) : decayA(a), decayB(b), beta(be) {}
    void Visit() override { Step(*weight, *weight2, decayA, decayB, beta); }
    static void Step(double w, double& g, double decayA, double decayB, double beta) {
        const double d = 1.0 + beta * (w * w);
        g = g + 2.0 * w * (decayA * beta / (d * d) + decayB);
    }

    double decayA;
    double decayB;
    double beta;
};

// Derivative of the "LWF" term (learning with forgetting): g := g + sgn(w) * rate * step.
class TIterateObjLWFCalcPenaltyTerm : public TIterateObj2 {
  public:
    TIterateObjLWFCalcPenaltyTerm(double rate, double step)
        : forgettingRate(rate), forgettingStep(step) {}
    void Visit() override { Step(*weight, *weight2, forgettingRate, forgettingStep); }
    static void Step(double w, double& g, double forgettingRate, double forgettingStep) {
        const double sgn = w < 0.0 ? -1.0 : (w > 0.0 ? 1.0 : 0.0);
        g = g + sgn * forgettingRate * forgettingStep;
    }

    double forgettingRate;
    double forgettingStep;
};

// Direct route of a paired visit with mask filter 0: calls step(w, g, from, to) for every existing
// and trainable weight of `conns` (a matrix of the trained network) and the cell at the same
// position of `second`'s matrix for the same pair of layers, to outer and from inner, exactly as
// conns->Iterate2(visitor, second, 0) would visit them. When either matrix has no storage view,
// the two views differ in shape, or the two matrices differ in type, it runs that Iterate2
// instead (whose binding stops the program on a type mismatch).
template <class Step>
void Iterate2Trainable(TBasicConnections* conns, TBasicNetwork* second, TIterateObj2& visitor,
                       Step&& step) {
    TBasicConnections* partner = second->GetConnections(conns->GetFromLayer(), conns->GetToLayer());
    const TWeightStorage s = conns->GetStorage();
    const TWeightStorage s2 = partner->GetStorage();
    if (s.weights == nullptr || s2.weights == nullptr || s.nFrom != s2.nFrom || s.nTo != s2.nTo ||
        conns->GetConnectionsNType() != partner->GetConnectionsNType()) {
        conns->Iterate2(visitor, second, 0);
        return;
    }
    for (int to = 0; to < s.nTo; to++) {
        double* w = s.weights + static_cast<long>(to) * s.nFrom;
        double* g = s2.weights + static_cast<long>(to) * s.nFrom;
        if (s.masks == nullptr) {
            for (int from = 0; from < s.nFrom; from++) {
                step(w[from], g[from], from, to);
            }
        } else {
            const unsigned char* m = s.masks + static_cast<long>(to) * s.nFrom;
            for (int from = 0; from < s.nFrom; from++) {
                if ((m[from] & FMaskAll) == FMaskAll) {
                    step(w[from], g[from], from, to);
                }
            }
        }
    }
}

// As Iterate2Trainable for three networks: step(w, g, d) over conns->Iterate3(visitor, second,
// third, 0)'s weights.
template <class Step>
void Iterate3Trainable(TBasicConnections* conns, TBasicNetwork* second, TBasicNetwork* third,
                       TIterateObj3& visitor, Step&& step) {
    const int fromLayer = conns->GetFromLayer();
    const int toLayer = conns->GetToLayer();
    TBasicConnections* partner2 = second->GetConnections(fromLayer, toLayer);
    TBasicConnections* partner3 = third->GetConnections(fromLayer, toLayer);
    const TWeightStorage s = conns->GetStorage();
    const TWeightStorage s2 = partner2->GetStorage();
    const TWeightStorage s3 = partner3->GetStorage();
    const char* type = conns->GetConnectionsNType();
    if (s.weights == nullptr || s2.weights == nullptr || s3.weights == nullptr ||
        s.nFrom != s2.nFrom || s.nTo != s2.nTo || s.nFrom != s3.nFrom || s.nTo != s3.nTo ||
        type != partner2->GetConnectionsNType() || type != partner3->GetConnectionsNType()) {
        conns->Iterate3(visitor, second, third, 0);
        return;
    }
    const long count = static_cast<long>(s.nTo) * s.nFrom;
    if (s.masks == nullptr) {
        for (long i = 0; i < count; i++) {
            step(s.weights[i], s2.weights[i], s3.weights[i]);
        }
    } else {
        for (long i = 0; i < count; i++) {
            if ((s.masks[i] & FMaskAll) == FMaskAll) {
                step(s.weights[i], s2.weights[i], s3.weights[i]);
            }
        }
    }
}

}  // namespace synapsor
