// Per-weight visitors. A weight matrix binds a visitor to its pair of layers, then, for every
// selected weight, fills `from`, `to`, `weight` and `trainable` and calls Visit(). A visitor may
// be passed to several matrices in turn and keeps its own accumulated fields across them.
// TIterateObj2 / TIterateObj3 walk the matching weights of two or three networks of identical
// shape (a network and its copies) at once.
#pragma once

#include "NeuralNets/Connections.h"

namespace synapsor {

class TBasicLayer;

class TIterateObj {
public:
    virtual ~TIterateObj() = default;
    virtual void Visit() {}

    // Fills the layer numbers, pointers, value arrays and `conns` (the owner network's matrix for
    // the pair).
    void Bind(TBasicLayer* fromLayerObj, TBasicLayer* toLayerObj);

    int fromLayer = 0;
    int toLayer = 0;
    int from = 0;
    int to = 0;
    TBasicConnections* conns = nullptr;
    double* weight = nullptr;
    bool trainable = false;
    TBasicLayer* fromLayerPtr = nullptr;
    TBasicLayer* toLayerPtr = nullptr;
    double* fromValues = nullptr;
    double* toValues = nullptr;
};

// Counts the weights it visits: the one weight counter of the library (GetNumWeights, node
// pruning and the network file writer's choice between a weight list and a matrix use it).
class TIterateObjGetNumWeights : public TIterateObj {
public:
    void Visit() override { count += 1; }
    int count = 0;
};

class TIterateObjGetWeights : public TIterateObj {
public:
    explicit TIterateObjGetWeights(double* out) : cursor(out) {}
    void Visit() override {
        *cursor++ = *weight;
        count += 1;
    }
    int count = 0;
    double* cursor;
};

class TIterateObjSetWeights : public TIterateObj {
public:
    explicit TIterateObjSetWeights(const double* in) : cursor(in) {}
    void Visit() override {
        *weight = *cursor++;
        count += 1;
    }
    int count = 0;
    const double* cursor;
};

class TIterateObjRandomize : public TIterateObj {
public:
    TIterateObjRandomize(double l, double h) : lo(l), hi(h) {}
    void Visit() override;
    double lo;
    double hi;
};

class TIterateObjAggregate : public TIterateObj {
public:
    void Visit() override { sum += fromValues[from] * *weight; }
    double sum = 0.0;
};

class TIterateObjGetFlags : public TIterateObj {
public:
    explicit TIterateObjGetFlags(char* out) : cursor(out) {}
    void Visit() override;
    int count = 0;
    char* cursor;
};

class TIterateObjSetFlags : public TIterateObj {
public:
    explicit TIterateObjSetFlags(const unsigned char* in) : cursor(in) {}
    void Visit() override;
    int count = 0;
    const unsigned char* cursor;
};

class TIterateObjAllUntrainable : public TIterateObj {
public:
    void Visit() override;
};

class TIterateObj2 {
public:
    virtual ~TIterateObj2() = default;
    virtual void Visit() {}

    // Binds to the pair (fromLayer, toLayer) of `network` and `second`; the two matrices must be
    // of the same type (fatal internal check).
    void Bind(TBasicNetwork* network, TBasicNetwork* second, int fromLayer, int toLayer);

    int fromLayer = 0;
    int toLayer = 0;
    int from = 0;
    int to = 0;
    TBasicConnections* conns = nullptr;
    TBasicConnections* conns2 = nullptr;
    double* weight = nullptr;
    double* weight2 = nullptr;
    bool trainable = false;
    TBasicLayer* fromLayerPtr = nullptr;
    TBasicLayer* toLayerPtr = nullptr;
    TBasicLayer* fromLayerPtr2 = nullptr;
    TBasicLayer* toLayerPtr2 = nullptr;
    double* fromValues = nullptr;
    double* toValues = nullptr;
    double* fromValues2 = nullptr;
    double* toValues2 = nullptr;
};

class TIterateObj3 {
public:
    virtual ~TIterateObj3() = default;
    virtual void Visit() {}

    void Bind(TBasicNetwork* network, TBasicNetwork* second, TBasicNetwork* third, int fromLayer,
              int toLayer);

    int fromLayer = 0;
    int toLayer = 0;
    int from = 0;
    int to = 0;
    TBasicConnections* conns = nullptr;
    TBasicConnections* conns2 = nullptr;
    TBasicConnections* conns3 = nullptr;
    double* weight = nullptr;
    double* weight2 = nullptr;
    double* weight3 = nullptr;
    bool trainable = false;
    TBasicLayer* fromLayerPtr = nullptr;
    TBasicLayer* toLayerPtr = nullptr;
    TBasicLayer* fromLayerPtr2 = nullptr;
    TBasicLayer* toLayerPtr2 = nullptr;
    TBasicLayer* fromLayerPtr3 = nullptr;
    TBasicLayer* toLayerPtr3 = nullptr;
    double* fromValues = nullptr;
    double* toValues = nullptr;
    double* fromValues2 = nullptr;
    double* toValues2 = nullptr;
    double* fromValues3 = nullptr;
    double* toValues3 = nullptr;
};

}  // namespace synapsor
