// kvserver as a process on a simulated bus: its output, its exit statuses and
// the datagrams it answers over loopback.

#include <array>
#include <chrono>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "tests/server/program_process.h"
#include "tests/support/datagram_bytes.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::reply_bytes;
using test::request_bytes;

const std::string BANNER = "Kelvara thermometer server 1.0\n";
// Sensor 1 at 21.5, no chip at 2, sensor 3 at 25.5.
const char* const BUS = "sim:21.5,-,25.5";

std::string kvserver_path() { return test::bin_dir() + "/kvserver"; }

// The client side: a loopback socket whose every receive gives up after a while.
class Client {
public:
    Client()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0)
            ADD_FAILURE() << "no client socket: errno " << errno;
        set_wait(5s);  // a sweep takes about half a second
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void set_wait(std::chrono::milliseconds wait)
    {
        timeval timeout{static_cast<time_t>(wait.count() / 1000), static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }

    void send(int port, const Bytes& bytes)
    {
        sockaddr_in server{};
        server.sin_family = AF_INET;
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        server.sin_port = htons(static_cast<std::uint16_t>(port));
        ASSERT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&server), sizeof server),
                  static_cast<ssize_t>(bytes.size()));
    }

    // The next datagram, or nothing when none came in time.
    std::optional<Bytes> receive()
    {
        Bytes bytes(1024);
        const ssize_t n = ::recv(fd_, bytes.data(), bytes.size(), 0);
        if (n < 0)
            return std::nullopt;
        bytes.resize(static_cast<std::size_t>(n));
        return bytes;
    }

private:
    int fd_ = -1;
};

// A port number that nothing on loopback uses right now.
int free_port()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof local;
    ::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length);
    ::close(fd);
    return ntohs(local.sin_port);
}

// A kvserver that has printed its start-up line, on a port picked here
// (another is tried when a different process took the port meanwhile).
struct RunningServer {
    std::unique_ptr<test::ProgramProcess> process;
    int port = 0;
};

RunningServer start_server(std::vector<std::string> extra_args = {})
{
    RunningServer server;
    for (int attempt = 0; attempt < 5; ++attempt) {
        server.port = free_port();
        std::vector<std::string> args{"-port", std::to_string(server.port)};
        args.insert(args.end(), extra_args.begin(), extra_args.end());
        server.process = std::make_unique<test::ProgramProcess>(kvserver_path(), args);
        // Read while the server runs: only a line-buffered stdout shows it now.
        if (server.process->wait_for_output("Com Port: ", 5s))
            return server;
    }
    ADD_FAILURE() << "kvserver did not start: " << server.process->errors();
    return server;
}

TEST(KvserverProcess, AnswersTheCanonicalRequestOnTheSimulatedBus)
{
    test::ScopedEnv bus("KELVARA_COM3", BUS);
    RunningServer server = start_server();
    ASSERT_TRUE(server.process);
    EXPECT_EQ(server.process->output(),
              BANNER + "Socket Port: " + std::to_string(server.port) + "\nCom Port: COM3\n\n");

    Client client;
    client.send(server.port, {0x54, 0x68, 0x00, 0x00, 0x01, 0x01, 0x03});
    const std::optional<Bytes> answer = client.receive();
    ASSERT_TRUE(answer);
    Bytes expected(154, 0);
    const Bytes head = {0x00, 0x00, 0x15, 0x80, 0x00, 0x00, 0x19, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                        0x00, 0xF3, 0x00, 0, 0, 0, 0, 0, 'O', 'k'};
    std::copy(head.begin(), head.end(), expected.begin());
    EXPECT_EQ(*answer, expected);
    EXPECT_EQ(server.process->errors(), "");
}

struct ExchangeCase {
    const char* name;
    Bytes request;
    Bytes reply;
};

// One server answers every request of the table in turn.
TEST(KvserverProcess, AnswersEachRequestOfTheTable)
{
    const ExchangeCase cases[] = {
        {"readings_two_to_three", request_bytes(1, 2, 3), reply_bytes(0, {0, 0, 6528, 0, 0, 0, 0, 0}, {0, -13, 0}, "Ok")},
        {"readings_beyond_the_chips", request_bytes(1, 4, 8),
         reply_bytes(0, {}, {0, 0, 0, -13, -13, -13, -13, -13}, "Ok")},
        {"mean_with_absent_sensor", request_bytes(2, 1, 3),
         reply_bytes(0, {5504, 0, 6528, 0, 0, 0, 0, 0}, {-2, -13, 0}, "Ok")},
        {"mean_one_to_one", request_bytes(2, 1, 1), reply_bytes(0, {5504}, {0}, "Ok")},
        {"mean_three_to_three", request_bytes(2, 3, 3), reply_bytes(0, {6528, 0, 6528}, {0}, "Ok")},
        {"bad_magic", {0x54, 0x48, 0x00, 0x00, 0x01, 0x01, 0x03}, reply_bytes(-1, {}, {}, "Error: bad request\n")},
        {"bad_range", request_bytes(1, 0, 9), reply_bytes(-2, {}, {}, "Error: bad parameters\n")},
        {"bad_command", request_bytes(3, 1, 3), reply_bytes(-2, {}, {}, "Error: bad parameters\n")},
    };
    test::ScopedEnv bus("KELVARA_COM3", BUS);
    RunningServer server = start_server();
    ASSERT_TRUE(server.process);
    Client client;
    for (const ExchangeCase& c : cases) {
        client.send(server.port, c.request);
        const std::optional<Bytes> answer = client.receive();
        ASSERT_TRUE(answer) << c.name;
        EXPECT_EQ(*answer, c.reply) << c.name;
    }
}

TEST(KvserverProcess, ReadsTheComPortItIsGiven)
{
    test::ScopedEnv com2("KELVARA_COM2", "sim:-0.5");
    test::ScopedEnv com3("KELVARA_COM3", BUS);
    RunningServer server = start_server({"-com", "2"});
    ASSERT_TRUE(server.process);
    EXPECT_NE(server.process->output().find("Com Port: COM2\n\n"), std::string::npos);
    Client client;
    client.send(server.port, request_bytes(1, 1, 1));
    const std::optional<Bytes> answer = client.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, reply_bytes(0, {-128}, {0}, "Ok"));
}

TEST(KvserverProcess, WrongSizedDatagramsAreReportedAndServingGoesOn)
{
    test::ScopedEnv bus("KELVARA_COM3", BUS);
    RunningServer server = start_server();
    ASSERT_TRUE(server.process);
    Client client;
    client.send(server.port, {0x54, 0x68, 0x00, 0x00, 0x01, 0x01});
    client.send(server.port, {0x54, 0x68, 0x00, 0x00, 0x01, 0x01, 0x01, 0x01});
    client.send(server.port, request_bytes(1, 1, 1));

    const std::optional<Bytes> answer = client.receive();
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, reply_bytes(0, {5504}, {0}, "Ok"));
    client.set_wait(300ms);
    EXPECT_FALSE(client.receive()) << "the wrong-sized datagrams got no reply";
    EXPECT_EQ(server.process->errors(),
              "server: ignored datagram of 6 bytes\nserver: ignored datagram of 8 bytes\n");
}

TEST(KvserverProcess, BackToBackRequestsAreAnsweredInOrder)
{
    test::ScopedEnv bus("KELVARA_COM3", BUS);
    RunningServer server = start_server();
    ASSERT_TRUE(server.process);
    Client client;
    client.send(server.port, request_bytes(1, 1, 1));
    client.send(server.port, request_bytes(1, 3, 3));
    const std::optional<Bytes> first = client.receive();
    const std::optional<Bytes> second = client.receive();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    EXPECT_EQ(*first, reply_bytes(0, {5504}, {0}, "Ok"));
    EXPECT_EQ(*second, reply_bytes(0, {0, 0, 6528}, {0}, "Ok"));
}

TEST(KvserverProcess, SecondServerOnABusyPortFailsToBind)
{
    RunningServer first = start_server();
    ASSERT_TRUE(first.process);
    test::ProgramProcess second(kvserver_path(), {"-port", std::to_string(first.port)});
    EXPECT_EQ(second.wait_exit(5s), 1);
    EXPECT_EQ(second.output(), BANNER);
    EXPECT_EQ(second.errors(), "server: can't bind local address (" + std::to_string(EADDRINUSE) + ")\n");
}

struct HelpCase {
    std::vector<std::string> args;
};

void PrintTo(const HelpCase& c, std::ostream* os)
{
    for (const std::string& arg : c.args)
        *os << arg << ' ';
}

class KvserverHelp : public ::testing::TestWithParam<HelpCase> {};

TEST_P(KvserverHelp, PrintsBannerAndUsageWithTheDefaultsAndExitsWithZero)
{
    test::ProgramProcess server(kvserver_path(), GetParam().args);
    EXPECT_EQ(server.wait_exit(5s), 0);
    EXPECT_EQ(server.output(), BANNER + "Usage: " + kvserver_path() +
                                   " [-help] [-port port] [-com port]\n"
                                   "       -help show this help\n"
                                   "       -port service port number (7323)\n"
                                   "       -com serial com port number (3)\n\n");
    EXPECT_EQ(server.errors(), "");
}

INSTANTIATE_TEST_SUITE_P(Cases, KvserverHelp,
                         ::testing::Values(HelpCase{{"-h"}}, HelpCase{{"-help"}}, HelpCase{{"-?"}},
                                           HelpCase{{"-port", "8000", "-com", "1", "-help"}}));

struct BadArgsCase {
    std::vector<std::string> args;
};

void PrintTo(const BadArgsCase& c, std::ostream* os)
{
    for (const std::string& arg : c.args)
        *os << arg << ' ';
}

// One "message (number)\n" line; the number is whatever errno held.
bool is_fatal_line(const std::string& text, const std::string& message)
{
    const std::string head = message + " (";
    if (text.size() < head.size() + 3 || text.compare(0, head.size(), head) != 0 ||
        text.compare(text.size() - 2, 2, ")\n") != 0)
        return false;
    std::string number = text.substr(head.size(), text.size() - head.size() - 2);
    if (!number.empty() && number[0] == '-')
        number.erase(0, 1);
    return !number.empty() && number.find_first_not_of("0123456789") == std::string::npos;
}

class KvserverBadArgs : public ::testing::TestWithParam<BadArgsCase> {};

TEST_P(KvserverBadArgs, ReportsThePortMessageAndExitsWithOneWithoutBanner)
{
    test::ProgramProcess server(kvserver_path(), GetParam().args);
    EXPECT_EQ(server.wait_exit(5s), 1);
    EXPECT_EQ(server.output(), "");
    EXPECT_TRUE(is_fatal_line(server.errors(), "server: port number must be > than 1023")) << server.errors();
}

INSTANTIATE_TEST_SUITE_P(Cases, KvserverBadArgs,
                         ::testing::Values(BadArgsCase{{"-port", "1023"}}, BadArgsCase{{"-port", "70000"}},
                                           BadArgsCase{{"-port", "65536"}}, BadArgsCase{{"-port", "-help"}},
                                           BadArgsCase{{"-com", "0"}}, BadArgsCase{{"-com", "5"}},
                                           BadArgsCase{{"-com", "COM1"}}, BadArgsCase{{"-help", "-com", "9"}}));

}  // namespace
}  // namespace kelvara
