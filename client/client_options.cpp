#include "client/client_options.h"

#include <cstring>

#include "common/decimal.h"

namespace kelvara {

void parse_client_args(int argc, const char* const* argv, ClientOptions& options)
{
    for (int i = 1; i < argc; ++i) {
        const char* word = argv[i];
        const bool has_value = i + 1 < argc;
        if (std::strcmp(word, "-help") == 0 || std::strcmp(word, "-h") == 0 ||
            std::strcmp(word, "-?") == 0) {
            options.show_help = true;
        } else if (std::strcmp(word, "-port") == 0) {
            if (has_value)
                options.service_port = read_decimal(argv[++i]);
        } else if (std::strcmp(word, "-addr") == 0) {
            if (has_value)
                options.server_address = argv[++i];
        } else if (std::strcmp(word, "-mean") == 0) {
            options.mean = true;
        } else if (std::strcmp(word, "-far") == 0) {
            options.fahrenheit = true;
        } else if (std::strcmp(word, "-what") == 0) {
            if (has_value) {
                scan_range(argv[++i], options.first_sensor, options.last_sensor);
                clamp_sensor_range(options.first_sensor, options.last_sensor);
            }
        }
    }
}

bool service_port_valid(int port)
{
    return port >= 1 && port <= 65535;
}

}  // namespace kelvara
