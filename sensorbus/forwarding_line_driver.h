#pragma once
// A line driver in front of another one: every call is passed on, after the
// driver has been told of it, and a status read can be altered on its way
// back. Tests, benchmarks and fuzzers use it to record, count, slow down or
// disturb the lines of a simulated port. Its devices are named by a prefix
// followed by the inner driver's device name, e.g. "rec:sim:21.5".

#include <cstddef>

#include "sensorbus/line_access.h"

namespace kelvara {

enum class LineCall {
    open,
    close,
    get_state,
    get_timeouts,
    set_timeouts,
    get_event_mask,
    set_event_mask,
    purge,
    dtr,
    rts,
    brk,
    cts,
};

class ForwardingLineDriver : public LineDriver {
public:
    // Registers the driver for devices beginning with prefix (a literal that
    // outlives it) until it is destroyed.
    ForwardingLineDriver(const char* prefix, LineDriver& inner);
    ~ForwardingLineDriver() override;

    ForwardingLineDriver(const ForwardingLineDriver&) = delete;
    ForwardingLineDriver& operator=(const ForwardingLineDriver&) = delete;

    int open(const char* device) final;
    void close(int id) final;
    bool get_state(int id, termios& state) final;
    bool get_timeouts(int id, LineTimeouts& timeouts) final;
    bool set_timeouts(int id, const LineTimeouts& timeouts) final;
    bool get_event_mask(int id, std::uint32_t& mask) final;
    bool set_event_mask(int id, std::uint32_t mask) final;
    bool purge(int id) final;
    bool set_dtr(int id, bool on) final;
    bool set_rts(int id, bool on) final;
    bool set_break(int id, bool on) final;
    int modem_status(int id) final;

protected:
    // Told of every call before it is passed on; on is the level asked for
    // by dtr, rts and brk.
    virtual void observe(LineCall call, bool on);
    // What a status read returns, given what the inner driver answered.
    virtual int filter_status(int status);

private:
    std::size_t prefix_length_;
    LineDriver& inner_;
};

}  // namespace kelvara
