// The probe on simulated buses: the chips answer at the line level, so the
// probe's line checks and scan run as they do against hardware.

#include <cerrno>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <gtest/gtest.h>

#include "probe/bus_probe.h"
#include "sensorbus/serial_line_port.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::ScopedEnv;

void no_wait(int) {}

class ProbeOnSimBus : public ::testing::Test {
protected:
    void SetUp() override { previous_ = set_sleep_hook(no_wait); }
    void TearDown() override { set_sleep_hook(previous_); }

    static std::string probe(const char* device, int& status, int com = 3)
    {
        ScopedEnv port("KELVARA_COM3", device);
        std::ostringstream out;
        status = run_probe(com, out);
        return out.str();
    }

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

TEST_F(ProbeOnSimBus, ReportsEveryStepForAChipAnAbsentAddressAndANakChip)
{
    int status = -1;
    std::string output = probe("sim:21.5,-,nak", status);
    EXPECT_EQ(status, PROBE_OK);
    EXPECT_EQ(output,
              "Kelvara bus probe on COM3\n"
              "1. Device: sim:21.5,-,nak, from KELVARA_COM3: ok\n"
              "2. Open for exclusive use: ok\n"
              "3. Lines with the break on: ok\n"
              "   lines released: SDA reads high\n"
              "   DTR pulls SDA low: SDA reads low\n"
              "   DTR releases SDA: SDA reads high\n"
              "4. Scan of the eight addresses after clearing the bus: 1 chip answers\n"
              "   sensor 1 at 0x90: present, 21.5 C, 70.7 F\n"
              "   sensor 2 at 0x92: absent\n"
              "   sensor 3 at 0x94: acknowledges its address but not a data byte (code -12)\n"
              "   sensor 4 at 0x96: absent\n"
              "   sensor 5 at 0x98: absent\n"
              "   sensor 6 at 0x9A: absent\n"
              "   sensor 7 at 0x9C: absent\n"
              "   sensor 8 at 0x9E: absent\n"
              "Verdict: the port works and 1 chip answers (sensor 1).\n");
}

TEST_F(ProbeOnSimBus, BusesTable)
{
    struct Case {
        const char* device;
        int status;
        std::vector<std::string> lines;  // each must appear as a whole line
        std::string verdict;
    } cases[] = {
        {"sim:",
         PROBE_FAILED,
         {"3. Lines with the break on: ok", "4. Scan of the eight addresses after clearing the bus: no chip answers",
          "   sensor 8 at 0x9E: absent"},
         "Verdict: the port works but no chip answers: check the chips' power, wiring and address pins."},
        {"sim:-25,-,-,-,-,-,-0.5,125",
         PROBE_OK,
         {"   sensor 1 at 0x90: present, -25.0 C, -13.0 F", "   sensor 7 at 0x9C: present, -0.5 C, 31.1 F",
          "   sensor 8 at 0x9E: present, 125.0 C, 257.0 F", "   sensor 2 at 0x92: absent"},
         "Verdict: the port works and 3 chips answer (sensors 1, 7, 8)."},
        {"sim:0,0",  // 0 C is a reading, not a failure
         PROBE_OK,
         {"   sensor 1 at 0x90: present, 0.0 C, 32.0 F", "   sensor 2 at 0x92: present, 0.0 C, 32.0 F"},
         "Verdict: the port works and 2 chips answer (sensors 1, 2)."},
        {"sim:nak,nak",  // acknowledging an address is not answering
         PROBE_FAILED,
         {"   sensor 1 at 0x90: acknowledges its address but not a data byte (code -12)",
          "4. Scan of the eight addresses after clearing the bus: no chip answers"},
         "Verdict: the port works but no chip answers: check the chips' power, wiring and address pins."},
        {"sim:21.5,hold",
         PROBE_FAILED,
         {"3. Lines with the break on: FAILED", "   lines released: SDA reads low",
          "   Something holds SDA low: a chip, a short, or a missing pull-up; while it does, every transfer fails "
          "with code -11 (bus busy).",
          "4. Scan: skipped, SDA still reads low after the bus was cleared"},
         "Verdict: SDA is held low, so no chip can answer."},
        {"sim:21.5,bogus",
         PROBE_FAILED,
         {"2. Open for exclusive use: FAILED", "   sim:21.5,bogus: No such file or directory",
          "   A simulated port is sim: followed by up to eight comma-separated entries, each a temperature, -, nak "
          "or hold: check KELVARA_COM3."},
         "Verdict: COM3 cannot be opened: no such device."},
    };
    for (const Case& c : cases) {
        int status = -1;
        std::string output = probe(c.device, status);
        EXPECT_EQ(status, c.status) << c.device << "\n" << output;
        for (const std::string& line : c.lines)
            EXPECT_TRUE(has_line(output, line)) << c.device << ": missing\n" << line << "\nin\n" << output;
        EXPECT_EQ(last_line(output), c.verdict) << c.device;

        // Whatever happened, the probe let go of the port.
        ScopedEnv port("KELVARA_COM3", c.device);
        SerialLinePort again(3);
        EXPECT_NE(again.last_open_errno(), EBUSY) << c.device << ": the probe kept the port";
    }
}

TEST_F(ProbeOnSimBus, PortNumberOutsideOneToFourIsNotOpened)
{
    for (int com : {0, 5, -1}) {
        int status = -1;
        std::string output = probe("sim:21.5", status, com);
        EXPECT_EQ(status, PROBE_FAILED) << com;
        EXPECT_TRUE(has_line(output, "   COM" + std::to_string(com) + " is not a port: use 1 to 4.")) << output;
        EXPECT_EQ(output.find("2. Open"), std::string::npos) << output;
    }
}

TEST_F(ProbeOnSimBus, DeviceDescriptionSaysWhereTheNameCameFrom)
{
    // Only the names are described here: no device is opened.
    struct Case {
        int com;
        const char* value;  // nullptr: unset
        const char* description;
    } cases[] = {
        {2, "sim:21.5", "sim:21.5, from KELVARA_COM2"},
        {2, "/dev/ttyUSB0", "/dev/ttyUSB0, from KELVARA_COM2"},
        {2, nullptr, "/dev/ttyS1, the default for COM2 (KELVARA_COM2 is not set)"},
        {4, "", "/dev/ttyS3, the default for COM4 (KELVARA_COM4 is not set)"},
        {1, nullptr, "/dev/ttyS0, the default for COM1 (KELVARA_COM1 is not set)"},
        {5, "sim:", ""},
    };
    for (const Case& c : cases) {
        std::string name = "KELVARA_COM" + std::to_string(c.com);
        ScopedEnv env(name, c.value != nullptr ? std::optional<std::string>(c.value) : std::nullopt);
        EXPECT_EQ(describe_com_device(c.com), c.description) << c.com;
    }
}

TEST_F(ProbeOnSimBus, PortHeldByAnotherProcess)
{
    ScopedEnv port("KELVARA_COM3", "sim:21.5");
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Holds the port until the parent closes its end of the pipe (or exits).
        ::close(ready[0]);
        ::close(release[1]);
        SerialLinePort holder(3);
        char byte = holder.is_open() ? 'y' : 'n';
        if (::write(ready[1], &byte, 1) != 1)
            ::_exit(3);
        ::read(release[0], &byte, 1);
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::close(ready[0]);

    int status = -1;
    std::string output;
    if (byte == 'y')
        output = probe("sim:21.5", status);

    ::close(release[1]);
    int child_status = 0;
    ASSERT_EQ(::waitpid(child, &child_status, 0), child);
    ASSERT_EQ(byte, 'y') << "the child could not open the port";

    EXPECT_EQ(status, PROBE_FAILED);
    EXPECT_TRUE(has_line(output, "2. Open for exclusive use: FAILED")) << output;
    EXPECT_TRUE(has_line(output, "   sim:21.5: Device or resource busy")) << output;
    EXPECT_TRUE(has_line(output, "   Another program holds the port, usually kvserver (or kvpage while it reads): "
                                 "stop it, or probe another port."))
        << output;
    EXPECT_EQ(last_line(output), "Verdict: COM3 cannot be opened: held by another program.");

    // Once the other program is gone, the same port probes fine.
    output = probe("sim:21.5", status);
    EXPECT_EQ(status, PROBE_OK) << output;
}

}  // namespace
}  // namespace kelvara
