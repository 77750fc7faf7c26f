#include "NeuralNets/ArcsIterators.h"

namespace synapsor {}  // namespace synapsor
