#include "net/socket_startup.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kelvara {

namespace {

// The interface version asked for: major 1 in the low byte, minor 0 in the high byte.
constexpr std::uint16_t REQUESTED_VERSION = 0x0001;

struct ErrorRow {
    int code;
    const char* text;
};

// The errors that socket creation reports, closed by a row without text.
constexpr ErrorRow winsock_error_table[] = {
    {10093, "A successful WSAStartup must occur before using this function."},
    {10050, "The Windows Sockets implementation has detected that the network subsystem has failed."},
    {10047, "The specified address family is not supported."},
    {10036, "A blocking Windows Sockets operation is in progress."},
    {10024, "No more file descriptors are available."},
    {10055, "No buffer space is available. The socket cannot be created."},
    {10043, "The specified protocol is not supported."},
    {10041, "The specified protocol is the wrong type for this socket."},
    {10044, "The specified socket type is not supported in this address family."},
    {0, nullptr},
};

// BSD sockets need no start-up and always offer what the old interface asked for.
std::uint16_t platform_grant(std::uint16_t /*requested*/) { return REQUESTED_VERSION; }

VersionGrant version_grant = platform_grant;

}  // namespace

VersionGrant set_version_grant(VersionGrant grant)
{
    VersionGrant previous = version_grant;
    version_grant = grant != nullptr ? grant : platform_grant;
    return previous;
}

int winsock_startup()
{
    if (version_grant(REQUESTED_VERSION) == REQUESTED_VERSION)
        return 1;
    std::fputs("No usable WinSock DLL\n", stderr);
    winsock_cleanup();
    return 0;
}

void winsock_cleanup()
{
    // Nothing to release: sockets are plain descriptors that the process owns.
}

const char* winsock_error_text(int code)
{
    // The text test comes first, so the closing row never matches (code 0 gives null).
    for (const ErrorRow* row = winsock_error_table;; ++row) {
        if (row->text == nullptr || row->code == code)
            return row->text;
    }
}

void fatal_error(const char* message)
{
    const int number = errno;
    std::fprintf(stderr, "%s (%d)\n", message, number);
    winsock_cleanup();
    std::exit(1);
}

int socket_error_code(int errno_value)
{
    switch (errno_value) {
    case EAFNOSUPPORT:
        return 10047;
    case EMFILE:
    case ENFILE:
        return 10024;
    case ENOBUFS:
    case ENOMEM:
        return 10055;
    case EPROTONOSUPPORT:
        return 10043;
    case EPROTOTYPE:
        return 10041;
    case ESOCKTNOSUPPORT:
        return 10044;
    default:
        return errno_value;
    }
}

void socket_creation_failed(const char* message)
{
    errno = socket_error_code(errno);
    const char* text = winsock_error_text(errno);
    std::fprintf(stderr, "%s\n", text != nullptr ? text : "(null)");
    fatal_error(message);
}

}  // namespace kelvara
