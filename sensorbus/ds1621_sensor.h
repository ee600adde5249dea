#pragma once
// The DS1621 digital thermometer at one of the eight bus addresses, and the
// sensor sweep that kvserver runs for each request.

#include <cstdint>

#include "sensorbus/i2c_bus.h"

namespace kelvara {

inline constexpr int SENSOR_COUNT = 8;
inline constexpr int DS1621_BASE_ADDRESS = 0x90;

// The 8-bit write address of sensor n (1 to 8).
constexpr int ds1621_address(int n) { return DS1621_BASE_ADDRESS + 2 * (n - 1); }

// Builds the temperature word from the two bytes the chip sends, MSB first.
constexpr std::int16_t ds1621_word(std::uint8_t msb, std::uint8_t lsb)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((msb << 8) | lsb));
}

class DS1621Sensor {
public:
    DS1621Sensor();
    virtual ~DS1621Sensor() = default;

    DS1621Sensor(const DS1621Sensor&) = delete;
    DS1621Sensor& operator=(const DS1621Sensor&) = delete;

    int open(int port_number);
    void close();
    void select_sensor(int n);  // 1 to 8; anything else leaves the address
    int start_convert();        // returns last_error
    void start_convert_and_wait();
    // The temperature word in 1/256 degree Celsius, or 0 when last_error is set.
    std::int16_t read_temperature();

    const int cmd_start_convert = 0xEE;
    const int cmd_stop_convert = 0x22;
    const int cmd_access_config = 0xAC;
    const int cmd_access_th = 0xA1;
    const int cmd_access_tl = 0xA2;
    const int cmd_read_temperature = 0xAA;
    const int cmd_read_counter = 0xA8;
    const int cmd_read_slope = 0xA9;
    int last_error = 0;
    int address = DS1621_BASE_ADDRESS;

    I2CBus& i2c_bus() { return bus; }

private:
    void write_command(int code);
    void write_buffer(std::size_t length);
    std::uint16_t read_word(int code);
    void command_then_read(std::size_t length);

    std::uint8_t buffer[256] = {};
    I2CBus bus;
};

// One sweep: opens the bus on com_port, starts a conversion at all eight
// addresses, reads sensors first to last into slots first-1 to last-1 of the
// two arrays (words in host order, statuses the low byte of the bus code) and
// closes the bus again. Other slots are left as they are.
void read_sensors(std::int8_t status[SENSOR_COUNT], std::int16_t temperature[SENSOR_COUNT],
                  int first, int last, int com_port);

}  // namespace kelvara
