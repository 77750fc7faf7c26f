// synapsor-tool recall: runs every row of a data set file's first data set through a network.
// The outputs go out as CSV (a header, one line per row, the outputs and, with two or more
// outputs, the index of the largest) or as a data set file that keeps the first data set as it
// was and adds the outputs and, where the rows have expected outputs, the errors
// (output - target) as its second data set. Rows without expected outputs give outputs only.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "DataObject/Data.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

struct RecallOptions {
    std::string networkFile;
    std::string dataFile;
    std::string dataSetOutput;  // -o: data set file to write; empty for none
    std::string csvOutput;      // --csv: CSV file to write; "-" for standard output
};

// The network's outputs for the rows a data set holds, oldest first, one row after another.
struct RecallTable {
    int rows = 0;
    int outputs = 0;
    std::vector<double> values;  // rows * outputs

    const double* Row(int i) const { return values.data() + static_cast<std::size_t>(i) * outputs; }
};

// The slot of the i-th held row, oldest first.
int HeldRow(const Data& data, int i);
// The data set's rows must deliver as many inputs as the network's input layer takes.
RecallTable RecallRows(TBasicNetwork& network, const Data& data);
// Refuses (ToolError) a data set holding an input or expected output that is not a finite number,
// with the trainer's message "Data set file NAME, row R, column C: nan is not a finite number".
void CheckFiniteRows(const Data& data, const std::string& dataFile);
// Refuses outputs that are not finite numbers (a linear output layer can overflow with finite
// weights): "Network file NAME gives output K of row R as inf, not a finite number".
void CheckFiniteOutputs(const RecallTable& table, const std::string& networkFile);
// Index of the largest value (the first of equal ones).
int ArgMax(const double* values, int count);

// The second data set of the recall file: generated outputs, and errors when data has expected
// outputs.
std::unique_ptr<Data> MakeResultDataSet(const Data& data, const RecallTable& table);
// Both data sets in the data set file format, written by the library's data set writer.
void WriteRecallDataSet(std::ostream& out, Data& data, const RecallTable& table);
void WriteRecallCsv(std::ostream& out, const RecallTable& table);

void RunRecall(const RecallOptions& options, std::ostream& console);

}  // namespace synapsor
