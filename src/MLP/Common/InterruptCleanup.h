// An interrupted run (SIGINT, SIGTERM) must not leave a half-written temporary file beside its
// destination. The one file being written at a time is registered here; the handler that
// InstallInterruptCleanup sets removes it and ends the program with status 128 + the signal
// number, and does nothing else (it only calls unlink and _exit, which are safe in a handler).
// Without the handler installed, registering a file has no effect.
#pragma once

#include <signal.h>

#include <string>

namespace synapsor {

void InstallInterruptCleanup();

// Keeps SIGINT and SIGTERM waiting while it lives, so that creating, renaming or removing the
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

// Call with interrupts blocked. A path too long to keep is not registered.
void RegisterInterruptCleanup(const std::string& path);
void ForgetInterruptCleanup();

}  // namespace synapsor
