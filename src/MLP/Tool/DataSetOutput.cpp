#include "MLP/Tool/DataSetOutput.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>

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

void WriteDataSetText(std::ostream& out, Data* first, Data* second) {
    TempFile temp;
    FileTools tools;
    if (tools.WriteDataSetFile(temp.name.c_str(), first, second) != FileTools::SUCCESS)
        throw ToolError("cannot write the temporary file " + temp.name);
    std::ifstream in(temp.name, std::ios::binary);
    if (!in.is_open() || !(out << in.rdbuf()))
        throw ToolError("cannot copy the temporary file " + temp.name);
}

void WriteDataSetOutput(const std::string& file, Data* first, Data* second, std::ostream& console) {
    WriteToolOutput(file, "data set file", console,
                    [&](std::ostream& out) { WriteDataSetText(out, first, second); });
}

}  // namespace synapsor
