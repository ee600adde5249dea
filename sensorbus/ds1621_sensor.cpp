#include "sensorbus/ds1621_sensor.h"

namespace kelvara {

DS1621Sensor::DS1621Sensor() = default;

int DS1621Sensor::open(int port_number) { return bus.open(port_number); }

void DS1621Sensor::close() { bus.close(); }

void DS1621Sensor::select_sensor(int n)
{
    if (n >= 1 && n <= SENSOR_COUNT)
        address = ds1621_address(n);
}

int DS1621Sensor::start_convert()
{
    write_command(cmd_start_convert);
    return last_error;
}

void DS1621Sensor::start_convert_and_wait()
{
    start_convert();
    bus.wait_ms(50);
}

std::int16_t DS1621Sensor::read_temperature()
{
    std::uint16_t word = read_word(cmd_read_temperature);
    return last_error == 0 ? static_cast<std::int16_t>(word) : 0;
}

void DS1621Sensor::write_command(int code)
{
    buffer[0] = static_cast<std::uint8_t>(code & 0xFF);
    write_buffer(1);
}

void DS1621Sensor::write_buffer(std::size_t length)
{
    last_error = 0;
    if (bus.write_and_stop(address, buffer, length) != static_cast<int>(length))
        last_error = bus.last_error;
}

std::uint16_t DS1621Sensor::read_word(int code)
{
    buffer[0] = static_cast<std::uint8_t>(code & 0xFF);
    command_then_read(2);
    return static_cast<std::uint16_t>(ds1621_word(buffer[0], buffer[1]));
}

// The command byte, then a repeated start and the answer, then a stop.
void DS1621Sensor::command_then_read(std::size_t length)
{
    last_error = 0;
    if (bus.write(address, buffer, 1) != 1) {
        last_error = bus.last_error;
        bus.stop();  // so the next sensor starts on a free bus
        return;
    }
    if (bus.read_and_stop(address, buffer, length) != static_cast<int>(length))
        last_error = bus.last_error;
}

}  // namespace kelvara
