#pragma once
// The client side of the tests: one datagram socket on 127.0.0.1 that sends
// raw bytes to a loopback port and receives with a bounded wait.

#include <chrono>
#include <optional>

#include "tests/support/datagram_bytes.h"

namespace kelvara::test {

class UdpClient {
public:
    // receive_buffer: SO_RCVBUF to ask for, 0 for the system's default.
    explicit UdpClient(int receive_buffer = 0);
    ~UdpClient();
    UdpClient(const UdpClient&) = delete;
    UdpClient& operator=(const UdpClient&) = delete;

    bool ok() const { return fd_ >= 0; }
    // Sends bytes (any size, even 0) to 127.0.0.1:port; true when the whole
    // datagram went out.
    bool send(int port, const Bytes& bytes);
    // The next datagram within wait (zero: only one already queued).
    std::optional<Bytes> receive(std::chrono::milliseconds wait);
    // Closes the socket, so that replies to it find nobody.
    void close();

private:
    int fd_ = -1;
};

// A UDP port on loopback that nothing uses right now.
int free_udp_port();

}  // namespace kelvara::test
