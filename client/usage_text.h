#pragma once
// kvquery's banner and help text.

#include <ostream>

namespace kelvara {

inline constexpr const char* CLIENT_BANNER = "Kelvara thermometer client 1.0\n";

// Writes the usage text for the program invoked as program_name. The port
// shown is always the compiled-in default, whatever the command line set.
void print_client_usage(std::ostream& out, const char* program_name);

}  // namespace kelvara
