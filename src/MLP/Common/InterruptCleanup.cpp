#include "MLP/Common/InterruptCleanup.h"

#include <unistd.h>

#include <cstring>

namespace synapsor {

namespace {

// The handler reads only these: the path is written while the signals are blocked, and armed
// says whether it is to be removed.
char cleanupPath[4096];
volatile sig_atomic_t armed = 0;

extern "C" void OnInterrupt(int signal) {
    if (armed)
        unlink(cleanupPath);
    _exit(128 + signal);
}

sigset_t InterruptSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
}

}  // namespace

void InstallInterruptCleanup() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

BlockInterrupts::BlockInterrupts() {
    const sigset_t set = InterruptSignals();
    sigprocmask(SIG_BLOCK, &set, &previous);
}

BlockInterrupts::~BlockInterrupts() {
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

void RegisterInterruptCleanup(const std::string& path) {
    armed = 0;
    if (path.size() >= sizeof cleanupPath)
        return;
    std::memcpy(cleanupPath, path.c_str(), path.size() + 1);
    armed = 1;
}

void ForgetInterruptCleanup() {
    armed = 0;
}

}  // namespace synapsor
