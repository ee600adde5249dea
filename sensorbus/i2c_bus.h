#pragma once
// A single-master I2C bus bit-banged on a serial port's control lines:
// SDA driven on DTR and sensed on CTS, SCL driven on RTS and never sensed.

#include <cstddef>
#include <cstdint>

#include "sensorbus/serial_line_port.h"

namespace kelvara {

inline constexpr int I2C_ERR_BUS_BUSY = -11;
inline constexpr int I2C_ERR_NO_ACK = -12;
inline constexpr int I2C_ERR_ADDRESS_NAK = -13;
inline constexpr int I2C_ERR_SDA_MISMATCH = -14;
inline constexpr int I2C_ERR_SCL_TIMEOUT = -15;
inline constexpr int I2C_ERR_STOP = -20;

// Counts count down to zero; the loop paces the bit timing and must not be
// optimised away.
void spin_delay(int count);

class BusInterface {
public:
    virtual ~BusInterface() = default;
};

class I2CBus : public BusInterface {
public:
    I2CBus();
    ~I2CBus() override;

    I2CBus(const I2CBus&) = delete;
    I2CBus& operator=(const I2CBus&) = delete;

    int open(int port_number);  // always 0
    void close();
    int reset();  // always 0

    // Transfers return the number of bytes moved; failures leave a code in last_error.
    // A read of length 0 is the bus-clearing read: it stores one byte and returns 1.
    int write(int address, const std::uint8_t* buffer, std::size_t length);
    int read(int address, std::uint8_t* buffer, std::size_t length);
    int write_and_stop(int address, const std::uint8_t* buffer, std::size_t length);
    int read_and_stop(int address, std::uint8_t* buffer, std::size_t length);
    int stop();  // 0 or I2C_ERR_STOP, also kept in last_error

    void wait_ms(int milliseconds);

    // The serial port under the bus, for tools that check the wiring itself.
    SerialLinePort& line_port() { return port; }

    int last_error = 0;
    int error_address = 0;  // address byte of the last transfer failed in its address phase
    const int bit_delay = 10;

private:
    int start_condition();
    int stop_condition();
    int send_bit(int level);
    int receive_bit();
    int send_byte(int value);
    int receive_byte(int ack_level);
    int check_bus_free();
    int scl_check();
    int stop_after(int transferred, std::size_t length);

    void release_lines() { port.set_dtr_rts(1); }
    void sda_high() { port.set_dtr(1); }
    void sda_low() { port.set_dtr(0); }
    void set_sda(int level) { port.set_dtr(level); }
    void scl_high() { port.set_rts(1); }
    void scl_low() { port.set_rts(0); }
    int read_sda() { return port.read_cts(); }
    // SCL has no sense line on this wiring: it always reads high.
    static int read_scl() { return 1; }

    SerialLinePort port{0};
};

}  // namespace kelvara
