#include "MLP/Train/TrainingRun.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <locale>
#include <memory>
#include <optional>
#include <random>
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
#include "NeuralNets/ErrorObj.h"
#include "Training/ParallelPass.h"
#include "Training/RowShuffle.h"
#include "Training/TrainModule.h"
#include "Training/WorkerPool.h"

namespace synapsor {

namespace {

// A run that stops with one message on standard error: data that cannot be trained on, or
// training that diverged. order as in TRunFailure.
struct RunStopped {
    std::string message;
    std::int64_t order = 0;
};

// A failure every process of a shared run has agreed on; the lead reports it.
struct AgreedFailure {
    TRunFailure first;
};

// Formats the exception being handled as RunTraining reports it; an exception of another type
// is rethrown. A fault found while reading the files comes before one found in a row's values.
TRunFailure DescribeFailure() {
    std::ostringstream out;
    std::ostringstream err;
    out.imbue(std::locale::classic());
    err.imbue(std::locale::classic());
    TRunFailure failure;
    try {
        throw;
    } catch (const FileTools::Error& e) {
        ReportFileError(out, e);
        ReportFileErrorPlace(err, e);
    } catch (const TException& e) {
        ReportException(err, e);
    } catch (const RunStopped& e) {
        err << e.message << std::endl;
        failure.order = e.order;
    }
    failure.out = out.str();
    failure.err = err.str();
    return failure;
}

// Where a failure of the preparation comes in a run alone, for TRunFailure::order: faults in
// reading the files first (every process reading a row sees the same first fault), then a value
// that is not finite (by its row), then the checks of what was read (the same on every process).
constexpr std::int64_t kReadingOrder = 0;
constexpr std::int64_t kCheckingOrder = std::int64_t{1} << 40;

// Runs one step of the run's preparation. A run alone lets its failures go to RunTraining; the
// processes of a shared run all finish the step, then agree whether any failed. The step sets
// `order` as it goes: a failure other than RunStopped takes the order it had then.
template <typename Step>
void Agreed(const TRunContext& context, Step&& step) {
    std::int64_t order = kReadingOrder;
    if (context.peers == nullptr) {
        step(order);
        return;
    }
    bool failed = false;
    TRunFailure mine;
    try {
        step(order);
    } catch (const RunStopped&) {
        mine = DescribeFailure();
        failed = true;
    } catch (...) {
        mine = DescribeFailure();
        mine.order = order;
        failed = true;
    }
    AgreedFailure agreed;
    if (context.peers->AgreeOnFailure(failed ? &mine : nullptr, agreed.first))
        throw agreed;
}

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

// "EPOCH ERROR VALIDATION_ERROR\n", both as the two-column line prints its error.
void WriteEpochLine(PendingOutput& out, std::int64_t epoch, float error, float validation) {
    char line[96];
    const int size = std::snprintf(line, sizeof line, "%lld %g %g\n", static_cast<long long>(epoch),
                                   static_cast<double>(error), static_cast<double>(validation));
    out.Append(line, static_cast<std::size_t>(size));
}

// The value a float error shows on the epoch line, read back: the best epoch is the one of the
// smallest printed validation error, the earliest on ties.
double Printed(float error) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(error));
    return std::strtod(text, nullptr);
}

// The held-back rows: the network's RMS error over them, in held order, as synapsor-tool
// evaluate computes it. No weight penalty is added.
class Validation {
  public:
    Validation(std::unique_ptr<Data> rows, TBasicNetwork& network)
        : data(std::move(rows)),
          error(data->MbrNdxOutputs),
          input(static_cast<std::size_t>(network.GetLayer(network.GetInLayer())->numNodes)),
          output(static_cast<std::size_t>(data->MbrNdxOutputs)),
          target(static_cast<std::size_t>(data->MbrNdxOutputs)) {}

    double Error(TBasicNetwork& network) {
        error.Reset();
        for (int i = 0; i < data->MbrNdxDataRows; i++) {
            const int row = data->StepRow(data->MbrNdxLast, i + 1);
            data->GetSelectedRow(row, input.data(), target.data());
            network.Recall(input.data(), output.data());
            error.AddPattern(target.data(), output.data());
        }
        return error.GetError();
    }

  private:
    std::unique_ptr<Data> data;
    TErrorRMSObj error;
    std::vector<double> input;
    std::vector<double> output;
    std::vector<double> target;
};

// Notices a training error whose printed digits (six significant, as the epoch line shows them)
// stay the same for kStallEpochs epochs in a row. Reports once; a zero error is no stall.
class StallWatch {
  public:
    // True the first time the error has stayed the same long enough.
    bool Update(std::int64_t epoch, float error) {
        char text[32];
        std::snprintf(text, sizeof text, "%.6g", static_cast<double>(error));
        if (std::strcmp(text, last) != 0 || error == 0.0f) {
            std::memcpy(last, text, sizeof text);
            since = epoch;
            return false;
        }
        if (reported || epoch - since + 1 < kStallEpochs)
            return false;
        reported = true;
        return true;
    }

    std::string Message(std::int64_t epoch) const {
        return std::string("the training error has stayed at ") + last + " for " +
               std::to_string(epoch - since + 1) + " epochs (epochs " + std::to_string(since) +
               " to " + std::to_string(epoch) +
               "): the network is not learning; saturated units, a learning rate too large or "
               "expected outputs out of the output layer's range are the usual causes";
    }

  private:
    char last[32] = "";
    std::int64_t since = 1;
    bool reported = false;
};

// A seed for a run without one, in the range Seed takes.
std::int32_t DrawSeed() {
    std::random_device device;
    return static_cast<std::int32_t>(device() & 0x7fffffffu);
}

// Returns the exit status: 0, or 128 + the signal when an interrupt ended the run early.
int Train(const TrainSettings& settings, const TrainingWarning& warn, const TRunContext& context) {
    FileTools networkTools;
    FileTools dataTools;
    std::unique_ptr<TBasicNetwork> network;
    std::unique_ptr<Data> data;
    std::int32_t fileRows = -1;
    std::vector<int> kept;
    Agreed(context, [&](std::int64_t& order) {
        network = LoadNetwork(networkTools, settings.WeightFile);
        if (context.rows) {
            const auto select = [&](std::int32_t rows) { return kept = context.rows(rows); };
            data = LoadDataSetRows(dataTools, settings.TrainingFile, DataSetRole::Training, select,
                                   fileRows);
        } else {
            data = LoadDataSet(dataTools, settings.TrainingFile, DataSetRole::Training);
        }
        // One nan or inf among the values makes every error and weight after it nan.
        int badRow = -1;
        const std::string nonFinite =
            FindNonFinite(*data, settings.TrainingFile, DataSetRole::Training,
                          context.rows ? &kept : nullptr, &badRow);
        if (!nonFinite.empty())
            throw RunStopped{nonFinite, 1 + static_cast<std::int64_t>(badRow)};
        order = kCheckingOrder;
        PrepareForTraining(*data, *network, settings, fileRows);
    });
    if (context.peers != nullptr) {
        const std::string targets = UnreachableTargetsMessage(
            context.peers->CombineTargetRange(FindTargetRange(*data)), *network, settings);
        if (!targets.empty() && warn && context.lead)
            warn("TrainingFile", targets);
    } else if (warn) {
        const std::string targets = FindUnreachableTargets(*data, *network, settings);
        if (!targets.empty())
            warn("TrainingFile", targets);
    }
    FileTools validationTools;
    std::unique_ptr<Validation> validation;
    std::optional<PendingFile> destination;
    std::unique_ptr<TBackpropModule> trainer;
    std::unique_ptr<TKQstructure> params;
    Agreed(context, [&](std::int64_t&) {
        if (!settings.ValidationFile.empty()) {
            std::unique_ptr<Data> rows =
                LoadDataSet(validationTools, settings.ValidationFile, DataSetRole::Input);
            const std::string bad =
                FindNonFinite(*rows, settings.ValidationFile, DataSetRole::Input);
            if (!bad.empty())
                throw RunStopped{bad};
            PrepareForTraining(*rows, *network, settings);
            validation = std::make_unique<Validation>(std::move(rows), *network);
        }
        // The destination is claimed before the first epoch, so that one which cannot be
        // written costs no training time; the file is removed again on every way out but
        // success. Only the lead writes it.
        if (context.lead) {
            destination.emplace("network file", settings.DestinationFile);
            if (!context.holdDestination)
                destination.reset();
        }
        trainer = std::make_unique<TBackpropModule>(network.get());
        // The same structure serves every epoch: the trainer adds its defaults on the first one.
        params = BuildParams(settings);
    });
    // Threads splits the batch passes among this process's threads; a shared run splits them
    // among its processes as well.
    if (context.parallel || settings.IsGiven("Threads")) {
        TParallelSetup split = context.parallel ? context.setup : TParallelSetup{};
        split.threads = 1;
        if (settings.IsGiven("Threads"))
            split.threads = settings.Threads == 0 ? AvailableCores() : settings.Threads;
        if (context.parallel)
            split.passRows = fileRows;
        trainer->SetParallel(split);
    }
    std::unique_ptr<TRowShuffle> shuffle;
    std::vector<int> order;
    if (settings.Shuffle) {
        std::int32_t seed = settings.Seed;
        if (seed < 0) {
            seed = DrawSeed();
            std::cerr << "shuffling with Seed = " << seed
                      << " (put it in the parameter file to repeat this run)" << std::endl;
        }
        shuffle = std::make_unique<TRowShuffle>(static_cast<std::uint64_t>(seed));
    }
    // The best epoch so far by validation error, its weights, and how long ago it was.
    const bool keepBest = validation && settings.KeepBest;
    std::vector<double> bestWeights;
    std::int64_t bestEpoch = 0;
    double bestError = 0.0;
    std::int64_t lastEpoch = 0;
    std::string stopped;
    // Epoch lines are collected and written at once on a terminal, otherwise every 100 ms, at the
    // end and on an interrupt (InterruptCleanup.h): one write per short epoch would cost more
    // than the epoch. Whatever went to standard output before goes out first.
    // Only the lead prints them; the other processes of a shared run keep quiet.
    std::cout.flush();
    std::optional<PendingOutput> epochLines;
    if (context.lead)
        epochLines.emplace(STDOUT_FILENO, isatty(STDOUT_FILENO) == 1);
    StallWatch stall;
    const bool stallWarning = warn && context.lead;
    // A 64-bit counter: the loop must end even for the largest 32-bit epoch count.
    KeepWorkOnInterrupt(context.keepWorkOnInterrupt);
    int status = 0;
    for (std::int64_t epoch = 1; epoch <= settings.LngEpochs; ++epoch) {
        if (shuffle) {
            shuffle->NextOrder(data->MbrNdxRows, &order);
            trainer->SetPassOrder(order);
        }
        const float error = static_cast<float>(trainer->TrainEpoch(data.get(), params.get()));
        lastEpoch = epoch;
        if (validation) {
            const float checked = static_cast<float>(validation->Error(*network));
            if (epochLines)
                WriteEpochLine(*epochLines, epoch, error, checked);
            const double shown = Printed(checked);
            if (bestEpoch == 0 || shown < bestError) {
                bestEpoch = epoch;
                bestError = shown;
                if (keepBest) {
                    bestWeights.resize(
                        static_cast<std::size_t>(network->GetNumWeights(FMaskExists)));
                    network->GetWeights(bestWeights.data(), FMaskExists);
                }
            }
        } else if (epochLines) {
            WriteEpochLine(*epochLines, epoch, error);
        }
        if (stallWarning && stall.Update(epoch, error))
            warn("Epochs", stall.Message(epoch));
        if (!std::isfinite(error))
            Diverged(epoch, "the error is not a finite number", settings);
        if (const int signal = InterruptReceived()) {
            status = 128 + signal;
            stopped = "interrupted in epoch " + std::to_string(epoch) + ": ";
            break;
        }
        if (validation && settings.Patience > 0 && epoch - bestEpoch >= settings.Patience) {
            stopped = "stopped after epoch " + std::to_string(epoch) +
                      ": no better validation error for " + std::to_string(settings.Patience) +
                      (settings.Patience == 1 ? " epoch; " : " epochs; ");
            break;
        }
    }
    if (keepBest && bestEpoch > 0)
        network->SetWeights(bestWeights.data(), FMaskExists);
    if (lastEpoch > 0 && !WeightsFinite(*network))
        Diverged(lastEpoch, "the weights are not finite numbers", settings);
    if (context.lead && !destination)
        destination.emplace("network file", settings.DestinationFile);
    if (destination) {
        destination->Write(
            [&](std::ostream& out) { networkTools.WriteNetwork(out, network.get()); });
        destination->Commit();
    }
    if (epochLines)
        epochLines->Flush();
    if (const int signal = InterruptReceived()) {
        status = 128 + signal;
        if (stopped.empty())
            stopped = "interrupted after epoch " + std::to_string(lastEpoch) + ": ";
    }
    const std::int64_t written = keepBest && bestEpoch > 0 ? bestEpoch : lastEpoch;
    if (!context.lead) {
        // The lead says what was written.
    } else if (!stopped.empty()) {
        std::cerr << stopped << "the network of epoch " << written << " is written" << std::endl;
    } else if (keepBest && bestEpoch > 0 && bestEpoch != lastEpoch) {
        std::cerr << "the network of epoch " << bestEpoch
                  << " is written: it has the lowest validation error" << std::endl;
    }
    return status;
}

}  // namespace

int RunTraining(const TrainSettings& settings, const TrainingWarning& warn,
                const TRunContext& context) {
    std::cout.imbue(std::locale::classic());
    // A failure during the epochs is the same on every process of a shared run (they hold the
    // same network and the same combined sums): the lead alone reports it.
    try {
        return Train(settings, warn, context);
    } catch (const AgreedFailure& e) {
        if (context.lead) {
            std::cout << e.first.out << std::flush;
            std::cerr << e.first.err << std::flush;
        }
        return 1;
    } catch (const FileTools::Error& e) {
        if (context.lead) {
            ReportFileError(std::cout, e);
            ReportFileErrorPlace(std::cerr, e);
        }
        return 1;
    } catch (const TException& e) {
        if (context.lead)
            ReportException(std::cerr, e);
        return 1;
    } catch (const RunStopped& e) {
        if (context.lead)
            std::cerr << e.message << std::endl;
        return 1;
    }
}

}  // namespace synapsor
