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
    TMpiSession session;
    // Rank 0 prints a message before the others may end: a launcher ends the whole job once one
    // process ends with a failure.
    auto report = [&log](const std::string& message) {
        log << "synapsor-tool: " << message << std::endl;
    };
    std::optional<SweepPlan> plan;
    std::string failure;
    try {
        plan.emplace(PrepareSweep(ReadSweepSetup(options.sweepFile)));
    } catch (...) {
        failure = DescribeToolFailure();
    }
    // Files under one name may differ between machines (stale copies): every rank must run
    // the very runs rank 0 plans, or the table would mix two sweeps.
    std::uint64_t digest = plan ? PlanDigest(*plan) : 0;
    std::uint64_t rankZeroDigest = digest;
    MPI_Bcast(&rankZeroDigest, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD);
    if (failure.empty() && digest != rankZeroDigest) {
        failure = options.sweepFile +
                  ": this process reads other settings or data than rank 0 from the files the "
                  "sweep names (every machine must see the same files)";
    }
    const TClusterFailure agreed = AgreeOnFailure(failure);
    if (agreed.failed) {
        if (session.Rank() == 0) {
            report(agreed.rank == 0
                       ? agreed.message
                       : "rank " + std::to_string(agreed.rank) + ": " + agreed.message);
        }
        MPI_Barrier(MPI_COMM_WORLD);
        return kToolFailure;
    }
    int status = kToolSuccess;
    MpiSweepLink link;
    // A fault in the exchange itself would leave the others waiting: it ends them all.
    try {
        if (session.Rank() == 0) {
            SweepStop stop;
            const std::function<void(int)> progress =
                SweepProgress(static_cast<int>(plan->runs.size()), log);
            const std::vector<SweepResult> results =
                HandOutRuns(*plan, link, SweepJobs(options), stop, [&](int done) {
                    // mpirun kills the processes a second after passing a signal on: the runs
                    // in flight here end at their next epoch, so the table is written in time.
                    const int sig = signals->Poll();
                    if (sig != 0) {
                        stop.abandon = true;
                        stop.Raise(sig);
                    }
                    progress(done);
                });
            if (isatty(STDERR_FILENO) == 1)
                log << '\n';
            signals.reset();
            try {
                status =
                    WriteSweepOutputs(options, *plan, results, stop.signal.load(), console, log);
            } catch (...) {
                report(DescribeToolFailure());
                status = kToolFailure;
            }
            EndHandOut(link, status);
        } else {
            status =
                WorkForRankZero(*plan, link, SweepJobs(options), [&] { return signals->Poll(); });
        }
    } catch (...) {
        report("rank " + std::to_string(session.Rank()) + ": " + DescribeToolFailure());
        TMpiSession::Abort(kToolFailure);
    }
    return status;
}

}  // namespace synapsor
