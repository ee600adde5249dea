#include "tests/support/child_process.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kelvara::test {

namespace {

using Clock = std::chrono::steady_clock;

struct CStrings {
    std::vector<char*> pointers;
    explicit CStrings(const std::vector<std::string>& strings)
    {
        for (const auto& s : strings)
            pointers.push_back(const_cast<char*>(s.c_str()));
        pointers.push_back(nullptr);
    }
};

// In the child after fork: only async-signal-safe calls until exec.
[[noreturn]] void exec_child(const ChildCommand& command, char** argv, char** envp, int in_fd, int out_fd,
                             int err_fd)
{
    ::setpgid(0, 0);
    if (::dup2(in_fd, 0) < 0 || ::dup2(out_fd, 1) < 0 || ::dup2(err_fd, 2) < 0)
        ::_exit(126);
    if (!command.cwd.empty() && ::chdir(command.cwd.c_str()) != 0)
        ::_exit(126);
    // Descriptors the test holds (a peer's socket, a server's log) stay with the test.
    for (int fd = 3; fd < 1024; ++fd)
        ::close(fd);
    ::execve(argv[0], argv, envp);
    ::_exit(127);
}

int wait_status_to_exit(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

std::vector<std::string> current_environment()
{
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e)
        env.emplace_back(*e);
    return env;
}

void set_env_entry(std::vector<std::string>& env, const std::string& name, const std::string& value)
{
    const std::string prefix = name + "=";
    for (auto& entry : env) {
        if (entry.compare(0, prefix.size(), prefix) == 0) {
            entry = prefix + value;
            return;
        }
    }
    env.push_back(prefix + value);
}

ChildResult run_child(const ChildCommand& command, std::chrono::milliseconds timeout)
{
    // A child that ends without reading all its input must not kill the test.
    std::signal(SIGPIPE, SIG_IGN);

    ChildResult result;
    int in_pipe[2];
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe2(in_pipe, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(out_pipe, O_CLOEXEC) != 0) {
        ::close(in_pipe[0]);
        ::close(in_pipe[1]);
        return result;
    }
    if (::pipe2(err_pipe, O_CLOEXEC) != 0) {
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1]})
            ::close(fd);
        return result;
    }

    CStrings argv(command.argv);
    CStrings envp(command.env);
    const auto began = Clock::now();
    pid_t pid = ::fork();
    if (pid == 0)
        exec_child(command, argv.pointers.data(), envp.pointers.data(), in_pipe[0], out_pipe[1],
                   err_pipe[1]);
    ::close(in_pipe[0]);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (pid < 0) {
        for (int fd : {in_pipe[1], out_pipe[0], err_pipe[0]})
            ::close(fd);
        return result;
    }
    result.started = true;

    int in_fd = in_pipe[1];
    int out_fd = out_pipe[0];
    int err_fd = err_pipe[0];
    std::size_t written = 0;
    if (command.input.empty()) {
        ::close(in_fd);
        in_fd = -1;
    } else {
        ::fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }

    const auto deadline = Clock::now() + timeout;
    while (out_fd >= 0 || err_fd >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            result.timed_out = true;
            break;
        }
        pollfd fds[3] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}, {in_fd, POLLOUT, 0}};
        int ready = ::poll(fds, 3, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        char buffer[4096];
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out_fd : err_fd;
            if (fd < 0 || fds[i].revents == 0)
                continue;
            ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                ::close(fd);
                fd = -1;
            }
        }
        if (in_fd >= 0 && fds[2].revents != 0) {
            ssize_t n = ::write(in_fd, command.input.data() + written, command.input.size() - written);
            if (n > 0)
                written += static_cast<std::size_t>(n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || written == command.input.size()) {
                ::close(in_fd);
                in_fd = -1;
            }
        }
    }
    for (int fd : {in_fd, out_fd, err_fd}) {
        if (fd >= 0)
            ::close(fd);
    }

    int status = 0;
    const auto took = [&] { return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began); };
    if (result.timed_out) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        result.took = took();
        return result;
    }
    // Output closed: the child is ending; still, never wait without bound.
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            result.timed_out = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            result.took = took();
            return result;
        }
        ::usleep(10000);
    }
    result.took = took();
    result.exit_status = wait_status_to_exit(status);
    return result;
}

BackgroundChild::BackgroundChild(const ChildCommand& command, const std::string& out_path,
                                 const std::string& err_path)
{
    int in_fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    int out_fd = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int err_fd = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in_fd >= 0 && out_fd >= 0 && err_fd >= 0) {
        CStrings argv(command.argv);
        CStrings envp(command.env);
        pid_ = ::fork();
        if (pid_ == 0)
            exec_child(command, argv.pointers.data(), envp.pointers.data(), in_fd, out_fd, err_fd);
    }
    for (int fd : {in_fd, out_fd, err_fd}) {
        if (fd >= 0)
            ::close(fd);
    }
}

BackgroundChild::~BackgroundChild() { stop(); }

bool BackgroundChild::running()
{
    if (pid_ <= 0)
        return false;
    if (::waitpid(pid_, &wait_status_, WNOHANG) == 0)
        return true;
    reaped_ = true;
    pid_ = -1;
    return false;
}

void BackgroundChild::stop(std::chrono::milliseconds grace)
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + grace;
    while (::waitpid(pid_, &wait_status_, WNOHANG) == 0) {
        if (Clock::now() >= deadline) {
            // Its own process group: takes any child it left behind too.
            ::kill(-pid_, SIGKILL);
            ::waitpid(pid_, &wait_status_, 0);
            break;
        }
        ::usleep(20000);
    }
    reaped_ = true;
    pid_ = -1;
}

std::optional<int> BackgroundChild::exit_status() const
{
    if (!reaped_ || !WIFEXITED(wait_status_))
        return std::nullopt;
    return WEXITSTATUS(wait_status_);
}

}  // namespace kelvara::test
