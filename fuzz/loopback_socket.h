#pragma once
// A UDP socket bound to a free port on 127.0.0.1, for the targets that drive
// the programs' socket code. The fuzzer cannot go on without it: a failure
// aborts with a message.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>

namespace kelvara::fuzz {

inline int loopback_socket(sockaddr_in& address)
{
    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (sock < 0 || ::bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "no loopback socket for the fuzzer\n");
        std::abort();
    }
    return sock;
}

}  // namespace kelvara::fuzz
