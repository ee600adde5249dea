// Preloaded into kvquery by the bench: notes when the request leaves and when
// the reply arrives, and appends the time between them, in nanoseconds, to
// the file that KVBENCH_ROUND_TRIP_FILE names. The calls themselves pass
// through unchanged, so kvquery's own round trip is timed without the cost of
// starting and ending its process.

#include <dlfcn.h>
#include <sys/socket.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using SendTo = ssize_t (*)(int, const void*, size_t, int, const sockaddr*, socklen_t);
using RecvFrom = ssize_t (*)(int, void*, size_t, int, sockaddr*, socklen_t*);

timespec request_sent{};
bool waiting = false;

// The next definition of a symbol, in the library after this one.
template <typename Function>
Function next(const char* name)
{
    void* symbol = ::dlsym(RTLD_NEXT, name);
    Function function = nullptr;
    static_assert(sizeof function == sizeof symbol);
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

long long nanoseconds_between(const timespec& from, const timespec& to)
{
    return (static_cast<long long>(to.tv_sec) - from.tv_sec) * 1000000000LL + (to.tv_nsec - from.tv_nsec);
}

}  // namespace

extern "C" ssize_t sendto(int fd, const void* buffer, size_t length, int flags, const sockaddr* to,
                          socklen_t to_length)
{
    static const SendTo real = next<SendTo>("sendto");
    ::clock_gettime(CLOCK_MONOTONIC, &request_sent);
    waiting = true;
    return real(fd, buffer, length, flags, to, to_length);
}

extern "C" ssize_t recvfrom(int fd, void* buffer, size_t length, int flags, sockaddr* from,
                            socklen_t* from_length)
{
    static const RecvFrom real = next<RecvFrom>("recvfrom");
    const ssize_t received = real(fd, buffer, length, flags, from, from_length);
    if (received > 0 && waiting) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        waiting = false;
        if (const char* path = std::getenv("KVBENCH_ROUND_TRIP_FILE")) {
            if (std::FILE* file = std::fopen(path, "a")) {
                std::fprintf(file, "%lld\n", nanoseconds_between(request_sent, now));
                std::fclose(file);
            }
        }
    }
    return received;
}
