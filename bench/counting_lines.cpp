#include "bench/counting_lines.h"

#include <cstring>

#include "sensorbus/sim_lines.h"

namespace kelvara::bench {

namespace {

LineDriver& sim() { return sim_line_driver(); }

}  // namespace

CountingLines::CountingLines(std::chrono::nanoseconds cost) : cost_(cost)
{
    register_line_driver(COUNTING_DEVICE_PREFIX, this);
}

CountingLines::~CountingLines() { unregister_line_driver(this); }

void CountingLines::spend() const
{
    if (cost_.count() <= 0)
        return;
    using clock = std::chrono::steady_clock;
    const auto until = clock::now() + cost_;
    while (clock::now() < until) {
    }
}

int CountingLines::open(const char* device)
{
    ++counts_.setup;
    return sim().open(device + std::strlen(COUNTING_DEVICE_PREFIX));
}

void CountingLines::close(int id)
{
    ++counts_.setup;
    sim().close(id);
}

bool CountingLines::get_state(int id, termios& state)
{
    ++counts_.setup;
    return sim().get_state(id, state);
}

bool CountingLines::get_timeouts(int id, LineTimeouts& timeouts)
{
    ++counts_.setup;
    return sim().get_timeouts(id, timeouts);
}

bool CountingLines::set_timeouts(int id, const LineTimeouts& timeouts)
{
    ++counts_.setup;
    return sim().set_timeouts(id, timeouts);
}

bool CountingLines::get_event_mask(int id, std::uint32_t& mask)
{
    ++counts_.setup;
    return sim().get_event_mask(id, mask);
}

bool CountingLines::set_event_mask(int id, std::uint32_t mask)
{
    ++counts_.setup;
    return sim().set_event_mask(id, mask);
}

bool CountingLines::purge(int id)
{
    ++counts_.setup;
    return sim().purge(id);
}

bool CountingLines::set_dtr(int id, bool on)
{
    ++counts_.dtr;
    spend();
    return sim().set_dtr(id, on);
}

bool CountingLines::set_rts(int id, bool on)
{
    ++counts_.rts;
    spend();
    return sim().set_rts(id, on);
}

bool CountingLines::set_break(int id, bool on)
{
    ++counts_.brk;
    spend();
    return sim().set_break(id, on);
}

int CountingLines::modem_status(int id)
{
    ++counts_.cts;
    spend();
    return sim().modem_status(id);
}

}  // namespace kelvara::bench
