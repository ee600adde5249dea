#include "sensorbus/termios_lines.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kelvara {

namespace {

class TermiosLineDriver final : public LineDriver {
public:
    int open(const char* device) override
    {
        // Non-blocking, so that a port without carrier cannot hang the open.
        int fd = ::open(device, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return -errno;
        // Exclusive use: TIOCEXCL does not stop root, an advisory lock does.
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
            return fail(fd, errno == EWOULDBLOCK ? EBUSY : errno);
        termios probe{};
        if (::tcgetattr(fd, &probe) != 0)
            return fail(fd, errno);
        int flags = ::fcntl(fd, F_GETFL);
        if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
            return fail(fd, errno);
        return fd;
    }

    void close(int id) override { ::close(id); }

    bool get_state(int id, termios& state) override { return ::tcgetattr(id, &state) == 0; }

    bool get_timeouts(int id, LineTimeouts& timeouts) override
    {
        termios state{};
        if (::tcgetattr(id, &state) != 0)
            return false;
        timeouts = LineTimeouts{state.c_cc[VMIN], state.c_cc[VTIME]};
        return true;
    }

    // Writes only when the time-outs differ, and then nothing but them: the
    // speed and framing go back exactly as they are now.
    bool set_timeouts(int id, const LineTimeouts& timeouts) override
    {
        termios state{};
        if (::tcgetattr(id, &state) != 0)
            return false;
        if (state.c_cc[VMIN] == timeouts.min_chars && state.c_cc[VTIME] == timeouts.tenths)
            return true;
        state.c_cc[VMIN] = timeouts.min_chars;
        state.c_cc[VTIME] = timeouts.tenths;
        return ::tcsetattr(id, TCSANOW, &state) == 0;
    }

    // Linux keeps no per-port event mask: nothing to save or restore.
    bool get_event_mask(int, std::uint32_t& mask) override
    {
        mask = 0;
        return true;
    }
    bool set_event_mask(int, std::uint32_t) override { return true; }

    bool purge(int id) override { return ::tcflush(id, TCIOFLUSH) == 0; }

    bool set_dtr(int id, bool on) override { return modem_bit(id, TIOCM_DTR, on); }
    bool set_rts(int id, bool on) override { return modem_bit(id, TIOCM_RTS, on); }

    bool set_break(int id, bool on) override { return ::ioctl(id, on ? TIOCSBRK : TIOCCBRK) == 0; }

    int modem_status(int id) override
    {
        int bits = 0;
        if (::ioctl(id, TIOCMGET, &bits) != 0)
            return -errno;
        return (bits & TIOCM_CTS) != 0 ? MS_CTS_ON : 0;
    }

private:
    static int fail(int fd, int error)
    {
        ::close(fd);
        return -error;
    }

    static bool modem_bit(int fd, int bit, bool on)
    {
        return ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit) == 0;
    }
};

}  // namespace

LineDriver& termios_line_driver()
{
    static TermiosLineDriver driver;
    return driver;
}

}  // namespace kelvara
