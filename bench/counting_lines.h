#pragma once
// A line driver in front of the simulated bus that counts every line
// operation the bus master makes and can charge each one a fixed cost, so a
// sweep can be timed as if every call went through a real serial driver.
// Devices are named "count:" followed by a simulated device, e.g.
// "count:sim:21.5,22".

#include <chrono>
#include <cstdint>

#include "sensorbus/forwarding_line_driver.h"

namespace kelvara::bench {

inline constexpr const char* COUNTING_DEVICE_PREFIX = "count:";

// The calls a port makes while the bus is in use, one counter per kind.
struct LineOpCounts {
    long dtr = 0;    // SDA driven
    long rts = 0;    // SCL driven
    long brk = 0;    // break on or off
    long cts = 0;    // SDA sensed
    long setup = 0;  // open, close, settings saved and restored: not line operations

    long line_ops() const { return dtr + rts + brk + cts; }
};

class CountingLines final : public ForwardingLineDriver {
public:
    // Registers itself for "count:" devices; cost is spent on every line
    // operation (not on the setup calls), busy-waiting so no sleep rounds it up.
    explicit CountingLines(std::chrono::nanoseconds cost = std::chrono::nanoseconds{0});

    const LineOpCounts& counts() const { return counts_; }
    void clear() { counts_ = LineOpCounts{}; }

protected:
    void observe(LineCall call, bool on) override;

private:
    void spend() const;

    std::chrono::nanoseconds cost_;
    LineOpCounts counts_;
};

}  // namespace kelvara::bench
