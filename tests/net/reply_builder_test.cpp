// Reply building: request bytes in, reply bytes out, with a scripted sweep
// that hands out known readings and records whether and how it was run.

#include <array>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "net/reply_builder.h"

namespace kelvara {
namespace {

struct Reading {
    std::int16_t word;
    std::int8_t status;
};
using Bus = std::array<Reading, 8>;

// Eight answering chips, extremes of the word range included.
const Bus ALL_GOOD = {{{5504, 0}, {5632, 0}, {6528, 0}, {-128, 0}, {-6400, 0}, {256, 0}, {32000, 0}, {-32768, 0}}};
// Sensor 2 does not answer.
const Bus NO_SECOND = {{{5504, 0}, {0, -13}, {6528, 0}, {-128, 0}, {0, -12}, {0, -14}, {0, -11}, {0, -20}}};
const Bus MINUS_HALF_AND_ZEROS = {{{-128, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}}};
// Eight sums of 125 degrees overflow 16 bits.
const Bus ALL_HOT = {{{32000, 0}, {32000, 0}, {32000, 0}, {32000, 0}, {32000, 0}, {32000, 0}, {32000, 0}, {32000, 0}}};

struct SweepLog {
    int calls = 0;
    int first = 0;
    int last = 0;
};

SensorSweep scripted_sweep(const Bus& bus, SweepLog& log)
{
    return [&bus, &log](std::int8_t status[8], std::int16_t temperature[8], int first, int last) {
        ++log.calls;
        log.first = first;
        log.last = last;
        for (int n = first; n <= last; ++n) {
            temperature[n - 1] = bus[n - 1].word;
            status[n - 1] = bus[n - 1].status;
        }
    };
}

using Request = std::array<std::uint8_t, REQUEST_SIZE>;

struct ReplyCase {
    const char* name;
    Request request;
    const Bus* bus;
    int swept_first;  // 0: the sweep must not run
    int swept_last;
    std::int8_t result;
    std::array<std::int16_t, 8> words;
    std::array<std::int8_t, 8> statuses;
    const char* text;
};

// The bytes a reply with these values must have: everything not named is 0.
std::array<std::uint8_t, REPLY_SIZE> reply_bytes(const ReplyCase& c)
{
    std::array<std::uint8_t, REPLY_SIZE> bytes{};
    bytes[0] = static_cast<std::uint8_t>(c.result);
    for (int i = 0; i < 8; ++i) {
        const auto word = static_cast<std::uint16_t>(c.words[i]);
        bytes[2 + 2 * i] = static_cast<std::uint8_t>(word >> 8);
        bytes[3 + 2 * i] = static_cast<std::uint8_t>(word);
        bytes[18 + i] = static_cast<std::uint8_t>(c.statuses[i]);
    }
    std::memcpy(bytes.data() + 26, c.text, std::strlen(c.text));
    return bytes;
}

const char* const OK = "Ok";
const char* const BAD_REQUEST = "Error: bad request\n";
const char* const BAD_PARAMETERS = "Error: bad parameters\n";

// Request bytes: magic "Th\0", byte 3, command, first, last.
constexpr Request req(std::uint8_t command, std::uint8_t first, std::uint8_t last)
{
    return {0x54, 0x68, 0x00, 0x00, command, first, last};
}

const ReplyCase CASES[] = {
    {"readings_all_eight", req(1, 1, 8), &ALL_GOOD, 1, 8, 0,
     {5504, 5632, 6528, -128, -6400, 256, 32000, -32768}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"readings_with_absent_sensor", req(1, 1, 3), &NO_SECOND, 1, 3, 0,
     {5504, 0, 6528, 0, 0, 0, 0, 0}, {0, -13, 0, 0, 0, 0, 0, 0}, OK},
    {"readings_one_sensor_leaves_other_slots", req(1, 3, 3), &ALL_GOOD, 3, 3, 0,
     {0, 0, 6528, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"readings_every_sensor_failing_is_still_ok", req(1, 5, 8), &NO_SECOND, 5, 8, 0,
     {0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, -12, -14, -11, -20}, OK},
    {"mean_two_to_four", req(2, 2, 4), &ALL_GOOD, 2, 4, 0,
     {4010, 5632, 6528, -128, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"mean_truncates_toward_zero", req(2, 1, 3), &MINUS_HALF_AND_ZEROS, 1, 3, 0,
     {-42, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"mean_of_negative_sum", req(2, 7, 8), &ALL_GOOD, 7, 8, 0,
     {-384, 0, 0, 0, 0, 0, 32000, -32768}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"mean_of_one_sensor_is_its_word", req(2, 5, 5), &ALL_GOOD, 5, 5, 0,
     {-6400, 0, 0, 0, -6400, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"mean_sums_beyond_sixteen_bits", req(2, 1, 8), &ALL_HOT, 1, 8, 0,
     {32000, 32000, 32000, 32000, 32000, 32000, 32000, 32000}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"mean_with_failed_sensor_keeps_first_word", req(2, 1, 3), &NO_SECOND, 1, 3, 0,
     {5504, 0, 6528, 0, 0, 0, 0, 0}, {-2, -13, 0, 0, 0, 0, 0, 0}, OK},
    {"mean_with_failed_sensor_from_two", req(2, 2, 3), &NO_SECOND, 2, 3, 0,
     {0, 0, 6528, 0, 0, 0, 0, 0}, {-2, -13, 0, 0, 0, 0, 0, 0}, OK},
    {"magic_byte_three_not_examined", {0x54, 0x68, 0x00, 0xAB, 1, 1, 1}, &ALL_GOOD, 1, 1, 0,
     {5504, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 0, 0}, OK},
    {"magic_capital_h", {0x54, 0x48, 0x00, 0x00, 1, 1, 3}, &ALL_GOOD, 0, 0, -1, {}, {}, BAD_REQUEST},
    {"magic_lower_t", {0x74, 0x68, 0x00, 0x00, 1, 1, 3}, &ALL_GOOD, 0, 0, -1, {}, {}, BAD_REQUEST},
    {"magic_byte_two_not_nul", {0x54, 0x68, 0x01, 0x00, 1, 1, 3}, &ALL_GOOD, 0, 0, -1, {}, {}, BAD_REQUEST},
    {"magic_all_zero", {0, 0, 0, 0, 0, 0, 0}, &ALL_GOOD, 0, 0, -1, {}, {}, BAD_REQUEST},
    {"magic_checked_before_range", {0x54, 0x48, 0x00, 0x00, 1, 0, 9}, &ALL_GOOD, 0, 0, -1, {}, {}, BAD_REQUEST},
    {"first_zero", req(1, 0, 3), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
    {"last_nine", req(2, 1, 9), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
    {"first_above_last", req(1, 5, 3), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
    {"first_and_last_255", req(1, 255, 255), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
    {"range_checked_before_command", req(0, 0, 9), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
    {"command_zero", req(0, 1, 3), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
    {"command_three", req(3, 1, 3), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
    {"command_255", req(255, 8, 8), &ALL_GOOD, 0, 0, -2, {}, {}, BAD_PARAMETERS},
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class BuildReply : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(BuildReply, GivesExactBytesAndSweepsOnlyForGoodRequests)
{
    const ReplyCase& c = GetParam();
    SweepLog log;
    std::array<std::uint8_t, REPLY_SIZE> reply;
    reply.fill(0xCC);  // whatever the buffer held must not survive
    build_reply(c.request.data(), scripted_sweep(*c.bus, log), reply.data());

    EXPECT_EQ(reply, reply_bytes(c));
    if (c.swept_first == 0) {
        EXPECT_EQ(log.calls, 0);
    } else {
        EXPECT_EQ(log.calls, 1);
        EXPECT_EQ(log.first, c.swept_first);
        EXPECT_EQ(log.last, c.swept_last);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, BuildReply, ::testing::ValuesIn(CASES),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

// The reply the service promises for sensors 21.5, absent, 25.5: written out byte by byte.
TEST(BuildReply, CanonicalRequestGivesTheseBytes)
{
    SweepLog log;
    const Request request = {0x54, 0x68, 0x00, 0x00, 0x01, 0x01, 0x03};
    std::array<std::uint8_t, REPLY_SIZE> reply{};
    build_reply(request.data(), scripted_sweep(NO_SECOND, log), reply.data());

    std::array<std::uint8_t, REPLY_SIZE> expected{};
    const std::uint8_t head[] = {0x00, 0x00, 0x15, 0x80, 0x00, 0x00, 0x19, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                 0x00, 0xF3, 0x00, 0, 0, 0, 0, 0, 'O', 'k', 0x00};
    std::memcpy(expected.data(), head, sizeof head);
    EXPECT_EQ(reply, expected);
}

}  // namespace
}  // namespace kelvara
