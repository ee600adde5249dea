// The probe on a real-device path, against the fake kernel of the line-access
// tests (linked under the termios driver with --wrap): what the system says
// when a device is missing, refused, not a tty or held, and what the line
// checks make of modem lines that do not behave.

#include <cerrno>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <vector>

#include <gtest/gtest.h>

#include "probe/bus_probe.h"
#include "sensorbus/serial_line_port.h"
#include "tests/sensorbus/fake_kernel.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::FakeKernel;
using test::FakeTty;
using test::ScopedEnv;

constexpr const char* kTty = "/fake/ttyS2";

void no_wait(int) {}

class ProbeOnFakeTty : public ::testing::Test {
protected:
    FakeKernel kernel;
    ScopedEnv com3{"KELVARA_COM3", kTty};

    void SetUp() override
    {
        kernel.add(kTty);
        previous_ = set_sleep_hook(no_wait);
    }
    void TearDown() override { set_sleep_hook(previous_); }

    static bool has_line(const std::string& output, const std::string& line)
    {
        return ("\n" + output).find("\n" + line + "\n") != std::string::npos;
    }

    static std::string last_line(const std::string& output)
    {
        std::string trimmed = output.substr(0, output.size() - 1);
        return trimmed.substr(trimmed.rfind('\n') + 1);
    }

private:
    SleepHook previous_ = nullptr;
};

TEST_F(ProbeOnFakeTty, DevicesTable)
{
    struct Case {
        const char* name;
        const char* device;
        void (*setup)(FakeTty&);
        std::vector<std::string> lines;  // each must appear as a whole line
        std::string verdict;
    } cases[] = {
        {"no such device",
         "/fake/ttyUSB7",
         [](FakeTty&) {},
         {"2. Open for exclusive use: FAILED", "   /fake/ttyUSB7: No such file or directory",
          "   No such device: check the name in KELVARA_COM3, that the serial adapter is plugged in and that its "
          "driver is loaded."},
         "Verdict: COM3 cannot be opened: no such device."},
        {"permission denied",
         kTty,
         [](FakeTty& t) { t.open_errno = EACCES; },
         {"2. Open for exclusive use: FAILED", "   /fake/ttyS2: Permission denied",
          "   Permission denied: add the user to the group that owns the device (dialout on Debian), then log in "
          "again."},
         "Verdict: COM3 cannot be opened: permission denied."},
        {"not a tty",
         kTty,
         [](FakeTty& t) { t.is_tty = false; },
         {"2. Open for exclusive use: FAILED", "   /fake/ttyS2: Inappropriate ioctl for device",
          "   Not a serial port: KELVARA_COM3 must name a serial device such as /dev/ttyS0 or /dev/ttyUSB0."},
         "Verdict: COM3 cannot be opened: not a serial port."},
        {"CTS stuck on",
         kTty,
         [](FakeTty& t) {
             t.cts_follows_dtr = false;
             t.modem_bits = TIOCM_CTS;
         },
         {"3. Lines with the break on: FAILED", "   lines released: SDA reads high",
          "   DTR pulls SDA low: SDA reads high", "   DTR releases SDA: SDA reads high",
          "   SDA does not follow DTR: check the DTR to SDA and SDA to CTS wiring, and that the break powers the "
          "bus.",
          "4. Scan: skipped, the lines do not work"},
         "Verdict: SDA does not follow DTR: check the wiring and the power from the break."},
        {"CTS stuck off",
         kTty,
         [](FakeTty& t) {
             t.cts_follows_dtr = false;
             t.modem_bits = 0;
         },
         {"3. Lines with the break on: FAILED", "   lines released: SDA reads low",
          "4. Scan: skipped, SDA still reads low after the bus was cleared"},
         "Verdict: SDA is held low, so no chip can answer."},
        {"modem ioctls refused",
         kTty,
         [](FakeTty& t) { t.fail_modem_ioctls = true; },
         {"2. Open for exclusive use: ok", "3. Lines with the break on: FAILED",
          "   the port refuses the modem-status call (code -16)", "4. Scan: skipped, the lines do not work"},
         "Verdict: the modem lines of COM3 cannot be driven."},
        {"lines wired, no chip",
         kTty,
         [](FakeTty&) {},
         {"3. Lines with the break on: ok", "   DTR pulls SDA low: SDA reads low",
          "   sensor 1 at 0x90: absent", "   sensor 8 at 0x9E: absent"},
         "Verdict: the port works but no chip answers: check the chips' power, wiring and address pins."},
    };
    for (const Case& c : cases) {
        ScopedEnv device("KELVARA_COM3", c.device);
        c.setup(kernel.add(kTty));
        std::ostringstream out;
        EXPECT_EQ(run_probe(3, out), PROBE_FAILED) << c.name;
        std::string output = out.str();
        EXPECT_TRUE(has_line(output, std::string("1. Device: ") + c.device + ", from KELVARA_COM3: ok"))
            << c.name << "\n" << output;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(has_line(output, line)) << c.name << ": missing\n" << line << "\nin\n" << output;
        EXPECT_EQ(last_line(output), c.verdict) << c.name;
        EXPECT_EQ(kernel.open_fds(), 0) << c.name << ": the probe left the device open";
        EXPECT_FALSE(kernel.tty(kTty).in_break) << c.name << ": the probe left the break on";
    }
}

TEST_F(ProbeOnFakeTty, TheLineChecksRunWithTheBreakOn)
{
    std::ostringstream out;
    run_probe(3, out);
    std::string log = kernel.joined_log();
    std::size_t brk = log.find("TIOCSBRK\n");
    std::size_t first_read = log.find("TIOCMGET\n");
    ASSERT_NE(brk, std::string::npos) << log;
    ASSERT_NE(first_read, std::string::npos) << log;
    EXPECT_LT(brk, first_read) << log;
    EXPECT_EQ(log.find("tcsetattr"), std::string::npos) << "the probe must not change the port's settings\n" << log;
}

TEST_F(ProbeOnFakeTty, DeviceHeldByAnotherOpener)
{
    SerialLinePort holder(3);
    ASSERT_TRUE(holder.is_open());
    std::ostringstream out;
    EXPECT_EQ(run_probe(3, out), PROBE_FAILED);
    std::string output = out.str();
    EXPECT_TRUE(has_line(output, "   /fake/ttyS2: Device or resource busy")) << output;
    EXPECT_EQ(last_line(output), "Verdict: COM3 cannot be opened: held by another program.");
    EXPECT_EQ(kernel.open_fds(), 1) << "only the holder's descriptor is left";
}

}  // namespace
}  // namespace kelvara
