// The in-memory data set: a ring of MbrNdxRows row slots, each holding MbrNdxInputs input values,
// MbrNdxOutputs target values and, when made with labels, a TLabelList. Appending fills the slots
// in turn and, once all are used, overwrites the oldest row. Row indices are slot numbers.
// A reading pass sets MbrNdxCurrent to MbrNdxLast and calls GetNext once per row: the cursor then
// delivers the held rows oldest to newest and round again, with the feature selection applied.
// Bad rows, columns and selections raise TException (kind "Bad Parameter", location Data::Op);
// the data set is unchanged when that happens. Rows are contiguous; GetNext never allocates.
#pragma once

#include <memory>
#include <vector>

#include "DataObject/Label.h"

namespace synapsor {

class Data {
  public:
    // Every count must be 0 or more. All values start at 0.0, every label list empty, the data
    // set empty with no feature selection.
    Data(int rows, int inputs, int outputs, bool labels);
    virtual ~Data() = default;
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;

    // A deep copy: rows, labels, ring indices, cursor and feature selection.
    std::unique_ptr<Data> Clone() const;

    void GetInputDatum(int row, int col, double& value) const;
    void GetOutputDatum(int row, int col, double& value) const;
    void SetInputDatum(int row, int col, double value);
    void SetOutputDatum(int row, int col, double value);

    // values receives MbrNdxInputs (MbrNdxOutputs) values. The column-list forms copy column
    // cols[k] to values[k] for k < count; every listed column must exist.
    void GetInputRow(int row, double* values) const;
    void GetInputRow(int row, double* values, int count, const int* cols) const;
    void GetOutputRow(int row, double* values) const;
    void GetOutputRow(int row, double* values, int count, const int* cols) const;

    // A null inputs or outputs leaves that part as it is; a null labels empties the row's labels.
    // Labels are ignored when the data set keeps none.
    void SetRow(int row, const double* inputs, const double* outputs, const TLabelList* labels);

    // Copies the rows firstRow .. lastRow, in slot order, into inputRows[k] and outputRows[k]
    // (either array may be null to skip that part) and sets *count to the number copied.
    // lastRow is lowered to MbrNdxLast when it is greater (so in a wrapped ring a block starting
    // in the older run, after MbrNdxLast, copies nothing).
    // An invalid firstRow raises "Data Block Fault" after setting *count to 0.
    void GetBlock(double** inputRows, double** outputRows, int firstRow, int lastRow,
                  int* count) const;

    // Stores the row after the newest one, overwriting the oldest when every slot is used.
    void AppendRow(const double* inputs, const double* outputs, const TLabelList* labels);
    // labels, when not null, is an array of count lists.
    void AppendRows(double** inputRows, double** outputRows, int count, const TLabelList* labels);

    // *labels points at the row's list, owned by the data set; null when the set keeps no labels.
    void GetLabels(int row, TLabelList** labels);
    // The other label operations raise "Data Set Has No Labels" on a data set without labels.
    void SetLabels(int row, const TLabelList* labels);
    void ClearLabels(int row);
    void AppendLabel(int row, double value, const char* name);

    // Read the cursor row; a null pointer skips that part. The input selection decides which
    // input columns are delivered and in which order; the output selection is used only together
    // with an input selection. A cursor outside the held rows raises "Invalid Data Row".
    void GetCurrent(double* inputs, double* outputs, TLabelList** labels);
    virtual void GetNext(double* inputs, double* outputs, TLabelList** labels);
    void GetPrevious(double* inputs, double* outputs);
    // Moves the cursor step places along the held order (oldest to newest, then the oldest
    // again); negative steps go back. A cursor not on a held slot counts as being on the newest.
    void Move(int step);
    // The slot `step` places after `row` along the held order, where Move would put a cursor
    // standing on `row`; a cursor not on a held slot counts as being on the newest.
    int StepRow(int row, int step) const;
    // Reads the held row `row` as GetCurrent reads the cursor row, feature selection applied,
    // without moving the cursor: several readers can take rows by index side by side.
    void GetSelectedRow(int row, double* inputs, double* outputs) const;

    // Replace the selection by a copy of the count column indices; a count of 0 removes it.
    // Every index must name an existing column, otherwise the selection stays as it was.
    void SetInputFeatures(int count, const int* cols);
    // *cols is a copy owned by the caller, null when no input selection is in force.
    void GetInputFeatures(int* count, std::unique_ptr<int[]>* cols) const;
    void SetFeatures(int inputCount, const int* inputCols, int outputCount, const int* outputCols);

    bool IsValidRow(int row) const;
    // Slot of the oldest row.
    int GetFirst() const { return MbrNdxFirst; }

    // Read by the trainer, the perceptron and the file tools; only MbrNdxCurrent may be written.
    int MbrNdxRows = 0;
    int MbrNdxDataRows = 0;
    int MbrNdxInputs = 0;
    int MbrNdxOutputs = 0;
    bool MbrBlnLabels = false;
    int MbrNdxLast = 0;
    int MbrNdxCurrent = 0;

  private:
    double* InputRow(int slot) const;
    double* OutputRow(int slot) const;
    void CheckRow(int row, const char* location) const;
    void CheckLabelsKept(const char* location) const;

    // Blocks come from calloc: fresh pages from the system are already zero, so a large data
    // set is not written twice (once with zeros, once with its values).
    struct FreeBlock {
        void operator()(double* block) const;
    };
    using Block = std::unique_ptr<double[], FreeBlock>;
    // Zero-filled block of rows * columns values; null when the memory is not available.
    static Block NewBlock(int rows, int columns);

    // One block per part, slot s at s * columns; null when the part has no columns.
    Block MbrDyaRtpInputs;
    Block MbrDyaRtpOutputs;
    std::vector<TLabelList> MbrDyaLabels;  // one per slot when MbrBlnLabels
    int MbrNdxFirst = 0;
    // A selection is in force when its count is above 0.
    int MbrNdxInputFeatures = 0;
    std::vector<int> MbrDyaInputFeatures;
    int MbrNdxOutputFeatures = 0;
    std::vector<int> MbrDyaOutputFeatures;
};

}  // namespace synapsor
