#pragma once
// How the server answers one well-sized request: check the magic, then the
// range, then the command; read the sensors through the sweep it is handed;
// form the mean when asked. Kept apart from sockets and the sensor bus so that
// kvquery can share this library without linking the bus.

#include <cstdint>
#include <functional>

#include "net/temp_records.h"

namespace kelvara {

// The sweep the server hands in: fills slots first-1..last-1 of both arrays.
using SensorSweep = std::function<void(std::int8_t status[8], std::int16_t temperature[8], int first, int last)>;

// Fills the 154 reply bytes for the 7 request bytes; the sweep runs only for a
// request with a good magic, range and command.
void build_reply(const std::uint8_t request[REQUEST_SIZE], const SensorSweep& sweep, std::uint8_t reply[REPLY_SIZE]);

// The same rules on records: the reply in host byte order.
TempReply answer_request(const TempRequest& request, const SensorSweep& sweep);

}  // namespace kelvara
