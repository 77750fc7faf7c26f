#include "MLP/Tool/SweepCluster.h"

#include <mpi.h>
#include <unistd.h>

#include <optional>
#include <ostream>
#include <string>

#include "MLP/Cluster/MpiSession.h"
#include "MLP/Tool/SweepHandOut.h"
#include "MLP/Tool/ToolSupport.h"

namespace synapsor {

namespace {

// The sweep's messages on a communicator of their own, so that they never meet another step's.
class MpiSweepLink : public SweepLink {
  public:
    MpiSweepLink() {
        MPI_Comm_dup(MPI_COMM_WORLD, &comm);
        MPI_Comm_rank(comm, &rank);
        MPI_Comm_size(comm, &size);
    }
    ~MpiSweepLink() override { MPI_Comm_free(&comm); }
    MpiSweepLink(const MpiSweepLink&) = delete;
    MpiSweepLink& operator=(const MpiSweepLink&) = delete;

    int Rank() const override { return rank; }
    int Size() const override { return size; }

    // The messages are a few dozen bytes: MPI sends them without waiting for the receiver.
    void Send(int to, int tag, const std::string& bytes) override {
        MPI_Send(bytes.data(), static_cast<int>(bytes.size()), MPI_BYTE, to, tag, comm);
    }

    // A probe, not a blocking receive: MPI's blocking calls keep a core busy while they wait.
    bool Receive(int& from, int& tag, std::string& bytes) override {
        int arrived = 0;
        MPI_Status status;
        MPI_Iprobe(MPI_ANY_SOURCE, MPI_ANY_TAG, comm, &arrived, &status);
        if (arrived == 0)
            return false;
        int length = 0;
        MPI_Get_count(&status, MPI_BYTE, &length);
        bytes.assign(static_cast<std::size_t>(length), '\0');
        MPI_Recv(bytes.data(), length, MPI_BYTE, status.MPI_SOURCE, status.MPI_TAG, comm,
                 MPI_STATUS_IGNORE);
        from = status.MPI_SOURCE;
        tag = status.MPI_TAG;
        return true;
    }

  private:
    MPI_Comm comm = MPI_COMM_NULL;
    int rank = 0;
    int size = 1;
};

}  // namespace

bool SweepUnderMpi() {
    return LaunchedUnderMpi();
}

int RunSweepOnCluster(const SweepOptions& options, std::ostream& console, std::ostream& log) {
    // Signals are held back before MPI starts its threads, which inherit the mask: SIGINT and
    // SIGTERM then wait for the sweep's poll on every process instead of ending it.
    std::optional<SweepSignals> signals(std::in_place);
    std::string message;  // rank 0's message, printed once MPI has ended
    int status = kToolSuccess;
    {
        TMpiSession session;
        std::optional<SweepPlan> plan;
        std::string failure;
        try {
            plan.emplace(PrepareSweep(ReadSweepSetup(options.sweepFile)));
        } catch (...) {
            failure = DescribeToolFailure();
        }
        const TClusterFailure agreed = AgreeOnFailure(failure);
        if (agreed.failed) {
            if (session.Rank() == 0) {
                message = agreed.rank == 0
                              ? agreed.message
                              : "rank " + std::to_string(agreed.rank) + ": " + agreed.message;
            }
            status = kToolFailure;
        } else {
            MpiSweepLink link;
            // A fault in the exchange itself leaves the others waiting: it ends them all.
            try {
                if (session.Rank() == 0) {
                    SweepStop stop;
                    const std::function<void(int)> progress =
                        SweepProgress(static_cast<int>(plan->runs.size()), log);
                    const std::vector<SweepResult> results =
                        HandOutRuns(*plan, link, SweepJobs(options), stop, [&](int done) {
                            const int sig = signals->Poll();
                            if (sig != 0)
                                stop.Raise(sig);
                            progress(done);
                        });
                    if (isatty(STDERR_FILENO) == 1)
                        log << '\n';
                    signals.reset();
                    try {
                        status = WriteSweepOutputs(options, *plan, results, stop.signal.load(),
                                                   console, log);
                    } catch (...) {
                        message = DescribeToolFailure();
                        status = kToolFailure;
                    }
                    EndHandOut(link, status);
                } else {
                    status = WorkForRankZero(*plan, link, SweepJobs(options),
                                             [&] { return signals->Poll(); });
                }
            } catch (...) {
                log << "synapsor-tool: rank " << session.Rank() << ": " << DescribeToolFailure()
                    << std::endl;
                TMpiSession::Abort(kToolFailure);
            }
        }
    }
    if (!message.empty())
        throw ToolError(message);
    return status;
}

}  // namespace synapsor
