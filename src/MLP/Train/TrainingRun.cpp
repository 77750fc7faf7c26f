#include "MLP/Train/TrainingRun.h"

#include <iostream>

namespace synapsor {

int RunTraining(const TrainSettings& /*settings*/) {
    // Placeholder until the network, data set and trainer modules are in place.
    std::cerr << "Training run not available yet" << std::endl;
    return 1;
}

}  // namespace synapsor
