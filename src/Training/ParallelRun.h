// The trainer's side of batch passes split over threads and processes (ParallelPass.h): the
// pool, one worker and one set of reproducible sums per thread, and the pass's chunks. Kept by
// the trainer from epoch to epoch; nothing is allocated per batch once the first pass has run.
#pragma once

#include <memory>
#include <vector>

#include "Training/BinnedSum.h"
#include "Training/ParallelPass.h"
#include "Training/TrainKernel.h"
#include "Training/WorkerPool.h"

namespace synapsor {

struct TParallelRun {
    explicit TParallelRun(const TParallelSetup& how);

    TParallelSetup setup;
    TWorkerPool pool;
    std::vector<TTrainWorker> workers;  // per thread
    std::vector<TBinnedArray> sums;     // per thread: its chunks' gradient cells, then the error
    std::vector<double> finished;       // the batch's sums, rounded
    std::vector<TPassChunk> chunks;     // of the pass, for chunkRows rows in batches of chunkBatch
    int chunkRows = -1;
    int chunkBatch = -1;
    std::vector<int> mine;  // the chunks of the current batch this process takes
};

// One pass as RunTrainEpoch runs a batch pass or a pass of groups, each batch's gradient and
// error summed chunk by chunk with reproducible sums over the run's threads and processes; see
// ParallelPass.h. `passRows`: the patterns of the pass over all processes (this process's data
// set holds the rows of its own chunks). The pass's error gets each batch's error sum.
void RunParallelEpoch(TTrainPlan& plan, TParallelRun& run, const TLearnParams& params, Data* data,
                      int passRows, TErrorObj* error);

}  // namespace synapsor
