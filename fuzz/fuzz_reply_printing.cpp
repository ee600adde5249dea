// What kvquery makes of whatever comes back. Byte 0 holds the options (bit 0
// mean, bit 1 Fahrenheit, bit 2: a stranger's datagram arrives first), byte 1
// the sensor range (first in the high nibble, last in the low one, 0 to 15, so
// also ranges no command line gives); the rest, of any length, is the
// server's datagram. It goes over loopback into the client's wait, which must
// keep no byte beyond the reply's 154 and report a shorter datagram as such;
// a full reply is decoded and printed, and every printed line is checked
// against the raw bytes.

#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "client/client_options.h"
#include "client/reply_output.h"
#include "client/reply_wait.h"
#include "net/temp_records.h"
#include "fuzz/loopback_socket.h"

namespace {

using namespace kelvara;

[[noreturn]] void fail(const char* what, long long a, long long b)
{
    std::fprintf(stderr, "invariant broken: %s (%lld, %lld)\n", what, a, b);
    std::abort();
}

int client_socket = -1;
int server_socket = -1;
int stranger_socket = -1;
sockaddr_in client_address{};
sockaddr_in server_address{};

using fuzz::loopback_socket;

void send_to_client(int from, const std::uint8_t* data, std::size_t size)
{
    if (::sendto(from, data, size, 0, reinterpret_cast<const sockaddr*>(&client_address),
                 sizeof client_address) != static_cast<ssize_t>(size))
        fail("datagram not sent", static_cast<long long>(size), 0);
}

// Reads what print_reply wrote, line by line, against the raw reply bytes.
class PrintedReply {
public:
    PrintedReply(const std::string& text, const std::uint8_t* raw) : text_(text), raw_(raw) {}

    void expect(const std::string& literal, const char* what)
    {
        if (text_.compare(at_, literal.size(), literal) != 0)
            fail(what, static_cast<long long>(at_), 0);
        at_ += literal.size();
    }

    void result_line()
    {
        const auto* text = reinterpret_cast<const char*>(raw_ + REPLY_TEXT_OFFSET);
        const std::size_t length =
            static_cast<std::size_t>(std::find(text, text + REPLY_TEXT_SIZE, '\0') - text);
        expect("Result: " + std::to_string(static_cast<std::int8_t>(raw_[0])) + " *** ",
               "result line head");
        // Never more than the 128 bytes of the field, NUL or not.
        expect(std::string(text, length), "reply text");
        expect("\n\n", "blank line after the result");
    }

    void sensor_line(int n, int slot, bool fahrenheit)
    {
        expect("Sensor n." + std::to_string(n) + ": ", "sensor line head");
        const auto status = static_cast<std::int8_t>(raw_[REPLY_STATUS_OFFSET + static_cast<std::size_t>(slot)]);
        if (status != 0) {
            expect("Error " + std::to_string(status) + "\n", "error line");
            return;
        }
        const std::uint8_t* w = raw_ + REPLY_TEMPERATURE_OFFSET + 2 * slot;
        const auto word = static_cast<std::int16_t>(static_cast<std::uint16_t>(w[0] << 8 | w[1]));
        const double degrees = fahrenheit ? word * 1.8 / 256 + 32 : word / 256.0;

        // "%4.1f": blanks, a sign, digits, a point and one digit, four wide at least.
        const std::size_t start = at_;
        while (at_ < text_.size() && text_[at_] == ' ')
            ++at_;
        const std::size_t number = at_;
        if (at_ < text_.size() && text_[at_] == '-')
            ++at_;
        const std::size_t digits = at_;
        while (at_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[at_])))
            ++at_;
        if (at_ == digits || (at_ - digits > 1 && text_[digits] == '0'))
            fail("temperature digits", static_cast<long long>(at_), word);
        expect(".", "decimal point");
        if (at_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[at_])))
            fail("one decimal", static_cast<long long>(at_), word);
        ++at_;
        if (at_ - start < 4 || (number > start && at_ - start > 4))
            fail("temperature field width", static_cast<long long>(at_ - start), word);
        const double printed = std::strtod(text_.substr(number, at_ - number).c_str(), nullptr);
        if (std::fabs(printed - degrees) > 0.05 + 1e-9)
            fail("temperature value", static_cast<long long>(printed * 10), word);
        expect(fahrenheit ? " F\n" : " C\n", "unit and line end");
    }

    void end()
    {
        if (at_ != text_.size())
            fail("bytes after the last sensor line", static_cast<long long>(at_),
                 static_cast<long long>(text_.size()));
    }

private:
    const std::string& text_;
    const std::uint8_t* raw_;
    std::size_t at_ = 0;
};

void check_printing(const ClientOptions& options, const std::uint8_t* raw)
{
    std::ostringstream out;
    print_reply(out, options, decode_reply(raw));
    const std::string text = out.str();

    PrintedReply printed(text, raw);
    printed.result_line();
    const int first = options.mean ? 1 : std::max(options.first_sensor, 1);
    const int last = options.mean ? 1 : std::min(options.last_sensor, 8);
    for (int n = first; n <= last; ++n)
        printed.sensor_line(n, n - 1, options.fahrenheit);
    printed.end();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    sockaddr_in stranger_address{};
    client_socket = loopback_socket(client_address);
    server_socket = loopback_socket(server_address);
    stranger_socket = loopback_socket(stranger_address);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Beyond this a datagram can't be sent at all.
    if (size < 2 || size - 2 > 65507)
        return 0;
    ClientOptions options;
    options.mean = (data[0] & 1) != 0;
    options.fahrenheit = (data[0] & 2) != 0;
    options.first_sensor = data[1] >> 4;
    options.last_sensor = data[1] & 15;
    const std::uint8_t* datagram = data + 2;
    const std::size_t length = size - 2;

    if ((data[0] & 4) != 0)
        send_to_client(stranger_socket, datagram, length);
    send_to_client(server_socket, datagram, length);

    // Exactly the reply's size, marked, so that a byte written past the end
    // or taken from beyond what arrived shows.
    std::unique_ptr<std::uint8_t[]> reply(new std::uint8_t[REPLY_SIZE]);
    std::memset(reply.get(), 0x5A, REPLY_SIZE);
    const ReplyWait outcome =
        await_reply(client_socket, server_address, reply.get(), std::chrono::milliseconds(2000));
    const ReplyWait expected = length < REPLY_SIZE ? ReplyWait::short_reply : ReplyWait::arrived;
    if (outcome != expected)
        fail("wait outcome for this length", static_cast<int>(outcome), static_cast<long long>(length));
    const std::size_t kept = std::min(length, REPLY_SIZE);
    if (std::memcmp(reply.get(), datagram, kept) != 0)
        fail("received bytes differ from the datagram", static_cast<long long>(kept), 0);
    for (std::size_t i = kept; i < REPLY_SIZE; ++i)
        if (reply[i] != 0x5A)
            fail("byte written beyond what arrived", static_cast<long long>(i), reply[i]);

    // The client prints only a full reply; a short one ends it with an error.
    if (outcome == ReplyWait::arrived)
        check_printing(options, reply.get());
    return 0;
}
