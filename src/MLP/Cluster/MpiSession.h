// The MPI session of a program that may or may not have been started by mpirun or srun.
//
// LaunchedUnderMpi tells from the environment whether a launcher started this process, so that
// a program built with MPI still runs alone without initializing MPI. TMpiSession initializes MPI
// for its lifetime (only the main thread calls MPI; other threads only compute) and finalizes it
// at the end. AgreeOnFailure is the collective step after which every process knows whether any
// of them failed, and process 0 knows the message of the first (lowest-ranked) one that did: so a
// fault on any process stops all of them with one message.
#pragma once

#include <cstdint>
#include <string>

namespace synapsor {

// True when the environment shows an MPI launcher (Open MPI's mpirun, PMIx, PMI as srun and
// MPICH's launcher set) started this process.
bool LaunchedUnderMpi();

class TMpiSession {
  public:
    // Initializes MPI; throws std::runtime_error when it cannot or when the library cannot let
    // worker threads run beside the main thread's MPI calls.
    TMpiSession();
    ~TMpiSession();
    TMpiSession(const TMpiSession&) = delete;
    TMpiSession& operator=(const TMpiSession&) = delete;

    int Rank() const { return rank; }
    int Size() const { return size; }

    // Ends every process of the job at once with `status`: for a fault in the middle of a
    // collective step, where the other processes would otherwise wait for ever.
    static void Abort(int status);

  private:
    int rank = 0;
    int size = 1;
};

struct TClusterFailure {
    bool failed = false;  // some process failed the step
    int rank = -1;        // the process whose failure comes first; -1 when none failed
    std::string message;  // its message, on process 0 only (empty elsewhere)
};

// Collective over all processes: each says whether it failed the step, with its message and
// where its failure comes (`order`: lower comes first; the lower rank on a tie). Every process
// learns whether any failed and which one comes first; process 0 receives that one's message.
TClusterFailure AgreeOnFailure(bool failed, const std::string& message, std::int64_t order = 0);
// The same with the message alone: empty when this process did not fail; the order is the rank.
TClusterFailure AgreeOnFailure(const std::string& message);

// Collective: values[i] becomes the least of values[i] over all processes.
void MinAcrossProcesses(double* values, int count);

}  // namespace synapsor
