#include "NeuralNets/NetworkEditing.h"

#include <sstream>
#include <utility>

#include "Common/Assert.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

// The fatal checks are kept out of clang-format: their expressions are printed exactly as
// written.

namespace {

// Index of a layer after a layer has been inserted at `at`.
int ShiftUp(int index, int at) {
    return index < at ? index : index + 1;
}

}  // namespace

void TBasicNetwork::InsertNode(int LayerNum, int node, double lo, double hi, bool attached) {
    const int numLayers = n_layers;
    // clang-format off
    SYN_ASSERT(LayerNum>=0);
    SYN_ASSERT(LayerNum<numLayers);
    SYN_ASSERT(LayerNum!=inLayer);
    SYN_ASSERT(LayerNum!=outLayer);
    SYN_ASSERT(node>=0);
    SYN_ASSERT(node<=GetNumNeurons());
    // The check above only bounds the network's total; a position past the end of this layer
    // would make the layer and the matrices write outside their arrays.
    TBasicLayer* layer = layers[LayerNum].get();
    SYN_ASSERT(node<=layer->numNodes);
    // clang-format on

    layer->InsertNode(node);
    layer->numNodes += 1;
    // The matrices read the grown layer size; for the self-connection (i == LayerNum) the
    // column is opened first, then the row.
    for (int i = 0; i < n_layers; ++i) {
        GetConnections(LayerNum, i)->InsertFromNeuron(node, lo, hi, attached);
        GetConnections(i, LayerNum)->InsertToNeuron(node, lo, hi, attached);
    }
}

void TBasicNetwork::DeleteNode(int LayerNum, int node) {
    const int numLayers = n_layers;
    // clang-format off
    SYN_ASSERT(LayerNum>=0);
    SYN_ASSERT(LayerNum<numLayers);
    SYN_ASSERT(LayerNum!=inLayer);
    SYN_ASSERT(LayerNum!=outLayer);
    SYN_ASSERT(node>=0);
    SYN_ASSERT(node<GetNumNeurons());
    // As in InsertNode: the total alone would let a neuron past the layer's end through.
    TBasicLayer* layer = layers[LayerNum].get();
    SYN_ASSERT(node<layer->numNodes);
    // clang-format on

    layer->DeleteNode(node);
    layer->numNodes -= 1;
    for (int i = 0; i < n_layers; ++i) {
        GetConnections(LayerNum, i)->RemoveFromNeuron(node);
        GetConnections(i, LayerNum)->RemoveToNeuron(node);
    }
}

void TBasicNetwork::InsertLayer(int LayerNum, TBasicLayer* layer) {
    const int numLayers = n_layers;
    // clang-format off
    SYN_ASSERT(LayerNum>=0);
    SYN_ASSERT(LayerNum<=numLayers);
    // The layer computes itself through its own network's connections, and the network is
    // about to own it: it must be built for this network and not be one of its layers already.
    SYN_ASSERT(layer!=nullptr);
    SYN_ASSERT(layer->network==this);
    for (const auto& existing : layers) SYN_ASSERT(existing.get()!=layer);
    // clang-format on

    std::unique_ptr<TBasicLayer> owned(layer);
    const int n = numLayers + 1;
    std::vector<TBasicConnections*> conns(static_cast<size_t>(n) * n, nullptr);

    // The new layer starts unconnected in both directions. These objects are created before the
    // network changes, so a failed allocation leaves the network as it was.
    try {
        for (int i = 0; i < n; ++i) {
            conns[static_cast<size_t>(i) * n + LayerNum] = new TEmptyConnections(this, LayerNum, i);
            if (i != LayerNum)
                conns[static_cast<size_t>(LayerNum) * n + i] =
                    new TEmptyConnections(this, i, LayerNum);
        }
        layers.insert(layers.begin() + LayerNum, nullptr);
    } catch (...) {
        for (TBasicConnections* c : conns)
            if (c)
                c->Destroy();
        throw;
    }

    for (int t = 0; t < numLayers; ++t)
        for (int f = 0; f < numLayers; ++f)
            conns[static_cast<size_t>(ShiftUp(t, LayerNum)) * n + ShiftUp(f, LayerNum)] =
                priv_conns[static_cast<size_t>(t) * numLayers + f];
    for (int t = 0; t < n; ++t)
        for (int f = 0; f < n; ++f) {
            TBasicConnections* c = conns[static_cast<size_t>(t) * n + f];
            c->fromLayer = f;
            c->toLayer = t;
        }

    layers[LayerNum] = std::move(owned);
    for (int i = 0; i < n; ++i)
        layers[i]->layerNum = i;

    n_layers = n;
    priv_conns = std::move(conns);
    IndexRows();
    if (inLayer >= LayerNum)
        inLayer += 1;
    if (outLayer >= LayerNum)
        outLayer += 1;
}

void TBasicNetwork::DeleteLayer(int LayerNum) {
    const int numLayers = n_layers;
    // clang-format off
    SYN_ASSERT(LayerNum>=0);
    SYN_ASSERT(LayerNum<numLayers);
    SYN_ASSERT(LayerNum!=inLayer);
    SYN_ASSERT(LayerNum!=outLayer);
    // clang-format on

    const int n = numLayers - 1;
    std::vector<TBasicConnections*> conns(static_cast<size_t>(n) * n, nullptr);

    for (int i = 0; i < numLayers; ++i) {
        priv_conns[static_cast<size_t>(i) * numLayers + LayerNum]->Destroy();
        if (i != LayerNum)
            priv_conns[static_cast<size_t>(LayerNum) * numLayers + i]->Destroy();
    }
    for (int t = 0; t < numLayers; ++t) {
        if (t == LayerNum)
            continue;
        const int nt = t < LayerNum ? t : t - 1;
        for (int f = 0; f < numLayers; ++f) {
            if (f == LayerNum)
                continue;
            const int nf = f < LayerNum ? f : f - 1;
            TBasicConnections* c = priv_conns[static_cast<size_t>(t) * numLayers + f];
            c->fromLayer = nf;
            c->toLayer = nt;
            conns[static_cast<size_t>(nt) * n + nf] = c;
        }
    }

    layers.erase(layers.begin() + LayerNum);
    for (int i = 0; i < n; ++i)
        layers[i]->layerNum = i;

    n_layers = n;
    priv_conns = std::move(conns);
    IndexRows();
    if (inLayer > LayerNum)
        inLayer -= 1;
    if (outLayer > LayerNum)
        outLayer -= 1;
}

int TBasicNetwork::PruneNodes() {
    int deleted = 0;
    TIterateObjPruneNode visitor;
    // Top down, so that a deletion never shifts a neuron still to be examined, and a neuron
    // whose only outgoing weights led into neurons deleted earlier in the walk goes too.
    for (int L = outLayer - 1; L >= 0; --L) {
        if (L == inLayer)
            continue;
        for (int n = layers[L]->numNodes - 1; n >= 0; --n) {
            visitor.counter = 0;
            IterateNodeOutputs(visitor, L, n, FMaskExists);
            if (visitor.counter == 0) {
                DeleteNode(L, n);
                deleted += 1;
            }
        }
    }
    return deleted;
}

void TBasicNetwork::IterateNodeInputs(TIterateObj& v, int toLayer, int node, int maskFilter) {
    // clang-format off
    SYN_ASSERT(toLayer>=0);
    SYN_ASSERT(toLayer<n_layers);
    SYN_ASSERT(node>=0);
    SYN_ASSERT(node<layers[toLayer]->numNodes);
    // clang-format on
    for (int f = 0; f < n_layers; ++f)
        GetConnections(f, toLayer)->IterateTo(v, node, maskFilter);
}

void TBasicNetwork::IterateNodeOutputs(TIterateObj& v, int fromLayer, int node, int maskFilter) {
    // clang-format off
    SYN_ASSERT(fromLayer>=0);
    SYN_ASSERT(fromLayer<n_layers);
    SYN_ASSERT(node>=0);
    SYN_ASSERT(node<layers[fromLayer]->numNodes);
    // clang-format on
    for (int t = 0; t < n_layers; ++t)
        GetConnections(fromLayer, t)->IterateFrom(v, node, maskFilter);
}

std::string TBasicNetwork::CheckConsistency() const {
    std::ostringstream out;
    const auto n = static_cast<size_t>(n_layers < 0 ? 0 : n_layers);
    if (n_layers < 0 || layers.size() != n || priv_conns.size() != n * n ||
        priv_conns_index.size() != n) {
        out << "array sizes do not match " << n_layers << " layers";
        return out.str();
    }
    for (int i = 0; i < n_layers; ++i) {
        TBasicLayer* layer = layers[i].get();
        if (!layer) {
            out << "layer " << i << " is missing";
            return out.str();
        }
        if (layer->layerNum != i) {
            out << "layer " << i << " has layerNum " << layer->layerNum;
            return out.str();
        }
        if (layer->network != this) {
            out << "layer " << i << " belongs to another network";
            return out.str();
        }
        if (layer->numNodes < 0 || layer->values.size() < static_cast<size_t>(layer->numNodes)) {
            out << "layer " << i << " has " << layer->values.size() << " value cells for "
                << layer->numNodes << " neurons";
            return out.str();
        }
        for (int k = 0; k < layer->numNodes; ++k) {
            TBasicNeuron* neuron = layer->GetNeuron(k);
            if (neuron->layer != layer || neuron->output != &layer->values[k]) {
                out << "neuron " << k << " of layer " << i << " is not attached to its cell";
                return out.str();
            }
        }
    }
    for (int t = 0; t < n_layers; ++t) {
        if (priv_conns_index[t] != priv_conns.data() + static_cast<size_t>(t) * n) {
            out << "row " << t << " of the connection index points at the wrong cells";
            return out.str();
        }
        for (int f = 0; f < n_layers; ++f) {
            TBasicConnections* c = priv_conns[static_cast<size_t>(t) * n + f];
            if (!c) {
                out << "connection (" << f << ", " << t << ") is missing";
                return out.str();
            }
            if (c->fromLayer != f || c->toLayer != t) {
                out << "connection (" << f << ", " << t << ") is numbered (" << c->fromLayer << ", "
                    << c->toLayer << ")";
                return out.str();
            }
            if (c->network != this) {
                out << "connection (" << f << ", " << t << ") belongs to another network";
                return out.str();
            }
            const TWeightStorage s = c->GetStorage();
            if (!c->IsConnected() && !s.weights)
                continue;
            if (s.nFrom != layers[f]->numNodes || s.nTo != layers[t]->numNodes) {
                out << "connection (" << f << ", " << t << ") is " << s.nFrom << " x " << s.nTo
                    << " between layers of " << layers[f]->numNodes << " and "
                    << layers[t]->numNodes << " neurons";
                return out.str();
            }
        }
    }
    return "";
}

}  // namespace synapsor
