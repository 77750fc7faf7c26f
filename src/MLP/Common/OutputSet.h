// The outputs of one command, written all or none. Each destination is claimed when it is added
// (PendingFile, SaveNetwork.h): one that cannot be written fails before anything is written, and
// one that names the same file as an input or as an output added before is refused ("Cannot
// write WHAT \"DESTINATION\": it is the same file as ..."), compared by device and inode where
// the file exists. Commit then writes every output and, only when all of them were written, moves
// the temporary files over their destinations: a failing command replaces none of them. The
// destinations "-" and "" stand for the console stream; those are never compared.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "MLP/Common/SaveNetwork.h"

namespace synapsor {

class OutputSet {
  public:
    explicit OutputSet(std::ostream& console);
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // A file the command reads, which no output may replace.
    void AddInput(const std::string& file);
    // `what` names the kind of file in messages; `write` runs in Commit, on a stream set to the
    // classic locale for files.
    void Add(const std::string& what, const std::string& destination,
             std::function<void(std::ostream&)> write);
    // Writes the files first, then devices, FIFOs and the console in the order added, then
    // replaces the destinations. On an exception every temporary file is removed.
    void Commit();

  private:
    struct Output {
        std::string what;
        std::string destination;
        FileIdentity identity;
        std::unique_ptr<PendingFile> file;  // none for the console
        std::function<void(std::ostream&)> write;
    };
    struct Input {
        std::string file;
        FileIdentity identity;
    };

    std::ostream& console;
    std::vector<Input> inputs;
    std::vector<Output> outputs;
};

}  // namespace synapsor
