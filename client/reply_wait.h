#pragma once
// The bounded wait for the server's reply.

#include <chrono>
#include <cstdint>

#include <netinet/in.h>

#include "net/temp_records.h"

namespace kelvara {

enum class ReplyWait {
    arrived,         // a full reply from the server is in the buffer
    timed_out,       // nothing from the server before the deadline
    short_reply,     // the server's datagram was shorter than a reply
    receive_failed,  // the socket reported an error; errno tells which
};

// Waits on socket_fd for the first datagram from server (address and port)
// and leaves its first REPLY_SIZE bytes in reply. Datagrams from anyone else
// are dropped and do not move the deadline, which lies `wait` after the call.
ReplyWait await_reply(int socket_fd, const sockaddr_in& server, std::uint8_t reply[REPLY_SIZE],
                      std::chrono::milliseconds wait);

}  // namespace kelvara
