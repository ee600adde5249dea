// Runs a program and, once it has ended, reports the peak resident memory
// the kernel saw for it: "peak-kib N" as the last line of standard error.
// Started from a small process like this one, the program's figure is its
// own and not that of a large test that forked it. Exits with the program's
// status, or 128 + the signal that ended it.
// Usage: peak_memory_launcher PROGRAM [ARGUMENT...]

#include <cerrno>
#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 125;
    const pid_t pid = ::fork();
    if (pid < 0)
        return 125;
    if (pid == 0) {
        // When a time limit ends this launcher, the program goes with it.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        ::execv(argv[1], argv + 1);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    while (::wait4(pid, &status, 0, &usage) < 0) {
        if (errno != EINTR)
            return 125;
    }
    std::fprintf(stderr, "peak-kib %ld\n", usage.ru_maxrss);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
