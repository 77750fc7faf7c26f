#include "NeuralNets/ActFunctions.h"

#include <cmath>

#include "Common/Assert.h"
#include "Common/StrCase.h"
#include "NeuralNets/Neurons.h"

namespace synapsor {

namespace {

// Lets the registry compare a name with a stored entry name directly.
int strcasecmp(const char* a, const std::string& b) {
    return synapsor::strcasecmp(a, b.c_str());
}

}  // namespace

void ActError(TBasicNeuron* /*neuron*/, double /*net*/) {
    SYN_ASSERT(false);
}

void ActNull(TBasicNeuron* /*neuron*/, double /*net*/) {
    SYN_ASSERT(false);
}

void ActBias(TBasicNeuron* neuron, double /*net*/) {
    *neuron->output = 1.0;
}

void ActLinear(TBasicNeuron* neuron, double net) {
    *neuron->output = net;
}

void ActSaturatedLinear(TBasicNeuron* neuron, double net) {
    *neuron->output = SaturatedLinearValue(net);
}

void ActSigmoid(TBasicNeuron* neuron, double net) {
    *neuron->output = SigmoidValue(net);
}

void ActTanh(TBasicNeuron* neuron, double net) {
    *neuron->output = TanhValue(net);
}

void ActLinearGain(TBasicNeuron* neuron, double net) {
    *neuron->output = neuron->GetGain() * net;
}

void ActSigmoidGain(TBasicNeuron* neuron, double net) {
    *neuron->output = SigmoidGainValue(neuron->GetGain(), net);
}

void ActTanhGain(TBasicNeuron* neuron, double net) {
    *neuron->output = TanhGainValue(neuron->GetGain(), net);
}

TActivationKind GetActivationKind(ActFunction fn) {
    if (fn == ActBias)
        return TActivationKind::Bias;
    if (fn == ActLinear)
        return TActivationKind::Linear;
    if (fn == ActSaturatedLinear)
        return TActivationKind::SaturatedLinear;
    if (fn == ActSigmoid)
        return TActivationKind::Sigmoid;
    if (fn == ActTanh)
        return TActivationKind::Tanh;
    if (fn == ActLinearGain)
        return TActivationKind::LinearGain;
    if (fn == ActSigmoidGain)
        return TActivationKind::SigmoidGain;
    if (fn == ActTanhGain)
        return TActivationKind::TanhGain;
    return TActivationKind::Other;
}

TDerivativeKind GetDerivativeKind(ActFunction fn) {
    if (fn == ActLinear)
        return TDerivativeKind::Linear;
    if (fn == ActLinearGain)
        return TDerivativeKind::LinearGain;
    if (fn == ActSigmoid)
        return TDerivativeKind::Sigmoid;
    if (fn == ActTanh)
        return TDerivativeKind::Tanh;
    if (fn == ActSigmoidGain)
        return TDerivativeKind::SigmoidGain;
    if (fn == ActTanhGain)
        return TDerivativeKind::TanhGain;
    return TDerivativeKind::None;
}

bool UsesGain(ActFunction fn) {
    return fn == ActLinearGain || fn == ActSigmoidGain || fn == ActTanhGain;
}

TFnRegistry::TFnRegistry() {
    entries.reserve(capacity);
}

TFnRegistry::~TFnRegistry() = default;

void TFnRegistry::RegisterDefaults() {
    Register(ActError, "error");
    Register(ActNull, "null");
    Register(ActBias, "bias");
    Register(ActLinear, "linear");
    Register(ActSaturatedLinear, "saturated-linear");
    Register(ActSigmoid, "sigmoid");
    Register(ActTanh, "tanh");
    Register(ActLinearGain, "linear-gain");
    Register(ActSigmoidGain, "sigmoid-gain");
    Register(ActTanhGain, "tanh-gain");
}

void TFnRegistry::Register(ActFunction fn, const char* name) {
    const char* p = name;
    for (int k = count - 1; k >= 0; --k) {
        const TEntry* pp = &entries[k];
        // clang-format off
        SYN_ASSERT(strcasecmp(p,pp->name)!=0);
        // clang-format on
    }
    Append(fn, name);
}

void TFnRegistry::Append(ActFunction fn, const char* name) {
    if (count == capacity) {
        capacity *= 2;
        entries.reserve(capacity);
    }
    entries.push_back(TEntry{name, fn});
    count += 1;
}

ActFunction TFnRegistry::FindFunction(const char* name) const {
    for (int k = count - 1; k >= 0; --k)
        if (strcasecmp(name, entries[k].name) == 0)
            return entries[k].fn;
    return nullptr;
}

ActFunction TFnRegistry::GetFunction(const char* name) const {
    for (int k = count - 1; k >= 0; --k)
        if (strcasecmp(name, entries[k].name) == 0)
            return entries[k].fn;
    SYN_ASSERT(false);
}

const char* TFnRegistry::GetName(ActFunction fn) const {
    for (int k = count - 1; k >= 0; --k)
        if (entries[k].fn == fn)
            return entries[k].name.c_str();
    SYN_ASSERT(false);
}

ActFunction& TFnRegistry::Entry(const char* name) {
    for (int k = count - 1; k >= 0; --k)
        if (strcasecmp(name, entries[k].name) == 0)
            return entries[k].fn;
    Append(nullptr, name);
    return entries[count - 1].fn;
}

}  // namespace synapsor
