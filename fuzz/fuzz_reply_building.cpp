// The server's answer to a request. The first 7 input bytes are the request
// for build_reply; the bytes after them, three per sensor, are what the fake
// sweep reads (a status byte, 0xC0 and above failing, then the word
// big-endian), with fixed readings where the input runs short. The whole input
// also goes as one datagram over loopback to serve_one_request, which must
// answer it only when it is exactly 7 bytes long, with the same reply.

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sanitizer/common_interface_defs.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "net/reply_builder.h"
#include "server/thermometer_server.h"
#include "fuzz/loopback_socket.h"

namespace {

using namespace kelvara;

int saved_stderr = -1;
int null_output = -1;

[[noreturn]] void fail(const char* what, long long a, long long b)
{
    // The sweep runs while stderr is silenced; say it on the real one.
    if (saved_stderr >= 0)
        ::dup2(saved_stderr, 2);
    std::fprintf(stderr, "invariant broken: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

struct Bus {
    std::array<std::int16_t, 8> word{5504, 5632, 6528, -128, -6400, 256, 32000, -32768};
    std::array<std::int8_t, 8> status{};
};

struct SweepLog {
    int calls = 0;
    int first = 0;
    int last = 0;
};

Bus bus;
SweepLog sweep_log;

// Like read_sensors: writes only the slots of the range.
void fake_sweep(std::int8_t status[8], std::int16_t temperature[8], int first, int last)
{
    ++sweep_log.calls;
    sweep_log.first = first;
    sweep_log.last = last;
    if (first < 1 || last > 8)
        fail("sweep asked for sensors that do not exist", first, last);
    for (int n = first; n <= last; ++n) {
        status[n - 1] = bus.status[static_cast<std::size_t>(n - 1)];
        temperature[n - 1] = bus.word[static_cast<std::size_t>(n - 1)];
    }
}

std::int16_t word_at(const std::uint8_t* reply, int slot)
{
    const std::uint8_t* at = reply + REPLY_TEMPERATURE_OFFSET + 2 * slot;
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(at[0] << 8 | at[1]));
}

std::int8_t status_at(const std::uint8_t* reply, int slot)
{
    return static_cast<std::int8_t>(reply[REPLY_STATUS_OFFSET + static_cast<std::size_t>(slot)]);
}

void check_text(const std::uint8_t* reply, const char* expected)
{
    const std::uint8_t* text = reply + REPLY_TEXT_OFFSET;
    const std::size_t length = std::strlen(expected);
    if (std::memcmp(text, expected, length + 1) != 0)
        fail("text is not the one of the result", static_cast<std::int8_t>(reply[0]), 0);
    for (std::size_t i = length; i < REPLY_TEXT_SIZE; ++i)
        if (text[i] != 0)
            fail("text not zero-filled after its NUL", static_cast<long long>(i), text[i]);
}

void check_slot(const std::uint8_t* reply, int slot, std::int16_t word, std::int8_t status)
{
    if (word_at(reply, slot) != word)
        fail("temperature slot", slot, word_at(reply, slot));
    if (status_at(reply, slot) != status)
        fail("status slot", slot, status_at(reply, slot));
}

// The reply that build_reply gives for request, checked against the rules.
void check_reply(const std::uint8_t* request, const std::uint8_t* reply)
{
    const bool magic = request[0] == 'T' && request[1] == 'h' && request[2] == 0;
    const int command = request[4];
    const int first = request[5];
    const int last = request[6];
    const bool range = first >= 1 && first <= 8 && last >= 1 && last <= 8 && first <= last;
    const bool answered = magic && range && (command == CMD_READINGS || command == CMD_MEAN);

    if (reply[1] != 0)
        fail("reserved byte is not 0", reply[1], 0);
    const auto result = static_cast<std::int8_t>(reply[0]);
    const std::int8_t expected_result = !magic ? RESULT_BAD_REQUEST
                                        : !answered ? RESULT_BAD_PARAMETERS
                                                    : RESULT_OK;
    if (result != expected_result)
        fail("result", result, expected_result);
    check_text(reply, !magic ? TEXT_BAD_REQUEST : !answered ? TEXT_BAD_PARAMETERS : TEXT_OK);

    if (!answered) {
        if (sweep_log.calls != 0)
            fail("sweep ran for a refused request", sweep_log.first, sweep_log.last);
        for (int slot = 0; slot < 8; ++slot)
            check_slot(reply, slot, 0, 0);
        return;
    }
    if (sweep_log.calls != 1 || sweep_log.first != first || sweep_log.last != last)
        fail("sweep not run once for the range", sweep_log.calls, sweep_log.first * 10 + sweep_log.last);

    for (int slot = 0; slot < 8; ++slot) {
        const bool in_range = slot >= first - 1 && slot <= last - 1;
        const auto i = static_cast<std::size_t>(slot);
        if (slot == 0 && command == CMD_MEAN)
            continue;
        check_slot(reply, slot, in_range ? bus.word[i] : 0, in_range ? bus.status[i] : 0);
    }
    if (command != CMD_MEAN)
        return;

    long long sum = 0;
    bool failed = false;
    for (int n = first; n <= last; ++n) {
        sum += bus.word[static_cast<std::size_t>(n - 1)];
        failed = failed || bus.status[static_cast<std::size_t>(n - 1)] != 0;
    }
    if (failed)
        check_slot(reply, 0, first == 1 ? bus.word[0] : 0, MEAN_SENSOR_FAILED);
    else
        check_slot(reply, 0, static_cast<std::int16_t>(sum / (last - first + 1)), 0);
}

// The server side: a socket on loopback that serve_one_request reads, and the
// peer that sends the datagrams and takes the replies.
int server_socket = -1;
int peer_socket = -1;
sockaddr_in server_address{};

using fuzz::loopback_socket;

// serve_one_request reports every ignored datagram on stderr; that line per
// input would swamp the fuzzer's log, so it goes nowhere while the call runs.
// Sanitizer reports keep the real stderr.
ServeOutcome quiet_serve()
{
    std::fflush(stderr);
    ::dup2(null_output, 2);
    const ServeOutcome outcome = serve_one_request(server_socket, fake_sweep);
    std::fflush(stderr);
    ::dup2(saved_stderr, 2);
    return outcome;
}

void check_server(const std::uint8_t* data, std::size_t size)
{
    // Beyond this a datagram can't be sent at all.
    if (size > 65507)
        return;
    if (::sendto(peer_socket, data, size, 0, reinterpret_cast<const sockaddr*>(&server_address),
                 sizeof server_address) != static_cast<ssize_t>(size))
        fail("datagram not sent", static_cast<long long>(size), 0);

    sweep_log = SweepLog{};
    const ServeOutcome outcome = quiet_serve();
    const ServeOutcome expected = size == REQUEST_SIZE ? ServeOutcome::answered : ServeOutcome::ignored;
    if (outcome != expected)
        fail("outcome for this size", static_cast<int>(outcome), static_cast<long long>(size));

    std::uint8_t received[REPLY_SIZE + 1];
    if (outcome == ServeOutcome::answered) {
        pollfd watch{peer_socket, POLLIN, 0};
        if (::poll(&watch, 1, 2000) != 1)
            fail("no reply to a request", 0, 0);
        const ssize_t got = ::recv(peer_socket, received, sizeof received, 0);
        if (got != static_cast<ssize_t>(REPLY_SIZE))
            fail("reply size", got, 0);
        check_reply(data, received);
    }
    if (::recv(peer_socket, received, sizeof received, MSG_DONTWAIT) >= 0)
        fail("datagram answered that should not be", static_cast<long long>(size), 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    sockaddr_in peer_address{};
    server_socket = loopback_socket(server_address);
    peer_socket = loopback_socket(peer_address);
    saved_stderr = ::dup(2);
    null_output = ::open("/dev/null", O_WRONLY);
    if (saved_stderr < 0 || null_output < 0)
        fail("stderr", saved_stderr, null_output);
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(saved_stderr)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    bus = Bus{};
    for (std::size_t slot = 0; slot < 8 && REQUEST_SIZE + 3 * slot + 3 <= size; ++slot) {
        const std::uint8_t* at = data + REQUEST_SIZE + 3 * slot;
        bus.status[slot] = at[0] >= 0xC0 ? static_cast<std::int8_t>(at[0]) : 0;
        bus.word[slot] = static_cast<std::int16_t>(static_cast<std::uint16_t>(at[1] << 8 | at[2]));
    }

    if (size >= REQUEST_SIZE) {
        // A block of exactly the reply's size, marked, so that a byte left
        // unwritten or written past the end shows.
        std::unique_ptr<std::uint8_t[]> reply(new std::uint8_t[REPLY_SIZE]);
        std::memset(reply.get(), 0xA5, REPLY_SIZE);
        sweep_log = SweepLog{};
        build_reply(data, fake_sweep, reply.get());
        check_reply(data, reply.get());
    }
    check_server(data, size);
    return 0;
}
