// Runs one row through a trained network inside another program: reads the network file named by
// the first argument with the installed Synapsor library, takes the other arguments as the input
// values, and prints the network's outputs, one per line. Exit status 1, with a message on
// standard error, when the file cannot be read or the inputs do not fit the network.
#include <exception>
#include <iostream>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <synapsor/Common/Exceptions.h>
#include <synapsor/Common/Version.h>
#include <synapsor/FileHandler/NetworkFile.h>
#include <synapsor/NeuralNets/BasicNetwork.h>

namespace {

// A whole argument as a number, with '.' as the decimal point whatever the locale.
bool ParseNumber(const char* text, double& value) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    in >> value;
    return !in.fail() && (in >> std::ws).eof();
}

int Run(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "Usage: embed network.wgt input..." << std::endl;
        return 1;
    }
    synapsor::FileTools tools;
    std::unique_ptr<synapsor::TBasicNetwork> network;
    try {
        network = tools.ReadNetworkFile(argv[1]);
    } catch (const synapsor::FileTools::Error& error) {
        std::cerr << argv[1] << ": " << error.message << std::endl;
        return 1;
    }
    const int inputs = network->GetLayer(network->GetInLayer())->numNodes;
    const int outputs = network->GetLayer(network->GetOutLayer())->numNodes;
    if (argc - 2 != inputs) {
        std::cerr << argv[1] << " takes " << inputs << " inputs, " << argc - 2 << " given"
                  << std::endl;
        return 1;
    }
    std::vector<double> row(inputs);
    for (int i = 0; i < inputs; ++i) {
        if (!ParseNumber(argv[i + 2], row[i])) {
            std::cerr << "Input " << i << " is not a number: " << argv[i + 2] << std::endl;
            return 1;
        }
    }
    std::vector<double> result(outputs);
    network->Recall(row.data(), result.data());
    std::cout.imbue(std::locale::classic());
    for (double value : result)
        std::cout << value << '\n';
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "embed, built with Synapsor " << synapsor::kVersion << std::endl;
        return 0;
    }
    try {
        return Run(argc, argv);
    } catch (const synapsor::TException& error) {
        std::cerr << (error.GetMessage() ? error.GetMessage() : "Synapsor error") << std::endl;
    } catch (const std::exception& error) {
        std::cerr << error.what() << std::endl;
    }
    return 1;
}
