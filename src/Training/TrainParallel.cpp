#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>

#include "Common/Assert.h"
#include "Common/Exceptions.h"
#include "DataObject/Data.h"
#include "NeuralNets/Connections.h"
#include "NeuralNets/ErrorObj.h"
#include "Training/ParallelRun.h"

namespace synapsor {

namespace {

// Cells per task when the threads merge and round the sums: large enough that handing out a
// task costs nothing next to it.
constexpr std::size_t kCellsPerTask = 8192;

// Merges every thread's sums into the first thread's, in cells [from, to).
void MergeThreads(TParallelRun& run, std::size_t from, std::size_t to) {
    double* into = run.sums[0].Cells() + from * kBinnedCellDoubles;
    for (std::size_t k = 1; k < run.sums.size(); k++)
        MergeBinnedCells(run.sums[k].Cells() + from * kBinnedCellDoubles, into, to - from);
}

}  // namespace

TParallelRun::TParallelRun(const TParallelSetup& how) : setup(how), pool(how.threads) {
    SYN_ASSERT(how.threads >= 1 && how.processes >= 1);
    SYN_ASSERT(how.processes == 1 || how.reducer != nullptr);
    workers.resize(static_cast<std::size_t>(how.threads));
    sums.resize(static_cast<std::size_t>(how.threads));
}

void RunParallelEpoch(TTrainPlan& plan, TParallelRun& run, const TLearnParams& params, Data* data,
                      int passRows, TErrorObj* error) {
    const TParallelSetup& setup = run.setup;
    const int batchSize = params.batchSize > 0 ? params.batchSize : 0;
    if (run.chunkRows != passRows || run.chunkBatch != batchSize) {
        const int perBatch = batchSize > 0 ? std::min(batchSize, passRows) : passRows;
        if (static_cast<std::uint64_t>(perBatch) / kChunkRows + 1 > kMaxBinnedTerms) {
            const std::string message =
                "A batch of " + std::to_string(perBatch) + " rows is too large to be summed in " +
                "chunks of " + std::to_string(kChunkRows) + " rows (at most " +
                std::to_string(kMaxBinnedTerms * kChunkRows) + " rows per batch)";
            throw TException(message.c_str(), "Bad Parameter", "TTrainModule::TrainEpoch");
        }
        run.chunks = PassChunks(passRows, batchSize, setup.process, setup.processes);
        run.chunkRows = passRows;
        run.chunkBatch = batchSize;
    }
    const std::size_t cells = plan.weights + 1;  // the gradient, then the error sum
    for (std::size_t k = 0; k < run.workers.size(); k++) {
        TTrainWorker& worker = run.workers[k];
        SetUpWorker(plan, static_cast<int>(plan.main.input.size()),
                    static_cast<int>(plan.main.target.size()), false, error, &worker);
        if (run.sums[k].Size() != cells)
            run.sums[k].Resize(cells);
    }
    run.finished.resize(cells);
    const int start = data->MbrNdxCurrent;
    TLearnParams lastParams = params;
    lastParams.penalty = params.lastPenalty;
    int lastWorker = -1;  // the worker that took the pass's last pattern
    const std::size_t tasks = (cells + kCellsPerTask - 1) / kCellsPerTask;

    for (std::size_t at = 0; at < run.chunks.size();) {
        const int batch = run.chunks[at].batch;
        int batchPatterns = 0;
        run.mine.clear();
        for (; at < run.chunks.size() && run.chunks[at].batch == batch; at++) {
            batchPatterns += run.chunks[at].count;
            if (run.chunks[at].local >= 0)
                run.mine.push_back(static_cast<int>(at));
        }
        const bool lastBatch = at == run.chunks.size();
        for (TBinnedArray& sums : run.sums)
            sums.Clear();
        run.pool.Run(static_cast<int>(run.mine.size()), [&](int task, int w) {
            const TPassChunk& chunk = run.chunks[static_cast<std::size_t>(run.mine[task])];
            TTrainWorker& worker = run.workers[static_cast<std::size_t>(w)];
            std::fill(worker.ownGradient.begin(), worker.ownGradient.end(), 0.0);
            worker.ownError->Reset();
            const bool last = chunk.first + chunk.count == passRows;
            RunBatchRows(plan, worker, params, data, start, chunk.local, chunk.count, last,
                         nullptr);
            if (last)
                lastWorker = w;
            worker.ownGradient[plan.weights] = worker.ownError->PatternSum();
            run.sums[static_cast<std::size_t>(w)].Deposit(worker.ownGradient.data());
        });
        if (setup.processes > 1) {
            run.pool.Run(static_cast<int>(tasks), [&](int task, int) {
                const std::size_t from = static_cast<std::size_t>(task) * kCellsPerTask;
                MergeThreads(run, from, std::min(cells, from + kCellsPerTask));
            });
            setup.reducer->Combine(run.sums[0].Cells(), cells);
            run.pool.Run(static_cast<int>(tasks), [&](int task, int) {
                const std::size_t from = static_cast<std::size_t>(task) * kCellsPerTask;
                const std::size_t to = std::min(cells, from + kCellsPerTask);
                FinishBinnedCells(run.sums[0].Cells() + from * kBinnedCellDoubles,
                                  run.finished.data() + from, to - from);
            });
        } else {
            run.pool.Run(static_cast<int>(tasks), [&](int task, int) {
                const std::size_t from = static_cast<std::size_t>(task) * kCellsPerTask;
                const std::size_t to = std::min(cells, from + kCellsPerTask);
                MergeThreads(run, from, to);
                FinishBinnedCells(run.sums[0].Cells() + from * kBinnedCellDoubles,
                                  run.finished.data() + from, to - from);
            });
        }
        // The batch's gradient replaces the trainable cells of the gradient copy, as a batch
        // pass that starts from zeroed cells and adds every pattern would leave them.
        for (const TPairPlan& pp : plan.pairs) {
            const double* sum = run.finished.data() + pp.gradientAt;
            const std::size_t count = static_cast<std::size_t>(pp.nFrom) * pp.nTo;
            for (std::size_t i = 0; i < count; i++)
                if (pp.masks == nullptr || (pp.masks[i] & FMaskAll) == FMaskAll)
                    pp.g[i] = sum[i];
        }
        // A diverged batch: infinities of opposite signs meet in some order, and the sign of the
        // nan they make could differ with the grouping. Every such sum is the same nan.
        double errorSum = run.finished[plan.weights];
        if (!std::isfinite(errorSum))
            errorSum = std::numeric_limits<double>::quiet_NaN();
        error->AddPatternSum(errorSum, batchPatterns);
        RunBatchUpdate(plan, lastBatch ? lastParams : params);
    }
    if (lastWorker >= 0)
        PublishLastPattern(plan, run.workers[static_cast<std::size_t>(lastWorker)]);
    if (data->MbrNdxRows > 0)
        data->MbrNdxCurrent = data->StepRow(start, data->MbrNdxRows);
}

}  // namespace synapsor
