// Writing the trained network without ever losing the destination: the network is written to a
// new temporary file in the destination's directory, flushed to disk, and renamed over the
// destination only when every byte was written. On any failure the temporary file is removed,
// the destination is left as it was, and FileTools::Error names the destination and the reason.
#pragma once

#include <string>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

void SaveNetworkFile(FileTools& tools, const std::string& destination, TBasicNetwork& network);

}  // namespace synapsor
