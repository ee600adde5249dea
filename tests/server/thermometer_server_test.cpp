// One pass of the request loop over loopback with a scripted sweep, the
// receive errors that may end the server, and the start-up failures.

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "net/socket_startup.h"
#include "server/thermometer_server.h"
#include "tests/net/captured_stderr.h"

namespace kelvara {
namespace {

struct ErrnoCase {
    int errno_value;
    bool repeats;
};

void PrintTo(const ErrnoCase& c, std::ostream* os) { *os << "errno " << c.errno_value; }

class RecvErrorRepeats : public ::testing::TestWithParam<ErrnoCase> {};

TEST_P(RecvErrorRepeats, OnlyDescriptorAndArgumentFaultsEndTheServer)
{
    EXPECT_EQ(recv_error_repeats(GetParam().errno_value), GetParam().repeats);
}

INSTANTIATE_TEST_SUITE_P(Cases, RecvErrorRepeats,
                         ::testing::Values(ErrnoCase{EBADF, true}, ErrnoCase{ENOTSOCK, true}, ErrnoCase{EFAULT, true},
                                           ErrnoCase{EINVAL, true}, ErrnoCase{ENOTCONN, true},
                                           ErrnoCase{EOPNOTSUPP, true}, ErrnoCase{EINTR, false},
                                           ErrnoCase{EAGAIN, false}, ErrnoCase{ENOMEM, false},
                                           ErrnoCase{ENOBUFS, false}, ErrnoCase{ECONNREFUSED, false},
                                           ErrnoCase{ENETUNREACH, false}, ErrnoCase{EHOSTUNREACH, false},
                                           ErrnoCase{ECONNRESET, false}));

// A UDP socket bound to an ephemeral loopback port; closed with the object.
class LoopbackSocket {
public:
    LoopbackSocket()
    {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof local;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address_), &length) != 0)
            ADD_FAILURE() << "no loopback socket: errno " << errno;
        timeval timeout{2, 0};  // no wait in these tests may hang
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~LoopbackSocket()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    LoopbackSocket(const LoopbackSocket&) = delete;
    LoopbackSocket& operator=(const LoopbackSocket&) = delete;

    int fd() const { return fd_; }

    void send_to(const LoopbackSocket& peer, const std::vector<std::uint8_t>& bytes) const
    {
        ASSERT_EQ(::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&peer.address_),
                           sizeof peer.address_),
                  static_cast<ssize_t>(bytes.size()));
    }

    // The datagram already waiting, or nothing (no wait at all).
    std::vector<std::uint8_t> take_waiting() const
    {
        std::vector<std::uint8_t> bytes(1024);
        const ssize_t n = ::recv(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT);
        bytes.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return bytes;
    }

private:
    int fd_ = -1;
    sockaddr_in address_{};
};

struct SweepLog {
    int calls = 0;
};

// Sensors 1 to 8 read 1, 2, ... 8 degrees.
SensorSweep counting_sweep(SweepLog& log)
{
    return [&log](std::int8_t status[8], std::int16_t temperature[8], int first, int last) {
        ++log.calls;
        for (int n = first; n <= last; ++n) {
            temperature[n - 1] = static_cast<std::int16_t>(n * 256);
            status[n - 1] = 0;
        }
    };
}

struct DatagramCase {
    const char* name;
    std::vector<std::uint8_t> datagram;
    ServeOutcome outcome;
    const char* message;
    std::vector<std::uint8_t> reply_head;  // first reply bytes; empty: no reply at all
    int sweeps;
};

void PrintTo(const DatagramCase& c, std::ostream* os) { *os << c.name; }

class ServeOneRequest : public ::testing::TestWithParam<DatagramCase> {};

TEST_P(ServeOneRequest, AnswersSevenByteRequestsAndReportsOthers)
{
    const DatagramCase& c = GetParam();
    LoopbackSocket server;
    LoopbackSocket client;
    client.send_to(server, c.datagram);

    SweepLog log;
    test::CapturedStderr err;
    EXPECT_EQ(serve_one_request(server.fd(), counting_sweep(log)), c.outcome);
    EXPECT_EQ(err.text(), c.message);
    EXPECT_EQ(log.calls, c.sweeps);

    const std::vector<std::uint8_t> reply = client.take_waiting();
    if (c.reply_head.empty()) {
        EXPECT_TRUE(reply.empty()) << "got " << reply.size() << " bytes";
    } else {
        ASSERT_EQ(reply.size(), REPLY_SIZE);
        EXPECT_EQ(std::vector<std::uint8_t>(reply.begin(), reply.begin() + c.reply_head.size()), c.reply_head);
    }
}

const std::vector<std::uint8_t> READINGS_2_3 = {0x54, 0x68, 0x00, 0x00, 0x01, 0x02, 0x03};

INSTANTIATE_TEST_SUITE_P(
    Cases, ServeOneRequest,
    ::testing::Values(
        DatagramCase{"readings", READINGS_2_3, ServeOutcome::answered, "",
                     {0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00}, 1},
        DatagramCase{"bad_magic_is_answered", {0x54, 0x48, 0x00, 0x00, 0x01, 0x02, 0x03}, ServeOutcome::answered,
                     "", {0xFF, 0x00, 0x00, 0x00}, 0},
        DatagramCase{"six_bytes", {0x54, 0x68, 0x00, 0x00, 0x01, 0x02}, ServeOutcome::ignored,
                     "server: ignored datagram of 6 bytes\n", {}, 0},
        DatagramCase{"eight_bytes", {0x54, 0x68, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00}, ServeOutcome::ignored,
                     "server: ignored datagram of 8 bytes\n", {}, 0},
        DatagramCase{"empty", {}, ServeOutcome::ignored, "server: ignored datagram of 0 bytes\n", {}, 0},
        DatagramCase{"reply_sized", std::vector<std::uint8_t>(154, 0x54), ServeOutcome::ignored,
                     "server: ignored datagram of 154 bytes\n", {}, 0},
        DatagramCase{"large", std::vector<std::uint8_t>(4000, 0x54), ServeOutcome::ignored,
                     "server: ignored datagram of 4000 bytes\n", {}, 0}));

TEST(ServeOneRequest, IgnoredDatagramDoesNotDisturbTheNextRequest)
{
    LoopbackSocket server;
    LoopbackSocket client;
    client.send_to(server, {0x54, 0x68, 0x00, 0x00, 0x01, 0x02, 0x03, 0x04});
    client.send_to(server, READINGS_2_3);
    SweepLog log;
    test::CapturedStderr err;
    EXPECT_EQ(serve_one_request(server.fd(), counting_sweep(log)), ServeOutcome::ignored);
    EXPECT_EQ(serve_one_request(server.fd(), counting_sweep(log)), ServeOutcome::answered);
    EXPECT_EQ(err.text(), "server: ignored datagram of 8 bytes\n");
    EXPECT_EQ(client.take_waiting().size(), REPLY_SIZE);
}

TEST(ServeOneRequest, PassingReceiveFailureIsReportedAndReturns)
{
    LoopbackSocket server;
    timeval short_wait{0, 20000};  // nothing arrives: the receive fails with EAGAIN
    ASSERT_EQ(::setsockopt(server.fd(), SOL_SOCKET, SO_RCVTIMEO, &short_wait, sizeof short_wait), 0);
    SweepLog log;
    test::CapturedStderr err;
    EXPECT_EQ(serve_one_request(server.fd(), counting_sweep(log)), ServeOutcome::receive_failed);
    EXPECT_EQ(err.text(), "server: recvfrom error (" + std::to_string(EAGAIN) + ")\n");
    EXPECT_EQ(log.calls, 0);
}

using ServeOneRequestDeathTest = ::testing::Test;

TEST(ServeOneRequestDeathTest, ReceiveOnABadDescriptorEndsTheServer)
{
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    SweepLog log;
    EXPECT_EXIT(serve_one_request(pipe_ends[0], counting_sweep(log)), ::testing::ExitedWithCode(1),
                "^server: recvfrom error \\(" + std::to_string(ENOTSOCK) + "\\)\n$");
    ::close(pipe_ends[0]);
    ::close(pipe_ends[1]);
    EXPECT_EXIT(serve_one_request(pipe_ends[0], counting_sweep(log)), ::testing::ExitedWithCode(1),
                "^server: recvfrom error \\(" + std::to_string(EBADF) + "\\)\n$");
}

// A send that fails is reported and the pass returns normally, in a child
// process so that whatever the failure does stays there.
TEST(ServeOneRequestDeathTest, FailedSendIsReportedAndTheServerGoesOn)
{
    LoopbackSocket server;
    LoopbackSocket client;
    client.send_to(server, READINGS_2_3);
    const int sock = server.fd();
    const SensorSweep breaking_sweep = [sock](std::int8_t*, std::int16_t*, int, int) {
        // Shutting a connected socket for writing makes the reply's send fail with EPIPE.
        sockaddr_in elsewhere{};
        elsewhere.sin_family = AF_INET;
        elsewhere.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        elsewhere.sin_port = htons(9);
        ::connect(sock, reinterpret_cast<sockaddr*>(&elsewhere), sizeof elsewhere);
        ::shutdown(sock, SHUT_WR);
    };
    EXPECT_EXIT(std::exit(serve_one_request(sock, breaking_sweep) == ServeOutcome::send_failed ? 0 : 2),
                ::testing::ExitedWithCode(0), "^server: sendto error \\(" + std::to_string(EPIPE) + "\\)\n$");
}

std::uint16_t grant_one_one(std::uint16_t) { return 0x0101; }

using RunServerDeathTest = ::testing::Test;

TEST(RunServerDeathTest, RefusedVersionStopsBeforeAnySocket)
{
    ServerOptions options;
    SweepLog log;
    EXPECT_EXIT(
        {
            set_version_grant(grant_one_one);
            std::exit(run_server(options, counting_sweep(log)));
        },
        ::testing::ExitedWithCode(1), "^No usable WinSock DLL\nerror in Socket initialization\n$");
}

rlimit saved_file_limit{};

// The exit handlers that run after the report may need a descriptor again.
void restore_file_limit() { ::setrlimit(RLIMIT_NOFILE, &saved_file_limit); }

TEST(RunServerDeathTest, SocketCreationFailureGivesTheTableTextAndItsCode)
{
    EXPECT_EXIT(
        {
            // No descriptor left: socket() fails with EMFILE.
            const int lowest_free = ::dup(0);
            ::close(lowest_free);
            ::getrlimit(RLIMIT_NOFILE, &saved_file_limit);
            std::atexit(restore_file_limit);
            rlimit limit = saved_file_limit;
            limit.rlim_cur = static_cast<rlim_t>(lowest_free);
            ::setrlimit(RLIMIT_NOFILE, &limit);
            open_service_socket(7323);
            std::exit(3);
        },
        ::testing::ExitedWithCode(1),
        "^No more file descriptors are available.\nserver: can't open datagram socket \\(10024\\)\n$");
}

}  // namespace
}  // namespace kelvara
