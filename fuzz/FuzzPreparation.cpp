// Fuzz target: the preparation reader. Any input must end in a preparation or a ToolError naming
// the file. A preparation that was read holds finite constants, is written, read back and
// written again to the same text, and applies to a table made of its own column names (a
// number, or the first category, in each of two rows): import then ends in a ToolError or in a
// data set that reads back with the data set reader and holds only finite numbers.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "FileHandler/Filer.h"
#include "FuzzSupport.h"
#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/DataSetOutput.h"
#include "MLP/Tool/Import.h"
#include "MLP/Tool/Preparation.h"
#include "MLP/Tool/ToolSupport.h"

namespace {

using namespace synapsor;

const std::string kFile = "fuzz.prep";

std::string Text(const Preparation& prep) {
    std::ostringstream out;
    WritePreparation(out, prep);
    FUZZ_CHECK(out.good());
    return out.str();
}

// A two-row table holding the preparation's columns: "1" and "2" for a number column, the first
// category for a category column.
CsvTable TableFor(const Preparation& prep) {
    CsvTable table;
    table.file = "fuzz.csv";
    table.rows.resize(2);
    table.records = {2, 3};
    for (const PrepColumn& column : prep.columns) {
        table.names.push_back(column.name);
        for (std::size_t r = 0; r < 2; ++r) {
            table.rows[r].push_back(!column.categorical         ? std::to_string(r + 1)
                                    : column.categories.empty() ? std::string()
                                                                : column.categories.front());
        }
    }
    return table;
}

void CheckApplied(const Preparation& prep) {
    ImportOptions options;
    options.prep = &prep;
    options.prepFile = kFile;
    ImportResult result;
    try {
        result = Import(TableFor(prep), options);
    } catch (const ToolError&) {
        return;
    }
    FUZZ_CHECK(result.first != nullptr);
    std::ostringstream out;
    WriteDataSetText(out, result.first.get(), nullptr);
    const std::string path = fuzz::WriteScratchFile("applied.dat", out.str());
    FileTools tools;
    std::unique_ptr<Data> back, second;
    try {
        FUZZ_CHECK(tools.ReadDataSetFile(path.c_str(), back, second) == FileTools::SUCCESS);
    } catch (const FileTools::Error& e) {
        std::fprintf(stderr, "data set of an applied preparation not readable: %s\n",
                     e.message.c_str());
        FUZZ_CHECK(!"the data set reader accepts what import writes");
    }
    FUZZ_CHECK(back != nullptr);
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
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Preparation prep;
    try {
        std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
        prep = ReadPreparation(in, kFile);
    } catch (const ToolError& e) {
        FUZZ_CHECK(std::string(e.what()).rfind(kFile + ":", 0) == 0);
        return 0;
    }
    FUZZ_CHECK(prep.Inputs() > 0);
    for (const PrepColumn& column : prep.columns) {
        FUZZ_CHECK(std::isfinite(column.first) && std::isfinite(column.second));
        FUZZ_CHECK(!column.categorical || !column.categories.empty());
    }

    const std::string text = Text(prep);
    Preparation back;
    try {
        std::istringstream in(text);
        back = ReadPreparation(in, kFile);
    } catch (const ToolError& e) {
        std::fprintf(stderr, "written preparation not readable: %s\n%s\n", e.what(), text.c_str());
        FUZZ_CHECK(!"the preparation reader accepts what the writer emits");
    }
    FUZZ_CHECK(Text(back) == text);
    CheckApplied(prep);
    return 0;
}
