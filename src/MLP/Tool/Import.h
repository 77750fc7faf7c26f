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
#include <string_view>
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
    std::size_t maxCategories = 1000;   // a text column with more different texts is refused
    bool decimalComma = false;          // "," in a number cell is the decimal point
};

struct ImportResult {
    Preparation prep;
    std::unique_ptr<Data> first;
    std::unique_ptr<Data> second;  // the rows after the split point; null without a split
    long dropped = 0;
    std::vector<std::string> warnings;
};

// The whole result in memory, for a table already read.
ImportResult Import(const CsvTable& table, const ImportOptions& options);

struct ImportSummary {
    Preparation prep;
    long dropped = 0;
    long rowsRead = 0;
    long rows[2] = {0, 0};  // rows of the first and the second data set
    int inputs = 0;
    int outputs = 0;
    bool labels = false;
    std::vector<std::string> warnings;
};

class Importer;

// An import fed record by record: Header, each Row, then Finish. It keeps one double per used
// cell of each row (and the labels), not the text; the data sets are made from that store.
class ImportedTable {
  public:
    explicit ImportedTable(const ImportOptions& options);  // options must outlive this
    ~ImportedTable();
    ImportedTable(ImportedTable&&) noexcept;

    void Header(const CsvTable& header);
    void Row(const std::vector<std::string_view>& fields, long record);
    void Finish();

    // Part 0 is the first data set, part 1 the rows after the split point.
    std::unique_ptr<Data> BuildData(int part) const;
    // The data set file's text, as the data set writer writes it, row by row; a failing stream
    // is left to the caller to report.
    void WriteDataSet(std::ostream& out, int part) const;

    ImportSummary summary;

  private:
    std::unique_ptr<Importer> impl;
};

// The value as std::to_chars(general, precision 15) writes it (the data set writer's "%.15g"):
// for values from 1e-8 to 1e15 by one exact product with a power of ten, several times faster;
// out has room for 32 characters; the end is returned.
char* FormatValue15(char* out, double value);

// Reads the CSV file ("-": stdinStream) in pieces and imports it.
ImportedTable ImportCsv(const std::string& file, const CsvOptions& csv,
                        const ImportOptions& options, std::istream& stdinStream);

// A uniform index in [0, bound), bound > 0, by rejection: the same on every platform.
std::uint64_t UniformIndex(std::mt19937_64& rng, std::uint64_t bound);
void ShuffleRows(std::vector<std::size_t>& rows, std::uint64_t seed);
// The number of rows of the first part of a split.
std::size_t SplitPoint(std::size_t rows, double share);

}  // namespace synapsor
