// Small network and data set files for the end-to-end tests of the training run.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace synapsor {
namespace test {

// A Basic network whose forward pass is out = W * in: bias layer 0 (one neuron, unconnected),
// input layer 1 with `inputs` neurons, linear layer 2 with `outputs` neurons, 1 -> 2 fully
// connected with every weight w. layers > 3 announces layers that are never defined;
// outputActivation replaces the output layer's activation function line.
inline std::string LinearNetwork(
    int inputs, int outputs, double w, int layers = 3,
    const std::string& outputActivation = "[ActivationFunction = linear]") {
    std::ostringstream s;
    s.precision(17);  // every value reads back exactly
    s << "[NeuralNetwork]\n[NetworkType = Basic]\n"
      << "[NetworkInformation]\n[NumberOfLayers = " << layers << "]\n[OutputLayer = 2]\n"
      << "[~NetworkInformation]\n"
      << "[Layer = 0]\n[LayerType = Simple]\n[NumberOfNeurons = 1]\n"
      << "[ActivationFunction = bias]\n[~Layer]\n"
      << "[Layer = 1]\n[LayerType = Input]\n[NumberOfNeurons = " << inputs << "]\n[~Layer]\n"
      << "[Layer = 2]\n[LayerType = Simple]\n[NumberOfNeurons = " << outputs << "]\n"
      << outputActivation << "\n[~Layer]\n"
      << "[ConnectionLayer]\n[LayerFrom = 1]\n[LayerTo = 2]\n[ConnectionType = FullyConnected]\n"
      << "[Matrix Weights]\n";
    for (int k = 0; k < inputs * outputs; ++k)
        s << w << ' ';
    s << "\n[~Matrix]\n[~ConnectionLayer]\n[~NeuralNetwork]\n";
    return s.str();
}

// A data set file of `rows` rows, each the given values (inputs, then expected outputs).
// extraHeader is placed after the counts (for example a second data set's counts).
inline std::string DataSet(int inputs, int outputs, const std::vector<std::vector<double>>& rows,
                           const std::string& extraHeader = "") {
    std::ostringstream s;
    s.precision(17);  // every value reads back exactly
    s << "[DataSet]\n[Rows = " << rows.size() << "]\n[Inputs = " << inputs
      << "]\n[ExpectedOutputs = " << outputs << "]\n"
      << extraHeader << "[Data]\n";
    for (const std::vector<double>& row : rows) {
        for (double v : row)
            s << v << ' ';
        s << '\n';
    }
    s << "[~Data]\n[~DataSet]\n";
    return s.str();
}

}  // namespace test
}  // namespace synapsor
