// Fatal internal check. Used for conditions the code treats as impossible (broken invariants,
// unknown option words inside the trainer, ...). Always on, also in release builds: a failed
// check prints "Assertion failed: EXPR, file FILE, line N" on standard error and aborts.
#pragma once

namespace synapsor {

[[noreturn]] void AssertionFailed(const char* expr, const char* file, int line);

}  // namespace synapsor

#define SYN_ASSERT(expr) \
    ((expr) ? static_cast<void>(0) : ::synapsor::AssertionFailed(#expr, __FILE__, __LINE__))
