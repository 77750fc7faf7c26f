#include "MLP/Cluster/MpiPassReducer.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include "Training/BinnedSum.h"

namespace synapsor {

namespace {

// MPI's user reduction: inout[i] = merge(in[i], inout[i]) for `len` cells.
void MergeCells(void* in, void* inout, int* len, MPI_Datatype*) {
    MergeBinnedCells(static_cast<const double*>(in), static_cast<double*>(inout),
                     static_cast<std::size_t>(*len));
}

}  // namespace

TMpiPassReducer::TMpiPassReducer() {
    if (MPI_Type_contiguous(static_cast<int>(kBinnedCellDoubles), MPI_DOUBLE, &cellType) !=
            MPI_SUCCESS ||
        MPI_Type_commit(&cellType) != MPI_SUCCESS)
        throw std::runtime_error("MPI could not make the datatype of the sums");
    if (MPI_Op_create(&MergeCells, /*commute=*/1, &mergeOp) != MPI_SUCCESS) {
        MPI_Type_free(&cellType);
        throw std::runtime_error("MPI could not make the reduction of the sums");
    }
}

TMpiPassReducer::~TMpiPassReducer() {
    MPI_Op_free(&mergeOp);
    MPI_Type_free(&cellType);
}

void TMpiPassReducer::Combine(double* cells, std::size_t count) {
    // MPI counts in int: a network with more cells than that is combined in pieces.
    while (count > 0) {
        const std::size_t piece = std::min<std::size_t>(count, INT_MAX);
        MPI_Allreduce(MPI_IN_PLACE, cells, static_cast<int>(piece), cellType, mergeOp,
                      MPI_COMM_WORLD);
        cells += piece * kBinnedCellDoubles;
        count -= piece;
    }
}

}  // namespace synapsor
