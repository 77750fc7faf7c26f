// synapsor-tool sweep across the processes an MPI launcher started (mpirun, srun): built only
// when the tool links the cluster library. Every process reads and checks the sweep file and the
// data; a fault on any of them ends all with status 1 and one message, from rank 0. Rank 0 then
// trains on its own threads and hands runs to the others as they become free (SweepHandOut.h),
// and writes the table and the files exactly as one process does; the other ranks write
// nothing. All end with the status rank 0 ends with.
#pragma once

#include <iosfwd>

#include "MLP/Tool/Sweep.h"

namespace synapsor {

// True when a launcher started this process: the sweep then runs across the processes.
bool SweepUnderMpi();

// Returns the exit status as RunSweep does; a failure's message is printed here, by rank 0.
int RunSweepOnCluster(const SweepOptions& options, std::ostream& console, std::ostream& log);

}  // namespace synapsor
