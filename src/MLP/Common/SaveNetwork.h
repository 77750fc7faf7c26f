// Writing the trained network without ever losing the destination: the network is written to a
// new temporary file in the destination's directory, flushed to disk, and renamed over the
// destination only when every byte was written. On any failure the temporary file is removed,
// the destination is left as it was, and FileTools::Error names the destination and the reason.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

// The same for any file: `write` fills the temporary file; `what` names the kind of file in the
// message ("Cannot write WHAT \"DESTINATION\": REASON"). An exception from `write` removes the
// temporary file and passes on.
void WriteFileAtomically(const std::string& what, const std::string& destination,
                         const std::function<void(std::ostream&)>& write);
void SaveNetworkFile(FileTools& tools, const std::string& destination, TBasicNetwork& network);

}  // namespace synapsor
