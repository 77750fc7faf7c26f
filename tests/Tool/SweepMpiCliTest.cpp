// synapsor-tool sweep under mpirun, end to end: one rank or three give the table, the best
// parameter file and the refit network of one process run without MPI; a bad sweep file or data
// one rank cannot read ends all ranks with one message; an interrupt leaves no rank behind.
#include <dirent.h>
#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "Tool/SweepTestFiles.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

using test::CsvRows;
using test::ReadFile;
using test::WithoutSeconds;

// Open MPI refuses root and more processes than cores unless told; the MPI library's own
// memory is not ours to check for leaks.
void AllowMpirun() {
    setenv("OMPI_ALLOW_RUN_AS_ROOT", "1", 1);
    setenv("OMPI_ALLOW_RUN_AS_ROOT_CONFIRM", "1", 1);
    setenv("OMPI_MCA_rmaps_base_oversubscribe", "1", 1);
    const char* asan = std::getenv("ASAN_OPTIONS");
    setenv("ASAN_OPTIONS", (std::string(asan ? asan : "") + ":detect_leaks=0").c_str(), 1);
}

std::vector<std::string> RankArgs(int ranks, const std::vector<std::string>& args) {
    std::vector<std::string> all = {"-np", std::to_string(ranks), SYNAPSOR_TOOL_EXE};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

test::ProgramResult Mpirun(int ranks, const std::vector<std::string>& args,
                           const std::string& dir) {
    AllowMpirun();
    return test::RunProgram(SYNAPSOR_MPIEXEC, RankArgs(ranks, args), dir);
}

// The lines of `text` the program wrote (mpirun adds its own).
std::vector<std::string> ToolLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("synapsor-tool:", 0) == 0)
            lines.push_back(line);
    }
    return lines;
}

struct Outputs {
    std::string table, best, start, refit, bestLine;
};

// Runs the sweep in a directory of its own holding `files`; with ranks = 0 without mpirun.
Outputs Sweep(const std::map<std::string, std::string>& files, int ranks, const char* jobs) {
    test::TempDir dir;
    for (const auto& [name, text] : files)
        dir.WriteFile(name, text);
    const std::vector<std::string> args = {"sweep", "s.sweep", "-j", jobs, "--refit", "refit.wgt"};
    const test::ProgramResult r = ranks == 0 ? test::RunProgram(SYNAPSOR_TOOL_EXE, args, dir.Path())
                                             : Mpirun(ranks, args, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ToolLines(r.err), std::vector<std::string>{}) << r.err;
    Outputs out;
    out.table = WithoutSeconds(ReadFile(dir.File("sweep.csv")));
    out.best = ReadFile(dir.File("best.par"));
    out.start = ReadFile(dir.File("best.start.wgt"));
    out.refit = ReadFile(dir.File("refit.wgt"));
    out.bestLine = r.out.substr(r.out.rfind("best: "));
    return out;
}

TEST(SweepMpi, OneOrThreeRanksWriteWhatOneProcessWrites) {
    const std::string iris = ReadFile(std::string(SYNAPSOR_SOURCE_DIR) + "/examples/iris/iris.dat");
    struct Case {
        const char* name;
        std::map<std::string, std::string> files;
    } cases[] = {
        {"regression, validation file",
         {{"r.dat", test::RegressionData()},
          {"s.sweep",
           "TrainingFile = r.dat\nValidationFile = r.dat\nEpochs = 60\n"
           "LearningRate = 0.1 0.7\nBatch = false true\nHidden = 3 4,2\nSeeds = 1 2\n"}}},
        {"classes, folds",
         {{"iris.dat", iris},
          {"s.sweep",
           "TrainingFile = iris.dat\nEpochs = 20\nFolds = 3\nMomentum = 0 0.5\n"
           "LearningRate = 0.2 0.5\nHidden = 3 5\nSeeds = 1 2\n"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outputs alone = Sweep(c.files, 0, "2");
        ASSERT_GT(CsvRows(alone.table).size(), 4u);
        struct Run {
            int ranks;
            const char* jobs;
        } runs[] = {{1, "1"}, {3, "1"}, {3, "2"}};
        for (const Run& run : runs) {
            SCOPED_TRACE(std::to_string(run.ranks) + " ranks, -j " + run.jobs);
            const Outputs mpi = Sweep(c.files, run.ranks, run.jobs);
            EXPECT_EQ(mpi.table, alone.table);
            EXPECT_EQ(mpi.best, alone.best);
            EXPECT_EQ(mpi.start, alone.start);
            EXPECT_EQ(mpi.refit, alone.refit);
            EXPECT_EQ(mpi.bestLine, alone.bestLine);
        }
    }
}

TEST(SweepMpi, AFaultOnAnyRankEndsAllWithOneMessage) {
    test::TempDir dir;
    std::filesystem::create_directory(dir.File("blind"));
    dir.WriteFile("r.dat", test::RegressionData());
    const std::string good = "TrainingFile = r.dat\nFolds = 3\nEpochs = 5\nHidden = 2\n";
    dir.WriteFile("good.sweep", good);
    dir.WriteFile("blind/good.sweep", good);  // without r.dat beside it
    std::filesystem::create_directory(dir.File("stale"));
    std::string stale = test::RegressionData();
    stale[stale.find("[Data]\n") + 7] = '9';  // one row's first input: 0 becomes 9
    dir.WriteFile("stale/r.dat", stale);
    dir.WriteFile("stale/good.sweep", good);
    dir.WriteFile("bad.sweep", good + "Lernrate = 0.1\n");
    const std::string tool = SYNAPSOR_TOOL_EXE;
    struct Case {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {RankArgs(3, {"sweep", "bad.sweep"}),
         "synapsor-tool: bad.sweep:5:1: unknown key \"Lernrate\"; did you mean LearningRate?"},
        // Rank 2 works in a directory where the data cannot be found.
        {{"-np", "2", "--wdir", dir.Path(), tool, "sweep", "good.sweep", ":", "-np", "1", "--wdir",
          dir.File("blind"), tool, "sweep", "good.sweep"},
         "synapsor-tool: rank 2: good.sweep:1:16: Cannot open training file r.dat"},
        // Rank 1 reads a training file of the same name with another row.
        {{"-np", "1", "--wdir", dir.Path(), tool, "sweep", "good.sweep", ":", "-np", "2", "--wdir",
          dir.File("stale"), tool, "sweep", "good.sweep"},
         "synapsor-tool: rank 1: good.sweep: this process reads other settings or data than rank "
         "0"},
    };
    AllowMpirun();
    for (const Case& c : cases) {
        const test::ProgramResult r = test::RunProgram(SYNAPSOR_MPIEXEC, c.args, dir.Path());
        EXPECT_EQ(r.status, 1) << r.err;
        const std::vector<std::string> lines = ToolLines(r.err);
        ASSERT_EQ(lines.size(), 1u) << r.err;
        EXPECT_EQ(lines[0].substr(0, c.message.size()), c.message);
        EXPECT_EQ(ToolLines(r.out), std::vector<std::string>{});
        EXPECT_FALSE(std::filesystem::exists(dir.File("sweep.csv")));
        EXPECT_FALSE(std::filesystem::exists(dir.File("blind/sweep.csv")));
        EXPECT_FALSE(std::filesystem::exists(dir.File("stale/sweep.csv")));
    }
}

// The processes mpirun started, by their parent.
std::vector<pid_t> Children(pid_t parent) {
    std::vector<pid_t> children;
    DIR* proc = opendir("/proc");
    while (dirent* entry = proc ? readdir(proc) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string line;
        std::getline(stat, line);
        // pid (name) state ppid ...: the name may hold blanks, so read after its ')'.
        std::istringstream rest(line.substr(line.rfind(')') + 1));
        char state = 0;
        pid_t ppid = 0;
        if (rest >> state >> ppid && ppid == parent)
            children.push_back(pid);
    }
    if (proc != nullptr)
        closedir(proc);
    return children;
}

// Ctrl-C on mpirun: it passes SIGTERM on to the ranks and kills them a second later. A run here
// takes several seconds: the runs in flight are ended, the table of the finished runs is written
// in time, marked incomplete, and mpirun ends.
TEST(SweepMpi, AnInterruptWritesTheTableAndEndsEveryRank) {
    test::TempDir dir;
    dir.WriteFile("r.dat", test::RegressionData());
    dir.WriteFile("long.sweep",
                  "TrainingFile = r.dat\nValidationFile = r.dat\nEpochs = 2000000\n"
                  "LearningRate = 0.1 0.2 0.3 0.4 0.5 0.6 0.7 0.8 0.9 1\n"
                  "Hidden = 4\nSeeds = 1 2 3 4 5 6 7 8 9 10\n");
    AllowMpirun();
    std::vector<std::string> args = RankArgs(3, {"sweep", "long.sweep", "-j", "1"});
    args.insert(args.begin(), SYNAPSOR_MPIEXEC);
    const pid_t pid = test::StartWithOutput(dir.Path(), args);
    ASSERT_NE(pid, 0);
    // The runs have started once all three ranks hold the signals back.
    for (int i = 0; i < 2000; ++i) {
        const std::vector<pid_t> ranks = Children(pid);
        int holding = 0;
        for (pid_t rank : ranks)
            holding += test::HoldsSignalsBack(rank) ? 1 : 0;
        if (holding == 3)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(pid, SIGINT);
    // mpirun's own limit is a second after the signal; a rank left waiting would hold it up.
    const auto start = std::chrono::steady_clock::now();
    int wstatus = 0;
    pid_t ended = 0;
    while ((ended = waitpid(pid, &wstatus, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(30)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (ended != pid) {
        kill(pid, SIGKILL);
        waitpid(pid, &wstatus, 0);
        FAIL() << "mpirun did not end after the interrupt";
    }
    EXPECT_EQ(ReadFile(dir.File("out.txt")).rfind("incomplete: ", 0), 0u)
        << ReadFile(dir.File("out.txt"));
    const auto rows = CsvRows(ReadFile(dir.File("sweep.csv")));
    ASSERT_EQ(rows.size(), 11u);
    int finished = 0;
    for (std::size_t r = 1; r < rows.size(); ++r)
        finished += std::stoi(rows[r][6]);
    EXPECT_LT(finished, 100);
    EXPECT_FALSE(std::filesystem::exists(dir.File("best.par")));
}

}  // namespace
}  // namespace synapsor
