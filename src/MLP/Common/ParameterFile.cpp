#include "MLP/Common/ParameterFile.h"

#include <algorithm>
#include <cctype>
#include <istream>
#include <iterator>
#include <locale>
#include <sstream>
#include <type_traits>
#include <variant>

#include "Common/StrCase.h"

namespace synapsor {

namespace {

// How a key's value is read.
enum class ValueKind {
    FileName,  // a word of at most kMaxParameterWord characters
    Flag,      // a word of at most kMaxFlagWord characters; "true" in any case switches on
    Number,    // read as the member's type: int32_t "an integer", float or double "a number"
    Count,     // "#Features": a count of 0 or more that starts a fresh column list
    List,      // "Features": as many column numbers as the last count
    Switch,    // "true" or "false" in any case; any other word is an error
    Choice,    // one of the key's words in any case, stored in lower case
};

using Target = std::variant<std::string TrainSettings::*, bool TrainSettings::*,
                            std::int32_t TrainSettings::*, float TrainSettings::*,
                            double TrainSettings::*, std::vector<std::int32_t> TrainSettings::*>;

struct Key {
    const char* name;
    ValueKind value;
    Target target;                  // the member the value goes to
    const char* choices = nullptr;  // Choice: the words, lower case, separated by ", "
};

// The keys, in the order they are matched. A double member makes a key that reaches its user in
// double precision (the stream's double extraction).
const Key kKeys[] = {
    {"WeightFile", ValueKind::FileName, &TrainSettings::WeightFile},
    {"DestinationFile", ValueKind::FileName, &TrainSettings::DestinationFile},
    {"TrainingFile", ValueKind::FileName, &TrainSettings::TrainingFile},
    {"Epochs", ValueKind::Number, &TrainSettings::LngEpochs},
    {"LearningRate", ValueKind::Number, &TrainSettings::LearningRate},
    {"Momentum", ValueKind::Number, &TrainSettings::Momentum},
    {"Batch", ValueKind::Flag, &TrainSettings::Batch},
    {"LWF", ValueKind::Flag, &TrainSettings::LWF},
    {"ForgettingRate", ValueKind::Number, &TrainSettings::ForgettingRate},
    {"#Features", ValueKind::Count, &TrainSettings::MbrNdxFeatures},
    {"Features", ValueKind::List, &TrainSettings::MbrDyaFeatures},
    {"Algorithm", ValueKind::Choice, &TrainSettings::Algorithm, "backprop, rprop, adam"},
    {"BatchSize", ValueKind::Number, &TrainSettings::BatchSize},
    {"Beta1", ValueKind::Number, &TrainSettings::Beta1},
    {"Beta2", ValueKind::Number, &TrainSettings::Beta2},
    {"Epsilon", ValueKind::Number, &TrainSettings::Epsilon},
    {"ValidationFile", ValueKind::FileName, &TrainSettings::ValidationFile},
    {"Patience", ValueKind::Number, &TrainSettings::Patience},
    {"KeepBest", ValueKind::Switch, &TrainSettings::KeepBest},
    {"Shuffle", ValueKind::Switch, &TrainSettings::Shuffle},
    {"Seed", ValueKind::Number, &TrainSettings::Seed},
    {"Threads", ValueKind::Number, &TrainSettings::Threads},
};

const Key* FindKey(const std::string& word) {
    for (const Key& key : kKeys) {
        if (strcasecmp(word.c_str(), key.name) == 0)
            return &key;
    }
    return nullptr;
}

std::size_t Length(const char* text) {
    return std::char_traits<char>::length(text);
}

std::string Upper(std::string_view text) {
    std::string up(text);
    for (char& c : up)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return up;
}

// At most this much of an over-long word is quoted in a message.
std::string Excerpt(const std::string& word) {
    constexpr std::size_t kShown = 40;
    return word.size() <= kShown ? word : word.substr(0, kShown) + "...";
}

std::string Quoted(const std::string& word) {
    return "\"" + Excerpt(word) + "\"";
}

// The word (upper case) shortens the key: same first character, the rest in order.
bool Abbreviates(const std::string& word, const std::string& key) {
    if (word.size() < 2 || word.size() >= key.size() || word[0] != key[0])
        return false;
    std::size_t k = 1;
    for (std::size_t i = 1; i < word.size(); ++i) {
        while (k < key.size() && key[k] != word[i])
            ++k;
        if (k == key.size())
            return false;
        ++k;
    }
    return true;
}

// The key a word starts with, directly followed by a character that cannot continue a name:
// "LearningRate=0.001" or "Epochs:30". The longest such key.
const Key* GluedKey(const std::string& word) {
    const Key* found = nullptr;
    for (const Key& key : kKeys) {
        const std::size_t n = Length(key.name);
        if (word.size() <= n || Upper(word.substr(0, n)) != Upper(key.name))
            continue;
        const auto next = static_cast<unsigned char>(word[n]);
        if (std::isalnum(next) || next == '_')
            continue;
        if (!found || n > Length(found->name))
            found = &key;
    }
    return found;
}

// A word that could be meant as a key: it has a letter in it.
bool KeyShaped(const std::string& word) {
    return std::any_of(word.begin(), word.end(),
                       [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

// Reads a number of type T from the start of text as a classic-locale stream would. used
// receives the count of characters the number took.
template <typename T>
bool ExtractNumber(const std::string& text, T& value, std::size_t& used) {
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    if (!(in >> value))
        return false;
    used = in.eof() ? text.size() : static_cast<std::size_t>(in.tellg());
    return true;
}

template <typename T>
std::string NumberText(T value) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << value;
    return out.str();
}

// Thrown inside the reader only; the walk turns it into the result's error.
struct Stop {
    ParameterError error;
};

// A place in the word list: a word, and how much of it was taken already (a separator, or a
// number that did not take the whole word).
class WordCursor {
  public:
    explicit WordCursor(const std::vector<ParameterWord>& words) : words(words) {}

    bool AtEnd() const { return index >= words.size(); }
    bool InsideWord() const { return offset > 0; }
    std::size_t Index() const { return index; }
    // What is left of the current word, with its position.
    ParameterWord Rest() const {
        const ParameterWord& w = words[index];
        return {w.text.substr(offset), w.line, w.column + static_cast<int>(offset)};
    }
    ParameterWord Take() {
        ParameterWord rest = Rest();
        ++index;
        offset = 0;
        return rest;
    }
    void Skip(std::size_t n) {
        offset += n;
        if (offset >= words[index].text.size()) {
            ++index;
            offset = 0;
        }
    }
    // The whole word after the current one, or null.
    const ParameterWord* Following() const {
        return index + 1 < words.size() ? &words[index + 1] : nullptr;
    }
    bool FirstOnItsLine() const { return index == 0 || words[index - 1].line != words[index].line; }

  private:
    const std::vector<ParameterWord>& words;
    std::size_t index = 0;
    std::size_t offset = 0;
};

class Reader {
  public:
    explicit Reader(std::string_view text) : words(SplitParameterWords(text)), cursor(words) {}

    ParameterFileResult Run() {
        try {
            ReadAll();
        } catch (const Stop& stop) {
            result.error = stop.error;
        }
        NoteCommentLines();
        std::stable_sort(result.notes.begin(), result.notes.end(),
                         [](const ParameterNote& a, const ParameterNote& b) {
                             return a.word.line != b.word.line ? a.word.line < b.word.line
                                                               : a.word.column < b.word.column;
                         });
        if (!result.ok())
            result.settings = TrainSettings();
        return std::move(result);
    }

  private:
    void ReadAll() {
        while (!cursor.AtEnd()) {
            const bool leftOver = cursor.InsideWord();
            const bool firstOnLine = !leftOver && cursor.FirstOnItsLine();
            const ParameterWord* following = cursor.Following();
            const ParameterWord word = cursor.Take();
            if (word.text.size() > kMaxParameterWord) {
                Fail(word, "Parameter file word longer than " + std::to_string(kMaxParameterWord) +
                               " characters: " + Excerpt(word.text));
            }
            if (const Key* key = FindKey(word.text)) {
                ReadKey(*key, word);
                continue;
            }
            // The rest of a number was named where the number was read.
            if (leftOver)
                continue;
            if (firstOnLine && (word.text[0] == '#' || word.text.compare(0, 2, "//") == 0))
                commentLines.push_back(word);
            NoteSkippedWord(word, following);
        }
        if (featuresPending) {
            Fail(countWord, "#Features is " + std::to_string(result.settings.MbrNdxFeatures) +
                                " but no Features list follows");
        }
    }

    void ReadKey(const Key& key, const ParameterWord& word) {
        for (const ParameterKeyUse& earlier : result.keys) {
            if (earlier.key == key.name) {
                Note(ParameterNoteKind::RepeatedKey, word,
                     Quoted(word.text) + " is given again (first on line " +
                         std::to_string(earlier.word.line) + "); the later value is used");
                break;
            }
        }
        result.keys.push_back({key.name, word, {}});
        use = &result.keys.back();
        TrainSettings& s = result.settings;
        if (!s.IsGiven(key.name))
            s.Given.push_back(key.name);
        switch (key.value) {
            case ValueKind::FileName:
                s.*std::get<std::string TrainSettings::*>(key.target) = FileName(key.name, word);
                break;
            case ValueKind::Flag:
                ReadFlag(key.name, word, s.*std::get<bool TrainSettings::*>(key.target));
                break;
            case ValueKind::Number:
                Separator(key.name, word);
                std::visit(
                    [&](auto member) {
                        using T = std::decay_t<decltype(s.*member)>;
                        if constexpr (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) {
                            s.*member = Number<T>(
                                key.name, word, std::is_integral_v<T> ? "an integer" : "a number");
                        }
                    },
                    key.target);
                break;
            case ValueKind::Count:
                ReadCount(word);
                break;
            case ValueKind::List:
                ReadFeatures(word);
                break;
            case ValueKind::Switch:
                ReadSwitch(key.name, word, s.*std::get<bool TrainSettings::*>(key.target));
                break;
            case ValueKind::Choice:
                s.*std::get<std::string TrainSettings::*>(key.target) =
                    ReadChoice(key.name, key.choices, word);
                break;
        }
    }

    void ReadCount(const ParameterWord& key) {
        Separator("#Features", key);
        const int32_t n = Number<int32_t>("#Features", key, "an integer");
        if (n < 0) {
            Fail(use->value, "Bad value for #Features: expected a count of 0 or more, found " +
                                 std::to_string(n));
        }
        // A fresh, empty list: a later "Features" line must supply all n columns.
        result.settings.MbrNdxFeatures = n;
        result.settings.MbrDyaFeatures.clear();
        featuresPending = n > 0;
        countWord = key;
    }

    void ReadFeatures(const ParameterWord& key) {
        Separator("Features", key);
        const int32_t n = result.settings.MbrNdxFeatures;
        // Grown one number at a time, so a huge count in a short file allocates nothing.
        std::vector<int32_t> columns;
        for (int32_t i = 0; i < n; ++i) {
            if (cursor.AtEnd()) {
                Fail(key, "Features list ends after " + std::to_string(i) + " of " +
                              std::to_string(n) + " column numbers");
            }
            columns.push_back(Number<int32_t>("Features", key, "a column number"));
        }
        result.settings.MbrDyaFeatures = std::move(columns);
        featuresPending = false;
    }

    // One character, whatever it is; the value may follow it in the same word.
    void Separator(const char* key, const ParameterWord& at) {
        if (cursor.AtEnd())
            Missing(key, at);
        cursor.Skip(1);
    }

    ParameterWord Word(const char* key, const ParameterWord& at) {
        if (cursor.AtEnd())
            Missing(key, at);
        use->value = cursor.Take();
        return use->value;
    }

    std::string FileName(const char* key, const ParameterWord& at) {
        Separator(key, at);
        const ParameterWord name = Word(key, at);
        if (name.text.size() > kMaxParameterWord) {
            Fail(name, std::string("File name for ") + key + " longer than " +
                           std::to_string(kMaxParameterWord) +
                           " characters: " + Excerpt(name.text));
        }
        return name.text;
    }

    // "true" or "false" in any case; anything else stops the reader.
    void ReadSwitch(const char* key, const ParameterWord& at, bool& value) {
        Separator(key, at);
        const ParameterWord word = Word(key, at);
        use->value = word;
        if (strcasecmp(word.text.c_str(), "true") == 0 ||
            strcasecmp(word.text.c_str(), "false") == 0) {
            value = strcasecmp(word.text.c_str(), "true") == 0;
            return;
        }
        Fail(word, std::string("Bad value for ") + key + ": expected true or false, found " +
                       Quoted(word.text));
    }

    // One of the words of `choices` in any case, returned in lower case.
    std::string ReadChoice(const char* key, const char* choices, const ParameterWord& at) {
        Separator(key, at);
        const ParameterWord word = Word(key, at);
        use->value = word;
        std::string lower = word.text;
        for (char& c : lower)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string_view rest(choices);
        while (!rest.empty()) {
            const std::size_t end = rest.find(", ");
            if (rest.substr(0, end) == lower)
                return lower;
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        }
        Fail(word, std::string("Bad value for ") + key + ": expected one of " + choices +
                       ", found " + Quoted(word.text));
    }

    // Switches flag on when the value word is "true" in any case; any other word leaves it.
    void ReadFlag(const char* key, const ParameterWord& at, bool& flag) {
        Separator(key, at);
        const ParameterWord word = Word(key, at);
        if (word.text.size() > kMaxFlagWord) {
            Fail(word, std::string("Value for ") + key + " longer than " +
                           std::to_string(kMaxFlagWord) + " characters: " + Excerpt(word.text));
        }
        if (strcasecmp(word.text.c_str(), "true") == 0) {
            flag = true;
            return;
        }
        Note(ParameterNoteKind::FlagNotTrue, word,
             Quoted(word.text) + " is not true: " + key + " stays " + (flag ? "on" : "off") +
                 " (only true switches it on, and nothing switches it off)");
    }

    // A number at the cursor, read as the stream's extraction reads it. What the word holds
    // beyond the number is left as the next word, and noted.
    template <typename T>
    T Number(const char* key, const ParameterWord& at, const char* expected) {
        if (cursor.AtEnd())
            Missing(key, at);
        const ParameterWord word = cursor.Rest();
        if (use->value.text.empty())
            use->value = word;
        T value{};
        std::size_t used = 0;
        if (!ExtractNumber(word.text, value, used)) {
            Fail(word, std::string("Bad value for ") + key + ": expected " + expected + ", found " +
                           Excerpt(word.text));
        }
        cursor.Skip(used);
        if (used < word.text.size()) {
            Note(ParameterNoteKind::NumberWithRest, word,
                 Quoted(word.text) + " is read as " + NumberText(value) + " for " + key +
                     "; the rest, " + Quoted(word.text.substr(used)) +
                     ", is read as a word of its own");
        }
        return value;
    }

    void NoteSkippedWord(const ParameterWord& word, const ParameterWord* following) {
        if (const Key* key = GluedKey(word.text)) {
            const std::size_t n = Length(key->name);
            std::string suggestion = std::string(key->name) + " " + word.text[n];
            if (word.text.size() > n + 1)
                suggestion += " " + word.text.substr(n + 1);
            Note(ParameterNoteKind::GluedKey, word, Skipped(word, suggestion));
        } else if (following && following->text.size() == 1 && KeyShaped(word.text)) {
            Note(ParameterNoteKind::UnknownWord, word,
                 Skipped(word, NearestParameterKey(word.text)));
        }
    }

    static std::string Skipped(const ParameterWord& word, const std::string& suggestion) {
        std::string message = Quoted(word.text) + " is not a setting and is ignored";
        if (!suggestion.empty())
            message += " (did you mean " + Excerpt(suggestion) + "?)";
        return message;
    }

    // A line whose first word is "#..." or "//..." reads as commented out, but its keys are read.
    void NoteCommentLines() {
        for (const ParameterWord& first : commentLines) {
            std::vector<std::string> names;
            for (const ParameterKeyUse& key : result.keys) {
                if (key.word.line == first.line)
                    names.push_back(key.key);
            }
            if (names.empty())
                continue;
            std::string list = names[0];
            for (std::size_t i = 1; i < names.size(); ++i)
                list += (i + 1 == names.size() ? " and " : ", ") + names[i];
            Note(ParameterNoteKind::NoComments, first,
                 "the parameter file has no comments: " +
                     std::string(names.size() == 1 ? "the key " : "the keys ") + list +
                     " on this line " + (names.size() == 1 ? "is" : "are") + " read");
        }
    }

    void Note(ParameterNoteKind kind, const ParameterWord& at, std::string message) {
        result.notes.push_back({kind, at, std::move(message)});
    }

    [[noreturn]] void Missing(const char* key, const ParameterWord& at) {
        Fail(at, std::string("Missing value for ") + key + " at end of parameter file");
    }

    [[noreturn]] void Fail(const ParameterWord& at, std::string message) {
        throw Stop{{std::move(message), at.line, at.column}};
    }

    const std::vector<ParameterWord> words;
    WordCursor cursor;
    ParameterFileResult result;
    ParameterKeyUse* use = nullptr;  // the key being read
    bool featuresPending = false;    // "#Features" n > 0 read, its "Features" list not yet
    ParameterWord countWord;         // the "#Features" that set the count
    std::vector<ParameterWord> commentLines;
};

}  // namespace

std::vector<ParameterWord> SplitParameterWords(std::string_view text) {
    const std::size_t start = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
    std::size_t i = start;
    std::vector<ParameterWord> words;
    int line = 1;
    std::size_t lineStart = start;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (std::isspace(c)) {
            if (c == '\n') {
                ++line;
                lineStart = i + 1;
            }
            ++i;
            continue;
        }
        const std::size_t begin = i;
        while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])))
            ++i;
        words.push_back({std::string(text.substr(begin, i - begin)), line,
                         static_cast<int>(begin - lineStart) + 1});
    }
    return words;
}

std::string DescribeWhere(const std::string& file, const ParameterError& error) {
    if (!error.HasPosition())
        return std::string();
    return file + ":" + std::to_string(error.line) + ":" + std::to_string(error.column) + ": " +
           error.message;
}

ParameterFileResult ReadParameterText(std::string_view text) {
    return Reader(text).Run();
}

ParameterFileResult ReadParameterFile(std::istream& in) {
    std::string text;
    bool failed = false;
    try {
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed || in.bad()) {
        ParameterFileResult result;
        result.error.message = "Read error in parameter file";
        return result;
    }
    return ReadParameterText(text);
}

bool TrainSettings::IsGiven(const char* key) const {
    return std::find(Given.begin(), Given.end(), key) != Given.end();
}

namespace {

std::string Shown(double value) {
    std::ostringstream text;
    text.imbue(std::locale::classic());
    text << value;
    return text.str();
}

}  // namespace

std::vector<SettingProblem> CheckTrainingOptions(const TrainSettings& s) {
    std::vector<SettingProblem> out;
    const auto error = [&out](const char* key, std::string message) {
        out.push_back({key, true, std::move(message)});
    };
    const auto unused = [&out, &s](const char* key, const std::string& why) {
        if (s.IsGiven(key))
            out.push_back({key, false, std::string(key) + " is not used " + why});
    };
    const std::string& algorithm = s.Algorithm;
    if (algorithm != "backprop")
        unused("Momentum", "by Algorithm " + algorithm);
    if (s.IsGiven("BatchSize")) {
        if (s.BatchSize < 1)
            error("BatchSize", "BatchSize must be 1 or more, found " + std::to_string(s.BatchSize));
        else if (s.Batch)
            error("BatchSize",
                  "Batch = true cannot be combined with BatchSize: BatchSize already "
                  "says how many rows make an update (drop one of them)");
    }
    if (s.Batch && algorithm == "rprop")
        unused("Batch",
               "by Algorithm rprop, which always updates after a whole pass or a "
               "BatchSize group");
    const auto fraction = [&](const char* key, double value) {
        if (!(value >= 0.0 && value < 1.0))
            error(key, std::string(key) + " must be at least 0 and below 1, found " + Shown(value));
    };
    if (algorithm == "adam") {
        fraction("Beta1", s.Beta1);
        fraction("Beta2", s.Beta2);
        if (!(s.Epsilon > 0.0))
            error("Epsilon", "Epsilon must be above 0, found " + Shown(s.Epsilon));
    } else {
        unused("Beta1", "by Algorithm " + algorithm + " (only by adam)");
        unused("Beta2", "by Algorithm " + algorithm + " (only by adam)");
        unused("Epsilon", "by Algorithm " + algorithm + " (only by adam)");
    }
    if (s.IsGiven("Patience")) {
        if (s.Patience < 1)
            error("Patience", "Patience must be 1 or more, found " + std::to_string(s.Patience));
        else if (s.ValidationFile.empty())
            error("Patience",
                  "Patience needs a ValidationFile: early stopping watches the "
                  "validation error");
    }
    if (s.ValidationFile.empty())
        unused("KeepBest", "without a ValidationFile");
    if (s.IsGiven("Threads")) {
        // Rprop always updates after a whole pass or a group.
        const bool batched = s.Batch || s.IsGiven("BatchSize") || algorithm == "rprop";
        if (s.Threads < 0 || s.Threads > kMaxThreads)
            error("Threads", "Threads must be 0 (one per core) to " + std::to_string(kMaxThreads) +
                                 ", found " + std::to_string(s.Threads));
        else if (!batched && s.Threads != 1)
            error("Threads",
                  "Threads needs batch training (Batch = true or BatchSize): online training "
                  "updates the weights after every row, one row after the other, on one thread");
        else if (!batched)
            unused("Threads", "by online training, which runs on one thread");
    }
    if (s.IsGiven("Seed")) {
        if (s.Seed < 0)
            error("Seed", "Seed must be 0 or more, found " + std::to_string(s.Seed));
        else if (!s.Shuffle)
            unused("Seed", "without Shuffle = true");
    }
    return out;
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

std::string NearestParameterKey(std::string_view word) {
    const std::string up = Upper(word);
    std::size_t best = 3;
    const char* name = nullptr;
    bool tied = false;
    for (const Key& key : kKeys) {
        // More than two letters longer or shorter is more than two edits; a long word is never
        // compared in full.
        const std::size_t n = Length(key.name);
        if (up.size() > n + 2 || up.size() + 2 < n)
            continue;
        const std::size_t d = EditDistance(up, Upper(key.name));
        if (d < best) {
            best = d;
            name = key.name;
            tied = false;
        } else if (d == best && name) {
            tied = true;
        }
    }
    if (name)
        return tied ? std::string() : std::string(name);
    for (const Key& key : kKeys) {
        if (!Abbreviates(up, Upper(key.name)))
            continue;
        if (name)
            return std::string();  // two keys fit: neither is named
        name = key.name;
    }
    return name ? std::string(name) : std::string();
}

}  // namespace synapsor
