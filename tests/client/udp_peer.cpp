#include "tests/client/udp_peer.h"

#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace kelvara::test {

UdpSocket::UdpSocket(const char* address, int port)
{
    fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0)
        return;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(address);
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    if (::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) < 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

UdpSocket::~UdpSocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

sockaddr_in UdpSocket::address() const
{
    sockaddr_in local{};
    socklen_t size = sizeof local;
    if (fd_ >= 0)
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size);
    return local;
}

int UdpSocket::port() const
{
    return ntohs(address().sin_port);
}

void UdpSocket::send_to(const sockaddr_in& to, const Bytes& bytes) const
{
    ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

bool UdpSocket::receive(Bytes& bytes, sockaddr_in& from, std::chrono::milliseconds wait) const
{
    pollfd watch{};
    watch.fd = fd_;
    watch.events = POLLIN;
    if (fd_ < 0 || ::poll(&watch, 1, static_cast<int>(wait.count())) != 1)
        return false;
    bytes.assign(2048, 0);
    socklen_t size = sizeof from;
    const ssize_t got = ::recvfrom(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT,
                                   reinterpret_cast<sockaddr*>(&from), &size);
    if (got < 0)
        return false;
    bytes.resize(static_cast<std::size_t>(got));
    return true;
}

int free_udp_port()
{
    UdpSocket probe;
    return probe.port();
}

ScriptedPeer::ScriptedPeer(std::vector<PeerStep> script, std::chrono::milliseconds listen)
{
    auto other = std::make_unique<UdpSocket>("127.0.0.2", server_.port());
    if (other->ok())
        stranger_address_ = std::move(other);
    thread_ = std::thread(&ScriptedPeer::play, this, std::move(script), listen);
}

ScriptedPeer::~ScriptedPeer()
{
    if (thread_.joinable())
        thread_.join();
}

Bytes ScriptedPeer::request()
{
    if (thread_.joinable())
        thread_.join();
    return request_;
}

void ScriptedPeer::play(std::vector<PeerStep> script, std::chrono::milliseconds listen)
{
    sockaddr_in client{};
    Bytes received;
    if (!server_.receive(received, client, listen))
        return;
    request_ = received;
    for (const PeerStep& step : script) {
        std::this_thread::sleep_for(step.delay);
        const UdpSocket* from = &server_;
        if (step.sender == PeerStep::stranger_address && stranger_address_)
            from = stranger_address_.get();
        else if (step.sender != PeerStep::server)
            from = &stranger_port_;
        from->send_to(client, step.bytes);
    }
}

}  // namespace kelvara::test
