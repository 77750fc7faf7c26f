#include "NeuralNets/ConnectedNetwork.h"

namespace synapsor {}  // namespace synapsor
