#include "MLP/Tool/Check.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include "Common/Exceptions.h"
#include "FileHandler/Filer.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/ParameterFile.h"
#include "MLP/Common/SaveNetwork.h"
#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/ToolCommands.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

class Checker {
  public:
    explicit Checker(std::string text) : text(std::move(text)) {}

    std::vector<CheckFinding> Run() {
        read = ReadParameterText(text);
        for (const ParameterNote& note : read.notes)
            Add(note.word, false, note.message);
        if (!read.ok()) {
            Add({std::string(), read.error.line, read.error.column}, true, read.error.message);
            return Sorted();
        }
        const TrainSettings& s = read.settings;
        if (s.LearningRate <= 0.0f || s.LearningRate > 10.0f) {
            Add(ValueOf("LearningRate"), false,
                "LearningRate " + FormatNumber(s.LearningRate) +
                    (s.LearningRate <= 0.0f ? " is not above 0: the weights will not learn"
                                            : " is above 10: training is likely to diverge"));
        }
        if (s.Momentum < 0.0f || s.Momentum >= 1.0f) {
            Add(ValueOf("Momentum"), false,
                "Momentum " + FormatNumber(s.Momentum) +
                    " is outside [0, 1): the weight changes grow from epoch to epoch");
        }
        bool optionError = false;
        for (const SettingProblem& p : CheckTrainingOptions(s)) {
            Add(ValueOf(p.key), p.error, p.message);
            optionError = optionError || p.error;
        }
        const std::string problem = CheckSettings(s);
        if (!problem.empty()) {
            Add(ValueOf(problem.find("epochs") != std::string::npos ? "Epochs" : ""), true,
                problem);
            return Sorted();
        }
        if (optionError)
            return Sorted();
        CheckFiles(s);
        return Sorted();
    }

  private:
    void CheckFiles(const TrainSettings& s) {
        namespace fs = std::filesystem;
        std::error_code ec;
        const bool haveNetwork = fs::is_regular_file(s.WeightFile, ec);
        if (!haveNetwork) {
            Add(ValueOf("WeightFile"), true,
                "weight file " + s.WeightFile +
                    " does not exist or is no file (the trainer stops with \"Error on File "
                    "Open\")");
        }
        const bool haveData = fs::is_regular_file(s.TrainingFile, ec);
        if (!haveData) {
            Add(ValueOf("TrainingFile"), true,
                "training file " + s.TrainingFile + " does not exist or is no file");
        }
        if (!s.ValidationFile.empty() && !fs::is_regular_file(s.ValidationFile, ec)) {
            Add(ValueOf("ValidationFile"), true,
                "validation file " + s.ValidationFile + " does not exist or is no file");
        }
        const fs::path destination(s.DestinationFile);
        const fs::path directory =
            destination.has_parent_path() ? destination.parent_path() : fs::path(".");
        if (!fs::is_directory(directory, ec)) {
            Add(ValueOf("DestinationFile"), true,
                "the directory " + directory.string() + " of the destination " + s.DestinationFile +
                    " does not exist");
        } else {
            // Claimed as the trainer claims it before its first epoch (the temporary file is
            // created beside it and removed again): that answers for root and read-only file
            // systems too, where the permission bits do not.
            try {
                PendingFile claim("network file", s.DestinationFile);
            } catch (const FileTools::Error& e) {
                Add(ValueOf("DestinationFile"), true, e.message);
            }
        }
        if (!haveNetwork || !haveData)
            return;

        FileTools networkTools, dataTools;
        std::unique_ptr<TBasicNetwork> network;
        std::unique_ptr<Data> data;
        try {
            network = LoadNetwork(networkTools, s.WeightFile);
        } catch (const FileTools::Error& e) {
            Add(ValueOf("WeightFile"), true, s.WeightFile + ": " + e.message);
        }
        try {
            data = LoadDataSet(dataTools, s.TrainingFile, DataSetRole::Training);
        } catch (const FileTools::Error& e) {
            const bool named = e.message.find(s.TrainingFile) != std::string::npos;
            Add(ValueOf("TrainingFile"), true, (named ? "" : s.TrainingFile + ": ") + e.message);
        }
        if (data) {
            const std::string nonFinite =
                FindNonFinite(*data, s.TrainingFile, DataSetRole::Training);
            if (!nonFinite.empty())
                Add(ValueOf("TrainingFile"), true, nonFinite);
        }
        if (!network || !data)
            return;
        try {
            PrepareForTraining(*data, *network, s);
        } catch (const TException& e) {
            Add(ValueOf(s.MbrNdxFeatures != 0 ? "Features" : "TrainingFile"), true,
                e.GetMessage() ? e.GetMessage() : "the data set does not fit the network");
            return;
        }
        const std::string targets = FindUnreachableTargets(*data, *network, s);
        if (!targets.empty())
            Add(ValueOf("TrainingFile"), false, targets);
    }

    // The value word of the last use of key (the one that counts), else the key itself; the
    // start of the file when the key is not given.
    ParameterWord ValueOf(const std::string& key) const {
        for (auto it = read.keys.rbegin(); it != read.keys.rend(); ++it) {
            if (it->key == key)
                return it->value.text.empty() ? it->word : it->value;
        }
        return ParameterWord{};
    }

    void Add(const ParameterWord& at, bool error, std::string message) {
        findings.push_back({at.line, at.column, error, std::move(message)});
    }

    std::vector<CheckFinding> Sorted() {
        std::stable_sort(findings.begin(), findings.end(),
                         [](const CheckFinding& a, const CheckFinding& b) {
                             return a.line != b.line ? a.line < b.line : a.column < b.column;
                         });
        return findings;
    }

    std::string text;
    ParameterFileResult read;
    std::vector<CheckFinding> findings;
};

}  // namespace

std::vector<CheckFinding> CheckParameterFile(const std::string& file) {
    std::error_code ec;
    std::ifstream in;
    if (!std::filesystem::is_directory(file, ec))
        in.open(file, std::ios::binary);
    if (!in.is_open())
        throw ToolError("Cannot open parameter file " + file);
    std::string text;
    try {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        throw ToolError("Read error in parameter file " + file);
    }
    return Checker(std::move(text)).Run();
}

std::string FormatFinding(const std::string& file, const CheckFinding& finding) {
    return file + ":" + std::to_string(finding.line) + ":" + std::to_string(finding.column) +
           (finding.error ? ": error: " : ": warning: ") + finding.message;
}

void AddCheckCommand(CLI::App& app) {
    auto file = std::make_shared<std::string>();
    CLI::App* sub = app.add_subcommand(
        "check", "Report what the trainer would make of a parameter file, before the run");
    sub->add_option("parameter-file", *file, "the trainer's parameter file")->required();
    sub->callback([file]() {
        const std::vector<CheckFinding> findings = CheckParameterFile(*file);
        std::size_t errors = 0;
        for (const CheckFinding& f : findings) {
            std::cout << FormatFinding(*file, f) << '\n';
            errors += f.error ? 1 : 0;
        }
        std::cout.flush();
        const std::size_t warnings = findings.size() - errors;
        const std::string counts =
            std::to_string(errors) + (errors == 1 ? " error, " : " errors, ") +
            std::to_string(warnings) + (warnings == 1 ? " warning" : " warnings");
        if (errors > 0)
            throw ToolError(*file + ": the run would not start (" + counts + ")");
        std::cerr << "synapsor-tool: " << *file << ": the run would start (" << counts << ")"
                  << std::endl;
    });
}

}  // namespace synapsor
