// An interrupted program (SIGINT, SIGTERM) must not leave a half-written temporary file beside a
// destination, nor lose output it has already produced. The temporary files being written (a
// few at a time) are registered here, and so is at most one buffer of pending standard output
// (PendingOutput). The handler that InstallInterruptCleanup sets removes the registered files,
// then writes the pending output (which may block) and ends the program with status 128 + the
// signal number; it only calls unlink, write and _exit, which are safe in a handler. Calling
// InstallInterruptCleanup again puts the handler back (after a library replaced it). Without
// the handler installed, registering has no effect.
//
// InstallInterruptCleanup also ignores SIGXFSZ: a write beyond the file size limit then fails
// with EFBIG, which the writer reports and cleans up after, instead of the program dying with a
// partial temporary file left behind.
#pragma once

#include <signal.h>

#include <chrono>
#include <cstddef>
#include <string>

namespace synapsor {

void InstallInterruptCleanup();

// While on, the first SIGINT or SIGTERM only sets the number InterruptReceived returns (0 until
// then), so that a training run can finish its epoch and write its network; a second signal ends
// the program as the handler always does. Off by default.
void KeepWorkOnInterrupt(bool keep);
int InterruptReceived();

// Keeps SIGINT and SIGTERM waiting while it lives, so that creating, renaming or removing a
// registered file and updating the registration happen as one step for the handler.
class BlockInterrupts {
  public:
    BlockInterrupts();
    ~BlockInterrupts();
    BlockInterrupts(const BlockInterrupts&) = delete;
    BlockInterrupts& operator=(const BlockInterrupts&) = delete;

  private:
    sigset_t previous;
};

// Call with interrupts blocked. Returns the registration to forget later, or -1 when the path is
// too long to keep or every place is taken (the file is then not removed on an interrupt).
int RegisterInterruptCleanup(const std::string& path);
void ForgetInterruptCleanup(int registration);

// Text on its way to a file descriptor (standard output), collected in a fixed buffer so that
// many short lines cost one write. The handler writes what is pending before the program ends,
// so no line appended before an interrupt is lost. Lines are written at once when `eager`
// (standard output is a terminal, say), otherwise when `interval` has passed since the last
// write, when the buffer is full, on Flush and when the object goes away. Write errors are
// ignored, as for an output stream nobody checks. One object may exist at a time.
class PendingOutput {
  public:
    PendingOutput(int fd, bool eager,
                  std::chrono::steady_clock::duration interval = std::chrono::milliseconds(100));
    ~PendingOutput();
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;

    // Appends text (a line shorter than the buffer) and writes when it is due.
    void Append(const char* text, std::size_t size);
    void Flush();

  private:
    // The descriptor itself lives beside the buffer, where the signal handler reads it.
    bool eager;
    std::chrono::steady_clock::duration interval;
    std::chrono::steady_clock::time_point lastWrite;
};

}  // namespace synapsor
