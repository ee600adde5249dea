// kvserver under a burst of bad datagrams: wrong sizes from 0 to 2000 bytes,
// random bytes, and well-sized requests with a wrong magic, range or command,
// all from a seeded generator and mixed with requests that sweep the bus. The
// server must stay up, answer every 7-byte request with exactly the right
// bytes and nothing else, and not grow. Prints its figures on lines that
// begin with "[reliability] ".

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/datagram_bytes.h"
#include "tests/reliability/kvserver_process.h"
#include "tests/reliability/proc_files.h"
#include "tests/reliability/udp_client.h"

namespace kelvara {
namespace {

using namespace std::chrono_literals;
using test::Bytes;
using test::ok_reply;
using test::request_bytes;

// Sensors 1 and 2 read, 3 is missing, 4 NAKs, 5 and 6 read, 7 and 8 missing.
const char* const BUS = "sim:21.5,25.5,-,nak,-0.5,-25";

struct Exchange {
    Bytes request;
    Bytes reply;
};

// Requests that sweep the bus (about 0.55 s each), with their replies.
const std::vector<Exchange>& sweep_exchanges()
{
    static const std::vector<Exchange> exchanges = {
        {request_bytes(1, 1, 8), ok_reply({5504, 6528, 0, 0, -128, -6400}, {0, 0, -13, -12, 0, 0, -13, -13})},
        {request_bytes(2, 1, 2), ok_reply({6016, 6528}, {0, 0})},
        {request_bytes(2, 5, 6), ok_reply({-3264, 0, 0, 0, -128, -6400}, {0})},
        {request_bytes(2, 2, 4), ok_reply({0, 6528}, {-2, 0, -13, -12})},
        {request_bytes(1, 4, 4), ok_reply({}, {0, 0, 0, -12})},
        {request_bytes(2, 7, 7), ok_reply({}, {-2, 0, 0, 0, 0, 0, -13})},
    };
    return exchanges;
}

constexpr std::uint32_t SEED = 0x4b56u;
constexpr int MALFORMED = 2000;       // datagrams of any size but 7
constexpr int ERROR_REQUESTS = 150;   // 7 bytes: wrong magic, range or command
constexpr int SWEEPS = 12;            // 7 bytes, good: read the bus
constexpr int FROM_GONE_SENDERS = 2;  // good, from a socket closed at once
// Kept below the server's receive buffer, so the kernel never drops.
constexpr long QUEUE_LIMIT = 64 * 1024;

// Everything the burst sends, in order; a datagram with a reply is a 7-byte
// request that must be answered.
struct Datagram {
    Bytes bytes;
    std::optional<Bytes> reply;
    bool sender_gone = false;
};

class Generator {
public:
    explicit Generator(std::uint32_t seed) : engine_(seed) {}

    int number(int low, int high) { return std::uniform_int_distribution<int>(low, high)(engine_); }
    std::uint8_t byte() { return static_cast<std::uint8_t>(number(0, 255)); }
    Bytes random_bytes(std::size_t size)
    {
        Bytes bytes(size);
        for (std::uint8_t& b : bytes)
            b = byte();
        return bytes;
    }

    // Any size from 0 to 2000 but 7: random bytes, or a good request cut
    // short or padded.
    Bytes malformed()
    {
        int size = number(0, 2000);
        if (size == 7)
            size = number(0, 1) == 0 ? 6 : 8;
        return malformed(static_cast<std::size_t>(size));
    }

    Bytes malformed(std::size_t size)
    {
        Bytes bytes = random_bytes(size);
        if (number(0, 3) == 0) {
            const Bytes good = request_bytes(1, 1, 8);
            for (std::size_t i = 0; i < bytes.size() && i < good.size(); ++i)
                bytes[i] = good[i];
        }
        return bytes;
    }

    // A 7-byte request that the server refuses, with its reply.
    Exchange refused()
    {
        Bytes bytes = random_bytes(7);
        switch (number(0, 2)) {
        case 0:  // wrong magic: at least one of its three bytes differs
            bytes[0] = 0x54;
            bytes[1] = 0x68;
            bytes[2] = 0x00;
            bytes[static_cast<std::size_t>(number(0, 2))] ^= static_cast<std::uint8_t>(number(1, 255));
            return {bytes, test::bad_request_reply()};
        case 1:  // range: first or last outside 1 to 8, or first above last
            bytes = request_bytes(static_cast<std::uint8_t>(number(1, 2)), byte(), byte());
            if (bytes[5] >= 1 && bytes[5] <= 8 && bytes[6] >= bytes[5] && bytes[6] <= 8)
                bytes[6] = number(0, 1) == 0 ? 9 : static_cast<std::uint8_t>(bytes[5] - 1);
            bytes[3] = byte();  // byte 3 is never looked at
            return {bytes, test::bad_parameters_reply()};
        default:  // command: anything but 1 and 2, with a good range
        {
            std::uint8_t command = byte();
            if (command == 1 || command == 2)
                command = 0;
            const auto first = static_cast<std::uint8_t>(number(1, 8));
            return {request_bytes(command, first, static_cast<std::uint8_t>(number(first, 8))),
                    test::bad_parameters_reply()};
        }
        }
    }

private:
    std::mt19937 engine_;
};

// The burst: malformed datagrams with the 7-byte requests spread among them.
std::vector<Datagram> burst(Generator& generator)
{
    std::vector<Datagram> refused;
    for (int i = 0; i < ERROR_REQUESTS; ++i) {
        Exchange e = generator.refused();
        refused.push_back({e.request, e.reply});
    }
    std::vector<Datagram> sweeps;
    for (int i = 0; i < SWEEPS + FROM_GONE_SENDERS; ++i) {
        const Exchange& e = sweep_exchanges()[static_cast<std::size_t>(i) % sweep_exchanges().size()];
        sweeps.push_back({e.request, e.reply, i >= SWEEPS});
    }

    std::vector<Datagram> all;
    std::size_t next_refused = 0;
    std::size_t next_sweep = 0;
    // The sizes next to the two good ones and the ends come first.
    const std::size_t edges[] = {0, 1, 6, 8, 153, 154, 155, 1999, 2000};
    for (int i = 0; i < MALFORMED; ++i) {
        const auto at = static_cast<std::size_t>(i);
        all.push_back({at < std::size(edges) ? generator.malformed(edges[at]) : generator.malformed(), std::nullopt});
        if (next_refused + 1 < refused.size() && i % (MALFORMED / ERROR_REQUESTS) == 0)
            all.push_back(refused[next_refused++]);
        if (next_sweep < sweeps.size() && i % (MALFORMED / static_cast<int>(sweeps.size())) == 7)
            all.push_back(sweeps[next_sweep++]);
    }
    while (next_sweep < sweeps.size())
        all.push_back(sweeps[next_sweep++]);
    // A request last of all: its reply shows that the server has been
    // through everything before it.
    while (next_refused < refused.size())
        all.push_back(refused[next_refused++]);
    return all;
}

std::size_t count_lines(const std::string& text, const std::string& prefix)
{
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(prefix, at)) != std::string::npos; at += prefix.size()) {
        if (at == 0 || text[at - 1] == '\n')
            ++count;
    }
    return count;
}

TEST(ServerLoad, BurstOfBadDatagramsLeavesTheServerAnsweringAndItsMemoryFlat)
{
    test::KvserverProcess server(BUS);
    ASSERT_TRUE(server.started()) << server.errors();
    test::UdpClient client(1 << 20);
    ASSERT_TRUE(client.ok());
    Generator generator(SEED);

    // Warm-up: a few of each kind, so that what the first requests allocate
    // (buffers of the standard streams and the C library) is in before.
    int warm_malformed = 0;
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 10; ++i, ++warm_malformed)
            ASSERT_TRUE(client.send(server.port(), generator.malformed()));
        const Exchange refused = generator.refused();
        const Exchange& sweep = sweep_exchanges()[static_cast<std::size_t>(round)];
        for (const Exchange* e : {&refused, &sweep}) {
            ASSERT_TRUE(client.send(server.port(), e->request));
            const std::optional<Bytes> answer = client.receive(3s);
            ASSERT_TRUE(answer) << "warm-up round " << round;
            ASSERT_EQ(*answer, e->reply) << test::hex(*answer);
        }
    }
    const std::optional<test::MemoryFigures> before = test::process_memory(server.pid());
    const int descriptors_before = test::open_descriptor_count(server.pid());
    ASSERT_TRUE(before);

    const std::vector<Datagram> datagrams = burst(generator);
    std::vector<Bytes> expected;
    std::vector<Bytes> received;
    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + 60s;
    auto drain = [&](std::chrono::milliseconds wait) {
        while (std::optional<Bytes> answer = client.receive(wait)) {
            received.push_back(*answer);
            wait = 0ms;
        }
    };
    std::size_t sent = 0;
    for (const Datagram& d : datagrams) {
        // Pace: the kernel drops what does not fit the server's queue, and
        // such a datagram never reached the server.
        for (;;) {
            const std::optional<test::UdpSocketFigures> socket = test::udp_socket_on_port(server.port());
            ASSERT_TRUE(socket) << "the server's socket is gone";
            if (socket->queued_bytes < QUEUE_LIMIT)
                break;
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the server stopped reading";
            drain(5ms);
        }
        if (d.sender_gone) {
            test::UdpClient gone;
            ASSERT_TRUE(gone.send(server.port(), d.bytes));
        } else {
            ASSERT_TRUE(client.send(server.port(), d.bytes)) << "datagram " << sent;
            if (d.reply)
                expected.push_back(*d.reply);
        }
        ++sent;
        drain(0ms);
    }
    while (received.size() < expected.size() && std::chrono::steady_clock::now() < deadline)
        drain(100ms);
    drain(300ms);  // anything more would be a reply to a bad datagram
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const std::optional<test::UdpSocketFigures> socket = test::udp_socket_on_port(server.port());
    const std::optional<test::MemoryFigures> after = test::process_memory(server.pid());
    ASSERT_TRUE(socket);
    ASSERT_TRUE(after);
    std::size_t correct = 0;
    for (std::size_t i = 0; i < expected.size() && i < received.size(); ++i)
        correct += received[i] == expected[i] ? 1 : 0;
    const std::string errors = server.errors();
    const std::size_t ignored = count_lines(errors, "server: ignored datagram of ");

    std::printf("[reliability] load: seed %u; %zu datagrams sent in %.1f s: %d malformed (0 to 2000 bytes), "
                "%d refused 7-byte requests, %d sweep requests, %d sweep requests from senders gone at once\n",
                SEED, sent, seconds, MALFORMED, ERROR_REQUESTS, SWEEPS, FROM_GONE_SENDERS);
    std::printf("[reliability] load: %zu replies expected, %zu received, %zu byte for byte right; "
                "%zu datagrams ignored by the server; kernel drops %ld\n",
                expected.size(), received.size(), correct, ignored, socket->drops);
    std::printf("[reliability] load: kvserver VmRSS %ld KiB before, %ld KiB after; VmHWM %ld KiB before, "
                "%ld KiB after\n",
                before->rss_kib, after->rss_kib, before->peak_kib, after->peak_kib);
    std::fflush(stdout);

    EXPECT_EQ(socket->drops, 0) << "datagrams were lost before the server: the counts prove nothing";
    EXPECT_TRUE(server.running());
    EXPECT_EQ(received.size(), expected.size());
    for (std::size_t i = 0; i < expected.size() && i < received.size(); ++i)
        EXPECT_EQ(received[i], expected[i]) << "reply " << i << ": " << test::hex(received[i]);
    // Every malformed datagram reached the server and was passed over, and
    // nothing else went wrong.
    EXPECT_EQ(ignored, static_cast<std::size_t>(MALFORMED + warm_malformed));
    EXPECT_EQ(count_lines(errors, "server: "), ignored);
    EXPECT_EQ(test::open_descriptor_count(server.pid()), descriptors_before);
    // Nothing in the loop allocates per datagram; a few pages of slack.
    EXPECT_LE(after->rss_kib - before->rss_kib, 256);
    EXPECT_LE(after->peak_kib - before->peak_kib, 256);
}

}  // namespace
}  // namespace kelvara
