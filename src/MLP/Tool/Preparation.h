// The preparation of a CSV table for training: which columns feed the inputs and the expected
// outputs, in which order, the categories of the text columns (one value per category, 1 for the
// row's category, 0 for the others) and the scaling constants of the number columns. import fits
// one on training rows and applies it, saves it, and applies a saved one to new rows; export uses
// it to turn values back into the table's units and class names. The file is bracketed-block
// text (doc/Preparation.md); names and categories are written as single words, with every byte
// the syntax cannot carry as %XX.
#pragma once

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace synapsor {

enum class ColumnRole { Input, Target };
enum class ColumnScale { None, MinMax, ZScore };

struct PrepColumn {
    std::string name;
    ColumnRole role = ColumnRole::Input;
    bool categorical = false;
    std::vector<std::string> categories;  // in order of first appearance
    ColumnScale scale = ColumnScale::None;
    double first = 0.0;   // MinMax: the minimum; ZScore: the mean
    double second = 0.0;  // MinMax: the maximum; ZScore: the standard deviation

    // Values this column gives each row: one per category, or one.
    int Width() const { return categorical ? static_cast<int>(categories.size()) : 1; }
    // Index of the category, or -1 when it was never seen.
    int CategoryIndex(std::string_view category) const;
    // The scaled value: a column without spread (minimum = maximum, deviation 0) gives 0.
    double Scale(double value) const;
    // The inverse of Scale (a column without spread gives its one value back).
    double Unscale(double scaled) const;
    // A difference of scaled values (an error) in the column's units.
    double UnscaleDifference(double scaled) const;
};

struct Preparation {
    std::vector<PrepColumn> columns;  // inputs and targets, each in data set order

    int Inputs() const;
    int Outputs() const;
    bool HasTargets() const;
};

void WritePreparation(std::ostream& out, const Preparation& prep);
// file names the stream in messages; a fault is a ToolError "FILE: MESSAGE".
Preparation ReadPreparation(std::istream& in, const std::string& file);
Preparation ReadPreparationFile(const std::string& file);

// A text as one word of the bracketed-block syntax: separator bytes, the special characters
// "[]/*=<>" and "%" become %XX; the empty text is "%".
std::string EncodeWord(std::string_view text);
// The inverse; a "%" not followed by two hex digits stands for itself.
std::string DecodeWord(std::string_view word);

const char* ScaleName(ColumnScale scale);

}  // namespace synapsor
