// Arc iterators: cursors over the weighted connections (arcs) that end at one neuron, either
// from every layer (TInAllArcsIterator) or from one given layer (TInLayerArcsIterator). They hold
// pointers into the network: any structural change of the network invalidates them. Getters are
// only meaningful while IsOnArc() is true.
#pragma once

#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

class TConnectedNetwork;

class TArcsIterator {
  public:
    virtual ~TArcsIterator() = default;
    virtual int GetFromLayer() = 0;
    virtual int GetToLayer() = 0;
    virtual int GetFromNode() = 0;
    virtual int GetToNode() = 0;
    virtual TBasicNeuron* GetToNeuron() = 0;
    virtual TBasicNeuron* GetFromNeuron() = 0;
    virtual double* GetWeight() = 0;  // the cell GetWeight(from, to) of the arc's matrix
    virtual void Reserved7();         // fatal internal check
    virtual bool HasArc() { return IsOnArc(); }
    virtual void Reserved9();   // fatal internal check
    virtual void Reserved10();  // fatal internal check
    virtual bool IsOnArc() = 0;
    virtual bool Next() = 0;
    virtual bool Prev() = 0;
};

class TInAllArcsIterator : public TArcsIterator {
  public:
    explicit TInAllArcsIterator(TConnectedNetwork* net) : network(net) {}
    virtual void Start(int /*toLayer*/, int /*toNode*/) {}
    // Starts on the neuron's own layerNum and nodeNum.
    void Start(const TBasicNeuron* neuron) { Start(neuron->layerNum, neuron->nodeNum); }

  protected:
    TConnectedNetwork* network;
};

class TInLayerArcsIterator : public TArcsIterator {
  public:
    explicit TInLayerArcsIterator(TConnectedNetwork* net) : network(net) {}
    virtual void Start(int /*toLayer*/, int /*toNode*/, int /*fromLayer*/) {}

  protected:
    TConnectedNetwork* network;
};

// Walks from-layers in increasing order (skipping unconnected pairs and empty layers), and
// inside each from-neuron in increasing order, whatever the weights' flags. Prev walks back the
// same way. A walk that ran off either end stays there (Next and Prev answer false beyond it) and
// comes back onto the last (first) arc with the opposite step.
class TConnInAllArcsIterator : public TInAllArcsIterator {
  public:
    explicit TConnInAllArcsIterator(TConnectedNetwork* net) : TInAllArcsIterator(net) {}
    using TInAllArcsIterator::Start;
    void Start(int toLayer, int toNode) override;
    int GetFromLayer() override { return fromLayer; }
    int GetToLayer() override { return toLayer; }
    int GetFromNode() override { return fromNode; }
    int GetToNode() override { return toNode; }
    TBasicNeuron* GetToNeuron() override { return toNeuron; }
    TBasicNeuron* GetFromNeuron() override { return fromNeuron; }
    double* GetWeight() override { return weight; }
    bool IsOnArc() override { return conns != nullptr; }
    bool Next() override;
    bool Prev() override;

    int fromLayer = -1;
    int fromNode = -1;
    int toLayer = 0;
    int toNode = 0;
    TBasicNeuron* fromNeuron = nullptr;
    TBasicNeuron* toNeuron = nullptr;
    double* weight = nullptr;
    int lastFromNode = -1;
    TBasicConnections* conns = nullptr;

  private:
    // Stands on from-neuron `node` of the current from-layer, whose matrix is `conns`.
    void StandOn(int node);
};

class TConnInLayerArcsIterator : public TInLayerArcsIterator {
  public:
    explicit TConnInLayerArcsIterator(TConnectedNetwork* net) : TInLayerArcsIterator(net) {}
    // The pair (fromLayer to toLayer) must be connected.
    void Start(int toLayer, int toNode, int fromLayer) override;
    int GetFromLayer() override { return fromLayer; }
    int GetToLayer() override { return toLayer; }
    int GetFromNode() override { return fromNode; }
    int GetToNode() override { return toNode; }
    TBasicNeuron* GetToNeuron() override { return toNeuron; }
    TBasicNeuron* GetFromNeuron() override { return fromNeuron; }
    double* GetWeight() override { return weight; }
    bool IsOnArc() override { return started; }
    bool Next() override;
    bool Prev() override;

    int fromLayer = 0;
    int fromNode = -1;
    int toLayer = 0;
    int toNode = 0;
    TBasicNeuron* fromNeuron = nullptr;
    TBasicNeuron* toNeuron = nullptr;
    double* weight = nullptr;
    double* fromValues = nullptr;
    int lastFromNode = -1;
    TBasicConnections* conns = nullptr;

  private:
    void StandOn(int node);  // as in TConnInAllArcsIterator

    bool started = false;
};

}  // namespace synapsor
