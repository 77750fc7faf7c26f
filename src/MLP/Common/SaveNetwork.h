// Writing the trained network without ever losing the destination: the network is written to a
// new temporary file in the destination's directory, flushed to disk, and renamed over the
// destination only when every byte was written. On any failure the temporary file is removed,
// the destination is left as it was, and FileTools::Error names the destination and the reason.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>

#include "FileHandler/ParseTools.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

// A file on its way to `destination`. The temporary file is created beside the destination at
// once, so a destination that cannot be written is refused before any work is done for it. It
// is filled by Write and moved over the destination by Commit; until then it is removed when the
// object goes away, and when the program is interrupted (InterruptCleanup.h). `what` names the
// kind of file in the messages ("Cannot write WHAT \"DESTINATION\": REASON").
class PendingFile {
  public:
    PendingFile(const std::string& what, const std::string& destination);
    ~PendingFile();
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    const std::string& Path() const { return path; }
    // Fills the temporary file; an exception from `write` passes on.
    void Write(const std::function<void(std::ostream&)>& write);
    // Gives the file its final permissions, forces it to disk and moves it over the destination.
    void Commit();

  private:
    [[noreturn]] void Fail(const std::string& reason) const;

    std::string what;
    std::string destination;
    std::string path;
    int fd = -1;
    bool committed = false;
};

// The same in one step, for any file. An exception from `write` removes the temporary file and
// passes on.
void WriteFileAtomically(const std::string& what, const std::string& destination,
                         const std::function<void(std::ostream&)>& write);
void SaveNetworkFile(FileTools& tools, const std::string& destination, TBasicNetwork& network);

}  // namespace synapsor
