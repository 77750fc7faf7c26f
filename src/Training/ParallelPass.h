// Batch passes split over threads and processes, with the same bits for any number of either.
//
// A pass's batches (the whole pass, or groups of BatchSize rows) are cut into chunks of
// kChunkRows patterns, numbered over the pass in pattern order. A chunk's gradient and error are
// summed pattern by pattern, as one worker would; the chunks' sums are then added with
// reproducible sums (BinnedSum.h), whose result depends on neither the order nor the grouping of
// the additions. So the number of threads, the number of processes and which of them takes a
// chunk change nothing. Chunk g of a pass belongs to process g % processes, which holds the rows
// of its chunks and of no others, in pass order.
#pragma once

#include <cstddef>
#include <vector>

namespace synapsor {

// Patterns per chunk: the unit of work and of summation. Fixed, so that results cannot depend on
// how many workers there are. Each chunk's sums cost one deposit into the reproducible sums (about
// 0.8 ns per gradient cell; a row costs about 0.08 ns per cell): 256 rows keep that near 5% of a
// pass. Smaller batches than two chunks gain nothing from more threads.
constexpr int kChunkRows = 256;

struct TPassChunk {
    int batch = 0;   // the batch (update) the chunk belongs to, from 0
    int first = 0;   // its first pattern's position in the pass
    int count = 0;   // its patterns
    int local = -1;  // where its first row is among this process's rows; -1: another process's
};

// The chunks of a pass of `rows` patterns in batches of `batchSize` (0: one batch of all), with
// their owners among `processes` processes as seen by process `process`.
std::vector<TPassChunk> PassChunks(int rows, int batchSize, int process = 0, int processes = 1);

// The rows (pass positions) process `process` holds, in pass order.
std::vector<int> ProcessRows(int rows, int batchSize, int process, int processes);

// Combines the sums of all processes after every batch.
class TPassReducer {
  public:
    virtual ~TPassReducer() = default;
    // `cells` holds this process's binned sums (`count` cells of kBinnedCellDoubles doubles);
    // on return every process holds the merge of all processes' cells (MergeBinnedCells).
    virtual void Combine(double* cells, std::size_t count) = 0;
};

// How a trainer splits its batch passes. threads: workers in this process (>= 1). With
// processes > 1, this process's data set holds only the rows of its chunks (ProcessRows), the
// pass has passRows patterns over all processes, and reducer combines the sums after each batch.
struct TParallelSetup {
    int threads = 1;
    int process = 0;
    int processes = 1;
    int passRows = 0;
    TPassReducer* reducer = nullptr;
};

}  // namespace synapsor
