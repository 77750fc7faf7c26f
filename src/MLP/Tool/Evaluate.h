// synapsor-tool evaluate: how well a network's outputs match a data set's expected outputs. The
// RMS error is the trainer's (the same error object as its epoch lines), next to the mean
// squared and mean absolute error over every output of every row. When the targets mark classes
// (two or more outputs, every row holding one high value and the rest one low value, such as 1/0
// or 0.9/0.1; or a single output of 0/1 targets, read with a threshold of 0.5) it adds the
// accuracy, the confusion matrix and precision, recall and F1 per class. With a preparation of
// import (--prep) it adds, per target column, the RMS and mean absolute error in the table's
// units and R² for a number column, and the class figures by category name for a text column.
// Data holding a value that is not a finite number, and outputs that are not, are refused.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DataObject/Data.h"
#include "MLP/Tool/Preparation.h"
#include "MLP/Tool/Recall.h"

namespace synapsor {

struct EvaluateOptions {
    std::string networkFile;
    std::string dataFile;
    std::string prepFile;  // --prep: figures per target column in the table's units
    bool json = false;
};

// Past this many classes the confusion matrix (classes * classes counts) is neither kept nor
// printed; the per-class figures are.
constexpr int kMostClassesInMatrix = 50;

// A class that is never predicted has precision 0, one that never occurs recall 0, and F1 is 0
// when precision and recall are both 0: the figures stay numbers a script can compare.
struct ClassFigures {
    double precision = 0.0;
    double recall = 0.0;
    double f1 = 0.0;
    int support = 0;  // rows of this class
};

// The figures of one target column of a preparation, in the table's units: RMS, MAE and R² of a
// number column, or the classes of a text column by their names.
struct ColumnEvaluation {
    std::string name;
    bool classification = false;
    double rms = 0.0;
    double mae = 0.0;
    bool r2Defined = false;  // false when the targets do not vary (R² has no value)
    double r2 = 0.0;
    std::vector<std::string> classNames;
    int correct = 0;
    double accuracy = 0.0;
    std::vector<std::vector<int>> confusion;  // [actual][predicted]; empty past the limit
    std::vector<ClassFigures> perClass;
};

struct Evaluation {
    int rows = 0;
    double rms = 0.0;
    double mse = 0.0;
    double mae = 0.0;
    bool classification = false;
    int classes = 0;
    int correct = 0;
    double accuracy = 0.0;
    std::vector<std::vector<int>> confusion;  // [actual][predicted]; empty past the limit
    std::vector<ClassFigures> perClass;
    std::vector<ColumnEvaluation> columns;  // with a preparation: one per target column
};

// The class each row's targets mark (oldest row first), or an empty list when they mark none.
std::vector<int> TargetClasses(const Data& data);
// The figures for outputs recalled from data's rows; data must hold expected outputs.
Evaluation EvaluateOutputs(const Data& data, const RecallTable& table);
// The figures per target column of prep, which must describe as many outputs as data has.
std::vector<ColumnEvaluation> EvaluateColumns(const Data& data, const RecallTable& table,
                                              const Preparation& prep);

void PrintEvaluation(std::ostream& out, const Evaluation& evaluation);
nlohmann::ordered_json EvaluationJson(const Evaluation& evaluation);

void RunEvaluate(const EvaluateOptions& options, std::ostream& console);

}  // namespace synapsor
