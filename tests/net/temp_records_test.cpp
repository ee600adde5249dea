// The datagram layouts: request bytes, reply bytes with big-endian words at
// odd-looking offsets, and the way back to host values.

#include <array>
#include <cstdint>
#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "net/temp_records.h"

namespace kelvara {
namespace {

struct RequestCase {
    bool mean;
    int first;
    int last;
    std::array<std::uint8_t, REQUEST_SIZE> bytes;
};

void PrintTo(const RequestCase& c, std::ostream* os)
{
    *os << (c.mean ? "mean " : "readings ") << c.first << '-' << c.last;
}

class MakeRequest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(MakeRequest, EncodesMagicCommandAndLowBytesOfTheRange)
{
    const RequestCase& c = GetParam();
    std::array<std::uint8_t, REQUEST_SIZE> out;
    out.fill(0xCC);
    encode_request(make_request(c.mean, c.first, c.last), out.data());
    EXPECT_EQ(out, c.bytes);
}

INSTANTIATE_TEST_SUITE_P(Cases, MakeRequest,
                         ::testing::Values(RequestCase{false, 1, 3, {0x54, 0x68, 0x00, 0x00, 0x01, 0x01, 0x03}},
                                           RequestCase{true, 2, 4, {0x54, 0x68, 0x00, 0x00, 0x02, 0x02, 0x04}},
                                           RequestCase{false, 8, 8, {0x54, 0x68, 0x00, 0x00, 0x01, 0x08, 0x08}},
                                           // Only the low byte of each index travels.
                                           RequestCase{true, 257, 264, {0x54, 0x68, 0x00, 0x00, 0x02, 0x01, 0x08}},
                                           RequestCase{false, -1, 0, {0x54, 0x68, 0x00, 0x00, 0x01, 0xFF, 0x00}}));

TEST(DecodeRequest, ReadsEveryByteIncludingTheUnexaminedFourth)
{
    const std::uint8_t bytes[REQUEST_SIZE] = {0x54, 0x48, 0x07, 0xAB, 0x03, 0x09, 0x00};
    const TempRequest request = decode_request(bytes);
    EXPECT_EQ(request.magic, (std::array<std::uint8_t, 4>{0x54, 0x48, 0x07, 0xAB}));
    EXPECT_EQ(request.command, 3);
    EXPECT_EQ(request.first, 9);
    EXPECT_EQ(request.last, 0);
}

// A reply with a value in every field, and its exact bytes.
TempReply sample_reply()
{
    TempReply reply;
    reply.result = RESULT_BAD_PARAMETERS;
    reply.reserved = 0;
    reply.temperature = {5504, 0, 6528, -128, -6400, 1, -1, 0x7FFF};
    reply.status = {0, -13, 0, -11, -12, -14, -15, -20};
    reply.text = {'O', 'k'};
    return reply;
}

std::array<std::uint8_t, REPLY_SIZE> sample_bytes()
{
    std::array<std::uint8_t, REPLY_SIZE> bytes{};
    const std::uint8_t head[] = {
        0xFE, 0x00,                                                                                      //
        0x15, 0x80, 0x00, 0x00, 0x19, 0x80, 0xFF, 0x80, 0xE7, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0x7F, 0xFF,  //
        0x00, 0xF3, 0x00, 0xF5, 0xF4, 0xF2, 0xF1, 0xEC,                                                  //
        'O',  'k',
    };
    for (std::size_t i = 0; i < sizeof head; ++i)
        bytes[i] = head[i];
    return bytes;
}

TEST(EncodeReply, PutsWordsBigEndianAndSignedBytesAsTheyAre)
{
    std::array<std::uint8_t, REPLY_SIZE> out;
    out.fill(0xCC);
    encode_reply(sample_reply(), out.data());
    EXPECT_EQ(out, sample_bytes());
}

TEST(DecodeReply, BringsWordsBackToHostOrder)
{
    const std::array<std::uint8_t, REPLY_SIZE> bytes = sample_bytes();
    const TempReply reply = decode_reply(bytes.data());
    const TempReply expected = sample_reply();
    EXPECT_EQ(reply.result, expected.result);
    EXPECT_EQ(reply.reserved, 0);
    EXPECT_EQ(reply.temperature, expected.temperature);
    EXPECT_EQ(reply.status, expected.status);
    EXPECT_EQ(std::string(reply.text.data()), "Ok");
}

TEST(DecodeReply, KeepsTheLastTextByteEvenWithoutTerminator)
{
    std::array<std::uint8_t, REPLY_SIZE> bytes{};
    for (std::size_t i = REPLY_TEXT_OFFSET; i < REPLY_SIZE; ++i)
        bytes[i] = 'x';
    const TempReply reply = decode_reply(bytes.data());
    EXPECT_EQ(reply.text[0], 'x');
    EXPECT_EQ(reply.text[REPLY_TEXT_SIZE - 1], 'x');
}

}  // namespace
}  // namespace kelvara
