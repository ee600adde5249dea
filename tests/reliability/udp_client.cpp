#include "tests/reliability/udp_client.h"

#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kelvara::test {

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

}  // namespace

UdpClient::UdpClient(int receive_buffer)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return;
    if (receive_buffer > 0)
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    sockaddr_in local = loopback(0);
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        close();
}

UdpClient::~UdpClient() { close(); }

bool UdpClient::send(int port, const Bytes& bytes)
{
    if (fd_ < 0)
        return false;
    const sockaddr_in server = loopback(port);
    const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&server),
                                  sizeof server);
    return sent == static_cast<ssize_t>(bytes.size());
}

std::optional<Bytes> UdpClient::receive(std::chrono::milliseconds wait)
{
    if (fd_ < 0)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd ready{fd_, POLLIN, 0};
        const int n = ::poll(&ready, 1, left.count() > 0 ? static_cast<int>(left.count()) : 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        Bytes bytes(4096);
        const ssize_t got = ::recv(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT);
        if (got < 0) {
            if ((errno == EINTR || errno == EAGAIN) && std::chrono::steady_clock::now() < deadline)
                continue;
            return std::nullopt;
        }
        bytes.resize(static_cast<std::size_t>(got));
        return bytes;
    }
}

void UdpClient::close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
}

int free_udp_port()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in local = loopback(0);
    socklen_t length = sizeof local;
    int port = -1;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0)
        port = ntohs(local.sin_port);
    ::close(fd);
    return port;
}

}  // namespace kelvara::test
