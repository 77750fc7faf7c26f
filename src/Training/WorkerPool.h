// A fixed set of threads that run the tasks of one job at a time: started once, reused for every
// batch of every epoch (starting threads per batch would cost more than a small batch). The
// calling thread works too, as worker 0.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace synapsor {

class TWorkerPool {
  public:
    // `workers` >= 1 threads of work, the caller's included.
    explicit TWorkerPool(int workers);
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    int Workers() const { return static_cast<int>(threads.size()) + 1; }

    // Runs task(t, worker) for every t in 0 .. tasks - 1, each once, on whichever worker is free
    // (worker: 0 .. Workers() - 1, one task at a time per worker); returns when all are done.
    // When tasks throw, every task still runs and the exception of the lowest task rethrows here.
    void Run(int tasks, const std::function<void(int task, int worker)>& task);

  private:
    void Serve(int worker);
    void Work(int worker);

    std::vector<std::thread> threads;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable done;
    const std::function<void(int, int)>* job = nullptr;
    std::uint64_t generation = 0;  // counts jobs, so that a thread takes each job once
    int tasks = 0;
    int next = 0;  // the next task to hand out
    int busy = 0;  // threads of the pool still in the current job
    bool stopping = false;
    int failedTask = -1;
    std::exception_ptr failure;
};

// The number of workers "Threads = 0" means: the cores this process may use (at least 1).
int AvailableCores();

}  // namespace synapsor
