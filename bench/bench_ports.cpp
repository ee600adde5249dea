#include "bench/bench_ports.h"

#include <cstdlib>

#include "bench/counting_lines.h"

namespace kelvara::bench {

namespace {

void set_port(int number, const std::string& device)
{
    const std::string name = "KELVARA_COM" + std::to_string(number);
    ::setenv(name.c_str(), device.c_str(), 1);
}

}  // namespace

void use_simulated_ports(const std::string& bus, const std::string& mixed_bus)
{
    set_port(COUNTED_PORT, COUNTING_DEVICE_PREFIX + bus);
    set_port(PLAIN_PORT, bus);
    set_port(PROGRAM_PORT, bus);
    set_port(MIXED_PORT, COUNTING_DEVICE_PREFIX + mixed_bus);
}

}  // namespace kelvara::bench
