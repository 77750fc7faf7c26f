// The network file: one complete network (type, layers, neurons, activation functions, neuron
// parameters, weight matrices with every weight and flag) in the bracketed-block syntax. The
// reader and writer are the FileTools members ReadNetworkFile/ReadNetwork and
// WriteNetworkFile/WriteNetwork (declared in ParseTools.h, implemented in NetworkFile.cpp). The
// reader hands the caller a complete network or throws FileTools::Error and frees what it built;
// every layer of a read network exists and can be computed. See doc/NetworkFile.md.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/BasicNetwork.h"
#include "NeuralNets/Visitors.h"

namespace synapsor {

// Size limits of a network read from a file. They keep a malformed or hostile file from asking
// for more memory than any real network needs (the frame alone holds NumberOfLayers squared
// weight matrices).
constexpr std::int32_t kMaxNetworkLayers = 1000;
constexpr std::int64_t kMaxNetworkNeurons = 1 << 20;      // over all layers together
constexpr std::int64_t kMaxNetworkWeightCells = 1 << 25;  // over all weight matrices together

// Writes one weight-list entry per visited weight: "[From=f To=t Weight=w Trainable ]", the
// trainable mark only when writeTrainable is set.
class TIterateObjSaveWeights : public TIterateObj {
  public:
    TIterateObjSaveWeights(std::ostream& o, FileTools& t, bool withTrainable, std::int32_t digits)
        : out(o), tools(t), writeTrainable(withTrainable), precision(digits) {}
    void Visit() override;

    std::ostream& out;
    FileTools& tools;
    bool writeTrainable;
    std::int32_t precision;
};

}  // namespace synapsor
