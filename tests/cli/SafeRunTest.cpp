// Runs that must fail safely: data holding nan or inf, a diverging run, a destination that cannot
// be written, faults in the network and data set files, and an interrupted run. Each must give
// its exact lines on both streams, run no epoch where none may run, and leave an existing
// destination and the directory exactly as they were.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "cli/FifoReader.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"
#include "cli/TrainingFiles.h"

namespace synapsor {
namespace test {

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::string Replace(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// The one-weight problem of the training run tests (net.wgt, train.dat), with an existing
// destination out.wgt that every failed run must leave alone.
class SafeRunTest : public ::testing::Test {
  protected:
    SafeRunTest() {
        dir.WriteFile("net.wgt", LinearNetwork(1, 1, 0.5));
        dir.WriteFile("train.dat", DataSet(1, 1, {{1, 1}, {2, 0.5}}));
        dir.WriteFile("out.wgt", "the network of an earlier run\n");
        std::filesystem::create_directory(dir.File("sub"));
    }

    void WriteParameters(const std::string& settings) {
        dir.WriteFile("p.par",
                      "WeightFile = net.wgt TrainingFile = train.dat DestinationFile = out.wgt "
                      "LearningRate = 0.25 Momentum = 0.5\n" +
                          settings);
    }

    // Every file and directory below the directory, with the files' contents.
    std::map<std::string, std::string> Contents() const {
        std::map<std::string, std::string> all;
        for (const auto& e : std::filesystem::recursive_directory_iterator(dir.Path())) {
            if (e.is_directory()) {
                all[e.path().string()] = "(directory)";
                continue;
            }
            std::ifstream in(e.path(), std::ios::binary);
            all[e.path().string()] =
                std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        return all;
    }

    TempDir dir;
};

TEST_F(SafeRunTest, BadRunsSayWhatAndWhereAndLeaveEverythingAsItWas) {
    const std::string network = LinearNetwork(1, 1, 0.5);
    const std::string data = DataSet(1, 1, {{1, 1}, {2, 0.5}});
    const struct {
        std::string file;  // written first, unless empty
        std::string text;
        std::string settings;
        std::string out;
        std::string err;
    } cases[] = {
        {"nan.dat", DataSet(1, 1, {{1, 1}, {kNaN, 0.5}}), "Epochs = 1 TrainingFile = nan.dat", "",
         "Training file nan.dat, row 2, column 1: nan is not a finite number\n"},
        {"inf.dat", DataSet(1, 1, {{1, kInf}}), "Epochs = 1 TrainingFile = inf.dat", "",
         "Training file inf.dat, row 1, column 2: inf is not a finite number\n"},
        // One row (1, 0): error |w|, and w becomes w * (1 - 1e30) each epoch: 0.5, about 5e29,
        // then about 5e59, which single precision cannot hold.
        {"one.dat", DataSet(1, 1, {{1, 0}}),
         "Epochs = 9 TrainingFile = one.dat LearningRate = 1e30 Momentum = 0",
         "1 0.5\n2 5e+29\n3 inf\n",
         "Training diverged in epoch 3: the error is not a finite number (LearningRate 1e+30, "
         "Momentum 0); try a smaller learning rate\n"},
        // w = 0 and the row (1e300, -1): the error is 1, but the change 1e10 * 1 * 1e300 is not a
        // finite number.
        {"zero.wgt", LinearNetwork(1, 1, 0.0),
         "Epochs = 1 WeightFile = zero.wgt TrainingFile = huge.dat LearningRate = 1e10 Momentum = "
         "0",
         "1 1\n",
         "Training diverged in epoch 1: the weights are not finite numbers (LearningRate 1e+10, "
         "Momentum 0); try a smaller learning rate\n"},
        {"", "", "Epochs = 3 DestinationFile = no/such/dir/out.wgt",
         "Cannot write network file \"no/such/dir/out.wgt\": No such file or directory\n", ""},
        {"", "", "Epochs = 3 WeightFile = none.wgt", "Error on File Open\n",
         "none.wgt: cannot open: No such file or directory\n"},
        {"cut.wgt", Replace(network, "[~NeuralNetwork]\n", ""), "Epochs = 1 WeightFile = cut.wgt",
         "Unexpected end of file\n", "cut.wgt:29:1: Unexpected end of file (found end of file)\n"},
        {"layer.wgt", Replace(network, "[Layer = 1]", "[Layer = x]"),
         "Epochs = 1 WeightFile = layer.wgt", "integer-expected\n",
         "layer.wgt:12:10: integer-expected (found \"x\")\n"},
        {"value.dat", Replace(data, "2 0.5", "2 O.5"), "Epochs = 1 TrainingFile = value.dat",
         "number-expected\n", "value.dat:7:3: number-expected (found \"O.5\")\n"},
        {"rows.dat", Replace(data, "[Rows = 2]", "[Rows = 3]"),
         "Epochs = 1 TrainingFile = rows.dat", "Token (number) expected\n",
         "rows.dat:8:1: Token (number) expected (found \"[~Data]\")\n"},
    };
    dir.WriteFile("huge.dat", DataSet(1, 1, {{1e300, -1}}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings);
        if (!c.file.empty())
            dir.WriteFile(c.file, c.text);
        WriteParameters(c.settings);
        const std::map<std::string, std::string> before = Contents();
        const ProgramResult r = RunSynapsor({"p.par"}, dir.Path());
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.err, c.err);
        EXPECT_EQ(Contents(), before);
    }
}

TEST_F(SafeRunTest, ByteOrderMarksAreSkippedInEveryFile) {
    const std::string mark = "\xEF\xBB\xBF";
    dir.WriteFile("net.wgt", mark + LinearNetwork(1, 1, 0.5));
    dir.WriteFile("train.dat", mark + DataSet(1, 1, {{1, 1}, {2, 0.5}}));
    dir.WriteFile("p.par", mark +
                               "WeightFile = net.wgt TrainingFile = train.dat "
                               "DestinationFile = out.wgt LearningRate = 0.25 Momentum = 0.5 "
                               "Epochs = 1\n");
    ProgramResult r = RunSynapsor({"p.par"}, dir.Path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "1 0.637377\n");
    EXPECT_EQ(r.err, "");
    // Columns count from after the mark.
    dir.WriteFile("train.dat", mark + "[DataSet] [Rows = x]");
    r = RunSynapsor({"p.par"}, dir.Path());
    EXPECT_EQ(r.err, "train.dat:1:19: integer-expected (found \"x\")\n");
}

// Starts Synapsor in dir with standard output on a pipe, waits for its first epoch line, checks
// that the temporary file exists then, sends the signals and returns the exit status; `text`
// receives all of standard output. The program is stopped while the signals are sent, so that
// they arrive together.
int InterruptAfterFirstEpoch(const TempDir& dir, std::vector<int> signals, std::size_t filesBefore,
                             std::string& text) {
    int out[2];
    if (pipe(out) != 0)
        return -1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    posix_spawn_file_actions_addchdir_np(&actions, dir.Path().c_str());
    const std::string program = SynapsorPath();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("p.par"), nullptr};
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return -1;
    }
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n')
        line += c;
    EXPECT_EQ(line, "1 0.637377");
    text = line + '\n';
    std::size_t files = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.Path())) {
        static_cast<void>(e);
        ++files;
    }
    EXPECT_EQ(files, filesBefore + 1) << "the temporary file beside out.wgt";
    kill(pid, SIGSTOP);
    for (int signal : signals)
        kill(pid, signal);
    kill(pid, SIGCONT);
    char buf[4096];
    ssize_t n = 0;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFSIGNALED(wstatus))
        return 1000 + WTERMSIG(wstatus);  // ended by the signal itself: no handler ran
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
}

// The first signal lets the run finish its epoch and write the network of that epoch (the very
// file a run of that many epochs writes); a second one ends it at once, writing nothing.
TEST_F(SafeRunTest, InterruptedRunWritesItsLastEpochAndASecondSignalWritesNothing) {
    WriteParameters("Epochs = 2000000000");
    const std::map<std::string, std::string> before = Contents();
    const std::vector<int> kSignals[] = {{SIGINT}, {SIGTERM}, {SIGINT, SIGTERM}};
    for (const std::vector<int>& signals : kSignals) {
        SCOPED_TRACE(signals.size() == 1 ? signals[0] : 0);
        dir.WriteFile("out.wgt", "the network of an earlier run\n");
        WriteParameters("Epochs = 2000000000");
        std::string text;
        EXPECT_EQ(InterruptAfterFirstEpoch(dir, signals, 5, text), 128 + signals.back());
        // The lines collected before the signal are written, each whole, none twice.
        std::istringstream lines(text);
        std::string line;
        long expected = 1;
        while (std::getline(lines, line)) {
            EXPECT_EQ(line.substr(0, line.find(' ')), std::to_string(expected)) << line;
            ++expected;
        }
        ASSERT_EQ(text.back(), '\n');
        if (signals.size() == 2) {
            EXPECT_EQ(Contents(), before);
            continue;
        }
        const std::string written = Contents()[dir.File("out.wgt")];
        EXPECT_NE(written, before.at(dir.File("out.wgt")));
        WriteParameters("Epochs = " + std::to_string(expected - 1) +
                        " DestinationFile = again.wgt");
        ASSERT_EQ(RunSynapsor({"p.par"}, dir.Path()).status, 0);
        EXPECT_EQ(Contents()[dir.File("again.wgt")], written) << "after " << expected - 1;
        std::filesystem::remove(dir.File("again.wgt"));
    }
}

// A link is followed (its target replaced, the link kept), a FIFO and a device are written to
// directly and stay what they are.
TEST_F(SafeRunTest, DestinationsThatAreNoRegularFileAreWrittenThrough) {
    WriteParameters("Epochs = 1 DestinationFile = plain.wgt");
    ASSERT_EQ(RunSynapsor({"p.par"}, dir.Path()).status, 0);
    const std::string network = Contents()[dir.File("plain.wgt")];
    ASSERT_NE(network, "");

    std::filesystem::create_symlink("out.wgt", dir.File("link.wgt"));
    WriteParameters("Epochs = 1 DestinationFile = link.wgt");
    ProgramResult r = RunSynapsor({"p.par"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.wgt")));
    EXPECT_EQ(Contents()[dir.File("out.wgt")], network);

    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    WriteParameters("Epochs = 1 DestinationFile = fifo");
    FifoReader reader(dir.File("fifo"));
    r = RunSynapsor({"p.par"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(reader.Text(), network);
    EXPECT_EQ(std::filesystem::status(dir.File("fifo")).type(), std::filesystem::file_type::fifo);

    WriteParameters("Epochs = 1 DestinationFile = /dev/full");
    r = RunSynapsor({"p.par"}, dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out,
              "1 0.637377\nCannot write network file \"/dev/full\": No space left on device\n");
    EXPECT_EQ(std::filesystem::status("/dev/full").type(), std::filesystem::file_type::character);
}

// Over the file size limit the network file fails with a message, and its temporary file goes.
TEST_F(SafeRunTest, OverTheFileSizeLimitTheRunFailsAndLeavesNothing) {
    WriteParameters("Epochs = 1");
    const std::map<std::string, std::string> before = Contents();
    const ProgramResult r =
        RunProgram("/bin/sh", {"-c", "ulimit -f 0 && exec \"$0\" \"$@\"", SynapsorPath(), "p.par"},
                   dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "1 0.637377\nCannot write network file \"out.wgt\": File too large\n");
    EXPECT_EQ(Contents(), before);
}

}  // namespace

}  // namespace test
}  // namespace synapsor
