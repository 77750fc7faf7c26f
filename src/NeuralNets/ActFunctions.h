// Activation functions and the registry that names them.
// An activation function is a plain function: it reads the net input given to it and writes
// the neuron's output through the neuron's `output` pointer. Functions are compared by identity;
// every network owns one TFnRegistry filled with the ten built-ins (RegisterDefaults), through
// which the network file reader turns names into functions and the writer functions into names.
#pragma once

#include <cmath>
#include <string>
#include <vector>

namespace synapsor {

class TBasicNeuron;

using ActFunction = void (*)(TBasicNeuron* neuron, double net);

// The built-ins, registered under "error", "null", "bias", "linear", "saturated-linear",
// "sigmoid", "tanh", "linear-gain", "sigmoid-gain", "tanh-gain" in that order.
void ActError(TBasicNeuron* neuron, double net);  // fatal: the function was never set
void ActNull(TBasicNeuron* neuron, double net);   // fatal: common function of an empty layer
void ActBias(TBasicNeuron* neuron, double net);
void ActLinear(TBasicNeuron* neuron, double net);
void ActSaturatedLinear(TBasicNeuron* neuron, double net);
void ActSigmoid(TBasicNeuron* neuron, double net);
void ActTanh(TBasicNeuron* neuron, double net);
void ActLinearGain(TBasicNeuron* neuron, double net);
void ActSigmoidGain(TBasicNeuron* neuron, double net);
void ActTanhGain(TBasicNeuron* neuron, double net);

// The values of the built-in functions, written once: the neuron functions above and the span
// form below both compute their outputs with these, so the two give the same bits.
inline double SaturatedLinearValue(double net) {
    // Written so that a NaN net input falls into the first branch and gives 0.0.
    if (!(net > 0.0))
        return 0.0;
    return net < 1.0 ? net : 1.0;
}
inline double SigmoidValue(double net) {
    // Below -500 the exponential would overflow towards a zero output; a tiny positive floor
    // keeps logarithms of the output finite.
    return net < -500.0 ? 1.0E-300 : 1.0 / (1.0 + std::exp(-net));
}
inline double SigmoidGainValue(double gain, double net) {
    return 1.0 / (1.0 + std::exp(-gain * net));
}
inline double TanhValue(double net) {
    return std::tanh(net);
}
inline double TanhGainValue(double gain, double net) {
    return std::tanh(gain * net);
}

// Which built-in a function is, for the span form. Other: not built in, or one that must never
// run (error, null); such a layer is activated through its neurons.
enum class TActivationKind {
    Other,
    Bias,
    Linear,
    SaturatedLinear,
    Sigmoid,
    Tanh,
    LinearGain,
    SigmoidGain,
    TanhGain
};
TActivationKind GetActivationKind(ActFunction fn);

// The span form of a layer's common function: out[k] = f(net[k]) for k < nodes, gain(k) giving
// neuron k's gain; out may be net. Other leaves out as it is and returns false.
template <class GainOf>
bool ActivateSpan(TActivationKind kind, const double* net, double* out, int nodes, GainOf gain) {
    switch (kind) {
        case TActivationKind::Other:
            return false;
        case TActivationKind::Bias:
            for (int k = 0; k < nodes; k++)
                out[k] = 1.0;
            break;
        case TActivationKind::Linear:
            for (int k = 0; k < nodes; k++)
                out[k] = net[k];
            break;
        case TActivationKind::SaturatedLinear:
            for (int k = 0; k < nodes; k++)
                out[k] = SaturatedLinearValue(net[k]);
            break;
        case TActivationKind::Sigmoid:
            for (int k = 0; k < nodes; k++)
                out[k] = SigmoidValue(net[k]);
            break;
        case TActivationKind::Tanh:
            for (int k = 0; k < nodes; k++)
                out[k] = TanhValue(net[k]);
            break;
        case TActivationKind::LinearGain:
            for (int k = 0; k < nodes; k++)
                out[k] = gain(k) * net[k];
            break;
        case TActivationKind::SigmoidGain:
            for (int k = 0; k < nodes; k++)
                out[k] = SigmoidGainValue(gain(k), net[k]);
            break;
        case TActivationKind::TanhGain:
            for (int k = 0; k < nodes; k++)
                out[k] = TanhGainValue(gain(k), net[k]);
            break;
    }
    return true;
}

// The derivative the trainer multiplies into a layer's error terms, written in terms of the
// output y and the gain g. None: the trainer cannot train through a layer using the function.
enum class TDerivativeKind {
    None,         // error, null, bias, saturated-linear and any function not built in
    Linear,       // 1
    LinearGain,   // g
    Sigmoid,      // y(1 - y)
    Tanh,         // 1 - y^2
    SigmoidGain,  // g y(1 - y)
    TanhGain      // g (1 - y^2)
};
TDerivativeKind GetDerivativeKind(ActFunction fn);

// Multiplies a layer's error terms e by the derivative of its function at the outputs o; gain(k)
// gives neuron k's gain. Linear and None leave e as it is. Both training routes use it, so the
// arithmetic of every product is the same in each.
template <class GainOf>
void MultiplyByDerivative(TDerivativeKind kind, double* e, const double* o, int nodes,
                          GainOf gain) {
    switch (kind) {
        case TDerivativeKind::Linear:
        case TDerivativeKind::None:
            break;
        case TDerivativeKind::LinearGain:
            for (int k = 0; k < nodes; k++)
                e[k] = gain(k) * e[k];
            break;
        case TDerivativeKind::Sigmoid:
            for (int k = 0; k < nodes; k++)
                e[k] = (1.0 - o[k]) * o[k] * e[k];
            break;
        case TDerivativeKind::Tanh:
            for (int k = 0; k < nodes; k++)
                e[k] = (1.0 - o[k] * o[k]) * e[k];
            break;
        case TDerivativeKind::SigmoidGain:
            for (int k = 0; k < nodes; k++)
                e[k] = gain(k) * (1.0 - o[k]) * o[k] * e[k];
            break;
        case TDerivativeKind::TanhGain:
            for (int k = 0; k < nodes; k++)
                e[k] = gain(k) * (1.0 - o[k] * o[k]) * e[k];
            break;
    }
}

// True for "linear-gain", "sigmoid-gain" and "tanh-gain": functions that read the neuron's gain.
bool UsesGain(ActFunction fn);

// Names to functions and back. Names are unique without regard to case; lookups scan from the
// newest entry to the oldest.
class TFnRegistry {
  public:
    TFnRegistry();  // empty, room for 16 entries
    virtual ~TFnRegistry();
    TFnRegistry(const TFnRegistry&) = delete;
    TFnRegistry& operator=(const TFnRegistry&) = delete;

    virtual void RegisterDefaults();

    // Fatal internal check when `name` is already registered (compared without regard to case).
    void Register(ActFunction fn, const char* name);
    // The function registered under `name`; fatal internal check when there is none.
    ActFunction GetFunction(const char* name) const;
    // As GetFunction, but null when `name` is not registered (for names read from files).
    ActFunction FindFunction(const char* name) const;
    // The stored name of `fn`; fatal internal check when `fn` is not registered.
    const char* GetName(ActFunction fn) const;
    // The function slot of `name`, appended with a null function when missing. The reference
    // stays valid until the next registration.
    ActFunction& Entry(const char* name);

    int GetCount() const { return count; }
    int GetCapacity() const { return capacity; }

  private:
    struct TEntry {
        std::string name;
        ActFunction fn;
    };
    void Append(ActFunction fn, const char* name);

    std::vector<TEntry> entries;
    int capacity = 16;
    int count = 0;
};

}  // namespace synapsor
