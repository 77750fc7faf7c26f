// The training settings and the parameter-file reader that fills them. The file is a sequence
// of whitespace-separated words: a key (any case), a one-character separator, a value. Unknown
// words are skipped one at a time, later keys win, flags only switch on. The reader never stops
// on its own: a bad or missing value, an unfinished "Features" list or an over-long word is
// reported as one message naming the key and the word, which the driver prints before exit 1.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

namespace synapsor {

// Longest file name and key word, and longest "Batch"/"LWF" value word, the reader accepts.
constexpr std::size_t kMaxParameterWord = 255;
constexpr std::size_t kMaxFlagWord = 15;

struct TrainSettings {
    std::string WeightFile;                       // network to load
    std::string DestinationFile = "trained.wgt";  // network to write
    std::string TrainingFile;                     // data set
    int32_t LngEpochs = 0;
    float LearningRate = 0.5f;
    float Momentum = 0.5f;
    bool Batch = false;
    bool LWF = false;  // learning with forgetting: weight penalty on
    float ForgettingRate = 0.005f;
    int32_t MbrNdxFeatures = 0;           // number of selected input columns; 0 = all
    std::vector<int32_t> MbrDyaFeatures;  // the selected input columns, in order
};

struct ParameterFileResult {
    TrainSettings settings;
    std::string error;  // empty when the file was read completely
    bool ok() const { return error.empty(); }
};

// Reads the whole stream. Numbers are read with the stream's locale; the driver imbues the
// classic one.
ParameterFileResult ReadParameterFile(std::istream& in);

// The checks made before training, in order: weight file, training file, epochs. Returns the
// first failing check's message, or the empty text. A negative number of epochs passes.
std::string CheckSettings(const TrainSettings& settings);

}  // namespace synapsor
