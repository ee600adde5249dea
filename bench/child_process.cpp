#include "bench/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

extern char** environ;

namespace kelvara::bench {

namespace {

using clock = std::chrono::steady_clock;

std::string variable_name(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// Our environment with the command's entries added, each replacing one of the same name.
std::vector<std::string> child_environment(const std::vector<std::string>& changes)
{
    std::vector<std::string> result;
    for (char** p = environ; *p != nullptr; ++p) {
        const std::string entry = *p;
        bool replaced = false;
        for (const std::string& change : changes)
            replaced = replaced || variable_name(change) == variable_name(entry);
        if (!replaced)
            result.push_back(entry);
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

std::vector<char*> pointers(std::vector<std::string>& texts)
{
    std::vector<char*> result;
    result.reserve(texts.size() + 1);
    for (std::string& text : texts)
        result.push_back(text.data());
    result.push_back(nullptr);
    return result;
}

struct Spawned {
    pid_t pid = -1;
    int output_fd = -1;
};

// Everything the child needs is prepared before the fork: between fork and
// exec it only calls async-signal-safe functions.
Spawned spawn(const ChildCommand& command)
{
    std::vector<std::string> args = command.argv;
    std::vector<std::string> env = child_environment(command.environment);
    std::vector<char*> arg_ptrs = pointers(args);
    std::vector<char*> env_ptrs = pointers(env);
    const char* directory = command.directory.empty() ? nullptr : command.directory.c_str();

    int out[2];
    if (args.empty() || ::pipe2(out, O_CLOEXEC) != 0)
        return {};
    const int null_in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int null_out = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    const pid_t parent = ::getpid();

    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (directory != nullptr && ::chdir(directory) != 0)
            ::_exit(127);
        if (::dup2(null_in, 0) < 0 || ::dup2(out[1], 1) < 0 || ::dup2(null_out, 2) < 0)
            ::_exit(127);
        ::execve(arg_ptrs[0], arg_ptrs.data(), env_ptrs.data());
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(null_in);
    ::close(null_out);
    if (pid < 0) {
        ::close(out[0]);
        return {};
    }
    return Spawned{pid, out[0]};
}

// Reads what is there; false at end of file or on an error.
bool read_some(int fd, std::string& into)
{
    char chunk[4096];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n > 0) {
        into.append(chunk, static_cast<std::size_t>(n));
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

int open_pidfd(pid_t pid)
{
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

int remaining_ms(clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

ChildExit run_child(const ChildCommand& command, std::chrono::milliseconds limit)
{
    ChildExit result;
    const auto begin = clock::now();
    const auto deadline = begin + limit;
    const Spawned child = spawn(command);
    if (child.pid < 0)
        return result;

    // A pidfd turns readable when the child ends, so its end is seen at once;
    // without one the loop looks every millisecond.
    const int pidfd = open_pidfd(child.pid);
    int output_fd = child.output_fd;
    int status = 0;
    rusage usage{};
    bool reaped = false;
    while (!reaped && clock::now() < deadline) {
        pollfd watch[2] = {{output_fd, POLLIN, 0}, {pidfd, POLLIN, 0}};
        const int timeout = pidfd >= 0 ? remaining_ms(deadline) : 1;
        if (::poll(watch, 2, timeout) < 0 && errno != EINTR)
            break;
        if (output_fd >= 0 && (watch[0].revents & (POLLIN | POLLHUP)) != 0 && !read_some(output_fd, result.output)) {
            ::close(output_fd);
            output_fd = -1;
        }
        if (pidfd < 0 || (watch[1].revents & POLLIN) != 0) {
            const pid_t done = ::wait4(child.pid, &status, WNOHANG, &usage);
            if (done == child.pid) {
                result.elapsed = clock::now() - begin;
                reaped = true;
            }
        }
    }
    if (!reaped) {
        ::kill(child.pid, SIGKILL);
        ::wait4(child.pid, &status, 0, &usage);
    }
    // Whatever is still in the pipe; the writer is gone, so this ends.
    while (output_fd >= 0 && read_some(output_fd, result.output)) {
    }
    if (output_fd >= 0)
        ::close(output_fd);
    if (pidfd >= 0)
        ::close(pidfd);

    result.exited = reaped && WIFEXITED(status);
    result.status = result.exited ? WEXITSTATUS(status) : -1;
    result.peak_rss_kib = usage.ru_maxrss;
    return result;
}

RunningChild::~RunningChild() { stop(); }

bool RunningChild::start(const ChildCommand& command)
{
    stop();
    const Spawned child = spawn(command);
    pid_ = child.pid;
    output_fd_ = child.output_fd;
    pending_.clear();
    return pid_ > 0;
}

bool RunningChild::wait_for_line(const std::string& prefix, std::chrono::milliseconds limit)
{
    const auto deadline = clock::now() + limit;
    while (output_fd_ >= 0) {
        for (std::size_t line = 0; line < pending_.size();) {
            const std::size_t end = pending_.find('\n', line);
            if (end == std::string::npos)
                break;
            if (pending_.compare(line, prefix.size(), prefix) == 0)
                return true;
            line = end + 1;
        }
        if (clock::now() >= deadline)
            return false;
        pollfd watch{output_fd_, POLLIN, 0};
        if (::poll(&watch, 1, remaining_ms(deadline)) < 0 && errno != EINTR)
            return false;
        if ((watch.revents & (POLLIN | POLLHUP)) != 0 && !read_some(output_fd_, pending_)) {
            ::close(output_fd_);
            output_fd_ = -1;
        }
    }
    return false;
}

std::optional<long> RunningChild::peak_rss_kib() const
{
    if (pid_ <= 0)
        return std::nullopt;
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string word;
    while (status >> word) {
        if (word == "VmHWM:") {
            long kib = 0;
            if (status >> kib)
                return kib;
            return std::nullopt;
        }
    }
    return std::nullopt;
}

bool RunningChild::running() const
{
    if (pid_ <= 0)
        return false;
    siginfo_t info{};
    // WNOWAIT leaves an ended child to be reaped by stop.
    if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0)
        return false;
    return info.si_pid == 0;
}

void RunningChild::stop()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        bool reaped = false;
        for (int i = 0; i < 200 && !reaped; ++i) {  // two seconds at most
            reaped = ::waitpid(pid_, &status, WNOHANG) == pid_;
            if (!reaped)
                ::usleep(10000);
        }
        if (!reaped) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = -1;
    }
    if (output_fd_ >= 0) {
        ::close(output_fd_);
        output_fd_ = -1;
    }
}

}  // namespace kelvara::bench
