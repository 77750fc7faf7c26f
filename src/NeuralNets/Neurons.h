// Neurons. A neuron owns no value: `output` points at its cell in the owning layer's `values`
// array, where the net input is gathered and then replaced by the neuron's output. Neurons are
// created in arrays by their layer, which sets the five base fields and re-points `output` and
// `layer` whenever it moves neurons.
#pragma once

#include "NeuralNets/ActFunctions.h"

namespace synapsor {

class TBasicLayer;

class TBasicNeuron {
public:
    TBasicNeuron() = default;
    virtual ~TBasicNeuron() = default;
    TBasicNeuron(const TBasicNeuron&) = default;
    TBasicNeuron& operator=(const TBasicNeuron&) = default;

    void Activate(double net) { actFn(this, net); }

    // Named per-neuron parameters carried by the network file. A plain neuron has none.
    virtual int GetNumParameters() const { return 0; }
    virtual void GetParameters(double* values) const;
    virtual void SetParameters(const double* values);
    virtual const char* GetParameterName(int i) const;  // fatal internal check on a plain neuron
    // Hook called by the layer after it has copied the five base fields of `source`.
    virtual void CopyFrom(const TBasicNeuron* source);
    // Slope factor read by the gain functions; a plain neuron has none and answers 1.0.
    virtual double GetGain() const { return 1.0; }

    // Sets the function and clears the owning layer's cached common function.
    void SetActFunction(ActFunction fn);
    ActFunction GetActFunction() const { return actFn; }

    int layerNum = 0;
    int nodeNum = 0;
    double* output = nullptr;
    TBasicLayer* layer = nullptr;
    ActFunction actFn = ActError;
};

class TGainNeuron : public TBasicNeuron {
public:
    int GetNumParameters() const override { return 1; }
    void GetParameters(double* values) const override;
    void SetParameters(const double* values) override;
    const char* GetParameterName(int i) const override;  // "Gain"; fatal check unless i == 0
    double GetGain() const override { return gain; }

    double gain = 1.0;
};

// Copies the five base fields (layerNum, nodeNum, output, layer, actFn) of `source`.
void CopyBaseFields(TBasicNeuron& dest, const TBasicNeuron& source);

}  // namespace synapsor
