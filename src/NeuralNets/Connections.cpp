#include "NeuralNets/Connections.h"

namespace synapsor {}  // namespace synapsor
