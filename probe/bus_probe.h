#pragma once
// The bench check of one COM port: which device it is, whether it opens,
// whether the bus lines follow the port, and which DS1621 chips answer. Each
// step is written as a short numbered line for a person at the bench.

#include <ostream>
#include <string>

namespace kelvara {

inline constexpr int PROBE_OK = 0;      // the port works and at least one chip answers
inline constexpr int PROBE_FAILED = 1;  // anything else
inline constexpr int PROBE_USAGE = 2;   // a bad command line

// The device that COM<com_port> maps to and where the name came from, as
// step 1 reports it; empty for a number outside 1 to 4 or a name too long.
std::string describe_com_device(int com_port);

// Runs every step on COM<com_port>, writes the report to out and returns
// PROBE_OK or PROBE_FAILED. The port is closed again before it returns.
int run_probe(int com_port, std::ostream& out);

}  // namespace kelvara
