#include "DataObject/Data.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "Common/Assert.h"
#include "Common/Exceptions.h"

namespace synapsor {

namespace {

[[noreturn]] void Fail(const std::string& message, const char* location) {
    throw TException(message.c_str(), "Bad Parameter", location);
}

// Column indices come from the user's parameter file or from callers; every one must name one of
// the `columns` columns of the part (`part` is "input" or "output"), so that no read leaves a row.
void CheckColumns(int count, const int* cols, int columns, const char* what, const char* part,
                  const char* location) {
    if (count < 0) {
        Fail(std::string(what) + " Count " + std::to_string(count), location);
    }
    if (count > 0 && cols == nullptr) {
        Fail(std::string(what) + " List Missing", location);
    }
    for (int k = 0; k < count; ++k) {
        if (cols[k] < 0 || cols[k] >= columns) {
            std::string message = std::string(what) + " " + std::to_string(cols[k]) + ": ";
            if (columns > 0) {
                message += std::string(part) + " columns are 0 .. " + std::to_string(columns - 1);
            } else {
                message += std::string("the data set has no ") + part + " columns";
            }
            Fail(message, location);
        }
    }
}

}  // namespace

void Data::FreeBlock::operator()(double* block) const {
    std::free(block);
}

// calloc, not new[] with (): all bits zero is 0.0, and calloc skips the clearing for fresh pages
// from the system. An empty block is still a block.
Data::Block Data::NewBlock(int rows, int columns) {
    const std::size_t count = static_cast<std::size_t>(rows) * static_cast<std::size_t>(columns);
    Block block(static_cast<double*>(std::calloc(std::max<std::size_t>(count, 1), sizeof(double))));
    // Memory exhaustion is the caller's to report ("out of memory"), not a broken invariant.
    if (!block)
        throw std::bad_alloc();
    return block;
}

Data::Data(int rows, int inputs, int outputs, bool labels)
    : MbrNdxRows(rows), MbrNdxInputs(inputs), MbrNdxOutputs(outputs), MbrBlnLabels(labels) {
    if (rows < 0 || inputs < 0 || outputs < 0) {
        Fail("Invalid Data Set Size: rows " + std::to_string(rows) + ", inputs " +
                 std::to_string(inputs) + ", outputs " + std::to_string(outputs),
             "Data::Data");
    }
    if (inputs > 0) {
        MbrDyaRtpInputs = NewBlock(rows, inputs);
    }
    if (outputs > 0) {
        MbrDyaRtpOutputs = NewBlock(rows, outputs);
    }
    if (labels) {
        MbrDyaLabels.resize(static_cast<std::size_t>(rows));
    }
}

std::unique_ptr<Data> Data::Clone() const {
    auto PtrDatClone =
        std::make_unique<Data>(MbrNdxRows, MbrNdxInputs, MbrNdxOutputs, MbrBlnLabels);
    const std::size_t rows = static_cast<std::size_t>(MbrNdxRows);
    if (MbrDyaRtpInputs) {
        std::copy_n(MbrDyaRtpInputs.get(), rows * static_cast<std::size_t>(MbrNdxInputs),
                    PtrDatClone->MbrDyaRtpInputs.get());
    }
    if (MbrDyaRtpOutputs) {
        std::copy_n(MbrDyaRtpOutputs.get(), rows * static_cast<std::size_t>(MbrNdxOutputs),
                    PtrDatClone->MbrDyaRtpOutputs.get());
    }
    PtrDatClone->MbrDyaLabels = MbrDyaLabels;
    PtrDatClone->MbrNdxDataRows = MbrNdxDataRows;
    PtrDatClone->MbrNdxFirst = MbrNdxFirst;
    PtrDatClone->MbrNdxLast = MbrNdxLast;
    PtrDatClone->MbrNdxCurrent = MbrNdxCurrent;
    PtrDatClone->MbrNdxInputFeatures = MbrNdxInputFeatures;
    PtrDatClone->MbrDyaInputFeatures = MbrDyaInputFeatures;
    PtrDatClone->MbrNdxOutputFeatures = MbrNdxOutputFeatures;
    PtrDatClone->MbrDyaOutputFeatures = MbrDyaOutputFeatures;
    return PtrDatClone;
}

double* Data::InputRow(int slot) const {
    return MbrDyaRtpInputs ? MbrDyaRtpInputs.get() + static_cast<std::size_t>(slot) * MbrNdxInputs
                           : nullptr;
}

double* Data::OutputRow(int slot) const {
    return MbrDyaRtpOutputs
               ? MbrDyaRtpOutputs.get() + static_cast<std::size_t>(slot) * MbrNdxOutputs
               : nullptr;
}

bool Data::IsValidRow(int row) const {
    // An empty data set holds no row, not even slot 0.
    if (row < 0 || row >= MbrNdxRows || MbrNdxDataRows <= 0)
        return false;
    if (MbrNdxLast >= MbrNdxFirst)
        return MbrNdxFirst <= row && row <= MbrNdxLast;
    return row >= MbrNdxFirst || row <= MbrNdxLast;
}

void Data::CheckRow(int row, const char* location) const {
    if (!IsValidRow(row))
        Fail("Invalid Data Row", location);
}

void Data::CheckLabelsKept(const char* location) const {
    if (!MbrBlnLabels)
        Fail("Data Set Has No Labels", location);
}

void Data::GetInputDatum(int row, int col, double& value) const {
    CheckRow(row, "Data::GetInputDatum");
    if (col < 0 || col >= MbrNdxInputs)
        Fail("Invalid Input Data Column", "Data::GetInputDatum");
    value = InputRow(row)[col];
}

void Data::GetOutputDatum(int row, int col, double& value) const {
    CheckRow(row, "Data::GetOutputDatum");
    if (col < 0 || col >= MbrNdxOutputs) {
        Fail("Invalid Output Data Column", "Data::GetOutputDatum");
    }
    value = OutputRow(row)[col];
}

void Data::SetInputDatum(int row, int col, double value) {
    CheckRow(row, "Data::SetInputDatum");
    if (col < 0 || col >= MbrNdxInputs)
        Fail("Invalid Input Data Column", "Data::SetInputDatum");
    InputRow(row)[col] = value;
}

void Data::SetOutputDatum(int row, int col, double value) {
    CheckRow(row, "Data::SetOutputDatum");
    if (col < 0 || col >= MbrNdxOutputs) {
        Fail("Invalid Output Data Column", "Data::SetOutputDatum");
    }
    OutputRow(row)[col] = value;
}

void Data::GetInputRow(int row, double* values) const {
    CheckRow(row, "Data::GetInputRow");
    std::copy_n(InputRow(row), MbrNdxInputs, values);
}

void Data::GetInputRow(int row, double* values, int count, const int* cols) const {
    CheckRow(row, "Data::GetInputRow");
    CheckColumns(count, cols, MbrNdxInputs, "Invalid Input Data Column", "input",
                 "Data::GetInputRow");
    const double* source = InputRow(row);
    for (int k = 0; k < count; ++k)
        values[k] = source[cols[k]];
}

void Data::GetOutputRow(int row, double* values) const {
    CheckRow(row, "Data::GetOutputRow");
    std::copy_n(OutputRow(row), MbrNdxOutputs, values);
}

void Data::GetOutputRow(int row, double* values, int count, const int* cols) const {
    CheckRow(row, "Data::GetOutputRow");
    CheckColumns(count, cols, MbrNdxOutputs, "Invalid Output Data Column", "output",
                 "Data::GetOutputRow");
    const double* source = OutputRow(row);
    for (int k = 0; k < count; ++k)
        values[k] = source[cols[k]];
}

void Data::SetRow(int row, const double* inputs, const double* outputs, const TLabelList* labels) {
    CheckRow(row, "Data::SetRow");
    if (inputs != nullptr)
        std::copy_n(inputs, MbrNdxInputs, InputRow(row));
    if (outputs != nullptr)
        std::copy_n(outputs, MbrNdxOutputs, OutputRow(row));
    if (MbrBlnLabels)
        SetLabels(row, labels);
}

void Data::GetBlock(double** inputRows, double** outputRows, int firstRow, int lastRow,
                    int* count) const {
    SYN_ASSERT(count != nullptr);
    *count = 0;
    if (!IsValidRow(firstRow))
        Fail("Data Block Fault", "Data::GetBlock");
    // lastRow never passes the newest slot. In a wrapped ring a block that starts in the older
    // run (MbrNdxFirst .. end) therefore copies nothing unless lastRow lies before the newest.
    lastRow = std::min(lastRow, MbrNdxLast);
    int k = 0;
    for (int row = firstRow; row <= lastRow; ++row, ++k) {
        if (inputRows != nullptr)
            std::copy_n(InputRow(row), MbrNdxInputs, inputRows[k]);
        if (outputRows != nullptr)
            std::copy_n(OutputRow(row), MbrNdxOutputs, outputRows[k]);
    }
    *count = k;
}

void Data::AppendRow(const double* inputs, const double* outputs, const TLabelList* labels) {
    SYN_ASSERT(MbrNdxDataRows <= MbrNdxRows);
    if (MbrNdxRows == 0)
        Fail("Data Set Has No Row Slots", "Data::AppendRow");
    int slot;
    if (MbrNdxDataRows == 0) {
        slot = 0;
        MbrNdxDataRows = 1;
    } else if (MbrNdxDataRows < MbrNdxRows) {
        slot = MbrNdxDataRows;
        MbrNdxLast = slot;
        ++MbrNdxDataRows;
    } else {
        if (++MbrNdxFirst == MbrNdxRows)
            MbrNdxFirst = 0;
        if (++MbrNdxLast == MbrNdxRows)
            MbrNdxLast = 0;
        slot = MbrNdxLast;
    }
    SetRow(slot, inputs, outputs, labels);
}

void Data::AppendRows(double** inputRows, double** outputRows, int count,
                      const TLabelList* labels) {
    for (int k = 0; k < count; ++k) {
        AppendRow(inputRows != nullptr ? inputRows[k] : nullptr,
                  outputRows != nullptr ? outputRows[k] : nullptr,
                  labels != nullptr ? &labels[k] : nullptr);
    }
}

void Data::GetLabels(int row, TLabelList** labels) {
    CheckRow(row, "Data::GetLabels");
    *labels = MbrBlnLabels ? &MbrDyaLabels[static_cast<std::size_t>(row)] : nullptr;
}

void Data::SetLabels(int row, const TLabelList* labels) {
    CheckRow(row, "Data::SetLabels");
    CheckLabelsKept("Data::SetLabels");
    TLabelList& target = MbrDyaLabels[static_cast<std::size_t>(row)];
    if (labels != nullptr) {
        target = *labels;
    } else {
        target.labels.clear();
    }
}

void Data::ClearLabels(int row) {
    CheckRow(row, "Data::ClearLabels");
    CheckLabelsKept("Data::ClearLabels");
    MbrDyaLabels[static_cast<std::size_t>(row)].labels.clear();
}

void Data::AppendLabel(int row, double value, const char* name) {
    CheckRow(row, "Data::AppendLabel");
    CheckLabelsKept("Data::AppendLabel");
    MbrDyaLabels[static_cast<std::size_t>(row)].AddLabel(name, value);
}

void Data::GetCurrent(double* inputs, double* outputs, TLabelList** labels) {
    // The cursor is a public field: never read a slot it names unless that slot is held.
    CheckRow(MbrNdxCurrent, "Data::GetCurrent");
    GetSelectedRow(MbrNdxCurrent, inputs, outputs);
    if (labels != nullptr)
        GetLabels(MbrNdxCurrent, labels);
}

void Data::GetSelectedRow(int row, double* inputs, double* outputs) const {
    CheckRow(row, "Data::GetSelectedRow");
    const bool selected = MbrNdxInputFeatures > 0;
    if (inputs != nullptr) {
        const double* source = InputRow(row);
        if (selected) {
            const int* cols = MbrDyaInputFeatures.data();
            for (int k = 0; k < MbrNdxInputFeatures; ++k)
                inputs[k] = source[cols[k]];
        } else {
            std::copy_n(source, MbrNdxInputs, inputs);
        }
    }
    if (outputs != nullptr) {
        const double* source = OutputRow(row);
        if (selected && MbrNdxOutputFeatures > 0) {
            const int* cols = MbrDyaOutputFeatures.data();
            for (int k = 0; k < MbrNdxOutputFeatures; ++k)
                outputs[k] = source[cols[k]];
        } else {
            std::copy_n(source, MbrNdxOutputs, outputs);
        }
    }
}

void Data::GetNext(double* inputs, double* outputs, TLabelList** labels) {
    Move(1);
    GetCurrent(inputs, outputs, labels);
}

void Data::GetPrevious(double* inputs, double* outputs) {
    Move(-1);
    GetCurrent(inputs, outputs, nullptr);
}

void Data::Move(int step) {
    if (MbrNdxDataRows <= 0)
        return;
    MbrNdxCurrent = StepRow(MbrNdxCurrent, step);
}

int Data::StepRow(int row, int step) const {
    if (MbrNdxDataRows <= 0)
        return row;
    // Work with the row's position in the held order (0 = oldest), wrapped or not.
    const std::int64_t rows = MbrNdxRows;
    const std::int64_t held = MbrNdxDataRows;
    const std::int64_t from = IsValidRow(row) ? row : MbrNdxLast;
    const std::int64_t position = (from - MbrNdxFirst + rows) % rows;
    std::int64_t target = (position + step % held) % held;
    if (target < 0)
        target += held;
    return static_cast<int>((MbrNdxFirst + target) % rows);
}

void Data::SetInputFeatures(int count, const int* cols) {
    CheckColumns(count, cols, MbrNdxInputs, "Invalid Input Feature", "input",
                 "Data::SetInputFeatures");
    MbrNdxInputFeatures = count;
    MbrDyaInputFeatures.assign(cols, cols + count);
}

void Data::GetInputFeatures(int* count, std::unique_ptr<int[]>* cols) const {
    *count = MbrNdxInputFeatures;
    cols->reset();
    if (MbrNdxInputFeatures > 0) {
        cols->reset(new int[static_cast<std::size_t>(MbrNdxInputFeatures)]);
        std::copy_n(MbrDyaInputFeatures.data(), MbrNdxInputFeatures, cols->get());
    }
}

void Data::SetFeatures(int inputCount, const int* inputCols, int outputCount,
                       const int* outputCols) {
    // Both lists are checked before either selection changes.
    CheckColumns(inputCount, inputCols, MbrNdxInputs, "Invalid Input Feature", "input",
                 "Data::SetFeatures");
    CheckColumns(outputCount, outputCols, MbrNdxOutputs, "Invalid Output Feature", "output",
                 "Data::SetFeatures");
    MbrNdxInputFeatures = inputCount;
    MbrDyaInputFeatures.assign(inputCols, inputCols + inputCount);
    MbrNdxOutputFeatures = outputCount;
    MbrDyaOutputFeatures.assign(outputCols, outputCols + outputCount);
}

}  // namespace synapsor
