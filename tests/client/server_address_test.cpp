#include "client/server_address.h"

#include <arpa/inet.h>

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(ResolveServerAddress, DottedTextsAndNames)
{
    const struct {
        const char* text;
        int port;
        bool resolved;
        std::uint32_t address;  // host order
        std::uint16_t wire_port;
    } cases[] = {
        {"127.0.0.1", 7323, true, 0x7F000001, 7323},
        {"10.1.2.3", 9000, true, 0x0A010203, 9000},
        // inet_addr's forms: fewer parts, hexadecimal and octal parts.
        {"127.1", 1, true, 0x7F000001, 1},
        {"0x7f.1", 65535, true, 0x7F000001, 65535},
        {"017.0.0.1", 7323, true, 0x0F000001, 7323},
        // Not an address inet_addr gives, so the resolver has it.
        {"255.255.255.255", 7323, true, 0xFFFFFFFF, 7323},
        {"localhost", 7323, true, 0x7F000001, 7323},
        {"-mean", 7323, false, 0, 7323},
        {"", 7323, false, 0, 7323},
        {nullptr, 7323, false, 0, 7323},
        // Only the low 16 bits of the number reach the address.
        {"127.0.0.1", 70000, true, 0x7F000001, 4464},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text != nullptr ? c.text : "(null)");
        sockaddr_in server{};
        server.sin_zero[3] = 1;
        ASSERT_EQ(resolve_server_address(c.text, c.port, server), c.resolved);
        EXPECT_EQ(server.sin_family, AF_INET);
        EXPECT_EQ(ntohs(server.sin_port), c.wire_port);
        EXPECT_EQ(server.sin_zero[3], 0);
        if (c.resolved) {
            EXPECT_EQ(ntohl(server.sin_addr.s_addr), c.address);
        }
    }
}

}  // namespace
}  // namespace kelvara
