// Fuzz target: the CSV import. The first four bytes of the input choose the options (delimiter,
// header, scaling, missing cells, shuffle and split, the target, class, label and dropped
// columns, by name or by index); the rest is the table. Any input must end in a ToolError or in
// data sets, and what import writes must be usable by the project's own readers:
// - every data set reads back with the data set reader, holds only finite numbers and is written
//   again to the same text; its text stays within a bound per value and label;
// - the preparation reads back with the preparation reader and is written again to the same
//   text; applied to the same table it gives the same data sets as the fitted one.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "FileHandler/Filer.h"
#include "FuzzSupport.h"
#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/DataSetOutput.h"
#include "MLP/Tool/Import.h"
#include "MLP/Tool/Preparation.h"
#include "MLP/Tool/ToolSupport.h"

namespace {

using namespace synapsor;

constexpr std::size_t kOptionBytes = 4;
// A value is written in at most 22 characters ("-1.23456789012345e-308") and a separator.
constexpr std::size_t kMaxValueText = 23;

// A column reference drawn from a byte: none for 0 and 0x80, otherwise a column by its header
// name or (high bit set) by its index.
std::string PickColumn(const CsvTable& table, std::uint8_t byte) {
    if ((byte & 0x7F) == 0)
        return std::string();
    const std::size_t k = static_cast<std::size_t>((byte & 0x7F) - 1) % table.names.size();
    return (byte & 0x80) != 0 ? std::to_string(k) : table.names[k];
}

ImportOptions DrawOptions(const CsvTable& table, const std::uint8_t* o) {
    ImportOptions options;
    static const ColumnScale kScales[] = {ColumnScale::None, ColumnScale::MinMax,
                                          ColumnScale::ZScore, ColumnScale::MinMax};
    options.scale = kScales[(o[0] >> 3) & 3];
    options.dropMissing = (o[0] & 0x20) != 0;
    options.shuffle = (o[0] & 0x40) != 0;
    options.seed = o[1];
    if ((o[0] & 0x80) != 0)
        options.split = (o[1] % 9 + 1) / 10.0;  // 0.1 .. 0.9
    const std::string target = PickColumn(table, o[2]);
    if (!target.empty()) {
        if ((o[1] & 1) != 0)
            options.classes = target;
        else
            options.targets.push_back(target);
    }
    options.label = PickColumn(table, o[3]);
    if ((o[1] & 2) != 0) {
        const std::string dropped = PickColumn(table, static_cast<std::uint8_t>(o[3] + o[2]));
        if (!dropped.empty())
            options.drop.push_back(dropped);
    }
    return options;
}

// The data set file text of one data set.
std::string DataSetText(Data* data) {
    std::ostringstream out;
    WriteDataSetText(out, data, nullptr);
    FUZZ_CHECK(out.good());
    return out.str();
}

// The data set's text reads back as a data set of finite numbers that is written to the same
// text; the text stays within the bound its values and labels allow.
void CheckDataSet(Data* data, std::size_t labelBytes) {
    FUZZ_CHECK(data != nullptr);
    const std::string text = DataSetText(data);
    const std::size_t values = static_cast<std::size_t>(data->MbrNdxDataRows) *
                               static_cast<std::size_t>(data->MbrNdxInputs + data->MbrNdxOutputs);
    FUZZ_CHECK(text.size() <= 1024 + values * kMaxValueText + 3 * labelBytes +
                                  16 * static_cast<std::size_t>(data->MbrNdxDataRows));

    const std::string path = fuzz::WriteScratchFile("import.dat", text);
    FileTools tools;
    std::unique_ptr<Data> back, second;
    try {
        FUZZ_CHECK(tools.ReadDataSetFile(path.c_str(), back, second) == FileTools::SUCCESS);
    } catch (const FileTools::Error& e) {
        std::fprintf(stderr, "imported data set not readable: %s\n", e.message.c_str());
        FUZZ_CHECK(!"the data set reader accepts what import writes");
    }
    FUZZ_CHECK(back != nullptr && second == nullptr);
    FUZZ_CHECK(back->MbrNdxDataRows == data->MbrNdxDataRows);
    FUZZ_CHECK(back->MbrNdxInputs == data->MbrNdxInputs);
    FUZZ_CHECK(back->MbrNdxOutputs == data->MbrNdxOutputs);
    for (int row = 0; row < back->MbrNdxDataRows; ++row) {
        double value = 0.0;
        for (int col = 0; col < back->MbrNdxInputs; ++col) {
            back->GetInputDatum(row, col, value);
            FUZZ_CHECK(std::isfinite(value));
        }
        for (int col = 0; col < back->MbrNdxOutputs; ++col) {
            back->GetOutputDatum(row, col, value);
            FUZZ_CHECK(std::isfinite(value));
        }
    }
    FUZZ_CHECK(DataSetText(back.get()) == text);
}

std::string PreparationText(const Preparation& prep) {
    std::ostringstream out;
    WritePreparation(out, prep);
    FUZZ_CHECK(out.good());
    return out.str();
}

// The preparation reads back and is written to the same text; the read one is returned.
Preparation CheckPreparation(const Preparation& prep) {
    const std::string text = PreparationText(prep);
    Preparation back;
    try {
        std::istringstream in(text);
        back = ReadPreparation(in, "import.prep");
    } catch (const ToolError& e) {
        std::fprintf(stderr, "written preparation not readable: %s\n%s\n", e.what(), text.c_str());
        FUZZ_CHECK(!"the preparation reader accepts what import writes");
    }
    FUZZ_CHECK(PreparationText(back) == text);
    return back;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kOptionBytes)
        return 0;
    const std::uint8_t* o = data;
    const std::string_view text(reinterpret_cast<const char*>(data + kOptionBytes),
                                size - kOptionBytes);
    static const char kDelimiters[] = {0, ',', ';', '\t'};
    CsvOptions csv;
    csv.delimiter = kDelimiters[o[0] & 3];
    csv.header = (o[0] & 4) == 0;
    CsvTable table;
    try {
        table = ParseCsv(text, "fuzz.csv", csv);
    } catch (const ToolError&) {
        return 0;
    }
    FUZZ_CHECK(!table.rows.empty());
    FUZZ_CHECK(table.records.size() == table.rows.size());

    const ImportOptions options = DrawOptions(table, o);
    ImportResult fitted;
    try {
        fitted = Import(table, options);
    } catch (const ToolError&) {
        return 0;
    }
    std::size_t labelBytes = 0;
    if (const std::optional<std::size_t> label =
            options.label.empty() ? std::nullopt : table.Find(options.label)) {
        for (const std::vector<std::string>& row : table.rows)
            labelBytes += row[*label].size() + 1;
    }
    CheckDataSet(fitted.first.get(), labelBytes);
    if (fitted.second)
        CheckDataSet(fitted.second.get(), labelBytes);
    const Preparation saved = CheckPreparation(fitted.prep);

    // The saved preparation, applied to the rows it was fitted on, gives the same data sets.
    ImportOptions apply = options;
    apply.prep = &saved;
    apply.prepFile = "import.prep";
    ImportResult applied;
    try {
        applied = Import(table, apply);
    } catch (const ToolError& e) {
        std::fprintf(stderr, "saved preparation refused on its own table: %s\n", e.what());
        FUZZ_CHECK(!"the saved preparation applies to the table it was fitted on");
    }
    FUZZ_CHECK(DataSetText(applied.first.get()) == DataSetText(fitted.first.get()));
    FUZZ_CHECK((applied.second == nullptr) == (fitted.second == nullptr));
    if (fitted.second)
        FUZZ_CHECK(DataSetText(applied.second.get()) == DataSetText(fitted.second.get()));
    return 0;
}
