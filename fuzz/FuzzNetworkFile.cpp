// Fuzz target: the network file reader. Any input must give a network or FileTools::Error, whose
// place points at the token found in the input. A network that was read is written, read back
// and written again: the reader must accept what the writer emits, and the second text must
// equal the first.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <sstream>
#include <string>

#include "FileHandler/NetworkFile.h"
#include "FuzzPlace.h"
#include "FuzzSupport.h"

namespace {

std::string Write(synapsor::FileTools& tools, synapsor::TBasicNetwork& network) {
    std::ostringstream out;
    tools.WriteNetwork(out, &network);
    FUZZ_CHECK(out.good());
    return out.str();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace synapsor;
    FileTools tools;
    std::unique_ptr<TBasicNetwork> network;
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        std::istringstream in(text);
        network = tools.ReadNetwork(in);
    } catch (const FileTools::Error& e) {
        fuzz::CheckPlace(e, text);
        return 0;
    }
    FUZZ_CHECK(network != nullptr);
    FUZZ_CHECK(network->GetMissingLayer() == -1);

    const std::string first = Write(tools, *network);
    std::unique_ptr<TBasicNetwork> back;
    try {
        std::istringstream in(first);
        back = tools.ReadNetwork(in);
    } catch (const FileTools::Error& e) {
        std::fprintf(stderr, "written network not readable: %s\n%s\n", e.message.c_str(),
                     first.c_str());
        FUZZ_CHECK(!"the reader accepts what the writer emits");
    }
    FUZZ_CHECK(back != nullptr);
    FUZZ_CHECK(Write(tools, *back) == first);
    return 0;
}
