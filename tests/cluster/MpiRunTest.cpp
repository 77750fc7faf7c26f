// synapsor-mpi under mpirun: 1, 2 and 3 processes print and write the same bytes, the same as
// Synapsor on threads; a failure on any process is reported once, as Synapsor reports it; the
// settings it cannot run are refused.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace test {
namespace {

std::string ReadText(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// synapsor-mpi on `processes` processes in dir. -q keeps mpirun's own notices about processes
// that ended with a failure status off standard error, so that what is there is the program's.
ProgramResult RunMpi(int processes, const std::string& parameters, const std::string& dir) {
#ifdef SYNAPSOR_MPI_NO_LEAK_CHECK
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
    return RunProgram(SYNAPSOR_MPIEXEC,
                      {"-q", "--allow-run-as-root", "--oversubscribe", "-np",
                       std::to_string(processes), SYNAPSOR_MPI_EXE, parameters},
                      dir);
}

// A data set file of random rows: inputs in [-1, 1], expected outputs in [0.1, 0.9].
std::string RandomDataSet(int rows, int inputs, int outputs, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> in(-1.0, 1.0);
    std::uniform_real_distribution<double> out(0.1, 0.9);
    std::ostringstream s;
    s.precision(17);
    s << "[DataSet]\n[Rows = " << rows << "]\n[Inputs = " << inputs
      << "]\n[ExpectedOutputs = " << outputs << "]\n[Data]\n";
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < inputs; ++c)
            s << in(random) << ' ';
        for (int c = 0; c < outputs; ++c)
            s << out(random) << ' ';
        s << '\n';
    }
    s << "[~Data]\n[~DataSet]\n";
    return s.str();
}

// Copies an example's network and data set into dir as net.wgt and train.dat.
void CopyExample(const TempDir& dir, const std::string& name) {
    const std::string example = std::string(SYNAPSOR_SOURCE_DIR) + "/examples/" + name;
    dir.WriteFile("net.wgt", ReadText(example + "/" + name + ".wgt"));
    dir.WriteFile("train.dat", ReadText(example + "/" + name + ".dat"));
}

// A random 6-7-5-3 network (biases included) with a fifth of its weights pruned, and 300
// random rows to train it on, with 100 more held back for validation.
void MakeRandomCase(const TempDir& dir) {
    const ProgramResult created = RunProgram(
        SYNAPSOR_TOOL_EXE,
        {"create", "--type", "basic", "--layers", "6,7,5,3", "--seed", "27", "-o", "full.wgt"},
        dir.Path());
    ASSERT_EQ(created.status, 0) << created.err;
    const ProgramResult pruned = RunProgram(
        SYNAPSOR_TOOL_EXE,
        {"prune", "--fraction", "0.2", "--keep-nodes", "-o", "net.wgt", "full.wgt"}, dir.Path());
    ASSERT_EQ(pruned.status, 0) << pruned.err;
    dir.WriteFile("train.dat", RandomDataSet(300, 6, 3, 1));
    dir.WriteFile("held.dat", RandomDataSet(100, 6, 3, 2));
}

struct Output {
    std::string out;
    std::string err;
    std::string network;
};

TEST(MpiRun, EveryProcessCountPrintsAndWritesWhatThreadsDo) {
    struct Case {
        const char* example;  // "random": MakeRandomCase
        const char* settings;
    };
    const Case cases[] = {
        {"xor", "Epochs = 200 Batch = true LearningRate = 2 Momentum = 0.8"},
        {"iris", "Epochs = 30 Batch = true LWF = true"},
        {"iris", "Epochs = 30 BatchSize = 32 Algorithm = adam LearningRate = 0.01"},
        {"iris", "Epochs = 30 Algorithm = rprop"},
        {"random", "Epochs = 25 BatchSize = 50 Momentum = 0.9 LWF = true ForgettingRate = 0.001"},
        // Threads inside each process (the Synapsor run's later "Threads = 2" takes over there).
        {"random", "Epochs = 10 BatchSize = 50 Threads = 3"},
        {"random",
         "Epochs = 25 BatchSize = 100 Algorithm = adam LearningRate = 0.02 "
         "ValidationFile = held.dat Patience = 5"},
        {"random", "Epochs = 25 Algorithm = rprop ValidationFile = held.dat KeepBest = true"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.example) + ": " + c.settings);
        TempDir dir;
        if (std::string(c.example) == "random") {
            MakeRandomCase(dir);
        } else {
            CopyExample(dir, c.example);
        }
        const std::string base = std::string("WeightFile = net.wgt TrainingFile = train.dat ") +
                                 "DestinationFile = out.wgt " + c.settings + "\n";
        std::filesystem::remove(dir.File("out.wgt"));
        dir.WriteFile("threads.par", base + "Threads = 2\n");
        const ProgramResult threads = RunSynapsor({"threads.par"}, dir.Path());
        ASSERT_EQ(threads.status, 0) << threads.err;
        const Output expected{threads.out, threads.err, ReadText(dir.File("out.wgt"))};
        ASSERT_FALSE(expected.out.empty());
        dir.WriteFile("p.par", base);
        for (int processes : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(processes) + " processes");
            std::filesystem::remove(dir.File("out.wgt"));
            const ProgramResult r = RunMpi(processes, "p.par", dir.Path());
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, expected.out);
            // Warnings name the parameter file's lines: the same file, the same words.
            EXPECT_EQ(r.err, expected.err);
            EXPECT_EQ(ReadText(dir.File("out.wgt")), expected.network);
        }
    }
}

TEST(MpiRun, AFailureOnAnyProcessIsReportedOnceAsSynapsorReportsIt) {
    // iris.dat holds 150 rows. In batches of 64 rows (each within one chunk), batch g is process
    // g % N's: rows 64 to 127 are process 1's and rows 128 on process 2's with 3 processes,
    // process 0's with 2.
    struct Case {
        const char* what;
        const char* from;  // text of iris.dat replaced ...
        const char* to;    // ... by this
    };
    const Case cases[] = {
        // The header promises rows the file does not hold: the process that holds them cannot
        // read them, the others read theirs.
        {"rows missing", "[Rows = 150]", "[Rows = 160]"},
        // Row 98, the second process's.
        {"a value that is not a number", "0.4167 0.2917 0.4915 0.4583", "0.4167 0.2917 nan 0.4583"},
        // A value after the last row, found only by the process that reads to the end.
        {"a value too many", "[~Data]", "0.5 [~Data]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        CopyExample(dir, "iris");
        std::string data = ReadText(dir.File("train.dat"));
        const std::size_t at = data.rfind(c.from);
        ASSERT_NE(at, std::string::npos);
        data.replace(at, std::string(c.from).size(), c.to);
        dir.WriteFile("train.dat", data);
        dir.WriteFile("p.par",
                      "WeightFile = net.wgt TrainingFile = train.dat DestinationFile = out.wgt "
                      "Epochs = 5 BatchSize = 64 Threads = 1\n");
        const ProgramResult alone = RunSynapsor({"p.par"}, dir.Path());
        ASSERT_EQ(alone.status, 1);
        ASSERT_FALSE(alone.err.empty());
        for (int processes : {1, 2, 3}) {
            SCOPED_TRACE(std::to_string(processes) + " processes");
            const ProgramResult r = RunMpi(processes, "p.par", dir.Path());
            EXPECT_EQ(r.status, 1);
            EXPECT_EQ(r.out, alone.out);
            EXPECT_EQ(r.err, alone.err);
            // Nothing left behind: no network, no temporary file.
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 3);
        }
    }
}

TEST(MpiRun, SettingsItCannotRunAreRefusedWithTheirPlace) {
    struct Case {
        const char* settings;
        int processes;
        bool refused;
        const char* place;  // the line that places the refused key, when the file gives it
    };
    const std::string online =
        "synapsor-mpi needs batch training (Batch = true or BatchSize) with more than one "
        "process: online training updates the weights after every row, one row after the other";
    const std::string shuffle =
        "synapsor-mpi cannot shuffle: each process holds the rows of its share in file order; "
        "use Synapsor to train with Shuffle";
    const Case cases[] = {
        {"Momentum = 0.9", 2, true, ""},
        {"Momentum = 0.9", 1, false, ""},
        {"Shuffle = true\nSeed = 4\nBatchSize = 2", 2, true, "p.par:3:11: "},
        {"Shuffle = true\nSeed = 4\nBatchSize = 2", 1, true, "p.par:3:11: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.settings) + " on " + std::to_string(c.processes));
        TempDir dir;
        CopyExample(dir, "xor");
        dir.WriteFile("p.par", "WeightFile = net.wgt TrainingFile = train.dat\nEpochs = 3\n" +
                                   std::string(c.settings) + "\n");
        const ProgramResult r = RunMpi(c.processes, "p.par", dir.Path());
        if (!c.refused) {
            EXPECT_EQ(r.status, 0) << r.err;
            EXPECT_EQ(r.out, RunSynapsor({"p.par"}, dir.Path()).out);
            continue;
        }
        const std::string& message =
            std::string(c.settings).find("Shuffle") != std::string::npos ? shuffle : online;
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        const std::string placed = *c.place ? c.place + message + "\n" : "";
        EXPECT_EQ(r.err, message + "\n" + placed);
        EXPECT_FALSE(std::filesystem::exists(dir.File("trained.wgt")));
    }
}

// Ctrl-C under mpirun: every process ends, no temporary network file stays, the destination
// stays as it was, and nothing waits for ever.
TEST(MpiRun, AnInterruptEndsEveryProcessAndLeavesNothingBehind) {
    TempDir dir;
    CopyExample(dir, "iris");
    dir.WriteFile("out.wgt", "the network of an earlier run\n");
    dir.WriteFile("p.par",
                  "WeightFile = net.wgt TrainingFile = train.dat DestinationFile = out.wgt "
                  "Epochs = 2000000000 BatchSize = 64\n");
#ifdef SYNAPSOR_MPI_NO_LEAK_CHECK
    setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
#endif
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    posix_spawn_file_actions_addchdir_np(&actions, dir.Path().c_str());
    std::vector<std::string> args = {SYNAPSOR_MPIEXEC,  "-q",   "--allow-run-as-root",
                                     "--oversubscribe", "-np",  "2",
                                     SYNAPSOR_MPI_EXE,  "p.par"};
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, args[0].c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    ASSERT_EQ(rc, 0);
    // The first epoch line: the run is in its epochs. mpirun follows its SIGTERM with SIGKILL at
    // once, so no temporary file is kept during them.
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    EXPECT_EQ(line.substr(0, 2), "1 ");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 4);
    kill(pid, SIGINT);
    // Standard output ends when every process has; a run still going after 30 s has hung.
    pollfd wait = {out[0], POLLIN, 0};
    char buf[4096];
    bool ended = false;
    for (int waited = 0; waited < 300 && !ended; ++waited) {
        if (poll(&wait, 1, 100) > 0)
            ended = read(out[0], buf, sizeof buf) <= 0;
    }
    close(out[0]);
    if (!ended)
        kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(ended) << "the processes did not end";
    EXPECT_NE(status, 0);
    std::string left;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path()))
        left += e.path().filename().string() + ' ';
    EXPECT_EQ(left.size(), std::string("net.wgt train.dat out.wgt p.par ").size()) << left;
    EXPECT_EQ(ReadText(dir.File("out.wgt")), "the network of an earlier run\n");
}

}  // namespace
}  // namespace test
}  // namespace synapsor
