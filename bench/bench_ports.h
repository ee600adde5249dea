#pragma once
// The COM ports of a bench run. Every one of them is pointed at a simulated
// bus before anything sweeps, whatever the environment said: a benchmark must
// never reach a serial device of the machine.

#include <string>

namespace kelvara::bench {

inline constexpr int COUNTED_PORT = 1;  // the bus behind the counting driver
inline constexpr int PLAIN_PORT = 2;    // the bus as the programs see it
inline constexpr int PROGRAM_PORT = 3;  // kvserver's and kvpage's default port
inline constexpr int MIXED_PORT = 4;    // counting driver, bus with empty slots

// Sets KELVARA_COM1 to KELVARA_COM4 for this process and every child.
void use_simulated_ports(const std::string& bus, const std::string& mixed_bus);

}  // namespace kelvara::bench
