#include "DataObject/Data.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Common/Exceptions.h"

namespace synapsor {
namespace {

using Values = std::vector<double>;

// Row k holds inputs 10k, 10k + 1, 10k + 2 and outputs k + 0.5, k + 0.25, so every value read
// back names the row and column it came from.
void AppendNumbered(Data& data, int k, const TLabelList* labels = nullptr) {
    const double inputs[3] = {10.0 * k, 10.0 * k + 1, 10.0 * k + 2};
    const double outputs[2] = {k + 0.5, k + 0.25};
    data.AppendRow(inputs, outputs, labels);
}

std::unique_ptr<Data> MakeData(int capacity, int appended, bool labels = false) {
    auto data = std::make_unique<Data>(capacity, 3, 2, labels);
    for (int k = 0; k < appended; ++k)
        AppendNumbered(*data, k);
    return data;
}

double InAt(const Data& data, int row, int col) {
    double v = -1;
    data.GetInputDatum(row, col, v);
    return v;
}

double OutAt(const Data& data, int row, int col) {
    double v = -1;
    data.GetOutputDatum(row, col, v);
    return v;
}

// Row numbers delivered by `count` GetNext calls after the pass start MbrNdxCurrent = MbrNdxLast.
std::vector<int> Pass(Data& data, int count) {
    std::vector<int> rows;
    data.MbrNdxCurrent = data.MbrNdxLast;
    double in[3];
    double out[2];
    for (int k = 0; k < count; ++k) {
        data.GetNext(in, out, nullptr);
        rows.push_back(static_cast<int>(in[0]) / 10);
    }
    return rows;
}

void ExpectBadParameter(const std::function<void()>& call, const std::string& message,
                        const char* location) {
    try {
        call();
        ADD_FAILURE() << "no exception; expected " << message << " at " << location;
    } catch (const TException& e) {
        EXPECT_EQ(e.GetMessage(), message);
        EXPECT_STREQ(e.GetKind(), "Bad Parameter");
        EXPECT_STREQ(e.GetLocation(), location);
        EXPECT_EQ(e.GetDetails(), nullptr);
    }
}

TEST(DataTest, RingFillsSlotsThenOverwritesTheOldest) {
    auto data = MakeData(3, 0);
    EXPECT_FALSE(data->IsValidRow(0));  // an empty data set holds no row at all
    AppendNumbered(*data, 0);
    AppendNumbered(*data, 1);
    EXPECT_TRUE(data->IsValidRow(1));
    EXPECT_FALSE(data->IsValidRow(2));
    AppendNumbered(*data, 2);
    EXPECT_EQ(data->GetFirst(), 0);
    EXPECT_EQ(data->MbrNdxLast, 2);
    AppendNumbered(*data, 3);  // R4 replaces R1 in slot 0
    EXPECT_EQ(data->MbrNdxDataRows, 3);
    EXPECT_EQ(data->GetFirst(), 1);
    EXPECT_EQ(data->MbrNdxLast, 0);
    EXPECT_DOUBLE_EQ(InAt(*data, 0, 1), 31.0);
    EXPECT_DOUBLE_EQ(OutAt(*data, 1, 0), 1.5);  // R2 untouched
    for (int row : {0, 1, 2})
        EXPECT_TRUE(data->IsValidRow(row)) << row;
    for (int row : {-1, 3})
        EXPECT_FALSE(data->IsValidRow(row)) << row;
}

TEST(DataTest, GetNextWalksHeldRowsOldestToNewestAndRoundAgain) {
    auto four = MakeData(6, 4);  // not full: slots 4 and 5 are never delivered
    EXPECT_EQ(Pass(*four, 5), (std::vector<int>{0, 1, 2, 3, 0}));
    auto one = MakeData(3, 1);
    EXPECT_EQ(Pass(*one, 3), (std::vector<int>{0, 0, 0}));
    auto wrapped = MakeData(3, 5);  // R3, R4 in slots 0, 1; R2 in slot 2 is the oldest
    EXPECT_EQ(Pass(*wrapped, 4), (std::vector<int>{2, 3, 4, 2}));
}

TEST(DataTest, CursorMovesBackwardsAndFromUnheldSlotsStayOnHeldRows) {
    auto wrapped = MakeData(3, 5);  // held order: slots 2, 0, 1 = rows 2, 3, 4
    double in[3];
    wrapped->MbrNdxCurrent = 2;  // the oldest: one step back is the newest
    wrapped->GetPrevious(in, nullptr);
    EXPECT_EQ(wrapped->MbrNdxCurrent, 1);
    EXPECT_DOUBLE_EQ(in[0], 40.0);
    wrapped->Move(-5);  // position 2 - 5 = -3, i.e. 0 mod 3: the oldest
    EXPECT_EQ(wrapped->MbrNdxCurrent, 2);
    auto part = MakeData(10, 4);
    part->MbrNdxCurrent = 3;
    part->Move(7);  // position 3 + 7 = 10, mod 4 rows = 2
    EXPECT_EQ(part->MbrNdxCurrent, 2);
    part->MbrNdxCurrent = 8;  // not held: counts as the newest, so the next row is the oldest
    part->GetNext(in, nullptr, nullptr);
    EXPECT_DOUBLE_EQ(in[0], 0.0);
    EXPECT_EQ(part->MbrNdxCurrent, 0);
}

TEST(DataTest, FeatureSelectionReordersInputsAndAppliesOutputsOnlyWithInputs) {
    auto data = MakeData(2, 2);
    const int inputCols[2] = {2, 0};
    const int outputCols[1] = {1};
    double in[3] = {-1, -1, -1};
    double out[2] = {-1, -1};
    data->SetInputFeatures(2, inputCols);
    data->MbrNdxCurrent = 0;
    data->GetNext(in, out, nullptr);  // row 1
    EXPECT_EQ(Values(in, in + 3), (Values{12, 10, -1}));
    EXPECT_EQ(Values(out, out + 2), (Values{1.5, 1.25}));
    data->SetFeatures(2, inputCols, 1, outputCols);
    data->GetCurrent(in, out, nullptr);
    EXPECT_DOUBLE_EQ(out[0], 1.25);
    data->SetFeatures(0, nullptr, 1, outputCols);  // no input selection: all columns as stored
    data->GetCurrent(in, out, nullptr);
    EXPECT_EQ((Values{in[0], in[1], in[2], out[0]}), (Values{10, 11, 12, 1.5}));
    std::unique_ptr<int[]> cols;
    int count = -1;
    data->GetInputFeatures(&count, &cols);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(cols, nullptr);
}

TEST(DataTest, IndexedRowReadsRepeatAndReorderColumns) {
    auto data = MakeData(2, 2);
    const int cols[3] = {2, 2, 0};
    double values[3];
    data->GetInputRow(1, values, 3, cols);
    EXPECT_EQ(Values(values, values + 3), (Values{12, 12, 10}));
}

// Every refused call names its message and location and leaves the data set as it was.
TEST(DataTest, BadCallsRaiseTheirExceptionsAndChangeNothing) {
    Data d(4, 3, 2, true), p(2, 3, 2, false), empty(2, 3, 2, false), noSlots(0, 3, 2, false);
    Data noInputs(1, 0, 1, false);
    AppendNumbered(d, 0);
    AppendNumbered(d, 1);
    AppendNumbered(p, 0);
    noInputs.AppendRow(nullptr, nullptr, nullptr);
    const int good[2] = {2, 0};
    const int bad[2] = {0, 3};
    const int negative[1] = {-1};
    const int outputCols[2] = {1, 2};
    d.SetInputFeatures(2, good);
    const TLabelList tag("a", 1.0);
    TLabelList* list = nullptr;
    double v = 0;
    double row[3];
    const struct {
        const char* op;
        const char* message;
        std::function<void()> call;
    } cases[] = {
        {"Data", "Invalid Data Set Size: rows -1, inputs 3, outputs 2",
         [] { Data(-1, 3, 2, false); }},
        {"GetCurrent", "Invalid Data Row", [&] { empty.GetNext(row, nullptr, nullptr); }},
        {"AppendRow", "Data Set Has No Row Slots", [&] { AppendNumbered(noSlots, 0); }},
        {"GetInputDatum", "Invalid Data Row", [&] { d.GetInputDatum(2, 0, v); }},
        {"GetOutputDatum", "Invalid Data Row", [&] { d.GetOutputDatum(-1, 0, v); }},
        // The row is checked before the column.
        {"SetInputDatum", "Invalid Data Row", [&] { d.SetInputDatum(2, -1, v); }},
        {"SetOutputDatum", "Invalid Data Row", [&] { d.SetOutputDatum(4, 0, v); }},
        {"GetLabels", "Invalid Data Row", [&] { d.GetLabels(2, &list); }},
        {"SetLabels", "Invalid Data Row", [&] { d.SetLabels(2, nullptr); }},
        {"ClearLabels", "Invalid Data Row", [&] { d.ClearLabels(2); }},
        {"AppendLabel", "Invalid Data Row", [&] { d.AppendLabel(2, 1.0, "x"); }},
        {"SetRow", "Invalid Data Row", [&] { d.SetRow(2, row, row, nullptr); }},
        {"GetInputRow", "Invalid Data Row", [&] { d.GetInputRow(2, row); }},
        {"GetInputRow", "Invalid Data Row", [&] { d.GetInputRow(3, row, 1, good); }},
        {"GetOutputRow", "Invalid Data Row", [&] { d.GetOutputRow(2, row); }},
        {"GetOutputRow", "Invalid Data Row", [&] { d.GetOutputRow(2, row, 1, good); }},
        {"GetInputDatum", "Invalid Input Data Column", [&] { d.GetInputDatum(1, -1, v); }},
        {"SetInputDatum", "Invalid Input Data Column", [&] { d.SetInputDatum(1, 3, 99.0); }},
        {"GetOutputDatum", "Invalid Output Data Column", [&] { d.GetOutputDatum(1, 2, v); }},
        {"SetOutputDatum", "Invalid Output Data Column", [&] { d.SetOutputDatum(0, -1, 99.0); }},
        {"GetOutputRow", "Invalid Output Data Column 2: output columns are 0 .. 1",
         [&] { d.GetOutputRow(1, row, 2, outputCols); }},
        {"GetInputRow", "Invalid Input Data Column List Missing",
         [&] { d.GetInputRow(1, row, 1, nullptr); }},
        {"GetInputRow", "Invalid Input Data Column 0: the data set has no input columns",
         [&] { noInputs.GetInputRow(0, row, 1, good + 1); }},
        {"SetInputFeatures", "Invalid Input Feature 3: input columns are 0 .. 2",
         [&] { d.SetInputFeatures(2, bad); }},
        {"SetInputFeatures", "Invalid Input Feature -1: input columns are 0 .. 2",
         [&] { d.SetInputFeatures(1, negative); }},
        {"SetInputFeatures", "Invalid Input Feature Count -2",
         [&] { d.SetInputFeatures(-2, good); }},
        {"SetFeatures", "Invalid Input Feature -1: input columns are 0 .. 2",
         [&] { d.SetFeatures(1, negative, 1, good); }},
        {"SetFeatures", "Invalid Output Feature 2: output columns are 0 .. 1",
         [&] { d.SetFeatures(1, good + 1, 1, good); }},
        {"SetFeatures", "Invalid Output Feature List Missing",
         [&] { d.SetFeatures(1, good + 1, 2, nullptr); }},
        {"SetLabels", "Data Set Has No Labels", [&] { p.SetLabels(0, &tag); }},
        {"ClearLabels", "Data Set Has No Labels", [&] { p.ClearLabels(0); }},
        {"AppendLabel", "Data Set Has No Labels", [&] { p.AppendLabel(0, 1.0, "x"); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.op);
        ExpectBadParameter(c.call, c.message, ("Data::" + std::string(c.op)).c_str());
    }
    d.GetInputRow(1, row);
    EXPECT_EQ(Values(row, row + 3), (Values{10, 11, 12}));
    EXPECT_DOUBLE_EQ(OutAt(d, 0, 0), 0.5);
    EXPECT_EQ(d.MbrNdxDataRows, 2);
    std::unique_ptr<int[]> cols;
    int count = 0;
    d.GetInputFeatures(&count, &cols);  // the selection made before is kept
    ASSERT_EQ(count, 2);
    EXPECT_EQ(Values(cols.get(), cols.get() + 2), (Values{2, 0}));
}

TEST(DataTest, GetBlockClampsToTheHeldRowsAndCounts) {
    auto data = MakeData(5, 3);
    double in[5][3];
    double out[5][2];
    double* inRows[5] = {in[0], in[1], in[2], in[3], in[4]};
    double* outRows[5] = {out[0], out[1], out[2], out[3], out[4]};
    int count = -1;
    data->GetBlock(inRows, outRows, 1, 9, &count);  // lastRow 9 lowered to MbrNdxLast 2
    EXPECT_EQ(count, 2);
    EXPECT_DOUBLE_EQ(in[0][0], 10.0);
    EXPECT_DOUBLE_EQ(out[1][1], 2.25);
    data->GetBlock(inRows, nullptr, 2, 1, &count);
    EXPECT_EQ(count, 0);
    count = 7;
    ExpectBadParameter([&] { data->GetBlock(inRows, outRows, 3, 4, &count); }, "Data Block Fault",
                       "Data::GetBlock");
    EXPECT_EQ(count, 0);
    auto wrapped = MakeData(5, 7);  // slots 2, 3, 4 hold rows 2, 3, 4; slots 0, 1 rows 5, 6
    in[0][0] = -1.0;
    wrapped->GetBlock(inRows, outRows, 3, 4, &count);  // lastRow lowered to MbrNdxLast 1 < 3
    EXPECT_EQ(count, 0);
    EXPECT_DOUBLE_EQ(in[0][0], -1.0);
    wrapped->GetBlock(inRows, outRows, 0, 4, &count);  // the newer run ends at MbrNdxLast 1
    EXPECT_EQ(count, 2);
    EXPECT_DOUBLE_EQ(in[1][0], 60.0);
}

TEST(DataTest, SetRowLeavesNullPartsAloneAndNullLabelsClear) {
    auto data = MakeData(2, 1, true);
    data->AppendLabel(0, 1.0, "old");
    const double outputs[2] = {7.0, 8.0};
    data->SetRow(0, nullptr, outputs, nullptr);
    EXPECT_DOUBLE_EQ(InAt(*data, 0, 2), 2.0);
    EXPECT_DOUBLE_EQ(OutAt(*data, 0, 1), 8.0);
    TLabelList* list = nullptr;
    data->GetLabels(0, &list);
    EXPECT_EQ(list->numLabels(), 0);
    const double inputs[3] = {4.0, 5.0, 6.0};
    const TLabelList tag("tag", 2.0);
    data->SetRow(0, inputs, nullptr, &tag);
    EXPECT_DOUBLE_EQ(InAt(*data, 0, 0), 4.0);
    EXPECT_DOUBLE_EQ(OutAt(*data, 0, 0), 7.0);
    data->GetLabels(0, &list);
    ASSERT_EQ(list->numLabels(), 1);
    EXPECT_EQ(list->labels[0].name, "tag");
}

TEST(DataTest, LabelsTravelWithRowsAndAreIgnoredWithoutLabels) {
    Data data(3, 3, 2, true);
    const TLabelList lists[2] = {TLabelList("a", 1.0), TLabelList("b", 2.0)};
    const double r0[3] = {0, 1, 2};
    const double r1[3] = {10, 11, 12};
    double* inputRows[2] = {const_cast<double*>(r0), const_cast<double*>(r1)};
    data.AppendRows(inputRows, nullptr, 2, lists);
    data.AppendLabel(1, 0.5, "b");  // same name: 2.0 + 0.5
    data.AppendLabel(1, 1.0, "c");
    TLabelList* list = nullptr;
    data.MbrNdxCurrent = 0;
    data.GetNext(nullptr, nullptr, &list);  // slot 1
    ASSERT_EQ(list->numLabels(), 2);
    EXPECT_DOUBLE_EQ(list->labels[0].value, 2.5);
    EXPECT_EQ(list->labels[1].name, "c");
    data.ClearLabels(0);
    data.GetLabels(0, &list);
    EXPECT_EQ(list->numLabels(), 0);

    auto plain = MakeData(2, 1);
    plain->GetLabels(0, &list);
    EXPECT_EQ(list, nullptr);
    AppendNumbered(*plain, 1, &lists[0]);  // labels given to a plain data set are ignored
    EXPECT_EQ(plain->MbrNdxDataRows, 2);
}

TEST(DataTest, CloneIsAnIndependentCopy) {
    auto source = MakeData(3, 4, true);  // wrapped: first 1, last 0
    source->AppendLabel(2, 1.0, "x");
    const int cols[2] = {1, 1};
    source->SetInputFeatures(2, cols);
    source->MbrNdxCurrent = 2;
    std::unique_ptr<Data> copy = source->Clone();
    source->SetInputDatum(2, 1, -5.0);
    source->AppendLabel(2, 1.0, "x");
    source->SetInputFeatures(1, cols);
    AppendNumbered(*source, 9);
    EXPECT_EQ(copy->GetFirst(), 1);
    EXPECT_EQ(copy->MbrNdxLast, 0);
    EXPECT_EQ(copy->MbrNdxCurrent, 2);
    double in[2];
    TLabelList* list = nullptr;
    copy->GetNext(in, nullptr, &list);  // slot 0, row 3, selection {1, 1}
    EXPECT_EQ(Values(in, in + 2), (Values{31, 31}));
    copy->GetLabels(2, &list);
    ASSERT_EQ(list->numLabels(), 1);
    EXPECT_DOUBLE_EQ(list->labels[0].value, 1.0);
    EXPECT_DOUBLE_EQ(InAt(*copy, 2, 1), 21.0);
}

// Rows appended without values show zeros, on small blocks and on blocks large enough to come
// straight from the system; a data set without slots still exists and copies.
TEST(DataTest, RowsAppendedWithoutValuesReadAsZeros) {
    for (int capacity : {0, 1, 7, 200000}) {
        SCOPED_TRACE(capacity);
        Data data(capacity, 3, 2, false);
        for (int k = 0; k < capacity; ++k)
            data.AppendRow(nullptr, nullptr, nullptr);
        int nonZero = 0;
        for (int row = 0; row < capacity; ++row) {
            for (int col = 0; col < 3; ++col)
                nonZero += InAt(data, row, col) != 0.0;
            for (int col = 0; col < 2; ++col)
                nonZero += OutAt(data, row, col) != 0.0;
        }
        EXPECT_EQ(nonZero, 0);
        EXPECT_EQ(data.Clone()->MbrNdxDataRows, capacity);
    }
}

TEST(DataDeathTest, AppendBeyondTheSlotCountIsAnInternalFault) {
    auto data = MakeData(2, 2);
    data->MbrNdxDataRows = 3;
    EXPECT_DEATH(AppendNumbered(*data, 2), "Assertion failed: MbrNdxDataRows <= MbrNdxRows");
}

}  // namespace
}  // namespace synapsor
