#include "NeuralNets/TrainModule.h"

namespace synapsor {}  // namespace synapsor
