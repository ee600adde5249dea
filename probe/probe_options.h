#pragma once
// kvprobe's command line: "-com N" (1 to 4) and "-help" ("-h", "-?").

#include <ostream>
#include <string>

namespace kelvara {

inline constexpr int DEFAULT_PROBE_COM_PORT = 3;

struct ProbeOptions {
    bool show_help = false;
    int com_port = DEFAULT_PROBE_COM_PORT;
};

// Reads the arguments after the program name into options. Returns an empty
// string when they make sense, else what is wrong with them. A bench tool
// says so rather than probing a port nobody asked for, so unknown arguments
// are errors too.
std::string parse_probe_args(int argc, const char* const argv[], ProbeOptions& options);

void print_probe_usage(std::ostream& out, const char* program);

// The whole program: the command line, then the probe. Returns the exit status.
int probe_command(int argc, const char* const argv[], std::ostream& out, std::ostream& err);

}  // namespace kelvara
