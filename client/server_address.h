#pragma once
// Where kvquery sends its request.

#include <netinet/in.h>

namespace kelvara {

// Fills server with the IPv4 address of text and the low 16 bits of port.
// A dotted address (by inet_addr's rules) is taken as it is; anything else,
// 255.255.255.255 included, goes to the resolver. False when that fails.
bool resolve_server_address(const char* text, int port, sockaddr_in& server);

}  // namespace kelvara
