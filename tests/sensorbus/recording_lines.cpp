#include "tests/sensorbus/recording_lines.h"

#include <algorithm>

#include "sensorbus/sim_lines.h"

namespace kelvara::test {

namespace {

RecordingLines* active = nullptr;

void record_sleep(int milliseconds)
{
    if (active != nullptr)
        active->calls.push_back("W" + std::to_string(milliseconds));
}

LineDriver& sim() { return sim_line_driver(); }

}  // namespace

RecordingLines::RecordingLines()
{
    active = this;
    register_line_driver("rec:", this);
    previous_sleep_ = set_sleep_hook(record_sleep);
}

RecordingLines::~RecordingLines()
{
    set_sleep_hook(previous_sleep_);
    unregister_line_driver(this);
    active = nullptr;
}

int RecordingLines::open(const char* device)
{
    calls.push_back("open");
    return sim().open(device + 4);
}

void RecordingLines::close(int id)
{
    calls.push_back("close");
    sim().close(id);
}

bool RecordingLines::get_state(int id, termios& state)
{
    calls.push_back("get_state");
    return sim().get_state(id, state);
}

bool RecordingLines::get_timeouts(int id, LineTimeouts& timeouts)
{
    calls.push_back("get_timeouts");
    return sim().get_timeouts(id, timeouts);
}

bool RecordingLines::set_timeouts(int id, const LineTimeouts& timeouts)
{
    calls.push_back("set_timeouts");
    return sim().set_timeouts(id, timeouts);
}

bool RecordingLines::get_event_mask(int id, std::uint32_t& mask)
{
    calls.push_back("get_event_mask");
    return sim().get_event_mask(id, mask);
}

bool RecordingLines::set_event_mask(int id, std::uint32_t mask)
{
    calls.push_back("set_event_mask");
    return sim().set_event_mask(id, mask);
}

bool RecordingLines::purge(int id)
{
    calls.push_back("purge");
    return sim().purge(id);
}

bool RecordingLines::set_dtr(int id, bool on)
{
    calls.push_back(on ? "D1" : "D0");
    return sim().set_dtr(id, on);
}

bool RecordingLines::set_rts(int id, bool on)
{
    calls.push_back(on ? "R1" : "R0");
    return sim().set_rts(id, on);
}

bool RecordingLines::set_break(int id, bool on)
{
    calls.push_back(on ? "B1" : "B0");
    return sim().set_break(id, on);
}

int RecordingLines::modem_status(int id)
{
    calls.push_back("C");
    int status = sim().modem_status(id);
    int n = cts_reads_++;
    return cts_override_ ? cts_override_(n, status) : status;
}

void RecordingLines::override_cts(std::function<int(int, int)> decide)
{
    cts_override_ = std::move(decide);
    cts_reads_ = 0;
}

std::string RecordingLines::joined(std::size_t from) const
{
    std::string text;
    for (std::size_t i = from; i < calls.size(); ++i) {
        if (!text.empty())
            text += ' ';
        text += calls[i];
    }
    return text;
}

int RecordingLines::count(const std::string& name) const
{
    return static_cast<int>(std::count(calls.begin(), calls.end(), name));
}

}  // namespace kelvara::test
