#pragma once
// The two datagrams between kvquery and kvserver: a 7-byte request and a
// 154-byte reply. They travel as raw bytes; the temperature words sit at odd
// offsets, so both records are encoded and decoded byte by byte.

#include <array>
#include <cstddef>
#include <cstdint>

namespace kelvara {

inline constexpr std::size_t REQUEST_SIZE = 7;
inline constexpr std::size_t REPLY_SIZE = 154;
inline constexpr std::size_t REPLY_TEXT_SIZE = 128;
inline constexpr int DEFAULT_SERVICE_PORT = 7323;

inline constexpr std::uint8_t CMD_READINGS = 1;
inline constexpr std::uint8_t CMD_MEAN = 2;

inline constexpr std::int8_t RESULT_OK = 0;
inline constexpr std::int8_t RESULT_BAD_REQUEST = -1;
inline constexpr std::int8_t RESULT_BAD_PARAMETERS = -2;
// Status slot 0 of a mean reply when a sensor in the range failed.
inline constexpr std::int8_t MEAN_SENSOR_FAILED = -2;

// Texts of the reply, stored with their terminating NUL.
inline constexpr const char* TEXT_OK = "Ok";
inline constexpr const char* TEXT_BAD_REQUEST = "Error: bad request\n";
inline constexpr const char* TEXT_BAD_PARAMETERS = "Error: bad parameters\n";

struct TempRequest {
    std::array<std::uint8_t, 4> magic{};  // "Th" and its NUL; byte 3 is not examined
    std::uint8_t command = 0;
    std::uint8_t first = 0;
    std::uint8_t last = 0;
};

struct TempReply {  // host byte order
    std::int8_t result = 0;
    std::uint8_t reserved = 0;
    std::array<std::int16_t, 8> temperature{};
    std::array<std::int8_t, 8> status{};
    std::array<char, REPLY_TEXT_SIZE> text{};
};

// Byte offsets inside the encoded reply.
inline constexpr std::size_t REPLY_TEMPERATURE_OFFSET = 2;
inline constexpr std::size_t REPLY_STATUS_OFFSET = 18;
inline constexpr std::size_t REPLY_TEXT_OFFSET = 26;

// magic "Th\0", byte 3 = 0, the command, and the low bytes of first and last.
TempRequest make_request(bool mean, int first, int last);

void encode_request(const TempRequest& request, std::uint8_t out[REQUEST_SIZE]);
TempRequest decode_request(const std::uint8_t in[REQUEST_SIZE]);

// Words go big-endian here, byte by byte.
void encode_reply(const TempReply& reply, std::uint8_t out[REPLY_SIZE]);
// Words come back to host order here.
TempReply decode_reply(const std::uint8_t in[REPLY_SIZE]);

}  // namespace kelvara
