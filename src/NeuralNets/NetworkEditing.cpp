#include "NeuralNets/NetworkEditing.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>
#include <utility>
#include <vector>

#include "Common/Assert.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Layers.h"
#include "NeuralNets/Neurons.h"

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
            visitor.count = 0;
            IterateNodeOutputs(visitor, L, n, FMaskExists);
            if (visitor.count == 0) {
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

// --- Removing dead neurons ---

namespace {

// The existing weights leaving one neuron towards higher layers: the only ones the forward pass
// uses.
class TIterateObjUpwardWeights : public TIterateObj {
  public:
    explicit TIterateObjUpwardWeights(int layer) : sourceLayer(layer) {}
    void Visit() override {
        if (toLayer > sourceLayer)
            targets.push_back({toLayer, to, *weight});
        if (!trainable)
            frozen += 1;
    }
    struct Target {
        int layer;
        int neuron;
        double weight;
    };
    int sourceLayer;
    std::vector<Target> targets;
    int frozen = 0;
};

ActFunction EffectiveFunction(TBasicLayer* layer, int n) {
    return layer->actFn ? layer->actFn : layer->GetNeuron(n)->GetActFunction();
}

// The existing weights into one neuron, split into those from bias neurons below it (summed: they
// give the neuron a constant net input) and all others (counted).
class TIterateObjInputs : public TIterateObj {
  public:
    explicit TIterateObjInputs(int layer) : targetLayer(layer) {}
    void Visit() override {
        if (!IsBiasNeuron(fromLayerPtr, from))
            others += 1;
        else if (fromLayer < targetLayer)
            biasNet += *weight;
    }
    int targetLayer;
    int others = 0;
    double biasNet = 0.0;
};

// The output of a neuron whose net input is the constant `net`, or nothing when it cannot be
// computed safely.
std::optional<double> ConstantOutput(TBasicLayer* layer, int n, double net) {
    // Away from the network's input position an input layer outputs zeros and applies nothing.
    if (dynamic_cast<TSimpleInputLayer*>(layer) != nullptr)
        return 0.0;
    const ActFunction fn = EffectiveFunction(layer, n);
    if (fn == nullptr || fn == ActError || fn == ActNull)
        return std::nullopt;
    TBasicNeuron* neuron = layer->GetNeuron(n);
    fn(neuron, net);
    const double value = *neuron->output;
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

// The weight from a bias neuron into (layer, neuron) that can take a constant input over, or
// null. Frozen weights keep their values.
double* FindBiasWeight(TBasicNetwork& network, int layer, int neuron) {
    for (int b = 0; b < layer; ++b) {
        TBasicLayer* from = network.GetLayer(b);
        TBasicConnections* conns = network.GetConnections(b, layer);
        if (!conns->IsConnected())
            continue;
        for (int k = 0; k < from->numNodes; ++k) {
            if (IsBiasNeuron(from, k) && conns->IsValid(k, neuron) && conns->IsTrainable(k, neuron))
                return &conns->GetWeight(k, neuron);
        }
    }
    return nullptr;
}

// A neuron whose only inputs come from bias neurons outputs a constant c. Removing it is exact
// when c is 0; otherwise c times each of its outgoing weights moves into a bias weight of the
// neuron it fed. Returns false (and changes nothing) when the neuron has other inputs, a frozen
// outgoing weight, or feeds a neuron without a bias weight to take its share.
bool FoldConstantNeuron(TBasicNetwork& network, int layer, int neuron) {
    TIterateObjInputs inputs(layer);
    network.IterateNodeInputs(inputs, layer, neuron, FMaskExists);
    if (inputs.others > 0)
        return false;
    const std::optional<double> constant =
        ConstantOutput(network.GetLayer(layer), neuron, inputs.biasNet);
    if (!constant)
        return false;
    if (*constant == 0.0)
        return true;
    TIterateObjUpwardWeights outputs(layer);
    network.IterateNodeOutputs(outputs, layer, neuron, FMaskExists);
    // A frozen weight was meant to stay as it is; the neuron stays with it.
    if (outputs.frozen > 0)
        return false;
    std::vector<double*> biasWeights;
    for (const auto& target : outputs.targets) {
        double* bias = FindBiasWeight(network, target.layer, target.neuron);
        if (bias == nullptr)
            return false;
        biasWeights.push_back(bias);
    }
    for (std::size_t i = 0; i < biasWeights.size(); ++i)
        *biasWeights[i] += *constant * outputs.targets[i].weight;
    return true;
}

int CountOutgoingWeights(TBasicNetwork& network, int layer, int neuron) {
    TIterateObjPruneNode counter;
    network.IterateNodeOutputs(counter, layer, neuron, FMaskExists);
    return counter.count;
}

}  // namespace

bool IsBiasNeuron(TBasicLayer* layer, int n) {
    return EffectiveFunction(layer, n) == ActBias;
}

std::vector<LayerNodeReport> RemoveDeadNeurons(TBasicNetwork& network) {
    const int layers = network.GetNumLayers();
    const int inLayer = network.GetInLayer();
    const int outLayer = network.GetOutLayer();
    // original[L][k]: the position neuron k of layer L had before the first removal.
    std::vector<std::vector<int>> original(static_cast<std::size_t>(layers));
    std::vector<std::vector<int>> removed(static_cast<std::size_t>(layers));
    for (int L = 0; L < layers; ++L)
        for (int k = 0; k < network.GetLayer(L)->numNodes; ++k)
            original[L].push_back(k);
    auto remove = [&](int L, int n) {
        network.DeleteNode(L, n);
        removed[L].push_back(original[L][n]);
        original[L].erase(original[L].begin() + n);
    };
    // Layers from outLayer up are never computed into the output or never edited, like the
    // library's own node pruning; bias neurons are kept even without outgoing weights, which the
    // library's walk would delete.
    auto examined = [&](int L) { return L != inLayer && L < outLayer; };

    for (bool changed = true; changed;) {
        changed = false;
        // Top down: a neuron whose outgoing weights all led into neurons deleted just before goes
        // in the same pass.
        for (int L = outLayer - 1; L >= 0; --L) {
            if (!examined(L))
                continue;
            for (int n = network.GetLayer(L)->numNodes - 1; n >= 0; --n) {
                if (IsBiasNeuron(network.GetLayer(L), n) || CountOutgoingWeights(network, L, n) > 0)
                    continue;
                remove(L, n);
                changed = true;
            }
        }
        // Bottom up: a neuron whose other inputs came from neurons deleted just before becomes
        // constant and goes in the same pass.
        for (int L = 0; L < outLayer; ++L) {
            if (!examined(L))
                continue;
            for (int n = network.GetLayer(L)->numNodes - 1; n >= 0; --n) {
                if (IsBiasNeuron(network.GetLayer(L), n) || !FoldConstantNeuron(network, L, n))
                    continue;
                remove(L, n);
                changed = true;
            }
        }
    }

    std::vector<LayerNodeReport> report;
    for (int L = 0; L < layers; ++L) {
        if (removed[L].empty())
            continue;
        LayerNodeReport entry;
        entry.layer = L;
        entry.removed = removed[L];
        std::sort(entry.removed.begin(), entry.removed.end());
        entry.before = network.GetLayer(L)->numNodes + static_cast<int>(entry.removed.size());
        report.push_back(entry);
        // A layer without neurons keeps no weight matrices of zero cells.
        if (network.GetLayer(L)->numNodes == 0) {
            for (int other = 0; other < layers; ++other) {
                network.Disconnect(L, other);
                if (other != L)
                    network.Disconnect(other, L);
            }
        }
    }
    return report;
}

}  // namespace synapsor
