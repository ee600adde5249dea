// The bus and the port as seen from the lines: which calls, in which order,
// how many, and which waits. The recording driver sits in front of a
// simulated bus, so the chips answer as real ones would.

#include <cstdint>
#include <string>

#include <gtest/gtest.h>

#include "sensorbus/ds1621_sensor.h"
#include "tests/sensorbus/recording_lines.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using test::RecordingLines;
using test::ScopedEnv;

// Expected line calls, built the way the bus is meant to clock.
std::string join(std::initializer_list<std::string> parts)
{
    std::string text;
    for (const std::string& part : parts) {
        if (part.empty())
            continue;
        if (!text.empty())
            text += ' ';
        text += part;
    }
    return text;
}

std::string repeat(const std::string& piece, int times)
{
    std::string text;
    for (int i = 0; i < times; ++i)
        text = join({text, piece});
    return text;
}

const std::string kRelease = "R1 D1";
const std::string kStart = join({"R1 D1", repeat("C", 90), "D0 R0"});
const std::string kStop = "D0 R1 D1 C";
const std::string kReceiveBit = "D1 R1 C R0";

std::string send_bit(int level) { return level ? "D1 R1 C R0" : "D0 R1 C R0"; }

// Eight data bits, most significant first, then the receiver's acknowledge.
std::string send_byte(int value)
{
    std::string text;
    for (int bit = 7; bit >= 0; --bit)
        text = join({text, send_bit(value & (1 << bit))});
    return join({text, kReceiveBit});
}

// Eight bits in, the acknowledge (0) or not (1) out, then SDA released.
std::string receive_byte(int ack_level) { return join({repeat(kReceiveBit, 8), send_bit(ack_level), "D1"}); }

class LineOrder : public ::testing::Test {
protected:
    RecordingLines lines;
    ScopedEnv com1{"KELVARA_COM1", "rec:sim:21.5,-,25.5"};

    // Opens the bus and forgets the calls that took, so a test sees only its own.
    void open_quietly(I2CBus& bus)
    {
        bus.open(1);
        lines.calls.clear();
    }
};

TEST_F(LineOrder, OpenReleasesLinesBeforeBreakThenClearsTheBus)
{
    I2CBus bus;
    EXPECT_EQ(bus.open(1), 0);
    EXPECT_EQ(lines.joined(), join({"open get_state get_timeouts get_event_mask purge", kRelease, "B1 W100",
                                    receive_byte(1), kRelease, "W50"}));
    EXPECT_EQ(bus.last_error, 0);
}

TEST_F(LineOrder, CloseReleasesLinesThenBreakOffThenRestoresAndReleasesThePort)
{
    I2CBus bus;
    open_quietly(bus);
    bus.close();
    EXPECT_EQ(lines.joined(), join({kRelease, "B0 set_timeouts set_event_mask purge close"}));
    bus.close();
    EXPECT_EQ(lines.count("close"), 1) << "a second close must not touch the port";
}

TEST_F(LineOrder, WriteAndStopIsStartAddressDataStopAtFourCallsABit)
{
    I2CBus bus;
    open_quietly(bus);
    const std::uint8_t command[] = {0xEE};
    EXPECT_EQ(bus.write_and_stop(0x90, command, 1), 1);
    EXPECT_EQ(bus.last_error, 0);
    EXPECT_EQ(lines.joined(), join({kStart, send_byte(0x90), send_byte(0xEE), kStop}));
    // start: 2 + 90 + 2; two bytes of 9 bits at 4 calls; stop: 4
    EXPECT_EQ(lines.calls.size(), 94u + 2 * 9 * 4 + 4);
}

TEST_F(LineOrder, ReadAcknowledgesEveryByteButTheLast)
{
    struct Case {
        std::size_t length;
        std::string bytes;
    } cases[] = {
        {1, receive_byte(1)},
        {2, join({receive_byte(0), receive_byte(1)})},
        {3, join({receive_byte(0), receive_byte(0), receive_byte(1)})},
    };
    for (const Case& c : cases) {
        I2CBus bus;
        open_quietly(bus);
        std::uint8_t buffer[3] = {};
        EXPECT_EQ(bus.read_and_stop(0x90, buffer, c.length), static_cast<int>(c.length));
        EXPECT_EQ(lines.joined(), join({kStart, send_byte(0x91), c.bytes, kStop})) << "length " << c.length;
    }
}

TEST_F(LineOrder, ShortTransferSendsNoStop)
{
    I2CBus bus;
    open_quietly(bus);
    const std::uint8_t command[] = {0xAA};
    EXPECT_EQ(bus.write_and_stop(0x92, command, 1), 0);  // no chip at sensor 2
    EXPECT_EQ(bus.last_error, I2C_ERR_ADDRESS_NAK);
    EXPECT_EQ(bus.error_address, 0x92);
    EXPECT_EQ(lines.joined(), join({kStart, send_byte(0x92)}));
}

TEST_F(LineOrder, BusClearingReadHasNoStartNoAddressAndNoStop)
{
    I2CBus bus;
    open_quietly(bus);
    std::uint8_t buffer[1] = {0x5A};
    EXPECT_EQ(bus.read_and_stop(0x90, buffer, 0), 1);
    EXPECT_EQ(buffer[0], 0xFF);
    EXPECT_EQ(bus.last_error, 0);
    EXPECT_EQ(lines.joined(), receive_byte(1));
}

TEST_F(LineOrder, WriteOfLengthZeroTouchesNothing)
{
    I2CBus bus;
    open_quietly(bus);
    const std::uint8_t command[] = {0xEE};
    bus.write(0x92, command, 1);  // leaves -13 and 0x92 behind
    lines.calls.clear();
    EXPECT_EQ(bus.write(0x94, command, 0), 0);
    EXPECT_TRUE(lines.calls.empty());
    EXPECT_EQ(bus.last_error, I2C_ERR_ADDRESS_NAK);
    EXPECT_EQ(bus.error_address, 0x92);
}

TEST_F(LineOrder, HeldBusDrivesNothingButTheRelease)
{
    I2CBus bus;
    open_quietly(bus);
    lines.override_cts([](int, int) { return 0; });  // SDA stuck low
    const std::uint8_t command[] = {0xEE};
    EXPECT_EQ(bus.write_and_stop(0x90, command, 1), 0);
    EXPECT_EQ(bus.last_error, I2C_ERR_BUS_BUSY);
    EXPECT_EQ(bus.error_address, 0);
    EXPECT_EQ(lines.joined(), "R1 D1 C");
}

TEST_F(LineOrder, SecondDataByteNotAcknowledgedReturnsOne)
{
    I2CBus bus;
    open_quietly(bus);
    // Reads: 90 bus-free samples, then 9 per byte; the acknowledge of the
    // second data byte is the 27th read after them.
    lines.override_cts([](int n, int status) { return n == 90 + 9 * 3 - 1 ? MS_CTS_ON : status; });
    const std::uint8_t data[] = {0xA1, 0x20, 0x00};
    EXPECT_EQ(bus.write_and_stop(0x90, data, 3), 1);
    EXPECT_EQ(bus.last_error, I2C_ERR_NO_ACK);
    EXPECT_EQ(lines.joined(), join({kStart, send_byte(0x90), send_byte(0xA1), send_byte(0x20)}));
}

TEST_F(LineOrder, FailedStopAfterAFullReadGivesZeroAndStopError)
{
    I2CBus bus;
    open_quietly(bus);
    const std::uint8_t convert[] = {0xEE};
    ASSERT_EQ(bus.write_and_stop(0x90, convert, 1), 1);
    const std::uint8_t command[] = {0xAA};
    ASSERT_EQ(bus.write(0x90, command, 1), 1);
    // The stop's final SDA check is the read after start, address and two bytes.
    lines.override_cts([](int n, int status) { return n == 90 + 9 + 2 * 9 ? 0 : status; });
    std::uint8_t buffer[2] = {};
    EXPECT_EQ(bus.read_and_stop(0x90, buffer, 2), 0);
    EXPECT_EQ(bus.last_error, I2C_ERR_STOP);
    EXPECT_EQ(buffer[0], 0x15);
    EXPECT_EQ(buffer[1], 0x80);
}

TEST_F(LineOrder, WriteAndStopAfterAFailedTransferStillStops)
{
    I2CBus bus;
    open_quietly(bus);
    const std::uint8_t command[] = {0xEE};
    ASSERT_EQ(bus.write(0x92, command, 1), 0);
    ASSERT_EQ(bus.last_error, I2C_ERR_ADDRESS_NAK);
    lines.calls.clear();
    EXPECT_EQ(bus.write_and_stop(0x90, command, 1), 1);
    EXPECT_EQ(bus.last_error, 0);
    EXPECT_EQ(lines.joined(), join({kStart, send_byte(0x90), send_byte(0xEE), kStop}));
}

TEST_F(LineOrder, AbsentSensorReadIsFollowedByAStop)
{
    DS1621Sensor sensor;
    sensor.open(1);
    sensor.select_sensor(2);
    lines.calls.clear();
    EXPECT_EQ(sensor.read_temperature(), 0);
    EXPECT_EQ(sensor.last_error, I2C_ERR_ADDRESS_NAK);
    EXPECT_EQ(lines.joined(), join({kStart, send_byte(0x92), kStop}));
}

TEST_F(LineOrder, ReadTemperatureIsCommandThenRepeatedStartThenTwoBytes)
{
    DS1621Sensor sensor;
    sensor.open(1);
    sensor.start_convert();
    lines.calls.clear();
    EXPECT_EQ(sensor.read_temperature(), 0x1580);
    EXPECT_EQ(sensor.last_error, 0);
    EXPECT_EQ(lines.joined(), join({kStart, send_byte(0x90), send_byte(0xAA), kStart, send_byte(0x91),
                                    receive_byte(0), receive_byte(1), kStop}));
}

TEST_F(LineOrder, SweepConvertsAtAllEightAddressesWithItsWaits)
{
    std::int8_t status[8] = {};
    std::int16_t temperature[8] = {};
    read_sensors(status, temperature, 3, 3, 1);

    std::string calls = lines.joined();
    for (int n = 1; n <= 8; ++n) {
        std::string convert = join({kStart, send_byte(0x90 + 2 * (n - 1))});
        EXPECT_NE(calls.find(convert), std::string::npos) << "no conversion started at sensor " << n;
    }
    EXPECT_EQ(lines.count("W100"), 1);
    EXPECT_EQ(lines.count("W50"), 9);  // the bus reset and one per conversion
    EXPECT_EQ(lines.count("B1"), 1);
    EXPECT_EQ(lines.count("B0"), 1);
    EXPECT_EQ(lines.calls.back(), "close");
    EXPECT_EQ(temperature[2], 0x1980);
}

TEST_F(LineOrder, ClosedPortMakesNoCall)
{
    for (int number : {0, 5, -1}) {
        SerialLinePort port(number);
        EXPECT_FALSE(port.is_open());
        EXPECT_EQ(port.open(number), SERIAL_ERR_PORT);
        EXPECT_EQ(port.set_dtr(1), SERIAL_ERR_PORT);
        EXPECT_EQ(port.set_rts(0), SERIAL_ERR_PORT);
        EXPECT_EQ(port.set_dtr_rts(1), SERIAL_ERR_PORT);
        EXPECT_EQ(port.set_break(1), SERIAL_ERR_PORT);
        EXPECT_EQ(port.read_cts(), SERIAL_ERR_PORT);
        port.close();
    }
    { I2CBus never_opened; }
    EXPECT_TRUE(lines.calls.empty()) << lines.joined();
}

TEST_F(LineOrder, PortDrivesRtsBeforeDtrAndReadsCtsAsSixteenOrZero)
{
    SerialLinePort port(1);
    ASSERT_TRUE(port.is_open());
    lines.calls.clear();
    EXPECT_EQ(port.set_dtr_rts(1), 0);
    EXPECT_EQ(port.set_dtr_rts(0), 0);
    EXPECT_EQ(lines.joined(), "R1 D1 R0 D0");
    EXPECT_EQ(port.read_cts(), 0);  // DTR low pulls SDA low
    EXPECT_EQ(port.set_dtr(1), 0);
    EXPECT_EQ(port.read_cts(), MS_CTS_ON);
}

TEST_F(LineOrder, DestroyingAnOpenPortRestoresAndReleasesIt)
{
    {
        SerialLinePort port(1);
        lines.calls.clear();
    }
    EXPECT_EQ(lines.joined(), "set_timeouts set_event_mask purge close");
}

}  // namespace
}  // namespace kelvara
