#include "NeuralNets/ArcsIterators.h"

#include "Common/Assert.h"
#include "NeuralNets/ConnectedNetwork.h"

namespace synapsor {

// The reserved slots have no meaning; reaching one is a programming error.
void TArcsIterator::Reserved7() {
    SYN_ASSERT(false);
}
void TArcsIterator::Reserved9() {
    SYN_ASSERT(false);
}
void TArcsIterator::Reserved10() {
    SYN_ASSERT(false);
}

namespace {

// Fatal internal check unless (layer, node) names a neuron of `net`.
void CheckNeuron(const TBasicNetwork* net, int layer, int node) {
    SYN_ASSERT(layer >= 0 && layer < net->GetNumLayers());
    SYN_ASSERT(node >= 0 && node < net->GetLayer(layer)->numNodes);
}

}  // namespace

void TConnInAllArcsIterator::Start(int toLayerNum, int toNodeNum) {
    CheckNeuron(network, toLayerNum, toNodeNum);
    toLayer = toLayerNum;
    toNode = toNodeNum;
    toNeuron = network->GetLayer(toLayer)->GetNeuron(toNode);
    fromLayer = -1;
    fromNode = -1;
    lastFromNode = -1;
    fromNeuron = nullptr;
    weight = nullptr;
    conns = nullptr;
}

void TConnInAllArcsIterator::StandOn(int node) {
    fromNode = node;
    fromNeuron = network->GetLayer(fromLayer)->GetNeuron(fromNode);
    weight = &conns->GetWeight(fromNode, toNode);
}

bool TConnInAllArcsIterator::Next() {
    if (conns != nullptr && fromNode < lastFromNode) {
        StandOn(fromNode + 1);
        return true;
    }
    fromNode = -1;
    conns = nullptr;
    const int n = network->GetNumLayers();
    while (fromLayer < n - 1) {
        ++fromLayer;
        TBasicConnections* c = network->GetConnections(fromLayer, toLayer);
        const int count = network->GetLayer(fromLayer)->numNodes;
        if (c->IsConnected() && count > 0) {
            conns = c;
            lastFromNode = count - 1;
            StandOn(0);
            return true;
        }
    }
    // Past the last layer: a following Prev comes back to the last arc.
    fromLayer = n;
    return false;
}

bool TConnInAllArcsIterator::Prev() {
    if (conns != nullptr && fromNode > 0) {
        StandOn(fromNode - 1);
        return true;
    }
    fromNode = -1;
    conns = nullptr;
    while (fromLayer >= 1) {
        --fromLayer;
        TBasicConnections* c = network->GetConnections(fromLayer, toLayer);
        const int count = network->GetLayer(fromLayer)->numNodes;
        if (c->IsConnected() && count > 0) {
            conns = c;
            lastFromNode = count - 1;
            StandOn(lastFromNode);
            return true;
        }
    }
    // Before the first layer: a following Next comes back to the first arc.
    fromLayer = -1;
    return false;
}

void TConnInLayerArcsIterator::Start(int toLayerNum, int toNodeNum, int fromLayerNum) {
    CheckNeuron(network, toLayerNum, toNodeNum);
    SYN_ASSERT(fromLayerNum >= 0 && fromLayerNum < network->GetNumLayers());
    TBasicConnections* c = network->GetConnections(fromLayerNum, toLayerNum);
    SYN_ASSERT(c->IsConnected());
    toLayer = toLayerNum;
    toNode = toNodeNum;
    fromLayer = fromLayerNum;
    toNeuron = network->GetLayer(toLayer)->GetNeuron(toNode);
    conns = c;
    TBasicLayer* from = network->GetLayer(fromLayer);
    fromValues = from->values.data();
    lastFromNode = from->numNodes - 1;
    fromNode = -1;
    fromNeuron = nullptr;
    weight = nullptr;
    started = true;
}

void TConnInLayerArcsIterator::StandOn(int node) {
    fromNode = node;
    fromNeuron = network->GetLayer(fromLayer)->GetNeuron(fromNode);
    weight = &conns->GetWeight(fromNode, toNode);
}

bool TConnInLayerArcsIterator::Next() {
    if (!started || fromNode >= lastFromNode)
        return false;
    StandOn(fromNode + 1);
    return true;
}

bool TConnInLayerArcsIterator::Prev() {
    if (!started || fromNode < 1)
        return false;
    StandOn(fromNode - 1);
    return true;
}

}  // namespace synapsor
