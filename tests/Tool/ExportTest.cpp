// export: data set files back to CSV, in the table's units with the preparation.
#include <gtest/gtest.h>

#include <sstream>

#include "FileHandler/Filer.h"
#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/DataSetOutput.h"
#include "MLP/Tool/Export.h"
#include "MLP/Tool/Import.h"
#include "MLP/Tool/ToolSupport.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

// Wine-like magnitudes: the scaled values pass through a data set file (15 digits) and back.
const char kTable[] =
    "alcohol,magnesium,proline,class\n"
    "14.23,127,1065,class_0\n"
    "12.37,94,520,class_1\n"
    "13.17,101,725,class_2\n"
    "11.03,70,278,class_1\n"
    "14.83,162,1680,class_0\n";

TEST(Export, BackToTheTableUnitsAndClassNames) {
    for (const ColumnScale scale : {ColumnScale::MinMax, ColumnScale::ZScore}) {
        SCOPED_TRACE(ScaleName(scale));
        const CsvTable table = ParseCsv(kTable, "w.csv", CsvOptions{});
        ImportOptions o;
        o.classes = "class";
        o.scale = scale;
        ImportResult r = Import(table, o);
        test::TempDir dir;
        const std::string file = dir.File("w.dat");
        std::ostringstream console;
        WriteDataSetOutput(file, r.first.get(), nullptr, console);
        FileTools tools;
        std::unique_ptr<Data> first, second;
        ASSERT_EQ(tools.ReadDataSetFile(file.c_str(), first, second), FileTools::SUCCESS);

        std::ostringstream csv;
        ExportCsv(csv, first.get(), nullptr, &r.prep, file);
        const CsvTable back = ParseCsv(csv.str(), "back.csv", CsvOptions{});
        EXPECT_EQ(back.names, table.names);
        ASSERT_EQ(back.rows.size(), table.rows.size());
        for (std::size_t i = 0; i < table.rows.size(); ++i) {
            for (std::size_t c = 0; c < 3; ++c) {
                EXPECT_NEAR(*ParseCell(back.rows[i][c]), *ParseCell(table.rows[i][c]), 1e-12);
                // The noise of the stored digits is rounded away: the table's own text.
                EXPECT_EQ(back.rows[i][c], table.rows[i][c]);
            }
            EXPECT_EQ(back.rows[i][3], table.rows[i][3]);
        }
    }
}

TEST(Export, RecallResultsWithAndWithoutPreparation) {
    Preparation prep;
    PrepColumn x;
    x.name = "x";
    prep.columns.push_back(x);  // unscaled input
    PrepColumn y;
    y.name = "y";
    y.role = ColumnRole::Target;
    y.scale = ColumnScale::MinMax;
    y.first = 10;
    y.second = 20;
    prep.columns.push_back(y);
    PrepColumn k;
    k.name = "k";
    k.role = ColumnRole::Target;
    k.categorical = true;
    k.categories = {"no", "yes"};
    prep.columns.push_back(k);

    Data first(1, 1, 3, false), second(1, 3, 3, false);
    const double in[] = {4}, target[] = {0.5, 1, 0}, generated[] = {0.6, 0.2, 0.7},
                 errors[] = {0.1, -0.8, 0.7};
    first.AppendRow(in, target, nullptr);
    second.AppendRow(generated, errors, nullptr);

    std::ostringstream with;
    ExportCsv(with, &first, &second, &prep, "r.dat");
    // y: 0.5 -> 15, 0.6 -> 16, error 0.1 -> 1 (up to rounding); k: largest value names the class
    const CsvTable t = ParseCsv(with.str(), "o.csv", CsvOptions{});
    EXPECT_EQ(t.names,
              (std::vector<std::string>{"x", "y", "k", "y_predicted", "k_predicted", "y_error"}));
    EXPECT_EQ(t.rows[0][0], "4");
    EXPECT_EQ(t.rows[0][1], "15");
    EXPECT_EQ(t.rows[0][2], "no");
    EXPECT_NEAR(*ParseCell(t.rows[0][3]), 16.0, 1e-12);
    EXPECT_EQ(t.rows[0][4], "yes");
    EXPECT_NEAR(*ParseCell(t.rows[0][5]), 1.0, 1e-12);

    // With scores the predicted class is followed by the output for each of k's classes; the
    // number column y gets none.
    std::ostringstream scored;
    ExportCsv(scored, &first, &second, &prep, "r.dat", true);
    const CsvTable s = ParseCsv(scored.str(), "s.csv", CsvOptions{});
    EXPECT_EQ(s.names, (std::vector<std::string>{"x", "y", "k", "y_predicted", "k_predicted",
                                                 "k_score_no", "k_score_yes", "y_error"}));
    EXPECT_EQ(std::vector<std::string>(s.rows[0].begin() + 4, s.rows[0].end() - 1),
              (std::vector<std::string>{"yes", "0.2", "0.7"}));

    std::ostringstream plain;
    ExportCsv(plain, &first, &second, nullptr, "r.dat");
    EXPECT_EQ(plain.str(),
              "input1,target1,target2,target3,output1,output2,output3,error1,error2,error3\n"
              "4,0.5,1,0,0.6,0.2,0.7,0.1,-0.8,0.7\n");

    Data wide(1, 2, 0, false);
    const double two[] = {1, 2};
    wide.AppendRow(two, nullptr, nullptr);
    std::ostringstream ignored;
    try {
        ExportCsv(ignored, &wide, nullptr, &prep, "r.dat");
        ADD_FAILURE() << "no error";
    } catch (const ToolError& e) {
        EXPECT_STREQ(e.what(), "r.dat has 2 input values per row, but the preparation describes 1");
    }
}

TEST(Export, LabelsComeBackAsText) {
    const CsvTable table = ParseCsv("id,x\n\"Smith, J.\",1\n,2\n", "t.csv", CsvOptions{});
    ImportOptions o;
    o.label = "id";
    o.scale = ColumnScale::None;
    const ImportResult r = Import(table, o);
    std::ostringstream csv;
    ExportCsv(csv, r.first.get(), nullptr, &r.prep, "t.dat");
    EXPECT_EQ(csv.str(), "label,x\n\"Smith, J.\",1\n,2\n");
}

}  // namespace
}  // namespace synapsor
