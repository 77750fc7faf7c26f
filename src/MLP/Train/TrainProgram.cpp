#include "MLP/Train/TrainProgram.h"

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "Common/Version.h"

namespace synapsor {

namespace {

// "--help" and "--version" are options only when no file of that name is there to be read.
bool IsOption(const char* arg, const char* option) {
    std::error_code ec;
    return std::strcmp(arg, option) == 0 && !std::filesystem::exists(arg, ec);
}

// What the reader noted is named on standard error; the run goes on as before. A key given
// twice is left to synapsor-tool check: the later value is the documented rule.
void WarnNotes(std::ostream& err, const ParameterFileResult& read, const char* name) {
    for (const ParameterNote& note : read.notes) {
        if (note.kind == ParameterNoteKind::RepeatedKey)
            continue;
        err << "warning: " << name << ':' << note.word.line << ": " << note.message << std::endl;
    }
}

}  // namespace

int RunTrainProgram(int argc, char** argv, const TTrainProgram& program) {
    // A process that is not the lead writes its messages nowhere.
    std::ostringstream discarded;
    std::ostream& out = program.lead ? std::cout : discarded;
    std::ostream& err = program.lead ? std::cerr : discarded;
    if (argc == 2 && IsOption(argv[1], "--help")) {
        out << program.usage << "\n" << program.help << std::flush;
        return 0;
    }
    if (argc == 2 && IsOption(argv[1], "--version")) {
        out << program.name << ' ' << kVersion << std::endl;
        return 0;
    }
    if (argc != 2) {
        err << program.usage << std::endl;
        return 1;
    }
    const char* name = argv[1];
    std::error_code ec;
    std::ifstream file;
    // A directory opens as a stream on this platform but cannot be read: refuse it here.
    if (!std::filesystem::is_directory(name, ec))
        file.open(name);
    if (!file.is_open()) {
        err << "Cannot open parameter file " << name << std::endl;
        return 1;
    }
    const ParameterFileResult read = ReadParameterFile(file);
    file.close();
    WarnNotes(err, read, name);
    if (!read.ok()) {
        err << read.error.message << std::endl;
        const std::string where = DescribeWhere(name, read.error);
        if (!where.empty())
            err << where << std::endl;
        return 1;
    }
    const std::string problem = CheckSettings(read.settings);
    if (!problem.empty()) {
        err << problem << std::endl;
        return 1;
    }
    // Warnings about the data and the run name the line of the key they concern.
    const auto warn = [&read, name, &err](const char* key, const std::string& message) {
        err << "warning: " << name << ':';
        for (auto it = read.keys.rbegin(); it != read.keys.rend(); ++it) {
            if (it->key == key) {
                err << it->word.line << ':';
                break;
            }
        }
        err << ' ' << message << std::endl;
    };
    // The training options' limits and combinations: keys the settings do not use are warned
    // about, the first error stops the run with the place of its key's value.
    std::vector<SettingProblem> problems = CheckTrainingOptions(read.settings);
    if (program.checks) {
        for (const SettingProblem& p : program.checks(read.settings))
            problems.push_back(p);
    }
    for (const SettingProblem& p : problems) {
        if (!p.error) {
            warn(p.key, p.message);
            continue;
        }
        err << p.message << std::endl;
        for (auto it = read.keys.rbegin(); it != read.keys.rend(); ++it) {
            if (it->key == p.key) {
                const ParameterWord& at = it->value.text.empty() ? it->word : it->value;
                err << DescribeWhere(name, {p.message, at.line, at.column}) << std::endl;
                break;
            }
        }
        return 1;
    }
    return program.run(read.settings, warn);
}

}  // namespace synapsor
