// Structural editing of a TBasicNetwork (InsertNode, DeleteNode, InsertLayer, DeleteLayer,
// PruneNodes, IterateNodeInputs/Outputs and CheckConsistency are declared in BasicNetwork.h and
// implemented in NetworkEditing.cpp). Editing renumbers layers and connection objects but never
// the neurons' own layerNum. Index errors are fatal internal checks. Node pruning counts the
// weights leaving one neuron with the library's weight counter, under the name it has here.
#pragma once

#include <vector>

#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

using TIterateObjPruneNode = TIterateObjGetNumWeights;

// True when neuron n of the layer computes the bias function (its own or the layer's).
bool IsBiasNeuron(TBasicLayer* layer, int n);

struct LayerNodeReport {
    int layer = 0;
    int before = 0;
    std::vector<int> removed;  // positions the removed neurons had before any removal, ascending
};

// Deletes, repeatedly until nothing changes, every hidden neuron without an outgoing weight and
// every hidden neuron without incoming weights other than from bias neurons, whose output is then
// a constant: such a neuron goes when that constant is 0, or when it can be folded into bias
// weights (every neuron it feeds has an existing, trainable weight from a bias neuron); otherwise
// it stays. Unlike PruneNodes, bias neurons always stay (they have no inputs and feed the
// constants the folding needs), as do the input layer and the layers from the output layer up.
// The outputs change only by rounding, and not at all for the first kind. Layers left without
// neurons are disconnected. Returns the layers that lost neurons.
std::vector<LayerNodeReport> RemoveDeadNeurons(TBasicNetwork& network);

}  // namespace synapsor
