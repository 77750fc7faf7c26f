// The file that tells synapsor-tool sweep what to try: one "KEY = VALUE ..." line per key, keys
// in any case, "#" followed by a blank or the line's end starting a comment. The sweep's own keys
// (Parameters, ValidationFile, Folds, FoldSeed, Hidden, HiddenFunction, OutputFunction, Seeds)
// say where the settings and the data come from and how runs are scored; every other key is a
// trainer key, read by the parameter reader, with one value (the same in every run) or several
// (one run per value). A flag (Batch, LWF) may take "false", which leaves it off. "Features" and
// "#Features" keep the rest of their line as one value. Every value is checked when the file is
// read; a fault is a SweepError whose message starts with FILE:LINE:COLUMN of the word at fault.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "MLP/Common/ParameterFile.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

class SweepError : public ToolError {
  public:
    using ToolError::ToolError;
};

struct SweepWord {
    std::string text;
    int line = 0;
    int column = 0;
};

struct SweepKey {
    SweepWord name;  // the key as the parameter reader spells it
    std::vector<SweepWord> values;
    bool flag = false;  // a flag: "false" leaves its line out, so that it stays off
};

struct SweepSetup {
    std::string file;            // the setup's name, for messages
    std::string baseFile;        // Parameters: a parameter file read before the keys
    std::string baseText;        // its text
    std::vector<SweepKey> keys;  // trainer keys in file order
    SweepKey hidden;             // Hidden: hidden layer sizes per value ("64,32"); may be empty
    std::vector<std::vector<int>> hiddenSizes;  // parsed, one per Hidden value
    std::string hiddenFunction = "sigmoid";
    std::string outputFunction = "sigmoid";
    std::vector<std::uint64_t> seeds = {1};
    SweepWord seedsWord;  // where Seeds was given
    std::string validationFile;
    SweepWord validationWord;
    int folds = 0;  // 0: score on validationFile
    SweepWord foldsWord;
    std::uint64_t foldSeed = 1;

    bool MakesNetworks() const { return !hidden.values.empty(); }
    // "FILE:LINE:COLUMN: " for a word of the setup.
    std::string Where(const SweepWord& word) const;
};

// One combination of the swept values: an index into each swept key's values (in key order) and
// into the Hidden values.
struct SweepSetting {
    std::vector<int> choice;  // per entry of SweepSetup::keys; 0 for a key with one value
    int hidden = 0;
};

// Reads and checks the setup text; `file` names it in messages. The base parameter file is read
// here too. Throws SweepError.
SweepSetup ParseSweepSetup(std::string_view text, const std::string& file);
SweepSetup ReadSweepSetup(const std::string& file);

// Every combination, the first key's values changing slowest, Hidden last.
std::vector<SweepSetting> ExpandSettings(const SweepSetup& setup);

// The parameter text of one setting: the base text, then a line per trainer key.
std::string SettingText(const SweepSetup& setup, const SweepSetting& setting);
// The trainer settings of one setting (the text read by the parameter reader).
TrainSettings SettingValues(const SweepSetup& setup, const SweepSetting& setting);
// The swept keys only, "LearningRate = 0.1, Hidden = 32": how the table names a setting.
std::vector<std::pair<std::string, std::string>> SweptValues(const SweepSetup& setup,
                                                             const SweepSetting& setting);

// The fold (0 .. k-1) of each of `rows` rows, fixed by seed. With classes (one per row), each
// class's rows are dealt out in turn, so every fold holds each class's rows to within one.
std::vector<int> MakeFolds(int rows, const std::vector<int>& classes, int k, std::uint64_t seed);

}  // namespace synapsor
