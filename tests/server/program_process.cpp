#include "tests/server/program_process.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include <unistd.h>

#include "tests/support/test_env.h"

namespace kelvara::test {

namespace {

constexpr std::chrono::milliseconds POLL{20};

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string log_base()
{
    static std::atomic<int> serial{0};
    return temp_dir() + "/program-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
}

ChildCommand command_for(const std::string& path, const std::vector<std::string>& args)
{
    ChildCommand command;
    command.argv = {path};
    command.argv.insert(command.argv.end(), args.begin(), args.end());
    command.env = current_environment();
    return command;
}

}  // namespace

ProgramProcess::ProgramProcess(const std::string& path, const std::vector<std::string>& args)
    : logs_(log_base()), child_(command_for(path, args), logs_ + ".out", logs_ + ".err")
{
}

ProgramProcess::~ProgramProcess() { stop(); }

bool ProgramProcess::wait_for_output(const std::string& text, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (output().find(text) != std::string::npos)
            return true;
        if (!child_.running() || std::chrono::steady_clock::now() >= deadline)
            return output().find(text) != std::string::npos;
        std::this_thread::sleep_for(POLL);
    }
}

bool ProgramProcess::wait_for_error(const std::string& text, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (errors().find(text) == std::string::npos) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(POLL);
    }
    return true;
}

std::optional<int> ProgramProcess::wait_exit(std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (child_.running()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            stop();
            return std::nullopt;
        }
        std::this_thread::sleep_for(POLL);
    }
    return child_.exit_status();
}

// No grace: nothing a test checks comes after this.
void ProgramProcess::stop() { child_.stop(std::chrono::milliseconds(0)); }

std::string ProgramProcess::output() const { return read_file(logs_ + ".out"); }
std::string ProgramProcess::errors() const { return read_file(logs_ + ".err"); }

}  // namespace kelvara::test
