#include "MLP/Common/ParameterLint.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "Common/StrCase.h"

namespace synapsor {

namespace {

enum class ValueKind { Word, Number, Count, List };

struct Key {
    const char* name;
    ValueKind value;
};

// The reader's keys, in its order.
constexpr Key kKeys[] = {
    {"WeightFile", ValueKind::Word},
    {"DestinationFile", ValueKind::Word},
    {"TrainingFile", ValueKind::Word},
    {"Epochs", ValueKind::Number},
    {"LearningRate", ValueKind::Number},
    {"Momentum", ValueKind::Number},
    {"Batch", ValueKind::Word},
    {"LWF", ValueKind::Word},
    {"ForgettingRate", ValueKind::Number},
    {"#Features", ValueKind::Count},
    {"Features", ValueKind::List},
};

const Key* FindKey(const std::string& word) {
    for (const Key& key : kKeys) {
        if (strcasecmp(word.c_str(), key.name) == 0)
            return &key;
    }
    return nullptr;
}

std::string Upper(std::string_view text) {
    std::string up(text);
    for (char& c : up)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return up;
}

// Edit distance with adjacent swaps counted as one edit (optimal string alignment).
std::size_t EditDistance(const std::string& a, const std::string& b) {
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i)
        d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j)
        d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[n][m];
}

// The key a word starts with, directly followed by a character that cannot continue a name:
// "LearningRate=0.001" or "Epochs:30". The longest such key.
const Key* GluedKey(const std::string& word) {
    const Key* found = nullptr;
    for (const Key& key : kKeys) {
        const std::size_t n = std::char_traits<char>::length(key.name);
        if (word.size() <= n || Upper(word.substr(0, n)) != Upper(key.name))
            continue;
        const auto next = static_cast<unsigned char>(word[n]);
        if (std::isalnum(next) || next == '_')
            continue;
        if (!found || n > std::char_traits<char>::length(found->name))
            found = &key;
    }
    return found;
}

// A word that could be meant as a key: it has a letter in it.
bool KeyShaped(const std::string& word) {
    return std::any_of(word.begin(), word.end(),
                       [](char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

std::vector<ParameterWord> SplitParameterWords(std::string_view text) {
    // The mark is no character to the user: the first word stays in column 1.
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

namespace {

// Over-long words are cut as the reader's messages cut them.
std::string Excerpt(const std::string& word) {
    constexpr std::size_t kShown = 40;
    return word.size() <= kShown ? word : word.substr(0, kShown) + "...";
}

}  // namespace

std::string ParameterFinding::Message() const {
    if (kind == LintKind::RepeatedKey) {
        return "\"" + word.text + "\" is given again (first on line " +
               std::to_string(earlierLine) + "); the later value is used";
    }
    std::string message = "\"" + Excerpt(word.text) + "\" is not a setting and is ignored";
    if (!suggestion.empty())
        message += " (did you mean " + Excerpt(suggestion) + "?)";
    return message;
}

std::string NearestParameterKey(std::string_view word) {
    const std::string up = Upper(word);
    std::size_t best = 3;
    const char* name = nullptr;
    bool tied = false;
    for (const Key& key : kKeys) {
        // More than two letters longer or shorter is more than two edits; a long word is never
        // compared in full.
        const std::size_t n = std::char_traits<char>::length(key.name);
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
    return name && !tied ? std::string(name) : std::string();
}

ParameterLintResult LintParameterText(std::string_view text) {
    const std::vector<ParameterWord> words = SplitParameterWords(text);
    ParameterLintResult result;
    long features = 0;  // the count of the last "#Features"
    std::size_t i = 0;
    while (i < words.size()) {
        const ParameterWord& word = words[i];
        if (const Key* key = FindKey(word.text)) {
            ParameterKeyUse use{key->name, word, {}};
            for (const ParameterKeyUse& earlier : result.keys) {
                if (earlier.key == use.key) {
                    result.findings.push_back(
                        {LintKind::RepeatedKey, word, std::string(), earlier.word.line});
                    break;
                }
            }
            ++i;
            // The separator is one character; the value may follow it in the same word.
            long values = key->value == ValueKind::List ? features : 1;
            if (i < words.size()) {
                const ParameterWord& sep = words[i++];
                if (sep.text.size() > 1 && values > 0) {
                    use.value = {sep.text.substr(1), sep.line, sep.column + 1};
                    --values;
                }
            }
            for (; values > 0 && i < words.size(); --values) {
                if (use.value.text.empty())
                    use.value = words[i];
                ++i;
            }
            if (key->value == ValueKind::Count)
                features = std::max(0L, std::strtol(use.value.text.c_str(), nullptr, 10));
            result.keys.push_back(use);
            continue;
        }
        if (const Key* key = GluedKey(word.text)) {
            const std::size_t n = std::char_traits<char>::length(key->name);
            std::string suggestion = std::string(key->name) + " " + word.text[n];
            if (word.text.size() > n + 1)
                suggestion += " " + word.text.substr(n + 1);
            result.findings.push_back({LintKind::GluedKey, word, suggestion, 0});
        } else if (i + 1 < words.size() && words[i + 1].text.size() == 1 && KeyShaped(word.text)) {
            result.findings.push_back(
                {LintKind::UnknownWord, word, NearestParameterKey(word.text), 0});
        }
        ++i;
    }
    return result;
}

}  // namespace synapsor
