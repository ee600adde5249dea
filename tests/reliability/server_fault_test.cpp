// kvserver as a process meeting faults on the simulated bus and around it:
// chips that are missing, NAK or hold the bus, a port that another process
// holds, a device that vanishes between requests, and a standard error whose
// reader has gone. Every fault is answered in the reply, and the server goes
// on serving.

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "sensorbus/serial_line_port.h"
#include "tests/support/datagram_bytes.h"
#include "tests/reliability/kvserver_process.h"
#include "tests/reliability/proc_files.h"
#include "tests/reliability/udp_client.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::ok_reply;
using test::request_bytes;

// A sweep takes about 0.55 s; a reply later than this means the bus hung.
constexpr auto ANSWER_LIMIT = 3000ms;

struct Exchange {
    Bytes request;
    Bytes reply;
};

// Sends each request in turn and checks that its reply comes in time and
// is right.
void expect_exchanges(test::UdpClient& client, int port, const std::vector<Exchange>& exchanges)
{
    for (std::size_t i = 0; i < exchanges.size(); ++i) {
        ASSERT_TRUE(client.send(port, exchanges[i].request)) << "exchange " << i;
        const std::optional<Bytes> answer = client.receive(ANSWER_LIMIT);
        ASSERT_TRUE(answer) << "exchange " << i << ": no reply within " << ANSWER_LIMIT.count() << " ms";
        EXPECT_EQ(*answer, exchanges[i].reply) << "exchange " << i << ": " << test::hex(*answer);
    }
}

struct FaultCase {
    const char* name;
    const char* bus;
    std::vector<Exchange> exchanges;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class ServerFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(ServerFault, IsAnsweredInTheReplyAndServingGoesOn)
{
    test::KvserverProcess server(GetParam().bus);
    ASSERT_TRUE(server.started()) << server.errors();
    test::UdpClient client;
    ASSERT_TRUE(client.ok());
    expect_exchanges(client, server.port(), GetParam().exchanges);
    EXPECT_TRUE(server.running());
    EXPECT_EQ(server.errors(), "");
}

constexpr std::int8_t BUSY = -11;
constexpr std::int8_t NO_ACK = -12;
constexpr std::int8_t ABSENT = -13;
constexpr std::int8_t MEAN_FAILED = -2;

INSTANTIATE_TEST_SUITE_P(
    Cases, ServerFault,
    ::testing::Values(
        // Sensor 4 of eight is missing: only its slot fails; a mean over it
        // fails as a whole, one beside it does not.
        FaultCase{"chip_missing_in_mid_range",
                  "sim:20,21,22,-,24,25,26,27",
                  {{request_bytes(1, 1, 8), ok_reply({5120, 5376, 5632, 0, 6144, 6400, 6656, 6912},
                                                     {0, 0, 0, ABSENT, 0, 0, 0, 0})},
                   {request_bytes(2, 1, 8), ok_reply({5120, 5376, 5632, 0, 6144, 6400, 6656, 6912},
                                                     {MEAN_FAILED, 0, 0, ABSENT, 0, 0, 0, 0})},
                   {request_bytes(2, 5, 8), ok_reply({6528, 0, 0, 0, 6144, 6400, 6656, 6912}, {0})}}},
        // A chip that takes its address but not the command byte.
        FaultCase{"chip_that_naks",
                  "sim:21.5,nak,25.5",
                  {{request_bytes(1, 1, 3), ok_reply({5504, 0, 6528}, {0, NO_ACK, 0})},
                   {request_bytes(2, 2, 3), ok_reply({0, 0, 6528}, {MEAN_FAILED, NO_ACK, 0})},
                   {request_bytes(1, 3, 3), ok_reply({0, 0, 6528}, {})}}},
        // A chip holding SDA low fails every sensor, in every sweep, but
        // never keeps the server from answering.
        FaultCase{"held_bus",
                  "sim:21.5,hold,25.5",
                  {{request_bytes(1, 1, 8), ok_reply({}, {BUSY, BUSY, BUSY, BUSY, BUSY, BUSY, BUSY, BUSY})},
                   {request_bytes(2, 1, 3), ok_reply({}, {MEAN_FAILED, BUSY, BUSY})},
                   {request_bytes(1, 9, 9), test::bad_parameters_reply()},
                   {request_bytes(1, 1, 1), ok_reply({}, {BUSY})}}},
        // No chip at all: the bus itself is fine.
        FaultCase{"no_chips",
                  "sim:",
                  {{request_bytes(1, 1, 8),
                    ok_reply({}, {ABSENT, ABSENT, ABSENT, ABSENT, ABSENT, ABSENT, ABSENT, ABSENT})},
                   {request_bytes(2, 8, 8), ok_reply({}, {MEAN_FAILED, 0, 0, 0, 0, 0, 0, ABSENT})}}}),
    [](const ::testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

constexpr std::int8_t PORT_FAILED = -14;
const char* const BUS = "sim:21.5,-,25.5";

TEST(ServerFaults, PortHeldByAnotherProcessFailsEverySensorUntilItLetsGo)
{
    test::KvserverProcess server(BUS);
    ASSERT_TRUE(server.started()) << server.errors();
    test::UdpClient client;

    // This test process holds the port the way a kvpage sweep would.
    test::ScopedEnv device("KELVARA_COM3", BUS);
    SerialLinePort holder(3);
    ASSERT_TRUE(holder.is_open()) << "errno " << holder.last_open_errno();
    expect_exchanges(client, server.port(),
                     {{request_bytes(1, 1, 3), ok_reply({}, {PORT_FAILED, PORT_FAILED, PORT_FAILED})},
                      {request_bytes(2, 1, 1), ok_reply({}, {MEAN_FAILED})},
                      {request_bytes(1, 8, 8), ok_reply({}, {0, 0, 0, 0, 0, 0, 0, PORT_FAILED})}});

    holder.close();
    expect_exchanges(client, server.port(),
                     {{request_bytes(1, 1, 3), ok_reply({5504, 0, 6528}, {0, ABSENT, 0})}});
    EXPECT_TRUE(server.running());
    EXPECT_EQ(server.errors(), "");
}

// A pseudo-terminal stands for a serial device that can be unplugged: once
// its master side is closed, its /dev/pts entry is gone.
class Pseudoterminal {
public:
    Pseudoterminal()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ >= 0 && ::grantpt(master_) == 0 && ::unlockpt(master_) == 0)
            path_ = ::ptsname(master_);
    }
    ~Pseudoterminal() { unplug(); }
    Pseudoterminal(const Pseudoterminal&) = delete;
    Pseudoterminal& operator=(const Pseudoterminal&) = delete;

    const std::string& path() const { return path_; }
    void unplug()
    {
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string path_;
};

// Points link at target in one step, as a hot-plug manager would.
bool point_link(const std::string& link, const std::string& target)
{
    const std::string fresh = link + ".new";
    ::unlink(fresh.c_str());
    return ::symlink(target.c_str(), fresh.c_str()) == 0 && ::rename(fresh.c_str(), link.c_str()) == 0;
}

TEST(ServerFaults, DeviceThatDisappearsBetweenRequestsLeavesNothingBehind)
{
    const std::string link = test::temp_dir() + "/ttyKelvara";
    auto first = std::make_unique<Pseudoterminal>();
    ASSERT_FALSE(first->path().empty());
    ASSERT_TRUE(point_link(link, first->path()));

    test::KvserverProcess server(link);
    ASSERT_TRUE(server.started()) << server.errors();
    const int descriptors = test::open_descriptor_count(server.pid());
    ASSERT_GT(descriptors, 0);
    test::UdpClient client;
    test::ScopedEnv device("KELVARA_COM3", link);
    // A pseudo-terminal has no modem lines, so even the present device fails
    // every sensor; what matters is what the server does around it.
    const std::vector<Exchange> every_sensor_fails = {
        {request_bytes(1, 1, 3), ok_reply({}, {PORT_FAILED, PORT_FAILED, PORT_FAILED})}};

    expect_exchanges(client, server.port(), every_sensor_fails);
    EXPECT_TRUE(SerialLinePort(3).is_open()) << "the server still holds the device after its sweep";
    EXPECT_EQ(test::open_descriptor_count(server.pid()), descriptors);

    // Unplugged: the device goes, and with it the link a hot-plug manager
    // made for it (so the name can never reach another test's terminal).
    first->unplug();
    ASSERT_EQ(::unlink(link.c_str()), 0);
    expect_exchanges(client, server.port(), every_sensor_fails);
    EXPECT_EQ(test::open_descriptor_count(server.pid()), descriptors);

    // Plugged in again, under the same name.
    Pseudoterminal second;
    ASSERT_TRUE(point_link(link, second.path()));
    expect_exchanges(client, server.port(), every_sensor_fails);
    EXPECT_TRUE(SerialLinePort(3).is_open()) << "the server still holds the device after its sweep";
    EXPECT_EQ(test::open_descriptor_count(server.pid()), descriptors);
    EXPECT_TRUE(server.running());
    EXPECT_EQ(server.errors(), "");
}

// A supervisor or log pipe that went away must not let one stray datagram
// end the server: reporting it may fail, serving may not.
TEST(ServerFaults, StandardErrorWhoseReaderHasGoneDoesNotEndTheServer)
{
    const std::string fifo = test::temp_dir() + "/kvserver-errors";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    test::KvserverProcess server(BUS, fifo);
    ::close(reader);
    ASSERT_TRUE(server.started());

    test::UdpClient client;
    ASSERT_TRUE(client.send(server.port(), {0x54, 0x68, 0x00}));
    expect_exchanges(client, server.port(), {{request_bytes(1, 1, 1), ok_reply({5504}, {0})}});
    EXPECT_TRUE(server.running());
}

}  // namespace
}  // namespace kelvara
