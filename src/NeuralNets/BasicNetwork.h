// TBasicNetwork: an ordered list of layers (numbered from 0 in the order of the forward pass)
// and a square matrix with one connections object for every ordered pair of layers, never null:
// a pair without weights holds a TEmptyConnections. The object for (from f, to t) is
// priv_conns[t * n_layers + f], also reached as priv_conns_index[t][f]. Layer 0 is by convention
// the bias layer, inLayer the input layer and outLayer the output layer. The network owns its
// layers, its connection objects and its activation-function registry; copies are deep.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/Connections.h"
#include "NeuralNets/Layers.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

class TInAllArcsIterator;

class TBasicNetwork {
public:
    TBasicNetwork();                     // no set-up: a derived class calls Init
    explicit TBasicNetwork(int n_layers);  // Init(n_layers); the caller fills every layer
    TBasicNetwork(const TBasicNetwork& x);
    TBasicNetwork& operator=(const TBasicNetwork& x);
    virtual ~TBasicNetwork();

    // Sizes the frame for n layers: inLayer 1, outLayer n - 1, every layer slot null until the
    // builder stores one (SetLayer), every pair a TEmptyConnections, a fresh registry.
    void Init(int n);

    // Counting, copying and random filling over every connection in matrix order: from-layer
    // in the outer loop, to-layer in the inner loop.
    virtual int GetNumWeights(int maskFilter);
    virtual int GetWeights(double* buffer, int maskFilter);
    virtual int SetWeights(const double* buffer, int maskFilter);
    virtual void RandomizeWeights(double lo, double hi);
    // Replaces an unconnected pair by this class's weight matrix (TPrunedConnections here);
    // a connected pair keeps its matrix and weights.
    virtual void Connect(int fromLayer, int toLayer);
    // Replaces the pair's matrix by a TEmptyConnections, whatever it was.
    virtual void Disconnect(int fromLayer, int toLayer);
    // The forward pass: every layer in increasing order computes itself from the lower layers
    // (the layer at inLayer from `input`); then the output layer's values are copied to `output`.
    virtual void Recall(const double* input, double* output);
    virtual const char* GetTypeName() const { return "Basic"; }
    // Iterator over all arcs into one neuron; only the connected network provides it (fatal
    // internal check here).
    virtual std::unique_ptr<TInAllArcsIterator> NewInAllArcsIterator();

    int GetNumNeurons() const;
    // Neurons numbered across the network, layer 0's first; fatal internal check out of range.
    TBasicNeuron* GetNeuron(int index);

    int GetNumLayers() const { return n_layers; }
    TBasicLayer* GetLayer(int i) const { return layers[i].get(); }
    int GetInLayer() const { return inLayer; }
    int GetOutLayer() const { return outLayer; }
    TBasicConnections* GetConnections(int fromLayer, int toLayer) const {
        return priv_conns_index[toLayer][fromLayer];
    }
    TFnRegistry* GetFnRegistry() const { return fnRegistry.get(); }

    // Stores `layer` (built for this network, with layerNum i) at index i, taking ownership;
    // a layer already there is destroyed.
    void SetLayer(int i, TBasicLayer* layer);
    // Installs `conns` (built for this network and this pair) at (fromLayer, toLayer), taking
    // ownership; the object there is destroyed.
    void SetConnections(int fromLayer, int toLayer, TBasicConnections* conns);
    // Index of the first layer slot that holds no layer, or -1 when every layer exists.
    int GetMissingLayer() const;

    // Structural editing. Fatal internal checks guard layer and neuron indices and refuse to
    // edit the input and output layers.
    void InsertNode(int LayerNum, int node, double lo, double hi, bool attached);
    void DeleteNode(int LayerNum, int node);
    // Inserts `layer` (built for this network) at LayerNum, taking ownership; layers and
    // connections above it move up by one and are renumbered. The new layer starts unconnected.
    void InsertLayer(int LayerNum, TBasicLayer* layer);
    void DeleteLayer(int LayerNum);
    // Deletes every hidden (and bias) neuron below outLayer without an outgoing weight,
    // cascading downwards; returns how many were deleted.
    int PruneNodes();
    void IterateNodeInputs(TIterateObj& v, int toLayer, int node, int maskFilter);
    void IterateNodeOutputs(TIterateObj& v, int fromLayer, int node, int maskFilter);
    // Checks the frame's invariants: every layer present with layerNum equal to its index,
    // every connection object numbered after its position and shaped after its two layers.
    // Returns an empty text when consistent, else what is wrong.
    std::string CheckConsistency() const;

    int n_layers = 0;
    std::vector<std::unique_ptr<TBasicLayer>> layers;
    int inLayer = 1;
    int outLayer = 0;
    std::vector<TBasicConnections*> priv_conns;         // owned, released with Destroy()
    std::vector<TBasicConnections**> priv_conns_index;  // row t points at priv_conns + t * n_layers
    std::unique_ptr<TFnRegistry> fnRegistry;

protected:
    void DestroyConnections();
    void CopyFrom(const TBasicNetwork& x);
    void IndexRows();
};

}  // namespace synapsor
