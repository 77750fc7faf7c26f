#include "MLP/Train/TrainingRun.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "DataObject/Data.h"
#include "FileHandler/Filer.h"
#include "KQmessage/KQML.h"
#include "MLP/Common/FailureReport.h"
#include "MLP/Common/InterruptCleanup.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/SaveNetwork.h"
#include "MLP/Common/TrainParams.h"
#include "Training/TrainModule.h"

namespace synapsor {

namespace {

// A run that stops with one message on standard error: data that cannot be trained on, or
// training that diverged.
struct RunStopped {
    std::string message;
};

std::string Number(float value) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << value;
    return text.str();
}

[[noreturn]] void Diverged(std::int64_t epoch, const std::string& what,
                           const TrainSettings& settings) {
    throw RunStopped{"Training diverged in epoch " + std::to_string(epoch) + ": " + what +
                     " (LearningRate " + Number(settings.LearningRate) + ", Momentum " +
                     Number(settings.Momentum) + "); try a smaller learning rate"};
}

// An update can overflow a weight after the last error of a pass was taken: the error of that
// pass is still finite, the network is not.
bool WeightsFinite(TBasicNetwork& network) {
    std::vector<double> weights(static_cast<std::size_t>(network.GetNumWeights(1)));
    network.GetWeights(weights.data(), 1);
    return std::all_of(weights.begin(), weights.end(), [](double w) { return std::isfinite(w); });
}

// "EPOCH ERROR\n", the error as an output stream prints a float by default (six significant
// digits, "%g").
void WriteEpochLine(PendingOutput& out, std::int64_t epoch, float error) {
    char line[64];
    const int size = std::snprintf(line, sizeof line, "%lld %g\n", static_cast<long long>(epoch),
                                   static_cast<double>(error));
    out.Append(line, static_cast<std::size_t>(size));
}

void Train(const TrainSettings& settings) {
    FileTools networkTools;
    FileTools dataTools;
    std::unique_ptr<TBasicNetwork> network = LoadNetwork(networkTools, settings.WeightFile);
    std::unique_ptr<Data> data =
        LoadDataSet(dataTools, settings.TrainingFile, DataSetRole::Training);
    // One nan or inf among the values makes every error and weight after it nan.
    const std::string nonFinite =
        FindNonFinite(*data, settings.TrainingFile, DataSetRole::Training);
    if (!nonFinite.empty())
        throw RunStopped{nonFinite};
    PrepareForTraining(*data, *network, settings);

    // The destination is claimed before the first epoch, so that one which cannot be written
    // costs no training time; the file is removed again on every way out but success.
    PendingFile destination("network file", settings.DestinationFile);
    TBackpropModule trainer(network.get());
    // The same structure serves every epoch: the trainer adds its defaults on the first one.
    const std::unique_ptr<TKQstructure> params = BuildParams(settings);
    // Epoch lines are collected and written at once on a terminal, otherwise every 100 ms, at the
    // end and on an interrupt (InterruptCleanup.h): one write per short epoch would cost more
    // than the epoch. Whatever went to standard output before goes out first.
    std::cout.flush();
    PendingOutput epochLines(STDOUT_FILENO, isatty(STDOUT_FILENO) == 1);
    // A 64-bit counter: the loop must end even for the largest 32-bit epoch count.
    for (std::int64_t epoch = 1; epoch <= settings.LngEpochs; ++epoch) {
        const float error = static_cast<float>(trainer.TrainEpoch(data.get(), params.get()));
        WriteEpochLine(epochLines, epoch, error);
        if (!std::isfinite(error))
            Diverged(epoch, "the error is not a finite number", settings);
        if (epoch == settings.LngEpochs && !WeightsFinite(*network))
            Diverged(epoch, "the weights are not finite numbers", settings);
    }
    destination.Write([&](std::ostream& out) { networkTools.WriteNetwork(out, network.get()); });
    destination.Commit();
}

}  // namespace

int RunTraining(const TrainSettings& settings) {
    std::cout.imbue(std::locale::classic());
    try {
        Train(settings);
    } catch (const FileTools::Error& e) {
        ReportFileError(std::cout, e);
        ReportFileErrorPlace(std::cerr, e);
        return 1;
    } catch (const TException& e) {
        ReportException(std::cerr, e);
        return 1;
    } catch (const RunStopped& e) {
        std::cerr << e.message << std::endl;
        return 1;
    }
    return 0;
}

}  // namespace synapsor
