// kvpage and kvserver taking turns at one simulated port: a page asked for
// while the port is held shows an error entry for every sensor, a server
// request during a page's sweep gets -14 in every slot, and both read
// normally once the other has let go.

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include <unistd.h>

#include <gtest/gtest.h>

#include "cgi/page.h"
#include "sensorbus/serial_line_port.h"
#include "tests/support/child_process.h"
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

const char* const BUS = "sim:21.5,-,25.5";
const std::string PLAIN = "Content-type: text/plain\n\n";
const std::string READINGS = PLAIN + "21.5 C Er-13 25.5 C \n";
const std::string PORT_FAILED = PLAIN + "Er-14 Er-14 Er-14 \n";

test::ChildResult run_kvpage(const std::string& query)
{
    test::ChildCommand command;
    command.argv = {test::bin_dir() + "/kvpage"};
    command.env = test::current_environment();
    test::set_env_entry(command.env, "KELVARA_COM3", BUS);
    test::set_env_entry(command.env, "REQUEST_METHOD", "GET");
    test::set_env_entry(command.env, "QUERY_STRING", query);
    command.cwd = test::temp_dir();  // no skeleton.html: the built-in page
    return run_child(command, 5s);
}

// Waits, bounded, until some process other than except holds the port; its
// pid, or -1.
pid_t wait_for_lock_holder(pid_t except, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    do {
        for (pid_t holder : test::sim_port_lock_holders()) {
            if (holder != except)
                return holder;
        }
        std::this_thread::sleep_for(2ms);
    } while (std::chrono::steady_clock::now() < deadline);
    return -1;
}

struct HeldCase {
    const char* query;
    std::string held;
    std::string freed;
};

TEST(KvpageFaults, PortHeldDuringThePageGivesAnErrorEntryForEverySensor)
{
    const std::string html = std::string("Content-type: text/html\n\n") + FALLBACK_PAGE_HEAD + "\n";
    const std::string tail = std::string("\n") + FALLBACK_PAGE_TAIL + "\n";
    const HeldCase cases[] = {
        {"what=1-3", PORT_FAILED, READINGS},
        {"what=8", PLAIN + "Er-14 \n", PLAIN + "Er-13 \n"},
        {"format=html&what=2-3", html + "Er-14 Er-14 " + tail, html + "Er-13 25.5\xB0" "C " + tail},
    };
    test::ScopedEnv device("KELVARA_COM3", BUS);
    for (const HeldCase& c : cases) {
        std::optional<SerialLinePort> holder(std::in_place, 3);
        ASSERT_TRUE(holder->is_open()) << "errno " << holder->last_open_errno();
        const test::ChildResult held = run_kvpage(c.query);
        holder.reset();
        const test::ChildResult freed = run_kvpage(c.query);

        EXPECT_EQ(held.exit_status, 0) << c.query;
        EXPECT_EQ(held.out, c.held) << c.query;
        EXPECT_EQ(held.err, "") << c.query;
        EXPECT_EQ(freed.exit_status, 0) << c.query;
        EXPECT_EQ(freed.out, c.freed) << c.query;
    }
}

TEST(KvpageFaults, PageDuringAServerSweepFailsAndTheServerReadsNormally)
{
    test::KvserverProcess server(BUS);
    ASSERT_TRUE(server.started()) << server.errors();
    test::UdpClient client;
    ASSERT_TRUE(client.send(server.port(), request_bytes(1, 1, 3)));
    ASSERT_EQ(wait_for_lock_holder(-1, 3s), server.pid()) << "the server's sweep never took the port";

    const test::ChildResult page = run_kvpage("what=1-3");
    const std::optional<Bytes> answer = client.receive(3s);

    EXPECT_EQ(page.exit_status, 0);
    EXPECT_EQ(page.out, PORT_FAILED);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, ok_reply({5504, 0, 6528}, {0, -13, 0}));
    EXPECT_EQ(run_kvpage("what=1-3").out, READINGS) << "the port stayed locked after the server's sweep";
}

TEST(KvpageFaults, ServerRequestDuringAPageSweepFailsAndTheNextOneReads)
{
    test::KvserverProcess server(BUS);
    ASSERT_TRUE(server.started()) << server.errors();
    test::UdpClient client;

    test::ChildResult page;
    std::thread browser([&page] { page = run_kvpage("what=1-3"); });
    const pid_t holder = wait_for_lock_holder(server.pid(), 3s);
    std::optional<Bytes> during;
    if (holder > 0 && client.send(server.port(), request_bytes(1, 1, 3)))
        during = client.receive(3s);
    browser.join();

    ASSERT_GT(holder, 0) << "the page's sweep never took the port";
    EXPECT_EQ(page.exit_status, 0);
    EXPECT_EQ(page.out, READINGS);
    ASSERT_TRUE(during);
    EXPECT_EQ(*during, ok_reply({}, {-14, -14, -14}));
    ASSERT_TRUE(client.send(server.port(), request_bytes(1, 1, 3)));
    const std::optional<Bytes> after = client.receive(3s);
    ASSERT_TRUE(after);
    EXPECT_EQ(*after, ok_reply({5504, 0, 6528}, {0, -13, 0}));
    EXPECT_EQ(server.errors(), "");
}

}  // namespace
}  // namespace kelvara
