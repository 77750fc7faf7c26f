#include "NeuralNets/BasicNetwork.h"

namespace synapsor {}  // namespace synapsor
