// Runs of a sweep handed out by one process (rank 0) to others (ranks 1 .. size-1) as they become
// free, and their results gathered, over any message link between the processes: MPI between
// machines (SweepCluster.cpp), queues between threads in the tests.
//
// The exchange, all between rank 0 and one other rank:
// - a rank sends a report for each of its threads that is free: the result of the run the thread
//   just finished (none at the start) and, unless it is stopping, a request for another run;
// - rank 0 answers every request with a run index, or -1 when every run is handed out or the
//   sweep is stopping; a rank that gets -1 asks for nothing more;
// - a rank that catches SIGINT or SIGTERM says so in a report: rank 0 then stops handing out, as
//   on its own interrupt; the rank's runs in flight end at their next epoch and go back unrun,
//   as does a run handed to it after the signal; other ranks' runs in flight finish;
// - when a rank's threads are all free and it has no request outstanding, it sends its last
//   report, marked done; rank 0's hand-out ends when its own threads and every rank are done;
// - after writing the outputs, rank 0 sends every rank the exit status they all end with.
// Rank 0 trains too, with its own threads, taking from the same list, so one rank runs a sweep
// alone. Only the thread that calls these functions touches the link.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "MLP/Tool/Sweep.h"

namespace synapsor {

// The message kinds.
enum SweepTag : int {
    kSweepReport = 1,  // any rank to rank 0: SweepReport
    kSweepWork = 2,    // rank 0 to a rank: a run index, or -1
    kSweepEnd = 3,     // rank 0 to a rank: the exit status
};

struct SweepReport {
    int run = -1;  // the run `result` belongs to; -1: no result
    SweepResult result;
    bool wantsWork = false;  // asks for a run
    bool done = false;       // the rank's last report
    int signal = 0;          // SIGINT or SIGTERM the rank caught; 0: none
};

// Byte encodings, the same on every machine (little-endian, doubles bit for bit). Decoding
// throws ToolError on a message of another shape.
std::string EncodeReport(const SweepReport& report);
SweepReport DecodeReport(std::string_view bytes);
std::string EncodeNumber(std::int32_t value);
std::int32_t DecodeNumber(std::string_view bytes);

// One end of the links between the processes of a sweep.
class SweepLink {
  public:
    virtual ~SweepLink() = default;
    virtual int Rank() const = 0;
    virtual int Size() const = 0;
    virtual void Send(int to, int tag, const std::string& bytes) = 0;
    // A message that has arrived, if any; returns at once.
    virtual bool Receive(int& from, int& tag, std::string& bytes) = 0;
};

// What stops a sweep: the first signal caught, by this process or reported by another.
struct SweepStop {
    std::atomic<bool> stop{false};
    std::atomic<int> signal{0};
    std::atomic<bool> abandon{false};  // also end this process's runs in flight
    void Raise(int sig) {
        int none = 0;
        signal.compare_exchange_strong(none, sig);
        stop = true;
    }
};

// Rank 0: trains on `jobs` threads and hands runs to the other ranks until every run is done or
// `stop` is raised and the runs in flight are back. `tick` is called on this thread about every
// 200 ms with the runs done so far (it may raise `stop`, and set `abandon`).
std::vector<SweepResult> HandOutRuns(const SweepPlan& plan, SweepLink& link, int jobs,
                                     SweepStop& stop, const std::function<void(int done)>& tick);
// Rank 0, after the outputs: tells every other rank the status to end with.
void EndHandOut(SweepLink& link, int status);

// Ranks other than 0: trains the runs rank 0 hands out on `jobs` threads; `poll` returns a
// signal caught (0: none), which ends the runs in flight before their next epoch: a launcher
// that passes a signal on kills its processes soon after (mpirun: one second). Returns the
// status rank 0 sends at the end.
int WorkForRankZero(const SweepPlan& plan, SweepLink& link, int jobs,
                    const std::function<int()>& poll);

}  // namespace synapsor
