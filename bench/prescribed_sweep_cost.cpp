#include "bench/prescribed_sweep_cost.h"

#include "sensorbus/sim_lines.h"

namespace kelvara::bench {

namespace {

// The building blocks, in line operations.
constexpr long OPS_PER_BIT = 4;           // drive SDA, raise SCL, sense SDA, lower SCL
constexpr long RELEASE_OPS = 2;           // SCL, then SDA, released
constexpr long BREAK_OPS = 1;
constexpr long BUS_FREE_SAMPLES = 90;     // SDA reads before a start, all high on a free bus
constexpr long START_OPS = RELEASE_OPS + BUS_FREE_SAMPLES + 2;  // + SDA low, SCL low
constexpr long STOP_OPS = 4;              // SDA low, SCL high, SDA high, SDA sensed
constexpr long BITS_PER_BYTE = 9;         // eight data bits and the acknowledge
constexpr long SDA_RELEASE_OPS = 1;       // after a received byte

// A piece of bus traffic: its line operations and its bits.
struct Traffic {
    long ops = 0;
    long bits = 0;

    Traffic& operator+=(const Traffic& other)
    {
        ops += other.ops;
        bits += other.bits;
        return *this;
    }
};

Traffic operator+(Traffic a, const Traffic& b) { return a += b; }

constexpr Traffic ops(long n) { return Traffic{n, 0}; }
constexpr Traffic start() { return ops(START_OPS); }
constexpr Traffic stop() { return ops(STOP_OPS); }
constexpr Traffic sent_byte() { return Traffic{BITS_PER_BYTE * OPS_PER_BIT, BITS_PER_BYTE}; }
constexpr Traffic received_byte()
{
    return Traffic{BITS_PER_BYTE * OPS_PER_BIT + SDA_RELEASE_OPS, BITS_PER_BYTE};
}

// Opening: lines released, break on, then the reset: the bus-clearing read
// (one received byte, no start, no stop) and the lines released again.
Traffic bus_open() { return ops(RELEASE_OPS) + ops(BREAK_OPS) + received_byte() + ops(RELEASE_OPS); }

Traffic bus_close() { return ops(RELEASE_OPS) + ops(BREAK_OPS); }

// Start Convert T. An absent chip leaves its address unacknowledged: the
// short write ends there, without a stop, and the next start releases the bus.
Traffic start_conversion(bool present)
{
    if (!present)
        return start() + sent_byte();
    return start() + sent_byte() + sent_byte() + stop();
}

// Read Temperature: the command written without a stop, then a repeated start,
// the read address and two bytes, then a stop. When the address is not
// acknowledged the command write fails and a stop frees the bus.
Traffic read_temperature(bool present)
{
    if (!present)
        return start() + sent_byte() + stop();
    return start() + sent_byte() + sent_byte() + start() + sent_byte() + received_byte() +
           received_byte() + stop();
}

}  // namespace

SweepCost prescribed_sweep_cost(const bool (&present)[8], int first, int last)
{
    Traffic total = bus_open();
    for (bool chip : present)
        total += start_conversion(chip);
    for (int n = first < 1 ? 1 : first; n <= last && n <= 8; ++n)
        total += read_temperature(present[n - 1]);
    total += bus_close();
    return SweepCost{total.ops, total.bits};
}

std::optional<SweepCost> prescribed_sweep_cost(const char* sim_device, int first, int last)
{
    SimChipSetup chips[8];
    if (!parse_sim_device(sim_device, chips))
        return std::nullopt;
    bool present[8] = {};
    for (int i = 0; i < 8; ++i) {
        if (chips[i].kind != SimChipKind::normal && chips[i].kind != SimChipKind::absent)
            return std::nullopt;
        present[i] = chips[i].kind == SimChipKind::normal;
    }
    return prescribed_sweep_cost(present, first, last);
}

}  // namespace kelvara::bench
