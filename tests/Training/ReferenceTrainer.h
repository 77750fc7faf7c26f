// A plain scalar back-propagation trainer written straight from the definition of an epoch: one
// loop per step, every sum in its defined order, nothing fused. The training kernel must give
// exactly its numbers; the benchmark times it as the yardstick. Test and benchmark code only.
// It trains the network in place through its matrices' storage views and keeps its own
// gradient and last-change arrays.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/ErrorObj.h"

namespace synapsor {
namespace reference {

enum class Penalty { None, Quad, LWF };
enum class Rule { Backprop, Rprop, Adam };

struct Params {
    bool batch = false;
    bool crossEntropy = false;
    double learningRate = 0.0;
    double momentum = 0.0;
    Penalty penalty = Penalty::None;
    double epsilon1 = 0.0;
    double epsilon2 = 0.0;
    double beta = 1.0;
    double forgettingRate = 0.0;
    Rule rule = Rule::Backprop;
    int batchSize = 0;  // > 0: an update after every batchSize patterns
    double firstStep = 0.1;
    double beta1 = 0.9;
    double beta2 = 0.999;
    double epsilon = 1e-8;
};

class Trainer {
  public:
    explicit Trainer(TBasicNetwork* network) : net(network) {
        const int n = net->GetNumLayers();
        for (int f = 0; f < n; f++) {
            for (int t = 0; t < n; t++) {
                TBasicConnections* c = net->GetConnections(f, t);
                if (!c->IsConnected())
                    continue;
                Pair p{f, t, c->GetStorage(), {}, {}, {}, {}};
                const std::size_t count = static_cast<std::size_t>(p.s.nFrom) * p.s.nTo;
                p.g.assign(count, 0.0);
                p.d.assign(count, 0.0);
                p.s1.assign(count, 0.0);
                p.s2.assign(count, 0.0);
                pairs.push_back(p);
            }
        }
        for (int i = 0; i < n; i++)
            errors.emplace_back(net->GetLayer(i)->values.size(), 0.0);
    }

    // One pass over the data set's rows; the pass's error as TrainEpoch reports it.
    double Epoch(Data* data, const Params& p, TErrorObj* error, TKQstructure* penalty) {
        const int rows = data->MbrNdxRows;
        std::vector<double> input(static_cast<std::size_t>(net->GetLayer(net->inLayer)->numNodes));
        std::vector<double> target(static_cast<std::size_t>(data->MbrNdxOutputs));
        error->Reset();
        data->MbrNdxCurrent = data->MbrNdxLast;
        // Groups of `size` patterns, each ending in an update with its share of the penalty.
        const int size = p.batchSize > 0 ? p.batchSize : (p.batch ? rows : 1);
        for (int first = 0; first < rows; first += size) {
            const int count = size < rows - first ? size : rows - first;
            ZeroGradients();
            for (int r = first; r < first + count; r++) {
                const int row = order.empty() ? -1 : data->StepRow(start(data), order[r] + 1);
                if (row < 0)
                    data->GetNext(input.data(), target.data(), nullptr);
                else
                    data->GetSelectedRow(row, input.data(), target.data());
                Pattern(p, input.data(), target.data(), error);
            }
            PenaltyAndUpdate(p, count, rows);
        }
        if (p.penalty != Penalty::None) {
            std::vector<double> w(static_cast<std::size_t>(net->GetNumWeights(0)));
            net->GetWeights(w.data(), 0);
            error->AddPenalty(static_cast<int>(w.size()), w.data(), penalty);
        }
        return error->GetError();
    }

    // Shuffled passes: position i of a pass takes the row order[i] + 1 places after the cursor.
    std::vector<int> order;

    // The forward pass of the network's Recall, for inputs copied by the input layer.
    void Forward(const double* input) {
        const int n = net->GetNumLayers();
        for (int t = 0; t < n; t++) {
            TBasicLayer* layer = net->GetLayer(t);
            double* v = layer->values.data();
            if (t == net->inLayer) {
                for (int k = 0; k < layer->numNodes; k++)
                    v[k] = input[k];
                continue;
            }
            for (int k = 0; k < layer->numNodes; k++)
                v[k] = 0.0;
            for (int f = 0; f < t; f++) {
                const TWeightStorage s = net->GetConnections(f, t)->GetStorage();
                if (s.weights == nullptr)
                    continue;
                const double* in = net->GetLayer(f)->values.data();
                for (int to = 0; to < s.nTo; to++) {
                    double sum = 0.0;
                    for (int from = 0; from < s.nFrom; from++) {
                        const std::size_t at = static_cast<std::size_t>(to) * s.nFrom + from;
                        if (s.masks == nullptr || (s.masks[at] & FMaskExists))
                            sum += s.weights[at] * in[from];
                    }
                    v[to] += sum;
                }
            }
            layer->Activate(v);
        }
    }

    // The error terms of the last pattern, layer by layer.
    const std::vector<std::vector<double>>& Errors() const { return errors; }

    std::vector<double> Gradient() const {
        std::vector<double> all;
        for (const Pair& p : pairs)
            all.insert(all.end(), p.g.begin(), p.g.end());
        return all;
    }

  private:
    struct Pair {
        int from;
        int to;
        TWeightStorage s;
        std::vector<double> g;
        std::vector<double> d;   // the last change
        std::vector<double> s1;  // Rprop: the remembered gradient; Adam: m
        std::vector<double> s2;  // Rprop: the step (0 before the first); Adam: v
    };

    static int start(const Data* data) { return data->MbrNdxLast; }

    static bool Trainable(const TWeightStorage& s, std::size_t at) {
        return s.masks == nullptr || (s.masks[at] & FMaskAll) == FMaskAll;
    }

    void ZeroGradients() {
        for (Pair& p : pairs)
            for (std::size_t i = 0; i < p.g.size(); i++)
                if (Trainable(p.s, i))
                    p.g[i] = 0.0;
    }

    void Pattern(const Params& p, const double* input, const double* target, TErrorObj* error) {
        for (std::vector<double>& e : errors)
            for (double& x : e)
                x = 0.0;
        Forward(input);
        const int out = net->outLayer;
        const double* o = net->GetLayer(out)->values.data();
        error->AddPattern(target, o);
        for (int k = 0; k < net->GetLayer(out)->numNodes; k++)
            errors[out][k] = o[k] - target[k];
        for (int t = net->GetNumLayers() - 1; t >= 0; t--) {
            TBasicLayer* layer = net->GetLayer(t);
            double* e = errors[t].data();
            const double* y = layer->values.data();
            const ActFunction fn = layer->GetActFunction();
            for (int k = 0; k < layer->numNodes; k++) {
                if (p.crossEntropy && t == out)
                    break;
                const double gain = layer->GetNeuron(k)->GetGain();
                if (fn == ActLinearGain)
                    e[k] = gain * e[k];
                else if (fn == ActSigmoid)
                    e[k] = (1.0 - y[k]) * y[k] * e[k];
                else if (fn == ActTanh)
                    e[k] = (1.0 - y[k] * y[k]) * e[k];
                else if (fn == ActSigmoidGain)
                    e[k] = gain * (1.0 - y[k]) * y[k] * e[k];
                else if (fn == ActTanhGain)
                    e[k] = gain * (1.0 - y[k] * y[k]) * e[k];
            }
            for (int f = t - 1; f >= 0; f--) {
                for (Pair& pair : pairs) {
                    if (pair.from != f || pair.to != t)
                        continue;
                    const double* below = net->GetLayer(f)->values.data();
                    double* eb = errors[f].data();
                    for (int to = 0; to < pair.s.nTo; to++) {
                        for (int from = 0; from < pair.s.nFrom; from++) {
                            const std::size_t at =
                                static_cast<std::size_t>(to) * pair.s.nFrom + from;
                            if (!Trainable(pair.s, at))
                                continue;
                            eb[from] += pair.s.weights[at] * e[to];
                            pair.g[at] += e[to] * below[from];
                        }
                    }
                }
            }
        }
    }

    void PenaltyAndUpdate(const Params& p, int share, int whole) {
        const double rate = p.learningRate;
        const double a = p.epsilon1 * rate * share / whole;
        const double b = p.epsilon2 * rate * share / whole;
        for (Pair& pair : pairs) {
            for (std::size_t i = 0; i < pair.g.size(); i++) {
                if (!Trainable(pair.s, i))
                    continue;
                const double w = pair.s.weights[i];
                if (p.penalty == Penalty::Quad) {
                    const double d = 1.0 + p.beta * (w * w);
                    pair.g[i] = pair.g[i] + 2.0 * w * (a * p.beta / (d * d) + b);
                } else if (p.penalty == Penalty::LWF) {
                    const double sgn = w < 0.0 ? -1.0 : (w > 0.0 ? 1.0 : 0.0);
                    pair.g[i] = pair.g[i] + sgn * p.forgettingRate * (p.forgettingRate / rate);
                }
            }
        }
        steps++;
        const double c1 = 1.0 - std::pow(p.beta1, static_cast<double>(steps));
        const double c2 = 1.0 - std::pow(p.beta2, static_cast<double>(steps));
        for (Pair& pair : pairs) {
            for (std::size_t i = 0; i < pair.g.size(); i++) {
                if (!Trainable(pair.s, i))
                    continue;
                double& w = pair.s.weights[i];
                const double g = pair.g[i];
                if (p.rule == Rule::Rprop) {
                    double step = pair.s2[i] == 0.0 ? p.firstStep : pair.s2[i];
                    double kept = g;
                    if (pair.s1[i] * g > 0.0) {
                        step = std::min(step * 1.2, 50.0);
                    } else if (pair.s1[i] * g < 0.0) {
                        step = std::max(step * 0.5, 1e-6);
                        kept = 0.0;
                    }
                    const double change = kept > 0.0 ? -step : (kept < 0.0 ? step : 0.0);
                    pair.d[i] = change;
                    pair.s1[i] = kept;
                    pair.s2[i] = step;
                    w = w + change;
                } else if (p.rule == Rule::Adam) {
                    const double m = p.beta1 * pair.s1[i] + (1.0 - p.beta1) * g;
                    const double v = p.beta2 * pair.s2[i] + (1.0 - p.beta2) * (g * g);
                    const double change =
                        -((p.learningRate * (m / c1)) / (std::sqrt(v / c2) + p.epsilon));
                    pair.d[i] = change;
                    pair.s1[i] = m;
                    pair.s2[i] = v;
                    w = w + change;
                } else if (p.momentum == 0.0) {
                    w = w - rate * pair.g[i];
                } else {
                    const double change = -(rate * pair.g[i]) + p.momentum * pair.d[i];
                    pair.d[i] = change;
                    w = w + change;
                }
            }
        }
    }

    TBasicNetwork* net;
    std::uint64_t steps = 0;
    std::vector<Pair> pairs;
    std::vector<std::vector<double>> errors;
};

}  // namespace reference
}  // namespace synapsor
