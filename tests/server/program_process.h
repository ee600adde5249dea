#pragma once
// A program of the build run as a child process, its standard output and
// error going to files in the test's temporary folder. Every wait is bounded,
// and the child is killed when the object goes away.

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

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
    bool reap(bool block);

    pid_t pid_ = -1;
    bool running_ = false;
    int status_ = 0;
    std::string out_path_;
    std::string err_path_;
};

}  // namespace kelvara::test
