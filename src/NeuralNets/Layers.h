// Layers: numbered groups of neurons inside one network. A layer owns its neurons and the
// `values` array in which each neuron's net input is gathered and then replaced by its output
// (neuron i's `output` points at values[i]; every operation that moves neurons keeps this).
// Three kinds exist, named in network files: "Simple" (plain neurons), "Gain" (neurons with a
// gain) and "Input" (copies the network's input vector). A layer belongs to exactly one network;
// copying a network clones its layers.
#pragma once

#include <vector>

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/Neurons.h"

namespace synapsor {

class TBasicNetwork;

class TBasicLayer {
public:
    // Attaches the layer to `network`; values are numNodes cells of 0.0, no dimensions.
    TBasicLayer(TBasicNetwork* network, int layerNum, int numNodes);
    virtual ~TBasicLayer();
    TBasicLayer(const TBasicLayer&) = delete;
    TBasicLayer& operator=(const TBasicLayer&) = delete;

    // Applies the common function when it is known, else each neuron's own, to net[i]; the
    // outputs land in values (net may be values itself).
    virtual void Activate(const double* net);
    virtual TBasicNeuron* GetNeuron(int i) = 0;  // unchecked index
    // Computes the layer in the forward pass from the lower-numbered layers (or, for the layer at
    // the network's inLayer, from `input`).
    virtual void Propagate(const double* input);
    virtual const char* GetTypeName() const = 0;
    // A new layer of the same class, size, functions and neuron parameters, attached to `owner`;
    // values are zeroed. The caller owns it.
    virtual TBasicLayer* Clone(TBasicNetwork* owner) const = 0;
    // Neuron moves used by the network's editing; the caller validates `node` and adjusts
    // numNodes afterwards.
    virtual void DeleteNode(int node) = 0;
    virtual void InsertNode(int node);  // fatal internal check on a class without its own

    // Sets the layer's common function and every neuron's function.
    void SetActFunction(ActFunction fn);
    // The function shared by all neurons (cached), ActNull for an empty layer, null when the
    // neurons differ.
    ActFunction GetActFunction();
    void GetDimensions(int* parameters) const;
    void SetDimensions(int count, const int* parameters);

    TBasicNetwork* network;
    ActFunction actFn = nullptr;
    int numNodes;
    int layerNum;
    std::vector<double> values;
    int numDimensions = 0;
    std::vector<int> dimensions;

protected:
    // Copies the base part into a clone: zeroed values, dimensions and the common function.
    void CopyBaseInto(TBasicLayer& clone) const;
    // Sums the weighted outputs of every lower layer into values (values must be zeroed or
    // preset by the caller), then activates in place. Shared by plain and gain layers.
    void PropagateFromLowerLayers();
};

class TSimpleLayer : public TBasicLayer {
public:
    TSimpleLayer(TBasicNetwork* network, int layerNum, int numNodes);

    void Activate(const double* net) override;
    TBasicNeuron* GetNeuron(int i) override { return &nodes[i]; }
    const char* GetTypeName() const override { return "Simple"; }
    TBasicLayer* Clone(TBasicNetwork* owner) const override;
    void DeleteNode(int node) override;
    void InsertNode(int node) override;

    std::vector<TBasicNeuron> nodes;

protected:
    void CloneNodesInto(TSimpleLayer& clone) const;
};

class TGainLayer : public TBasicLayer {
public:
    TGainLayer(TBasicNetwork* network, int layerNum, int numNodes, double gain);

    void Activate(const double* net) override;
    TBasicNeuron* GetNeuron(int i) override { return &nodes[i]; }
    const char* GetTypeName() const override { return "Gain"; }
    TBasicLayer* Clone(TBasicNetwork* owner) const override;
    void DeleteNode(int node) override;
    void InsertNode(int node) override;

    void SetGain(double gain);

    std::vector<TGainNeuron> nodes;
};

// Receives the network's input vector: at the network's inLayer it copies the inputs and applies
// no function; anywhere else it warns and outputs zeros.
class TSimpleInputLayer : public TSimpleLayer {
public:
    TSimpleInputLayer(TBasicNetwork* network, int layerNum, int numNodes);

    void Propagate(const double* input) override;
    const char* GetTypeName() const override { return "Input"; }
    TBasicLayer* Clone(TBasicNetwork* owner) const override;
};

}  // namespace synapsor
