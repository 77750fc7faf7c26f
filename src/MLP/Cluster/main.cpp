// synapsor-mpi: the training of Synapsor shared among the processes of an MPI job, started as
// `mpirun -np N synapsor-mpi train.par`. Every process reads the parameter file, the network
// and the validation file; process r keeps only its rows of the training file (the rows of the
// chunks it owns, ProcessRows); after every batch the processes combine their sums
// (TMpiPassReducer), so all of them apply the same update and hold the same network. Process 0
// alone prints the epoch lines and the messages and writes the network. The output is the same
// bytes for every N, and the same as Synapsor's with Threads given.
//
// Shuffle is refused (a shuffled pass would need rows other processes hold), and so is online
// training with more than one process (it updates after every row: batch training is needed).
// A failure on any process before the first epoch stops all of them with one report from
// process 0 and status 1. SIGINT and SIGTERM end every process at once (the launcher passes
// SIGTERM on, and follows it at once with SIGKILL: so under a launcher the temporary network
// file exists only while the network is written). A failure that leaves the processes out of
// step ends the job through MPI_Abort instead of waiting for ever.
//
// Started without a launcher, it runs as the one process of a job of one, without MPI.
#include <iostream>
#include <string>
#include <vector>

#include "MLP/Cluster/MpiPassReducer.h"
#include "MLP/Cluster/MpiSession.h"
#include "MLP/Common/FailureReport.h"
#include "MLP/Common/InterruptCleanup.h"
#include "MLP/Train/TrainProgram.h"
#include "MLP/Train/TrainingRun.h"
#include "Training/ParallelPass.h"

namespace {

using namespace synapsor;

constexpr const char kUsage[] = "Usage: mpirun -np N synapsor-mpi parameter.file";

constexpr const char kHelp[] =
    "Trains a multi-layer perceptron as Synapsor does, with the batches shared among the N\n"
    "processes of an MPI job: each process reads its share of the training rows, and process 0\n"
    "prints the training error of every epoch and writes the network. The parameter file is\n"
    "Synapsor's; batch training (Batch or BatchSize) is needed for more than one process, and\n"
    "Shuffle is not available. The output is the same for every N.\n"
    "See synapsor-mpi(1) and Synapsor(1) for the keys and the messages.\n";

// The processes of the job seen by the training run.
class TMpiRunPeers : public TRunPeers {
  public:
    bool AgreeOnFailure(const TRunFailure* mine, TRunFailure& first) override {
        // The two texts travel as one message: the length of the first, a newline, both.
        std::string message;
        if (mine != nullptr)
            message = std::to_string(mine->out.size()) + '\n' + mine->out + mine->err;
        const TClusterFailure agreed =
            synapsor::AgreeOnFailure(mine != nullptr, message, mine != nullptr ? mine->order : 0);
        if (!agreed.failed)
            return false;
        const std::size_t newline = agreed.message.find('\n');
        if (newline != std::string::npos) {
            const std::size_t length = std::stoul(agreed.message.substr(0, newline));
            first.out = agreed.message.substr(newline + 1, length);
            first.err = agreed.message.substr(newline + 1 + length);
        }
        return true;
    }

    TargetRange CombineTargetRange(const TargetRange& mine) override {
        double values[2] = {mine.low, -mine.high};
        MinAcrossProcesses(values, 2);
        return {values[0], -values[1]};
    }
};

// Rprop always updates after a whole pass or a group.
bool BatchTraining(const TrainSettings& settings) {
    return settings.Batch || settings.IsGiven("BatchSize") || settings.Algorithm == "rprop";
}

std::vector<SettingProblem> MpiLimits(const TrainSettings& settings, int processes) {
    std::vector<SettingProblem> problems;
    if (settings.Shuffle) {
        problems.push_back({"Shuffle", true,
                            "synapsor-mpi cannot shuffle: each process holds the rows of its "
                            "share in file order; use Synapsor to train with Shuffle"});
    }
    if (processes > 1 && !BatchTraining(settings)) {
        problems.push_back({"Batch", true,
                            "synapsor-mpi needs batch training (Batch = true or BatchSize) with "
                            "more than one process: online training updates the weights after "
                            "every row, one row after the other"});
    }
    return problems;
}

// One process of a job of `processes` (process 0 the lead); reducer null for a job of one.
int RunProcess(int argc, char** argv, int process, int processes, TPassReducer* reducer,
               TRunPeers* peers) {
    TTrainProgram program;
    program.name = "synapsor-mpi";
    program.usage = kUsage;
    program.help = kHelp;
    program.lead = process == 0;
    program.checks = [processes](const TrainSettings& settings) {
        return MpiLimits(settings, processes);
    };
    program.run = [&](const TrainSettings& settings, const TrainingWarning& warn) {
        TRunContext context;
        context.lead = process == 0;
        context.peers = peers;
        // Under a launcher the first interrupt ends the process at once: the launcher ends the
        // other processes too, so no epoch could be finished.
        context.keepWorkOnInterrupt = peers == nullptr;
        context.holdDestination = peers == nullptr;
        if (BatchTraining(settings)) {
            const int batchSize = settings.BatchSize;
            context.rows = [=](std::int32_t rows) {
                return ProcessRows(rows, batchSize, process, processes);
            };
            context.parallel = true;
            context.setup.threads = 1;
            context.setup.process = process;
            context.setup.processes = processes;
            context.setup.reducer = reducer;
        }
        return RunTraining(settings, warn, context);
    };
    return RunTrainProgram(argc, argv, program);
}

int Run(int argc, char** argv) {
    if (!LaunchedUnderMpi())
        return RunProcess(argc, argv, 0, 1, nullptr, nullptr);
    TMpiSession session;
    // Open MPI's start-up puts its own handlers on SIGINT and SIGTERM: the launcher sends
    // SIGTERM to end the job, and ours must take it to remove the temporary network file.
    InstallInterruptCleanup();
    try {
        TMpiPassReducer reducer;
        TMpiRunPeers peers;
        return RunProcess(argc, argv, session.Rank(), session.Size(), &reducer, &peers);
    } catch (...) {
        // Other processes may be waiting in a collective step for this one: end the job.
        ReportUnexpectedException(std::cerr);
        TMpiSession::Abort(1);
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    synapsor::InstallInterruptCleanup();
    try {
        return Run(argc, argv);
    } catch (...) {
        synapsor::ReportUnexpectedException(std::cerr);
        return 1;
    }
}
