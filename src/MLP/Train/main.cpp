// Synapsor: trains a feed-forward network by back-propagation as a parameter file directs.
// Usage and parameter errors go to standard error with exit status 1. Any exception the run does
// not report itself (out of memory, an internal error) is reported here on standard error, also
// with exit status 1, instead of ending the program abnormally. SIGINT and SIGTERM end it with
// status 128 + the signal, after writing the epoch lines not yet written and removing the network
// file it was writing (InterruptCleanup.h). SIGXFSZ is ignored: a network file beyond the file
// size limit fails with "File too large" and status 1.
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <locale>
#include <string>
#include <system_error>

#include "MLP/Common/FailureReport.h"
#include "MLP/Common/InterruptCleanup.h"
#include "MLP/Common/ParameterFile.h"
#include "MLP/Common/ParameterLint.h"
#include "MLP/Train/TrainingRun.h"

namespace {

// Words the reader skips although they look like settings are named on standard error; the
// run goes on as before. The stream is left at its start for the reader.
void WarnSkippedWords(std::ifstream& file, const char* name) {
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        // A file the system cannot read: the reader meets the same fault and reports it.
        text.clear();
    }
    file.clear();
    file.seekg(0);
    for (const synapsor::ParameterFinding& finding : synapsor::LintParameterText(text).findings) {
        if (finding.kind == synapsor::LintKind::RepeatedKey)
            continue;
        std::cerr << "warning: " << name << ':' << finding.word.line << ": " << finding.Message()
                  << std::endl;
    }
}

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
    WarnSkippedWords(file, name);
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
