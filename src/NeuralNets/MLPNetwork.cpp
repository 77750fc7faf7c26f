#include "NeuralNets/MLPNetwork.h"

namespace synapsor {}  // namespace synapsor
