#pragma once
// What /proc tells the tests about the processes they start: memory, open
// descriptors, the UDP socket a server reads, and who holds a simulated port.

#include <optional>
#include <vector>

#include <sys/types.h>

namespace kelvara::test {

// VmRSS and VmHWM from /proc/<pid>/status, in KiB.
struct MemoryFigures {
    long rss_kib = 0;
    long peak_kib = 0;
};
std::optional<MemoryFigures> process_memory(pid_t pid);

// Entries of /proc/<pid>/fd, or -1 when they cannot be read.
int open_descriptor_count(pid_t pid);

// The IPv4 UDP socket bound to port, from /proc/net/udp.
struct UdpSocketFigures {
    unsigned long inode = 0;
    long queued_bytes = 0;  // rx_queue: what waits to be received, kernel accounting
    long drops = 0;         // datagrams the kernel threw away for this socket
};
std::optional<UdpSocketFigures> udp_socket_on_port(int port);

// The child of this process that has the socket with this inode open, or -1.
pid_t child_with_socket(unsigned long inode);

// The processes holding a lock on a simulated port of this test (the lock
// files in $TMPDIR), from /proc/locks.
std::vector<pid_t> sim_port_lock_holders();

}  // namespace kelvara::test
