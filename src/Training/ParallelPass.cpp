#include "Training/ParallelPass.h"

#include <algorithm>

#include "Common/Assert.h"

namespace synapsor {

std::vector<TPassChunk> PassChunks(int rows, int batchSize, int process, int processes) {
    SYN_ASSERT(rows >= 0 && processes >= 1 && process >= 0 && process < processes);
    const int perBatch = batchSize > 0 ? batchSize : std::max(rows, 1);
    std::vector<TPassChunk> chunks;
    chunks.reserve(static_cast<std::size_t>(rows / kChunkRows + rows / perBatch + 1));
    int local = 0;
    int batch = 0;
    for (int first = 0; first < rows; first += perBatch, batch++) {
        const int end = std::min(rows, first + perBatch);
        for (int at = first; at < end; at += kChunkRows) {
            TPassChunk chunk;
            chunk.batch = batch;
            chunk.first = at;
            chunk.count = std::min(kChunkRows, end - at);
            if (static_cast<int>(chunks.size() % static_cast<std::size_t>(processes)) == process) {
                chunk.local = local;
                local += chunk.count;
            }
            chunks.push_back(chunk);
        }
    }
    return chunks;
}

std::vector<int> ProcessRows(int rows, int batchSize, int process, int processes) {
    std::vector<int> positions;
    for (const TPassChunk& chunk : PassChunks(rows, batchSize, process, processes)) {
        if (chunk.local < 0)
            continue;
        for (int i = 0; i < chunk.count; i++)
            positions.push_back(chunk.first + i);
    }
    return positions;
}

}  // namespace synapsor
