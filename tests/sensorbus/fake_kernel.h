#pragma once
// A fake kernel for the termios line driver, put under it at link time with
// --wrap: open, close, flock, fcntl, ioctl, tcgetattr, tcsetattr and tcflush
// on a path below /fake/ reach pretend ttys here; every other call goes to the
// real system. Each call on a pretend tty is written to the log.

#include <map>
#include <string>
#include <termios.h>
#include <vector>

namespace kelvara::test {

struct FakeTty {
    int open_errno = 0;        // nonzero: open fails with it
    bool is_tty = true;        // false: tcgetattr fails with ENOTTY
    bool fail_modem_ioctls = false;
    bool cts_follows_dtr = true;  // the wiring with nothing on the bus: SDA is DTR
    int modem_bits = 0;        // TIOCM_* as the tty has them
    bool in_break = false;
    termios attrs{};
};

class FakeKernel {
public:
    FakeKernel();
    ~FakeKernel();

    // Adds (or sets back to new) a pretend tty at 9600 baud, 8 bits.
    FakeTty& add(const std::string& path);
    FakeTty& tty(const std::string& path) { return ttys_.at(path); }

    // Pretend file descriptors still open.
    int open_fds() const { return static_cast<int>(fds_.size()); }
    // The file status flags of a pretend descriptor.
    int fd_flags(int fd) const { return fds_.at(fd).flags; }

    std::vector<std::string> log;
    std::string joined_log() const;

    // Called by the wrappers; true when the call was a pretend tty's.
    bool open(const char* path, int flags, int& result);
    bool close(int fd, int& result);
    bool flock(int fd, int operation, int& result);
    bool fcntl(int fd, int command, long argument, int& result);
    bool ioctl(int fd, unsigned long request, void* argument, int& result);
    bool tcgetattr(int fd, termios* attrs, int& result);
    bool tcsetattr(int fd, int when, const termios* attrs, int& result);
    bool tcflush(int fd, int queue, int& result);

private:
    struct OpenFile {
        std::string path;
        int flags = 0;
        bool locked = false;
    };
    std::map<std::string, FakeTty> ttys_;
    std::map<int, OpenFile> fds_;
    int next_fd_ = 900;
};

}  // namespace kelvara::test
