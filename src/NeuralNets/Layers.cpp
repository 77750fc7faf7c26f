#include "NeuralNets/Layers.h"

namespace synapsor {}  // namespace synapsor
