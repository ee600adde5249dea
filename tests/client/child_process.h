#pragma once
// Runs a program of the build as a child process, with a bounded wait.

#include <sys/types.h>

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace kelvara::test {

using EnvChanges = std::vector<std::pair<std::string, std::string>>;

struct ChildResult {
    int exit_status = -1;  // -1 when killed or not started
    bool killed = false;   // ran past its limit
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
};

// Runs argv[0] with argv and the environment plus env, collecting its output;
// kills it when it runs longer than limit. open_files, when positive, caps the
// child's number of open file descriptors.
ChildResult run_child(const std::vector<std::string>& argv, const EnvChanges& env,
                      std::chrono::milliseconds limit, int open_files = 0);

// A program left running in the background (output to log files); stopped
// and reaped on destruction.
class BackgroundChild {
public:
    BackgroundChild(const std::vector<std::string>& argv, const EnvChanges& env,
                    const std::string& log_base);
    ~BackgroundChild();
    BackgroundChild(const BackgroundChild&) = delete;
    BackgroundChild& operator=(const BackgroundChild&) = delete;

    bool started() const { return pid_ > 0; }
    // Whether it has ended already (reaping it when so).
    bool ended();

private:
    pid_t pid_ = -1;
};

// $KELVARA_BIN/name.
std::string program(const std::string& name);

}  // namespace kelvara::test
