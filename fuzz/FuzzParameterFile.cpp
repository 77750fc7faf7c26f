// Fuzz target: the parameter file reader and the checks that follow it. Any input must end in
// settings or in one message placed in the text; every note is placed in the text too; settings
// that pass hold exactly the announced feature columns.
#include <cstddef>
#include <cstdint>
#include <locale>
#include <sstream>
#include <string>

#include "FuzzSupport.h"
#include "MLP/Common/ParameterFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace synapsor;
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    in.imbue(std::locale::classic());
    const ParameterFileResult read = ReadParameterFile(in);
    for (const ParameterNote& note : read.notes)
        FUZZ_CHECK(note.word.line >= 1 && note.word.column >= 1 && !note.message.empty());
    if (!read.ok()) {
        FUZZ_CHECK(read.error.message.find('\n') == std::string::npos);
        FUZZ_CHECK(read.error.line >= 1 && read.error.column >= 1);
        return 0;
    }
    const TrainSettings& s = read.settings;
    FUZZ_CHECK(s.MbrNdxFeatures >= 0);
    FUZZ_CHECK(s.MbrNdxFeatures == 0 ||
               s.MbrDyaFeatures.size() == static_cast<std::size_t>(s.MbrNdxFeatures));
    FUZZ_CHECK(s.WeightFile.size() <= kMaxParameterWord);
    FUZZ_CHECK(s.TrainingFile.size() <= kMaxParameterWord);
    FUZZ_CHECK(s.DestinationFile.size() <= kMaxParameterWord);
    CheckSettings(s);
    return 0;
}
