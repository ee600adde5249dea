#include "bench/counting_lines.h"

#include "sensorbus/sim_lines.h"

namespace kelvara::bench {

CountingLines::CountingLines(std::chrono::nanoseconds cost)
    : ForwardingLineDriver(COUNTING_DEVICE_PREFIX, sim_line_driver()), cost_(cost)
{
}

void CountingLines::spend() const
{
    if (cost_.count() <= 0)
        return;
    using clock = std::chrono::steady_clock;
    const auto until = clock::now() + cost_;
    while (clock::now() < until) {
    }
}

void CountingLines::observe(LineCall call, bool)
{
    switch (call) {
    case LineCall::dtr:
        ++counts_.dtr;
        break;
    case LineCall::rts:
        ++counts_.rts;
        break;
    case LineCall::brk:
        ++counts_.brk;
        break;
    case LineCall::cts:
        ++counts_.cts;
        break;
    default:
        ++counts_.setup;  // open, close, settings: not line operations
        return;
    }
    spend();
}

}  // namespace kelvara::bench
