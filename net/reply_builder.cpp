#include "net/reply_builder.h"

#include <cstddef>

namespace kelvara {

namespace {

constexpr int FIRST_SENSOR = 1;
constexpr int LAST_SENSOR = 8;

void set_text(TempReply& reply, const char* text)
{
    // The field is zero-filled after the text; its last byte always stays NUL.
    reply.text.fill(0);
    for (std::size_t i = 0; i + 1 < REPLY_TEXT_SIZE && text[i] != 0; ++i)
        reply.text[i] = text[i];
}

bool magic_is_good(const TempRequest& request)
{
    // Compared as the NUL-terminated string "Th": byte 3 is never looked at.
    return request.magic[0] == 'T' && request.magic[1] == 'h' && request.magic[2] == 0;
}

bool range_is_good(const TempRequest& request)
{
    return request.first >= FIRST_SENSOR && request.first <= LAST_SENSOR && request.last >= FIRST_SENSOR &&
           request.last <= LAST_SENSOR && request.first <= request.last;
}

// Slot 0 becomes the mean of the range, or MEAN_SENSOR_FAILED in the status
// when any sensor of the range failed (its word then stays as read).
void form_mean(TempReply& reply, int first, int last)
{
    std::int32_t sum = 0;
    for (int n = first; n <= last; ++n) {
        if (reply.status[n - 1] != 0) {
            reply.status[0] = MEAN_SENSOR_FAILED;
            return;
        }
        sum += reply.temperature[n - 1];
    }
    // Integer division truncates toward zero, as the readers expect.
    reply.temperature[0] = static_cast<std::int16_t>(sum / (last - first + 1));
    reply.status[0] = 0;
}

}  // namespace

TempReply answer_request(const TempRequest& request, const SensorSweep& sweep)
{
    TempReply reply;
    if (!magic_is_good(request)) {
        reply.result = RESULT_BAD_REQUEST;
        set_text(reply, TEXT_BAD_REQUEST);
        return reply;
    }
    if (!range_is_good(request) || (request.command != CMD_READINGS && request.command != CMD_MEAN)) {
        reply.result = RESULT_BAD_PARAMETERS;
        set_text(reply, TEXT_BAD_PARAMETERS);
        return reply;
    }
    const int first = request.first;
    const int last = request.last;
    sweep(reply.status.data(), reply.temperature.data(), first, last);
    if (request.command == CMD_MEAN)
        form_mean(reply, first, last);
    reply.result = RESULT_OK;
    set_text(reply, TEXT_OK);
    return reply;
}

void build_reply(const std::uint8_t request[REQUEST_SIZE], const SensorSweep& sweep, std::uint8_t reply[REPLY_SIZE])
{
    encode_reply(answer_request(decode_request(request), sweep), reply);
}

}  // namespace kelvara
