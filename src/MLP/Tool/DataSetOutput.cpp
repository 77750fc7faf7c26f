#include "MLP/Tool/DataSetOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>

#include "FileHandler/Filer.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

// Removes the temporary file on every path out.
class TempFile {
  public:
    TempFile() {
        std::error_code ec;
        std::string pattern =
            (std::filesystem::temp_directory_path(ec) / "synapsor-tool-XXXXXX").string();
        if (ec)
            pattern = "/tmp/synapsor-tool-XXXXXX";
        const int fd = mkstemp(pattern.data());
        if (fd < 0)
            throw ToolError("cannot create a temporary file: " + std::string(std::strerror(errno)));
        close(fd);
        name = pattern;
    }
    ~TempFile() { std::remove(name.c_str()); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    std::string name;
};

}  // namespace

void WriteDataSetOutput(const std::string& file, Data* first, Data* second, std::ostream& console) {
    TempFile temp;
    FileTools tools;
    const std::int32_t code = tools.WriteDataSetFile(temp.name.c_str(), first, second);
    if (code != FileTools::SUCCESS)
        throw ToolError("cannot write data set file " + file + " (temporary file " + temp.name +
                        ")");
    std::ifstream in(temp.name, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    WriteToolOutput(file, "data set file", console, [&](std::ostream& out) { out << text.str(); });
}

}  // namespace synapsor
