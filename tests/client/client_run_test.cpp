#include "client/client_run.h"

#include <cstdlib>
#include <sys/resource.h>
#include <unistd.h>

#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "net/socket_startup.h"
#include "net/temp_records.h"
#include "tests/client/udp_peer.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::PeerStep;
using test::reply_bytes;
using test::ScriptedPeer;

const std::string banner = "Kelvara thermometer client 1.0\n";

int run(const std::vector<std::string>& words, std::ostream& out)
{
    std::vector<const char*> argv{"kvquery"};
    for (const auto& w : words)
        argv.push_back(w.c_str());
    return run_client(static_cast<int>(argv.size()), argv.data(), out, 2000ms);
}

// Command lines against a scripted server: the request it gets, and what the
// client prints of its reply.
TEST(RunClient, RequestAndPrintedReply)
{
    const Bytes three = reply_bytes(0, {5504, 0, 6528, 0, 0, 0, 0, 0}, {0, -13, 0, 0, 0, 0, 0, 0}, "Ok");
    const Bytes mean = reply_bytes(0, {6016, 6016, 0, 0, 0, 0, 0, 0}, {}, "Ok");
    const struct {
        std::vector<std::string> words;
        Bytes reply;
        Bytes request;
        std::string printed;
    } cases[] = {
        {{}, three, {0x54, 0x68, 0, 0, 1, 1, 1}, "Result: 0 *** Ok\n\nSensor n.1: 21.5 C\n"},
        {{"-what", "1-3"}, three, {0x54, 0x68, 0, 0, 1, 1, 3},
         "Result: 0 *** Ok\n\nSensor n.1: 21.5 C\nSensor n.2: Error -13\nSensor n.3: 25.5 C\n"},
        {{"-what", "1-3", "-far"}, three, {0x54, 0x68, 0, 0, 1, 1, 3},
         "Result: 0 *** Ok\n\nSensor n.1: 70.7 F\nSensor n.2: Error -13\nSensor n.3: 77.9 F\n"},
        {{"-mean", "-what", "2-6"}, mean, {0x54, 0x68, 0, 0, 2, 2, 6},
         "Result: 0 *** Ok\n\nSensor n.1: 23.5 C\n"},
        {{"-what", "5-2"}, reply_bytes(0, {0, 0, 0, 0, -2688}, {}, "Ok"),
         {0x54, 0x68, 0, 0, 1, 5, 5}, "Result: 0 *** Ok\n\nSensor n.5: -10.5 C\n"},
        {{"-what", "0-9", "-addr", "127.0.0.1"}, three, {0x54, 0x68, 0, 0, 1, 1, 1},
         "Result: 0 *** Ok\n\nSensor n.1: 21.5 C\n"},
        {{"-addr", "localhost", "-what", "4"}, reply_bytes(-2, {}, {}, "Error: bad parameters\n"),
         {0x54, 0x68, 0, 0, 1, 4, 4},
         "Result: -2 *** Error: bad parameters\n\n\nSensor n.4:  0.0 C\n"},
    };
    for (const auto& c : cases) {
        std::string line;
        for (const auto& w : c.words)
            line += " " + w;
        SCOPED_TRACE("kvquery" + line);
        ScriptedPeer peer({{PeerStep::server, c.reply}}, 3000ms);
        std::vector<std::string> words = c.words;
        words.insert(words.begin(), {"-port", std::to_string(peer.port())});
        std::ostringstream out;
        EXPECT_EQ(run(words, out), 0);
        EXPECT_EQ(peer.request(), c.request);
        EXPECT_EQ(out.str(), banner + c.printed);
    }
}

TEST(RunClient, DefaultsGoToTheServicePortOnLoopback)
{
    test::UdpSocket server("127.0.0.1", DEFAULT_SERVICE_PORT);
    if (!server.ok())
        GTEST_SKIP() << "port " << DEFAULT_SERVICE_PORT << " is in use here";
    // Nobody answers: the request is what matters, and the run ends in a timeout.
    EXPECT_EXIT(
        {
            std::ostringstream ignored;
            std::exit(run_client(1, std::vector<const char*>{"kvquery"}.data(), ignored, 100ms));
        },
        testing::ExitedWithCode(1), "client: no response from server \\(timeout\\) \\(4\\)");
    Bytes request;
    sockaddr_in from{};
    ASSERT_TRUE(server.receive(request, from, 1000ms));
    EXPECT_EQ(request, (Bytes{0x54, 0x68, 0, 0, 1, 1, 1}));
}

TEST(RunClient, HelpSendsNothing)
{
    const char* const lines[][4] = {
        {"-help", "-port", "PORT", ""},
        {"-port", "PORT", "-h", ""},
        {"-what", "2-3", "-?", "-port"},
    };
    const std::string usage =
        "Usage: kvquery [-help] [-port port] [-addr address] [-mean] [-what F-L] [-far]\n"
        "       -help show this help\n"
        "       -port service port number (7323)\n"
        "       -addr server address (localhost)\n"
        "       -mean perform mean between sensors\n"
        "       -what which sensor to retrieve (1-1)\n"
        "       -far  farenheit unit of measure instead of celsius\n";
    for (const auto& line : lines) {
        test::UdpSocket server;
        std::vector<std::string> words;
        for (const char* w : line)
            if (*w != '\0')
                words.push_back(std::string(w) == "PORT" ? std::to_string(server.port()) : w);
        std::ostringstream out;
        EXPECT_EQ(run(words, out), 0);
        EXPECT_EQ(out.str(), banner + usage);
        Bytes got;
        sockaddr_in from{};
        EXPECT_FALSE(server.receive(got, from, 0ms));
    }
}

rlimit saved_file_limit{};

// The exit handlers (and the sanitizers' checks in them) may need descriptors again.
void restore_file_limit() { ::setrlimit(RLIMIT_NOFILE, &saved_file_limit); }

// Lets no further file be opened until exit: the soft limit becomes the
// lowest free descriptor.
void forbid_new_descriptors()
{
    const int lowest_free = ::dup(0);
    ::close(lowest_free);
    ::getrlimit(RLIMIT_NOFILE, &saved_file_limit);
    std::atexit(restore_file_limit);
    rlimit cap = saved_file_limit;
    cap.rlim_cur = static_cast<rlim_t>(lowest_free);
    ::setrlimit(RLIMIT_NOFILE, &cap);
}

[[noreturn]] void run_without_descriptors()
{
    std::ostringstream ignored;
    // The undefined-behaviour checker may need a descriptor to check a stream's
    // type the first time; let it do so while there are still some.
    ignored.flush();
    forbid_new_descriptors();
    const char* argv[] = {"kvquery", "-port", "9"};
    std::exit(run_client(3, argv, ignored, 100ms));
}

TEST(RunClient, NoSocketLeftToOpen)
{
    EXPECT_EXIT(run_without_descriptors(), testing::ExitedWithCode(1),
        "^No more file descriptors are available\\.\n"
        "client: can't open datagram socket \\(10024\\)\n$");
}

std::uint16_t grant_1_1(std::uint16_t)
{
    return 0x0101;
}

TEST(RunClient, RefusedSocketVersionEndsTheRun)
{
    test::UdpSocket server;
    const VersionGrant old = set_version_grant(grant_1_1);
    std::ostringstream out;
    testing::internal::CaptureStderr();
    const int status = run({"-port", std::to_string(server.port())}, out);
    const std::string err = testing::internal::GetCapturedStderr();
    set_version_grant(old);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(out.str(), banner);
    EXPECT_EQ(err, "No usable WinSock DLL\nerror in Socket initialization\n");
    Bytes got;
    sockaddr_in from{};
    EXPECT_FALSE(server.receive(got, from, 0ms));
}

TEST(ClientReplyWait, FiveSecondsUnlessAPositiveNumberIsGiven)
{
    const struct {
        const char* text;
        long long ms;
    } cases[] = {{nullptr, 5000}, {"", 5000}, {"abc", 5000}, {"0", 5000}, {"-20", 5000},
                 {"250", 250},    {"1", 1}};
    for (const auto& c : cases)
        EXPECT_EQ(client_reply_wait(c.text).count(), c.ms) << (c.text ? c.text : "(null)");
}

}  // namespace
}  // namespace kelvara
