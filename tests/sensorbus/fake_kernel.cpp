#include "tests/sensorbus/fake_kernel.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>

namespace kelvara::test {

namespace {

FakeKernel* active = nullptr;

int fail(int error)
{
    errno = error;
    return -1;
}

std::string open_flags(int flags)
{
    std::string text = (flags & O_ACCMODE) == O_RDWR ? "O_RDWR" : "O_other";
    if (flags & O_NOCTTY)
        text += "|O_NOCTTY";
    if (flags & O_NONBLOCK)
        text += "|O_NONBLOCK";
    return text;
}

}  // namespace

FakeKernel::FakeKernel() { active = this; }
FakeKernel::~FakeKernel() { active = nullptr; }

FakeTty& FakeKernel::add(const std::string& path)
{
    FakeTty& tty = ttys_[path] = FakeTty{};
    tty.attrs.c_cflag = CS8 | CREAD | CLOCAL;
    cfsetispeed(&tty.attrs, B9600);
    cfsetospeed(&tty.attrs, B9600);
    tty.attrs.c_cc[VMIN] = 1;
    tty.attrs.c_cc[VTIME] = 0;
    return tty;
}

std::string FakeKernel::joined_log() const
{
    std::string text;
    for (const std::string& line : log)
        text += line + "\n";
    return text;
}

bool FakeKernel::open(const char* path, int flags, int& result)
{
    if (std::strncmp(path, "/fake/", 6) != 0)
        return false;
    log.push_back(std::string("open ") + path + " " + open_flags(flags));
    auto it = ttys_.find(path);
    if (it == ttys_.end()) {
        result = fail(ENOENT);
    } else if (it->second.open_errno != 0) {
        result = fail(it->second.open_errno);
    } else {
        result = next_fd_++;
        fds_[result] = OpenFile{path, flags, false};
    }
    return true;
}

bool FakeKernel::close(int fd, int& result)
{
    auto it = fds_.find(fd);
    if (it == fds_.end())
        return false;
    log.push_back("close");
    fds_.erase(it);
    result = 0;
    return true;
}

bool FakeKernel::flock(int fd, int operation, int& result)
{
    auto it = fds_.find(fd);
    if (it == fds_.end())
        return false;
    log.push_back(operation == (LOCK_EX | LOCK_NB) ? "flock LOCK_EX|LOCK_NB" : "flock other");
    for (const auto& [other_fd, file] : fds_) {
        if (other_fd != fd && file.path == it->second.path && file.locked) {
            result = fail(EWOULDBLOCK);
            return true;
        }
    }
    it->second.locked = true;
    result = 0;
    return true;
}

bool FakeKernel::fcntl(int fd, int command, long argument, int& result)
{
    auto it = fds_.find(fd);
    if (it == fds_.end())
        return false;
    if (command == F_GETFL) {
        log.push_back("fcntl F_GETFL");
        result = it->second.flags;
    } else if (command == F_SETFL) {
        log.push_back("fcntl F_SETFL " + open_flags(static_cast<int>(argument)));
        it->second.flags = static_cast<int>(argument);
        result = 0;
    } else {
        log.push_back("fcntl other");
        result = fail(EINVAL);
    }
    return true;
}

bool FakeKernel::ioctl(int fd, unsigned long request, void* argument, int& result)
{
    auto it = fds_.find(fd);
    if (it == fds_.end())
        return false;
    FakeTty& tty = ttys_.at(it->second.path);
    auto bits_text = [](int bits) {
        std::string text;
        if (bits & TIOCM_DTR)
            text += " DTR";
        if (bits & TIOCM_RTS)
            text += " RTS";
        return text;
    };
    result = 0;
    switch (request) {
    case TIOCMBIS:
    case TIOCMBIC: {
        int bits = *static_cast<int*>(argument);
        log.push_back(std::string(request == TIOCMBIS ? "TIOCMBIS" : "TIOCMBIC") + bits_text(bits));
        if (tty.fail_modem_ioctls) {
            result = fail(EIO);
            break;
        }
        if (request == TIOCMBIS)
            tty.modem_bits |= bits;
        else
            tty.modem_bits &= ~bits;
        if (tty.cts_follows_dtr)
            tty.modem_bits = (tty.modem_bits & TIOCM_DTR) ? (tty.modem_bits | TIOCM_CTS) : (tty.modem_bits & ~TIOCM_CTS);
        break;
    }
    case TIOCMGET:
        log.push_back("TIOCMGET");
        if (tty.fail_modem_ioctls)
            result = fail(EIO);
        else
            *static_cast<int*>(argument) = tty.modem_bits;
        break;
    case TIOCSBRK:
    case TIOCCBRK:
        log.push_back(request == TIOCSBRK ? "TIOCSBRK" : "TIOCCBRK");
        tty.in_break = request == TIOCSBRK;
        break;
    default:
        log.push_back("ioctl other");
        result = fail(ENOTTY);
        break;
    }
    return true;
}

bool FakeKernel::tcgetattr(int fd, termios* attrs, int& result)
{
    auto it = fds_.find(fd);
    if (it == fds_.end())
        return false;
    log.push_back("tcgetattr");
    const FakeTty& tty = ttys_.at(it->second.path);
    if (!tty.is_tty) {
        result = fail(ENOTTY);
    } else {
        *attrs = tty.attrs;
        result = 0;
    }
    return true;
}

bool FakeKernel::tcsetattr(int fd, int when, const termios* attrs, int& result)
{
    auto it = fds_.find(fd);
    if (it == fds_.end())
        return false;
    log.push_back(when == TCSANOW ? "tcsetattr TCSANOW" : "tcsetattr other");
    ttys_.at(it->second.path).attrs = *attrs;
    result = 0;
    return true;
}

bool FakeKernel::tcflush(int fd, int queue, int& result)
{
    auto it = fds_.find(fd);
    if (it == fds_.end())
        return false;
    log.push_back(queue == TCIOFLUSH ? "tcflush TCIOFLUSH" : "tcflush other");
    result = 0;
    return true;
}

}  // namespace kelvara::test

using kelvara::test::active;

extern "C" {

int __real_open(const char* path, int flags, ...);
int __real_close(int fd);
int __real_flock(int fd, int operation);
int __real_fcntl(int fd, int command, ...);
int __real_ioctl(int fd, unsigned long request, ...);
int __real_tcgetattr(int fd, termios* attrs);
int __real_tcsetattr(int fd, int when, const termios* attrs);
int __real_tcflush(int fd, int queue);

int __wrap_open(const char* path, int flags, ...)
{
    unsigned mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list args;
        va_start(args, flags);
        mode = va_arg(args, unsigned);
        va_end(args);
    }
    int result = 0;
    if (active != nullptr && active->open(path, flags, result))
        return result;
    return __real_open(path, flags, mode);
}

int __wrap_close(int fd)
{
    int result = 0;
    if (active != nullptr && active->close(fd, result))
        return result;
    return __real_close(fd);
}

int __wrap_flock(int fd, int operation)
{
    int result = 0;
    if (active != nullptr && active->flock(fd, operation, result))
        return result;
    return __real_flock(fd, operation);
}

int __wrap_fcntl(int fd, int command, ...)
{
    va_list args;
    va_start(args, command);
    long argument = va_arg(args, long);
    va_end(args);
    int result = 0;
    if (active != nullptr && active->fcntl(fd, command, argument, result))
        return result;
    return __real_fcntl(fd, command, argument);
}

int __wrap_ioctl(int fd, unsigned long request, ...)
{
    va_list args;
    va_start(args, request);
    void* argument = va_arg(args, void*);
    va_end(args);
    int result = 0;
    if (active != nullptr && active->ioctl(fd, request, argument, result))
        return result;
    return __real_ioctl(fd, request, argument);
}

int __wrap_tcgetattr(int fd, termios* attrs)
{
    int result = 0;
    if (active != nullptr && active->tcgetattr(fd, attrs, result))
        return result;
    return __real_tcgetattr(fd, attrs);
}

int __wrap_tcsetattr(int fd, int when, const termios* attrs)
{
    int result = 0;
    if (active != nullptr && active->tcsetattr(fd, when, attrs, result))
        return result;
    return __real_tcsetattr(fd, when, attrs);
}

int __wrap_tcflush(int fd, int queue)
{
    int result = 0;
    if (active != nullptr && active->tcflush(fd, queue, result))
        return result;
    return __real_tcflush(fd, queue);
}

}  // extern "C"
