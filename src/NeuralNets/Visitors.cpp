#include "NeuralNets/Visitors.h"

#include "Common/Assert.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

void TIterateObj::Bind(TBasicLayer* fromLayerObj, TBasicLayer* toLayerObj) {
    fromLayer = fromLayerObj->layerNum;
    toLayer = toLayerObj->layerNum;
    fromLayerPtr = fromLayerObj;
    toLayerPtr = toLayerObj;
    fromValues = fromLayerObj->values.data();
    toValues = toLayerObj->values.data();
    conns = toLayerObj->network->priv_conns_index[toLayer][fromLayer];
}

void TIterateObjRandomize::Visit() {
    if (lo == hi)
        *weight = lo;
    else
        *weight = RandomWeight(lo, hi);
}

void TIterateObjGetFlags::Visit() {
    cursor[count] = conns->GetFlags(from, to);
    count += 1;
}

void TIterateObjSetFlags::Visit() {
    conns->SetFlags(from, to, static_cast<char>(cursor[count]));
    count += 1;
}

void TIterateObjAllUntrainable::Visit() {
    conns->SetUntrainable(from, to);
}

namespace {

// The partner network must be a copy of the first: same layer count, same sizes of the pair.
void CheckSameShape(const TBasicNetwork* network, const TBasicNetwork* other, int fromLayer,
                    int toLayer) {
    SYN_ASSERT(other->n_layers == network->n_layers);
    SYN_ASSERT(other->layers[fromLayer]->numNodes == network->layers[fromLayer]->numNodes);
    SYN_ASSERT(other->layers[toLayer]->numNodes == network->layers[toLayer]->numNodes);
}

}  // namespace

void TIterateObj2::Bind(TBasicNetwork* network, TBasicNetwork* second, int fromLayerNum,
                        int toLayerNum) {
    CheckSameShape(network, second, fromLayerNum, toLayerNum);
    fromLayer = fromLayerNum;
    toLayer = toLayerNum;
    fromLayerPtr = network->layers[fromLayer].get();
    toLayerPtr = network->layers[toLayer].get();
    fromLayerPtr2 = second->layers[fromLayer].get();
    toLayerPtr2 = second->layers[toLayer].get();
    fromValues = fromLayerPtr->values.data();
    toValues = toLayerPtr->values.data();
    fromValues2 = fromLayerPtr2->values.data();
    toValues2 = toLayerPtr2->values.data();
    conns = network->priv_conns_index[toLayer][fromLayer];
    conns2 = second->priv_conns_index[toLayer][fromLayer];
    const TBasicConnections* conn1 = conns;
    const TBasicConnections* conn2 = conns2;
    // clang-format off
    SYN_ASSERT(conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType());
    // clang-format on
}

void TIterateObj3::Bind(TBasicNetwork* network, TBasicNetwork* second, TBasicNetwork* third,
                        int fromLayerNum, int toLayerNum) {
    CheckSameShape(network, second, fromLayerNum, toLayerNum);
    CheckSameShape(network, third, fromLayerNum, toLayerNum);
    fromLayer = fromLayerNum;
    toLayer = toLayerNum;
    fromLayerPtr = network->layers[fromLayer].get();
    toLayerPtr = network->layers[toLayer].get();
    fromLayerPtr2 = second->layers[fromLayer].get();
    toLayerPtr2 = second->layers[toLayer].get();
    fromLayerPtr3 = third->layers[fromLayer].get();
    toLayerPtr3 = third->layers[toLayer].get();
    fromValues = fromLayerPtr->values.data();
    toValues = toLayerPtr->values.data();
    fromValues2 = fromLayerPtr2->values.data();
    toValues2 = toLayerPtr2->values.data();
    fromValues3 = fromLayerPtr3->values.data();
    toValues3 = toLayerPtr3->values.data();
    conns = network->priv_conns_index[toLayer][fromLayer];
    conns2 = second->priv_conns_index[toLayer][fromLayer];
    conns3 = third->priv_conns_index[toLayer][fromLayer];
    const TBasicConnections* conn1 = conns;
    const TBasicConnections* conn2 = conns2;
    const TBasicConnections* conn3 = conns3;
    // clang-format off
    SYN_ASSERT(conn1 -> GetConnectionsNType() == conn2 -> GetConnectionsNType());
    SYN_ASSERT(conn1 -> GetConnectionsNType() == conn3 -> GetConnectionsNType());
    // clang-format on
}

}  // namespace synapsor
