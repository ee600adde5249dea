// Socket start-up with its version handshake, the socket-creation error
// texts and codes, and the fatal report.

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "net/socket_startup.h"
#include "tests/net/captured_stderr.h"

namespace kelvara {
namespace {

struct TextCase {
    int code;
    const char* text;  // null: not in the table
};

void PrintTo(const TextCase& c, std::ostream* os) { *os << "code " << c.code; }

class ErrorText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ErrorText, GivesTheRowTextOrNull)
{
    const TextCase& c = GetParam();
    // Null compares equal only to null here.
    EXPECT_STREQ(winsock_error_text(c.code), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ErrorText,
    ::testing::Values(
        TextCase{10093, "A successful WSAStartup must occur before using this function."},
        TextCase{10050, "The Windows Sockets implementation has detected that the network subsystem has failed."},
        TextCase{10047, "The specified address family is not supported."},
        TextCase{10036, "A blocking Windows Sockets operation is in progress."},
        TextCase{10024, "No more file descriptors are available."},
        TextCase{10055, "No buffer space is available. The socket cannot be created."},
        TextCase{10043, "The specified protocol is not supported."},
        TextCase{10041, "The specified protocol is the wrong type for this socket."},
        TextCase{10044, "The specified socket type is not supported in this address family."},
        // The closing row has code 0 but must never match.
        TextCase{0, nullptr}, TextCase{-1, nullptr}, TextCase{10048, nullptr}, TextCase{10035, nullptr},
        TextCase{EMFILE, nullptr}));

struct CodeCase {
    int errno_value;
    int code;
};

void PrintTo(const CodeCase& c, std::ostream* os) { *os << "errno " << c.errno_value; }

class SocketErrorCode : public ::testing::TestWithParam<CodeCase> {};

TEST_P(SocketErrorCode, MapsSocketFailuresToTableCodes)
{
    EXPECT_EQ(socket_error_code(GetParam().errno_value), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Cases, SocketErrorCode,
                         ::testing::Values(CodeCase{EAFNOSUPPORT, 10047}, CodeCase{EMFILE, 10024},
                                           CodeCase{ENFILE, 10024}, CodeCase{ENOBUFS, 10055},
                                           CodeCase{ENOMEM, 10055}, CodeCase{EPROTONOSUPPORT, 10043},
                                           CodeCase{EPROTOTYPE, 10041}, CodeCase{ESOCKTNOSUPPORT, 10044},
                                           CodeCase{EACCES, EACCES}, CodeCase{EINVAL, EINVAL}, CodeCase{0, 0}));

// Every mapped code has a text; an unmapped errno has none, so it prints "(null)".
TEST(SocketErrorCode, MappedCodesAllHaveTexts)
{
    for (int e : {EAFNOSUPPORT, EMFILE, ENFILE, ENOBUFS, ENOMEM, EPROTONOSUPPORT, EPROTOTYPE, ESOCKTNOSUPPORT})
        EXPECT_NE(winsock_error_text(socket_error_code(e)), nullptr) << e;
    EXPECT_EQ(winsock_error_text(socket_error_code(EACCES)), nullptr);
}

// The version word the start-up asked for, and the one handed back.
std::uint16_t asked = 0;
std::uint16_t granted = 0;
std::uint16_t grant_scripted(std::uint16_t requested)
{
    asked = requested;
    return granted;
}

// Installs the scripted grant for one test and puts the previous one back.
class VersionGrantScope {
public:
    explicit VersionGrantScope(std::uint16_t version)
    {
        asked = 0;
        granted = version;
        previous_ = set_version_grant(grant_scripted);
    }
    ~VersionGrantScope() { set_version_grant(previous_); }
    VersionGrantScope(const VersionGrantScope&) = delete;
    VersionGrantScope& operator=(const VersionGrantScope&) = delete;

private:
    VersionGrant previous_;
};

TEST(WinsockStartup, PlatformGrantIsAcceptedSilently)
{
    test::CapturedStderr err;
    EXPECT_EQ(winsock_startup(), 1);
    EXPECT_EQ(err.text(), "");
    winsock_cleanup();
}

struct VersionCase {
    std::uint16_t granted;  // major in the low byte, minor in the high byte
    int result;
    const char* message;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << "granted " << c.granted; }

class WinsockVersion : public ::testing::TestWithParam<VersionCase> {};

TEST_P(WinsockVersion, OnlyVersionOneZeroIsAccepted)
{
    const VersionCase& c = GetParam();
    VersionGrantScope scope(c.granted);
    test::CapturedStderr err;
    EXPECT_EQ(winsock_startup(), c.result);
    EXPECT_EQ(err.text(), c.message);
    EXPECT_EQ(asked, 0x0001) << "asks for version 1.0";
}

INSTANTIATE_TEST_SUITE_P(Cases, WinsockVersion,
                         ::testing::Values(VersionCase{0x0001, 1, ""},
                                           VersionCase{0x0101, 0, "No usable WinSock DLL\n"},  // 1.1
                                           VersionCase{0x0202, 0, "No usable WinSock DLL\n"},  // 2.2
                                           VersionCase{0x0002, 0, "No usable WinSock DLL\n"},  // 2.0
                                           VersionCase{0x0100, 0, "No usable WinSock DLL\n"},  // 0.1
                                           VersionCase{0x0000, 0, "No usable WinSock DLL\n"}));

TEST(SetVersionGrant, ReturnsThePreviousHookAndNullRestoresThePlatform)
{
    VersionGrant original = set_version_grant(grant_scripted);
    EXPECT_EQ(set_version_grant(nullptr), grant_scripted);
    granted = 0x0101;
    EXPECT_EQ(winsock_startup(), 1) << "the platform grant is back";
    set_version_grant(original);
}

using FatalErrorDeathTest = ::testing::Test;

TEST(FatalErrorDeathTest, PrintsMessageAndErrnoThenExitsWithOne)
{
    EXPECT_EXIT(
        {
            errno = ENOMEM;
            fatal_error("server: sendto error");
        },
        ::testing::ExitedWithCode(1), "^server: sendto error \\(12\\)\n$");
    EXPECT_EXIT(
        {
            errno = 10024;
            fatal_error("client: can't open datagram socket");
        },
        ::testing::ExitedWithCode(1), "^client: can't open datagram socket \\(10024\\)\n$");
}

}  // namespace
}  // namespace kelvara
