#include "bench/pty_ioctl_cost.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kelvara::bench {

namespace {

// One call of the chosen request; true when the kernel accepted it.
bool call(int fd, unsigned long request)
{
    if (request == TIOCMGET) {
        int bits = 0;
        return ::ioctl(fd, TIOCMGET, &bits) == 0;
    }
    termios state{};
    return ::ioctl(fd, TCGETS, &state) == 0;
}

class PtyMaster {
public:
    PtyMaster() : fd_(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        if (fd_ >= 0 && (::grantpt(fd_) != 0 || ::unlockpt(fd_) != 0)) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~PtyMaster()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    PtyMaster(const PtyMaster&) = delete;
    PtyMaster& operator=(const PtyMaster&) = delete;

    int fd() const { return fd_; }

private:
    int fd_;
};

}  // namespace

IoctlCost measure_pty_ioctl_cost(int batches, int calls_per_batch)
{
    IoctlCost result;
    PtyMaster pty;
    if (pty.fd() < 0) {
        result.failure = std::string("no pseudo-terminal: ") + std::strerror(errno);
        return result;
    }

    unsigned long request = TIOCMGET;
    result.request = "TIOCMGET";
    if (!call(pty.fd(), request)) {
        request = TCGETS;
        result.request = "TCGETS";
        if (!call(pty.fd(), request)) {
            result.failure = std::string("TIOCMGET and TCGETS refused: ") + std::strerror(errno);
            return result;
        }
    }

    using clock = std::chrono::steady_clock;
    for (int i = 0; i < calls_per_batch; ++i)  // warm the caches first
        call(pty.fd(), request);
    std::vector<std::chrono::nanoseconds> per_call;
    for (int b = 0; b < batches; ++b) {
        const auto begin = clock::now();
        for (int i = 0; i < calls_per_batch; ++i)
            call(pty.fd(), request);
        per_call.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(clock::now() - begin) /
                           calls_per_batch);
    }
    std::nth_element(per_call.begin(), per_call.begin() + static_cast<long>(per_call.size() / 2), per_call.end());
    result.per_call = per_call[per_call.size() / 2];
    result.measured = true;
    return result;
}

}  // namespace kelvara::bench
