// Runs a program as a child process and captures its standard output, standard error and exit
// status separately, for end-to-end tests of the Synapsor binary. Standard input is /dev/null.
// Both pipes are drained together, so a child that writes much to either never blocks.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

extern char** environ;

namespace synapsor {
namespace test {

struct ProgramResult {
    std::string out;  // everything written to standard output
    std::string err;  // everything written to standard error
    int status = -1;  // exit status, or 128 + signal number when killed by a signal
};

// The Synapsor binary under test (set by the build for the end-to-end tests).
inline std::string SynapsorPath() {
#ifdef SYNAPSOR_EXE
    return SYNAPSOR_EXE;
#else
    const char* dir = std::getenv("SYNAPSOR_BIN");
    return std::string(dir ? dir : ".") + "/Synapsor";
#endif
}

// Runs program with args (argv[0] is the program path) in workdir (empty: the current
// directory). Throws std::runtime_error when the child cannot be started at all.
inline ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                                const std::string& workdir = "") {
    int outPipe[2];
    int errPipe[2];
    if (pipe(outPipe) != 0)
        throw std::runtime_error("pipe failed");
    if (pipe(errPipe) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        throw std::runtime_error("pipe failed");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]}) {
        posix_spawn_file_actions_addclose(&actions, fd);
    }
    if (!workdir.empty())
        posix_spawn_file_actions_addchdir_np(&actions, workdir.c_str());

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + program);
    }

    ProgramResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    for (const pollfd& p : fds) {
        if (p.fd >= 0)
            close(p.fd);
    }

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus))
        result.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus))
        result.status = 128 + WTERMSIG(wstatus);
    return result;
}

inline ProgramResult RunSynapsor(const std::vector<std::string>& args,
                                 const std::string& workdir = "") {
    return RunProgram(SynapsorPath(), args, workdir);
}

}  // namespace test
}  // namespace synapsor
