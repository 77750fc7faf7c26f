// Writing a file without ever losing its destination. For a regular file (or none yet) the text
// goes to a new temporary file in the destination's directory, is flushed to disk, and is
// renamed over the destination only when every byte was written; on any failure the temporary
// file is removed, the destination is left as it was, and FileTools::Error names the destination
// and the reason ("Cannot write WHAT \"DESTINATION\": REASON"). A symbolic link is followed: the
// file it leads to is replaced, the link stays. A device or a FIFO cannot be replaced: the text
// is written to it directly. A directory, a socket or a path through a file is refused.
#pragma once

#include <sys/types.h>

#include <functional>
#include <iosfwd>
#include <string>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

// Which file a path names: its device and inode when it exists, otherwise its absolute path
// with the symbolic links of its directories resolved.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path;

    bool operator==(const FileIdentity& other) const;
};
FileIdentity IdentifyFile(const std::string& path);

// A file on its way to `destination`. The destination is claimed at once (the temporary file
// is created beside it, or a device or FIFO is checked to be writable), so a destination that
// cannot be written is refused before any work is done for it. It is filled by Write and moved
// over the destination by Commit; until then the temporary file is removed when the object goes
// away, and when the program is interrupted (InterruptCleanup.h). A device or FIFO is opened and
// written by Write; Commit has nothing left to do for it.
class PendingFile {
  public:
    PendingFile(const std::string& what, const std::string& destination);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // The temporary file; empty when the destination is written directly.
    const std::string& Path() const { return path; }
    // The file that is written: the destination with its symbolic links followed.
    const std::string& Target() const { return target; }
    bool Direct() const { return direct; }
    // Fills the file; an exception from `write` passes on.
    void Write(const std::function<void(std::ostream&)>& write);
    // Gives the temporary file its final permissions and forces it to disk (Finish), then moves
    // it over the destination (Replace). Commit does both.
    void Finish();
    void Replace();
    void Commit();

  private:
    [[noreturn]] void Fail(const std::string& reason) const;

    std::string what;
    std::string destination;
    std::string target;
    std::string path;
    bool direct = false;
    int fd = -1;
    int registration = -1;
    bool committed = false;
};

// The same in one step, for any file. An exception from `write` removes the temporary file and
// passes on.
void WriteFileAtomically(const std::string& what, const std::string& destination,
                         const std::function<void(std::ostream&)>& write);
void SaveNetworkFile(FileTools& tools, const std::string& destination, TBasicNetwork& network);

}  // namespace synapsor
