// Several outputs written all or none, and standard output that an interrupt does not lose: the
// pending text is written when due and by the handler, each byte once.
#include "MLP/Common/OutputSet.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

#include "MLP/Common/InterruptCleanup.h"
#include "cli/TempDir.h"

namespace synapsor {

namespace {

std::string Contents(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Entries(const test::TempDir& dir) {
    const std::filesystem::directory_iterator it(dir.Path());
    return static_cast<int>(std::distance(begin(it), end(it)));
}

// What can be read from the pipe now, without waiting.
std::string Available(int fd) {
    std::string text;
    char buf[256];
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    ssize_t n = 0;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<std::size_t>(n));
    fcntl(fd, F_SETFL, flags);
    return text;
}

TEST(OutputSet, AFailingWriterReplacesNothingAndLeavesNoTemporaryFile) {
    test::TempDir dir;
    dir.WriteFile("a", "old a");
    dir.WriteFile("b", "old b");
    std::ostringstream console;
    {
        OutputSet outputs(console);
        outputs.Add("first", dir.File("a"), [](std::ostream& out) { out << "new a"; });
        outputs.Add("console", "-", [](std::ostream& out) { out << "to the console"; });
        outputs.Add("second", dir.File("b"),
                    [](std::ostream&) { throw std::runtime_error("no value"); });
        EXPECT_THROW(outputs.Commit(), std::runtime_error);
    }
    EXPECT_EQ(Contents(dir.File("a")), "old a");
    EXPECT_EQ(Contents(dir.File("b")), "old b");
    EXPECT_EQ(console.str(), "");
    EXPECT_EQ(Entries(dir), 2);
}

TEST(PendingOutput, WritesWhenDue) {
    using std::chrono::hours;
    using std::chrono::steady_clock;
    const struct {
        bool eager;
        steady_clock::duration interval;
        std::string atOnce;  // readable right after the two lines
    } cases[] = {
        {true, hours(1), "1 0.5\n2 0.25\n"},
        {false, steady_clock::duration::zero(), "1 0.5\n2 0.25\n"},
        {false, hours(1), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.eager);
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        {
            PendingOutput out(pipeEnds[1], c.eager, c.interval);
            out.Append("1 0.5\n", 6);
            out.Append("2 0.25\n", 7);
            EXPECT_EQ(Available(pipeEnds[0]), c.atOnce);
            out.Append("3 0.125\n", 8);
        }
        // The rest is written when the object goes, each line once.
        EXPECT_EQ(c.atOnce + Available(pipeEnds[0]), "1 0.5\n2 0.25\n3 0.125\n");
        close(pipeEnds[0]);
        close(pipeEnds[1]);
    }
}

// A child collects lines that are not due yet and is interrupted: the handler writes them, removes
// the registered temporary file and exits with 128 + the signal.
TEST(PendingOutput, AnInterruptWritesThePendingLinesAndRemovesTheTemporaryFile) {
    test::TempDir dir;
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            InstallInterruptCleanup();
            PendingFile file("network file", dir.File("out.wgt"));
            PendingOutput out(pipeEnds[1], false, std::chrono::hours(1));
            out.Append("1 0.5\n", 6);
            out.Flush();
            out.Append("2 0.25\n", 7);
            out.Append("3 0.125\n", 8);
            raise(signal);
            _exit(0);  // not reached when the handler runs
        }
        close(pipeEnds[1]);
        std::string text;
        char buf[256];
        ssize_t n = 0;
        while ((n = read(pipeEnds[0], buf, sizeof buf)) > 0)
            text.append(buf, static_cast<std::size_t>(n));
        close(pipeEnds[0]);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
        EXPECT_EQ(text, "1 0.5\n2 0.25\n3 0.125\n");
        EXPECT_EQ(Entries(dir), 0);
    }
}

}  // namespace

}  // namespace synapsor
