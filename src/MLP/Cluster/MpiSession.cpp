#include "MLP/Cluster/MpiSession.h"

#include <mpi.h>

#include <cstdlib>
#include <limits>
#include <stdexcept>
#include <vector>

namespace synapsor {

bool LaunchedUnderMpi() {
    // Open MPI's mpirun sets OMPI_COMM_WORLD_SIZE; PMIx launchers (Open MPI 4 and later, srun
    // --mpi=pmix) PMIX_RANK; PMI-1/2 launchers (srun --mpi=pmi2, MPICH's hydra) PMI_RANK and
    // PMI_SIZE. Slurm's own SLURM_PROCID is not enough: a batch script has it without srun.
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK", "PMI_SIZE"}) {
        if (std::getenv(name) != nullptr)
            return true;
    }
    return false;
}

TMpiSession::TMpiSession() {
    // Only the main thread calls MPI; the trainer's worker threads compute between the calls.
    int provided = MPI_THREAD_SINGLE;
    if (MPI_Init_thread(nullptr, nullptr, MPI_THREAD_FUNNELED, &provided) != MPI_SUCCESS)
        throw std::runtime_error("MPI could not be initialized");
    if (provided < MPI_THREAD_FUNNELED) {
        MPI_Finalize();
        throw std::runtime_error("The MPI library does not allow threads beside its calls");
    }
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
}

TMpiSession::~TMpiSession() {
    MPI_Finalize();
}

void TMpiSession::Abort(int status) {
    int initialized = 0;
    int finalized = 0;
    MPI_Initialized(&initialized);
    MPI_Finalized(&finalized);
    if (!initialized || finalized)
        return;
    MPI_Abort(MPI_COMM_WORLD, status);
}

TClusterFailure AgreeOnFailure(bool failed, const std::string& message, std::int64_t order) {
    int rank = 0;
    int size = 1;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    // The least order of a failure, then the lowest rank that failed with it; size when none did.
    constexpr std::int64_t kNone = std::numeric_limits<std::int64_t>::max();
    const std::int64_t myOrder = failed ? order : kNone;
    std::int64_t firstOrder = kNone;
    MPI_Allreduce(&myOrder, &firstOrder, 1, MPI_INT64_T, MPI_MIN, MPI_COMM_WORLD);
    const int mine = failed && myOrder == firstOrder ? rank : size;
    int first = size;
    MPI_Allreduce(&mine, &first, 1, MPI_INT, MPI_MIN, MPI_COMM_WORLD);

    TClusterFailure result;
    if (first == size)
        return result;
    result.failed = true;
    result.rank = first;
    if (first == 0) {
        if (rank == 0)
            result.message = message;
        return result;
    }
    // The failing process sends its message to process 0 alone; the others go on at once.
    constexpr int kTag = 27;
    if (rank == first) {
        MPI_Send(message.data(), static_cast<int>(message.size()), MPI_CHAR, 0, kTag,
                 MPI_COMM_WORLD);
    } else if (rank == 0) {
        MPI_Status status;
        MPI_Probe(first, kTag, MPI_COMM_WORLD, &status);
        int length = 0;
        MPI_Get_count(&status, MPI_CHAR, &length);
        std::vector<char> text(static_cast<std::size_t>(length));
        MPI_Recv(text.data(), length, MPI_CHAR, first, kTag, MPI_COMM_WORLD, MPI_STATUS_IGNORE);
        result.message.assign(text.begin(), text.end());
    }
    return result;
}

TClusterFailure AgreeOnFailure(const std::string& message) {
    return AgreeOnFailure(!message.empty(), message);
}

void MinAcrossProcesses(double* values, int count) {
    MPI_Allreduce(MPI_IN_PLACE, values, count, MPI_DOUBLE, MPI_MIN, MPI_COMM_WORLD);
}

}  // namespace synapsor
