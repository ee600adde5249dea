#include "tests/client/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <thread>

#include "tests/support/test_env.h"

extern char** environ;

namespace kelvara::test {

namespace {

using clock = std::chrono::steady_clock;

// Everything the child needs is built before fork: afterwards it only
// redirects, caps and execs.
struct Launch {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::vector<char*> argv;
    std::vector<char*> envp;

    Launch(const std::vector<std::string>& a, const EnvChanges& changes) : args(a)
    {
        for (char** e = environ; *e != nullptr; ++e) {
            const std::string entry = *e;
            bool replaced = false;
            for (const auto& [name, value] : changes)
                replaced = replaced || entry.compare(0, name.size() + 1, name + "=") == 0;
            if (!replaced)
                env.push_back(entry);
        }
        for (const auto& [name, value] : changes)
            env.push_back(name + "=" + value);
        for (auto& s : args)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        for (auto& s : env)
            envp.push_back(s.data());
        envp.push_back(nullptr);
    }
};

pid_t start(Launch& launch, int out_fd, int err_fd, int open_files)
{
    const pid_t pid = ::fork();
    if (pid != 0)
        return pid;
    const int null_fd = ::open("/dev/null", O_RDONLY);
    ::dup2(null_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    for (int fd = 3; fd < 1024; ++fd)
        ::close(fd);
    if (open_files > 0) {
        rlimit cap{};
        cap.rlim_cur = static_cast<rlim_t>(open_files);
        cap.rlim_max = static_cast<rlim_t>(open_files);
        ::setrlimit(RLIMIT_NOFILE, &cap);
    }
    ::execve(launch.argv[0], launch.argv.data(), launch.envp.data());
    ::_exit(127);
}

int exit_status_of(int wait_status)
{
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : -1;
}

}  // namespace

ChildResult run_child(const std::vector<std::string>& argv, const EnvChanges& env,
                      std::chrono::milliseconds limit, int open_files)
{
    ChildResult result;
    Launch launch(argv, env);
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0)
        return result;
    if (::pipe(err_pipe) != 0) {
        ::close(out_pipe[0]);
        ::close(out_pipe[1]);
        return result;
    }
    const auto began = clock::now();
    const pid_t pid = start(launch, out_pipe[1], err_pipe[1], open_files);
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    if (pid < 0) {
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        return result;
    }

    const auto deadline = began + limit;
    pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_pipes = 2;
    while (open_pipes > 0) {
        const auto now = clock::now();
        if (now >= deadline) {
            ::kill(pid, SIGKILL);
            result.killed = true;
            break;
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        if (::poll(fds, 2, static_cast<int>(left)) < 0)
            continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char chunk[4096];
            const ssize_t got = ::read(fds[i].fd, chunk, sizeof chunk);
            if (got > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(got));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open_pipes;
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            ::close(f.fd);
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(clock::now() - began);
    result.exit_status = result.killed ? -1 : exit_status_of(status);
    return result;
}

BackgroundChild::BackgroundChild(const std::vector<std::string>& argv, const EnvChanges& env,
                                 const std::string& log_base)
{
    Launch launch(argv, env);
    const int out_fd = ::open((log_base + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err_fd = ::open((log_base + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (out_fd >= 0 && err_fd >= 0)
        pid_ = start(launch, out_fd, err_fd, 0);
    if (out_fd >= 0)
        ::close(out_fd);
    if (err_fd >= 0)
        ::close(err_fd);
}

bool BackgroundChild::ended()
{
    if (pid_ <= 0)
        return true;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return true;
    }
    return false;
}

BackgroundChild::~BackgroundChild()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    // Give it a moment to go, then make sure it does.
    for (int i = 0; i < 50 && !ended(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

std::string program(const std::string& name)
{
    return bin_dir() + "/" + name;
}

}  // namespace kelvara::test
