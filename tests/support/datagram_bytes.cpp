#include "tests/support/datagram_bytes.h"

#include <cstdio>

namespace kelvara::test {

Bytes request_bytes(std::uint8_t command, std::uint8_t first, std::uint8_t last)
{
    return {0x54, 0x68, 0x00, 0x00, command, first, last};
}

Bytes reply_bytes(std::int8_t result, const std::array<std::int16_t, 8>& words,
                  const std::array<std::int8_t, 8>& statuses, const std::string& text)
{
    Bytes bytes(154, 0);
    bytes[0] = static_cast<std::uint8_t>(result);
    for (std::size_t i = 0; i < 8; ++i) {
        const auto word = static_cast<std::uint16_t>(words[i]);
        bytes[2 + 2 * i] = static_cast<std::uint8_t>(word >> 8);
        bytes[3 + 2 * i] = static_cast<std::uint8_t>(word & 0xFF);
        bytes[18 + i] = static_cast<std::uint8_t>(statuses[i]);
    }
    // The text field is 128 bytes; a longer text is cut, with no NUL.
    for (std::size_t i = 0; i < text.size() && i < 128; ++i)
        bytes[26 + i] = static_cast<std::uint8_t>(text[i]);
    return bytes;
}

Bytes ok_reply(const std::array<std::int16_t, 8>& words, const std::array<std::int8_t, 8>& statuses)
{
    return reply_bytes(0, words, statuses, "Ok");
}

Bytes bad_request_reply() { return reply_bytes(-1, {}, {}, "Error: bad request\n"); }

Bytes bad_parameters_reply() { return reply_bytes(-2, {}, {}, "Error: bad parameters\n"); }

std::string hex(const Bytes& bytes)
{
    std::string text;
    char two[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(two, sizeof two, "%02x ", byte);
        text += two;
    }
    return text;
}

}  // namespace kelvara::test
