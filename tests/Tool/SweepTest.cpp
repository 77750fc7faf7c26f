// synapsor-tool sweep's parts: the sweep file's messages, the order of the settings, the folds
// and the order of the table.
#include <algorithm>
#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "MLP/Tool/Sweep.h"
#include "MLP/Tool/SweepSetup.h"

namespace synapsor {
namespace {

std::string SetupError(const std::string& text) {
    try {
        ParseSweepSetup(text, "s.sweep");
    } catch (const SweepError& e) {
        return e.what();
    }
    return "(accepted)";
}

TEST(SweepSetup, BadFilesAreRefusedWithThePlace) {
    const std::string v = "ValidationFile = v.dat\n";
    struct Case {
        std::string text;
        std::string message;
    } cases[] = {
        {v + "LearnRate = 0.1 0.3\n",
         "s.sweep:2:1: unknown key \"LearnRate\"; did you mean LearningRate?"},
        {v + "Colour = red\n", "s.sweep:2:1: unknown key \"Colour\""},
        {v + "LearningRate = 0.1 fast\n",
         "s.sweep:2:20: Bad value for LearningRate: expected a number, found fast"},
        {v + "Epochs = 100 1e3\n",
         "s.sweep:2:14: \"1e3\" is read as 1 for Epochs; the rest, \"e3\", is read as a word of "
         "its own"},
        {v + "Batch = true yes\n",
         "s.sweep:2:14: \"yes\" is not true: Batch stays off (only true switches it on, and "
         "nothing switches it off)"},
        {v + "Momentum 0.5\n", "s.sweep:2:10: expected \"Momentum = VALUE\""},
        {v + "Momentum =\n", "s.sweep:2:1: Momentum has no value"},
        {v + "Momentum = 0.1\nmomentum = 0.2\n",
         "s.sweep:3:1: momentum is given twice (first on line 2)"},
        {v + "#Features = 1 2\nFeatures = 0\n",
         "s.sweep:2:15: #Features takes one value in a sweep"},
        {v + "TrainingFile = a.dat b.dat\n",
         "s.sweep:2:22: TrainingFile takes one value in a sweep"},
        {"Folds = 1\n", "s.sweep:1:9: Folds \"1\": give a whole number from 2 to 1000"},
        {"Folds = 5x\n", "s.sweep:1:9: Folds \"5x\": give a whole number from 2 to 1000"},
        {v + "Folds = 5\n", "s.sweep:2:9: give either Folds or ValidationFile, not both"},
        {"Epochs = 10\n", "s.sweep: give ValidationFile = FILE or Folds = K to score the runs"},
        {v + "Hidden = 16 0,3\n",
         "s.sweep:2:13: Hidden \"0,3\": give the neurons of each hidden layer, as in 64,32"},
        {v + "Hidden = 4\nSeeds = 1 -2\n",
         "s.sweep:3:11: Seeds \"-2\": give a whole number from 0 to 18446744073709551615"},
        {v + "Seeds = 1 2\n",
         "s.sweep:2:1: Seeds needs Hidden: the networks are made from the seeds"},
        {v + "Parameters = /nonexistent/base.par\n",
         "s.sweep:2:14: Cannot open parameter file /nonexistent/base.par"},
    };
    for (const Case& c : cases) {
        const std::string got = SetupError(c.text);
        EXPECT_EQ(got, c.message) << c.text;
    }
}

TEST(SweepSetup, SettingsVaryTheFirstKeySlowestAndReadAsTheTrainerReadsThem) {
    const SweepSetup setup = ParseSweepSetup(
        "# the grid\nValidationFile = v.dat   # scored here\nlearningrate=0.1 0.3\n"
        "Momentum = 0 0.9\nEpochs = 7\nHidden = 2 3,2\nSeeds = 4 5\n",
        "s.sweep");
    const std::vector<SweepSetting> settings = ExpandSettings(setup);
    ASSERT_EQ(settings.size(), 8u);
    EXPECT_EQ(setup.seeds, (std::vector<std::uint64_t>{4, 5}));
    EXPECT_EQ(setup.hiddenSizes[1], (std::vector<int>{3, 2}));
    struct Expected {
        float rate, momentum;
        const char* hidden;
    } expected[] = {{0.1f, 0.0f, "2"}, {0.1f, 0.0f, "3,2"}, {0.1f, 0.9f, "2"}, {0.1f, 0.9f, "3,2"},
                    {0.3f, 0.0f, "2"}, {0.3f, 0.0f, "3,2"}, {0.3f, 0.9f, "2"}, {0.3f, 0.9f, "3,2"}};
    for (std::size_t k = 0; k < settings.size(); ++k) {
        const TrainSettings values = SettingValues(setup, settings[k]);
        EXPECT_EQ(values.LearningRate, expected[k].rate) << k;
        EXPECT_EQ(values.Momentum, expected[k].momentum) << k;
        EXPECT_EQ(values.LngEpochs, 7) << k;
        const auto swept = SweptValues(setup, settings[k]);
        ASSERT_EQ(swept.size(), 3u);
        EXPECT_EQ(swept[0].first, "LearningRate");  // the key table's spelling
        EXPECT_EQ(swept[2], std::make_pair(std::string("Hidden"), std::string(expected[k].hidden)));
    }
}

TEST(SweepFolds, PartitionTheRowsAndKeepClassSharesWithinOneRow) {
    struct Case {
        int rows, classes, k;
        std::uint64_t seed;
    } cases[] = {{150, 3, 5, 1}, {150, 3, 7, 2}, {23, 2, 4, 3}, {10, 0, 10, 4},
                 {97, 0, 3, 5},  {40, 6, 3, 6},  {5, 5, 2, 7}};
    for (const Case& c : cases) {
        std::vector<int> classes;
        for (int i = 0; c.classes > 0 && i < c.rows; ++i)
            classes.push_back((i * i + 3 * i) % c.classes);  // uneven class sizes
        const std::vector<int> fold = MakeFolds(c.rows, classes, c.k, c.seed);
        ASSERT_EQ(fold.size(), static_cast<std::size_t>(c.rows));
        std::vector<int> size(static_cast<std::size_t>(c.k), 0);
        for (int f : fold) {
            ASSERT_GE(f, 0);
            ASSERT_LT(f, c.k);
            size[f] += 1;
        }
        EXPECT_LE(*std::max_element(size.begin(), size.end()) -
                      *std::min_element(size.begin(), size.end()),
                  1)
            << c.rows << " rows, " << c.k << " folds";
        for (int cls = 0; cls < c.classes; ++cls) {
            std::vector<int> share(static_cast<std::size_t>(c.k), 0);
            for (int i = 0; i < c.rows; ++i)
                share[fold[i]] += classes[i] == cls ? 1 : 0;
            EXPECT_LE(*std::max_element(share.begin(), share.end()) -
                          *std::min_element(share.begin(), share.end()),
                      1)
                << "class " << cls << " of " << c.rows << " rows, " << c.k << " folds";
        }
        EXPECT_EQ(MakeFolds(c.rows, classes, c.k, c.seed), fold);
    }
    EXPECT_NE(MakeFolds(150, {}, 5, 1), MakeFolds(150, {}, 5, 2));
}

TEST(SweepTable, SortsByScoreWithTiesInSettingOrderAndFailuresLast) {
    SweepPlan plan;
    plan.setup = ParseSweepSetup("ValidationFile = v.dat\nLearningRate = 1 2 3 4 5\nEpochs = 3\n",
                                 "s.sweep");
    plan.settings = ExpandSettings(plan.setup);
    for (const SweepSetting& s : plan.settings) {
        plan.values.push_back(SettingValues(plan.setup, s));
        plan.runs.push_back({static_cast<int>(plan.values.size()) - 1, 0, 0});
        plan.runs.push_back({static_cast<int>(plan.values.size()) - 1, 0, 1});
    }
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Two runs per setting: means 0.5, 0.8, failed, 0.8, 0.6.
    const double scores[] = {0.4, 0.6, 0.8, 0.8, 0.9, nan, 0.7, 0.9, 0.6, 0.6};
    std::vector<SweepResult> results;
    for (double s : scores) {
        SweepResult r;
        r.finished = true;
        r.score = s;
        r.failure = std::isnan(s) ? "diverged" : "";
        results.push_back(r);
    }
    struct Case {
        bool classification;
        std::vector<int> order;
    } cases[] = {{true, {1, 3, 4, 0, 2}}, {false, {0, 4, 1, 3, 2}}};
    for (const Case& c : cases) {
        plan.classification = c.classification;
        const std::vector<SweepRow> rows = Summarize(plan, results);
        std::vector<int> order;
        for (const SweepRow& row : rows)
            order.push_back(row.setting);
        EXPECT_EQ(order, c.order);
    }
    const std::vector<SweepRow> rows = Summarize(plan, results);
    EXPECT_DOUBLE_EQ(rows[0].mean, 0.5);
    EXPECT_NEAR(rows[0].spread, std::sqrt(0.02), 1e-15);
    EXPECT_EQ(rows[4].failed, 1);
    EXPECT_EQ(rows[0].epochs, 3);

    results[9].finished = false;  // an interrupted sweep: the setting's mean is over one run
    const std::vector<SweepRow> partial = Summarize(plan, results);
    EXPECT_EQ(partial[1].setting, 4);
    EXPECT_EQ(partial[1].finished, 1);
    EXPECT_EQ(partial[1].spread, 0.0);
}

}  // namespace
}  // namespace synapsor
