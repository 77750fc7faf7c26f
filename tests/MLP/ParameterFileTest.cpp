// Settings, notes and errors the reader produces. Its messages are checked end to end in
// tests/cli/StartUpTest.cpp; the ones here follow paths those runs do not take, and the places.
#include "MLP/Common/ParameterFile.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace synapsor {

namespace {

ParameterFileResult Read(const std::string& text) {
    std::istringstream in(text);
    return ReadParameterFile(in);
}

// Reads text that must be accepted and returns its settings.
TrainSettings Settings(const std::string& text) {
    ParameterFileResult r = Read(text);
    EXPECT_TRUE(r.ok()) << r.error.message;
    return r.settings;
}

TEST(ParameterFileTest, EmptyFileGivesTheDefaults) {
    const TrainSettings s = Settings("");
    EXPECT_EQ(s.WeightFile, "");
    EXPECT_EQ(s.DestinationFile, "trained.wgt");
    EXPECT_EQ(s.TrainingFile, "");
    EXPECT_EQ(s.LngEpochs, 0);
    EXPECT_EQ(s.LearningRate, 0.5f);
    EXPECT_EQ(s.Momentum, 0.5f);
    EXPECT_FALSE(s.Batch);
    EXPECT_FALSE(s.LWF);
    EXPECT_EQ(s.ForgettingRate, 0.005f);
    EXPECT_EQ(s.MbrNdxFeatures, 0);
    EXPECT_TRUE(s.MbrDyaFeatures.empty());
}

TEST(ParameterFileTest, EveryKeyInAnyCaseWithAnySeparator) {
    const TrainSettings s = Settings(
        "weightfile = a.wgt DESTINATIONFILE : out.wgt\n"
        "TrainingFile =t.dat Epochs\n=\n-4 learningrate = 0.25 Momentum # 0.75\n"
        "ForgettingRate = 1e-3 #FEATURES = 3 features = 2 0 7\n");
    EXPECT_EQ(s.WeightFile, "a.wgt");
    EXPECT_EQ(s.DestinationFile, "out.wgt");
    EXPECT_EQ(s.TrainingFile, "t.dat");  // the value may follow the separator directly
    EXPECT_EQ(s.LngEpochs, -4);
    EXPECT_EQ(s.LearningRate, 0.25f);
    EXPECT_EQ(s.Momentum, 0.75f);
    EXPECT_EQ(s.ForgettingRate, 0.001f);
    EXPECT_EQ(s.MbrNdxFeatures, 3);
    EXPECT_EQ(s.MbrDyaFeatures, (std::vector<int32_t>{2, 0, 7}));
}

TEST(ParameterFileTest, UnknownWordsAndTextAfterNumbersAreSkippedOneWordAtATime) {
    // "Verbose", "=", "yes" are skipped; "Epochs" as the value of an unknown key is a key.
    EXPECT_EQ(Settings("Verbose = yes Comment = Epochs = 9").LngEpochs, 9);
    // "12abc": 12 is the value and "abc" is skipped as an unknown word.
    const TrainSettings s = Settings("Epochs = 12abc LearningRate = 0.1");
    EXPECT_EQ(s.LngEpochs, 12);
    EXPECT_EQ(s.LearningRate, 0.1f);
}

TEST(ParameterFileTest, FlagsOnlySwitchOnAndLaterKeysWin) {
    TrainSettings s = Settings("Batch = TRUE Batch = false LWF = yes Epochs = 1 Epochs = 2");
    EXPECT_TRUE(s.Batch);
    EXPECT_FALSE(s.LWF);
    EXPECT_EQ(s.LngEpochs, 2);
    s = Settings("lwf : True");
    EXPECT_TRUE(s.LWF);
    EXPECT_FALSE(s.Batch);
    EXPECT_FALSE(Settings("Batch = " + std::string(15, 'x')).Batch);  // the longest flag word
}

TEST(ParameterFileTest, FeatureListsBelongToTheLatestCount) {
    // The numbers after a "Features" line before any count are words in key position, skipped.
    TrainSettings s = Settings("Features = 4 5 #Features = 0");
    EXPECT_EQ(s.MbrNdxFeatures, 0);
    EXPECT_TRUE(s.MbrDyaFeatures.empty());
    s = Settings("#Features = 1 Features = 4 #Features = 2 Features = 5 6");
    EXPECT_EQ(s.MbrDyaFeatures, (std::vector<int32_t>{5, 6}));
}

TEST(ParameterFileTest, RefusedTextsNameTheProblem) {
    const std::string name255(255, 'n');
    EXPECT_EQ(Settings("WeightFile = " + name255).WeightFile, name255);
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        // A new count discards the list read for the earlier one.
        {"#Features = 1 Features = 4 #Features = 2", "#Features is 2 but no Features list follows"},
        // A huge count in a short file is an unfinished list, not a huge allocation.
        {"#Features = 2000000000 Features = 1",
         "Features list ends after 1 of 2000000000 column numbers"},
        // The value is missing before the separator, or after it with white space left.
        {"WeightFile", "Missing value for WeightFile at end of parameter file"},
        {"Epochs = \n", "Missing value for Epochs at end of parameter file"},
        {"Batch = ", "Missing value for Batch at end of parameter file"},
        {"TrainingFile = " + std::string(256, 'n'),
         "File name for TrainingFile longer than 255 characters: " + std::string(40, 'n') + "..."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 50));
        const ParameterFileResult r = Read(c.text);
        EXPECT_FALSE(r.ok());
        EXPECT_EQ(r.error.message, c.error);
    }
}

// Every note and the error as "LINE:COLUMN: MESSAGE" lines, in order.
std::string Placed(const std::string& text) {
    const ParameterFileResult r = ReadParameterText(text);
    std::string out;
    for (const ParameterNote& note : r.notes) {
        out += std::to_string(note.word.line) + ":" + std::to_string(note.word.column) + ": " +
               note.message + "\n";
    }
    if (!r.ok())
        out += DescribeWhere("P", r.error) + "\n";
    return out;
}

TEST(ParameterFileTest, NumbersAreReadAsTheStreamReadsThem) {
    const struct {
        std::string text;
        int32_t epochs;
        float rate;
    } cases[] = {
        {"Epochs = 1e3", 1, 0.5f},  // "e3" is a word of its own
        {"Epochs = +7 LearningRate = .25", 7, 0.25f},
        {"Epochs = 0x10", 0, 0.5f},  // decimal only: 0, then "x10"
        {"Epochs = 00012 LearningRate = 1.5.3", 12, 1.5f},
        {"LearningRate = 0,3 Epochs = 2", 2, 0.0f},
        {"LearningRate = 1e-46", 0, 0.0f},  // below the smallest float: read as 0
        {"LearningRate = 2E1x", 0, 20.0f},
        {"Epochs =-3", -3, 0.5f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const TrainSettings s = Settings(c.text);
        EXPECT_EQ(s.LngEpochs, c.epochs);
        EXPECT_EQ(s.LearningRate, c.rate);
    }
    const struct {
        std::string text;
        std::string error;
    } refused[] = {
        {"LearningRate = 1e", "Bad value for LearningRate: expected a number, found 1e"},
        {"LearningRate = .", "Bad value for LearningRate: expected a number, found ."},
        {"LearningRate = inf", "Bad value for LearningRate: expected a number, found inf"},
        {"Epochs = -2147483649", "Bad value for Epochs: expected an integer, found -2147483649"},
        {"Epochs = +", "Bad value for Epochs: expected an integer, found +"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Read(c.text).error.message, c.error);
    }
}

TEST(ParameterFileTest, ErrorsKnowWhereTheyAre) {
    const struct {
        std::string text;
        std::string placed;
    } cases[] = {
        {"WeightFile = a\n\nEpochs = many",
         "P:3:10: Bad value for Epochs: expected an integer, found many\n"},
        // After a number the rest of its word is where reading goes on.
        {"#Features = 3\n Features =1 7x",
         "2:14: \"7x\" is read as 7 for Features; the rest, \"x\", is read as a word of its own\n"
         "P:2:15: Bad value for Features: expected a column number, found x\n"},
        {"Momentum =1e99", "P:1:11: Bad value for Momentum: expected a number, found 1e99\n"},
        {"#Features = -1",
         "P:1:13: Bad value for #Features: expected a count of 0 or more, "
         "found -1\n"},
        // A missing value is placed at its key; an unfinished list at the count or the list.
        {"x\n  TrainingFile =", "P:2:3: Missing value for TrainingFile at end of parameter file\n"},
        {"#Features = 2\nEpochs = 3", "P:1:1: #Features is 2 but no Features list follows\n"},
        {"#Features = 2 Features = 1", "P:1:15: Features list ends after 1 of 2 column numbers\n"},
        {"\xEF\xBB\xBF"
         "Batch = truetruetruetrue",
         "P:1:9: Value for Batch longer than 15 characters: truetruetruetrue\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Placed(c.text), c.placed);
    }
    std::istringstream unreadable;
    unreadable.setstate(std::ios::badbit);
    const ParameterFileResult r = ReadParameterFile(unreadable);
    EXPECT_EQ(r.error.message, "Read error in parameter file");
    EXPECT_EQ(DescribeWhere("P", r.error), "");
}

TEST(ParameterFileTest, NotesSayWhatWasRead) {
    const struct {
        std::string text;
        std::string notes;
    } cases[] = {
        {"Epochs = 1e3",
         "1:10: \"1e3\" is read as 1 for Epochs; the rest, \"e3\", is read as a "
         "word of its own\n"},
        {"LearningRate = 0,3",
         "1:16: \"0,3\" is read as 0 for LearningRate; the rest, \",3\", "
         "is read as a word of its own\n"},
        // The rest is read as a key here: the note says so, and the key is taken.
        {"\n\nEpochs = 12LearningRate = 20",
         "3:10: \"12LearningRate\" is read as 12 for Epochs; the rest, \"LearningRate\", is read "
         "as a word of its own\n"},
        {"Batch = yes",
         "1:9: \"yes\" is not true: Batch stays off (only true switches it on, "
         "and nothing switches it off)\n"},
        {"LWF = true\nLWF : false",
         "2:1: \"LWF\" is given again (first on line 1); the later value is used\n"
         "2:7: \"false\" is not true: LWF stays on (only true "
         "switches it on, and nothing switches it off)\n"},
        {"Batch = True", ""},
        {"# Momentum = 0.9 was too high",
         "1:1: the parameter file has no comments: the key Momentum on this line is read\n"},
        {"//Epochs = 3 Momentum = 0.2\n",
         "1:1: \"//Epochs\" is not a setting and is ignored (did you mean Epochs?)\n"
         "1:1: the parameter file has no comments: the key Momentum on this line is read\n"},
        {"Epochs = 1 // Momentum = 0.2 LearningRate = 1\n# just words\n#Features = 0", ""},
        {"#\tEpochs = 3 Momentum = 0.2",
         "1:1: the parameter file has no comments: the keys Epochs and Momentum on this line are "
         "read\n"},
        {"LearnRate = 0.01",
         "1:1: \"LearnRate\" is not a setting and is ignored (did you mean "
         "LearningRate?)\n"},
        {"Epochs = 1\nepochs = 2",
         "2:1: \"epochs\" is given again (first on line 1); the later "
         "value is used\n"},
        {"Learningrate:0.5 Verbose = yes",
         "1:1: \"Learningrate:0.5\" is not a setting and is "
         "ignored (did you mean LearningRate : 0.5?)\n"
         "1:18: \"Verbose\" is not a setting and is ignored\n"},
        // A value is never taken for a key, and the numbers of a Features list are no words.
        {"WeightFile = Momentum #Features = 2 Features = 1 3\nX = 1",
         "2:1: \"X\" is not a setting and is ignored\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Placed(c.text), c.notes);
    }
}

TEST(ParameterFileTest, NearestKeyAndWords) {
    const struct {
        const char* word;
        const char* key;
    } cases[] = {
        {"epoch", "Epochs"},
        {"MOMETNUM", "Momentum"},  // a swap is one edit
        {"LWX", "LWF"},
        {"LearnRate", "LearningRate"},
        {"LRate", "LearningRate"},
        {"DestFile", "DestinationFile"},
        {"Forget", "ForgettingRate"},
        {"Featur", "Features"},
        {"WFile", "WeightFile"},
        {"Mo", "Momentum"},
        {"Fe", ""},  // Features and ForgettingRate both fit
        {"Verbose", ""},
        {"TFile", "TrainingFile"},
        {"lr", "LWF"},  // two edits come before an abbreviation
    };
    for (const auto& c : cases)
        EXPECT_EQ(NearestParameterKey(c.word), c.key) << c.word;
    const auto words = SplitParameterWords("\xEF\xBB\xBFWeightFile =\r\n\tx.wgt");
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(words[0].text, "WeightFile");
    EXPECT_EQ(words[0].column, 1);
    EXPECT_EQ(words[2].line, 2);
    EXPECT_EQ(words[2].column, 2);
}

// The training options: how they are read, and every limit and combination the run checks.
TEST(ParameterFileTest, TrainingOptionsAreReadAndChecked) {
    const TrainSettings s = Settings(
        "Algorithm = ADAM BatchSize = 32 Beta1 = 0.85 Beta2 = 0.9999 Epsilon = 1e-8 "
        "ValidationFile = v.dat Patience = 7 KeepBest = FALSE Shuffle = true Seed = 42");
    EXPECT_EQ(s.Algorithm, "adam");
    EXPECT_EQ(s.BatchSize, 32);
    EXPECT_EQ(s.Beta1, 0.85);
    EXPECT_EQ(s.Beta2, 0.9999);
    EXPECT_EQ(s.Epsilon, 1e-8) << "read in double precision";
    EXPECT_EQ(s.ValidationFile, "v.dat");
    EXPECT_EQ(s.Patience, 7);
    EXPECT_FALSE(s.KeepBest);
    EXPECT_TRUE(s.Shuffle);
    EXPECT_EQ(s.Seed, 42);
    EXPECT_TRUE(s.IsGiven("Beta2"));
    EXPECT_FALSE(s.IsGiven("Momentum"));

    const struct {
        std::string text;
        std::string error;
    } refused[] = {
        {"Algorithm = sgd", "Bad value for Algorithm: expected one of backprop, rprop, adam, "
                            "found \"sgd\""},
        {"Shuffle = yes", "Bad value for Shuffle: expected true or false, found \"yes\""},
        {"KeepBest = 0", "Bad value for KeepBest: expected true or false, found \"0\""},
        {"BatchSize = many", "Bad value for BatchSize: expected an integer, found many"},
    };
    for (const auto& c : refused) {
        SCOPED_TRACE(c.text);
        const ParameterFileResult r = Read(c.text);
        EXPECT_EQ(r.error.message, c.error);
    }

    // "KEY: e|w MESSAGE" per problem, in order.
    const auto problems = [](const std::string& text) {
        std::string out;
        for (const SettingProblem& p : CheckTrainingOptions(Settings(text)))
            out += std::string(p.key) + (p.error ? ": e " : ": w ") + p.message + "\n";
        return out;
    };
    const struct {
        std::string text;
        std::string problems;
    } checked[] = {
        {"", ""},
        {"Momentum = 0.9 BatchSize = 1 ValidationFile = v Patience = 1 Shuffle = true Seed = 0",
         ""},
        {"Batch = true BatchSize = 8",
         "BatchSize: e Batch = true cannot be combined with BatchSize: BatchSize already says "
         "how many rows make an update (drop one of them)\n"},
        {"BatchSize = 0", "BatchSize: e BatchSize must be 1 or more, found 0\n"},
        {"Algorithm = rprop Momentum = 0.5 Batch = true",
         "Momentum: w Momentum is not used by Algorithm rprop\n"
         "Batch: w Batch is not used by Algorithm rprop, which always updates after a whole pass "
         "or a BatchSize group\n"},
        {"Algorithm = adam Beta1 = 1 Beta2 = -0.1 Epsilon = 0",
         "Beta1: e Beta1 must be at least 0 and below 1, found 1\n"
         "Beta2: e Beta2 must be at least 0 and below 1, found -0.1\n"
         "Epsilon: e Epsilon must be above 0, found 0\n"},
        {"Beta1 = 0.5 Epsilon = 1e-9",
         "Beta1: w Beta1 is not used by Algorithm backprop (only by adam)\n"
         "Epsilon: w Epsilon is not used by Algorithm backprop (only by adam)\n"},
        {"Patience = 5",
         "Patience: e Patience needs a ValidationFile: early stopping watches the validation "
         "error\n"},
        {"ValidationFile = v Patience = 0", "Patience: e Patience must be 1 or more, found 0\n"},
        {"KeepBest = true Seed = 3",
         "KeepBest: w KeepBest is not used without a ValidationFile\n"
         "Seed: w Seed is not used without Shuffle = true\n"},
        {"Shuffle = true Seed = -2", "Seed: e Seed must be 0 or more, found -2\n"},
    };
    for (const auto& c : checked) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(problems(c.text), c.problems);
    }
}

}  // namespace

}  // namespace synapsor
