// import's refusals and warnings: values a data set cannot hold, names and words, preparation
// fields, the warnings about columns and splits; the record-by-record reader and writer against
// the whole-table path; and the command line end to end.
#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

#include "MLP/Tool/CsvTable.h"
#include "MLP/Tool/DataSetOutput.h"
#include "MLP/Tool/Import.h"
#include "MLP/Tool/Preparation.h"
#include "MLP/Tool/ToolSupport.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const ToolError& e) {
        return e.what();
    }
    return "(no error)";
}

CsvTable Table(const std::string& text) {
    return ParseCsv(text, "t.csv", CsvOptions{});
}

Preparation PrepOf(const std::string& text) {
    std::istringstream in(text);
    return ReadPreparation(in, "p.txt");
}

// A number column "a" and a number column "b", both inputs, with the given scale of "a".
std::string NumberPrep(const std::string& a) {
    return "[Preparation]\n[Column]\n[Name = a]\n[Role = input]\n[Type = number]\n" + a +
           "[~Column]\n[~Preparation]\n";
}

TEST(ImportChecks, RefusalsNameTheColumnAndRow) {
    const std::string wide(400, ',');  // 1,200 bytes once encoded
    const std::string longCell(100, 'x');
    struct Case {
        const char* what;
        std::string csv;
        std::function<void(ImportOptions&)> set;
        std::string error;
    };
    const Preparation tiny =
        PrepOf(NumberPrep("[Scale = zscore]\n[Mean = 1]\n[Deviation = 1e-320]\n"));
    const Case cases[] = {
        {"min-max range overflows", "a,b\n1.7e308,1\n-1.7e308,2\n", nullptr,
         "t.csv: column \"a\" cannot be scaled with --scale minmax: its values, from -1.7e+308 to "
         "1.7e+308, lie too far apart"},
        {"deviation overflows", "a,b\n1e308,1\n-1e308,2\n",
         [](ImportOptions& o) { o.scale = ColumnScale::ZScore; },
         "t.csv: column \"a\" cannot be scaled with --scale zscore: its values, from -1e+308 to "
         "1e+308, lie too far apart"},
        {"unscaled value rounds past the largest double", "a,b\n1.7976931348623157e308,1\n1,2\n",
         [](ImportOptions& o) { o.scale = ColumnScale::None; },
         "t.csv, row 2, column \"a\": the value 1.7976931348623157e+308 is beyond what a data set "
         "file holds (1.79769313486231e+308)"},
        {"tiny deviation of a preparation", "a,b\n1,1\n5,2\n",
         [&](ImportOptions& o) {
             o.prep = &tiny;
             o.prepFile = "p.txt";
         },
         "t.csv, row 3, column \"a\": the value 5 scales to inf, which is beyond what a data set "
         "file holds (1.79769313486231e+308)"},
        {"duplicate names", "a,b,a\n1,2,3\n", nullptr,
         "t.csv: the header names two columns \"a\" (columns 0 and 2 from 0): rename one"},
        {"empty header cell named like another column", "a,,1\n1,2,3\n", nullptr,
         "t.csv: the header names two columns \"1\" (columns 1 and 2 from 0; an empty header "
         "cell is named by its index): rename one"},
        {"category too long once encoded", "a,b\n\"" + wide + "\",1\n", nullptr,
         "t.csv, row 2, column \"a\": the category is longer than 1000 bytes as written in a data "
         "set (a byte other than a letter, digit or one of . _ - takes three)"},
        {"label too long once encoded", "id,b\n\"" + wide + "\",1\n",
         [](ImportOptions& o) { o.label = "id"; },
         "t.csv, row 2, column \"id\": the label is longer than 1000 bytes as written in a data "
         "set (a byte other than a letter, digit or one of . _ - takes three)"},
        {"name too long once encoded", "\"" + wide + "\",b\n1,2\n", nullptr,
         "t.csv: the name of column 0 is longer than 1000 bytes as written in a preparation (a "
         "byte other than a letter, digit or one of . _ - takes three)"},
        {"too many categories", "k,b\np,1\nq,2\nr,3\ns,4\n",
         [](ImportOptions& o) { o.maxCategories = 3; },
         "t.csv: column \"k\" holds more than 3 different texts (a text column gives one value "
         "per category): leave it out with --drop, or raise --max-categories"},
        {"a long cell is cut, a line end shown", "\"a\nb\",c\n1,5\n2," + longCell + "\n", nullptr,
         "t.csv, row 3, column \"c\": \"" + std::string(40, 'x') +
             "...\" is not a finite number (--missing drop drops such rows)"},
        {"targets of two texts suggest classes", "x,churned\n1,no\n2,yes\n",
         [](ImportOptions& o) { o.targets = {"churned"}; },
         "t.csv, row 2, column \"churned\": \"no\" is not a finite number (the --targets column "
         "holds no number, only \"no\" and \"yes\"; for classes give --classes churned)"},
        {"dropping every row says why", "x,churned\n1,no\n2,yes\n",
         [](ImportOptions& o) {
             o.targets = {"churned"};
             o.dropMissing = true;
         },
         "t.csv: no rows left after dropping 2 rows with missing values (the --targets column "
         "\"churned\" holds no number, only \"no\" and \"yes\"; for classes give --classes "
         "churned)"},
        {"decimal comma in a number column", "a;b\n3;1\n12,5;2\n", nullptr,
         "t.csv, row 3, column \"a\": \"12,5\" is not a finite number (numbers with a decimal "
         "comma? give --decimal-comma)"},
        {"decimal comma with the comma as delimiter", "a,b\n1,2\n",
         [](ImportOptions& o) { o.decimalComma = true; },
         "t.csv: --decimal-comma reads \",\" as the decimal point, but \",\" separates the fields "
         "(give --delimiter)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImportOptions options;
        if (c.set)
            c.set(options);
        EXPECT_EQ(ErrorOf([&] { Import(Table(c.csv), options); }), c.error);
    }
}

TEST(ImportChecks, NamesWinOverIndicesAndIndicesReachAnyColumn) {
    ImportOptions o;
    o.targets = {"1"};
    ImportResult r = Import(Table("1,x,y\n10,2,3\n20,5,6\n"), o);
    EXPECT_EQ(r.prep.columns.back().name, "1");  // the column named "1", not column 1 ("x")
    EXPECT_EQ(r.prep.columns[0].name, "x");
    // A column named "[x]" cannot pass the option parser as a name, but its index can.
    o.targets = {"0"};
    r = Import(Table("[x],y\n1,2\n3,4\n"), o);
    EXPECT_EQ(r.prep.columns.back().name, "[x]");
}

TEST(ImportChecks, WarningsOneLineEach) {
    std::string ids = "id,x\n", company = "company,x\n", quality = "x,quality\n", sorted = "x,k\n",
                rising = "x,y\n";
    for (int i = 0; i < 24; ++i) {
        ids += std::to_string(100 + i) + "," + std::to_string(i % 3) + "\n";
        company += "firm" + std::to_string(i) + "," + std::to_string(i % 2) + "\n";
        quality += std::to_string(i % 2) + "," + std::to_string(i) + "\n";
        sorted += std::to_string(i % 5) + "," + (i < 12 ? "a" : i < 18 ? "b" : "c") + "\n";
        rising += std::to_string(i % 5) + "," + std::to_string(i * i) + "\n";
    }
    struct Case {
        const char* what;
        std::string csv;
        std::function<void(ImportOptions&)> set;
        std::vector<std::string> warnings;
    };
    const Case cases[] = {
        {"decimal commas read as text",
         "a;b\n12,5;1\n3,25;2\n",
         nullptr,
         {"t.csv: column \"a\" holds numbers with a decimal comma (\"12,5\"), read as text; give "
          "--decimal-comma to read them as numbers"}},
        {"decimal commas read as numbers",
         "a;b\n12,5;1\n3,25;2\n",
         [](ImportOptions& o) { o.decimalComma = true; },
         {}},
        {"an id column",
         ids,
         nullptr,
         {"t.csv: column \"id\" holds a different whole number in every row, like an id (leave "
          "it out with --drop id)"}},
        {"free text",
         company,
         nullptr,
         {"t.csv: column \"company\" has 24 categories in 24 rows, one input each; free text or "
          "names train poorly (leave it out with --drop company)"}},
        {"numbers as classes",
         quality,
         [](ImportOptions& o) { o.classes = "quality"; },
         {"t.csv: the --classes column \"quality\" holds 24 different numbers, one output each; "
          "for a quantity give --targets quality"}},
        {"a class left out of the test rows",
         sorted,
         [](ImportOptions& o) {
             o.classes = "k";
             o.split = 0.5;
         },
         {"t.csv: the split without --shuffle leaves the class \"a\" out of the test rows; give "
          "--shuffle"}},
        {"rows in the order of the target",
         rising,
         [](ImportOptions& o) {
             o.targets = {"y"};
             o.split = 0.75;
         },
         {"t.csv: the rows are in the order of \"y\" and split without --shuffle, so the two "
          "parts differ; give --shuffle"}},
        {"shuffled: no split warning",
         rising,
         [](ImportOptions& o) {
             o.targets = {"y"};
             o.split = 0.75;
             o.shuffle = true;
             o.seed = 1;
         },
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImportOptions options;
        if (c.set)
            c.set(options);
        EXPECT_EQ(Import(Table(c.csv), options).warnings, c.warnings);
    }
}

TEST(ImportChecks, PreparationFieldsExactlyOnce) {
    const std::pair<std::string, std::string> cases[] = {
        {NumberPrep("[Scale = minmax]\n[Min = 0]\n[Min = 1]\n"),
         "p.txt: column \"a\" has [Min] twice"},
        {NumberPrep("[Scale = minmax]\n[Min = 0]\n[Max = 1]\n[Name = b]\n"),
         "p.txt: column \"a\" has [Name] twice"},
        {NumberPrep("[Min = 0]\n[Max = 1]\n"), "p.txt: column \"a\" lacks its [Scale]"},
        {NumberPrep("[Scale = zscore]\n[Min = 0]\n[Max = 1]\n"),
         "p.txt: column \"a\" lacks its scaling constants"},
        {NumberPrep("[Scale = none]\n[Mean = 0]\n"),
         "p.txt: column \"a\" of Scale none has scaling constants of another scale"},
        {NumberPrep("[Scale = minmax]\n[Min = 2]\n[Max = 1]\n"),
         "p.txt: column \"a\" has a Max below its Min"},
        {NumberPrep("[Scale = minmax]\n[Min = -1e308]\n[Max = 1e308]\n"),
         "p.txt: column \"a\" has a range from Min to Max too wide to scale"},
        {NumberPrep("[Scale = none]\n[Category = x]\n"),
         "p.txt: column \"a\" of Type number lists a Category"},
        {"[Preparation]\n[Column]\n[Name = k]\n[Type = category]\n[Category = x]\n[~Column]\n"
         "[~Preparation]\n",
         "p.txt: column \"k\" lacks its [Role]"},
        {"[Preparation]\n[Column]\n[Name = k]\n[Role = input]\n[Type = category]\n[Category = "
         "x]\n[Category = x]\n[~Column]\n[~Preparation]\n",
         "p.txt: column \"k\" lists the category \"x\" twice"},
        {"[Preparation]\n[Column]\n[Name = k]\n[Role = input]\n[Type = category]\n[Category = "
         "x]\n[Scale = none]\n[~Column]\n[~Preparation]\n",
         "p.txt: column \"k\" of Type category has a [Scale]"},
    };
    for (const auto& c : cases) {
        const std::string& text = c.first;
        EXPECT_EQ(ErrorOf([&] { PrepOf(text); }), c.second) << text;
    }
}

// The record-by-record reader gives the whole-text parse, whatever the size of the pieces.
TEST(ImportChecks, ReaderInPiecesMatchesTheWholeText) {
    const std::string texts[] = {
        "\xEF\xBB\xBF"
        "a;b\r\n\"x;\r\ny\";2\r\n\r\n3;4\r\n",
        "a\tb\n 1\t2 \n\"q\"\"t\"\t5",
        "1,2\n3,4\n",
    };
    for (const std::string& text : texts) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{2}, std::size_t{5}}) {
            CsvOptions options;
            options.header = text[0] != '1';
            const CsvTable whole = ParseCsv(text, "t.csv", options);
            CsvTable pieces;
            CsvReader reader(
                "t.csv", options, [&](const CsvTable& h) { pieces = h; },
                [&](const std::vector<std::string_view>& fields, long record) {
                    pieces.rows.emplace_back(fields.begin(), fields.end());
                    pieces.records.push_back(record);
                });
            for (std::size_t at = 0; at < text.size(); at += piece)
                reader.Feed(std::string_view(text).substr(at, piece));
            reader.Finish();
            EXPECT_EQ(pieces.names, whole.names) << text;
            EXPECT_EQ(pieces.delimiter, whole.delimiter) << text;
            EXPECT_EQ(pieces.rows, whole.rows) << text << piece;
            EXPECT_EQ(pieces.records, whole.records) << text;
        }
    }
}

// The streamed data set is the data set writer's text, and reads back with the loader.
TEST(ImportChecks, StreamedDataSetIsTheWritersTextAndReadsBack) {
    struct Case {
        const char* what;
        std::string csv;
        std::function<void(ImportOptions&)> set;
    };
    const Case cases[] = {
        {"categories and a class", "x,c,k\n1.5,p,a\n-2,q,b\n7,p,a\n",
         [](ImportOptions& o) { o.classes = "k"; }},
        {"labels", "id,x\n\"a, b\",1\nz,2\n", [](ImportOptions& o) { o.label = "id"; }},
        {"split and shuffle", "x,y\n1,2\n3,4\n5,6\n7,9\n",
         [](ImportOptions& o) {
             o.targets = {"y"};
             o.split = 0.5;
             o.shuffle = true;
             o.seed = 3;
         }},
        {"the largest value that reads back", "x\n1.79769313486231e308\n-4\n",
         [](ImportOptions& o) { o.scale = ColumnScale::None; }},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ImportOptions options;
        c.set(options);
        const CsvTable table = Table(c.csv);
        ImportedTable imported(options);
        imported.Header(table);
        for (std::size_t r = 0; r < table.rows.size(); ++r) {
            const std::vector<std::string_view> fields(table.rows[r].begin(), table.rows[r].end());
            imported.Row(fields, table.records[r]);
        }
        imported.Finish();
        for (int part = 0; part < (imported.summary.rows[1] > 0 ? 2 : 1); ++part) {
            std::ostringstream streamed, written;
            imported.WriteDataSet(streamed, part);
            std::unique_ptr<Data> data = imported.BuildData(part);
            WriteDataSetText(written, data.get(), nullptr);
            EXPECT_EQ(streamed.str(), written.str());
            dir.WriteFile("d.dat", streamed.str());
            EXPECT_EQ(LoadToolDataSet(dir.File("d.dat"))->MbrNdxDataRows,
                      imported.summary.rows[part]);
        }
    }
}

// The fast writing of values gives the standard library's 15-digit text for every kind of double:
// random bit patterns, scaled values, decimal ties, the edges of the layouts and of rounding.
TEST(ImportChecks, ValuesWrittenAsTheDataSetWriterWritesThem) {
    std::vector<double> values = {0.0,
                                  -0.0,
                                  1.0,
                                  -1.0,
                                  0.1,
                                  1e-5,
                                  1e-4,
                                  9.5e-5,
                                  1e15,
                                  1e14,
                                  1e-8,
                                  0.5,
                                  2.5,
                                  0.125,
                                  1e100,
                                  5e-324,
                                  999999999999999.5,
                                  0.9999999999999995,
                                  99999.99999999999,
                                  2.2250738585072014e-308,
                                  1.79769313486231e308,
                                  123456789012345.67,
                                  0.30000000000000004};
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 300000; ++i) {
        const std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (std::isfinite(v))
            values.push_back(v);
        values.push_back((unit(rng) * 1000 - 3) / 7);         // scaled values, 17 digits
        values.push_back(std::round(unit(rng) * 1e6) / 1e3);  // few digits
        values.push_back(std::ldexp(unit(rng), static_cast<int>(rng() % 80) - 40));
        values.push_back(std::round(unit(rng) * 1e16) / 2 / 1e15);  // ties near 15 digits
    }
    for (const double v : values) {
        char fast[40], standard[40];
        const std::string a(fast, FormatValue15(fast, v));
        const std::string b(
            standard,
            std::to_chars(standard, standard + 40, v, std::chars_format::general, 15).ptr);
        ASSERT_EQ(a, b) << std::hexfloat << v;
    }
}

TEST(ImportChecks, CommandLine) {
    test::TempDir dir;
    dir.WriteFile("t.csv", "x,y\n1,2\n3,4\n");
    dir.WriteFile("dc.csv", "a;b\n12,5;1\n3,25;2\n");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err;
    };
    const Case cases[] = {
        {{"import", "t.csv", "-o", "o.dat", "--shuffle", "--seed", "-1"},
         1,
         "synapsor-tool: --seed \"-1\": give a whole number from 0 to 18446744073709551615\n"},
        {{"import", "t.csv", "-o", "o.dat", "--shuffle", "--seed", "18446744073709551616"},
         1,
         "synapsor-tool: --seed \"18446744073709551616\": give a whole number from 0 to "
         "18446744073709551615\n"},
        {{"import", "t.csv", "-o", "o.dat", "--shuffle", "--seed", "1e23"},
         1,
         "synapsor-tool: --seed \"1e23\": give a whole number from 0 to 18446744073709551615\n"},
        {{"import", "dc.csv", "-o", "o.dat", "--decimal-comma"},
         0,
         "synapsor-tool: 2 rows to o.dat; 2 inputs, 0 outputs per row\n"},
        {{"import", "dc.csv", "-o", "o.dat"},
         0,
         "synapsor-tool: warning: dc.csv: column \"a\" holds numbers with a decimal comma "
         "(\"12,5\"), read as text; give --decimal-comma to read them as numbers\n"
         "synapsor-tool: 2 rows to o.dat; 3 inputs, 0 outputs per row\n"},
    };
    for (const Case& c : cases) {
        const test::ProgramResult r = test::RunProgram(SYNAPSOR_TOOL_EXE, c.args, dir.Path());
        EXPECT_EQ(r.status, c.status) << c.args[2];
        EXPECT_EQ(r.err, c.err);
    }
}

}  // namespace
}  // namespace synapsor
