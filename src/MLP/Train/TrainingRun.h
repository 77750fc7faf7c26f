// The training run: load the network and the data set, install the feature selection, check
// that the data fit the network, train for the given epochs printing "<epoch> <error>" per
// line on standard output, and write the result (see SaveNetwork.h). Called once the settings
// have passed CheckSettings; returns the program's exit status. File errors are reported on
// standard output, followed by the line that says where on standard error; TExceptions on
// standard error (FailureReport.h). Data holding nan or inf is refused before the first epoch,
// and a run whose error or weights stop being finite numbers stops after that epoch's line, each
// with one line on standard error. Every failure gives status 1 and leaves the destination as it
// was; the temporary file beside it exists from before the first epoch until the end (but see
// TRunContext::holdDestination).
// Warnings that do not stop the run go to warn, with the key of the setting they concern:
// expected outputs the output layer cannot produce ("TrainingFile", before the first epoch) and
// a training error whose printed digits stay the same for kStallEpochs epochs in a row
// ("Epochs", once per run, not when the error is 0).
//
// The same run serves a process that shares the training with others (synapsor-mpi): the
// context says which training rows it keeps, how the trainer splits and combines its batch
// passes, and whether this process is the lead, which alone prints and writes the network. The
// processes agree after loading and after the checks before the first epoch (TRunPeers): a
// failure on any of them stops all, and the lead reports the one that comes first in the file
// (the lowest process on a tie) exactly as a run alone would. Without a context the run is the
// one Synapsor has always made.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "FileHandler/ParseTools.h"
#include "MLP/Common/Loading.h"
#include "MLP/Common/ParameterFile.h"
#include "Training/ParallelPass.h"

namespace synapsor {

using TrainingWarning = std::function<void(const char* key, const std::string& message)>;

constexpr int kStallEpochs = 50;

// A failure as the run reports it: the text for standard output, then for standard error.
// order ranks failures of different processes: the earliest in the training file comes first.
struct TRunFailure {
    std::string out;
    std::string err;
    std::int64_t order = 0;
};

// The other processes of a shared run. Both calls are collective: every process makes them at
// the same point.
class TRunPeers {
  public:
    virtual ~TRunPeers() = default;
    // mine: this process's failure, null when it has none. True when any process failed; the
    // lead then receives in `first` the failure of the lowest order, lowest process on a tie.
    virtual bool AgreeOnFailure(const TRunFailure* mine, TRunFailure& first) = 0;
    // The range of expected outputs over every process's rows.
    virtual TargetRange CombineTargetRange(const TargetRange& mine) = 0;
};

struct TRunContext {
    // The training rows this process keeps, in file order; all of them when empty.
    FileTools::TRowSelector rows;
    // The trainer splits its batch passes as `setup` says (passRows is set to the training
    // file's rows); when false it runs as it always has.
    bool parallel = false;
    TParallelSetup setup;
    // This process prints the epoch lines and the messages, and writes the network.
    bool lead = true;
    // The first SIGINT or SIGTERM lets the epoch finish and the network be written; when false
    // it ends the process at once (the temporary file removed), as a launcher that kills all
    // processes of a job needs.
    bool keepWorkOnInterrupt = true;
    // The lead's temporary network file exists from before the first epoch to the end. When
    // false it is made before the first epoch only to check the destination, removed, and made
    // again for the write at the end: a launcher that ends the job sends SIGKILL right after
    // SIGTERM, and a file the handler had no time to remove would stay behind.
    bool holdDestination = true;
    TRunPeers* peers = nullptr;  // null: a run alone
};

int RunTraining(const TrainSettings& settings, const TrainingWarning& warn = {},
                const TRunContext& context = {});

}  // namespace synapsor
