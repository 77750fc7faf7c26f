// The trainer's reducer across MPI processes: after every batch, every process's binned sums are
// replaced in place by the merge of all processes' sums (MPI_Allreduce with an operation that
// calls MergeBinnedCells over cells of kBinnedCellDoubles doubles). The merge is commutative and
// associative to the bit, so whatever order the MPI library combines the processes in, every
// process ends with the same sums. Create it after the session and destroy it before the
// session ends; only the main thread may call Combine, at the same point on every process.
#pragma once

#include <mpi.h>

#include <cstddef>

#include "Training/ParallelPass.h"

namespace synapsor {

class TMpiPassReducer : public TPassReducer {
  public:
    TMpiPassReducer();
    ~TMpiPassReducer() override;
    TMpiPassReducer(const TMpiPassReducer&) = delete;
    TMpiPassReducer& operator=(const TMpiPassReducer&) = delete;

    void Combine(double* cells, std::size_t count) override;

  private:
    MPI_Datatype cellType = MPI_DATATYPE_NULL;
    MPI_Op mergeOp = MPI_OP_NULL;
};

}  // namespace synapsor
