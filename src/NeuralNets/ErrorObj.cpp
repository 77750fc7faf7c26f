#include "NeuralNets/ErrorObj.h"

namespace synapsor {}  // namespace synapsor
