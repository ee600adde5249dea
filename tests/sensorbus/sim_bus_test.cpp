// The sensor bus end to end on simulated ports: the chips answer at the line
// level, so these tests exercise the bus master, the sensor layer and the
// sweep as they run against hardware.

#include <chrono>
#include <cstdint>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sensorbus/ds1621_sensor.h"
#include "sensorbus/sim_lines.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::ScopedEnv;

void no_wait(int) {}

// The bus's pauses are real sleeps; these tests do not need them.
class SimBus : public ::testing::Test {
protected:
    void SetUp() override { previous_ = set_sleep_hook(no_wait); }
    void TearDown() override { set_sleep_hook(previous_); }

    struct Sweep {
        std::int8_t status[8];
        std::int16_t temperature[8];
    };

    // A sweep with every slot primed to a value no sweep writes.
    static Sweep sweep(const char* device, int first, int last, int com = 3)
    {
        ScopedEnv port("KELVARA_COM3", device);
        Sweep s{};
        for (int i = 0; i < 8; ++i) {
            s.status[i] = 0x55;
            s.temperature[i] = 0x5555;
        }
        read_sensors(s.status, s.temperature, first, last, com);
        return s;
    }

private:
    SleepHook previous_ = nullptr;
};

TEST_F(SimBus, SweepReadsPresentAndAbsentChips)
{
    Sweep s = sweep("sim:21.5,-,25.5", 1, 3);
    EXPECT_EQ(s.temperature[0], 5504);
    EXPECT_EQ(s.temperature[1], 0);
    EXPECT_EQ(s.temperature[2], 6528);
    EXPECT_EQ(s.status[0], 0);
    EXPECT_EQ(s.status[1], I2C_ERR_ADDRESS_NAK);
    EXPECT_EQ(s.status[2], 0);
    for (int i = 3; i < 8; ++i) {
        EXPECT_EQ(s.status[i], 0x55) << "slot " << i << " is outside the range";
        EXPECT_EQ(s.temperature[i], 0x5555) << "slot " << i << " is outside the range";
    }
}

TEST_F(SimBus, SweepWritesOnlyTheRequestedSlots)
{
    Sweep s = sweep("sim:1,2,3,4,5,6,7,8", 3, 3);
    for (int i = 0; i < 8; ++i) {
        if (i == 2) {
            EXPECT_EQ(s.temperature[i], 3 * 256);
            EXPECT_EQ(s.status[i], 0);
        } else {
            EXPECT_EQ(s.temperature[i], 0x5555) << "slot " << i;
        }
    }
}

TEST_F(SimBus, FullRangeWithAChipMissingInTheMiddle)
{
    Sweep s = sweep("sim:1,2,3,-,5,6,7,8", 1, 8);
    for (int i = 0; i < 8; ++i) {
        if (i == 3) {
            EXPECT_EQ(s.temperature[i], 0);
            EXPECT_EQ(s.status[i], I2C_ERR_ADDRESS_NAK);
        } else {
            EXPECT_EQ(s.temperature[i], (i + 1) * 256) << "slot " << i;
            EXPECT_EQ(s.status[i], 0) << "slot " << i;
        }
    }
}

TEST_F(SimBus, TemperaturesComeBackAsTheChipsWordsAcrossTheirRange)
{
    struct Case {
        const char* celsius;
        std::uint16_t word;
    } cases[] = {
        {"125", 0x7D00}, {"25", 0x1900},   {"0.5", 0x0080}, {"0", 0x0000},  {"-0.5", 0xFF80},
        {"-25", 0xE700}, {"-55", 0xC900},  {"25.5", 0x1980}, {"21.3", 0x1580}, {"21.2", 0x1500},
        {"150", 0x7D00}, {"-80", 0xC900},
    };
    for (const Case& c : cases) {
        std::string device = std::string("sim:") + c.celsius;
        Sweep s = sweep(device.c_str(), 1, 1);
        EXPECT_EQ(static_cast<std::uint16_t>(s.temperature[0]), c.word) << c.celsius;
        EXPECT_EQ(s.status[0], 0) << c.celsius;
    }
}

TEST_F(SimBus, MisbehavingChipsGiveTheirBusCodes)
{
    struct Case {
        const char* device;
        int first;
        int last;
        std::int8_t expected[8];
    } cases[] = {
        {"sim:20,nak,22", 1, 3, {0, I2C_ERR_NO_ACK, 0}},
        {"sim:20,21,hold", 1, 3, {I2C_ERR_BUS_BUSY, I2C_ERR_BUS_BUSY, I2C_ERR_BUS_BUSY}},
        {"sim:", 1, 8, {-13, -13, -13, -13, -13, -13, -13, -13}},
    };
    for (const Case& c : cases) {
        Sweep s = sweep(c.device, c.first, c.last);
        for (int n = c.first; n <= c.last; ++n) {
            EXPECT_EQ(s.status[n - 1], c.expected[n - 1]) << c.device << " sensor " << n;
            if (c.expected[n - 1] != 0) {
                EXPECT_EQ(s.temperature[n - 1], 0) << c.device << " sensor " << n;
            }
        }
    }
}

TEST_F(SimBus, PortThatCannotBeOpenedFailsEverySensorWithSdaMismatch)
{
    struct Case {
        const char* device;
        int com;
    } cases[] = {
        {"sim:20,21", 5},           // no such COM port
        {"sim:20,21", 0},
        {"sim:20,oops", 3},         // a malformed name fails like a missing device
        {"/nonexistent/kelvara-tty", 3},
    };
    for (const Case& c : cases) {
        Sweep s = sweep(c.device, 1, 2, c.com);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(s.status[i], I2C_ERR_SDA_MISMATCH) << c.device << " COM" << c.com;
            EXPECT_EQ(s.temperature[i], 0) << c.device << " COM" << c.com;
        }
    }
}

TEST_F(SimBus, BusOnAPortThatFailedToOpen)
{
    I2CBus bus;
    EXPECT_EQ(bus.open(5), 0);
    const std::uint8_t command[] = {0xEE};
    EXPECT_EQ(bus.write_and_stop(0x90, command, 1), 0);
    EXPECT_EQ(bus.last_error, I2C_ERR_SDA_MISMATCH);
    EXPECT_EQ(bus.error_address, 0x90);
    EXPECT_EQ(bus.stop(), 0);
}

TEST_F(SimBus, PortHeldByAnotherObjectIsRefused)
{
    ScopedEnv port("KELVARA_COM3", "sim:20");
    SerialLinePort holder(3);
    ASSERT_TRUE(holder.is_open());
    SerialLinePort second(3);
    EXPECT_FALSE(second.is_open());
    EXPECT_EQ(second.open(3), SERIAL_ERR_PORT);

    Sweep s = sweep("sim:20", 1, 1);
    EXPECT_EQ(s.status[0], I2C_ERR_SDA_MISMATCH);

    holder.close();
    EXPECT_EQ(second.open(3), 0) << "the port must be free again once closed";
}

TEST_F(SimBus, ReopeningAnOpenPortLetsGoOfTheFirstDevice)
{
    ScopedEnv com3("KELVARA_COM3", "sim:20");
    ScopedEnv com4("KELVARA_COM4", "sim:21");
    SerialLinePort port(3);
    ASSERT_TRUE(port.is_open());
    EXPECT_EQ(port.open(4), 0);
    SerialLinePort other(3);
    EXPECT_TRUE(other.is_open()) << "COM3 is still held after the port moved to COM4";
    EXPECT_EQ(port.open(9), SERIAL_ERR_PORT);
    EXPECT_TRUE(port.is_open()) << "a bad number must leave the open port alone";
}

TEST_F(SimBus, PortHeldByAnotherProcessFailsTheSweep)
{
    int ready[2];
    int release[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(release), 0);
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::setenv("KELVARA_COM3", "sim:20,21", 1);
        SerialLinePort holder(3);
        char byte = holder.is_open() ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        (void)!::read(release[0], &byte, 1);
        ::_exit(0);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');

    Sweep held = sweep("sim:20,21", 1, 2);
    (void)!::write(release[1], "x", 1);
    int wstatus = 0;
    ::waitpid(child, &wstatus, 0);
    Sweep freed = sweep("sim:20,21", 1, 2);

    EXPECT_EQ(held.status[0], I2C_ERR_SDA_MISMATCH);
    EXPECT_EQ(held.status[1], I2C_ERR_SDA_MISMATCH);
    EXPECT_EQ(held.temperature[0], 0);
    EXPECT_EQ(freed.status[0], 0);
    EXPECT_EQ(freed.temperature[1], 21 * 256);
    for (int fd : {ready[0], ready[1], release[0], release[1]})
        ::close(fd);
}

TEST_F(SimBus, ChipsAnswerOnlyWhileTheBreakPowersThem)
{
    ScopedEnv port("KELVARA_COM3", "sim:20");
    I2CBus bus;
    bus.open(3);
    const std::uint8_t convert[] = {0xEE};
    ASSERT_EQ(bus.write_and_stop(0x90, convert, 1), 1);

    bus.line_port().set_break(0);
    EXPECT_EQ(bus.write_and_stop(0x90, convert, 1), 0);
    EXPECT_EQ(bus.last_error, I2C_ERR_ADDRESS_NAK);

    // Powered up again the chip starts over: no reading until a conversion.
    bus.line_port().set_break(1);
    const std::uint8_t read_command[] = {0xAA};
    std::uint8_t word[2] = {0x55, 0x55};
    ASSERT_EQ(bus.write(0x90, read_command, 1), 1);
    ASSERT_EQ(bus.read_and_stop(0x90, word, 2), 2);
    EXPECT_EQ(word[0], 0);
    EXPECT_EQ(word[1], 0);
}

TEST_F(SimBus, ReadAddressCarriesTheReadBitAndOnlyTheLowByteCounts)
{
    ScopedEnv port("KELVARA_COM3", "sim:20");
    I2CBus bus;
    bus.open(3);
    std::uint8_t buffer[2] = {};
    EXPECT_EQ(bus.read(0x92, buffer, 2), 0);
    EXPECT_EQ(bus.last_error, I2C_ERR_ADDRESS_NAK);
    EXPECT_EQ(bus.error_address, 0x93);

    const std::uint8_t convert[] = {0xEE};
    EXPECT_EQ(bus.write_and_stop(0x190, convert, 1), 1) << "0x190 must reach the chip at 0x90";
}

TEST_F(SimBus, SelectSensorIgnoresIndexesOutsideOneToEight)
{
    DS1621Sensor sensor;
    EXPECT_EQ(sensor.address, 0x90);
    sensor.select_sensor(0);
    EXPECT_EQ(sensor.address, 0x90);
    sensor.select_sensor(8);
    EXPECT_EQ(sensor.address, 0x9E);
    sensor.select_sensor(9);
    EXPECT_EQ(sensor.address, 0x9E);
    sensor.select_sensor(-1);
    EXPECT_EQ(sensor.address, 0x9E);
}

TEST(SimDeviceName, ParsesEntriesAndRefusesMalformedNames)
{
    struct Case {
        const char* name;
        bool ok;
        SimChipKind kinds[3];
        std::int16_t first_word;
    } cases[] = {
        {"sim:", true, {SimChipKind::absent, SimChipKind::absent, SimChipKind::absent}, 0},
        {"sim:21.5,-,25.5", true, {SimChipKind::normal, SimChipKind::absent, SimChipKind::normal}, 5504},
        {"sim:,nak,hold", true, {SimChipKind::absent, SimChipKind::nak, SimChipKind::hold}, 0},
        {"sim:-0.5", true, {SimChipKind::normal, SimChipKind::absent, SimChipKind::absent}, -128},
        {"sim:1,2,3,4,5,6,7,8", true, {SimChipKind::normal, SimChipKind::normal, SimChipKind::normal}, 256},
        {"sim:1,2,3,4,5,6,7,8,9", false, {}, 0},
        {"sim:21.5x", false, {}, 0},
        {"sim: 5", false, {}, 0},
        {"sim:warm", false, {}, 0},
        {"sim:nan", false, {}, 0},
        {"sim:1e999", false, {}, 0},
        {"/dev/ttyS9", false, {}, 0},  // parsed only, never opened
    };
    for (const Case& c : cases) {
        SimChipSetup chips[8];
        ASSERT_EQ(parse_sim_device(c.name, chips), c.ok) << c.name;
        if (!c.ok)
            continue;
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(chips[i].kind, c.kinds[i]) << c.name << " entry " << i;
        EXPECT_EQ(chips[0].word, c.first_word) << c.name;
    }
}

TEST(ComDeviceName, EnvironmentNamesTheDeviceElseTheDefaultTty)
{
    char name[64];
    {
        ScopedEnv com2("KELVARA_COM2", "/dev/ttyUSB0");
        ASSERT_TRUE(com_device_name(2, name, sizeof name));
        EXPECT_STREQ(name, "/dev/ttyUSB0");
        EXPECT_EQ(com_device_source(2), DeviceNameSource::environment);
    }
    {
        ScopedEnv com2("KELVARA_COM2", "");
        ASSERT_TRUE(com_device_name(2, name, sizeof name));
        EXPECT_STREQ(name, "/dev/ttyS1");
        EXPECT_EQ(com_device_source(2), DeviceNameSource::default_name);
    }
    EXPECT_FALSE(com_device_name(0, name, sizeof name));
    EXPECT_FALSE(com_device_name(5, name, sizeof name));
    ScopedEnv long_name("KELVARA_COM4", std::string(100, 'x'));
    EXPECT_FALSE(com_device_name(4, name, sizeof name)) << "a name that does not fit must not be cut";
}

TEST(SpinDelay, CountingTakesLongerForLargerCounts)
{
    // A loop the compiler removed would take no time at any count.
    auto time_of = [](int count) {
        auto start = std::chrono::steady_clock::now();
        spin_delay(count);
        return std::chrono::steady_clock::now() - start;
    };
    EXPECT_GT(time_of(50'000'000), time_of(10) * 10);
}

}  // namespace
}  // namespace kelvara
