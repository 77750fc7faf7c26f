#include "MLP/Common/Loading.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <locale>
#include <sstream>
#include <system_error>
#include <vector>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "FileHandler/Filer.h"
#include "FileHandler/NetworkFile.h"
#include "NeuralNets/ActFunctions.h"

namespace synapsor {

namespace {

// Kept as the trainer has always reported it: scripts may match the location line.
const char kCheckLocation[] = "TrainingRun::CheckFit";

bool IsDirectory(const std::string& name) {
    std::error_code ec;
    return std::filesystem::is_directory(name, ec);
}

std::string FileLabel(DataSetRole role) {
    return role == DataSetRole::Training ? "Training file" : "Data set file";
}

[[noreturn]] void FailFit(const std::string& message) {
    throw TException(message.c_str(), "Bad Parameter", kCheckLocation);
}

// A file error for a file that cannot be opened, with the system's reason.
FileTools::Error OpenError(const std::string& message, const std::string& name) {
    FileTools::Error error(message);
    error.file = name;
    error.openFailure = OpenFailureReason(name.c_str());
    return error;
}

std::string NumberText(double value) {
    if (std::isnan(value))
        return "nan";
    return value < 0 ? "-inf" : "inf";
}

// The first weight or gain of the network that is not a finite number, in the words of the
// network file ("weight From = F, To = T (layer A to layer B)", "gain of neuron N in layer L");
// empty when every one is finite. A file reads back with such values (a diverged network is
// saved as it was), but nothing can be recalled or trained with them.
std::string NonFiniteNetworkValue(TBasicNetwork& network, const std::string& name) {
    const auto finite = [](double v) { return std::isfinite(v); };
    const std::string file = "Network file " + name + ", ";
    const int layers = network.GetNumLayers();
    // Weight by weight, so that a large network costs no copy of its weights.
    for (int from = 0; from < layers; ++from) {
        for (int to = 0; to < layers; ++to) {
            TBasicConnections* c = network.GetConnections(from, to);
            if (c == nullptr || !c->IsConnected())
                continue;
            for (int t = 0; t < network.GetLayer(to)->numNodes; ++t) {
                for (int f = 0; f < network.GetLayer(from)->numNodes; ++f) {
                    const double w = c->GetWeight(f, t);
                    if (!finite(w) && c->IsValid(f, t)) {
                        return file + "weight From = " + std::to_string(f) +
                               ", To = " + std::to_string(t) + " (layer " + std::to_string(from) +
                               " to layer " + std::to_string(to) + "): " + NumberText(w) +
                               " is not a finite number";
                    }
                }
            }
        }
    }
    for (int l = 0; l < layers; ++l) {
        TBasicLayer* layer = network.GetLayer(l);
        for (int n = 0; n < layer->numNodes; ++n) {
            const double gain = layer->GetNeuron(n)->GetGain();
            if (!finite(gain)) {
                return file + "gain of neuron " + std::to_string(n) + " in layer " +
                       std::to_string(l) + ": " + NumberText(gain) + " is not a finite number";
            }
        }
    }
    return std::string();
}

}  // namespace

std::unique_ptr<TBasicNetwork> LoadNetwork(FileTools& tools, const std::string& name) {
    // A directory opens as a stream here but cannot be read: the same report as a missing file.
    if (IsDirectory(name))
        throw OpenError("Error on File Open", name);
    std::unique_ptr<TBasicNetwork> network = tools.ReadNetworkFile(name.c_str());
    const std::string nonFinite = NonFiniteNetworkValue(*network, name);
    if (!nonFinite.empty())
        throw FileTools::Error(nonFinite);
    return network;
}

namespace {

// What a data set reader's result code and data say about the file: a file that cannot be
// opened, or one that holds nothing to use, throws.
void CheckLoaded(std::int32_t code, const Data* data, const std::string& name, DataSetRole role) {
    const bool training = role == DataSetRole::Training;
    if (code == FileTools::FILE_OPEN_FAILED)
        throw OpenError(
            (training ? "Cannot open training file " : "Cannot open data set file ") + name, name);
    if (data == nullptr) {
        throw FileTools::Error(FileLabel(role) + " " + name +
                               (training ? " holds no inputs or expected outputs to train on"
                                         : " holds no inputs or expected outputs"));
    }
}

}  // namespace

std::unique_ptr<Data> LoadDataSet(FileTools& tools, const std::string& name, DataSetRole role) {
    std::unique_ptr<Data> data;
    const std::int32_t code =
        IsDirectory(name) ? FileTools::FILE_OPEN_FAILED : tools.LoadDataSet(name.c_str(), data);
    CheckLoaded(code, data.get(), name, role);
    return data;
}

std::unique_ptr<Data> LoadDataSetRows(FileTools& tools, const std::string& name, DataSetRole role,
                                      const FileTools::TRowSelector& select,
                                      std::int32_t& fileRows) {
    std::unique_ptr<Data> data;
    fileRows = 0;
    const std::int32_t code = IsDirectory(name)
                                  ? FileTools::FILE_OPEN_FAILED
                                  : tools.LoadDataSetRows(name.c_str(), select, data, &fileRows);
    CheckLoaded(code, data.get(), name, role);
    return data;
}

void CheckFit(const Data& data, const TBasicNetwork& network, const FitCheck& check) {
    const std::string file = FileLabel(check.role) + " " + check.dataFile;
    if ((check.fileRows >= 0 ? check.fileRows : data.MbrNdxDataRows) <= 0)
        FailFit(file + " holds no rows");
    const int delivered = check.selectedFeatures > 0 ? check.selectedFeatures : data.MbrNdxInputs;
    const int inputs = network.GetLayer(network.GetInLayer())->numNodes;
    if (delivered != inputs) {
        const std::string what = check.selectedFeatures > 0
                                     ? std::to_string(delivered) + " selected input columns"
                                     : std::to_string(delivered) + " inputs per row";
        FailFit(file + " has " + what + " but the input layer of " + check.networkFile + " has " +
                std::to_string(inputs) + " neurons");
    }
    if (!check.outputsRequired && data.MbrNdxOutputs == 0)
        return;
    const int outputs = network.GetLayer(network.GetOutLayer())->numNodes;
    if (data.MbrNdxOutputs != outputs) {
        FailFit(file + " has " + std::to_string(data.MbrNdxOutputs) +
                " expected outputs per row but the output layer of " + check.networkFile + " has " +
                std::to_string(outputs) + " neurons");
    }
}

void CheckTrainable(TBasicNetwork& network, const std::string& networkFile) {
    const TFnRegistry& registry = *network.GetFnRegistry();
    for (int layer = 0; layer < network.GetNumLayers(); ++layer) {
        const ActFunction fn = network.GetLayer(layer)->GetActFunction();
        const std::string where = "Layer " + std::to_string(layer) + " of " + networkFile;
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

std::string FindNonFinite(const Data& data, const std::string& name, DataSetRole role,
                          const std::vector<int>* fileRows, int* badRow) {
    if (badRow != nullptr)
        *badRow = -1;
    std::vector<double> values(static_cast<std::size_t>(data.MbrNdxInputs + data.MbrNdxOutputs));
    for (int i = 0; i < data.MbrNdxDataRows; ++i) {
        // Rows in file order: the oldest slot first.
        const int slot = (data.GetFirst() + i) % data.MbrNdxRows;
        data.GetInputRow(slot, values.data());
        data.GetOutputRow(slot, values.data() + data.MbrNdxInputs);
        for (std::size_t c = 0; c < values.size(); ++c) {
            if (!std::isfinite(values[c])) {
                const int row = fileRows != nullptr ? (*fileRows)[static_cast<std::size_t>(i)] : i;
                if (badRow != nullptr)
                    *badRow = row;
                return FileLabel(role) + " " + name + ", row " + std::to_string(row + 1) +
                       ", column " + std::to_string(c + 1) + ": " + NumberText(values[c]) +
                       " is not a finite number";
            }
        }
    }
    return std::string();
}

namespace {

std::string Plain(double value) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << value;
    return text.str();
}

std::string RangeText(const TOutputRange& range) {
    return (range.lowOpen ? "(" : "[") + Plain(range.low) + ", " + Plain(range.high) +
           (range.highOpen ? ")" : "]");
}

}  // namespace

std::string FindUnreachableTargets(const Data& data, const TBasicNetwork& network,
                                   const TrainSettings& settings) {
    return UnreachableTargetsMessage(FindTargetRange(data), network, settings);
}

TargetRange FindTargetRange(const Data& data) {
    TargetRange targets;
    targets.low = std::numeric_limits<double>::infinity();
    targets.high = -targets.low;
    std::vector<double> values(static_cast<std::size_t>(data.MbrNdxOutputs));
    for (int i = 0; i < data.MbrNdxDataRows && !values.empty(); ++i) {
        data.GetOutputRow((data.GetFirst() + i) % data.MbrNdxRows, values.data());
        for (const double v : values) {
            targets.low = std::min(targets.low, v);
            targets.high = std::max(targets.high, v);
        }
    }
    return targets;
}

std::string UnreachableTargetsMessage(const TargetRange& targets, const TBasicNetwork& network,
                                      const TrainSettings& settings) {
    TBasicLayer* out = network.GetLayer(network.GetOutLayer());
    const ActFunction fn = out->GetActFunction();
    TOutputRange range{};
    if (targets.low > targets.high || !GetOutputRange(fn, range))
        return std::string();
    const double low = targets.low;
    const double high = targets.high;
    if (low >= range.low && high <= range.high)
        return std::string();
    return "Training file " + settings.TrainingFile + " holds expected outputs from " + Plain(low) +
           " to " + Plain(high) + ", but the output layer of " + settings.WeightFile + " (" +
           network.GetFnRegistry()->GetName(fn) + ") produces only values in " + RangeText(range) +
           ": scale the expected outputs into that range or use a linear output layer";
}

void PrepareForTraining(Data& data, TBasicNetwork& network, const TrainSettings& settings,
                        int fileRows) {
    if (settings.MbrNdxFeatures != 0) {
        SYN_ASSERT(settings.MbrDyaFeatures.size() ==
                   static_cast<std::size_t>(settings.MbrNdxFeatures));
        data.SetInputFeatures(settings.MbrNdxFeatures, settings.MbrDyaFeatures.data());
    }
    FitCheck fit;
    fit.dataFile = settings.TrainingFile;
    fit.networkFile = settings.WeightFile;
    fit.selectedFeatures = settings.MbrNdxFeatures;
    fit.fileRows = fileRows;
    CheckFit(data, network, fit);
    CheckTrainable(network, settings.WeightFile);
}

}  // namespace synapsor
