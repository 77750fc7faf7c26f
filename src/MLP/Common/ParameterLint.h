// Finds the words of a parameter file that the reader skips although they look like settings:
// a word that is no key but is followed by a one-character separator word ("LearnRate = 0.01"),
// and a key glued to its separator ("LearningRate=0.001"), each with the key it most likely
// means; and keys given more than once (the later value wins). It walks the words as the reader
// does, so a value is never taken for a key. A UTF-8 byte-order mark at the start is skipped.
// Positions are 1-based lines and byte columns.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace synapsor {

struct ParameterWord {
    std::string text;
    int line = 1;
    int column = 1;
};

// The whitespace-separated words of the text, as the reader sees them, with their positions.
std::vector<ParameterWord> SplitParameterWords(std::string_view text);

enum class LintKind { UnknownWord, GluedKey, RepeatedKey };

struct ParameterFinding {
    LintKind kind = LintKind::UnknownWord;
    ParameterWord word;
    std::string suggestion;  // "KEY", "KEY = VALUE", or empty
    int earlierLine = 0;     // RepeatedKey: the line of the previous occurrence

    // `"WORD" is not a setting and is ignored (did you mean KEY?)`, or for a repeated key
    // `"KEY" is given again (first on line L); the later value is used`.
    std::string Message() const;
};

// A key the reader takes, with the word holding its value (empty when the file ends first).
struct ParameterKeyUse {
    std::string key;  // as spelled in the key table
    ParameterWord word;
    ParameterWord value;
};

struct ParameterLintResult {
    std::vector<ParameterFinding> findings;  // in file order
    std::vector<ParameterKeyUse> keys;       // in file order
};

ParameterLintResult LintParameterText(std::string_view text);

// The one key within two edits of word (case ignored, a swap of neighbours is one edit); when
// several are, the nearest if it is the only one that near; else empty.
std::string NearestParameterKey(std::string_view word);

}  // namespace synapsor
