#include "NeuralNets/Neurons.h"

namespace synapsor {}  // namespace synapsor
