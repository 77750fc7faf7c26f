// synapsor-tool sweep: trains every setting a sweep file names (SweepSetup.h), on every fold and
// from every seed, scores each run on data it did not train on, and writes the table of settings
// sorted by score, the best setting's parameter file and, on request, the network trained with
// it on all training rows. Each run is the trainer's run made in this process: its own network
// and its own copy of its rows, one TrainEpoch per epoch with the parameters the setting's text
// gives, so a run's score does not depend on how many run at once. Every setting is checked
// before the first run starts.
#pragma once

#include <signal.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "DataObject/Data.h"
#include "MLP/Tool/SweepSetup.h"
#include "NeuralNets/BasicNetwork.h"

namespace synapsor {

struct SweepOptions {
    std::string sweepFile;
    int jobs = 0;  // 0: one per core
    std::string csvFile = "sweep.csv";
    std::string bestFile = "best.par";
    std::string refitFile;  // empty: no refit
};

// One training run: a setting, a starting seed (index into SweepSetup::seeds) and the fold it is
// scored on (0 with a validation file).
struct SweepRun {
    int setting = 0;
    int seed = 0;
    int fold = 0;
};

// Everything the runs share, read-only once made.
struct SweepPlan {
    SweepSetup setup;
    std::vector<SweepSetting> settings;
    std::vector<TrainSettings> values;  // per setting
    std::vector<SweepRun> runs;         // setting slowest, then seed, then fold
    std::unique_ptr<Data> training;
    std::unique_ptr<Data> validation;  // none with folds
    std::vector<int> folds;            // fold of each training row (in held order)
    bool classification = false;       // score is accuracy (higher is better), else RMS
    std::string trainingFile;
    std::string weightFile;  // the base network when the sweep makes none
    // Starting networks as their files hold them (the writer keeps 15 digits), so a run starts
    // from the very weights the trainer would read: the base network's file text, and the text
    // of each made network by its layer sizes and seed.
    std::string weightText;
    std::map<std::pair<std::vector<int>, std::uint64_t>, std::string> startTexts;
};

struct SweepResult {
    bool finished = false;
    double score = 0.0;  // not finite when the run failed
    double seconds = 0.0;
    std::string failure;  // why the run failed (diverged, ...)
};

// A row of the table: one setting over its finished runs.
struct SweepRow {
    int setting = 0;
    int runs = 0;      // planned
    int finished = 0;  // of those, finished
    int failed = 0;    // of those, failed: the mean is then not a number
    double mean = 0.0;
    double spread = 0.0;  // sample standard deviation; 0 for one run
    int epochs = 0;
    double seconds = 0.0;  // mean per finished run
};

// Reads the data, checks every setting (network, fit) and lists the runs. Throws SweepError.
SweepPlan PrepareSweep(SweepSetup setup);

// A digest of everything the runs depend on (the settings, starting networks, rows and folds):
// processes that read the same files get the same digest, on any machine.
std::uint64_t PlanDigest(const SweepPlan& plan);

// The network a setting starts from with the given seed, read from its text in the plan.
std::unique_ptr<TBasicNetwork> StartNetwork(const SweepPlan& plan, int setting, std::uint64_t seed);
// Trains one run and scores it. Safe to call from several threads at once. `abandon`, when
// given and set, ends the run before its next epoch, unfinished.
SweepResult RunOne(const SweepPlan& plan, const SweepRun& run,
                   const std::atomic<bool>* abandon = nullptr);
// Trains with a setting on all training rows from the first seed; returns the trained network.
std::unique_ptr<TBasicNetwork> Refit(const SweepPlan& plan, int setting);

// Threads that train runs: each takes a run index from `take` (below 0: none left, the thread
// ends) and hands the run's result to `finish`; both are called on the pool's threads.
// `abandon` is passed to RunOne.
class SweepPool {
  public:
    SweepPool(const SweepPlan& plan, int threads, std::function<int()> take,
              std::function<void(int run, SweepResult result)> finish,
              const std::atomic<bool>* abandon = nullptr);
    ~SweepPool();  // waits for the threads
    SweepPool(const SweepPool&) = delete;
    SweepPool& operator=(const SweepPool&) = delete;
    bool Finished() const { return running.load() == 0; }

  private:
    std::atomic<int> running{0};
    std::vector<std::thread> pool;
};

// Holds SIGINT and SIGTERM back while it lives, in this thread and the threads started meanwhile,
// so that the sweep takes them when it polls instead of being ended by them.
class SweepSignals {
  public:
    SweepSignals();
    ~SweepSignals();
    SweepSignals(const SweepSignals&) = delete;
    SweepSignals& operator=(const SweepSignals&) = delete;
    // The signal that has arrived, 0 when none has; returns at once.
    int Poll();

  private:
    sigset_t signals;
    sigset_t previous;
};

// The progress line on `log` when it is a terminal ("sweep: 12/180 runs, ..."), counted from now.
std::function<void(int done)> SweepProgress(int total, std::ostream& log);

// Runs every run on `jobs` threads. `stop` set stops handing out runs; `tick` is called on the
// calling thread about five times a second with the runs done so far.
std::vector<SweepResult> RunAll(const SweepPlan& plan, int jobs, const std::atomic<bool>& stop,
                                const std::function<void(int done)>& tick);

// Rows sorted by score (best first), ties in setting order.
std::vector<SweepRow> Summarize(const SweepPlan& plan, const std::vector<SweepResult>& results);

void WriteSweepCsv(std::ostream& out, const SweepPlan& plan, const std::vector<SweepRow>& rows);
void WriteSweepTable(std::ostream& out, const SweepPlan& plan, const std::vector<SweepRow>& rows);

// The parameter text that trains the setting as the sweep did, on all training rows.
std::string BestParameterText(const SweepPlan& plan, int setting, const std::string& startFile,
                              const std::string& destination);

// The threads per process: the option, or one per core.
int SweepJobs(const SweepOptions& options);

// Reports the failed runs on `log` and writes the table, the best setting's files and the refit
// network. `signal` is the one that stopped the runs (0: none). Returns the exit status: 0, or
// 128 + the signal (the table is then marked incomplete).
int WriteSweepOutputs(const SweepOptions& options, const SweepPlan& plan,
                      const std::vector<SweepResult>& results, int signal, std::ostream& console,
                      std::ostream& log);

// Returns the exit status: 0, or 128 + the signal when interrupted (the table is then written,
// marked incomplete).
int RunSweep(const SweepOptions& options, std::ostream& console, std::ostream& log);

}  // namespace synapsor
