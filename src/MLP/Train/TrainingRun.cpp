#include "MLP/Train/TrainingRun.h"

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <locale>
#include <memory>
#include <string>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "KQmessage/KQML.h"
#include "MLP/Common/FailureReport.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/SaveNetwork.h"
#include "MLP/Common/TrainParams.h"
#include "NeuralNets/TrainModule.h"

namespace synapsor {

namespace {

void Train(const TrainSettings& settings) {
    FileTools networkTools;
    FileTools dataTools;
    std::unique_ptr<TBasicNetwork> network = LoadNetwork(networkTools, settings.WeightFile);
    std::unique_ptr<Data> data =
        LoadDataSet(dataTools, settings.TrainingFile, DataSetRole::Training);
    if (settings.MbrNdxFeatures != 0) {
        SYN_ASSERT(settings.MbrDyaFeatures.size() ==
                   static_cast<std::size_t>(settings.MbrNdxFeatures));
        data->SetInputFeatures(settings.MbrNdxFeatures, settings.MbrDyaFeatures.data());
    }
    FitCheck fit;
    fit.dataFile = settings.TrainingFile;
    fit.networkFile = settings.WeightFile;
    fit.selectedFeatures = settings.MbrNdxFeatures;
    CheckFit(*data, *network, fit);
    CheckTrainable(*network, settings.WeightFile);

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
