// What every synapsor-tool subcommand shares: the one exception type for a failed command, the
// loaders that name the file in every message, and output to a file (written atomically) or to
// standard output. A subcommand throws ToolError (or lets a library error pass); the program
// prints "synapsor-tool: MESSAGE" on standard error and exits with status 1.
#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <stdexcept>
#include <string>

#include "DataObject/Data.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

class ToolError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

// Exit statuses of synapsor-tool.
constexpr int kToolSuccess = 0;
constexpr int kToolFailure = 1;
constexpr int kToolUsage = 2;

std::unique_ptr<TBasicNetwork> LoadToolNetwork(const std::string& file);
// The first data set of the file; a data set without expected outputs is accepted.
std::unique_ptr<Data> LoadToolDataSet(const std::string& file);
// The trainer's fit checks, with outputs checked only when the data set has expected outputs.
void CheckToolFit(const Data& data, const TBasicNetwork& network, const std::string& dataFile,
                  const std::string& networkFile);

// Writes through `write` to `file` (what names the kind of file in a failure), or to `console`
// when file is empty or "-": one output of an OutputSet (MLP/Common/OutputSet.h). A command with
// several outputs, or with inputs an output must not replace, uses an OutputSet itself.
void WriteToolOutput(const std::string& file, const std::string& what, std::ostream& console,
                     const std::function<void(std::ostream&)>& write);

// Call only inside a catch block: the one-line message of the exception being handled, without
// the program prefix.
std::string DescribeToolFailure();

}  // namespace synapsor
