#pragma once
// A line driver that sits in front of the simulated bus and writes down every
// call the port makes ("R1" RTS set, "D0" DTR cleared, "B1" break on, "C" a
// CTS read, "W100" a 100 ms wait, ...). Devices are named "rec:" followed by
// a simulated device name, e.g. "rec:sim:21.5".

#include <functional>
#include <string>
#include <vector>

#include "sensorbus/forwarding_line_driver.h"

namespace kelvara::test {

class RecordingLines : public ForwardingLineDriver {
public:
    RecordingLines();
    ~RecordingLines() override;

    std::vector<std::string> calls;

    // From now on, decide what the n-th CTS read (counting from 0 at this
    // call) returns, given what the simulated bus says.
    void override_cts(std::function<int(int read_number, int status)> decide);

    // The calls from index from on, joined with spaces.
    std::string joined(std::size_t from = 0) const;
    // How many calls equal name.
    int count(const std::string& name) const;

protected:
    void observe(LineCall call, bool on) override;
    int filter_status(int status) override;

private:
    std::function<int(int, int)> cts_override_;
    int cts_reads_ = 0;
    SleepHook previous_sleep_;
};

}  // namespace kelvara::test
