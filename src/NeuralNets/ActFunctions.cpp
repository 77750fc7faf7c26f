#include "NeuralNets/ActFunctions.h"

namespace synapsor {}  // namespace synapsor
