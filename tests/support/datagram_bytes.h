#pragma once
// Request and reply datagrams as the bytes that travel, written out by hand
// so that a test never checks the server's encoder against itself.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kelvara::test {

using Bytes = std::vector<std::uint8_t>;

// "Th", its NUL, byte 3 zero, then command, first and last.
Bytes request_bytes(std::uint8_t command, std::uint8_t first, std::uint8_t last);

// 154 bytes: result, a zero byte, eight big-endian words, eight statuses and
// the text (at most 128 bytes) with zeros after it.
Bytes reply_bytes(std::int8_t result, const std::array<std::int16_t, 8>& words,
                  const std::array<std::int8_t, 8>& statuses, const std::string& text);

Bytes ok_reply(const std::array<std::int16_t, 8>& words, const std::array<std::int8_t, 8>& statuses);
Bytes bad_request_reply();     // result -1, "Error: bad request\n"
Bytes bad_parameters_reply();  // result -2, "Error: bad parameters\n"

// Hex dump for failure messages.
std::string hex(const Bytes& bytes);

}  // namespace kelvara::test
