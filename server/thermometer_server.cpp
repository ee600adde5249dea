#include "server/thermometer_server.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include "net/socket_startup.h"

namespace kelvara {

bool recv_error_repeats(int errno_value)
{
    switch (errno_value) {
    case EBADF:
    case ENOTSOCK:
    case EFAULT:
    case EINVAL:
    case ENOTCONN:
    case EOPNOTSUPP:
        return true;
    default:
        return false;
    }
}

int open_service_socket(int service_port)
{
    const int sock = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (sock < 0) {
        socket_creation_failed("server: can't open datagram socket");
    }

    sockaddr_in local;
    std::memset(&local, 0, sizeof local);
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<std::uint16_t>(service_port));
    if (::bind(sock, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0)
        fatal_error("server: can't bind local address");
    return sock;
}

ServeOutcome serve_one_request(int sock, const SensorSweep& sweep)
{
    std::uint8_t request[REQUEST_SIZE];
    std::uint8_t reply[REPLY_SIZE];
    sockaddr_in peer;
    std::memset(&peer, 0, sizeof peer);
    socklen_t peer_length = sizeof peer;

    // MSG_TRUNC makes a longer datagram report its true size.
    const ssize_t received =
        ::recvfrom(sock, request, REQUEST_SIZE, MSG_TRUNC, reinterpret_cast<sockaddr*>(&peer), &peer_length);
    if (received < 0) {
        const int number = errno;
        if (recv_error_repeats(number))
            fatal_error("server: recvfrom error");
        std::fprintf(stderr, "server: recvfrom error (%d)\n", number);
        return ServeOutcome::receive_failed;
    }
    if (static_cast<std::size_t>(received) != REQUEST_SIZE) {
        std::fprintf(stderr, "server: ignored datagram of %lld bytes\n", static_cast<long long>(received));
        return ServeOutcome::ignored;
    }

    build_reply(request, sweep, reply);

    // A failed send is reported below; MSG_NOSIGNAL keeps a system from raising
    // SIGPIPE for it instead.
    const ssize_t sent =
        ::sendto(sock, reply, REPLY_SIZE, MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&peer), peer_length);
    if (sent < 0 || static_cast<std::size_t>(sent) != REPLY_SIZE) {
        // A short send sets no error number.
        std::fprintf(stderr, "server: sendto error (%d)\n", sent < 0 ? errno : 0);
        return ServeOutcome::send_failed;
    }
    return ServeOutcome::answered;
}

int run_server(const ServerOptions& options, const SensorSweep& sweep)
{
    // Every stray datagram is reported on stderr; when whatever read it has
    // gone, the report must fail quietly rather than end the server.
    std::signal(SIGPIPE, SIG_IGN);
    if (winsock_startup() == 0) {
        std::fputs("error in Socket initialization\n", stderr);
        return 1;
    }
    const int sock = open_service_socket(options.service_port);
    std::printf("Socket Port: %d\nCom Port: COM%d\n\n", options.service_port, options.com_port);
    for (;;)
        serve_one_request(sock, sweep);
}

}  // namespace kelvara
