#pragma once
// The cost of one modem-line style ioctl round trip into the kernel's tty
// layer, measured on a pseudo-terminal so that no serial port of the machine
// is ever opened.

#include <chrono>
#include <string>

namespace kelvara::bench {

struct IoctlCost {
    bool measured = false;
    std::string request;             // the ioctl that was timed, e.g. "TCGETS"
    std::chrono::nanoseconds per_call{0};  // median over the batches
    std::string failure;             // why nothing was measured
};

// Times batches of calls on a fresh pseudo-terminal and takes the median of
// the per-call times. TIOCMGET is tried first (what a modem-status read uses);
// a pseudo-terminal refuses it, and TCGETS, the same round trip through the
// tty layer, takes its place.
IoctlCost measure_pty_ioctl_cost(int batches = 21, int calls_per_batch = 5000);

}  // namespace kelvara::bench
