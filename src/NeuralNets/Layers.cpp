#include "NeuralNets/Layers.h"

#include <algorithm>
#include <cstdio>

#include "Common/Assert.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

namespace {

// Neuron moves shared by the plain and the gain layer. A moved neuron gets the five base fields
// and the CopyFrom hook of its source, then is re-pointed at its new layer and value cell.
void CopyExtra(TBasicNeuron& /*dest*/, const TBasicNeuron& /*source*/) {}
void CopyExtra(TGainNeuron& dest, const TGainNeuron& source) {
    dest.gain = source.gain;
}

template <class TNeuron>
void MoveNeuron(TNeuron& dest, const TNeuron& source, TBasicLayer* layer, double* cell) {
    CopyBaseFields(dest, source);
    dest.CopyFrom(&source);
    CopyExtra(dest, source);
    dest.layer = layer;
    dest.output = cell;
}

template <class TNeuron>
void InitNodes(std::vector<TNeuron>& nodes, TBasicLayer* layer) {
    nodes.resize(layer->numNodes);
    for (int i = 0; i < layer->numNodes; ++i) {
        TNeuron& n = nodes[i];
        n.layer = layer;
        n.output = &layer->values[i];
        n.layerNum = layer->layerNum;
        n.nodeNum = i;
        n.actFn = ActError;
    }
}

template <class TNeuron>
void CloneNodes(const std::vector<TNeuron>& nodes, int numNodes, std::vector<TNeuron>& cloned,
                TBasicLayer* clone) {
    for (int i = 0; i < numNodes; ++i)
        MoveNeuron(cloned[i], nodes[i], clone, &clone->values[i]);
}

template <class TNeuron>
void ActivateNodes(ActFunction common, std::vector<TNeuron>& nodes, int numNodes,
                   const double* net) {
    if (common != nullptr) {
        for (int i = 0; i < numNodes; ++i)
            common(&nodes[i], net[i]);
    } else {
        for (int i = 0; i < numNodes; ++i)
            nodes[i].Activate(net[i]);
    }
}

template <class TNeuron>
void DeleteNodeIn(std::vector<TNeuron>& nodes, TBasicLayer* layer, int node) {
    SYN_ASSERT(node >= 0 && node < layer->numNodes);
    const int n = layer->numNodes - 1;
    std::vector<TNeuron> moved(n);
    for (int i = 0; i < n; ++i)
        MoveNeuron(moved[i], nodes[i < node ? i : i + 1], layer, &layer->values[i]);
    nodes.swap(moved);
    // Shrinking keeps the allocation, so the cells the neurons point at stay where they are.
    layer->values.resize(n);
}

template <class TNeuron>
TNeuron& InsertNodeIn(std::vector<TNeuron>& nodes, TBasicLayer* layer, int node) {
    SYN_ASSERT(node >= 0 && node <= layer->numNodes);
    const int n = layer->numNodes;
    // The old values are dropped: the next forward pass writes every cell.
    layer->values.assign(n + 1, 0.0);
    std::vector<TNeuron> moved(n + 1);
    for (int i = 0; i < n; ++i) {
        const int dest = i < node ? i : i + 1;
        MoveNeuron(moved[dest], nodes[i], layer, &layer->values[dest]);
    }
    TNeuron& added = moved[node];
    added.actFn = layer->actFn != nullptr ? layer->actFn : ActError;
    added.layer = layer;
    added.output = &layer->values[node];
    added.layerNum = layer->layerNum;
    added.nodeNum = node;
    nodes.swap(moved);
    return nodes[node];
}

void WarnChangedInputLayer(const char* className) {
    std::fprintf(stderr, "!Warning: changed input layer (%s)\n", className);
}

}  // namespace

// ---- TBasicLayer ----

TBasicLayer::TBasicLayer(TBasicNetwork* net, int layerNumber, int nodeCount)
    : network(net), numNodes(nodeCount), layerNum(layerNumber) {
    SYN_ASSERT(nodeCount >= 0);
    values.assign(nodeCount, 0.0);
}

TBasicLayer::~TBasicLayer() = default;

void TBasicLayer::Activate(const double* net) {
    for (int i = 0; i < numNodes; ++i) {
        TBasicNeuron* neuron = GetNeuron(i);
        (actFn != nullptr ? actFn : neuron->actFn)(neuron, net[i]);
    }
}

void TBasicLayer::Propagate(const double* input) {
    if (network->inLayer == layerNum) {
        WarnChangedInputLayer("TSimpleLayer");
        std::copy(input, input + numNodes, values.begin());
    } else {
        std::fill(values.begin(), values.begin() + numNodes, 0.0);
    }
    PropagateFromLowerLayers();
}

void TBasicLayer::PropagateFromLowerLayers() {
    double* net = values.data();
    TBasicConnections* const* incoming = network->priv_conns_index[layerNum];
    for (int f = 0; f < layerNum; ++f)
        incoming[f]->AddNetInputs(net);
    Activate(net);
}

void TBasicLayer::InsertNode(int /*node*/) {
    SYN_ASSERT(false);
}

void TBasicLayer::SetActFunction(ActFunction fn) {
    actFn = fn;
    for (int i = 0; i < numNodes; ++i)
        GetNeuron(i)->actFn = fn;
}

ActFunction TBasicLayer::GetActFunction() {
    if (actFn != nullptr)
        return actFn;
    if (numNodes == 0) {
        actFn = ActNull;
        return actFn;
    }
    const ActFunction first = GetNeuron(0)->actFn;
    for (int i = 1; i < numNodes; ++i)
        if (GetNeuron(i)->actFn != first)
            return nullptr;
    actFn = first;
    return actFn;
}

void TBasicLayer::GetDimensions(int* parameters) const {
    if (numDimensions == 0)
        return;
    // clang-format off
    SYN_ASSERT(parameters != NULL);
    // clang-format on
    std::copy(dimensions.begin(), dimensions.end(), parameters);
}

void TBasicLayer::SetDimensions(int count, const int* parameters) {
    SYN_ASSERT(count >= 0);
    numDimensions = count;
    dimensions.clear();
    if (count == 0)
        return;
    // clang-format off
    SYN_ASSERT(parameters != NULL);
    // clang-format on
    dimensions.assign(parameters, parameters + count);
}

void TBasicLayer::CopyBaseInto(TBasicLayer& clone) const {
    clone.values.assign(numNodes, 0.0);
    clone.numDimensions = numDimensions;
    clone.dimensions = dimensions;
    clone.actFn = actFn;
}

// ---- TSimpleLayer ----

TSimpleLayer::TSimpleLayer(TBasicNetwork* net, int layerNumber, int nodeCount)
    : TBasicLayer(net, layerNumber, nodeCount) {
    InitNodes(nodes, this);
}

void TSimpleLayer::Activate(const double* net) {
    ActivateNodes(actFn, nodes, numNodes, net);
}

TBasicLayer* TSimpleLayer::Clone(TBasicNetwork* owner) const {
    auto* clone = new TSimpleLayer(owner, layerNum, numNodes);
    CloneNodesInto(*clone);
    return clone;
}

void TSimpleLayer::CloneNodesInto(TSimpleLayer& clone) const {
    CopyBaseInto(clone);
    CloneNodes(nodes, numNodes, clone.nodes, &clone);
}

void TSimpleLayer::DeleteNode(int node) {
    DeleteNodeIn(nodes, this, node);
}

void TSimpleLayer::InsertNode(int node) {
    InsertNodeIn(nodes, this, node);
}

// ---- TGainLayer ----

TGainLayer::TGainLayer(TBasicNetwork* net, int layerNumber, int nodeCount, double gain)
    : TBasicLayer(net, layerNumber, nodeCount) {
    InitNodes(nodes, this);
    SetGain(gain);
}

void TGainLayer::Activate(const double* net) {
    ActivateNodes(actFn, nodes, numNodes, net);
}

TBasicLayer* TGainLayer::Clone(TBasicNetwork* owner) const {
    auto* clone = new TGainLayer(owner, layerNum, numNodes, 1.0);
    CopyBaseInto(*clone);
    CloneNodes(nodes, numNodes, clone->nodes, clone);
    return clone;
}

void TGainLayer::DeleteNode(int node) {
    DeleteNodeIn(nodes, this, node);
}

void TGainLayer::InsertNode(int node) {
    // The new neuron takes the gain of the first neuron, or 1.0 in an empty layer.
    const double gain = numNodes > 0 ? nodes[0].gain : 1.0;
    InsertNodeIn(nodes, this, node).gain = gain;
}

void TGainLayer::SetGain(double gain) {
    for (TGainNeuron& n : nodes)
        n.gain = gain;
}

// ---- TSimpleInputLayer ----

TSimpleInputLayer::TSimpleInputLayer(TBasicNetwork* net, int layerNumber, int nodeCount)
    : TSimpleLayer(net, layerNumber, nodeCount) {
    SetActFunction(ActLinear);
}

void TSimpleInputLayer::Propagate(const double* input) {
    if (network->inLayer == layerNum) {
        std::copy(input, input + numNodes, values.begin());
    } else {
        WarnChangedInputLayer("TSimpleInputLayer");
        std::fill(values.begin(), values.begin() + numNodes, 0.0);
    }
}

TBasicLayer* TSimpleInputLayer::Clone(TBasicNetwork* owner) const {
    auto* clone = new TSimpleInputLayer(owner, layerNum, numNodes);
    CloneNodesInto(*clone);
    return clone;
}

}  // namespace synapsor
