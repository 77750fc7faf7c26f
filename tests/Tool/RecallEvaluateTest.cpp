// synapsor-tool recall and evaluate on small data sets whose figures are worked out by hand.
#include <cmath>
#include <sstream>

#include <gtest/gtest.h>

#include "FileHandler/Filer.h"
#include "MLP/Tool/Create.h"
#include "MLP/Tool/CsvWriter.h"
#include "MLP/Tool/Evaluate.h"
#include "MLP/Tool/Recall.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

using Rows = std::vector<std::vector<double>>;

// A data set of the given rows; targets may be empty (no expected outputs). capacity below the
// row count makes the ring wrap, so the oldest row no longer sits in slot 0.
std::unique_ptr<Data> MakeData(const Rows& inputs, const Rows& targets, int capacity = 0) {
    const int rows = static_cast<int>(inputs.size());
    const int outputs = targets.empty() ? 0 : static_cast<int>(targets[0].size());
    auto data = std::make_unique<Data>(capacity > 0 ? capacity : rows,
                                       static_cast<int>(inputs[0].size()), outputs, false);
    for (int i = 0; i < rows; ++i)
        data->AppendRow(inputs[i].data(), outputs > 0 ? targets[i].data() : nullptr, nullptr);
    return data;
}

RecallTable Table(const Rows& outputs) {
    RecallTable t;
    t.rows = static_cast<int>(outputs.size());
    t.outputs = static_cast<int>(outputs[0].size());
    for (const auto& row : outputs)
        t.values.insert(t.values.end(), row.begin(), row.end());
    return t;
}

// Only the targets matter to EvaluateOutputs; the inputs are one dummy column.
Evaluation EvaluateTargets(const Rows& targets, const Rows& outputs) {
    const Rows inputs(targets.size(), std::vector<double>{0.0});
    return EvaluateOutputs(*MakeData(inputs, targets), Table(outputs));
}

std::unique_ptr<TBasicNetwork> SmallNetwork(int inputs, int outputs) {
    CreateOptions options;
    options.layers = {inputs, 3, outputs};
    options.hidden = "tanh";
    return BuildNetwork(options, 11);
}

TEST(Recall, OutputsAreTheNetworksRecallOfEachRowOldestFirst) {
    std::unique_ptr<TBasicNetwork> net = SmallNetwork(2, 2);
    const Rows inputs = {{0.1, 0.2}, {0.3, -0.4}, {0.5, 0.6}, {-0.7, 0.8}};
    // Four rows in three slots: the first is overwritten, the oldest held row is in slot 1.
    const std::unique_ptr<Data> data = MakeData(inputs, {}, 3);
    const RecallTable table = RecallRows(*net, *data);
    ASSERT_EQ(table.rows, 3);
    ASSERT_EQ(table.outputs, 2);
    for (int i = 0; i < 3; ++i) {
        double expected[2];
        net->Recall(inputs[i + 1].data(), expected);
        EXPECT_EQ(table.Row(i)[0], expected[0]) << "row " << i;
        EXPECT_EQ(table.Row(i)[1], expected[1]) << "row " << i;
    }
}

// The second data set holds output and error (output - target) per row; without targets, the
// outputs only. The file reads back whole with the data set reader.
TEST(Recall, DataSetFileReadsBackWithOutputsAndErrors) {
    test::TempDir dir;
    for (const Rows& targets : {Rows{{1}, {0}}, Rows{}}) {
        std::unique_ptr<Data> data = MakeData({{1, 2}, {3, 4}}, targets);
        std::ostringstream text;
        WriteRecallDataSet(text, *data, Table({{0.75}, {0.25}}));
        FileTools tools;
        std::unique_ptr<Data> first, second;
        ASSERT_EQ(
            tools.ReadDataSetFile(dir.WriteFile("out.dat", text.str()).c_str(), first, second),
            FileTools::SUCCESS);
        ASSERT_TRUE(first && second);
        ASSERT_EQ(second->MbrNdxOutputs, targets.empty() ? 0 : 1);
        double in = 0.0, out = 0.0, error = 0.0;
        first->GetInputDatum(1, 1, in);
        second->GetInputDatum(1, 0, out);
        EXPECT_EQ(in, 4.0);
        EXPECT_EQ(out, 0.25);
        if (!targets.empty()) {
            second->GetOutputDatum(0, 0, error);
            EXPECT_EQ(error, -0.25);  // 0.75 - 1
        }
    }
}

TEST(Recall, CsvHasHeaderOutputsAndTheLargestOutputsIndex) {
    struct Case {
        Rows outputs;
        const char* csv;
    } cases[] = {
        {{{0.1, 0.7, 0.2}, {0.5, 0.5, 0.25}},
         "row,output_0,output_1,output_2,argmax\n1,0.1,0.7,0.2,1\n2,0.5,0.5,0.25,0\n"},
        {{{0.125}}, "row,output_0\n1,0.125\n"},
    };
    for (const Case& c : cases) {
        std::ostringstream out;
        WriteRecallCsv(out, Table(c.outputs));
        EXPECT_EQ(out.str(), c.csv);
    }
}

TEST(CsvWriter, QuotesFieldsThatWouldBreakTheRow) {
    std::ostringstream out;
    CsvWriter csv(out);
    for (const char* text : {"plain", "a,b", "say \"hi\"", "two\nlines"})
        csv.Field(text);
    csv.EndRow();
    EXPECT_EQ(out.str(), "plain,\"a,b\",\"say \"\"hi\"\"\",\"two\nlines\"\n");
}

TEST(Evaluate, OneHotWithAClassNeverPredicted) {
    // Every row is predicted as class 0.
    const Evaluation e =
        EvaluateTargets({{1, 0}, {0, 1}, {0, 1}}, {{0.8, 0.3}, {0.6, 0.4}, {0.9, 0.2}});
    EXPECT_EQ(e.rows, 3);
    // squared errors 0.04 + 0.09 + 0.36 + 0.36 + 0.81 + 0.64 = 2.30 over 6 outputs
    EXPECT_NEAR(e.mse, 2.30 / 6, 1e-12);
    EXPECT_NEAR(e.rms, std::sqrt(2.30 / 6), 1e-12);
    EXPECT_NEAR(e.mae, 3.4 / 6, 1e-12);  // 0.2 + 0.3 + 0.6 + 0.6 + 0.9 + 0.8
    ASSERT_TRUE(e.classification);
    EXPECT_EQ(e.classes, 2);
    EXPECT_EQ(e.confusion, (std::vector<std::vector<int>>{{1, 0}, {2, 0}}));
    EXPECT_DOUBLE_EQ(e.accuracy, 1.0 / 3);
    EXPECT_DOUBLE_EQ(e.perClass[0].precision, 1.0 / 3);
    EXPECT_DOUBLE_EQ(e.perClass[0].recall, 1.0);
    EXPECT_DOUBLE_EQ(e.perClass[0].f1, 0.5);  // 2 * 1/3 * 1 / (4/3)
    EXPECT_EQ(e.perClass[0].support, 1);
    EXPECT_EQ(e.perClass[1].precision, 0.0);
    EXPECT_EQ(e.perClass[1].recall, 0.0);
    EXPECT_EQ(e.perClass[1].f1, 0.0);
    EXPECT_EQ(e.perClass[1].support, 2);
}

TEST(Evaluate, SingleSigmoidOutputUsesThresholdHalf) {
    // predicted 0, 0, 1 (0.5 counts as 1), 1
    const Evaluation e = EvaluateTargets({{0}, {1}, {1}, {0}}, {{0.2}, {0.4}, {0.5}, {0.6}});
    ASSERT_TRUE(e.classification);
    EXPECT_EQ(e.confusion, (std::vector<std::vector<int>>{{1, 1}, {1, 1}}));
    EXPECT_DOUBLE_EQ(e.accuracy, 0.5);
    EXPECT_DOUBLE_EQ(e.perClass[1].precision, 0.5);
    EXPECT_DOUBLE_EQ(e.perClass[1].recall, 0.5);
    EXPECT_NEAR(e.mae, (0.2 + 0.6 + 0.5 + 0.6) / 4, 1e-12);
}

TEST(Evaluate, OneRow) {
    const Evaluation e = EvaluateTargets({{1}}, {{0.7}});
    EXPECT_EQ(e.rows, 1);
    EXPECT_NEAR(e.rms, 0.3, 1e-12);
    EXPECT_NEAR(e.mse, 0.09, 1e-12);
    ASSERT_TRUE(e.classification);
    EXPECT_EQ(e.confusion, (std::vector<std::vector<int>>{{0, 0}, {0, 1}}));
    EXPECT_EQ(e.accuracy, 1.0);
    EXPECT_EQ(e.perClass[0].support, 0);
    EXPECT_EQ(e.perClass[0].recall, 0.0);
}

TEST(Evaluate, WhichTargetsMarkClasses) {
    struct Case {
        const char* what;
        Rows targets;
        std::vector<int> classes;
    } cases[] = {
        {"one-hot", {{0, 0, 1}, {1, 0, 0}}, {2, 0}},
        {"0.9/0.1", {{0.1, 0.9, 0.1}, {0.1, 0.1, 0.9}}, {1, 2}},
        {"one class only", {{0, 1}, {0, 1}}, {1, 1}},
        {"single 0/1 output", {{1}, {0}, {1}}, {1, 0, 1}},
        {"regression outputs", {{0.3, 0.7}, {0.6, 0.4}}, {}},
        {"two high targets in a row", {{1, 1, 0}, {0, 0, 1}}, {}},
        {"no high target in a row", {{0, 0}, {1, 0}}, {}},
        {"single 0.9/0.1 output", {{0.9}, {0.1}}, {}},
        {"all targets equal", {{0, 0}, {0, 0}}, {}},
    };
    for (const Case& c : cases) {
        const Rows inputs(c.targets.size(), std::vector<double>{0.0});
        EXPECT_EQ(TargetClasses(*MakeData(inputs, c.targets)), c.classes) << c.what;
    }
}

TEST(Evaluate, JsonKeysAndRegressionWithoutClassFigures) {
    const Evaluation classes = EvaluateTargets({{1, 0}, {0, 1}}, {{0.9, 0.2}, {0.3, 0.6}});
    const nlohmann::ordered_json j = EvaluationJson(classes);
    EXPECT_EQ(j["rows"], 2);
    EXPECT_EQ(j["accuracy"], 1.0);
    EXPECT_EQ(j["classes"], 2);
    EXPECT_EQ(j["confusion"].dump(), "[[1,0],[0,1]]");
    EXPECT_EQ(j["per_class"][1]["class"], 1);
    EXPECT_EQ(j["per_class"][1]["support"], 1);
    EXPECT_EQ(j["per_class"][1]["f1"], 1.0);
    EXPECT_DOUBLE_EQ(j["rms"].get<double>(), classes.rms);

    const nlohmann::ordered_json r =
        EvaluationJson(EvaluateTargets({{0.3, 0.7}, {0.6, 0.4}}, {{0.3, 0.5}, {0.6, 0.4}}));
    EXPECT_NEAR(r["mse"].get<double>(), 0.01, 1e-12);  // 0.2^2 over 4 outputs
    EXPECT_FALSE(r.contains("accuracy"));
    EXPECT_FALSE(r.contains("confusion"));
}

// A number target y scaled from [10, 20] and a text target k of two classes; rows of
// [y, k=no, k=yes].
Preparation TwoTargets() {
    Preparation prep;
    PrepColumn x;
    x.name = "x";
    prep.columns.push_back(x);
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
    return prep;
}

TEST(Evaluate, PerTargetColumnInTheTableUnits) {
    // y: 15, 12, 18 against 16, 10, 18 (errors 1, -2, 0); k: yes, no, no against yes, yes, no.
    const Rows targets = {{0.5, 0, 1}, {0.2, 1, 0}, {0.8, 1, 0}};
    const Rows outputs = {{0.6, 0.3, 0.8}, {0.0, 0.4, 0.6}, {0.8, 0.9, 0.1}};
    const Rows inputs(3, std::vector<double>{0.0});
    const std::unique_ptr<Data> data = MakeData(inputs, targets);
    Evaluation e = EvaluateOutputs(*data, Table(outputs));
    e.columns = EvaluateColumns(*data, Table(outputs), TwoTargets());
    ASSERT_EQ(e.columns.size(), 2u);
    const ColumnEvaluation& y = e.columns[0];
    EXPECT_NEAR(y.rms, std::sqrt(5.0 / 3), 1e-12);
    EXPECT_NEAR(y.mae, 1.0, 1e-12);
    ASSERT_TRUE(y.r2Defined);
    EXPECT_NEAR(y.r2, 1.0 - 5.0 / 18, 1e-12);  // mean 15: squares about it 0 + 9 + 9
    const ColumnEvaluation& k = e.columns[1];
    EXPECT_EQ(k.confusion, (std::vector<std::vector<int>>{{1, 1}, {0, 1}}));
    EXPECT_EQ(k.correct, 2);

    std::ostringstream text;
    PrintEvaluation(text, e);
    const std::string shown = text.str();
    EXPECT_NE(shown.find("\ntarget y\nrms       1.29099 (in the table's units)\nmae       1\n"
                         "r2        0.722222\n"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("\ntarget k\naccuracy  0.666667 (2 of 3 rows)\n\nconfusion matrix "
                         "(rows: actual class, columns: predicted class)\n"
                         "              no     yes\n"
                         "      no       1       1\n"
                         "     yes       0       1\n\n"
                         "class   precision  recall     f1         support\n"
                         "no      1          0.5        0.666667   2\n"
                         "yes     0.5        1          0.666667   1\n"),
              std::string::npos)
        << shown;
    const nlohmann::ordered_json j = EvaluationJson(e);
    EXPECT_EQ(j["targets"][0]["name"], "y");
    EXPECT_NEAR(j["targets"][0]["r2"].get<double>(), 13.0 / 18, 1e-12);
    EXPECT_EQ(j["targets"][1]["classes"].dump(), R"(["no","yes"])");
    EXPECT_EQ(j["targets"][1]["per_class"][1]["class"], "yes");
    EXPECT_EQ(j["targets"][1]["confusion"].dump(), "[[1,1],[0,1]]");
    EXPECT_FALSE(j.contains("accuracy"));

    // Targets that do not vary have no R²: said in words, null in JSON.
    const Rows same = {{0.5, 0, 1}, {0.5, 1, 0}};
    const std::unique_ptr<Data> flat = MakeData(Rows(2, {0.0}), same);
    Evaluation f = EvaluateOutputs(*flat, Table(same));
    f.columns = EvaluateColumns(*flat, Table(same), TwoTargets());
    EXPECT_FALSE(f.columns[0].r2Defined);
    std::ostringstream flatText;
    PrintEvaluation(flatText, f);
    EXPECT_NE(flatText.str().find("r2        none: the targets do not vary\n"), std::string::npos);
    EXPECT_TRUE(EvaluationJson(f)["targets"][0]["r2"].is_null());
}

// Up to the limit the matrix is printed; past it only the per-class figures, and a line says so.
TEST(Evaluate, ManyClassesLeaveOutTheConfusionMatrix) {
    for (const int classes : {kMostClassesInMatrix, kMostClassesInMatrix + 1}) {
        SCOPED_TRACE(classes);
        Rows oneHot(static_cast<std::size_t>(classes), std::vector<double>(classes, 0.0));
        for (int c = 0; c < classes; ++c)
            oneHot[c][c] = 1.0;
        const Evaluation e = EvaluateTargets(oneHot, oneHot);
        const bool matrix = classes <= kMostClassesInMatrix;
        EXPECT_EQ(e.confusion.size(), matrix ? static_cast<std::size_t>(classes) : 0u);
        ASSERT_EQ(e.perClass.size(), static_cast<std::size_t>(classes));
        EXPECT_EQ(e.perClass.back().f1, 1.0);
        EXPECT_EQ(e.correct, classes);
        std::ostringstream text;
        PrintEvaluation(text, e);
        EXPECT_EQ(text.str().find("confusion matrix left out: 51 classes (more than 50)\n") !=
                      std::string::npos,
                  !matrix);
        EXPECT_EQ(text.str().find("confusion matrix (rows") != std::string::npos, matrix);
        EXPECT_EQ(EvaluationJson(e).contains("confusion"), matrix);
        EXPECT_EQ(EvaluationJson(e)["per_class"].size(), static_cast<std::size_t>(classes));
    }
}

}  // namespace
}  // namespace synapsor
