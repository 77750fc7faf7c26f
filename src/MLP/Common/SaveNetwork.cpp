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

#include "MLP/Common/InterruptCleanup.h"

namespace synapsor {

namespace {

[[noreturn]] void FailWrite(const std::string& what, const std::string& destination,
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

}  // namespace

PendingFile::PendingFile(const std::string& what, const std::string& destination)
    : what(what), destination(destination) {
    std::error_code ec;
    // A directory is refused before anything is created beside it.
    if (std::filesystem::is_directory(destination, ec))
        Fail("it is a directory");
    std::string pattern = TempPattern(destination);
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // Created and registered for removal as one step: an interrupt cannot fall in between.
    BlockInterrupts blocked;
    fd = mkstemp(buffer.data());
    if (fd < 0)
        Fail(std::strerror(errno));
    path = buffer.data();
    RegisterInterruptCleanup(path);
}

PendingFile::~PendingFile() {
    BlockInterrupts blocked;
    if (fd >= 0)
        close(fd);
    if (!committed) {
        std::remove(path.c_str());
        ForgetInterruptCleanup();
    }
}

void PendingFile::Fail(const std::string& reason) const {
    FailWrite(what, destination, reason);
}

void PendingFile::Write(const std::function<void(std::ostream&)>& write) {
    std::ofstream out(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!out.is_open())
        Fail("cannot open the temporary file " + path);
    write(out);
    out.close();
    if (out.fail())
        Fail("writing the temporary file " + path + " failed");
}

void PendingFile::Commit() {
    if (fchmod(fd, TargetMode(destination)) != 0 || fsync(fd) != 0)
        Fail(std::strerror(errno));
    const int closed = close(fd);
    fd = -1;
    if (closed != 0)
        Fail(std::strerror(errno));
    BlockInterrupts blocked;
    if (std::rename(path.c_str(), destination.c_str()) != 0)
        Fail(std::strerror(errno));
    committed = true;
    ForgetInterruptCleanup();
}

void WriteFileAtomically(const std::string& what, const std::string& destination,
                         const std::function<void(std::ostream&)>& write) {
    PendingFile file(what, destination);
    file.Write(write);
    file.Commit();
}

void SaveNetworkFile(FileTools& tools, const std::string& destination, TBasicNetwork& network) {
    WriteFileAtomically("network file", destination,
                        [&](std::ostream& out) { tools.WriteNetwork(out, &network); });
}

}  // namespace synapsor
