#pragma once
// kvserver's command line: "-help"/"-h"/"-?", "-port N", "-com N".

#include <cstdio>

#include "net/temp_records.h"

namespace kelvara {

inline constexpr int DEFAULT_COM_PORT = 3;
inline constexpr int MIN_SERVICE_PORT = 1024;
inline constexpr int MAX_SERVICE_PORT = 65535;

struct ServerOptions {
    bool show_help = false;
    int service_port = DEFAULT_SERVICE_PORT;
    int com_port = DEFAULT_COM_PORT;
};

// Reads the arguments left to right into options; returns 1 when a port or
// COM port value is out of range (the bad value is kept), else 0. A value
// option takes the next argument whatever it is; unknown arguments are skipped.
int parse_server_args(int argc, const char* const argv[], ServerOptions& options);

// The usage text, showing the defaults rather than the values given.
void print_server_help(std::FILE* out, const char* program);

}  // namespace kelvara
