#include "NeuralNets/ConnectedConnections.h"

namespace synapsor {}  // namespace synapsor
