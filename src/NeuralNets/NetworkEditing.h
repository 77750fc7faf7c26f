// Structural editing of a TBasicNetwork (InsertNode, DeleteNode, InsertLayer, DeleteLayer,
// PruneNodes, IterateNodeInputs/Outputs and CheckConsistency are declared in BasicNetwork.h and
// implemented in NetworkEditing.cpp). Editing renumbers layers and connection objects but never
// the neurons' own layerNum. Index errors are fatal internal checks. This header holds the
// visitor node pruning uses to count the weights leaving one neuron.
#pragma once

#include "NeuralNets/Visitors.h"

namespace synapsor {

class TIterateObjPruneNode : public TIterateObj {
  public:
    void Visit() override { counter += 1; }
    int counter = 0;
};

}  // namespace synapsor
