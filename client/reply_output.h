#pragma once
// What kvquery prints for a reply: the server's result line, then one line per
// sensor asked for, or one line with the mean.

#include <ostream>
#include <string>

#include "client/client_options.h"
#include "net/temp_records.h"

namespace kelvara {

// One temperature word as "%4.1f %c": degrees Celsius, or Fahrenheit when asked.
std::string temperature_text(std::int16_t word, bool fahrenheit);

// Writes the result line, a blank line and the sensor lines for reply, which
// holds its words in host order already.
void print_reply(std::ostream& out, const ClientOptions& options, const TempReply& reply);

}  // namespace kelvara
