// kvserver: answers thermometer requests over UDP from the sensors on one COM port.

#include <cstdio>

#include "net/socket_startup.h"
#include "sensorbus/ds1621_sensor.h"
#include "server/server_options.h"
#include "server/thermometer_server.h"

int main(int argc, char** argv)
{
    // Line-buffered, so the start-up line reaches a log or supervisor at once.
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);

    kelvara::ServerOptions options;
    if (kelvara::parse_server_args(argc, argv, options) != 0)
        kelvara::fatal_error("server: port number must be > than 1023");

    std::puts("Kelvara thermometer server 1.0");
    if (options.show_help) {
        kelvara::print_server_help(stdout, argc > 0 ? argv[0] : "kvserver");
        return 0;
    }

    const int com_port = options.com_port;
    return kelvara::run_server(options, [com_port](std::int8_t status[8], std::int16_t temperature[8], int first, int last) {
        kelvara::read_sensors(status, temperature, first, last, com_port);
    });
}
