// Settings the reader produces. Its messages are checked end to end in tests/cli/StartUpTest.cpp;
// the ones here follow paths those runs do not take.
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
    EXPECT_TRUE(r.ok()) << r.error;
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
        EXPECT_EQ(r.error, c.error);
    }
}

}  // namespace

}  // namespace synapsor
