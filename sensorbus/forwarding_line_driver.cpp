#include "sensorbus/forwarding_line_driver.h"

#include <cstring>

namespace kelvara {

ForwardingLineDriver::ForwardingLineDriver(const char* prefix, LineDriver& inner)
    : prefix_length_(std::strlen(prefix)), inner_(inner)
{
    register_line_driver(prefix, this);
}

ForwardingLineDriver::~ForwardingLineDriver() { unregister_line_driver(this); }

void ForwardingLineDriver::observe(LineCall, bool) {}

int ForwardingLineDriver::filter_status(int status) { return status; }

int ForwardingLineDriver::open(const char* device)
{
    observe(LineCall::open, false);
    return inner_.open(device + prefix_length_);
}

void ForwardingLineDriver::close(int id)
{
    observe(LineCall::close, false);
    inner_.close(id);
}

bool ForwardingLineDriver::get_state(int id, termios& state)
{
    observe(LineCall::get_state, false);
    return inner_.get_state(id, state);
}

bool ForwardingLineDriver::get_timeouts(int id, LineTimeouts& timeouts)
{
    observe(LineCall::get_timeouts, false);
    return inner_.get_timeouts(id, timeouts);
}

bool ForwardingLineDriver::set_timeouts(int id, const LineTimeouts& timeouts)
{
    observe(LineCall::set_timeouts, false);
    return inner_.set_timeouts(id, timeouts);
}

bool ForwardingLineDriver::get_event_mask(int id, std::uint32_t& mask)
{
    observe(LineCall::get_event_mask, false);
    return inner_.get_event_mask(id, mask);
}

bool ForwardingLineDriver::set_event_mask(int id, std::uint32_t mask)
{
    observe(LineCall::set_event_mask, false);
    return inner_.set_event_mask(id, mask);
}

bool ForwardingLineDriver::purge(int id)
{
    observe(LineCall::purge, false);
    return inner_.purge(id);
}

bool ForwardingLineDriver::set_dtr(int id, bool on)
{
    observe(LineCall::dtr, on);
    return inner_.set_dtr(id, on);
}

bool ForwardingLineDriver::set_rts(int id, bool on)
{
    observe(LineCall::rts, on);
    return inner_.set_rts(id, on);
}

bool ForwardingLineDriver::set_break(int id, bool on)
{
    observe(LineCall::brk, on);
    return inner_.set_break(id, on);
}

int ForwardingLineDriver::modem_status(int id)
{
    observe(LineCall::cts, false);
    return filter_status(inner_.modem_status(id));
}

}  // namespace kelvara
