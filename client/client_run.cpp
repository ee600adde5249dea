#include "client/client_run.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>

#include "client/client_options.h"
#include "client/reply_output.h"
#include "client/reply_wait.h"
#include "client/server_address.h"
#include "client/usage_text.h"
#include "common/decimal.h"
#include "net/socket_startup.h"
#include "net/temp_records.h"

namespace kelvara {

std::chrono::milliseconds client_reply_wait(const char* text)
{
    const int ms = read_decimal(text);
    return ms > 0 ? std::chrono::milliseconds(ms) : DEFAULT_REPLY_WAIT;
}

int run_client(int argc, const char* const* argv, std::ostream& out,
               std::chrono::milliseconds reply_wait)
{
    ClientOptions options;
    parse_client_args(argc, argv, options);
    // Sending to the low 16 bits of another number would reach a port nobody asked for.
    if (!service_port_valid(options.service_port))
        fatal_error("client: port number must be 1 to 65535");

    out << CLIENT_BANNER;
    if (options.show_help) {
        print_client_usage(out, argc > 0 ? argv[0] : nullptr);
        return 0;
    }
    out.flush();

    if (!winsock_startup()) {
        std::fputs("error in Socket initialization\n", stderr);
        return 1;
    }

    sockaddr_in server{};
    if (!resolve_server_address(options.server_address, options.service_port, server))
        fatal_error("client: host name error");

    const int socket_fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (socket_fd < 0) {
        socket_creation_failed("client: can't open datagram socket");
    }

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = 0;  // any free port
    if (::bind(socket_fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0)
        fatal_error("client: can't bind local address");

    std::uint8_t request[REQUEST_SIZE];
    encode_request(make_request(options.mean, options.first_sensor, options.last_sensor), request);
    if (::sendto(socket_fd, request, REQUEST_SIZE, 0, reinterpret_cast<const sockaddr*>(&server),
                 sizeof server) != static_cast<ssize_t>(REQUEST_SIZE))
        fatal_error("client: sendto error on socket");

    std::uint8_t reply_bytes[REPLY_SIZE] = {};
    switch (await_reply(socket_fd, server, reply_bytes, reply_wait)) {
    case ReplyWait::arrived:
        break;
    case ReplyWait::timed_out:
        errno = EINTR;  // the number an expired wait is reported with
        fatal_error("client: no response from server (timeout)");
    case ReplyWait::short_reply:
        errno = EMSGSIZE;
        fatal_error("client: recvfrom error");
    case ReplyWait::receive_failed:
        fatal_error("client: recvfrom error");
    }

    print_reply(out, options, decode_reply(reply_bytes));
    out.flush();
    ::close(socket_fd);
    winsock_cleanup();
    return 0;
}

}  // namespace kelvara
