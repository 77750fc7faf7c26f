#include "MLP/Tool/SweepSetup.h"

#include <cctype>
#include <fstream>
#include <random>
#include <sstream>

#include "Common/StrCase.h"
#include "MLP/Tool/Create.h"

namespace synapsor {

namespace {

bool EqualsIgnoreCase(const std::string& a, const char* b) {
    return strcasecmp(a.c_str(), b) == 0;
}
bool EqualsIgnoreCase(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) == 0;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// The words of one line from `from` on, with their columns; a "#" that starts a word and is
// followed by a blank or the line's end ends the line.
std::vector<SweepWord> LineWords(std::string_view line, int number, std::size_t from = 0) {
    std::vector<SweepWord> words;
    std::size_t i = from;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            break;
        if (line[i] == '#' && (i + 1 == line.size() || IsBlank(line[i + 1])))
            break;
        const std::size_t start = i;
        while (i < line.size() && !IsBlank(line[i]))
            ++i;
        words.push_back(
            {std::string(line.substr(start, i - start)), number, static_cast<int>(start) + 1});
    }
    return words;
}

[[noreturn]] void Fail(const SweepSetup& setup, const SweepWord& word, const std::string& message) {
    throw SweepError(setup.Where(word) + message);
}

SweepWord One(const SweepSetup& setup, const SweepKey& key) {
    if (key.values.size() != 1)
        Fail(setup, key.values[1], key.name.text + " takes one value in a sweep");
    return key.values[0];
}

std::uint64_t SeedValue(const SweepSetup& setup, const SweepWord& word, const std::string& key) {
    try {
        return ParseSeed(word.text);
    } catch (const ToolError&) {
        Fail(setup, word,
             key + " \"" + word.text + "\": give a whole number from 0 to 18446744073709551615");
    }
}

// The line of the other of "#Features" and "Features" (0 when there is none).
int FeaturesLine(const std::vector<SweepKey>& lines, const SweepKey& key) {
    for (const SweepKey& other : lines) {
        if (&other != &key && (EqualsIgnoreCase(other.name.text, "#Features") ||
                               EqualsIgnoreCase(other.name.text, "Features")))
            return other.name.line;
    }
    return 0;
}

// "false" for a flag: the reader only ever switches a flag on, so the sweep leaves its line out.
bool IsFlagOff(SweepKey& key, const SweepWord& value) {
    if (!EqualsIgnoreCase(value.text, "false"))
        return false;
    for (const ParameterNote& note : ReadParameterText(key.name.text + " = false").notes) {
        if (note.kind == ParameterNoteKind::FlagNotTrue)
            key.flag = true;
    }
    return key.flag;
}

// A trainer key's value read by the parameter reader on its own: a value the reader refuses, or
// reads other than as written ("1e3" for Epochs, "yes" for a flag), is refused here.
// `context` is another line read with it: the other of #Features and Features, after the value's
// line when contextAfter.
void CheckTrainerValue(const SweepSetup& setup, SweepKey& key, const SweepWord& value,
                       const std::string& context, bool contextAfter) {
    if (IsFlagOff(key, value)) {
        for (const ParameterKeyUse& use : ReadParameterText(setup.baseText).keys) {
            if (use.key == key.name.text)
                Fail(setup, value,
                     key.name.text + " = false cannot switch off what the Parameters file " +
                         setup.baseFile + " switches on");
        }
        return;
    }
    const std::string own = key.name.text + " = " + value.text;
    const ParameterFileResult read =
        ReadParameterText(contextAfter ? own + "\n" + context : context + "\n" + own);
    if (!read.ok())
        Fail(setup, value, read.error.message);
    for (const ParameterNote& note : read.notes) {
        if (note.kind == ParameterNoteKind::NumberWithRest ||
            note.kind == ParameterNoteKind::FlagNotTrue)
            Fail(setup, value, note.message);
    }
}

std::string ReadWholeFile(const std::string& file, const char* what) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    if (in)
        text << in.rdbuf();
    if (!in || in.bad())
        throw SweepError("Cannot open " + std::string(what) + " " + file);
    return text.str();
}

}  // namespace

std::string SweepSetup::Where(const SweepWord& word) const {
    return file + ':' + std::to_string(word.line) + ':' + std::to_string(word.column) + ": ";
}

SweepSetup ParseSweepSetup(std::string_view text, const std::string& file) {
    SweepSetup setup;
    setup.file = file;
    std::vector<SweepKey> lines;
    std::size_t start = 0;
    for (int number = 1; start <= text.size(); ++number) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        std::vector<SweepWord> words = LineWords(line, number);
        if (words.empty())
            continue;
        SweepKey key;
        key.name = words[0];
        std::size_t valuesFrom = 1;
        // "Key=value" and "Key= value" as well as "Key = value".
        const std::size_t eq = key.name.text.find('=');
        if (eq != std::string::npos && eq > 0) {
            SweepWord rest{key.name.text.substr(eq + 1), number,
                           key.name.column + static_cast<int>(eq) + 1};
            key.name.text.resize(eq);
            words.erase(words.begin());
            if (!rest.text.empty())
                words.insert(words.begin(), rest);
            valuesFrom = 0;
        } else if (words.size() < 2 || words[1].text[0] != '=') {
            Fail(setup, words.size() < 2 ? words[0] : words[1],
                 "expected \"" + key.name.text + " = VALUE\"");
        } else if (words[1].text.size() > 1) {
            words[1].text.erase(0, 1);
            words[1].column += 1;
        } else {
            valuesFrom = 2;
        }
        key.values.assign(words.begin() + static_cast<long>(valuesFrom), words.end());
        if (key.values.empty())
            Fail(setup, key.name, key.name.text + " has no value");
        if (EqualsIgnoreCase(key.name.text, "Features")) {
            // A list, not values to try: the rest of the line is one value.
            const std::size_t from = static_cast<std::size_t>(key.values[0].column - 1);
            std::string rest(line.substr(
                from, key.values.back().column - 1 + key.values.back().text.size() - from));
            key.values.resize(1);
            key.values[0].text = rest;
        }
        for (const SweepKey& seen : lines) {
            if (EqualsIgnoreCase(seen.name.text, key.name.text))
                Fail(setup, key.name,
                     key.name.text + " is given twice (first on line " +
                         std::to_string(seen.name.line) + ")");
        }
        lines.push_back(key);
    }

    // The base parameters come first, whatever their line: flags are checked against them.
    for (const SweepKey& key : lines) {
        if (!EqualsIgnoreCase(key.name.text, "Parameters"))
            continue;
        setup.baseFile = One(setup, key).text;
        try {
            setup.baseText = ReadWholeFile(setup.baseFile, "parameter file");
        } catch (const SweepError& e) {
            Fail(setup, key.values[0], e.what());
        }
        const ParameterFileResult read = ReadParameterText(setup.baseText);
        if (!read.ok()) {
            const std::string where = DescribeWhere(setup.baseFile, read.error);
            throw SweepError(where.empty() ? read.error.message : where);
        }
    }
    for (SweepKey& key : lines) {
        const std::string& name = key.name.text;
        if (EqualsIgnoreCase(name, "Parameters")) {
            continue;  // read first
        } else if (EqualsIgnoreCase(name, "ValidationFile")) {
            setup.validationWord = One(setup, key);
            setup.validationFile = setup.validationWord.text;
        } else if (EqualsIgnoreCase(name, "Folds")) {
            setup.foldsWord = One(setup, key);
            const std::string& v = setup.foldsWord.text;
            std::size_t used = 0;
            int k = 0;
            try {
                k = std::stoi(v, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != v.size() || k < 2 || k > 1000)
                Fail(setup, setup.foldsWord,
                     "Folds \"" + v + "\": give a whole number from 2 to 1000");
            setup.folds = k;
        } else if (EqualsIgnoreCase(name, "FoldSeed")) {
            setup.foldSeed = SeedValue(setup, One(setup, key), "FoldSeed");
        } else if (EqualsIgnoreCase(name, "Seeds")) {
            setup.seedsWord = key.name;
            setup.seeds.clear();
            for (const SweepWord& v : key.values)
                setup.seeds.push_back(SeedValue(setup, v, "Seeds"));
        } else if (EqualsIgnoreCase(name, "Hidden")) {
            setup.hidden = key;
            for (const SweepWord& v : key.values) {
                // Sizes of the hidden layers only: the input and output layers come from the data.
                try {
                    std::vector<int> sizes = ParseLayerList("1," + v.text + ",1");
                    setup.hiddenSizes.emplace_back(sizes.begin() + 1, sizes.end() - 1);
                } catch (const ToolError&) {
                    Fail(setup, v,
                         "Hidden \"" + v.text +
                             "\": give the neurons of each hidden layer, as in 64,32");
                }
            }
        } else if (EqualsIgnoreCase(name, "HiddenFunction")) {
            setup.hiddenFunction = One(setup, key).text;
        } else if (EqualsIgnoreCase(name, "OutputFunction")) {
            setup.outputFunction = One(setup, key).text;
        } else {
            const ParameterFileResult read = ReadParameterText(name + " = " + key.values[0].text);
            if (read.keys.empty() && read.ok()) {
                const std::string near = NearestParameterKey(name);
                Fail(setup, key.name,
                     "unknown key \"" + name + "\"" +
                         (near.empty() ? std::string() : "; did you mean " + near + "?"));
            }
            // A key whose value cannot be read alone ("#Features" without its list) is known too.
            if (!read.keys.empty())
                key.name.text = read.keys[0].key;
            if (key.name.text == "WeightFile" || key.name.text == "TrainingFile" ||
                key.name.text == "DestinationFile")
                One(setup, key);
            // The count and the list of selected features are read together, in file order.
            std::string context;
            if (EqualsIgnoreCase(name, "#Features") || EqualsIgnoreCase(name, "Features")) {
                One(setup, key);
                for (const SweepKey& other : lines) {
                    if (&other != &key && (EqualsIgnoreCase(other.name.text, "#Features") ||
                                           EqualsIgnoreCase(other.name.text, "Features")))
                        context = other.name.text + " = " + other.values[0].text;
                }
            }
            for (const SweepWord& v : key.values)
                CheckTrainerValue(setup, key, v, context, key.name.line < FeaturesLine(lines, key));
            if (key.flag && key.values.size() == 1 && EqualsIgnoreCase(key.values[0].text, "false"))
                continue;  // off, as it is without the line
            setup.keys.push_back(key);
        }
    }
    if (setup.folds > 0 && !setup.validationFile.empty())
        Fail(setup, setup.foldsWord, "give either Folds or ValidationFile, not both");
    if (setup.folds == 0 && setup.validationFile.empty())
        throw SweepError(file + ": give ValidationFile = FILE or Folds = K to score the runs");
    if (!setup.seedsWord.text.empty() && !setup.MakesNetworks())
        Fail(setup, setup.seedsWord, "Seeds needs Hidden: the networks are made from the seeds");
    return setup;
}

SweepSetup ReadSweepSetup(const std::string& file) {
    return ParseSweepSetup(ReadWholeFile(file, "sweep file"), file);
}

std::vector<SweepSetting> ExpandSettings(const SweepSetup& setup) {
    std::vector<SweepSetting> settings;
    SweepSetting s;
    s.choice.assign(setup.keys.size(), 0);
    const int hiddenCount = std::max<int>(1, static_cast<int>(setup.hidden.values.size()));
    for (;;) {
        for (s.hidden = 0; s.hidden < hiddenCount; ++s.hidden)
            settings.push_back(s);
        s.hidden = 0;
        // Count up like an odometer, the last key fastest.
        int k = static_cast<int>(setup.keys.size()) - 1;
        for (; k >= 0; --k) {
            if (++s.choice[k] < static_cast<int>(setup.keys[k].values.size()))
                break;
            s.choice[k] = 0;
        }
        if (k < 0)
            break;
    }
    return settings;
}

std::string SettingText(const SweepSetup& setup, const SweepSetting& setting) {
    std::string text = setup.baseText;
    if (!text.empty() && text.back() != '\n')
        text += '\n';
    for (std::size_t k = 0; k < setup.keys.size(); ++k) {
        const SweepKey& key = setup.keys[k];
        const std::string& value = key.values[setting.choice[k]].text;
        if (key.flag && EqualsIgnoreCase(value, "false"))
            continue;
        text += key.name.text + " = " + value + '\n';
    }
    return text;
}

TrainSettings SettingValues(const SweepSetup& setup, const SweepSetting& setting) {
    // Every piece was read on its own when the setup was parsed; together they read the same.
    return ReadParameterText(SettingText(setup, setting)).settings;
}

std::vector<std::pair<std::string, std::string>> SweptValues(const SweepSetup& setup,
                                                             const SweepSetting& setting) {
    std::vector<std::pair<std::string, std::string>> values;
    for (std::size_t k = 0; k < setup.keys.size(); ++k) {
        if (setup.keys[k].values.size() > 1)
            values.emplace_back(setup.keys[k].name.text,
                                setup.keys[k].values[setting.choice[k]].text);
    }
    if (setup.MakesNetworks())
        values.emplace_back("Hidden", setup.hidden.values[setting.hidden].text);
    return values;
}

std::vector<int> MakeFolds(int rows, const std::vector<int>& classes, int k, std::uint64_t seed) {
    std::vector<std::vector<int>> groups;
    for (int i = 0; i < rows; ++i) {
        const int c = classes.empty() ? 0 : classes[i];
        if (c >= static_cast<int>(groups.size()))
            groups.resize(static_cast<std::size_t>(c) + 1);
        groups[c].push_back(i);
    }
    // The generator's raw numbers and a plain Fisher-Yates shuffle: the same folds on every
    // library, where std::shuffle's order is the library's choice.
    std::mt19937_64 generator(seed);
    std::vector<int> fold(static_cast<std::size_t>(rows), 0);
    std::size_t dealt = 0;
    for (std::vector<int>& group : groups) {
        for (std::size_t i = group.size(); i > 1; --i)
            std::swap(group[i - 1], group[generator() % i]);
        for (int row : group)
            fold[row] = static_cast<int>(dealt++ % static_cast<std::size_t>(k));
    }
    return fold;
}

}  // namespace synapsor
