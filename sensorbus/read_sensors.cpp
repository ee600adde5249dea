#include "sensorbus/ds1621_sensor.h"

namespace kelvara {

void read_sensors(std::int8_t status[SENSOR_COUNT], std::int16_t temperature[SENSOR_COUNT],
                  int first, int last, int com_port)
{
    DS1621Sensor sensor;
    sensor.open(com_port);

    // Every address is told to convert, whatever the range: the chips then
    // all hold a fresh reading and the sweep always takes the same time.
    for (int n = 1; n <= SENSOR_COUNT; ++n) {
        sensor.select_sensor(n);
        sensor.start_convert_and_wait();
    }

    // Indexes outside 1 to 8 would write outside the caller's arrays.
    int from = first < 1 ? 1 : first;
    int to = last > SENSOR_COUNT ? SENSOR_COUNT : last;
    for (int n = from; n <= to; ++n) {
        sensor.select_sensor(n);
        temperature[n - 1] = sensor.read_temperature();
        status[n - 1] = static_cast<std::int8_t>(sensor.last_error & 0xFF);
    }

    sensor.close();
}

}  // namespace kelvara
