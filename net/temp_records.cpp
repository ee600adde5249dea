#include "net/temp_records.h"

namespace kelvara {

namespace {

void put_word(std::int16_t word, std::uint8_t* out)
{
    const auto bits = static_cast<std::uint16_t>(word);
    out[0] = static_cast<std::uint8_t>(bits >> 8);
    out[1] = static_cast<std::uint8_t>(bits & 0xFF);
}

std::int16_t get_word(const std::uint8_t* in)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((in[0] << 8) | in[1]));
}

}  // namespace

TempRequest make_request(bool mean, int first, int last)
{
    TempRequest request;
    request.magic = {'T', 'h', 0, 0};
    request.command = mean ? CMD_MEAN : CMD_READINGS;
    request.first = static_cast<std::uint8_t>(first & 0xFF);
    request.last = static_cast<std::uint8_t>(last & 0xFF);
    return request;
}

void encode_request(const TempRequest& request, std::uint8_t out[REQUEST_SIZE])
{
    for (std::size_t i = 0; i < request.magic.size(); ++i)
        out[i] = request.magic[i];
    out[4] = request.command;
    out[5] = request.first;
    out[6] = request.last;
}

TempRequest decode_request(const std::uint8_t in[REQUEST_SIZE])
{
    TempRequest request;
    for (std::size_t i = 0; i < request.magic.size(); ++i)
        request.magic[i] = in[i];
    request.command = in[4];
    request.first = in[5];
    request.last = in[6];
    return request;
}

void encode_reply(const TempReply& reply, std::uint8_t out[REPLY_SIZE])
{
    out[0] = static_cast<std::uint8_t>(reply.result);
    out[1] = reply.reserved;
    for (std::size_t i = 0; i < reply.temperature.size(); ++i)
        put_word(reply.temperature[i], out + REPLY_TEMPERATURE_OFFSET + 2 * i);
    for (std::size_t i = 0; i < reply.status.size(); ++i)
        out[REPLY_STATUS_OFFSET + i] = static_cast<std::uint8_t>(reply.status[i]);
    for (std::size_t i = 0; i < REPLY_TEXT_SIZE; ++i)
        out[REPLY_TEXT_OFFSET + i] = static_cast<std::uint8_t>(reply.text[i]);
}

TempReply decode_reply(const std::uint8_t in[REPLY_SIZE])
{
    TempReply reply;
    reply.result = static_cast<std::int8_t>(in[0]);
    reply.reserved = in[1];
    for (std::size_t i = 0; i < reply.temperature.size(); ++i)
        reply.temperature[i] = get_word(in + REPLY_TEMPERATURE_OFFSET + 2 * i);
    for (std::size_t i = 0; i < reply.status.size(); ++i)
        reply.status[i] = static_cast<std::int8_t>(in[REPLY_STATUS_OFFSET + i]);
    for (std::size_t i = 0; i < REPLY_TEXT_SIZE; ++i)
        reply.text[i] = static_cast<char>(in[REPLY_TEXT_OFFSET + i]);
    return reply;
}

}  // namespace kelvara
