#include "client/server_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstdint>
#include <cstring>

namespace kelvara {

bool resolve_server_address(const char* text, int port, sockaddr_in& server)
{
    std::memset(&server, 0, sizeof server);
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<std::uint16_t>(port & 0xFFFF));
    if (text == nullptr)
        return false;

    const in_addr_t dotted = inet_addr(text);
    if (dotted != INADDR_NONE) {
        server.sin_addr.s_addr = dotted;
        return true;
    }

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(text, nullptr, &hints, &found) != 0 || found == nullptr)
        return false;
    bool ok = false;
    if (found->ai_family == AF_INET && found->ai_addrlen >= sizeof(sockaddr_in)) {
        sockaddr_in first{};
        std::memcpy(&first, found->ai_addr, sizeof first);
        server.sin_addr = first.sin_addr;
        ok = true;
    }
    freeaddrinfo(found);
    return ok;
}

}  // namespace kelvara
