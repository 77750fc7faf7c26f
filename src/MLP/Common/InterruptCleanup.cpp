#include "MLP/Common/InterruptCleanup.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "Common/Assert.h"

namespace synapsor {

namespace {

// The handler reads only these. A path is written while the signals are blocked, and its armed
// flag says whether it is to be removed.
constexpr int kCleanupPlaces = 8;
char cleanupPaths[kCleanupPlaces][4096];
volatile sig_atomic_t armed[kCleanupPlaces] = {};

// Pending output: the bytes [0, pendingSize) of pendingText go to pendingFd. The text is stored
// before the size grows (a signal fence keeps that order), so the handler never writes bytes
// that are not there yet; the buffer is emptied only with the signals blocked.
constexpr std::size_t kPendingCapacity = 1 << 16;
char pendingText[kPendingCapacity];
volatile sig_atomic_t pendingSize = 0;
volatile sig_atomic_t pendingFd = -1;

void WritePending() {
    const int fd = pendingFd;
    if (fd < 0)
        return;
    const char* at = pendingText;
    std::size_t left = static_cast<std::size_t>(pendingSize);
    while (left > 0) {
        const ssize_t n = write(fd, at, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        at += n;
        left -= static_cast<std::size_t>(n);
    }
}

// Keeping the work: the first signal is only noted (the run ends its epoch and writes what it
// has); a second one ends the program as without.
volatile sig_atomic_t keepWork = 0;
volatile sig_atomic_t received = 0;

extern "C" void OnInterrupt(int signal) {
    if (keepWork && received == 0) {
        received = signal;
        return;
    }
    // The files go first: the output may block (a full pipe whose reader is ending too, as an
    // MPI launcher ending its job is) until a SIGKILL comes, and the files must be gone by then.
    for (int i = 0; i < kCleanupPlaces; ++i) {
        if (armed[i])
            unlink(cleanupPaths[i]);
    }
    WritePending();
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

void KeepWorkOnInterrupt(bool keep) {
    keepWork = keep ? 1 : 0;
}

int InterruptReceived() {
    return received;
}

void InstallInterruptCleanup() {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    action.sa_mask = InterruptSignals();
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGXFSZ, SIG_IGN);
}

BlockInterrupts::BlockInterrupts() {
    const sigset_t set = InterruptSignals();
    sigprocmask(SIG_BLOCK, &set, &previous);
}

BlockInterrupts::~BlockInterrupts() {
    sigprocmask(SIG_SETMASK, &previous, nullptr);
}

int RegisterInterruptCleanup(const std::string& path) {
    if (path.size() >= sizeof cleanupPaths[0])
        return -1;
    for (int i = 0; i < kCleanupPlaces; ++i) {
        if (!armed[i]) {
            std::memcpy(cleanupPaths[i], path.c_str(), path.size() + 1);
            armed[i] = 1;
            return i;
        }
    }
    return -1;
}

void ForgetInterruptCleanup(int registration) {
    if (registration >= 0 && registration < kCleanupPlaces)
        armed[registration] = 0;
}

PendingOutput::PendingOutput(int fd, bool eager, std::chrono::steady_clock::duration interval)
    : eager(eager), interval(interval), lastWrite(std::chrono::steady_clock::now()) {
    SYN_ASSERT(pendingFd < 0);
    BlockInterrupts blocked;
    pendingSize = 0;
    pendingFd = fd;
}

PendingOutput::~PendingOutput() {
    Flush();
    BlockInterrupts blocked;
    pendingFd = -1;
}

void PendingOutput::Append(const char* text, std::size_t size) {
    SYN_ASSERT(size < kPendingCapacity);
    if (static_cast<std::size_t>(pendingSize) + size > kPendingCapacity)
        Flush();
    std::memcpy(pendingText + pendingSize, text, size);
    std::atomic_signal_fence(std::memory_order_release);
    pendingSize = static_cast<sig_atomic_t>(pendingSize + static_cast<sig_atomic_t>(size));
    if (eager) {
        Flush();
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now - lastWrite >= interval) {
        Flush();
        lastWrite = now;
    }
}

void PendingOutput::Flush() {
    // Blocked, so that the handler cannot write the same bytes a second time.
    BlockInterrupts blocked;
    WritePending();
    pendingSize = 0;
}

}  // namespace synapsor
