// Small networks, data sets and an independent reference for the trainer tests. The reference
// trains by central-difference gradients of the pattern error, computed from the network's
// forward pass alone, so it shares no code with the back-propagation under test.
#pragma once

#include <cmath>
#include <functional>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "CoreTestNets.h"
#include "DataObject/Data.h"
#include "KQmessage/KQML.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Layers.h"

namespace synapsor {
namespace testnets {

struct LayerKind {
    const char* name;
    ActFunction fn;
    bool gain;  // a gain layer with gains other than 1
};

const LayerKind kLinear{"linear", ActLinear, false};
const LayerKind kSigmoid{"sigmoid", ActSigmoid, false};
const LayerKind kTanh{"tanh", ActTanh, false};

// A parameter structure headed `head` holding the given numbers.
inline std::unique_ptr<TKQstructure> Structure(
    const char* head, std::initializer_list<std::pair<const char*, double>> numbers) {
    auto s = std::make_unique<TKQstructure>(head);
    for (const auto& [key, value] : numbers)
        s->SetNumber(key, value);
    return s;
}

inline TBasicLayer* MakeLayer(TBasicNetwork* net, int index, int size, const LayerKind& kind,
                              double gain0, double gain1) {
    TBasicLayer* layer;
    if (kind.gain) {
        auto* g = new TGainLayer(net, index, size, 1.0);
        g->nodes[0].gain = gain0;
        g->nodes[1].gain = gain1;
        layer = g;
    } else {
        layer = new TSimpleLayer(net, index, size);
    }
    layer->SetActFunction(kind.fn);
    return layer;
}

// Bias layer 0 (one neuron), input layer 1 (two), hidden layer 2 (two), output layer 3 (two),
// connected 0->2, 1->2, 0->3, 2->3 and the skip 1->3, all pruneable, with fixed weights.
inline std::unique_ptr<TBasicNetwork> MakeNet(const LayerKind& hidden, const LayerKind& output) {
    auto net = std::make_unique<TBasicNetwork>(4);
    TBasicLayer* bias = new TSimpleLayer(net.get(), 0, 1);
    bias->SetActFunction(ActBias);
    net->SetLayer(0, bias);
    net->SetLayer(1, new TSimpleInputLayer(net.get(), 1, 2));
    net->SetLayer(2, MakeLayer(net.get(), 2, 2, hidden, 1.7, 0.6));
    net->SetLayer(3, MakeLayer(net.get(), 3, 2, output, 0.8, 1.3));
    const int pairs[5][2] = {{0, 2}, {1, 2}, {0, 3}, {2, 3}, {1, 3}};
    double w = -0.45;
    for (const auto& p : pairs) {
        net->Connect(p[0], p[1]);
        TBasicConnections* c = net->GetConnections(p[0], p[1]);
        for (int to = 0; to < c->NumTo(); to++) {
            for (int from = 0; from < c->NumFrom(); from++) {
                c->GetWeight(from, to) = w;
                w += 0.17;
                if (w > 0.6)
                    w -= 1.1;
            }
        }
    }
    return net;
}

struct Pattern {
    std::vector<double> in;
    std::vector<double> target;
};

inline std::vector<Pattern> Patterns() {
    return {{{0.5, -0.3}, {0.2, 0.7}}, {{-0.8, 0.1}, {0.9, 0.4}}, {{0.3, 0.9}, {0.1, 0.6}}};
}

inline std::unique_ptr<Data> MakeData(const std::vector<Pattern>& patterns) {
    auto data = std::make_unique<Data>(static_cast<int>(patterns.size()),
                                       static_cast<int>(patterns[0].in.size()),
                                       static_cast<int>(patterns[0].target.size()), false);
    for (const Pattern& p : patterns)
        data->AppendRow(p.in.data(), p.target.data(), nullptr);
    return data;
}

inline std::vector<double> Outputs(TBasicNetwork& net, const Pattern& p) {
    std::vector<double> out(p.target.size());
    net.Recall(p.in.data(), out.data());
    return out;
}

// 1/2 sum (o - t)^2, or the cross-entropy sum -t ln o - (1 - t) ln(1 - o).
inline double PatternError(TBasicNetwork& net, const Pattern& p, bool crossEntropy) {
    const std::vector<double> o = Outputs(net, p);
    double e = 0.0;
    for (size_t k = 0; k < o.size(); k++) {
        const double t = p.target[k];
        e += crossEntropy ? -t * std::log(o[k]) - (1 - t) * std::log(1 - o[k])
                          : 0.5 * (o[k] - t) * (o[k] - t);
    }
    return e;
}

inline std::vector<double> Weights(TBasicNetwork& net, int maskFilter = 0) {
    std::vector<double> w(static_cast<size_t>(net.GetNumWeights(maskFilter)));
    net.GetWeights(w.data(), maskFilter);
    return w;
}

// Central difference of the pattern error with respect to the single weight (from, to) of the
// pair f -> t.
inline double NumericDerivative(TBasicNetwork& net, int f, int t, int from, int to,
                                const Pattern& p, bool crossEntropy) {
    double& w = net.GetConnections(f, t)->GetWeight(from, to);
    const double keep = w;
    const double h = 1e-6;
    w = keep + h;
    const double up = PatternError(net, p, crossEntropy);
    w = keep - h;
    const double down = PatternError(net, p, crossEntropy);
    w = keep;
    return (up - down) / (2 * h);
}

// Central differences of the pattern error with respect to every trainable weight.
inline std::vector<double> NumericGradient(TBasicNetwork& net, const Pattern& p,
                                           bool crossEntropy) {
    std::vector<double> w = Weights(net);
    std::vector<double> g(w.size());
    const double h = 1e-6;
    for (size_t i = 0; i < w.size(); i++) {
        const double keep = w[i];
        w[i] = keep + h;
        net.SetWeights(w.data(), 0);
        const double up = PatternError(net, p, crossEntropy);
        w[i] = keep - h;
        net.SetWeights(w.data(), 0);
        const double down = PatternError(net, p, crossEntropy);
        w[i] = keep;
        g[i] = (up - down) / (2 * h);
    }
    net.SetWeights(w.data(), 0);
    return g;
}

// Penalty gradient term for one weight, given the share of a pass the call stands for (1/n per
// pattern online, 1 per batch pass).
using PenaltyDerivative = std::function<double(double w, double share)>;

// One pass of plain gradient descent (no momentum) with numeric gradients: online updates after
// every pattern, or one batch update with the summed gradient, each with its penalty term. Returns
// the root of the summed squared errors over outputs and patterns, outputs taken before each
// update.
inline double ReferencePass(TBasicNetwork& net, const std::vector<Pattern>& patterns, double rate,
                            bool batch, const PenaltyDerivative& penalty = nullptr) {
    const double n = static_cast<double>(patterns.size());
    double squares = 0.0;
    std::vector<double> sum(Weights(net).size(), 0.0);
    for (const Pattern& p : patterns) {
        const std::vector<double> o = Outputs(net, p);
        for (size_t k = 0; k < o.size(); k++)
            squares += (p.target[k] - o[k]) * (p.target[k] - o[k]);
        const std::vector<double> g = NumericGradient(net, p, false);
        std::vector<double> w = Weights(net);
        for (size_t i = 0; i < w.size(); i++) {
            if (batch) {
                sum[i] += g[i];
            } else {
                w[i] -= rate * (g[i] + (penalty ? penalty(w[i], 1.0 / n) : 0.0));
            }
        }
        net.SetWeights(w.data(), 0);
    }
    if (batch) {
        std::vector<double> w = Weights(net);
        for (size_t i = 0; i < w.size(); i++)
            w[i] -= rate * (sum[i] + (penalty ? penalty(w[i], 1.0) : 0.0));
        net.SetWeights(w.data(), 0);
    }
    return std::sqrt(squares / patterns[0].target.size() / n);
}

}  // namespace testnets
}  // namespace synapsor
