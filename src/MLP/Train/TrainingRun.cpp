#include "MLP/Train/TrainingRun.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iostream>
#include <locale>
#include <memory>
#include <string>
#include <system_error>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "KQmessage/KQML.h"
#include "MLP/Train/FailureReport.h"
#include "MLP/Train/SaveNetwork.h"
#include "MLP/Train/TrainParams.h"
#include "NeuralNets/ActFunctions.h"
#include "NeuralNets/TrainModule.h"

namespace synapsor {

namespace {

const char kCheckLocation[] = "TrainingRun::CheckFit";

bool IsDirectory(const std::string& name) {
    std::error_code ec;
    return std::filesystem::is_directory(name, ec);
}

std::unique_ptr<TBasicNetwork> LoadNetwork(FileTools& tools, const std::string& name) {
    // A directory opens as a stream here but cannot be read: the same report as a missing file.
    if (IsDirectory(name))
        throw FileTools::Error("Error on File Open");
    return tools.ReadNetworkFile(name.c_str());
}

// The first data set of the training file. A second data set (generated outputs and errors) in
// the same file is ignored.
std::unique_ptr<Data> LoadTrainingData(FileTools& tools, const std::string& name) {
    std::unique_ptr<Data> data;
    const std::int32_t code =
        IsDirectory(name) ? FileTools::FILE_OPEN_FAILED : tools.LoadDataSet(name.c_str(), data);
    if (code == FileTools::FILE_OPEN_FAILED)
        throw FileTools::Error("Cannot open training file " + name);
    if (data == nullptr) {
        throw FileTools::Error("Training file " + name +
                               " holds no inputs or expected outputs to train on");
    }
    return data;
}

[[noreturn]] void FailFit(const std::string& message) {
    throw TException(message.c_str(), "Bad Parameter", kCheckLocation);
}

// Every condition under which the trainer would refuse the data set, checked before the first
// epoch so that a run with no epochs cannot write a network it could never have trained.
void CheckFit(const Data& data, const TBasicNetwork& network, const TrainSettings& settings) {
    const std::string& file = settings.TrainingFile;
    if (data.MbrNdxDataRows <= 0)
        FailFit("Training file " + file + " holds no rows");
    const int delivered = settings.MbrNdxFeatures > 0 ? settings.MbrNdxFeatures : data.MbrNdxInputs;
    const int inputs = network.GetLayer(network.GetInLayer())->numNodes;
    if (delivered != inputs) {
        const std::string what = settings.MbrNdxFeatures > 0
                                     ? std::to_string(delivered) + " selected input columns"
                                     : std::to_string(delivered) + " inputs per row";
        FailFit("Training file " + file + " has " + what + " but the input layer of " +
                settings.WeightFile + " has " + std::to_string(inputs) + " neurons");
    }
    const int outputs = network.GetLayer(network.GetOutLayer())->numNodes;
    if (data.MbrNdxOutputs != outputs) {
        FailFit("Training file " + file + " has " + std::to_string(data.MbrNdxOutputs) +
                " expected outputs per row but the output layer of " + settings.WeightFile +
                " has " + std::to_string(outputs) + " neurons");
    }
}

// The trainer turns a layer's errors into deltas with the one activation function all its
// neurons share, and passes them down only through a function it knows the derivative of:
// a network file may describe layers it cannot train, which are refused here.
void CheckTrainable(TBasicNetwork& network, const TrainSettings& settings) {
    const TFnRegistry& registry = *network.GetFnRegistry();
    for (int layer = 0; layer < network.GetNumLayers(); ++layer) {
        const ActFunction fn = network.GetLayer(layer)->GetActFunction();
        const std::string where = "Layer " + std::to_string(layer) + " of " + settings.WeightFile;
        if (fn == nullptr)
            FailFit(where + " mixes activation functions: training needs one per layer");
        if (GetDerivativeKind(fn) != TDerivativeKind::None)
            continue;
        for (int from = 0; from < layer; ++from) {
            if (network.GetConnections(from, layer)->IsConnected()) {
                FailFit(where + " has incoming weights and the activation function \"" +
                        registry.GetName(fn) + "\", which training cannot pass errors through");
            }
        }
    }
}

void Train(const TrainSettings& settings) {
    FileTools networkTools;
    FileTools dataTools;
    std::unique_ptr<TBasicNetwork> network = LoadNetwork(networkTools, settings.WeightFile);
    std::unique_ptr<Data> data = LoadTrainingData(dataTools, settings.TrainingFile);
    if (settings.MbrNdxFeatures != 0) {
        SYN_ASSERT(settings.MbrDyaFeatures.size() ==
                   static_cast<std::size_t>(settings.MbrNdxFeatures));
        data->SetInputFeatures(settings.MbrNdxFeatures, settings.MbrDyaFeatures.data());
    }
    CheckFit(*data, *network, settings);
    CheckTrainable(*network, settings);

    TBackpropModule trainer(network.get());
    // The same structure serves every epoch: the trainer adds its defaults on the first one.
    const std::unique_ptr<TKQstructure> params = BuildParams(settings);
    // A 64-bit counter: the loop must end even for the largest 32-bit epoch count.
    for (std::int64_t epoch = 1; epoch <= settings.LngEpochs; ++epoch) {
        const double error = trainer.TrainEpoch(data.get(), params.get());
        std::cout << epoch << ' ' << static_cast<float>(error) << std::endl;
    }
    SaveNetworkFile(networkTools, settings.DestinationFile, *network);
}

}  // namespace

int RunTraining(const TrainSettings& settings) {
    std::cout.imbue(std::locale::classic());
    try {
        Train(settings);
    } catch (const FileTools::Error& e) {
        ReportFileError(std::cout, e);
        return 1;
    } catch (const TException& e) {
        ReportException(std::cerr, e);
        return 1;
    }
    return 0;
}

}  // namespace synapsor
