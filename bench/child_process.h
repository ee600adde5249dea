#pragma once
// Starting the built programs as child processes for timing: a chosen
// environment and working folder, standard output captured, every wait
// bounded, and every child stopped before its handle goes away. A child also
// dies with the bench, should the bench be killed first.

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kelvara::bench {

struct ChildCommand {
    std::vector<std::string> argv;        // argv[0] is the program's path
    std::vector<std::string> environment; // "NAME=value" entries added to or replacing ours
    std::string directory;                // working folder; empty keeps ours
};

// How a child that ran to its end went.
struct ChildExit {
    bool exited = false;             // false: it had to be killed at the deadline
    int status = -1;                 // exit status when it exited
    std::chrono::nanoseconds elapsed{0};  // from just before the fork to its exit
    long peak_rss_kib = 0;           // its peak resident memory
    std::string output;              // what it wrote on standard output
};

// Runs a child to its end, at most for limit; standard error is discarded.
ChildExit run_child(const ChildCommand& command, std::chrono::milliseconds limit);

// A child that keeps running (a server). The destructor stops it.
class RunningChild {
public:
    RunningChild() = default;
    ~RunningChild();
    RunningChild(const RunningChild&) = delete;
    RunningChild& operator=(const RunningChild&) = delete;

    // Starts the child; false when it could not be started.
    bool start(const ChildCommand& command);
    // Reads its standard output until a line begins with prefix; false when
    // the child ends or limit passes first.
    bool wait_for_line(const std::string& prefix, std::chrono::milliseconds limit);
    // Its peak resident memory so far (VmHWM), in KiB; nothing when unknown.
    std::optional<long> peak_rss_kib() const;
    bool running() const;
    // SIGTERM, a bounded wait, then SIGKILL; always reaps it.
    void stop();

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int output_fd_ = -1;
    std::string pending_;
};

}  // namespace kelvara::bench
