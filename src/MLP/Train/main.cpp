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
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <system_error>

#include "Common/Version.h"
#include "MLP/Common/FailureReport.h"
#include "MLP/Common/InterruptCleanup.h"
#include "MLP/Common/ParameterFile.h"
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

// "--help" and "--version" are options only when no file of that name is there to be read.
bool IsOption(const char* arg, const char* option) {
    std::error_code ec;
    return std::strcmp(arg, option) == 0 && !std::filesystem::exists(arg, ec);
}

// What the reader noted is named on standard error; the run goes on as before. A key given
// twice is left to synapsor-tool check: the later value is the documented rule.
void WarnNotes(const synapsor::ParameterFileResult& read, const char* name) {
    for (const synapsor::ParameterNote& note : read.notes) {
        if (note.kind == synapsor::ParameterNoteKind::RepeatedKey)
            continue;
        std::cerr << "warning: " << name << ':' << note.word.line << ": " << note.message
                  << std::endl;
    }
}

int Run(int argc, char** argv) {
    using namespace synapsor;
    if (argc == 2 && IsOption(argv[1], "--help")) {
        std::cout << kUsage << "\n" << kHelp << std::flush;
        return 0;
    }
    if (argc == 2 && IsOption(argv[1], "--version")) {
        std::cout << "Synapsor " << kVersion << std::endl;
        return 0;
    }
    if (argc != 2) {
        std::cerr << kUsage << std::endl;
        return 1;
    }
    const char* name = argv[1];
    std::error_code ec;
    std::ifstream file;
    // A directory opens as a stream on this platform but cannot be read: refuse it here.
    if (!std::filesystem::is_directory(name, ec))
        file.open(name);
    if (!file.is_open()) {
        std::cerr << "Cannot open parameter file " << name << std::endl;
        return 1;
    }
    const ParameterFileResult read = ReadParameterFile(file);
    file.close();
    WarnNotes(read, name);
    if (!read.ok()) {
        std::cerr << read.error.message << std::endl;
        const std::string where = DescribeWhere(name, read.error);
        if (!where.empty())
            std::cerr << where << std::endl;
        return 1;
    }
    const std::string problem = CheckSettings(read.settings);
    if (!problem.empty()) {
        std::cerr << problem << std::endl;
        return 1;
    }
    // Warnings about the data and the run name the line of the key they concern.
    const auto warn = [&read, name](const char* key, const std::string& message) {
        std::cerr << "warning: " << name << ':';
        for (auto it = read.keys.rbegin(); it != read.keys.rend(); ++it) {
            if (it->key == key) {
                std::cerr << it->word.line << ':';
                break;
            }
        }
        std::cerr << ' ' << message << std::endl;
    };
    // The training options' limits and combinations: keys the settings do not use are warned
    // about, the first error stops the run with the place of its key's value.
    for (const SettingProblem& p : CheckTrainingOptions(read.settings)) {
        if (!p.error) {
            warn(p.key, p.message);
            continue;
        }
        std::cerr << p.message << std::endl;
        for (auto it = read.keys.rbegin(); it != read.keys.rend(); ++it) {
            if (it->key == p.key) {
                const ParameterWord& at = it->value.text.empty() ? it->word : it->value;
                std::cerr << DescribeWhere(name, {p.message, at.line, at.column}) << std::endl;
                break;
            }
        }
        return 1;
    }
    return RunTraining(read.settings, warn);
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
