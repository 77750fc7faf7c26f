// The training settings and the parameter-file reader that fills them. The file is a sequence
// of whitespace-separated words: a key (any case), a one-character separator, a value. Unknown
// words are skipped one at a time, later keys win, flags only switch on. Numbers are read as the
// stream's numeric extraction reads them: "12abc" is 12, and "abc" is read as the next word.
// The reader never stops on its own: a bad or missing value, an unfinished "Features" list or an
// over-long word ends the reading with one error naming the key and the word and where it is.
// The same walk notes what the reader does that the writer of the file likely did not mean
// (skipped words that look like keys, numbers followed by more text, flag values other than
// true, lines that look like comments, keys given twice): the trainer prints them as warnings
// and `synapsor-tool check` as findings. Positions are 1-based lines and byte columns.
//
// The keys live in one table in ParameterFile.cpp: adding a key is one row there (name, how its
// value is read, the TrainSettings member it fills) plus the member and its use.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace synapsor {

// Longest file name and key word, and longest "Batch"/"LWF" value word, the reader accepts.
constexpr std::size_t kMaxParameterWord = 255;
constexpr std::size_t kMaxFlagWord = 15;

// The most threads a run may ask for.
constexpr int32_t kMaxThreads = 1024;

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
    // Training the way practitioners do; every one optional, none changes a run without it.
    std::string Algorithm = "backprop";  // backprop, rprop or adam, lower case once read
    int32_t BatchSize = 0;               // rows per update; 0: not given
    double Beta1 = 0.9;                  // Adam
    double Beta2 = 0.999;
    double Epsilon = 1e-8;
    std::string ValidationFile;  // rows held back: their error is printed after every epoch
    int32_t Patience = 0;        // epochs without a better validation error before stopping
    bool KeepBest = true;        // with a validation file: write the best epoch's network
    bool Shuffle = false;        // visit the rows in a new order every epoch
    int32_t Seed = -1;           // of the shuffle; -1: not given (drawn and printed)
    // Batch passes split over this many threads, in fixed chunks summed reproducibly: the same
    // bits for any count. 0: one per core; -1: not given (the plain order of one thread).
    int32_t Threads = -1;
    std::vector<std::string> Given;  // the keys the file gave, as the key table spells them

    bool IsGiven(const char* key) const;
};

// A problem with the training options' limits or combinations: an error stops the run before
// its first epoch, a warning names a key the chosen settings do not use.
struct SettingProblem {
    const char* key;  // as the key table spells it
    bool error;
    std::string message;
};

// Every problem of the options BatchSize, Algorithm, Beta1, Beta2, Epsilon, ValidationFile,
// Patience, KeepBest, Shuffle, Seed and Threads, errors and warnings in key table order.
std::vector<SettingProblem> CheckTrainingOptions(const TrainSettings& settings);

struct ParameterWord {
    std::string text;
    int line = 1;
    int column = 1;
};

// The whitespace-separated words of the text, with their positions. A UTF-8 byte-order mark at
// the start is no character to the user: it is skipped and the first word stays in column 1.
std::vector<ParameterWord> SplitParameterWords(std::string_view text);

// Why the reader stopped, and where: the word at fault, or the key whose value is missing.
// line 0: no position (the file could not be read).
struct ParameterError {
    std::string message;
    int line = 0;
    int column = 0;

    bool HasPosition() const { return line > 0; }
};

// "FILE:LINE:COLUMN: MESSAGE", the line the trainer prints after the message; empty when the
// error has no position.
std::string DescribeWhere(const std::string& file, const ParameterError& error);

enum class ParameterNoteKind {
    UnknownWord,     // a skipped word followed by a one-character word, like "LearnRate = 0.1"
    GluedKey,        // a key glued to its separator, "LearningRate=0.1"
    RepeatedKey,     // a key given again; the later value is used
    NumberWithRest,  // "1e3" for Epochs: read as 1, "e3" left as the next word
    FlagNotTrue,     // "Batch = yes": the flag is left as it was
    NoComments,      // "# Momentum = 0.9": the line looks commented out, its key is read
};

struct ParameterNote {
    ParameterNoteKind kind = ParameterNoteKind::UnknownWord;
    ParameterWord word;  // where the note belongs
    std::string message;
};

// A key the reader took, with the word holding its value (empty text when the file ends first).
struct ParameterKeyUse {
    std::string key;  // as spelled in the key table
    ParameterWord word;
    ParameterWord value;
};

struct ParameterFileResult {
    TrainSettings settings;
    ParameterError error;               // empty message when the file was read completely
    std::vector<ParameterNote> notes;   // by position; those after an error are not known
    std::vector<ParameterKeyUse> keys;  // in file order, up to an error
    bool ok() const { return error.message.empty(); }
};

ParameterFileResult ReadParameterText(std::string_view text);
// Reads the whole stream, then its text. A stream that cannot be read to its end gives the error
// "Read error in parameter file" without a position.
ParameterFileResult ReadParameterFile(std::istream& in);

// The checks made before training, in order: weight file, training file, epochs. Returns the
// first failing check's message, or the empty text. A negative number of epochs passes.
std::string CheckSettings(const TrainSettings& settings);

// The key a mistyped word most likely means: the one key within two edits (case ignored, a swap
// of neighbours is one edit), the nearest if it is the only one that near; else the one key the
// word abbreviates (its letters in order, from the key's first: "LearnRate", "LR" and "Learn"
// for LearningRate); else empty.
std::string NearestParameterKey(std::string_view word);

}  // namespace synapsor
