#include "client/reply_wait.h"

#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

namespace kelvara {

namespace {

bool same_endpoint(const sockaddr_in& a, const sockaddr_in& b)
{
    return a.sin_family == AF_INET && a.sin_addr.s_addr == b.sin_addr.s_addr &&
           a.sin_port == b.sin_port;
}

}  // namespace

ReplyWait await_reply(int socket_fd, const sockaddr_in& server, std::uint8_t reply[REPLY_SIZE],
                      std::chrono::milliseconds wait)
{
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + wait;
    for (;;) {
        const auto now = clock::now();
        if (now >= deadline)
            return ReplyWait::timed_out;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();

        pollfd watch{};
        watch.fd = socket_fd;
        watch.events = POLLIN;
        const int ready = ::poll(&watch, 1, static_cast<int>(left));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return ReplyWait::receive_failed;
        }
        if (ready == 0)
            continue;  // the deadline check above ends the wait

        sockaddr_in from{};
        socklen_t from_size = sizeof from;
        // A longer datagram is cut to the buffer; a shorter one says so in size.
        const ssize_t size = ::recvfrom(socket_fd, reply, REPLY_SIZE, MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr*>(&from), &from_size);
        if (size < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                continue;
            return ReplyWait::receive_failed;
        }
        if (from_size < sizeof from || !same_endpoint(from, server))
            continue;
        return static_cast<std::size_t>(size) < REPLY_SIZE ? ReplyWait::short_reply
                                                           : ReplyWait::arrived;
    }
}

}  // namespace kelvara
