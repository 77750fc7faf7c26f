// Fuzz target: the parameter file reader and the checks that follow it. Any input must end in
// settings or in one message; settings that pass hold exactly the announced feature columns.
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
    if (!read.ok()) {
        FUZZ_CHECK(read.error.find('\n') == std::string::npos);
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
