#pragma once
// Runs a program, or a job in a forked copy of the test, and reports what it
// produced, how long it took and the peak resident memory the kernel saw.

#include <chrono>
#include <functional>
#include <string>

#include "tests/support/child_process.h"

namespace kelvara::test {

struct MeasuredRun {
    bool finished = false;  // the job ended within its time and reported back
    int exit_status = -1;
    std::string out;
    std::string err;
    double seconds = 0;
    long peak_kib = 0;   // ru_maxrss of the program, or of the forked copy
    long start_kib = 0;  // for a job: VmRSS of the forked copy when it began
};

// Built with AddressSanitizer: every process then carries the sanitizer's
// shadow memory and quarantine, and absolute memory figures mean little.
constexpr bool address_sanitizer_build()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

// Runs command through run_child (killed after timeout), started by a small
// launcher so that the peak is the program's own.
MeasuredRun run_measured(const ChildCommand& command, std::chrono::milliseconds timeout);

// Runs job in a forked copy of this process; its result is the output. The
// peak then includes what the copy started with (start_kib). The copy is
// killed when it outlives timeout.
MeasuredRun run_measured(const std::function<std::string()>& job, std::chrono::milliseconds timeout);

}  // namespace kelvara::test
