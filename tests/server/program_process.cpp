#include "tests/server/program_process.h"

#include <atomic>
#include <fstream>
#include <sstream>
#include <thread>

#include <csignal>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/support/test_env.h"

namespace kelvara::test {

namespace {

std::string read_file(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

constexpr std::chrono::milliseconds POLL{20};

}  // namespace

ProgramProcess::ProgramProcess(const std::string& path, const std::vector<std::string>& args)
{
    static std::atomic<int> serial{0};
    const std::string base = temp_dir() + "/program-" + std::to_string(::getpid()) + "-" + std::to_string(serial++);
    out_path_ = base + ".out";
    err_path_ = base + ".err";

    std::vector<std::string> words{path};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    const int out = ::open(out_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out);
    ::close(err);
    running_ = pid_ > 0;
}

ProgramProcess::~ProgramProcess() { stop(); }

bool ProgramProcess::reap(bool block)
{
    if (!running_)
        return true;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, block ? 0 : WNOHANG);
    if (done == pid_) {
        running_ = false;
        status_ = status;
    }
    return !running_;
}

bool ProgramProcess::wait_for_output(const std::string& text, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (output().find(text) != std::string::npos)
            return true;
        if (reap(false) || std::chrono::steady_clock::now() >= deadline)
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
    while (!reap(false)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            stop();
            return std::nullopt;
        }
        std::this_thread::sleep_for(POLL);
    }
    if (!WIFEXITED(status_))
        return std::nullopt;
    return WEXITSTATUS(status_);
}

void ProgramProcess::stop()
{
    if (!running_)
        return;
    ::kill(pid_, SIGKILL);
    reap(true);
}

std::string ProgramProcess::output() const { return read_file(out_path_); }
std::string ProgramProcess::errors() const { return read_file(err_path_); }

}  // namespace kelvara::test
