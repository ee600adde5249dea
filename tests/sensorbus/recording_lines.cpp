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

}  // namespace

RecordingLines::RecordingLines() : ForwardingLineDriver("rec:", sim_line_driver())
{
    active = this;
    previous_sleep_ = set_sleep_hook(record_sleep);
}

RecordingLines::~RecordingLines()
{
    set_sleep_hook(previous_sleep_);
    active = nullptr;
}

void RecordingLines::observe(LineCall call, bool on)
{
    switch (call) {
    case LineCall::open: calls.push_back("open"); break;
    case LineCall::close: calls.push_back("close"); break;
    case LineCall::get_state: calls.push_back("get_state"); break;
    case LineCall::get_timeouts: calls.push_back("get_timeouts"); break;
    case LineCall::set_timeouts: calls.push_back("set_timeouts"); break;
    case LineCall::get_event_mask: calls.push_back("get_event_mask"); break;
    case LineCall::set_event_mask: calls.push_back("set_event_mask"); break;
    case LineCall::purge: calls.push_back("purge"); break;
    case LineCall::dtr: calls.push_back(on ? "D1" : "D0"); break;
    case LineCall::rts: calls.push_back(on ? "R1" : "R0"); break;
    case LineCall::brk: calls.push_back(on ? "B1" : "B0"); break;
    case LineCall::cts: calls.push_back("C"); break;
    }
}

int RecordingLines::filter_status(int status)
{
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
