// Fuzz target: the whole training path. The input holds a parameter file, a network file and a
// data set file, in that order, separated by lines "%%". The parameter file is read and checked
// as the program does; the file names in it are replaced by scratch files holding the other two
// parts, and the epochs are capped at 3. Networks of more than 4096 weights or 1024 neurons are
// skipped so every run stays fast. The run must end with status 0 or 1, and a network it wrote
// must be readable again.
#include <cstddef>
#include <cstdint>
#include <locale>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "FileHandler/NetworkFile.h"
#include "FuzzSupport.h"
#include "MLP/Common/ParameterFile.h"
#include "MLP/Train/TrainingRun.h"

namespace {

constexpr std::string_view kSeparator = "\n%%\n";
constexpr std::int32_t kMaxEpochs = 3;
constexpr int kMaxWeights = 4096;
constexpr int kMaxNeurons = 1024;

// The part before the next separator; text is left after it (empty when there is none).
std::string_view NextPart(std::string_view& text) {
    const std::size_t at = text.find(kSeparator);
    const std::string_view part = text.substr(0, at);
    text = at == std::string_view::npos ? std::string_view() : text.substr(at + kSeparator.size());
    return part;
}

// False when the network text is readable but too large for a quick run.
bool SmallEnough(std::string_view text) {
    synapsor::FileTools tools;
    std::istringstream in{std::string(text)};
    try {
        const std::unique_ptr<synapsor::TBasicNetwork> net = tools.ReadNetwork(in);
        return net->GetNumWeights(1) <= kMaxWeights && net->GetNumNeurons() <= kMaxNeurons;
    } catch (const synapsor::FileTools::Error&) {
        return true;  // the run reports it
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace synapsor;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    const std::string_view parameters = NextPart(rest);
    const std::string_view network = NextPart(rest);
    const std::string_view dataSet = rest;
    if (!SmallEnough(network))
        return 0;

    std::istringstream in{std::string(parameters)};
    in.imbue(std::locale::classic());
    ParameterFileResult read = ReadParameterFile(in);
    if (!read.ok())
        return 0;
    TrainSettings& settings = read.settings;
    settings.WeightFile = fuzz::WriteScratchFile("net.wgt", network);
    settings.TrainingFile = fuzz::WriteScratchFile("train.dat", dataSet);
    settings.DestinationFile = fuzz::ScratchDir() + "/trained.wgt";
    std::remove(settings.DestinationFile.c_str());
    if (settings.LngEpochs > kMaxEpochs)
        settings.LngEpochs = kMaxEpochs;
    if (!CheckSettings(settings).empty())
        return 0;

    int status = -1;
    {
        fuzz::QuietStreams quiet;
        status = RunTraining(settings);
    }
    FUZZ_CHECK(status == 0 || status == 1);
    if (status == 0) {
        FileTools tools;
        try {
            FUZZ_CHECK(tools.ReadNetworkFile(settings.DestinationFile.c_str()) != nullptr);
        } catch (const FileTools::Error& e) {
            std::fprintf(stderr, "trained network not readable: %s\n", e.message.c_str());
            FUZZ_CHECK(!"the trained network can be read again");
        }
    }
    return 0;
}
