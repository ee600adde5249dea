#include "sensorbus/i2c_bus.h"

namespace kelvara {

namespace {

// How often SCL is sampled again after reading low before giving up.
constexpr int SCL_RETRIES = 200;
// Samples of SDA that must all read high before a start condition.
constexpr int BUS_FREE_SAMPLES = 90;

}  // namespace

void spin_delay(int count)
{
    // volatile: the count is the delay, so the compiler must keep every step.
    volatile int remaining = count;
    while (remaining > 0)
        remaining = remaining - 1;
}

I2CBus::I2CBus() = default;

I2CBus::~I2CBus() { close(); }

int I2CBus::open(int port_number)
{
    port.open(port_number);
    release_lines();
    port.set_break(1);
    wait_ms(100);
    return reset();
}

void I2CBus::close()
{
    release_lines();
    port.set_break(0);
    port.close();
}

int I2CBus::reset()
{
    std::uint8_t scratch[1] = {0};
    read_and_stop(0, scratch, 0);
    release_lines();
    wait_ms(50);
    return 0;
}

void I2CBus::wait_ms(int milliseconds) { sleep_ms(milliseconds); }

// Returns 0, or I2C_ERR_SCL_TIMEOUT when SCL never reads high.
int I2CBus::scl_check()
{
    if (read_scl())
        return 0;
    for (int i = 0; i < SCL_RETRIES; ++i) {
        if (read_scl())
            return 0;
    }
    return I2C_ERR_SCL_TIMEOUT;
}

// Returns 0, or I2C_ERR_BUS_BUSY at the first sample of SDA low.
int I2CBus::check_bus_free()
{
    for (int i = 0; i < BUS_FREE_SAMPLES; ++i) {
        if (read_sda() == 0)
            return I2C_ERR_BUS_BUSY;
    }
    return 0;
}

// Returns 0, I2C_ERR_SCL_TIMEOUT or I2C_ERR_BUS_BUSY (both lines then released).
int I2CBus::start_condition()
{
    release_lines();
    spin_delay(bit_delay);
    if (int e = scl_check())
        return e;
    if (int e = check_bus_free())
        return e;
    sda_low();  // SDA falls while SCL is high
    spin_delay(bit_delay);
    scl_low();
    spin_delay(bit_delay >> 2);
    return 0;
}

// Returns 0, I2C_ERR_SCL_TIMEOUT or I2C_ERR_SDA_MISMATCH.
int I2CBus::stop_condition()
{
    sda_low();
    spin_delay(bit_delay);
    scl_high();
    spin_delay(bit_delay);
    sda_high();  // SDA rises while SCL is high
    spin_delay(2 * bit_delay);
    if (int e = scl_check())
        return e;
    if (read_sda() == 0)
        return I2C_ERR_SDA_MISMATCH;
    spin_delay(4 * bit_delay);
    return 0;
}

// Returns 0, I2C_ERR_SCL_TIMEOUT or I2C_ERR_SDA_MISMATCH (SCL then left high).
int I2CBus::send_bit(int level)
{
    set_sda(level);
    spin_delay(bit_delay);
    scl_high();
    if (int e = scl_check())
        return e;
    spin_delay(bit_delay);
    int sda = read_sda();
    if ((sda == 0) != (level == 0))
        return I2C_ERR_SDA_MISMATCH;
    spin_delay(bit_delay);
    scl_low();
    spin_delay(bit_delay - (bit_delay >> 2));
    return 0;
}

// Returns the sampled SDA (0 low, nonzero high) in its low 8 bits, or
// I2C_ERR_SCL_TIMEOUT. A failed read counts as high.
int I2CBus::receive_bit()
{
    sda_high();
    spin_delay(bit_delay);
    scl_high();
    if (int e = scl_check())
        return e;
    spin_delay(bit_delay);
    int sample = read_sda() & 0xFF;
    spin_delay(bit_delay);
    scl_low();
    spin_delay(bit_delay - (bit_delay >> 2));
    return sample;
}

// Returns 0 when acknowledged, I2C_ERR_NO_ACK when not, or a bit error.
int I2CBus::send_byte(int value)
{
    for (int bit = 7; bit >= 0; --bit) {
        if (int e = send_bit(value & (1 << bit)))
            return e;
    }
    int ack = receive_bit();
    if (ack < 0)
        return ack;
    return ack == 0 ? 0 : I2C_ERR_NO_ACK;
}

// Returns the byte (0 to 255), or a bit error. ack_level 0 acknowledges it.
int I2CBus::receive_byte(int ack_level)
{
    int value = 0;
    for (int bit = 7; bit >= 0; --bit) {
        int sample = receive_bit();
        if (sample < 0)
            return sample;
        if (sample != 0)
            value |= 1 << bit;
    }
    if (int e = send_bit(ack_level))
        return e;
    sda_high();
    return value;
}

int I2CBus::write(int address, const std::uint8_t* buffer, std::size_t length)
{
    if (length == 0)
        return 0;
    if (int e = start_condition()) {
        last_error = e;
        return 0;
    }
    int a = address & 0xFE;
    if (int e = send_byte(a)) {
        last_error = e == I2C_ERR_NO_ACK ? I2C_ERR_ADDRESS_NAK : e;
        error_address = a;
        return 0;
    }
    for (std::size_t i = 0; i < length; ++i) {
        if (int e = send_byte(buffer[i])) {
            last_error = e;
            return static_cast<int>(i);
        }
    }
    // assert: SCL low, SDA released; no stop yet
    last_error = 0;
    return static_cast<int>(length);
}

int I2CBus::read(int address, std::uint8_t* buffer, std::size_t length)
{
    if (length == 0) {
        // Bus-clearing read: nine clocks with SDA released, the last a NAK.
        int value = receive_byte(1);
        if (value < 0) {
            last_error = value;
            return 0;
        }
        buffer[0] = static_cast<std::uint8_t>(value);
        last_error = 0;
        return 1;
    }
    if (int e = start_condition()) {
        last_error = e;
        return 0;
    }
    int a = (address | 1) & 0xFF;
    if (int e = send_byte(a)) {
        last_error = e == I2C_ERR_NO_ACK ? I2C_ERR_ADDRESS_NAK : e;
        error_address = a;
        return 0;
    }
    for (std::size_t i = 0; i + 1 < length; ++i) {
        int value = receive_byte(0);
        if (value < 0) {
            last_error = value;
            return static_cast<int>(i);
        }
        buffer[i] = static_cast<std::uint8_t>(value);
    }
    // The last byte is not acknowledged: that tells the device the read is over.
    int value = receive_byte(1);
    if (value < 0) {
        last_error = value;
        return static_cast<int>(length - 1);
    }
    buffer[length - 1] = static_cast<std::uint8_t>(value);
    last_error = 0;
    return static_cast<int>(length);
}

int I2CBus::write_and_stop(int address, const std::uint8_t* buffer, std::size_t length)
{
    return stop_after(write(address, buffer, length), length);
}

int I2CBus::read_and_stop(int address, std::uint8_t* buffer, std::size_t length)
{
    return stop_after(read(address, buffer, length), length);
}

// Only a clean, full transfer ends with a stop; a short one leaves the bus
// held, and the next start condition releases it.
int I2CBus::stop_after(int transferred, std::size_t length)
{
    if (transferred != static_cast<int>(length))
        return transferred;
    if (last_error != 0)
        return 0;
    if (stop() != 0)
        return 0;
    return transferred;
}

int I2CBus::stop()
{
    last_error = stop_condition() == 0 ? 0 : I2C_ERR_STOP;
    return last_error;
}

}  // namespace kelvara
