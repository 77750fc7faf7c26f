#include "Training/WorkerPool.h"

#include <sched.h>

#include <algorithm>

#include "Common/Assert.h"

namespace synapsor {

TWorkerPool::TWorkerPool(int workers) {
    SYN_ASSERT(workers >= 1);
    threads.reserve(static_cast<std::size_t>(workers - 1));
    for (int w = 1; w < workers; w++)
        threads.emplace_back([this, w] { Serve(w); });
}

TWorkerPool::~TWorkerPool() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_all();
    for (std::thread& t : threads)
        t.join();
}

// Takes tasks until none is left. The tasks are handed out under the lock: a task is a chunk of
// rows or a range of cells, thousands of times the cost of the lock.
void TWorkerPool::Work(int worker) {
    for (;;) {
        int t = 0;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (next >= tasks)
                return;
            t = next++;
        }
        try {
            (*job)(t, worker);
        } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (failedTask < 0 || t < failedTask) {
                failedTask = t;
                failure = std::current_exception();
            }
        }
    }
}

void TWorkerPool::Serve(int worker) {
    std::uint64_t seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return stopping || generation != seen; });
            if (stopping)
                return;
            seen = generation;
        }
        Work(worker);
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (--busy == 0)
                done.notify_one();
        }
    }
}

void TWorkerPool::Run(int count, const std::function<void(int, int)>& task) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        job = &task;
        tasks = count;
        next = 0;
        busy = static_cast<int>(threads.size());
        failedTask = -1;
        failure = nullptr;
        ++generation;
    }
    wake.notify_all();
    Work(0);
    std::exception_ptr thrown;
    {
        std::unique_lock<std::mutex> lock(mutex);
        done.wait(lock, [&] { return busy == 0; });
        job = nullptr;
        thrown = failure;
        failure = nullptr;
    }
    if (thrown)
        std::rethrow_exception(thrown);
}

int AvailableCores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        return std::max(1, CPU_COUNT(&set));
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace synapsor
