#pragma once
// kvquery's command line: which server to ask, for which sensors, and how to
// print the answer.

#include "net/temp_records.h"

namespace kelvara {

struct ClientOptions {
    bool show_help = false;
    int service_port = DEFAULT_SERVICE_PORT;
    // Points into the argument vector when given there; never copied.
    const char* server_address = "127.0.0.1";
    bool mean = false;
    int first_sensor = 1;
    int last_sensor = 1;
    bool fahrenheit = false;
};

// Fills options from argv[1..argc-1]. Never fails and prints nothing: unknown
// words are skipped, a later option overrides an earlier one, and the sensor
// range always ends up within 1 to 8 with last not below first.
void parse_client_args(int argc, const char* const* argv, ClientOptions& options);

// Whether the port can be put in a datagram address as it is.
bool service_port_valid(int port);

}  // namespace kelvara
