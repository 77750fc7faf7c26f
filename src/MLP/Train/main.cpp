// Synapsor: trains a feed-forward network by back-propagation as a parameter file directs.
// Usage and parameter errors go to standard error with exit status 1. Any exception the run does
// not report itself (out of memory, an internal error) is reported here on standard error, also
// with exit status 1, instead of ending the program abnormally. SIGINT and SIGTERM end it with
// status 128 + the signal, after removing the network file it was writing (InterruptCleanup.h).
#include <filesystem>
#include <fstream>
#include <iostream>
#include <locale>
#include <string>
#include <system_error>

#include "MLP/Common/FailureReport.h"
#include "MLP/Common/InterruptCleanup.h"
#include "MLP/Common/ParameterFile.h"
#include "MLP/Train/TrainingRun.h"

namespace {

int Run(int argc, char** argv) {
    using namespace synapsor;
    if (argc != 2) {
        std::cerr << "Usage: Synapsor parameter.file" << std::endl;
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
    file.imbue(std::locale::classic());
    const ParameterFileResult read = ReadParameterFile(file);
    file.close();
    if (!read.ok()) {
        std::cerr << read.error << std::endl;
        return 1;
    }
    const std::string problem = CheckSettings(read.settings);
    if (!problem.empty()) {
        std::cerr << problem << std::endl;
        return 1;
    }
    return RunTraining(read.settings);
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
