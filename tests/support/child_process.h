#pragma once
// Runs a program as a child process for the tests: a given environment and
// folder, text on its standard input, its output collected, every wait bounded.

#include <chrono>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kelvara::test {

struct ChildResult {
    bool started = false;
    bool timed_out = false;
    int exit_status = -1;  // -1 unless the child exited normally
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};  // from start to end (or to the kill)
};

struct ChildCommand {
    std::vector<std::string> argv;
    std::vector<std::string> env;  // "NAME=value"; nothing else is passed
    std::string cwd;               // empty: the test's own folder
    std::string input;             // written to standard input, then closed
};

// Runs the child to its end; kills it when it outlives timeout.
ChildResult run_child(const ChildCommand& command, std::chrono::milliseconds timeout);

// A child that keeps running in the background (a server) with its output
// going to the files out_path and err_path. Stopped, and always reaped, on
// destruction.
class BackgroundChild {
public:
    BackgroundChild(const ChildCommand& command, const std::string& out_path, const std::string& err_path);
    ~BackgroundChild();
    BackgroundChild(const BackgroundChild&) = delete;
    BackgroundChild& operator=(const BackgroundChild&) = delete;

    bool started() const { return pid_ > 0; }
    // True while the child has not ended.
    bool running();
    // SIGTERM, then SIGKILL when it has not ended within grace.
    void stop(std::chrono::milliseconds grace = std::chrono::milliseconds(3000));
    // Once it has ended by itself: its exit status; nothing while it runs or
    // when a signal ended it.
    std::optional<int> exit_status() const;

private:
    pid_t pid_ = -1;
    bool reaped_ = false;
    int wait_status_ = 0;
};

// The environment of this process, as "NAME=value" entries.
std::vector<std::string> current_environment();
// Replaces or adds NAME=value in env.
void set_env_entry(std::vector<std::string>& env, const std::string& name, const std::string& value);

}  // namespace kelvara::test
