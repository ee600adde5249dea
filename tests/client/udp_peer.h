#pragma once
// A scripted stand-in for kvserver on 127.0.0.1: takes one request, then sends
// the datagrams of its script, some of them from a stranger's socket.

#include <netinet/in.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/datagram_bytes.h"

namespace kelvara::test {

// A UDP socket bound to a loopback address; closed on destruction.
class UdpSocket {
public:
    explicit UdpSocket(const char* address = "127.0.0.1", int port = 0);
    ~UdpSocket();
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    int port() const;
    sockaddr_in address() const;
    void send_to(const sockaddr_in& to, const Bytes& bytes) const;
    // The next datagram within `wait`, with its sender; false when none came.
    bool receive(Bytes& bytes, sockaddr_in& from, std::chrono::milliseconds wait) const;

private:
    int fd_ = -1;
};

// A free UDP port on this machine (nothing bound to it when returned).
int free_udp_port();

struct PeerStep {
    enum Sender { server, stranger_port, stranger_address } sender = server;
    Bytes bytes;
    std::chrono::milliseconds delay{0};  // before this datagram goes out
};

// Listens on its own port; after the first request it plays the script to the
// request's sender. The thread ends when the script is played, or after
// `listen` without a request; the destructor waits for it.
class ScriptedPeer {
public:
    explicit ScriptedPeer(std::vector<PeerStep> script,
                          std::chrono::milliseconds listen = std::chrono::milliseconds(8000));
    ~ScriptedPeer();
    ScriptedPeer(const ScriptedPeer&) = delete;
    ScriptedPeer& operator=(const ScriptedPeer&) = delete;

    int port() const { return server_.port(); }
    // Waits for the script to end; the request as received, empty when none came.
    Bytes request();
    // Whether a stranger at another loopback address could be set up.
    bool has_stranger_address() const { return stranger_address_ != nullptr; }

private:
    void play(std::vector<PeerStep> script, std::chrono::milliseconds listen);

    UdpSocket server_;
    UdpSocket stranger_port_;
    // Same port as the server, another loopback address.
    std::unique_ptr<UdpSocket> stranger_address_;
    Bytes request_;
    std::thread thread_;
};

}  // namespace kelvara::test
