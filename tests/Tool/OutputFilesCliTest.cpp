// synapsor-tool never destroys or loses a file: one file named for two outputs, or for an output
// and an input, is refused; a failing command replaces none of its outputs; symbolic links,
// devices and FIFOs are written through instead of being replaced; an interrupt or the file
// size limit leaves no temporary file behind. Every case checks the directory afterwards.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/FifoReader.h"
#include "cli/RunProgram.h"
#include "cli/TempDir.h"

namespace synapsor {
namespace {

namespace fs = std::filesystem;

test::ProgramResult Tool(const std::vector<std::string>& args, const std::string& dir) {
    return test::RunProgram(SYNAPSOR_TOOL_EXE, args, dir);
}

std::string ReadFile(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// The first line of standard error is the message; a usage error adds the usage after it.
class OutputFilesTest : public ::testing::Test {
  protected:
    OutputFilesTest() {
        dir.WriteFile("k.csv", "a,b,c\n1,2,3\n4,5,6\n7,8,9\n1,1,2\n");
        dir.WriteFile("log.txt", "1 0.5\n2 0.25\n");
        EXPECT_EQ(Tool({"create", "--layers", "2,2,1", "--seed", "1", "-o", "net.wgt"}, dir.Path())
                      .status,
                  0);
        EXPECT_EQ(Tool({"import", "k.csv", "--targets", "c", "-o", "d.dat"}, dir.Path()).status, 0);
        dir.WriteFile("old.dat", "an earlier data set\n");
        dir.WriteFile("old.prep", "an earlier preparation\n");
        fs::create_directory(dir.File("sub"));
    }

    // Every entry below the directory: the files' contents, the links' targets.
    std::map<std::string, std::string> Contents() const {
        std::map<std::string, std::string> all;
        for (const auto& e : fs::recursive_directory_iterator(dir.Path())) {
            const std::string name = e.path().lexically_relative(dir.Path()).string();
            if (e.is_symlink())
                all[name] = "-> " + fs::read_symlink(e.path()).string();
            else if (e.is_regular_file())
                all[name] = ReadFile(e.path().string());
            else
                all[name] = "(not a file)";
        }
        return all;
    }

    test::TempDir dir;
};

// Each command fails with its message on the first line of standard error (a usage error adds
// the usage) and leaves the directory exactly as it was.
TEST_F(OutputFilesTest, RefusedOrFailingCommandsReplaceNothing) {
    fs::create_symlink("old.dat", dir.File("alias.dat"));
    fs::create_symlink("sub/later.dat", dir.File("later.dat"));
    ASSERT_EQ(link(dir.File("d.dat").c_str(), dir.File("hard.dat").c_str()), 0);
    const std::string split = "--split: must lie between 0 and 1 (both excluded), not ";
    const struct {
        int status;
        std::string message;  // after "synapsor-tool: "
        std::vector<std::string> args;
    } cases[] = {
        {1,
         "Cannot write data set file \"s.dat\": it is the same file as the data set file "
         "\"s.dat\" this command writes",
         {"import", "k.csv", "-o", "s.dat", "--split", "0.5", "--test-out", "s.dat"}},
        // Neither exists yet: the paths are compared.
        {1,
         "Cannot write data set file \"sub/../s.dat\": it is the same file as the data set "
         "file \"s.dat\" this command writes",
         {"import", "k.csv", "-o", "s.dat", "--split", "0.5", "--test-out", "sub/../s.dat"}},
        // Both exist: device and inode, whatever the path says (a link, a hard link).
        {1,
         "Cannot write data set file \"alias.dat\": it is the same file as the data set file "
         "\"old.dat\" this command writes",
         {"import", "k.csv", "-o", "old.dat", "--split", "0.5", "--test-out", "alias.dat"}},
        {1,
         "Cannot write CSV file \"d.dat\": it is the same file as the input \"hard.dat\" this "
         "command reads",
         {"export", "hard.dat", "-o", "d.dat"}},
        // A link to a file not yet there names that file.
        {1,
         "Cannot write data set file \"sub/later.dat\": it is the same file as the data set "
         "file \"later.dat\" this command writes",
         {"import", "k.csv", "-o", "later.dat", "--split", "0.5", "--test-out", "sub/later.dat"}},
        {1,
         "Cannot write data set file \"x\": it is the same file as the preparation file \"x\" "
         "this command writes",
         {"import", "k.csv", "-o", "x", "--prep-out", "x"}},
        {1,
         "Cannot write data set file \"./k.csv\": it is the same file as the input \"k.csv\" "
         "this command reads",
         {"import", "k.csv", "-o", "./k.csv"}},
        {1,
         "Cannot write CSV file \"r.out\": it is the same file as the data set file \"r.out\" "
         "this command writes",
         {"recall", "net.wgt", "d.dat", "-o", "r.out", "--csv", "r.out"}},
        {1,
         "Cannot write CSV file \"net.wgt\": it is the same file as the input \"net.wgt\" this "
         "command reads",
         {"recall", "net.wgt", "d.dat", "--csv", "net.wgt"}},
        {1,
         "Cannot write SVG file \"log.txt\": it is the same file as the input \"log.txt\" this "
         "command reads",
         {"plot", "log.txt", "-o", "log.txt"}},
        {1,
         "Cannot write network file \"sub/../net.wgt\": it is the same file as the input "
         "\"net.wgt\" this command reads",
         {"prune", "net.wgt", "--threshold", "0.01", "-o", "sub/../net.wgt"}},
        // The last destination cannot be claimed: the others are not replaced.
        {1,
         "Cannot write data set file \"none/t.dat\": No such file or directory",
         {"import", "k.csv", "-o", "old.dat", "--prep-out", "old.prep", "--split", "0.5",
          "--test-out", "none/t.dat"}},
        // The files are written, then the device fails: they are not moved into place.
        {1,
         "Cannot write preparation file \"/dev/full\": No space left on device",
         {"import", "k.csv", "-o", "old.dat", "--prep-out", "/dev/full"}},
        {1,
         "Cannot write CSV file \"/dev/full\": No space left on device",
         {"recall", "net.wgt", "d.dat", "-o", "old.dat", "--csv", "/dev/full"}},
        {2, split + "1", {"import", "k.csv", "-o", "old.dat", "--split", "1", "--test-out", "t"}},
        {2,
         split + "nan",
         {"import", "k.csv", "-o", "old.dat", "--split", "nan", "--test-out", "t"}},
        {2, split + "0", {"import", "k.csv", "-o", "old.dat", "--split", "0", "--test-out", "t"}},
        {2,
         split + "inf",
         {"import", "k.csv", "-o", "old.dat", "--split", "inf", "--test-out", "t"}},
        {2,
         split + "0.5x",
         {"import", "k.csv", "-o", "old.dat", "--split", "0.5x", "--test-out", "t"}},
        {1,
         "--split 0.9 of 4 rows leaves the second data set empty",
         {"import", "k.csv", "-o", "old.dat", "--split", "0.9", "--test-out", "t"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        const std::map<std::string, std::string> before = Contents();
        const test::ProgramResult r = Tool(c.args, dir.Path());
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(FirstLine(r.err), "synapsor-tool: " + c.message);
        EXPECT_EQ(Contents(), before);
    }
}

TEST_F(OutputFilesTest, LinksDevicesAndFifosAreWrittenThroughNotReplaced) {
    const std::string expected = Tool({"import", "k.csv", "-o", "-"}, dir.Path()).out;
    ASSERT_NE(expected, "");

    fs::create_symlink("old.dat", dir.File("link.dat"));
    test::ProgramResult r = Tool({"import", "k.csv", "-o", "link.dat"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.File("link.dat")));
    EXPECT_EQ(ReadFile(dir.File("old.dat")), expected);

    // A link to a file that does not exist yet creates that file.
    fs::create_symlink("sub/new.dat", dir.File("ahead.dat"));
    r = Tool({"import", "k.csv", "-o", "ahead.dat"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir.File("ahead.dat")));
    EXPECT_EQ(ReadFile(dir.File("sub/new.dat")), expected);

    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    test::FifoReader reader(dir.File("fifo"));
    r = Tool({"import", "k.csv", "-o", "fifo"}, dir.Path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(reader.Text(), expected);
    EXPECT_EQ(fs::status(dir.File("fifo")).type(), fs::file_type::fifo);

    r = Tool({"plot", "log.txt", "-o", "/dev/full"}, dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "synapsor-tool: Cannot write SVG file \"/dev/full\": No space left on device\n");
    EXPECT_EQ(fs::status("/dev/full").type(), fs::file_type::character);

    r = Tool({"create", "--layers", "2,1", "-o", "sub"}, dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "synapsor-tool: Cannot write network file \"sub\": it is a directory\n");
}

TEST_F(OutputFilesTest, OverTheFileSizeLimitTheWriteFailsAndLeavesNothing) {
    std::ostringstream csv;
    csv << "a,b\n";
    for (int i = 0; i < 2000; ++i)
        csv << i << ',' << i * 7 % 13 << '\n';
    dir.WriteFile("big.csv", csv.str());
    const std::map<std::string, std::string> before = Contents();
    // The limit is set in a shell that then becomes the tool; its output goes to pipes, which the
    // limit does not concern.
    const test::ProgramResult r =
        test::RunProgram("/bin/sh",
                         {"-c", "ulimit -f 8 && exec \"$0\" \"$@\"", SYNAPSOR_TOOL_EXE, "import",
                          "big.csv", "-o", "big.dat"},
                         dir.Path());
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "synapsor-tool: warning: big.csv: column \"a\" holds a different whole number in "
              "every row, like an id (leave it out with --drop a)\n"
              "synapsor-tool: Cannot write data set file \"big.dat\": File too large\n");
    EXPECT_EQ(Contents(), before);
}

// import with its data set to a file and its preparation to a FIFO nobody reads: the data set's
// temporary file is written, then the tool waits to open the FIFO. An interrupt then must remove
// the temporary file and leave the old data set.
TEST_F(OutputFilesTest, AnInterruptRemovesTheTemporaryFiles) {
    ASSERT_EQ(mkfifo(dir.File("fifo").c_str(), 0600), 0);
    const std::map<std::string, std::string> before = Contents();
    for (const int signal : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(signal);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addchdir_np(&actions, dir.Path().c_str());
        const std::vector<std::string> args = {SYNAPSOR_TOOL_EXE, "import",     "k.csv", "-o",
                                               "old.dat",         "--prep-out", "fifo"};
        std::vector<char*> argv;
        for (const std::string& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        bool seen = false;
        for (int i = 0; i < 500 && !seen; ++i) {
            for (const auto& e : fs::directory_iterator(dir.Path()))
                seen = seen || e.path().filename().string().rfind(".old.dat.tmp-", 0) == 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_TRUE(seen) << "the temporary file beside old.dat";
        kill(pid, signal);
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        EXPECT_TRUE(WIFEXITED(wstatus)) << "ended by the signal itself: no handler ran";
        EXPECT_EQ(WEXITSTATUS(wstatus), 128 + signal);
        EXPECT_EQ(Contents(), before);
    }
}

}  // namespace
}  // namespace synapsor
