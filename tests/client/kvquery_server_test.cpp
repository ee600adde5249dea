// kvquery against a real kvserver reading a simulated bus.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/client/udp_peer.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;

// Waits until the server answers; a request with a wrong magic is answered
// at once, without a sweep.
bool server_answers(int port)
{
    test::UdpSocket probe;
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    server.sin_port = htons(static_cast<std::uint16_t>(port));
    for (int attempt = 0; attempt < 50; ++attempt) {
        probe.send_to(server, Bytes{'X', 'X', 0, 0, 1, 1, 1});
        Bytes reply;
        sockaddr_in from{};
        if (probe.receive(reply, from, 100ms))
            return reply.size() == 154;
    }
    return false;
}

TEST(KvqueryWithServer, ReadingsAndMeanFromTheSimulatedBus)
{
    const int port = test::free_udp_port();
    test::ChildCommand server_command;
    server_command.argv = {test::program("kvserver"), "-port", std::to_string(port)};
    server_command.env = test::current_environment();
    test::set_env_entry(server_command.env, "KELVARA_COM3", "sim:21.5,-,25.5");
    const std::string log_base = test::temp_dir() + "/kvserver";
    test::BackgroundChild server(server_command, log_base + ".out", log_base + ".err");
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server_answers(port)) << "kvserver did not come up on port " << port;

    const std::string banner = "Kelvara thermometer client 1.0\n";
    const struct {
        std::vector<std::string> words;
        std::string printed;
    } cases[] = {
        {{"-what", "1-3"},
         "Result: 0 *** Ok\n\nSensor n.1: 21.5 C\nSensor n.2: Error -13\nSensor n.3: 25.5 C\n"},
        {{"-what", "1-3", "-far"},
         "Result: 0 *** Ok\n\nSensor n.1: 70.7 F\nSensor n.2: Error -13\nSensor n.3: 77.9 F\n"},
        {{"-what", "1-3", "-mean"}, "Result: 0 *** Ok\n\nSensor n.1: Error -2\n"},
        {{"-what", "1", "-mean", "-far"}, "Result: 0 *** Ok\n\nSensor n.1: 70.7 F\n"},
        {{"-what", "3-3", "-mean"}, "Result: 0 *** Ok\n\nSensor n.1: 25.5 C\n"},
        {{"-what", "4-5"}, "Result: 0 *** Ok\n\nSensor n.4: Error -13\nSensor n.5: Error -13\n"},
    };
    for (const auto& c : cases) {
        test::ChildCommand command;
        command.argv = {test::program("kvquery"), "-port", std::to_string(port)};
        command.argv.insert(command.argv.end(), c.words.begin(), c.words.end());
        command.env = test::current_environment();
        SCOPED_TRACE(c.words[0] + " " + c.words[1]);
        const auto run = test::run_child(command, 10s);
        EXPECT_EQ(run.exit_status, 0) << run.err;
        EXPECT_EQ(run.out, banner + c.printed);
        EXPECT_EQ(run.err, "");
    }
    EXPECT_TRUE(server.running()) << "kvserver stopped while serving";
}

}  // namespace
}  // namespace kelvara
