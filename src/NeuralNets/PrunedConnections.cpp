#include "NeuralNets/PrunedConnections.h"

namespace synapsor {}  // namespace synapsor
