#include "MLP/Train/ParameterFile.h"

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

// Reads text that must be rejected and returns the message.
std::string ErrorOf(const std::string& text) {
    ParameterFileResult r = Read(text);
    EXPECT_FALSE(r.ok());
    return r.error;
}

const char* const kComplete = "WeightFile = net.wgt\nTrainingFile = train.dat\nEpochs = 3\n";

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

TEST(ParameterFileTest, KeyGluedToSeparatorIsAnUnknownWord) {
    const TrainSettings s = Settings("WeightFile=a.wgt TrainingFile = t.dat");
    EXPECT_EQ(s.WeightFile, "");
    EXPECT_EQ(CheckSettings(s), "No weight file specified");
}

TEST(ParameterFileTest, UnknownWordsAreSkippedOneAtATime) {
    // "Verbose", "=", "yes" are skipped; "Epochs" as the value of an unknown key is a key.
    const TrainSettings s = Settings("Verbose = yes Comment = Epochs = 9");
    EXPECT_EQ(s.LngEpochs, 9);
}

TEST(ParameterFileTest, FlagsOnlySwitchOnAndLaterKeysWin) {
    TrainSettings s = Settings("Batch = TRUE Batch = false LWF = yes Epochs = 1 Epochs = 2");
    EXPECT_TRUE(s.Batch);
    EXPECT_FALSE(s.LWF);
    EXPECT_EQ(s.LngEpochs, 2);
    s = Settings("lwf : True");
    EXPECT_TRUE(s.LWF);
    EXPECT_FALSE(s.Batch);
}

TEST(ParameterFileTest, NumberFollowedByTextLeavesTheTextAsNextWord) {
    // "12abc": 12 is the value and "abc" is skipped as an unknown word.
    const TrainSettings s = Settings("Epochs = 12abc LearningRate = 0.1");
    EXPECT_EQ(s.LngEpochs, 12);
    EXPECT_EQ(s.LearningRate, 0.1f);
}

TEST(ParameterFileTest, FeaturesBeforeCountReadsNoColumns) {
    // The numbers after such a "Features" line are words in key position, skipped.
    const TrainSettings s = Settings("Features = 4 5 #Features = 0");
    EXPECT_EQ(s.MbrNdxFeatures, 0);
    EXPECT_TRUE(s.MbrDyaFeatures.empty());
}

TEST(ParameterFileTest, NewCountDiscardsTheEarlierList) {
    const TrainSettings s = Settings("#Features = 1 Features = 4 #Features = 2 Features = 5 6");
    EXPECT_EQ(s.MbrDyaFeatures, (std::vector<int32_t>{5, 6}));
    EXPECT_EQ(ErrorOf("#Features = 1 Features = 4 #Features = 2"),
              "#Features is 2 but no Features list follows");
}

TEST(ParameterFileTest, ValuesThatAreNoNumbersNameKeyAndWord) {
    EXPECT_EQ(ErrorOf("Epochs = many"), "Bad value for Epochs: expected an integer, found many");
    EXPECT_EQ(ErrorOf("Epochs = 99999999999"),
              "Bad value for Epochs: expected an integer, found 99999999999");
    EXPECT_EQ(ErrorOf("LearningRate = fast"),
              "Bad value for LearningRate: expected a number, found fast");
    EXPECT_EQ(ErrorOf("Momentum = 1e99"), "Bad value for Momentum: expected a number, found 1e99");
    EXPECT_EQ(ErrorOf("ForgettingRate = -x"),
              "Bad value for ForgettingRate: expected a number, found -x");
    EXPECT_EQ(ErrorOf("#Features = two"),
              "Bad value for #Features: expected an integer, found two");
}

TEST(ParameterFileTest, MissingValueAtEndOfFile) {
    EXPECT_EQ(ErrorOf("Epochs ="), "Missing value for Epochs at end of parameter file");
    EXPECT_EQ(ErrorOf("WeightFile"), "Missing value for WeightFile at end of parameter file");
    EXPECT_EQ(ErrorOf("Batch = "), "Missing value for Batch at end of parameter file");
    EXPECT_EQ(ErrorOf("LearningRate\n=\n"),
              "Missing value for LearningRate at end of parameter file");
}

TEST(ParameterFileTest, UnfinishedFeatureListsAreRejected) {
    EXPECT_EQ(ErrorOf("#Features = 2"), "#Features is 2 but no Features list follows");
    EXPECT_EQ(ErrorOf("#Features = 3 Features = 1 2"),
              "Features list ends after 2 of 3 column numbers");
    EXPECT_EQ(ErrorOf("#Features = 2 Features = 1 Epochs = 3"),
              "Bad value for Features: expected a column number, found Epochs");
    EXPECT_EQ(ErrorOf("#Features = -1"),
              "Bad value for #Features: expected a count of 0 or more, found -1");
    // A huge count in a short file is an unfinished list, not a huge allocation.
    EXPECT_EQ(ErrorOf("#Features = 2000000000 Features = 1"),
              "Features list ends after 1 of 2000000000 column numbers");
}

TEST(ParameterFileTest, OverLongWordsAreRejected) {
    const std::string name255(255, 'n');
    const std::string name256(256, 'n');
    EXPECT_EQ(Settings("WeightFile = " + name255).WeightFile, name255);
    EXPECT_EQ(
        ErrorOf("TrainingFile = " + name256),
        "File name for TrainingFile longer than 255 characters: " + std::string(40, 'n') + "...");
    EXPECT_EQ(ErrorOf(std::string(300, 'k') + " = 1"),
              "Parameter file word longer than 255 characters: " + std::string(40, 'k') + "...");
    EXPECT_FALSE(Settings("Batch = " + std::string(15, 'x')).Batch);
    EXPECT_EQ(ErrorOf("LWF = truetruetruetrue"),
              "Value for LWF longer than 15 characters: truetruetruetrue");
}

TEST(ParameterFileTest, ChecksRunInOrder) {
    EXPECT_EQ(CheckSettings(Settings("")), "No weight file specified");
    EXPECT_EQ(CheckSettings(Settings("WeightFile = a Epochs = 1")), "No training file specified");
    EXPECT_EQ(CheckSettings(Settings("WeightFile = a TrainingFile = b")),
              "Number of epochs not specified");
    EXPECT_EQ(CheckSettings(Settings(kComplete)), "");
    EXPECT_EQ(CheckSettings(Settings("WeightFile = a TrainingFile = b Epochs = -1")), "");
}

}  // namespace

}  // namespace synapsor
