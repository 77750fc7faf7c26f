#include "NeuralNets/Neurons.h"

#include "Common/Assert.h"
#include "NeuralNets/Layers.h"

namespace synapsor {

void TBasicNeuron::GetParameters(double* /*values*/) const {}

void TBasicNeuron::SetParameters(const double* /*values*/) {}

const char* TBasicNeuron::GetParameterName(int /*i*/) const {
    SYN_ASSERT(false);
}

void TBasicNeuron::CopyFrom(const TBasicNeuron* /*source*/) {}

void TBasicNeuron::SetActFunction(ActFunction fn) {
    actFn = fn;
    if (layer != nullptr)
        layer->actFn = nullptr;
}

void TGainNeuron::GetParameters(double* values) const {
    values[0] = gain;
}

void TGainNeuron::SetParameters(const double* values) {
    gain = values[0];
}

const char* TGainNeuron::GetParameterName(int i) const {
    // clang-format off
    SYN_ASSERT(i==0);
    // clang-format on
    return "Gain";
}

void CopyBaseFields(TBasicNeuron& dest, const TBasicNeuron& source) {
    dest.layerNum = source.layerNum;
    dest.nodeNum = source.nodeNum;
    dest.output = source.output;
    dest.layer = source.layer;
    dest.actFn = source.actFn;
}

}  // namespace synapsor
