// The kvquery program as a user meets it: messages, exit statuses and the
// bounded wait, against a scripted server on loopback.

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/client/udp_peer.h"
#include "tests/support/child_process.h"
#include "tests/support/test_env.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::PeerStep;
using test::reply_bytes;
using test::run_child;
using test::ScriptedPeer;

// Variables set for one run, on top of this process's environment.
using EnvChanges = std::vector<std::pair<std::string, std::string>>;

const std::string banner = "Kelvara thermometer client 1.0\n";
const EnvChanges short_wait = {{"KELVARA_CLIENT_WAIT_MS", "400"}};

test::ChildResult kvquery(std::vector<std::string> words, const EnvChanges& env = short_wait)
{
    test::ChildCommand command;
    command.argv = std::move(words);
    command.argv.insert(command.argv.begin(), test::program("kvquery"));
    command.env = test::current_environment();
    for (const auto& [name, value] : env)
        test::set_env_entry(command.env, name, value);
    return run_child(command, 10s);
}

// What the server does after the request, and how the run ends.
TEST(KvqueryProgram, EndingsAgainstAScriptedServer)
{
    const Bytes ok = reply_bytes(0, {5504}, {}, "Ok");
    const struct {
        const char* name;
        std::vector<PeerStep> script;
        int status;
        std::string out;
        std::string err;
    } cases[] = {
        {"reply", {{PeerStep::server, ok}}, 0,
         banner + "Result: 0 *** Ok\n\nSensor n.1: 21.5 C\n", ""},
        {"reply after strangers",
         {{PeerStep::stranger_port, reply_bytes(0, {-6400}, {}, "Ok")},
          {PeerStep::stranger_address, reply_bytes(-1, {}, {}, "Error: bad request\n")},
          {PeerStep::server, ok}},
         0, banner + "Result: 0 *** Ok\n\nSensor n.1: 21.5 C\n", ""},
        {"no reply", {}, 1, banner, "client: no response from server (timeout) (4)\n"},
        {"only a stranger answers", {{PeerStep::stranger_port, ok}}, 1, banner,
         "client: no response from server (timeout) (4)\n"},
        {"short reply", {{PeerStep::server, Bytes(ok.begin(), ok.end() - 1)}}, 1, banner,
         "client: recvfrom error (90)\n"},
        {"empty reply", {{PeerStep::server, {}}}, 1, banner, "client: recvfrom error (90)\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedPeer peer(c.script, 5000ms);
        const auto run = kvquery({"-port", std::to_string(peer.port())});
        EXPECT_EQ(peer.request(), (Bytes{0x54, 0x68, 0, 0, 1, 1, 1}));
        EXPECT_EQ(run.exit_status, c.status);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
        EXPECT_LT(run.took, 3000ms);
    }
}

// Failures before anything is sent; the number in parentheses is whatever
// errno held, so only its form is fixed here.
TEST(KvqueryProgram, FailuresBeforeTheRequest)
{
    const struct {
        std::vector<std::string> words;
        std::string out;
        std::string message;
    } cases[] = {
        {{"-port", "70000"}, "", "client: port number must be 1 to 65535"},
        {{"-port", "65536"}, "", "client: port number must be 1 to 65535"},
        {{"-port", "abc"}, "", "client: port number must be 1 to 65535"},
        {{"-port", "-5"}, "", "client: port number must be 1 to 65535"},
        {{"-h", "-port", "0"}, "", "client: port number must be 1 to 65535"},
        {{"-addr", "-mean"}, banner, "client: host name error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + c.words[1]);
        const auto run = kvquery(c.words);
        EXPECT_EQ(run.exit_status, 1);
        EXPECT_EQ(run.out, c.out);
        EXPECT_TRUE(std::regex_match(run.err, std::regex(c.message + " \\(-?[0-9]+\\)\n"))) << run.err;
    }
}

TEST(KvqueryProgram, SendToABroadcastAddressFails)
{
    // The resolver gives 255.255.255.255, and sending there is not allowed
    // without asking for it.
    const auto run = kvquery({"-addr", "255.255.255.255", "-port", "9"});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out, banner);
    EXPECT_TRUE(std::regex_match(run.err, std::regex("client: sendto error on socket \\([0-9]+\\)\n")))
        << run.err;
}

TEST(KvqueryProgram, HelpShowsTheNameAsInvokedAndTheDefaultPort)
{
    const std::string name = test::program("kvquery");
    const auto run = kvquery({"-port", "8000", "-help"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out.substr(0, banner.size() + 7 + name.size()), banner + "Usage: " + name);
    EXPECT_NE(run.out.find("       -port service port number (7323)\n"), std::string::npos);
}

TEST(KvqueryProgram, NoServerEndsWithinSixSeconds)
{
    // The real wait, with nothing listening on the port at all.
    const int port = test::free_udp_port();
    const auto run = kvquery({"-port", std::to_string(port)}, {});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.err, "client: no response from server (timeout) (4)\n");
    EXPECT_GE(run.took, 4900ms);
    EXPECT_LT(run.took, 6000ms);
}

}  // namespace
}  // namespace kelvara
