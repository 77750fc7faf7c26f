#include "MLP/Common/SaveNetwork.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <ostream>
#include <streambuf>
#include <vector>

#include "MLP/Common/InterruptCleanup.h"

namespace synapsor {

namespace {

namespace fs = std::filesystem;

[[noreturn]] void FailWrite(const std::string& what, const std::string& destination,
                            const std::string& reason) {
    throw FileTools::Error("Cannot write " + what + " \"" + destination + "\": " + reason);
}

// An output stream's buffer over a file descriptor that keeps the errno of a failed write, so
// that the message can say why (EFBIG over the file size limit, ENOSPC on a full disk).
class DescriptorBuffer : public std::streambuf {
  public:
    explicit DescriptorBuffer(int fd) : fd(fd), buffer(1 << 16) {
        setp(buffer.data(), buffer.data() + buffer.size());
    }
    int Error() const { return error; }

  protected:
    int overflow(int c) override {
        if (!Drain())
            return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Drain() ? 0 : -1; }

  private:
    bool Drain() {
        if (error != 0)
            return false;
        const char* at = pbase();
        while (at < pptr()) {
            const ssize_t n = ::write(fd, at, static_cast<std::size_t>(pptr() - at));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                return false;
            }
            at += n;
        }
        setp(buffer.data(), buffer.data() + buffer.size());
        return true;
    }

    int fd;
    int error = 0;
    std::vector<char> buffer;
};

// The path with its symbolic links followed, as far as they lead: the last one may point to a
// file that does not exist yet. Links in the directories above are left to the system. Returns
// 0, or the errno of a link that cannot be read or of too many links.
int ResolveLinks(const std::string& path, std::string& resolved) {
    resolved = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (lstat(resolved.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return 0;
        std::vector<char> link(PATH_MAX + 1);
        const ssize_t n = readlink(resolved.c_str(), link.data(), link.size());
        if (n < 0)
            return errno;
        if (static_cast<std::size_t>(n) >= link.size())
            return ENAMETOOLONG;
        fs::path next(std::string(link.data(), static_cast<std::size_t>(n)));
        if (next.is_relative())
            next = fs::path(resolved).parent_path() / next;
        resolved = next.string();
    }
    return ELOOP;
}

// The name pattern for mkstemp: beside the file, named after it when the name leaves room for
// the suffix within one directory entry.
std::string TempPattern(const std::string& file) {
    const fs::path path(file);
    const std::string name = path.filename().string();
    const std::string stem = name.size() <= 200 ? "." + name : ".synapsor";
    return (path.parent_path() / (stem + ".tmp-XXXXXX")).string();
}

// The permissions the file gets: those of the file it replaces, or what a newly created file
// would get under the current umask.
mode_t TargetMode(const std::string& file) {
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode))
        return st.st_mode & 07777;
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool FileIdentity::operator==(const FileIdentity& other) const {
    if (exists != other.exists)
        return false;
    if (exists)
        return device == other.device && inode == other.inode;
    return path == other.path;
}

FileIdentity IdentifyFile(const std::string& path) {
    FileIdentity identity;
    struct stat st;
    if (stat(path.c_str(), &st) == 0) {
        identity.exists = true;
        identity.device = st.st_dev;
        identity.inode = st.st_ino;
        return identity;
    }
    // A link to a file not yet there names that file.
    std::string resolved;
    ResolveLinks(path, resolved);
    std::error_code ec;
    const fs::path absolute = fs::absolute(resolved, ec);
    const fs::path canonical = fs::weakly_canonical(absolute, ec);
    identity.path = (ec ? absolute : canonical).lexically_normal().string();
    return identity;
}

PendingFile::PendingFile(const std::string& what, const std::string& destination)
    : what(what), destination(destination) {
    if (const int error = ResolveLinks(destination, target))
        Fail(std::strerror(error));
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
        // A directory is refused before anything is created beside it.
        if (S_ISDIR(st.st_mode))
            Fail("it is a directory");
        if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) || S_ISFIFO(st.st_mode)) {
            // Renaming over a device or a FIFO would replace the node, not write to it.
            if (access(target.c_str(), W_OK) != 0)
                Fail(std::strerror(errno));
            direct = true;
            return;
        }
        if (!S_ISREG(st.st_mode))
            Fail("it is not a regular file, a device or a FIFO");
    }
    std::string pattern = TempPattern(target);
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    // Created and registered for removal as one step: an interrupt cannot fall in between.
    BlockInterrupts blocked;
    fd = mkstemp(buffer.data());
    if (fd < 0)
        Fail(std::strerror(errno));
    path = buffer.data();
    registration = RegisterInterruptCleanup(path);
}

PendingFile::~PendingFile() {
    BlockInterrupts blocked;
    if (fd >= 0)
        close(fd);
    if (!committed && !path.empty()) {
        std::remove(path.c_str());
        ForgetInterruptCleanup(registration);
    }
}

void PendingFile::Fail(const std::string& reason) const {
    FailWrite(what, destination, reason);
}

void PendingFile::Write(const std::function<void(std::ostream&)>& write) {
    int out = fd;
    if (direct) {
        out = open(target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
        if (out < 0)
            Fail(std::strerror(errno));
    } else if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0 || ftruncate(fd, 0) != 0) {
        Fail("cannot write the temporary file " + path);
    }
    // Closes a directly written file on every way out, an exception from `write` included.
    struct Closer {
        int fd;
        bool owned;
        ~Closer() {
            if (owned && fd >= 0)
                close(fd);
        }
        int Close() {
            const int result = close(fd);
            fd = -1;
            return result;
        }
    } closer{out, direct};
    DescriptorBuffer buffer(out);
    std::ostream stream(&buffer);
    write(stream);
    stream.flush();
    int error = buffer.Error();
    if (direct && closer.Close() != 0 && error == 0)
        error = errno;
    if (error != 0)
        Fail(std::strerror(error));
    if (!stream)
        Fail(direct ? std::string("writing failed")
                    : "writing the temporary file " + path + " failed");
}

void PendingFile::Finish() {
    if (direct || fd < 0)
        return;
    if (fchmod(fd, TargetMode(target)) != 0 || fsync(fd) != 0)
        Fail(std::strerror(errno));
    const int closed = close(fd);
    fd = -1;
    if (closed != 0)
        Fail(std::strerror(errno));
}

void PendingFile::Replace() {
    if (direct) {
        committed = true;
        return;
    }
    BlockInterrupts blocked;
    if (std::rename(path.c_str(), target.c_str()) != 0)
        Fail(std::strerror(errno));
    committed = true;
    ForgetInterruptCleanup(registration);
}

void PendingFile::Commit() {
    Finish();
    Replace();
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
