#include "sensorbus/sim_lines.h"

#include <cerrno>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kelvara {

namespace {

constexpr int SIM_PORT_SLOTS = 8;

struct SimPort {
    bool in_use = false;
    int lock_fd = -1;
    bool dtr = false;
    bool rts = false;
    bool brk = false;
    SimDS1621 chips[8];

    bool sda() const
    {
        if (!dtr)
            return false;
        for (const SimDS1621& chip : chips) {
            if (chip.pulls_sda_low())
                return false;
        }
        return true;
    }
};

SimPort ports[SIM_PORT_SLOTS];

bool parse_entry(const char* text, std::size_t length, SimChipSetup& chip)
{
    if (length == 0 || (length == 1 && text[0] == '-')) {
        chip = SimChipSetup{};
        return true;
    }
    if (length == 3 && std::strncmp(text, "nak", 3) == 0) {
        chip = SimChipSetup{SimChipKind::nak, 0};
        return true;
    }
    if (length == 4 && std::strncmp(text, "hold", 4) == 0) {
        chip = SimChipSetup{SimChipKind::hold, 0};
        return true;
    }
    char number[32];
    if (length >= sizeof number)
        return false;
    std::memcpy(number, text, length);
    number[length] = '\0';
    char* end = nullptr;
    double celsius = std::strtod(number, &end);
    if (end == number || *end != '\0' || !std::isfinite(celsius) || std::isspace(static_cast<unsigned char>(number[0])))
        return false;
    chip = SimChipSetup{SimChipKind::normal, ds1621_word_from_celsius(celsius)};
    return true;
}

// FNV-1a: a short, stable file name for any device name.
unsigned long long name_hash(const char* text)
{
    unsigned long long hash = 14695981039346656037ull;
    for (; *text != '\0'; ++text) {
        hash ^= static_cast<unsigned char>(*text);
        hash *= 1099511628211ull;
    }
    return hash;
}

int lock_device(const char* device)
{
    const char* dir = std::getenv("TMPDIR");
    if (dir == nullptr || *dir == '\0')
        dir = "/tmp";
    char path[4096];
    int n = std::snprintf(path, sizeof path, "%s/kelvara-sim-%016llx.lock", dir, name_hash(device));
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path)
        return -ENAMETOOLONG;
    int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return -errno;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return -error;
    }
    return fd;
}

class SimLineDriver final : public LineDriver {
public:
    int open(const char* device) override
    {
        SimChipSetup setup[8];
        if (!parse_sim_device(device, setup))
            return -ENOENT;
        int slot = 0;
        while (slot < SIM_PORT_SLOTS && ports[slot].in_use)
            ++slot;
        if (slot == SIM_PORT_SLOTS)
            return -EMFILE;
        int fd = lock_device(device);
        if (fd < 0)
            return fd;
        SimPort& port = ports[slot];
        port = SimPort{};
        port.in_use = true;
        port.lock_fd = fd;
        for (int i = 0; i < 8; ++i)
            port.chips[i] = SimDS1621(0x90 + 2 * i, setup[i]);
        return slot;
    }

    void close(int id) override
    {
        SimPort& port = ports[id];
        ::close(port.lock_fd);
        port = SimPort{};
    }

    bool get_state(int, termios& state) override
    {
        state = termios{};
        return true;
    }
    bool get_timeouts(int, LineTimeouts& timeouts) override
    {
        timeouts = LineTimeouts{};
        return true;
    }
    bool set_timeouts(int, const LineTimeouts&) override { return true; }
    bool get_event_mask(int, std::uint32_t& mask) override
    {
        mask = 0;
        return true;
    }
    bool set_event_mask(int, std::uint32_t) override { return true; }
    bool purge(int) override { return true; }

    bool set_dtr(int id, bool on) override
    {
        SimPort& port = ports[id];
        bool before = port.sda();
        port.dtr = on;
        bool after = port.sda();
        // SDA moving while SCL is high is a start (falling) or a stop (rising).
        if (port.rts && before != after) {
            for (SimDS1621& chip : port.chips) {
                if (after)
                    chip.stop();
                else
                    chip.start();
            }
        }
        return true;
    }

    bool set_rts(int id, bool on) override
    {
        SimPort& port = ports[id];
        if (port.rts == on)
            return true;
        port.rts = on;
        bool sda = port.sda();
        for (SimDS1621& chip : port.chips) {
            if (on)
                chip.scl_rise(sda);
            else
                chip.scl_fall();
        }
        return true;
    }

    bool set_break(int id, bool on) override
    {
        SimPort& port = ports[id];
        port.brk = on;
        for (SimDS1621& chip : port.chips)
            chip.power(on);
        return true;
    }

    int modem_status(int id) override { return ports[id].sda() ? MS_CTS_ON : 0; }
};

}  // namespace

std::int16_t ds1621_word_from_celsius(double celsius)
{
    double clamped = std::fmin(125.0, std::fmax(-55.0, celsius));
    long half_degrees = std::lround(clamped * 2.0);
    return static_cast<std::int16_t>(half_degrees * 128);
}

bool parse_sim_device(const char* device, SimChipSetup (&chips)[8])
{
    std::size_t prefix = std::strlen(SIM_DEVICE_PREFIX);
    if (device == nullptr || std::strncmp(device, SIM_DEVICE_PREFIX, prefix) != 0)
        return false;
    for (SimChipSetup& chip : chips)
        chip = SimChipSetup{};
    const char* p = device + prefix;
    if (*p == '\0')
        return true;
    for (int i = 0;; ++i) {
        if (i == 8)
            return false;  // more entries than sensors
        const char* comma = std::strchr(p, ',');
        std::size_t length = comma != nullptr ? static_cast<std::size_t>(comma - p) : std::strlen(p);
        if (!parse_entry(p, length, chips[i]))
            return false;
        if (comma == nullptr)
            return true;
        p = comma + 1;
    }
}

LineDriver& sim_line_driver()
{
    static SimLineDriver driver;
    return driver;
}

}  // namespace kelvara
