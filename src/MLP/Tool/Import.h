// import: a CSV table becomes one or two data set files. The preparation (which columns are
// inputs and targets, categories, scaling) is fitted on the training rows or read from a saved
// file, then applied to every row. Rows with a missing or non-numeric cell where a number is
// needed are refused, or dropped and counted. Shuffling uses std::mt19937_64 with our own mapping
// to indices, so a seed gives the same order on every machine and standard library.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/Preparation.h"

namespace synapsor {

struct ImportOptions {
    std::string classes;               // a categorical target column, or empty
    std::vector<std::string> targets;  // numeric target columns
    std::vector<std::string> inputs;   // empty: every column that is no target, label or dropped
    std::vector<std::string> drop;
    std::string label;  // a column carried as each row's label, or empty
    ColumnScale scale = ColumnScale::MinMax;
    double split = 1.0;  // share of the rows in the first data set; 1: all
    bool shuffle = false;
    std::optional<std::uint64_t> seed;
    bool dropMissing = false;           // false: a bad cell is an error
    const Preparation* prep = nullptr;  // apply this one instead of fitting
    std::string prepFile;               // its name, for messages
};

struct ImportResult {
    Preparation prep;
    std::unique_ptr<Data> first;
    std::unique_ptr<Data> second;  // the rows after the split point; null without a split
    long dropped = 0;
    std::vector<std::string> warnings;
};

ImportResult Import(const CsvTable& table, const ImportOptions& options);

// A uniform index in [0, bound), bound > 0, by rejection: the same on every platform.
std::uint64_t UniformIndex(std::mt19937_64& rng, std::uint64_t bound);
void ShuffleRows(std::vector<std::size_t>& rows, std::uint64_t seed);
// The number of rows of the first part of a split.
std::size_t SplitPoint(std::size_t rows, double share);

}  // namespace synapsor
