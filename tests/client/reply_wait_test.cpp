#include "client/reply_wait.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include <gtest/gtest.h>

#include "tests/client/udp_peer.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::PeerStep;
using test::ScriptedPeer;
using test::UdpSocket;

// The client's side: one socket that has sent the peer a request.
struct Exchange {
    ScriptedPeer peer;
    UdpSocket client;
    sockaddr_in server{};
    std::uint8_t reply[REPLY_SIZE] = {};

    explicit Exchange(std::vector<PeerStep> script) : peer(std::move(script), 3000ms)
    {
        server.sin_family = AF_INET;
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        server.sin_port = htons(static_cast<std::uint16_t>(peer.port()));
        client.send_to(server, Bytes{0x54, 0x68, 0, 0, 1, 1, 1});
    }

    ReplyWait wait(std::chrono::milliseconds limit)
    {
        return await_reply(client.fd(), server, reply, limit);
    }
};

Bytes reply_with_text(const char* text)
{
    return test::reply_bytes(0, {}, {}, text);
}

Bytes filled(std::size_t size, std::uint8_t value)
{
    return Bytes(size, value);
}

TEST(AwaitReply, TakesTheFirstDatagramFromTheServer)
{
    const struct {
        const char* name;
        std::vector<PeerStep> script;
        ReplyWait outcome;
    } cases[] = {
        {"reply", {{PeerStep::server, reply_with_text("server")}}, ReplyWait::arrived},
        {"longer than a reply", {{PeerStep::server, filled(200, 0x11)}}, ReplyWait::arrived},
        {"strangers first",
         {{PeerStep::stranger_port, reply_with_text("port")},
          {PeerStep::stranger_address, reply_with_text("address")},
          {PeerStep::server, reply_with_text("server")}},
         ReplyWait::arrived},
        {"short", {{PeerStep::server, filled(153, 0x22)}}, ReplyWait::short_reply},
        {"empty", {{PeerStep::server, {}}}, ReplyWait::short_reply},
        {"short after a stranger's full one",
         {{PeerStep::stranger_port, reply_with_text("port")}, {PeerStep::server, filled(10, 0)}},
         ReplyWait::short_reply},
        {"only strangers", {{PeerStep::stranger_port, reply_with_text("port")}},
         ReplyWait::timed_out},
        {"nothing", {}, ReplyWait::timed_out},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Exchange exchange(c.script);
        ASSERT_EQ(exchange.wait(500ms), c.outcome);
        if (c.outcome != ReplyWait::arrived)
            continue;
        const Bytes& sent = c.script.back().bytes;
        EXPECT_EQ(0, std::memcmp(exchange.reply, sent.data(), REPLY_SIZE));
    }
}

TEST(AwaitReply, StrangersDoNotMoveTheDeadline)
{
    std::vector<PeerStep> script;
    for (int i = 0; i < 20; ++i)
        script.push_back({PeerStep::stranger_port, reply_with_text("port"), 50ms});
    Exchange exchange(script);
    const auto began = std::chrono::steady_clock::now();
    EXPECT_EQ(exchange.wait(300ms), ReplyWait::timed_out);
    const auto took = std::chrono::steady_clock::now() - began;
    EXPECT_GE(took, 300ms);
    EXPECT_LT(took, 700ms);
}

TEST(AwaitReply, ALateReplyWithinTheWaitCounts)
{
    Exchange exchange({{PeerStep::stranger_port, reply_with_text("port"), 100ms},
                       {PeerStep::server, reply_with_text("late"), 200ms}});
    EXPECT_EQ(exchange.wait(1000ms), ReplyWait::arrived);
    EXPECT_STREQ(reinterpret_cast<const char*>(exchange.reply) + 26, "late");
}

TEST(AwaitReply, AnErrorOfTheReceiveIsNoTimeout)
{
    // Readable but no socket: the receive itself fails.
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "x", 1), 1);
    sockaddr_in server{};
    std::uint8_t reply[REPLY_SIZE];
    EXPECT_EQ(await_reply(ends[0], server, reply, 2000ms), ReplyWait::receive_failed);
    EXPECT_EQ(errno, ENOTSOCK);
    ::close(ends[0]);
    ::close(ends[1]);
}

}  // namespace
}  // namespace kelvara
