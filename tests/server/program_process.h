#pragma once
// A program of the build run in the background, its standard output and
// error going to files in the test's temporary folder, with bounded waits for
// what it prints. The child is killed when the object goes away.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace kelvara::test {

class ProgramProcess {
public:
    // Starts path with args (argv[0] is path); the environment is this process's.
    ProgramProcess(const std::string& path, const std::vector<std::string>& args);
    ~ProgramProcess();
    ProgramProcess(const ProgramProcess&) = delete;
    ProgramProcess& operator=(const ProgramProcess&) = delete;

    // Waits until standard output contains text; false when the process ended
    // or the time ran out first.
    bool wait_for_output(const std::string& text, std::chrono::milliseconds limit);
    // Waits until standard error contains text; false on time out.
    bool wait_for_error(const std::string& text, std::chrono::milliseconds limit);
    // The exit status once the process has exited by itself within limit;
    // nothing when it was still running (it is killed then) or died of a signal.
    std::optional<int> wait_exit(std::chrono::milliseconds limit);
    // Ends the process if it still runs.
    void stop();

    std::string output() const;
    std::string errors() const;

private:
    std::string logs_;  // the output files are logs_ + ".out" and ".err"
    BackgroundChild child_;
};

}  // namespace kelvara::test
