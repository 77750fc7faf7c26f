#include "MLP/Common/ParameterFile.h"

#include <istream>
#include <limits>

#include "Common/StrCase.h"

namespace synapsor {

namespace {

// Thrown inside the reader only; ReadParameterFile turns it into the result's message.
struct ParameterError {
    std::string message;
};

// At most this much of an over-long word is quoted in a message.
std::string Excerpt(const std::string& word) {
    constexpr std::size_t kShown = 40;
    return word.size() <= kShown ? word : word.substr(0, kShown) + "...";
}

class Reader {
  public:
    explicit Reader(std::istream& in) : in(in) {}

    ParameterFileResult Run() {
        ParameterFileResult result;
        try {
            ReadAll();
            result.settings = settings;
        } catch (const ParameterError& e) {
            result.error = e.message;
        }
        return result;
    }

  private:
    void ReadAll() {
        SkipByteOrderMark();
        std::string word;
        while (in >> word) {
            if (word.size() > kMaxParameterWord) {
                Fail("Parameter file word longer than " + std::to_string(kMaxParameterWord) +
                     " characters: " + Excerpt(word));
            }
            ReadKey(word.c_str());
        }
        if (in.bad())
            Fail("Read error in parameter file");
        if (featuresPending) {
            Fail("#Features is " + std::to_string(settings.MbrNdxFeatures) +
                 " but no Features list follows");
        }
    }

    void ReadKey(const char* key) {
        if (strcasecmp(key, "WeightFile") == 0) {
            settings.WeightFile = FileName("WeightFile");
        } else if (strcasecmp(key, "DestinationFile") == 0) {
            settings.DestinationFile = FileName("DestinationFile");
        } else if (strcasecmp(key, "TrainingFile") == 0) {
            settings.TrainingFile = FileName("TrainingFile");
        } else if (strcasecmp(key, "Epochs") == 0) {
            Separator("Epochs");
            settings.LngEpochs = Number<int32_t>("Epochs", "an integer");
        } else if (strcasecmp(key, "LearningRate") == 0) {
            Separator("LearningRate");
            settings.LearningRate = Number<float>("LearningRate", "a number");
        } else if (strcasecmp(key, "Momentum") == 0) {
            Separator("Momentum");
            settings.Momentum = Number<float>("Momentum", "a number");
        } else if (strcasecmp(key, "Batch") == 0) {
            if (FlagWord("Batch"))
                settings.Batch = true;
        } else if (strcasecmp(key, "LWF") == 0) {
            if (FlagWord("LWF"))
                settings.LWF = true;
        } else if (strcasecmp(key, "ForgettingRate") == 0) {
            Separator("ForgettingRate");
            settings.ForgettingRate = Number<float>("ForgettingRate", "a number");
        } else if (strcasecmp(key, "#Features") == 0) {
            Separator("#Features");
            const int32_t n = Number<int32_t>("#Features", "an integer");
            if (n < 0) {
                Fail("Bad value for #Features: expected a count of 0 or more, found " +
                     std::to_string(n));
            }
            // A fresh, empty list: a later "Features" line must supply all n columns.
            settings.MbrNdxFeatures = n;
            settings.MbrDyaFeatures.clear();
            featuresPending = n > 0;
        } else if (strcasecmp(key, "Features") == 0) {
            ReadFeatures();
        }
        // Any other word is skipped; the next word is read in key position.
    }

    // Editors may save the file with a UTF-8 byte-order mark, which would otherwise be glued to
    // the first key. Bytes that only begin like one are put back.
    void SkipByteOrderMark() {
        static constexpr int kMark[] = {0xEF, 0xBB, 0xBF};
        int n = 0;
        while (n < 3 && in.peek() == kMark[n]) {
            in.get();
            ++n;
        }
        if (n < 3) {
            while (n-- > 0)
                in.unget();
        }
    }

    void ReadFeatures() {
        Separator("Features");
        const int32_t n = settings.MbrNdxFeatures;
        // Grown one number at a time, so a huge count in a short file allocates nothing.
        std::vector<int32_t> columns;
        for (int32_t i = 0; i < n; ++i) {
            if (!(in >> std::ws) || in.peek() == std::char_traits<char>::eof()) {
                Fail("Features list ends after " + std::to_string(i) + " of " + std::to_string(n) +
                     " column numbers");
            }
            columns.push_back(Number<int32_t>("Features", "a column number"));
        }
        settings.MbrDyaFeatures = std::move(columns);
        featuresPending = false;
    }

    void Separator(const char* key) {
        char sep = 0;
        if (!(in >> sep))
            Fail(std::string("Missing value for ") + key + " at end of parameter file");
    }

    std::string Word(const char* key) {
        std::string word;
        if (!(in >> word))
            Fail(std::string("Missing value for ") + key + " at end of parameter file");
        return word;
    }

    std::string FileName(const char* key) {
        Separator(key);
        std::string name = Word(key);
        if (name.size() > kMaxParameterWord) {
            Fail(std::string("File name for ") + key + " longer than " +
                 std::to_string(kMaxParameterWord) + " characters: " + Excerpt(name));
        }
        return name;
    }

    // True when the value word is "true" in any case.
    bool FlagWord(const char* key) {
        Separator(key);
        const std::string word = Word(key);
        if (word.size() > kMaxFlagWord) {
            Fail(std::string("Value for ") + key + " longer than " + std::to_string(kMaxFlagWord) +
                 " characters: " + Excerpt(word));
        }
        return strcasecmp(word.c_str(), "true") == 0;
    }

    // Reads one number with the stream's own numeric extraction ("12abc" reads 12 and leaves
    // "abc" as the next word). A word that is no number of type T, or is out of its range, is
    // reported with the word itself.
    template <typename T>
    T Number(const char* key, const char* expected) {
        in >> std::ws;
        if (in.peek() == std::char_traits<char>::eof()) {
            Fail(std::string("Missing value for ") + key + " at end of parameter file");
        }
        const std::streampos start = in.tellg();
        T value{};
        if (in >> value)
            return value;
        in.clear();
        if (start != std::streampos(-1))
            in.seekg(start);
        std::string word;
        in >> word;
        Fail(std::string("Bad value for ") + key + ": expected " + expected + ", found " +
             Excerpt(word));
    }

    [[noreturn]] void Fail(std::string message) { throw ParameterError{std::move(message)}; }

    std::istream& in;
    TrainSettings settings;
    bool featuresPending = false;  // "#Features" n > 0 read, its "Features" list not yet
};

}  // namespace

ParameterFileResult ReadParameterFile(std::istream& in) {
    return Reader(in).Run();
}

std::string CheckSettings(const TrainSettings& settings) {
    if (settings.WeightFile.empty())
        return "No weight file specified";
    if (settings.TrainingFile.empty())
        return "No training file specified";
    if (settings.LngEpochs == 0)
        return "Number of epochs not specified";
    return std::string();
}

}  // namespace synapsor
