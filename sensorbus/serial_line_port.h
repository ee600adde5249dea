#pragma once
// A PC serial port used only for its modem-control lines: DTR and RTS as
// outputs, CTS as input, and the break state of the transmit line. No
// character is ever sent or received and the data format is never changed.

#include <cstdint>
#include <termios.h>

#include "sensorbus/line_access.h"

namespace kelvara {

inline constexpr int SERIAL_ERR_PORT = -16;

class SerialLinePort {
public:
    // Opens COM<port_number> right away when it is 1 to 4; 0 leaves it closed.
    explicit SerialLinePort(int port_number);
    virtual ~SerialLinePort();

    SerialLinePort(const SerialLinePort&) = delete;
    SerialLinePort& operator=(const SerialLinePort&) = delete;

    // Returns 0, or SERIAL_ERR_PORT for a bad number or a device that is
    // missing, held by another process or refused.
    int open(int port_number);
    void close();

    // Each returns 0, or SERIAL_ERR_PORT on a closed port or a failed call.
    int set_dtr(int level);
    int set_rts(int level);
    int set_dtr_rts(int level);  // RTS first, then DTR; failures not reported
    int set_break(int on);
    // MS_CTS_ON or 0; SERIAL_ERR_PORT on a closed port or a failed status read.
    int read_cts();

    bool is_open() const { return handle.valid(); }
    // The errno behind the last failed open (0 when the number was out of range).
    int last_open_errno() const { return open_errno; }

    // The line format the wiring is meant for; never applied to the port.
    const int baud_rate = 9600;
    const int data_bits = 8;
    const int parity = 'N';
    const int stop_bits = 1;

private:
    LineHandle handle = INVALID_LINE_HANDLE;
    std::uint32_t saved_event_mask = 0;
    LineTimeouts saved_timeouts{};
    termios saved_state{};
    int open_errno = 0;
};

}  // namespace kelvara
