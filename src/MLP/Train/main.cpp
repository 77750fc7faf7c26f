// Synapsor: trains a feed-forward network by back-propagation as a parameter file directs.
// Usage and parameter errors go to standard error with exit status 1; "--help" and "--version"
// print the usage or the version on standard output with status 0 when no file of that name
// exists. Any exception the run does not report itself (out of memory, an internal error) is
// reported here on standard error, also with exit status 1, instead of ending the program
// abnormally. SIGINT and SIGTERM end it with status 128 + the signal, after writing the epoch
// lines not yet written and removing the network file it was writing (InterruptCleanup.h);
// during the epochs the first one lets the run finish its epoch and write its network, and only
// a second one ends it at once.
// SIGXFSZ is ignored: a network file beyond the file size limit fails with "File too large" and
// status 1.
#include <iostream>

#include "MLP/Common/FailureReport.h"
#include "MLP/Common/InterruptCleanup.h"
#include "MLP/Train/TrainProgram.h"
#include "MLP/Train/TrainingRun.h"

namespace {

constexpr const char kUsage[] = "Usage: Synapsor parameter.file";

constexpr const char kHelp[] =
    "Trains a multi-layer perceptron by back-propagation as the parameter file directs and\n"
    "prints the training error of every epoch. The file holds settings of the form KEY = VALUE:\n"
    "WeightFile, TrainingFile and Epochs are required; DestinationFile (default trained.wgt),\n"
    "LearningRate, Momentum, Batch, LWF, ForgettingRate, #Features, Features, Algorithm,\n"
    "BatchSize, Beta1, Beta2, Epsilon, ValidationFile, Patience, KeepBest, Shuffle and Seed\n"
    "are optional.\n"
    "synapsor-tool check reports what the trainer would make of a parameter file.\n"
    "See Synapsor(1) for the keys and the messages.\n";

int Run(int argc, char** argv) {
    synapsor::TTrainProgram program;
    program.usage = kUsage;
    program.help = kHelp;
    program.run = [](const synapsor::TrainSettings& settings,
                     const synapsor::TrainingWarning& warn) {
        return synapsor::RunTraining(settings, warn);
    };
    return synapsor::RunTrainProgram(argc, argv, program);
}

}  // namespace

int main(int argc, char** argv) {
    synapsor::InstallInterruptCleanup();
    try {
        return Run(argc, argv);
    } catch (...) {
        synapsor::ReportUnexpectedException(std::cerr);
        return 1;
    }
}
