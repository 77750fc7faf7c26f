#include "MLP/Common/SaveNetwork.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace synapsor {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& destination,
                       const std::string& reason) {
    throw FileTools::Error("Cannot write " + what + " \"" + destination + "\": " + reason);
}

// The name pattern for mkstemp: beside the destination, named after it when the name leaves
// room for the suffix within one directory entry.
std::string TempPattern(const std::string& destination) {
    const std::filesystem::path path(destination);
    const std::string name = path.filename().string();
    const std::string stem = name.size() <= 200 ? "." + name : ".synapsor";
    return (path.parent_path() / (stem + ".tmp-XXXXXX")).string();
}

// The permissions the destination gets: those of the file it replaces, or what a newly created
// file would get under the current umask.
mode_t TargetMode(const std::string& destination) {
    struct stat st;
    if (stat(destination.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Owns the temporary file: closes its descriptor and removes it unless Commit renamed it.
class TempFile {
  public:
    TempFile(const std::string& what, const std::string& destination)
        : what(what), destination(destination) {
        std::string pattern = TempPattern(destination);
        std::vector<char> buffer(pattern.begin(), pattern.end());
        buffer.push_back('\0');
        fd = mkstemp(buffer.data());
        if (fd < 0)
            Fail(what, destination, std::strerror(errno));
        path = buffer.data();
    }
    ~TempFile() {
        if (fd >= 0)
            close(fd);
        if (!committed)
            std::remove(path.c_str());
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return path; }

    // Gives the file its final permissions, forces it to disk and moves it over the destination.
    void Commit() {
        if (fchmod(fd, TargetMode(destination)) != 0 || fsync(fd) != 0)
            Fail(what, destination, std::strerror(errno));
        const int closed = close(fd);
        fd = -1;
        if (closed != 0)
            Fail(what, destination, std::strerror(errno));
        if (std::rename(path.c_str(), destination.c_str()) != 0)
            Fail(what, destination, std::strerror(errno));
        committed = true;
    }

  private:
    std::string what;
    std::string destination;
    std::string path;
    int fd = -1;
    bool committed = false;
};

}  // namespace

void WriteFileAtomically(const std::string& what, const std::string& destination,
                         const std::function<void(std::ostream&)>& write) {
    std::error_code ec;
    // A directory is refused before anything is created beside it.
    if (std::filesystem::is_directory(destination, ec))
        Fail(what, destination, "it is a directory");
    TempFile temp(what, destination);
    {
        std::ofstream out(temp.Path(), std::ios::out | std::ios::trunc | std::ios::binary);
        if (!out.is_open())
            Fail(what, destination, "cannot open the temporary file " + temp.Path());
        write(out);
        out.close();
        if (out.fail())
            Fail(what, destination, "writing the temporary file " + temp.Path() + " failed");
    }
    temp.Commit();
}

void SaveNetworkFile(FileTools& tools, const std::string& destination, TBasicNetwork& network) {
    WriteFileAtomically("network file", destination,
                        [&](std::ostream& out) { tools.WriteNetwork(out, &network); });
}

}  // namespace synapsor
