#pragma once
// The platform under SerialLinePort: opening a serial device by COM number and
// driving its modem-control lines. A device name picks a driver by prefix, so a
// simulated port ("sim:...") stands behind the same calls as a real tty.

#include <cstddef>
#include <cstdint>
#include <termios.h>

namespace kelvara {

// What a port's read time-outs are on Linux: the VMIN and VTIME of its termios.
struct LineTimeouts {
    cc_t min_chars = 0;
    cc_t tenths = 0;
};

// Modem-status bit for CTS, as read_cts reports it.
inline constexpr int MS_CTS_ON = 0x10;

// One kind of device. Every call but open takes the id that open returned.
// Calls answer true (or a value >= 0) on success and false (or -errno) on failure.
class LineDriver {
public:
    virtual ~LineDriver() = default;

    // Opens the device for exclusive use; returns an id >= 0 or -errno.
    virtual int open(const char* device) = 0;
    virtual void close(int id) = 0;

    virtual bool get_state(int id, termios& state) = 0;
    virtual bool get_timeouts(int id, LineTimeouts& timeouts) = 0;
    virtual bool set_timeouts(int id, const LineTimeouts& timeouts) = 0;
    virtual bool get_event_mask(int id, std::uint32_t& mask) = 0;
    virtual bool set_event_mask(int id, std::uint32_t mask) = 0;
    virtual bool purge(int id) = 0;

    virtual bool set_dtr(int id, bool on) = 0;
    virtual bool set_rts(int id, bool on) = 0;
    virtual bool set_break(int id, bool on) = 0;
    // Returns the modem status with MS_CTS_ON set while CTS is on, or -errno.
    virtual int modem_status(int id) = 0;
};

// An open device: the driver that owns it and the driver's id for it.
struct LineHandle {
    LineDriver* driver = nullptr;
    int id = -1;

    bool valid() const { return driver != nullptr; }
};

inline constexpr LineHandle INVALID_LINE_HANDLE{};

// Writes the device name of COM<port_number> into buffer: $KELVARA_COM<n> when
// set and not empty, else /dev/ttyS<n-1>. Returns false when the port number is
// not 1 to 4 or the name does not fit.
bool com_device_name(int port_number, char* buffer, std::size_t size);

// Where com_device_name took its answer from.
enum class DeviceNameSource { environment, default_name };
DeviceNameSource com_device_source(int port_number);

// Opens a device by name through the driver its prefix selects. On failure the
// handle is invalid and *error (when given) holds the errno behind it.
LineHandle open_line_device(const char* device, int* error = nullptr);
void close_line_device(LineHandle& handle);

// Makes devices whose names begin with prefix open through driver; these are
// looked up before the built-in ones. Returns false when the (small) table is full.
bool register_line_driver(const char* prefix, LineDriver* driver);
void unregister_line_driver(LineDriver* driver);

// Blocks for the given number of milliseconds. A test may replace the wait.
void sleep_ms(int milliseconds);
using SleepHook = void (*)(int milliseconds);
SleepHook set_sleep_hook(SleepHook hook);

}  // namespace kelvara
