#pragma once
// Socket start-up, clean-up, the texts of socket-creation failures and the
// fatal report, shared by kvserver and kvquery. The start-up keeps the old
// version handshake: only interface version 1.0 is accepted.

#include <cstdint>

namespace kelvara {

// 1 when started with version 1.0, else 0; prints "No usable WinSock DLL\n"
// on stderr when the granted version is not 1.0.
int winsock_startup();

void winsock_cleanup();

// The text of one of the nine socket-creation codes; null for any other code.
const char* winsock_error_text(int code);

// "%s (%d)\n" with message and errno on stderr, winsock_cleanup, exit status 1.
[[noreturn]] void fatal_error(const char* message);

// Maps the errno of a failed socket() to the code that winsock_error_text
// knows: EAFNOSUPPORT 10047, EMFILE/ENFILE 10024, ENOBUFS/ENOMEM 10055,
// EPROTONOSUPPORT 10043, EPROTOTYPE 10041, ESOCKTNOSUPPORT 10044; any other
// value comes back unchanged.
int socket_error_code(int errno_value);

// The report of a failed socket(), errno still as it left it: the code goes
// into errno, its text (or "(null)") on a line of stderr, then fatal_error
// with message.
[[noreturn]] void socket_creation_failed(const char* message);

// The version the platform grants for a requested version word (major in the
// low byte, minor in the high byte). By default 1.0 (0x0001) is granted.
// Tests replace it; returns the previous hook. Null restores the default.
using VersionGrant = std::uint16_t (*)(std::uint16_t requested);
VersionGrant set_version_grant(VersionGrant grant);

}  // namespace kelvara
