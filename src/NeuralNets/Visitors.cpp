#include "NeuralNets/Visitors.h"

namespace synapsor {}  // namespace synapsor
